// The visualization window on GLFW.
//
// Sections:
//   1. Window globals
//   2. Multisample probing on GLX (the factory of the negotiation)
//   3. Callbacks: keys, resize, close
//   4. The exit question window
//   5. The capture window style
//   6. Losing the display or the window
//   7. Creation, event pump, teardown
#include "vis/window.h"

#include <GL/gl.h>
#include <GL/glx.h>
#include <GLFW/glfw3.h>

// From glfw3native.h, whose X11 part also pulls in the Xrandr headers.
extern "C" Display* glfwGetX11Display(void);

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "io/app_state.h"
#include "platform/console_keys.h"
#include "platform/log.h"
#include "platform/version.h"
#include "vis/capture.h"
#include "vis/gl_setup.h"
#include "vis/key_map.h"
#include "vis/key_queue.h"
#include "vis/msaa_policy.h"
#include "vis/render_thread.h"
#include "vis/scene.h"
#include "vis/text.h"
#include "vis/view_state.h"

// ---- 1. Window globals -------------------------------------------------------------------------------
// The process has one visualization window. Its GLFW callbacks take no context
// but the window's user pointer (the AppState), and Xlib's IO error handler takes
// none at all, so the window's record lives here, written by the main thread
// (creation, events, teardown) and read by the lost-display handler.
namespace {

uint8_t ViewKeyState[256];  // the window's key-down table (main thread)
// Presses and releases wait here until the commands have seen them: a quick tap's
// press and release, or several taps, often arrive in one batch of events.
KeyPressQueue ViewKeyQueue;

GLFWwindow* VisWindow = nullptr;
ViewHost* Host = nullptr;  // the entry point's, which outlives the window
std::thread RenderThreadHandle;
std::atomic<bool> RenderThreadEnded{false};
std::atomic<bool> RenderThreadParked{false};  // waits in OnDisplayLost for the end
thread_local bool OnRenderThread = false;
AppState* WindowState = nullptr;  // for the lost-display handler
bool QuestionOpen = false;  // the exit question is modal: the window takes no keys
std::atomic<bool> WindowGone{false};  // an X request on the window failed (OnXError)

void KeepXErrorHandler();  // section 6

void GlfwError(int code, const char* text) { LogMessage(LogWarning, 0, "GLFW error %d: %s", code, text); }

// ---- 2. Multisample probing --------------------------------------------------------------------------
struct ProbeContext {
    Display* display;
    int screen;
};

const char* ProbeExtensions(void* context) {
    auto* p = static_cast<ProbeContext*>(context);
    return p->display ? glXQueryExtensionsString(p->display, p->screen) : nullptr;
}

// A double-buffered RGBA window format with sample buffers and at least `samples`.
bool ProbeOffers(void* context, int32_t samples) {
    auto* p = static_cast<ProbeContext*>(context);
    if (!p->display) return false;
    int count = 0;
    GLXFBConfig* configs = glXGetFBConfigs(p->display, p->screen, &count);
    bool found = false;
    for (int i = 0; configs && i < count && !found; ++i) {
        int buffers = 0, n = 0, doubleBuffer = 0, renderType = 0, drawable = 0, visual = 0;
        glXGetFBConfigAttrib(p->display, configs[i], GLX_SAMPLE_BUFFERS, &buffers);
        glXGetFBConfigAttrib(p->display, configs[i], GLX_SAMPLES, &n);
        glXGetFBConfigAttrib(p->display, configs[i], GLX_DOUBLEBUFFER, &doubleBuffer);
        glXGetFBConfigAttrib(p->display, configs[i], GLX_RENDER_TYPE, &renderType);
        glXGetFBConfigAttrib(p->display, configs[i], GLX_DRAWABLE_TYPE, &drawable);
        glXGetFBConfigAttrib(p->display, configs[i], GLX_VISUAL_ID, &visual);
        found = buffers > 0 && n >= samples && doubleBuffer && (renderType & GLX_RGBA_BIT) &&
                (drawable & GLX_WINDOW_BIT) && visual != 0;
    }
    if (configs) XFree(configs);
    return found;
}

int32_t CreateWithSamples(void*, int32_t samples) {
    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_SAMPLES, samples);
    glfwWindowHint(GLFW_DOUBLEBUFFER, GLFW_TRUE);
    glfwWindowHint(GLFW_ALPHA_BITS, 8);
    glfwWindowHint(GLFW_DEPTH_BITS, 16);
    glfwWindowHint(GLFW_STENCIL_BITS, 0);
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    VisWindow = glfwCreateWindow(1024, 768, kVellicorName, nullptr, nullptr);
    if (!VisWindow) return -1;
    glfwMakeContextCurrent(VisWindow);
    GLint buffers = 0, obtained = 0;
    glGetIntegerv(GL_SAMPLE_BUFFERS, &buffers);
    glGetIntegerv(GL_SAMPLES, &obtained);
    glfwMakeContextCurrent(nullptr);
    MsaaFormatFound.store(buffers > 0);
    return buffers > 0 ? obtained : 0;
}

void LogNegotiation(void*, uint8_t level, const char* text) { LogMessage(level, 0, "%s", text); }

// ---- 3. Callbacks ----------------------------------------------------------------------------------------
void OnKey(GLFWwindow*, int key, int, int action, int) {
    const int slot = GlfwKeyToVirtualKey(key);
    if (slot < 0) return;
    if (action == GLFW_RELEASE)
        QueueKeyRelease(ViewKeyQueue, slot);
    else if (QuestionOpen)
        return;
    else if (action == GLFW_REPEAT)
        QueueKeyRepeat(ViewKeyQueue, slot);
    else
        QueueKeyPress(ViewKeyQueue, slot);
}

void OnFramebufferSize(GLFWwindow* window, int width, int height) {
    auto* state = static_cast<AppState*>(glfwGetWindowUserPointer(window));
    if (width <= 0 || height <= 0) return;  // minimised: keep the last size
    plat::LockGuard lock(state->StateLock);
    WindowWidth.store(width);
    WindowHeight.store(height);
    TraceLayoutDirty.store(true);
    ViewportDirty.store(true);
}

// Closing the window (its close button, the window manager) acts as Esc: the key
// commands quit, asking first while a simulation runs.
void OnClose(GLFWwindow* window) {
    glfwSetWindowShouldClose(window, GLFW_FALSE);
    if (!QuestionOpen) QueueKeyPress(ViewKeyQueue, plat::VkEscape);
}

// ---- 4. Exit question --------------------------------------------------------------------------------------
struct QuestionState {
    WindowAnswer answer;
    bool answered;
    double buttonX[2];
    double buttonY, buttonW, buttonH;
};

void QuestionKey(GLFWwindow* w, int key, int, int action, int) {
    if (action != GLFW_PRESS) return;
    auto* q = static_cast<QuestionState*>(glfwGetWindowUserPointer(w));
    if (key == GLFW_KEY_ENTER || key == GLFW_KEY_KP_ENTER || key == GLFW_KEY_Q || key == GLFW_KEY_Y) {
        q->answer = WindowAnswer::Quit;
        q->answered = true;
    } else if (key == GLFW_KEY_ESCAPE || key == GLFW_KEY_N) {
        q->answer = WindowAnswer::Cancel;
        q->answered = true;
    }
}

void QuestionClick(GLFWwindow* w, int button, int action, int) {
    if (button != GLFW_MOUSE_BUTTON_LEFT || action != GLFW_PRESS) return;
    auto* q = static_cast<QuestionState*>(glfwGetWindowUserPointer(w));
    double x = 0, y = 0;
    glfwGetCursorPos(w, &x, &y);
    const WindowAnswer answers[2] = {WindowAnswer::Quit, WindowAnswer::Cancel};
    for (int i = 0; i < 2; ++i) {
        if (x >= q->buttonX[i] && x <= q->buttonX[i] + q->buttonW && y >= q->buttonY &&
            y <= q->buttonY + q->buttonH) {
            q->answer = answers[i];
            q->answered = true;
        }
    }
}

void DrawQuestion(const QuestionState& q, const char* question, const OutlineFont& font, int width,
                  int height) {
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, width, height, 0.0, -1.0, 1.0);  // y down, like the cursor
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0.94f, 0.94f, 0.94f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    const char* labels[2] = {"Quit", "Cancel"};
    for (int i = 0; i < 2; ++i) {
        const float x = static_cast<float>(q.buttonX[i]), y = static_cast<float>(q.buttonY);
        const float w = static_cast<float>(q.buttonW), h = static_cast<float>(q.buttonH);
        glColor3f(0.85f, 0.85f, 0.85f);
        glRectf(x, y, x + w, y + h);
        glColor3f(0.3f, 0.3f, 0.3f);
        glBegin(GL_LINE_LOOP);
        glVertex2f(x, y);
        glVertex2f(x + w, y);
        glVertex2f(x + w, y + h);
        glVertex2f(x, y + h);
        glEnd();
        glColor3f(0.0f, 0.0f, 0.0f);
        const float tw = TextPixelWidth(font.metrics, 15.0f, labels[i]);
        glPushMatrix();
        glTranslatef(x + (w - tw) / 2.0f, y + h - 9.0f, 0.0f);
        glScalef(15.0f, -15.0f, 1.0f);  // glyphs are y up
        DrawText3D(1.0f, font.listBase, 0.0f, 0.0f, 0.0f, "%s", labels[i]);
        glPopMatrix();
    }
    glColor3f(0.0f, 0.0f, 0.0f);
    glPushMatrix();
    glTranslatef(20.0f, 40.0f, 0.0f);
    glScalef(15.0f, -15.0f, 1.0f);
    DrawText3D(1.0f, font.listBase, 0.0f, 0.0f, 0.0f, "%s", question);
    glPopMatrix();
}

}  // namespace

WindowAnswer AskQuestionWindow(void* owner, const char* question, const char* caption) {
    if (!owner || !VisWindow) return WindowAnswer::NoWindow;
    QuestionOpen = true;
    GLFWwindow* previous = glfwGetCurrentContext();
    const int width = 600, height = 120;
    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    glfwWindowHint(GLFW_FLOATING, GLFW_TRUE);
    GLFWwindow* w = glfwCreateWindow(width, height, caption, nullptr, nullptr);
    KeepXErrorHandler();
    if (!w) {
        QuestionOpen = false;
        return WindowAnswer::NoWindow;
    }
    int ox = 0, oy = 0, ow = 0, oh = 0;
    glfwGetWindowPos(static_cast<GLFWwindow*>(owner), &ox, &oy);
    glfwGetWindowSize(static_cast<GLFWwindow*>(owner), &ow, &oh);
    glfwSetWindowPos(w, ox + (ow - width) / 2, oy + (oh - height) / 2);
    QuestionState q{WindowAnswer::Cancel, false, {380.0, 480.0}, 72.0, 90.0, 30.0};
    glfwSetWindowUserPointer(w, &q);
    glfwSetKeyCallback(w, QuestionKey);
    glfwSetMouseButtonCallback(w, QuestionClick);
    glfwFocusWindow(w);
    glfwMakeContextCurrent(w);
    glfwSwapInterval(0);
    // The question's own context gets its own copy of the font.
    OutlineFont font{"Arial", false, 16, 1000, {}, 1.0f, false};
    BuildOutlineFont(font);
    while (!q.answered) {
        if (glfwWindowShouldClose(w) || WindowGone.load()) {
            q.answer = WindowAnswer::Cancel;
            break;
        }
        if (plat::ConsoleInterrupted()) {  // SIGINT/SIGTERM quit like a confirmed Esc
            q.answer = WindowAnswer::Quit;
            break;
        }
        int fw = width, fh = height;
        glfwGetFramebufferSize(w, &fw, &fh);
        DrawQuestion(q, question, font, fw, fh);
        glfwSwapBuffers(w);
        glfwWaitEventsTimeout(0.05);
    }
    DeleteOutlineFont(font);
    glfwMakeContextCurrent(previous);
    glfwDestroyWindow(w);
    QuestionOpen = false;
    return q.answer;
}

// ---- 5. Capture window style ----------------------------------------------------------------------------------
void ApplyCaptureStyle(void* owner, bool captureOn) {
    if (!owner) return;
    glfwSetWindowAttrib(static_cast<GLFWwindow*>(owner), GLFW_RESIZABLE, captureOn ? GLFW_FALSE : GLFW_TRUE);
}

namespace {

// ---- 6. Losing the display or the window -----------------------------------------------------------------------
// A request on a window destroyed from outside (a window manager's kill, xdotool
// windowclose) fails with BadDrawable or BadWindow, on the render thread's swap or
// the main thread's event handling. Xlib's default handler would exit() the process
// under live threads (an abort). This one logs the first error, asks the program
// to quit and returns: the main loop then ends in order (simulation stopped,
// recordings closed, terminal restored) with status 1, and the failing requests
// of the teardown are ignored. It calls no Xlib function: Xlib holds the display
// while it runs.
int OnXError(Display*, XErrorEvent* error) {
    if (!WindowGone.exchange(true)) {
        const int code = error->error_code;
        const char* name = code == BadDrawable ? "BadDrawable" : code == BadWindow ? "BadWindow" : nullptr;
        if (name)
            LogMessage(LogError, 0, "The visualization window was destroyed (X error %s): the program ends.", name);
        else
            LogMessage(LogError, 0, "X error %d (request %d) on the visualization window: the program ends.", code,
                       error->request_code);
        if (Host != nullptr) Host->RequestQuit();
    }
    return 0;
}

// GLFW 3.3 swaps in its own X error handler around some of its calls and leaves
// Xlib's default in place afterwards: set ours again after each of them.
void KeepXErrorHandler() { XSetErrorHandler(OnXError); }

// Xlib calls this when the connection to the X server breaks, on whichever thread
// noticed it first (the main thread's event wait, or the render thread's drawing
// or swap). Xlib would exit() the process if it returned, running static
// destructors under live threads; so it never returns. The first thread here shuts
// down what it safely can without the display (the simulation, then the render
// thread, whose GL teardown is skipped) and ends the process with status 1; any
// other thread that arrives waits for that end.
int OnDisplayLost(Display*) {
    static std::atomic<bool> handling{false};
    if (handling.exchange(true)) {
        if (OnRenderThread) RenderThreadParked.store(true);  // it draws no more
        for (;;) pause();
    }
    DisplayLost.store(true);
    if (Host != nullptr) Host->RequestQuit();
    LogMessage(LogError, 0, "Lost the connection to the display: the program ends.");
    // A lock held by a thread stuck in Xlib would keep the stop waiting: give up then.
    if (WindowState != nullptr && Host != nullptr) Host->StopSimulationWithin(*WindowState, 3000);
    // The render thread ends within a frame, unless Xlib holds it (it keeps the
    // display locked while this handler runs): wait a little, not for ever.
    if (!OnRenderThread) {
        for (int i = 0; i < 30 && !RenderThreadEnded.load() && !RenderThreadParked.load(); ++i)
            plat::SleepMs(10);
        if (RenderThreadEnded.load() && RenderThreadHandle.joinable()) RenderThreadHandle.join();
    }
    plat::RestoreConsole();
    std::fflush(nullptr);
    _exit(1);
}

}  // namespace

// ---- 7. Creation, pump, teardown ------------------------------------------------------------------------------
bool CreateVisualizationWindow(AppState& state, ViewHost& host) {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland)) {
        LogMessage(LogInfo, 0, "No display found: running on the console without visualization window.");
        return false;
    }
    glfwSetErrorCallback(GlfwError);
    if (!glfwInit()) {
        LogMessage(LogInfo, 0, "No display available: running on the console without visualization window.");
        return false;
    }
    WindowState = &state;
    Host = &host;
    XSetIOErrorHandler(OnDisplayLost);
    WindowGone.store(false);
    WindowWidth.store(1024);
    WindowHeight.store(768);
    FillIndexRamp();

    ProbeContext probe{glfwGetX11Display(), 0};
    if (probe.display) probe.screen = DefaultScreen(probe.display);
    const MsaaWindowFactory factory{&probe, ProbeExtensions, ProbeOffers, CreateWithSamples};
    const MsaaLogSink sink{nullptr, LogNegotiation};
    const MsaaOutcome outcome = NegotiateMultisample(MsaaSamples, factory, sink, "GLX_ARB_multisample");
    if (!outcome.windowCreated) {
        LogMessage(LogError, 0, "Unable to create the visualization window: running on the console.");
        return false;
    }
    glfwSetWindowUserPointer(VisWindow, &state);
    glfwSetKeyCallback(VisWindow, OnKey);
    glfwSetFramebufferSizeCallback(VisWindow, OnFramebufferSize);
    glfwSetWindowCloseCallback(VisWindow, OnClose);
    InstallViewMouseCallbacks(VisWindow);
    glfwSetWindowPos(VisWindow, 0, 0);
    int fw = 1024, fh = 768;
    glfwGetFramebufferSize(VisWindow, &fw, &fh);
    WindowWidth.store(fw);
    WindowHeight.store(fh);
    ViewportDirty.store(true);
    glfwShowWindow(VisWindow);
    glfwFocusWindow(VisWindow);
    KeepXErrorHandler();

    CaptureContextPtr.store(CreateCaptureContext(fw, fh));
    GLFWwindow* window = VisWindow;
    RenderThreadHandle = std::thread([&state, &host, window] {
        OnRenderThread = true;
        RenderThread(&state, window, host);
        RenderThreadEnded.store(true);
    });
    return true;
}

void PumpWindowEvents(uint32_t timeoutMs) {
    if (!VisWindow) return;
    KeepXErrorHandler();
    glfwWaitEventsTimeout(static_cast<double>(timeoutMs) / 1000.0);
}

bool VisualizationWindowLost() { return WindowGone.load(); }

void ProcessViewKeyCommands(AppState& state) {
    if (!VisWindow) return;
    RunKeyPasses(
        ViewKeyQueue, ViewKeyState,
        [](uint8_t* table, void* context) {
            Host->RunKeyCommands(table, *static_cast<AppState*>(context), VisWindow);
        },
        &state);
}

void* VisualizationOwnerWindow() { return VisWindow; }

void DestroyVisualizationWindow(AppState& state, ViewHost& host) {
    host.StopRendering();
    if (plat::AtomicLoad(state.SimState) != SimStateNone) host.StopSimulation(state);
    if (RenderThreadHandle.joinable()) RenderThreadHandle.join();
    if (VisWindow) {
        glfwDestroyWindow(VisWindow);
        VisWindow = nullptr;
    }
    // GLFW itself stays initialised: the toolbox may still have windows to destroy.
    if (void* context = CaptureContextPtr.exchange(nullptr))
        ReleaseCaptureContext(static_cast<CaptureContext*>(context));
}
