// Host-side data of the network geometry.
//
// Sections:
//   1. Scene coordinates
//   2. Cube templates and cube data
//   3. Line segments
//   4. Depth sorting
//   5. Activity
//   6. Video memory value, bounding box
#include "vis/scene_data.h"

#include <algorithm>
#include <cmath>

#include "engine/network.h"
#include "engine/synapses.h"
#include "vis/palette.h"

// ---- 1. Scene coordinates -----------------------------------------------------------------------
void ScenePosition(const float position[3], const float extent[3], float out[3]) {
    for (int axis = 0; axis < 3; ++axis) out[axis] = 2.0f * position[axis] + 0.5f - extent[axis];
}

// ---- 2. Cubes ------------------------------------------------------------------------------------
namespace {

const SceneVertex kFullCube[24] = {
    {1, 1, 1, 0, 0, 1},    {-1, 1, 1, 0, 0, 1},   {-1, -1, 1, 0, 0, 1},   {1, -1, 1, 0, 0, 1},
    {1, 1, 1, 1, 0, 0},    {1, -1, 1, 1, 0, 0},   {1, -1, -1, 1, 0, 0},   {1, 1, -1, 1, 0, 0},
    {1, 1, 1, 0, 1, 0},    {1, 1, -1, 0, 1, 0},   {-1, 1, -1, 0, 1, 0},   {-1, 1, 1, 0, 1, 0},
    {-1, 1, 1, -1, 0, 0},  {-1, 1, -1, -1, 0, 0}, {-1, -1, -1, -1, 0, 0}, {-1, -1, 1, -1, 0, 0},
    {-1, -1, -1, 0, -1, 0}, {1, -1, -1, 0, -1, 0}, {1, -1, 1, 0, -1, 0},  {-1, -1, 1, 0, -1, 0},
    {1, -1, -1, 0, 0, -1}, {-1, -1, -1, 0, 0, -1}, {-1, 1, -1, 0, 0, -1}, {1, 1, -1, 0, 0, -1},
};
const uint32_t kFullCubeIndices[24] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                       12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};

// Corner normals slightly above 1/sqrt(3), as the shading was tuned with.
constexpr float kN = 0.57735258f;
const SceneVertex kReducedCube[8] = {
    {1, 1, 1, kN, kN, kN},     {-1, 1, 1, -kN, kN, kN},   {-1, -1, 1, -kN, -kN, kN},
    {1, -1, 1, kN, -kN, kN},   {1, -1, -1, kN, -kN, -kN}, {1, 1, -1, kN, kN, -kN},
    {-1, 1, -1, -kN, kN, -kN}, {-1, -1, -1, -kN, -kN, -kN},
};
const uint32_t kReducedCubeIndices[24] = {0, 1, 2, 3, 0, 3, 4, 5, 0, 5, 6, 1,
                                          1, 6, 7, 2, 7, 4, 3, 2, 4, 7, 6, 5};

}  // namespace

CubeTemplate CubeTemplateFor(bool reduced) {
    if (reduced) return {kReducedCube, 8, kReducedCubeIndices, 24};
    return {kFullCube, 24, kFullCubeIndices, 24};
}

void FillCubeData(const Neuron* neurons, uint32_t count, const float extent[3],
                  const CubeTemplate& shape, SceneVertex* vertices, uint32_t* indices) {
    for (uint32_t k = 0; k < count; ++k) {
        float p[3];
        ScenePosition(neurons[k].somaPos, extent, p);
        SceneVertex* v = vertices + static_cast<uint64_t>(k) * shape.vertexCount;
        for (uint32_t i = 0; i < shape.vertexCount; ++i) {
            const SceneVertex& t = shape.vertices[i];
            v[i] = {p[0] + t.x, p[1] + t.y, p[2] + t.z, t.nx, t.ny, t.nz};
        }
        uint32_t* index = indices + static_cast<uint64_t>(k) * shape.indexCount;
        const uint32_t base = k * shape.vertexCount;
        for (uint32_t i = 0; i < shape.indexCount; ++i) index[i] = shape.indices[i] + base;
    }
}

// ---- 3. Lines ------------------------------------------------------------------------------------
uint64_t CountLineSegments(const Neuron* neurons, uint32_t count) {
    uint64_t segments = 0;
    for (uint32_t k = 0; k < count; ++k) segments += static_cast<uint64_t>(neurons[k].outgoingCount) + 1;
    return segments;
}

void FillLineData(const Simulation& state, const Neuron* neurons, uint32_t count, const float extent[3],
                  LineVertex* vertices, uint32_t* indices, uint32_t* ranges) {
    uint32_t next = 0;
    for (uint32_t k = 0; k < count; ++k) {
        const Neuron& n = neurons[k];
        float soma[3], terminal[3];
        ScenePosition(n.somaPos, extent, soma);
        ScenePosition(n.axonTerminal, extent, terminal);
        ranges[2 * k] = next;
        vertices[next++] = {soma[0], soma[1], soma[2]};
        vertices[next++] = {terminal[0], terminal[1], terminal[2]};
        for (uint32_t s = 0; s < n.outgoingCount; ++s) {
            float post[3];
            ScenePosition(neurons[OutgoingPost(state, k, s)].somaPos, extent, post);
            vertices[next++] = {terminal[0], terminal[1], terminal[2]};
            vertices[next++] = {post[0], post[1], post[2]};
        }
        ranges[2 * k + 1] = next;
    }
    for (uint32_t i = 0; i < next; ++i) indices[i] = i;
}

// ---- 4. Depth sorting ----------------------------------------------------------------------------
void FillCubeSortEntries(const Neuron* neurons, uint32_t count, const float extent[3],
                         DepthSortEntry* entries, DepthSortEntry** order) {
    for (uint32_t k = 0; k < count; ++k) {
        float p[3];
        ScenePosition(neurons[k].somaPos, extent, p);
        entries[k] = {p[0], p[1], p[2], p[2], k};
        order[k] = &entries[k];
    }
}

void FillLineSortEntries(const Simulation& state, const Neuron* neurons, uint32_t count, const float extent[3],
                         DepthSortEntry* entries, DepthSortEntry** order) {
    for (uint32_t k = 0; k < count; ++k) {
        const Neuron& n = neurons[k];
        float sum[3];
        for (int a = 0; a < 3; ++a) sum[a] = n.somaPos[a] + n.axonTerminal[a];
        for (uint32_t s = 0; s < n.outgoingCount; ++s) {
            const float* post = neurons[OutgoingPost(state, k, s)].somaPos;
            for (int a = 0; a < 3; ++a) sum[a] += n.axonTerminal[a] + post[a];
        }
        const float divisor = static_cast<float>(2 * n.outgoingCount + 1);
        float mean[3], p[3];
        for (int a = 0; a < 3; ++a) mean[a] = sum[a] / divisor;
        ScenePosition(mean, extent, p);
        entries[k] = {p[0], p[1], p[2], p[2], k};
        order[k] = &entries[k];
    }
}

void SortByDepth(DepthSortEntry** order, uint32_t count, const float m[16]) {
    for (uint32_t k = 0; k < count; ++k) {
        DepthSortEntry& e = *order[k];
        e.depth = m[2] * e.x + m[6] * e.y + m[10] * e.z + m[14];
    }
    // Stable, so equal depths keep their previous order and the picture does not flicker.
    std::stable_sort(order, order + count,
                     [](const DepthSortEntry* a, const DepthSortEntry* b) { return a->depth < b->depth; });
}

// ---- 5. Activity ---------------------------------------------------------------------------------
int32_t NeuronPaletteEntry(float s) {
    if (!(s > 0.0f)) return -1;
    return static_cast<int32_t>(PaletteIndex(s));
}

const uint8_t* LineNeuronColour(float vEnvelope, const uint8_t (*palette)[4]) {
    const int32_t entry = NeuronPaletteEntry(LineActivityScale(vEnvelope));
    if (entry < 0 || palette[entry][3] == 0) return nullptr;
    return palette[entry];
}

// ---- 6. Video memory value, bounding box -------------------------------------------------------------
VideoMemoryUse VideoMemoryFor(uint64_t bytes) {
    if (bytes <= 1048576u) return {static_cast<uint32_t>(bytes / 1024u), false};
    return {static_cast<uint32_t>(bytes / 1048576u), true};
}

void VolumeBoxCorners(const float extent[3], float c[8][3]) {
    const float hx = 0.5f * (2.0f * extent[0] + 2.0f);
    const float hy = 0.5f * (2.0f * extent[1] + 2.0f);
    const float hz = 0.5f * (2.0f * extent[2] + 2.0f);
    const float corners[8][3] = {{-hx, -hy, hz}, {hx, -hy, hz}, {hx, -hy, -hz}, {-hx, -hy, -hz},
                                 {-hx, hy, hz},  {hx, hy, hz},  {hx, hy, -hz},  {-hx, hy, -hz}};
    for (int i = 0; i < 8; ++i)
        for (int a = 0; a < 3; ++a) c[i][a] = corners[i][a];
}

const uint8_t kVolumeBoxLoops[6][4] = {{0, 1, 2, 3}, {3, 2, 6, 7}, {7, 6, 5, 4},
                                       {4, 5, 1, 0}, {5, 6, 2, 1}, {7, 4, 0, 3}};
const float kVolumeBoxNormals[6][3] = {{-1, 0, 0}, {0, 1, 0}, {1, 0, 0},
                                       {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
