// OpenGL set-up of the visualization context.
//
// Sections: extension entry points, index ramp, GL state, lights.
#include "vis/gl_setup.h"

#include <GLFW/glfw3.h>

#include "io/app_state.h"
#include "platform/log.h"
#include "vis/text.h"
#include "vis/view_state.h"

// What the one GL context of the process offers, found when the window is made
// and read by the render thread's drawing code (GL itself is process-wide state).
GlExtensions GlExt{};
std::atomic<bool> MsaaFormatFound{false};
uint16_t IndexRamp[2048];  // 0, 1, 2, ...: filled once, then only read

// ---- Extension entry points -----------------------------------------------------------------------
namespace {

template <typename T>
void Load(T& slot, const char* name, const char* message) {
    if (slot) return;
    slot = reinterpret_cast<T>(glfwGetProcAddress(name));
    if (!slot) LogMessage(LogFatal, 0, "%s", message);
}

template <typename T>
void LoadOptional(T& slot, const char* name) {
    slot = reinterpret_cast<T>(glfwGetProcAddress(name));
}

}  // namespace

void LoadGlExtensions() {
    if (!GlExt.swapControl) {
        GlExt.swapControl = glfwExtensionSupported("GLX_EXT_swap_control") ||
                            glfwExtensionSupported("GLX_MESA_swap_control") ||
                            glfwExtensionSupported("GLX_SGI_swap_control");
        if (!GlExt.swapControl)
            LogMessage(LogError, 0, "Unable to find the GLX swap-interval extension (GLX_EXT_swap_control) - will not be used!");
    }
    Load(GlExt.BindBufferARB, "glBindBufferARB", "glBindBufferARB() OpenGL API call is not available.");
    Load(GlExt.BufferDataARB, "glBufferDataARB", "glBufferDataARB() OpenGL API call is not available.");
    Load(GlExt.DeleteBuffersARB, "glDeleteBuffersARB",
         "glDeleteBuffersARB() OpenGL API call is not available.");
    Load(GlExt.GenBuffersARB, "glGenBuffersARB", "glGenBuffersARB() OpenGL API call is not available.");
    Load(GlExt.VertexAttribPointerARB, "glVertexAttribPointerARB",
         "glVertexAttribPointerARB() OpenGL API call is not available.");
    Load(GlExt.EnableVertexAttribArrayARB, "glEnableVertexAttribArrayARB",
         "glEnableVertexAttribArrayARB() OpenGL API call is not available.");
    Load(GlExt.DisableVertexAttribArrayARB, "glDisableVertexAttribArrayARB",
         "glDisableVertexAttribArrayARB() OpenGL API call is not available.");
    Load(GlExt.DrawRangeElements, "glDrawRangeElements",
         "glDrawRangeElements() OpenGL API call is not available.");
    if (!GlExt.GenFramebuffersEXT && glfwExtensionSupported("GL_EXT_framebuffer_object")) {
        LoadOptional(GlExt.GenFramebuffersEXT, "glGenFramebuffersEXT");
        LoadOptional(GlExt.DeleteFramebuffersEXT, "glDeleteFramebuffersEXT");
        LoadOptional(GlExt.BindFramebufferEXT, "glBindFramebufferEXT");
        LoadOptional(GlExt.FramebufferTexture2DEXT, "glFramebufferTexture2DEXT");
        LoadOptional(GlExt.CheckFramebufferStatusEXT, "glCheckFramebufferStatusEXT");
        if (!GlExt.GenFramebuffersEXT || !GlExt.DeleteFramebuffersEXT || !GlExt.BindFramebufferEXT ||
            !GlExt.FramebufferTexture2DEXT || !GlExt.CheckFramebufferStatusEXT)
            GlExt.GenFramebuffersEXT = nullptr;
    }
}

bool FramebufferObjectsAvailable() { return GlExt.GenFramebuffersEXT != nullptr; }

// ---- Index ramp -----------------------------------------------------------------------------------------
void FillIndexRamp() {
    for (int i = 0; i < 2048; ++i) IndexRamp[i] = static_cast<uint16_t>(i);
}

// ---- GL state ---------------------------------------------------------------------------------------------
bool InitGlState(AppState& state) {
    LoadGlExtensions();
    const bool msaa = MsaaFormatFound.load();
    if (msaa) glEnable(GL_MULTISAMPLE);
    glShadeModel(GL_SMOOTH);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    if (!msaa) {
        glEnable(GL_LINE_SMOOTH);
        glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
        glHint(GL_POLYGON_SMOOTH_HINT, GL_NICEST);
    }
    glEnable(GL_LIGHTING);
    glEnable(GL_CULL_FACE);
    glEnable(GL_DITHER);
    glEnable(GL_BLEND);
    GlShadow = GlShadowFlags{1, 1, 1};
    glColor4f(1.0f, 1.0f, 1.0f, 0.5f);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearStencil(0);
    glClearDepth(1.0);
    if (WireframeMode) {
        SetupLightRig(state);
    } else {
        SetupHeadlight();
    }
    return true;
}

// ---- Lights -------------------------------------------------------------------------------------------------
void SetupHeadlight() {
    const GLfloat ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    const GLfloat diffuse[4] = {0.7f, 0.7f, 0.7f, 1.0f};
    const GLfloat specular[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    const GLfloat position[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, specular);
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glEnable(GL_LIGHT0);
}

void LightRigPositions(float extentX, float extentY, float extentZ, float p[6][4]) {
    const double x = extentX, y = extentY, z = extentZ;
    const double plus[3] = {(0.5 - x) + 3.0 * x * 2.0, (0.5 - y) + 3.0 * y * 2.0, (0.5 - z) + 3.0 * z * 2.0};
    const double minus[3] = {(0.5 - x) - 2.0 * x * 2.0, (0.5 - y) - 2.0 * y * 2.0, (0.5 - z) - 2.0 * z * 2.0};
    for (int light = 0; light < 6; ++light) {
        double v[3] = {0.5, 0.5, 0.5};
        const int axis = light / 2;
        v[axis] = (light % 2 == 0) ? plus[axis] : minus[axis];
        for (int k = 0; k < 3; ++k) p[light][k] = static_cast<float>(v[k]);
        p[light][3] = 1.0f;
    }
}

void SetupLightRig(AppState& state) {
    float positions[6][4];
    LightRigPositions(state.params.extentX, state.params.extentY, state.params.extentZ, positions);
    const GLfloat ambient[4] = {0.2f, 0.2f, 0.2f, 0.5f};
    const GLfloat one[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    for (int light = 0; light < 6; ++light) {
        const GLenum id = GL_LIGHT0 + light;
        glLightfv(id, GL_AMBIENT, ambient);
        glLightfv(id, GL_DIFFUSE, one);
        glLightfv(id, GL_SPECULAR, one);
        glLightfv(id, GL_POSITION, positions[light]);
        if (light == 0 || WireframeMode) glEnable(id);
    }
}
