// The network geometry in buffer objects.
//
// Sections:
//   1. Buffer helpers and logging
//   2. NeuronCubeGeometry
//   3. NeuronLineGeometry
//   4. Bounding box
#include "vis/scene_geometry.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstring>

#include "engine/view_snapshot.h"
#include "io/app_state.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "vis/gl_setup.h"
#include "vis/palette.h"
#include "vis/render_thread.h"

// ---- 1. Buffer helpers --------------------------------------------------------------------------------
namespace {

void ClearGlErrors() {
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

// Creates a buffer object on `target`, fills it when `data` is given (or when
// bytes is 0, leaves it empty), and unbinds. Logs the failing call and returns false.
bool CreateBuffer(GLenum target, const void* data, uint64_t bytes, GLenum usage, bool fill, uint32_t* name) {
    ClearGlErrors();
    GLuint id = 0;
    GlExt.GenBuffersARB(1, &id);
    if (glGetError() != GL_NO_ERROR || id == 0) {
        LogMessage(LogError, 0, "glGenBuffersARB() OpenGL API call returned an error.");
        return false;
    }
    *name = id;
    GlExt.BindBufferARB(target, id);
    if (glGetError() != GL_NO_ERROR) {
        LogMessage(LogError, 0, "glBindBufferARB() OpenGL API call returned an error.");
        return false;
    }
    if (fill) {
        GlExt.BufferDataARB(target, static_cast<GLsizeiptrARB>(bytes), data, usage);
        if (glGetError() != GL_NO_ERROR) {
            LogMessage(LogError, 0, "glBufferDataARB() OpenGL API call returned an error.");
            GlExt.BindBufferARB(target, 0);
            return false;
        }
    }
    GlExt.BindBufferARB(target, 0);
    return true;
}

void DeleteBuffer(uint32_t& name) {
    if (name != 0) {
        GLuint id = name;
        GlExt.DeleteBuffersARB(1, &id);
        name = 0;
    }
}

void LogVideoMemory(uint64_t bytes) {
    const VideoMemoryUse use = VideoMemoryFor(bytes);
    if (use.mebibytes)
        LogMessage(LogInfo, 0, "3D visualization data video memory usage: %d MiB", static_cast<int>(use.amount));
    else
        LogMessage(LogInfo, 0, "3D visualization data video memory usage: %d KiB", static_cast<int>(use.amount));
}

template <typename T>
void FreeArray(T*& p) {
    plat::AlignedFree(p);
    p = nullptr;
}

template <typename T>
T* AllocArray(uint64_t count) {
    return static_cast<T*>(plat::AlignedAllocZeroed(static_cast<size_t>(count * sizeof(T))));
}

void ExtentOf(const AppState& state, float extent[3]) {
    extent[0] = state.params.extentX;
    extent[1] = state.params.extentY;
    extent[2] = state.params.extentZ;
}

const Neuron* ViewArray(const AppState& state) {
    const Neuron* n = state.viewNeurons.load();
    return n ? n : state.neurons;
}

// Neurons that may be drawn this frame: none when the network the geometry was built
// for has gone (a new one must be built first), or without a view frame.
uint32_t DrawableCount(const AppState& state, uint32_t builtCount) {
    const Neuron* neurons = state.viewNeurons.load();
    if (!neurons || !DrawnView || state.neuronCount < builtCount) return 0;
    return builtCount;
}

void ReadModelview(float m[16]) { glGetFloatv(GL_MODELVIEW_MATRIX, m); }

}  // namespace

// ---- Shared depth order ----------------------------------------------------------------------------------
void SceneGeometry::AllocateSortOrder(uint32_t neuronCount) {
    count = neuronCount;
    dirty = true;
    sortEntries = AllocArray<DepthSortEntry>(count);
    sortOrder = AllocArray<DepthSortEntry*>(count);
    if (!sortEntries || !sortOrder) LogMessage(LogFatal, 0, "Memory allocation error!");
}

bool SceneGeometry::SortIfDirty() {
    if (!dirty) return false;
    float m[16];
    ReadModelview(m);
    SortByDepth(sortOrder, count, m);
    dirty = false;
    return true;
}

void SceneGeometry::ReleaseSortOrder() {
    FreeArray(sortEntries);
    FreeArray(sortOrder);
    valid = false;
    owner = nullptr;
    count = 0;
}

// ---- 2. NeuronCubeGeometry ------------------------------------------------------------------------------
NeuronCubeGeometry::~NeuronCubeGeometry() { Release(); }

bool NeuronCubeGeometry::Build(AppState* state) {
    owner = state;
    AllocateSortOrder(state->neuronCount);
    const Neuron* neurons = ViewArray(*state);
    float extent[3];
    ExtentOf(*state, extent);
    FillCubeSortEntries(neurons, count, extent, sortEntries, sortOrder);

    const CubeTemplate shape = CubeTemplateFor(state->options.reducedVisualization != 0);
    verticesPerNeuron = shape.vertexCount;
    indicesPerNeuron = shape.indexCount;

    const uint64_t vertexBytes = static_cast<uint64_t>(count) * verticesPerNeuron * sizeof(SceneVertex);
    const uint64_t indexBytes = static_cast<uint64_t>(count) * indicesPerNeuron * sizeof(uint32_t);
    vertexData = AllocArray<SceneVertex>(static_cast<uint64_t>(count) * verticesPerNeuron);
    indexData = AllocArray<uint32_t>(static_cast<uint64_t>(count) * indicesPerNeuron);
    if (!vertexData || !indexData) {
        FreeArray(vertexData);
        FreeArray(indexData);
        return false;
    }
    LogVideoMemory(vertexBytes);
    FillCubeData(neurons, count, extent, shape, vertexData, indexData);

    valid = true;
    const bool ok =
        CreateBuffer(GL_ARRAY_BUFFER_ARB, vertexData, vertexBytes, GL_STATIC_DRAW_ARB, true, &vertexBuffer) &&
        CreateBuffer(GL_ELEMENT_ARRAY_BUFFER_ARB, indexData, indexBytes, GL_STATIC_DRAW_ARB, true, &indexBuffer);
    if (!ok) {
        valid = false;
        Release();
        LogMessage(LogFatal, 0, "Unable to create OpenGL VBO buffers for geometry!");
        return false;
    }
    valid = true;
    LogMessage(LogInfo, 0, "3D visualization is started.");
    return true;
}

bool NeuronCubeGeometry::Release() {
    if (!owner) return true;  // never built, or released already
    LogMessage(LogInfo, 0, "Freeing visualization resources.");
    GlExt.BindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    GlExt.BindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, 0);
    DeleteBuffer(vertexBuffer);
    DeleteBuffer(indexBuffer);
    FreeArray(vertexData);
    FreeArray(indexData);
    ReleaseSortOrder();
    return true;
}

bool NeuronCubeGeometry::Draw() {
    if (!owner) return true;
    SortIfDirty();
    const uint32_t drawable = DrawableCount(*owner, count);
    if (valid && drawable > 0) {
        const float* envelope = DrawnView->envelope;
        GlExt.BindBufferARB(GL_ARRAY_BUFFER_ARB, vertexBuffer);
        glVertexPointer(3, GL_FLOAT, sizeof(SceneVertex), reinterpret_cast<const void*>(0));
        glNormalPointer(GL_FLOAT, sizeof(SceneVertex), reinterpret_cast<const void*>(12));
        GlExt.BindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, indexBuffer);
        const uint32_t V = verticesPerNeuron, I = indicesPerNeuron;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t k = sortOrder[i]->neuron;
            const int32_t entry = NeuronPaletteEntry(CubeActivityScale(envelope[k]));
            if (entry < 0) continue;
            glColor4ubv(ActivityPalette[entry]);
            GlExt.DrawRangeElements(GL_QUADS, k * V, k * V + V - 1, I, GL_UNSIGNED_INT,
                                    reinterpret_cast<const void*>(static_cast<uintptr_t>(k) * I * 4));
        }
        GlExt.BindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
        GlExt.BindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, 0);
    }
    DrawVolumeBox(*owner);
    return true;
}

// ---- 3. NeuronLineGeometry -------------------------------------------------------------------------------
NeuronLineGeometry::~NeuronLineGeometry() { Release(); }

bool NeuronLineGeometry::Build(AppState* state) {
    owner = state;
    AllocateSortOrder(state->neuronCount);
    const Neuron* neurons = ViewArray(*state);
    lineCount = CountLineSegments(neurons, count);
    float extent[3];
    ExtentOf(*state, extent);
    FillLineSortEntries(*state, neurons, count, extent, sortEntries, sortOrder);

    const uint64_t vertexCount = 2 * lineCount;
    vertexData = AllocArray<LineVertex>(vertexCount);
    indexData = AllocArray<uint32_t>(vertexCount);
    ranges = AllocArray<uint32_t>(2 * static_cast<uint64_t>(count));
    bool allocated = vertexData && indexData && ranges;
    if (colourBufferOn) {
        colourData = AllocArray<uint8_t>(vertexCount * 4);
        gatherData = AllocArray<uint32_t>(vertexCount);
        allocated = allocated && colourData && gatherData;
    }
    if (!allocated) {
        FreeArray(vertexData);
        FreeArray(indexData);
        FreeArray(ranges);
        FreeArray(colourData);
        FreeArray(gatherData);
        return false;
    }
    LogVideoMemory(lineCount * 24 + (colourBufferOn ? lineCount * 8 : 0));
    FillLineData(*state, neurons, count, extent, vertexData, indexData, ranges);

    valid = true;
    bool ok = CreateBuffer(GL_ARRAY_BUFFER_ARB, vertexData, vertexCount * sizeof(LineVertex), GL_STATIC_DRAW_ARB,
                           true, &vertexBuffer);
    if (ok && colourBufferOn)
        ok = CreateBuffer(GL_ARRAY_BUFFER_ARB, nullptr, 0, GL_STREAM_DRAW_ARB, false, &colourBuffer);
    if (ok)
        ok = CreateBuffer(GL_ELEMENT_ARRAY_BUFFER_ARB, indexData, vertexCount * sizeof(uint32_t),
                          GL_STATIC_DRAW_ARB, !colourBufferOn, &indexBuffer);
    if (!ok) {
        valid = false;
        Release();
        LogMessage(LogFatal, 0, "Unable to create OpenGL VBO buffers for geometry!");
        return false;
    }
    LogMessage(LogInfo, 0, "3D visualization is started.");
    return true;
}

bool NeuronLineGeometry::Release() {
    if (!owner) return true;
    LogMessage(LogInfo, 0, "Freeing visualization resources.");
    GlExt.BindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    GlExt.BindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, 0);
    DeleteBuffer(vertexBuffer);
    DeleteBuffer(colourBuffer);
    DeleteBuffer(indexBuffer);
    FreeArray(ranges);
    FreeArray(vertexData);
    FreeArray(colourData);
    FreeArray(indexData);
    FreeArray(gatherData);
    ReleaseTarget();
    ReleaseSortOrder();
    lineCount = 0;
    return true;
}

bool NeuronLineGeometry::BeginOffscreen(const int32_t viewport[4]) {
    const int32_t w = viewport[2], h = viewport[3];
    if (w <= 0 || h <= 0) return false;
    if (framebuffer == 0 || w != targetWidth || h != targetHeight) {
        ReleaseTarget();
        ClearGlErrors();
        GLuint texture = 0, fbo = 0;
        glGenTextures(1, &texture);
        targetTexture = texture;
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glBindTexture(GL_TEXTURE_2D, 0);
        GlExt.GenFramebuffersEXT(1, &fbo);
        framebuffer = fbo;
        GlExt.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, fbo);
        GlExt.FramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, texture, 0);
        const bool complete = GlExt.CheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) == GL_FRAMEBUFFER_COMPLETE_EXT;
        if (!complete || glGetError() != GL_NO_ERROR) {
            GlExt.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
            ReleaseTarget();
            offscreenOn = false;  // for good: draw into the window from now on
            LogMessage(LogWarning, 0, "The line scene's offscreen buffer could not be made; drawing into the window.");
            return false;
        }
        targetWidth = w;
        targetHeight = h;
    } else {
        GlExt.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
    }
    glViewport(0, 0, w, h);
    glClear(GL_COLOR_BUFFER_BIT);
    return true;
}

void NeuronLineGeometry::EndOffscreen(const int32_t viewport[4]) {
    GlExt.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    // One textured quad over the viewport, texel for pixel, copied without blending:
    // the viewport held only the cleared black the target started from.
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, targetTexture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(-1.0f, -1.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(1.0f, -1.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(1.0f, 1.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(-1.0f, 1.0f);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPopAttrib();
}

void NeuronLineGeometry::ReleaseTarget() {
    if (framebuffer != 0) {
        GLuint fbo = framebuffer;
        GlExt.DeleteFramebuffersEXT(1, &fbo);
    }
    if (targetTexture != 0) {
        GLuint texture = targetTexture;
        glDeleteTextures(1, &texture);
    }
    framebuffer = targetTexture = 0;
    targetWidth = targetHeight = 0;
}

bool NeuronLineGeometry::Draw() {
    if (!owner) return true;
    if (SortIfDirty()) SetupLightRig(*owner);
    int32_t viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    const bool offscreen = offscreenOn && valid && DrawableCount(*owner, count) > 0 && BeginOffscreen(viewport);
    DrawLines();
    if (offscreen) EndOffscreen(viewport);
    DrawVolumeBox(*owner);
    return true;
}

void NeuronLineGeometry::DrawLines() {
    const uint32_t drawable = DrawableCount(*owner, count);
    const Neuron* neurons = owner->viewNeurons.load();
    const float* envelope = DrawnView ? DrawnView->envelope : nullptr;
    if (valid && drawable > 0 && colourBufferOn) {
        glEnableClientState(GL_COLOR_ARRAY);
        uint32_t gathered = 0;
        for (uint32_t k = 0; k < count; ++k) {
            const uint32_t first = ranges[2 * k], end = ranges[2 * k + 1];
            const uint8_t* c = LineNeuronColour(envelope[k], ActivityPalette);
            uint8_t* colour = colourData + static_cast<uint64_t>(first) * 4;
            if (c == nullptr) {
                std::memset(colour, 0, static_cast<size_t>(end - first) * 4);
                continue;
            }
            for (uint32_t v = first; v < end; ++v, colour += 4) std::memcpy(colour, c, 4);
            for (uint32_t v = first; v < end; ++v) gatherData[gathered++] = v;
        }
        GlExt.BindBufferARB(GL_ARRAY_BUFFER_ARB, colourBuffer);
        GlExt.BufferDataARB(GL_ARRAY_BUFFER_ARB, static_cast<GLsizeiptrARB>(2 * lineCount * 4), colourData,
                            GL_STREAM_DRAW_ARB);
        glColorPointer(4, GL_UNSIGNED_BYTE, 0, reinterpret_cast<const void*>(0));
        GlExt.BindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, indexBuffer);
        GlExt.BufferDataARB(GL_ELEMENT_ARRAY_BUFFER_ARB, static_cast<GLsizeiptrARB>(gathered) * 4, gatherData,
                            GL_STREAM_DRAW_ARB);
        GlExt.BindBufferARB(GL_ARRAY_BUFFER_ARB, vertexBuffer);
        glVertexPointer(3, GL_FLOAT, sizeof(LineVertex), reinterpret_cast<const void*>(0));
        if (gathered > 0) glDrawElements(GL_LINES, static_cast<GLsizei>(gathered), GL_UNSIGNED_INT, nullptr);
        glDisableClientState(GL_COLOR_ARRAY);
    } else if (valid && drawable > 0) {
        GlExt.BindBufferARB(GL_ARRAY_BUFFER_ARB, vertexBuffer);
        glVertexPointer(3, GL_FLOAT, sizeof(LineVertex), reinterpret_cast<const void*>(0));
        GlExt.BindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, indexBuffer);
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t k = sortOrder[i]->neuron;
            const uint8_t* c =
                LineNeuronColour(envelope[k], neurons[k].isExcitatory == 0 ? InhibitoryPalette : ActivityPalette);
            if (c == nullptr) continue;
            glColor4ubv(c);
            const uint32_t first = ranges[2 * k], end = ranges[2 * k + 1];
            GlExt.DrawRangeElements(GL_LINES, first, end - 1, end - first, GL_UNSIGNED_INT,
                                    reinterpret_cast<const void*>(static_cast<uintptr_t>(first) * 4));
        }
    }
    GlExt.BindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    GlExt.BindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, 0);
}

// ---- 4. Bounding box ----------------------------------------------------------------------------------------
void DrawVolumeBox(const AppState& state) {
    float extent[3], corners[8][3];
    ExtentOf(state, extent);
    VolumeBoxCorners(extent, corners);
    glColor4f(1.0f, 1.0f, 1.0f, 0.5f);
    for (int loop = 5; loop >= 0; --loop) {
        glNormal3fv(kVolumeBoxNormals[loop]);
        glBegin(GL_LINE_LOOP);
        for (int i = 0; i < 4; ++i) glVertex3fv(corners[kVolumeBoxLoops[loop][i]]);
        glEnd();
    }
}
