// The render thread's geometry object: the whole network in buffer objects, drawn
// each frame back to front with a per-neuron palette colour. Two variants behind
// one interface: cubes (the default) and line segments (wireframe mode).
//
// Sections:
//   1. SceneGeometry interface
//   2. NeuronCubeGeometry
//   3. NeuronLineGeometry
//   4. Bounding box
#pragma once

#include <cstdint>

#include "vis/scene_data.h"

struct AppState;

// ---- 1. Interface ------------------------------------------------------------------------------
class SceneGeometry {
public:
    virtual ~SceneGeometry() = default;
    virtual bool Build(AppState* state) = 0;
    virtual bool Release() = 0;  // always true
    virtual bool Draw() = 0;     // always true; StateLock held, scene modelview current
    // The next Draw re-sorts the neurons for the current view.
    virtual void MarkDirty() { dirty = true; }

protected:
    // The depth order both variants keep: allocated for `count` neurons at build.
    void AllocateSortOrder(uint32_t neuronCount);
    // Re-sorts for the current modelview when marked dirty; true when it did.
    bool SortIfDirty();
    // Frees the sort order and forgets the network.
    void ReleaseSortOrder();

    AppState* owner = nullptr;
    bool valid = false;
    bool dirty = false;
    uint32_t count = 0;  // neurons at build time
    DepthSortEntry* sortEntries = nullptr;
    DepthSortEntry** sortOrder = nullptr;
};

// ---- 2. Cubes ------------------------------------------------------------------------------------
class NeuronCubeGeometry final : public SceneGeometry {
public:
    ~NeuronCubeGeometry() override;
    bool Build(AppState* state) override;
    bool Release() override;
    bool Draw() override;

private:
    uint32_t indexBuffer = 0;
    uint32_t vertexBuffer = 0;
    SceneVertex* vertexData = nullptr;
    uint32_t* indexData = nullptr;
    uint32_t verticesPerNeuron = 0;
    uint32_t indicesPerNeuron = 0;
};

// ---- 3. Lines --------------------------------------------------------------------------------------
// With `offscreen` (a multisampled window with framebuffer objects) the lines are
// drawn into a single-sampled texture of the viewport's size, cleared to the
// window's black, which then replaces the viewport's pixels. Mesa llvmpipe blends
// every sample of every fragment: at 4x MSAA a line costs about four times its
// single-sampled blending, and the lines, at most 0.065 opaque, show no stairs
// a user could see. The colours are the same: the same blending onto the same black.
class NeuronLineGeometry final : public SceneGeometry {
public:
    NeuronLineGeometry(bool colourBuffer, bool offscreen) : colourBufferOn(colourBuffer), offscreenOn(offscreen) {}
    ~NeuronLineGeometry() override;
    bool Build(AppState* state) override;
    bool Release() override;
    bool Draw() override;

private:
    void DrawLines();
    // Binds the single-sampled target for a viewport (made or resized as needed) and
    // clears it; false, and the window stays bound, when it cannot be had.
    bool BeginOffscreen(const int32_t viewport[4]);
    // Binds the window again and copies the target into the viewport.
    void EndOffscreen(const int32_t viewport[4]);
    void ReleaseTarget();

    bool colourBufferOn = false;
    bool offscreenOn = false;
    uint32_t framebuffer = 0;
    uint32_t targetTexture = 0;
    int32_t targetWidth = 0, targetHeight = 0;
    uint32_t indexBuffer = 0;
    uint32_t vertexBuffer = 0;
    uint32_t colourBuffer = 0;
    uint32_t* ranges = nullptr;     // first, end per neuron
    LineVertex* vertexData = nullptr;
    uint8_t* colourData = nullptr;  // RGBA per vertex (colour buffer only)
    uint32_t* indexData = nullptr;
    uint32_t* gatherData = nullptr; // the frame's index list (colour buffer only)
    uint64_t lineCount = 0;  // L
};

// ---- 4. Bounding box ---------------------------------------------------------------------------------
// The network volume's box as six line loops, colour (1, 1, 1, 0.5).
void DrawVolumeBox(const AppState& state);
