// Host-side data of the network geometry: cube templates, vertex and index
// building, line segments and their per-neuron ranges, depth sorting, the activity
// scales and the bounding box. No GL here: the geometry objects upload what these
// functions fill, and tests call them directly.
//
// Sections:
//   1. Records and scene coordinates
//   2. Cube templates and cube data
//   3. Line segments
//   4. Depth sorting
//   5. Activity scales and palette entries
//   6. Video memory log value, bounding box
#pragma once

#include <cstdint>

struct Neuron;
struct Simulation;

// ---- 1. Records ------------------------------------------------------------------------------
struct SceneVertex {  // 24 bytes: position then normal
    float x, y, z, nx, ny, nz;
};
static_assert(sizeof(SceneVertex) == 24);

struct LineVertex {  // 12 bytes: position only
    float x, y, z;
};
static_assert(sizeof(LineVertex) == 12);

struct DepthSortEntry {
    float x, y, z;   // scene position (lines: the mean position)
    float depth;     // eye-space z at the last re-sort
    uint32_t neuron;
};

// P' = 2 P + 0.5 - E per axis.
void ScenePosition(const float position[3], const float extent[3], float out[3]);

// ---- 2. Cubes --------------------------------------------------------------------------------
struct CubeTemplate {
    const SceneVertex* vertices;
    uint32_t vertexCount;  // V
    const uint32_t* indices;
    uint32_t indexCount;   // I
};
// Full: 24 vertices with flat face normals; reduced: 8 shared corners, smooth normals.
CubeTemplate CubeTemplateFor(bool reduced);

// Neuron k gets vertices [kV, kV + V - 1] (template + P'(k)) and indices
// [kI, kI + I - 1] (template index + kV).
void FillCubeData(const Neuron* neurons, uint32_t count, const float extent[3],
                  const CubeTemplate& shape, SceneVertex* vertices, uint32_t* indices);

// ---- 3. Lines --------------------------------------------------------------------------------
// L = sum over neurons of (outgoingCount + 1).
uint64_t CountLineSegments(const Neuron* neurons, uint32_t count);
// Segment 0 soma -> axon terminal, then terminal -> soma of each outgoing synapse's
// post neuron; indices 0 .. 2L - 1; ranges[2k] = first vertex, ranges[2k + 1] = end.
void FillLineData(const Simulation& state, const Neuron* neurons, uint32_t count, const float extent[3],
                  LineVertex* vertices, uint32_t* indices, uint32_t* ranges);

// ---- 4. Depth sorting --------------------------------------------------------------------------
// Record k: the neuron's scene position, depth = its scene z; pointer k -> record k.
void FillCubeSortEntries(const Neuron* neurons, uint32_t count, const float extent[3],
                         DepthSortEntry* entries, DepthSortEntry** order);
// Record k: (soma + t + sum (t + post soma)) / (2T + 1) mapped like a position.
void FillLineSortEntries(const Simulation& state, const Neuron* neurons, uint32_t count, const float extent[3],
                         DepthSortEntry* entries, DepthSortEntry** order);
// depth = M[2] x + M[6] y + M[10] z + M[14] (column-major modelview), then the
// pointers in ascending depth: farthest first.
void SortByDepth(DepthSortEntry** order, uint32_t count, const float modelview[16]);

// ---- 5. Activity ---------------------------------------------------------------------------------
inline float CubeActivityScale(float vEnvelope) { return vEnvelope * 0.014285714f + 0.5f; }
inline float LineActivityScale(float vEnvelope) { return vEnvelope * 0.00625f + 0.5f; }
// Palette entry of a neuron for s, or -1 when s <= 0 (not drawn).
int32_t NeuronPaletteEntry(float s);
// Colour of a neuron in the line scene from its palette, or null when it is not
// drawn: s <= 0, or an entry whose alpha is 0. Blending such a colour leaves every
// pixel as it was, so leaving its lines out draws the same picture; at the
// wireframe opacity most resting neurons are such, and their lines were most of
// the line scene's drawing time.
const uint8_t* LineNeuronColour(float vEnvelope, const uint8_t (*palette)[4]);

// ---- 6. Log value and bounding box -----------------------------------------------------------------
struct VideoMemoryUse {
    uint32_t amount;
    bool mebibytes;  // false: KiB
};
// B <= 1 MiB is reported as B / 1024 KiB, larger as B / 1048576 MiB.
VideoMemoryUse VideoMemoryFor(uint64_t bytes);

// Corners c0..c7 of the box with half sizes h = 0.5 (2E + 2).
void VolumeBoxCorners(const float extent[3], float corners[8][3]);
extern const uint8_t kVolumeBoxLoops[6][4];
extern const float kVolumeBoxNormals[6][3];
