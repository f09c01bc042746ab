// OpenGL set-up of the visualization window's context: the extension entry points,
// the fixed GL state, the headlight and the six-light rig, the index ramp.
//
// Sections: extension entry points, multisample state, GL state and lights.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

#include <atomic>
#include <cstdint>

struct AppState;

// ---- Extension entry points (loaded once, from glfwGetProcAddress) --------------------------------
struct GlExtensions {
    bool swapControl;  // the swap interval can be set
    PFNGLBINDBUFFERARBPROC BindBufferARB;
    PFNGLBUFFERDATAARBPROC BufferDataARB;
    PFNGLDELETEBUFFERSARBPROC DeleteBuffersARB;
    PFNGLGENBUFFERSARBPROC GenBuffersARB;
    PFNGLVERTEXATTRIBPOINTERARBPROC VertexAttribPointerARB;
    PFNGLENABLEVERTEXATTRIBARRAYARBPROC EnableVertexAttribArrayARB;
    PFNGLDISABLEVERTEXATTRIBARRAYARBPROC DisableVertexAttribArrayARB;
    PFNGLDRAWRANGEELEMENTSPROC DrawRangeElements;
    // GL_EXT_framebuffer_object, optional: all null when the driver lacks it.
    PFNGLGENFRAMEBUFFERSEXTPROC GenFramebuffersEXT;
    PFNGLDELETEFRAMEBUFFERSEXTPROC DeleteFramebuffersEXT;
    PFNGLBINDFRAMEBUFFEREXTPROC BindFramebufferEXT;
    PFNGLFRAMEBUFFERTEXTURE2DEXTPROC FramebufferTexture2DEXT;
    PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC CheckFramebufferStatusEXT;
};
extern GlExtensions GlExt;
// Loads the missing entry points with the current context; a missing one other
// than the swap control or the framebuffer objects is fatal.
void LoadGlExtensions();
// All five framebuffer-object entry points were found.
bool FramebufferObjectsAvailable();

// ---- Multisample state --------------------------------------------------------------------------------
extern std::atomic<bool> MsaaFormatFound;  // the window has sample buffers
extern uint16_t IndexRamp[2048];           // 0, 1, ..., 2047 for the chart line strips
void FillIndexRamp();

// ---- GL state and lights --------------------------------------------------------------------------------
bool InitGlState(AppState& state);
void SetupHeadlight();
void SetupLightRig(AppState& state);
// The six light positions of the rig (x, y, z, w per light), from the extents.
void LightRigPositions(float extentX, float extentY, float extentZ, float positions[6][4]);
