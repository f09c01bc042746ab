// The render thread.
//
// Sections:
//   1. Frame values and the cycle counter
//   2. Projection and the reset for a new simulation
//   3. Status screen and help panel
//   4. Thread start, frame loop, thread end
#include "vis/render_thread.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <GLFW/glfw3.h>
#include <x86intrin.h>

#include <cstdlib>

#include "engine/view_snapshot.h"
#include "engine/work_manager.h"
#include "io/app_state.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "vis/capture.h"
#include "vis/charts.h"
#include "vis/gl_setup.h"
#include "vis/overlay_layout.h"
#include "vis/scene.h"
#include "vis/scene_layout.h"
#include "vis/text.h"
#include "vis/view_state.h"

// ---- 1. Frame values ---------------------------------------------------------------------------------
// Globals of the one render thread (see render_thread.h).
LayoutMetrics Layout{};
FrameStats Stats{};
std::atomic<bool> GeometryReady{false};
std::atomic<bool> FontsReady{false};
const ViewFrame* DrawnView = nullptr;
float ChartFloor = 0.0f;
float ChartCeiling = 1.0e9f;
std::atomic<bool> DisplayLost{false};

namespace {

// Measured once the fonts exist (render thread only).
int32_t CharHeight = 16;
float InspectorTextWidth = 0.0f;

// Serialised time-stamp read: cycles of the drawing under the lock.
uint64_t ReadCycleCounter() {
    _mm_lfence();
    return __rdtsc();
}

// ---- 2. Projection and reset ------------------------------------------------------------------------
void SetPerspective(int32_t w, int32_t h) {
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, h > 0 ? static_cast<double>(w) / h : 1.0, 1.0, 1000000.0);
    glMatrixMode(GL_MODELVIEW);
}

void UpdateViewport(AppState& state) {
    const int32_t w = WindowWidth.load(), h = WindowHeight.load();
    SetPerspective(w, h);
    Layout = ComputeLayoutMetrics(w, h, CharHeight, InspectorTextWidth, state.params.extentX);
}

void ResetForNewSimulation(AppState& state) {
    CameraPitch = 30.0f;
    CameraYaw = 140.0f;
    AutoRotation = 0.0f;
    CameraX = CameraY = TargetX = TargetY = TargetZ = Zoom = 0.0f;
    CameraDistance = CameraDistanceForGrid(state.params.gridX, state.params.gridY, state.params.gridZ);
    ZoomScale = ZoomScaleForGrid(state.params.gridZ);
    const uint32_t half = state.params.gridZ / 2;
    SelectedSlice.store(static_cast<uint8_t>(half > 255 ? 255 : half));
    ResetInspector();
    AnalysisShown.store(false);
    ResetFrameStats(Stats, plat::TimeMs());
    Stats.prevStep = state.stepCounter.load();
    ViewportDirty.store(true);
    MarkSceneDirty();
}

void SetLighting(bool on) {
    if (on) {
        glEnable(GL_LIGHTING);
    } else {
        glDisable(GL_LIGHTING);
    }
    GlShadow.lighting = on ? 1 : 0;
}

}  // namespace

// ---- 3. Status screen and help panel --------------------------------------------------------------------
void DrawHelpPanel(float panelTop) {
    const int32_t w = WindowWidth.load(), h = WindowHeight.load();
    const float fw = static_cast<float>(w), fh = static_cast<float>(h);
    const float top = panelTop >= 0.0f ? panelTop : 0.85f * fh;
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(0.0, fw, 0.0, fh);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    // Opaque, and over everything drawn before it: the picker's and the inspector's
    // text must not show through the help.
    const GLboolean depthTest = glIsEnabled(GL_DEPTH_TEST);
    glDisable(GL_DEPTH_TEST);
    const float lower[4] = {0.6f, 0.12f, 0.12f, 1.0f}, upper[4] = {0.12f, 0.12f, 0.6f, 1.0f};
    const float lowerDim[4] = {0.33f, 0.1f, 0.1f, 1.0f}, upperDim[4] = {0.1f, 0.1f, 0.33f, 1.0f};
    const float* bottom = WireframeMode ? lowerDim : lower;
    const float* upperColour = WireframeMode ? upperDim : upper;
    glBegin(GL_QUADS);
    glColor4fv(bottom);
    glVertex2f(32.0f, 0.15f * fh);
    glVertex2f(fw - 32.0f, 0.15f * fh);
    glColor4fv(upperColour);
    glVertex2f(fw - 32.0f, top);
    glVertex2f(32.0f, top);
    glEnd();
    SetLighting(false);
    glColor4f(1.0f, 1.0f, 0.5f, 1.0f);
    // Wrapped and scaled to the panel (an overlay layout for every window size).
    const HelpScreenLayout help = LayoutHelpScreen(FontMonoSmall.metrics, fw, top, 0.15f * fh);
    for (int i = 0; i < help.count; ++i) {
        const PlacedText& t = help.pieces[i];
        DrawText3D(t.scale, FontMonoSmall.listBase, t.x, t.y, 0.0f, "%.*s", t.length, t.text);
    }
    SetLighting(true);
    if (depthTest) glEnable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

void DrawStatusScreen(AppState& state) {
    const int32_t w = WindowWidth.load(), h = WindowHeight.load();
    glClear(GL_COLOR_BUFFER_BIT);
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0.0, w, 0.0, h);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    SetLighting(false);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    const StatusScreen screen =
        BuildStatusScreen(plat::AtomicLoad(state.SimState), h, CharHeight, state.stepCounter.load(),
                          Stats.RecentSpeed, Stats.AverageSpeed);
    const StatusScreenLayout placed =
        LayoutStatusScreen(screen, FontMonoSmall.metrics, static_cast<float>(w), CharHeight);
    for (int i = 0; i < placed.count; ++i) {
        const PlacedText& t = placed.pieces[i];
        DrawText3D(t.scale, FontMonoSmall.listBase, t.x, t.y, 0.0f, "%.*s", t.length, t.text);
    }
    // The charts keep below these lines.
    ChartFloor = 0.0f;
    ChartCeiling = placed.lowest - 6.0f;
    if (screen.withHelpPanel) {
        SetLighting(true);  // the panel's quad is drawn lit, its text unlit
        DrawHelpPanel(HelpPanelTop(placed, static_cast<float>(h)));
    }
    SetLighting(true);
}

// ---- 4. Thread ---------------------------------------------------------------------------------------------
namespace {

void CleanUpContext() {
    glFlush();
    glDeleteLists(FontHud.listBase, 256);
    glDeleteLists(FontMonoBold.listBase, 256);
    glDeleteLists(FontMonoSmall.listBase, 256);
    glDeleteLists(FontMono.listBase, 256);
}

// Geometry management at the top of a frame (StateLock held).
void ManageGeometry(AppState& state, uint32_t simState) {
    if (GeometryReady.load() && simState == SimStateNone) {
        ReleaseScene();
        GeometryReady.store(false);
    } else if (!GeometryReady.load() && (simState == SimStateRunning || simState == SimStatePaused)) {
        if (!BuildScene(state)) std::exit(-1);  // the build has logged why
        GeometryReady.store(true);
        // The step counter is not reset here: the start sequence reset it before the
        // workers began, and steps taken since carry spike times that STDP and
        // the analysis compare against it.
        ResetForNewSimulation(state);
        if (GlExt.swapControl) glfwSwapInterval(state.options.waitVsync ? 1 : 0);
    }
}

// The network values for this frame (StateLock held). Running: the newest frame
// the engine published, and a request for the next one. Paused with the workers
// parked: nothing writes the network (resuming takes StateLock), so the frame is
// copied here at once. Only what is drawn is asked for.
void TakeViewFrame(AppState& state, uint32_t simState, const ViewHost& host) {
    DrawnView = nullptr;
    ViewSnapshot* snapshot = state.viewSnapshot;
    if ((simState != SimStateRunning && simState != SimStatePaused) || snapshot == nullptr) return;
    const bool wanted = host.VisualizationOn() || (AnalysisShown.load() && !HelpShown.load());
    const uint32_t inspected = NeuronInspected ? InspectedNeuron : kNoViewNeuron;
    WorkManager* wm = state.workManager;
    if (simState == SimStatePaused && wm != nullptr && WorkersParked(*wm))
        ParkedViewFrame(state, *wm, inspected);
    else if (wanted)
        RequestViewFrame(*snapshot, inspected);
    DrawnView = &AcquireViewFrame(*snapshot);
}

void DrawFrame(AppState& state, uint32_t simState, const ViewHost& host) {
    const bool visible = host.VisualizationOn();
    const bool sceneAvailable = GeometryReady.load();
    if (visible && sceneAvailable && simState == SimStatePaused) {
        DrawScene(state);
        ++Stats.FrameCount;
    } else if (visible && sceneAvailable && simState == SimStateRunning) {
        const uint32_t step = state.stepCounter.load();
        if (step != Stats.LastDrawnStep) {
            Stats.LastDrawnStep = step;
            DrawScene(state);
            ++Stats.FrameCount;
        }
    } else {
        // Also while the scene is not available yet: the status screen stands in.
        DrawStatusScreen(state);
        if (visible && (simState == SimStateRunning || simState == SimStatePaused)) ++Stats.FrameCount;
    }
    if (simState != SimStateNone) {
        if (HelpShown.load()) {
            DrawHelpPanel();
        } else if (AnalysisShown.load()) {
            DrawAnalysisCharts(state);
        }
    }
}

}  // namespace

void RenderThread(AppState* statePointer, GLFWwindow* window, ViewHost& host) {
    AppState& state = *statePointer;
    plat::SetCurrentThreadPriority(state.options.renderHighPriority ? plat::ThreadPriority::TimeCritical
                                                                    : plat::ThreadPriority::AboveNormal);
    glfwMakeContextCurrent(window);
    if (glfwGetCurrentContext() != window) {
        LogMessage(LogFatal, 0, "Failed to activate OpenGL rendering context.");
        return;
    }
    // Start: projection, GL state, fonts.
    UpdateViewport(state);
    InitGlState(state);
    const bool fonts = BuildOutlineFont(FontHud) && BuildOutlineFont(FontMonoBold) &&
                       BuildOutlineFont(FontMono) && BuildOutlineFont(FontMonoSmall);
    if (!fonts) {
        CleanUpContext();
        LogMessage(LogError, 0, "FreeType outline fonts could not be built.  Unable to create font outlines!");
        glfwMakeContextCurrent(nullptr);
        return;  // the window stays, with nothing drawn
    }
    CharHeight = CharHeightFromMeasured(FontHud.height);
    InspectorTextWidth = TextPixelWidth(FontHud.metrics, FontEmPixels(FontHud), "Last spike: 888888888.8 ms");
    FontsReady.store(true);
    Stats.LastDrawnStep = 0xFFFFFFFFu;
    ResetForNewSimulation(state);
    glEnableClientState(GL_VERTEX_ARRAY);
    if (!WireframeMode) glEnableClientState(GL_NORMAL_ARRAY);

    uint32_t lastPace = plat::TimeMs();
    while (!host.RenderStopRequested()) {
        uint64_t c0 = 0, c1 = 0;
        uint32_t simState;
        {
            plat::LockGuard lock(state.StateLock);
            simState = plat::AtomicLoad(state.SimState);
            ManageGeometry(state, simState);
            if (ViewportDirty.load()) {
                UpdateViewport(state);
                ViewportDirty.store(false);
            }
            ApplyViewChanges();
            TakeViewFrame(state, simState, host);
            c0 = ReadCycleCounter();
            DrawFrame(state, simState, host);
            c1 = ReadCycleCounter();
            DrawnView = nullptr;  // the snapshot goes with the simulation
        }
        // Capture reads the back buffer, so before the swap.
        const bool capturing = CaptureGate.on.load() != 0;
        if (capturing) {
            void* context = CaptureContextPtr.load();
            if (context && !CaptureFrame(state, static_cast<CaptureContext*>(context), WindowWidth.load(),
                                         WindowHeight.load())) {
                CaptureGate.on.store(0);
                LogMessage(LogWarning, 0, "Error during frame capture process. Stopping capture.");
            }
        }
        if (DisplayLost.load()) break;
        glfwSwapBuffers(window);
        Stats.cycleAccumulator += c1 - c0;
        if (capturing) CaptureGate.FrameCaptured();

        const bool visible = host.VisualizationOn();
        if (simState == SimStateRunning) {
            const uint32_t now = plat::TimeMs();
            if (visible && Stats.FrameCount % 20 == 0) UpdateFpsStats(Stats, now);
            UpdateSpeedStats(Stats, now, state.stepCounter.load(), kStepMs, state.startTimeMs.load(), state.startStep.load());
            state.sampleTimeMs.store(now);
        } else if (simState == SimStatePaused) {
            // No steps: only the sample clock moves, so that the first recent factor
            // after resuming does not count the pause.
            UpdateSpeedStats(Stats, plat::TimeMs(), state.stepCounter.load(), kStepMs, state.startTimeMs.load(), state.startStep.load());
        }
        if (visible) {
            const uint32_t elapsed = plat::TimeMs() - lastPace;
            if (state.options.limitFps && elapsed < 20) plat::SleepMs(20 - elapsed);
            lastPace = plat::TimeMs();
        } else {
            plat::SleepMs(150);
        }
    }

    if (DisplayLost.load()) return;  // the context went with the display
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    if (GeometryReady.load()) ReleaseScene();
    GeometryReady.store(false);
    CleanUpContext();
    FontsReady.store(false);
    host.StopRendering();
    DestroyScene();
    glfwMakeContextCurrent(nullptr);
}
