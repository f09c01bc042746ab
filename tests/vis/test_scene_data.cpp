// Geometry data: cube templates and index layout, line segments and ranges, depth
// order, the video memory value and the bounding box.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "engine/simulation.h"

#include "engine/network.h"
#include "vis/scene_data.h"

namespace {

const float kExtent8[3] = {8.0f, 8.0f, 8.0f};

Neuron NeuronAt(float x, float y, float z, float tx, float ty, float tz) {
    Neuron n{};
    n.somaPos[0] = x, n.somaPos[1] = y, n.somaPos[2] = z;
    n.axonTerminal[0] = tx, n.axonTerminal[1] = ty, n.axonTerminal[2] = tz;
    return n;
}

}  // namespace

TEST(SceneData, CubeTemplatesAreClosedBoxes) {
    // Full: 24 vertices, each on the face its normal points out of. Reduced: 8
    // corners with normals out of the corner, 6 quads that are faces, each corner
    // in three of them.
    const CubeTemplate full = CubeTemplateFor(false);
    ASSERT_EQ(full.vertexCount, 24u);
    for (uint32_t i = 0; i < 24; ++i) {
        const SceneVertex& v = full.vertices[i];
        EXPECT_FLOAT_EQ(v.x * v.nx + v.y * v.ny + v.z * v.nz, 1.0f) << i;
    }
    const CubeTemplate t = CubeTemplateFor(true);
    ASSERT_EQ(t.vertexCount, 8u);
    ASSERT_EQ(t.indexCount, 24u);
    std::set<std::vector<float>> corners;
    for (uint32_t i = 0; i < 8; ++i) {
        const SceneVertex& v = t.vertices[i];
        corners.insert({v.x, v.y, v.z});
        EXPECT_GT(v.nx * v.x + v.ny * v.y + v.nz * v.z, 1.7f) << i;  // sqrt(3): along the diagonal
    }
    EXPECT_EQ(corners.size(), 8u);
    int uses[8] = {};
    for (uint32_t q = 0; q < 6; ++q) {
        const uint32_t* quad = t.indices + q * 4;
        int sharedAxes = 0;
        for (int axis = 0; axis < 3; ++axis) {
            auto coordinate = [&](uint32_t k) {
                const SceneVertex& v = t.vertices[quad[k]];
                return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
            };
            if (coordinate(0) == coordinate(1) && coordinate(0) == coordinate(2) && coordinate(0) == coordinate(3))
                ++sharedAxes;
        }
        EXPECT_EQ(sharedAxes, 1) << q;
        for (int k = 0; k < 4; ++k) ++uses[quad[k]];
    }
    for (int i = 0; i < 8; ++i) EXPECT_EQ(uses[i], 3) << i;
}

TEST(SceneData, CubeVerticesAndIndexLayout) {
    const Neuron neurons[2] = {NeuronAt(0, 0, 0, 0, 0, 0), NeuronAt(3, 0, 1, 0, 0, 0)};
    // Neuron 1 in scene coordinates: (6.5 - 8, 0.5 - 8, 2.5 - 8) = (-1.5, -7.5, -5.5).
    {
        std::vector<SceneVertex> v(48);
        std::vector<uint32_t> idx(48);
        FillCubeData(neurons, 2, kExtent8, CubeTemplateFor(false), v.data(), idx.data());
        EXPECT_FLOAT_EQ(v[24].x, -0.5f);
        EXPECT_FLOAT_EQ(v[24].y, -6.5f);
        EXPECT_FLOAT_EQ(v[24].z, -4.5f);
        for (uint32_t i = 0; i < 48; ++i) EXPECT_EQ(idx[i], i);
    }
    {
        std::vector<SceneVertex> v(16);
        std::vector<uint32_t> idx(48);
        FillCubeData(neurons, 2, kExtent8, CubeTemplateFor(true), v.data(), idx.data());
        EXPECT_FLOAT_EQ(v[15].x, -2.5f);  // corner (-1, -1, -1) of neuron 1
        EXPECT_FLOAT_EQ(v[15].z, -6.5f);
        // Neuron 1's indices are the template's plus 8: 0,1,2,3, 0,3,4,5 ...
        EXPECT_EQ(idx[24], 8u);
        EXPECT_EQ(idx[30], 12u);
        EXPECT_EQ(idx[23], 5u);  // last of neuron 0
    }
}

TEST(SceneData, LineSegmentsAndRanges) {
    Neuron n[3] = {NeuronAt(1, 1, 1, 2, 1, 1), NeuronAt(4, 4, 4, 4, 5, 4), NeuronAt(0, 0, 0, 0, 0, 1)};
    Synapse s01{}, s02{}, s20{};
    s01.pre = &n[0], s01.post = &n[1];
    s02.pre = &n[0], s02.post = &n[2];
    s20.pre = &n[2], s20.post = &n[0];
    Synapse* out0[2] = {&s01, &s02};
    Synapse* out2[1] = {&s20};
    n[0].outgoing = out0, n[0].outgoingCount = 2;
    n[2].outgoing = out2, n[2].outgoingCount = 1;

    Simulation sim;  // the lists' owner, for the outgoing posts
    sim.neurons = n;
    sim.neuronCount = 3;
    ASSERT_EQ(CountLineSegments(n, 3), 6u);  // 3 + 1 + 2
    std::vector<LineVertex> v(12);
    std::vector<uint32_t> idx(12), ranges(6);
    FillLineData(sim, n, 3, kExtent8, v.data(), idx.data(), ranges.data());
    EXPECT_EQ(ranges, (std::vector<uint32_t>{0, 6, 6, 8, 8, 12}));
    for (uint32_t i = 0; i < 12; ++i) EXPECT_EQ(idx[i], i);
    // Neuron 0: soma (1,1,1) -> (-5.5, -5.5, -5.5), terminal (2,1,1) -> (-3.5, ...).
    EXPECT_FLOAT_EQ(v[0].x, -5.5f);
    EXPECT_FLOAT_EQ(v[2].x, -3.5f);  // terminal again
    EXPECT_FLOAT_EQ(v[3].x, 0.5f);   // neuron 1's soma: 8.5 - 8
    // Neuron 1 has no outgoing synapse: exactly its own axon.
    EXPECT_FLOAT_EQ(v[7].y, 2.5f);

    // Sort positions: neuron 1 (T = 0): soma + terminal = (8, 9, 8) -> (8.5, 10.5, 8.5).
    DepthSortEntry entries[3];
    DepthSortEntry* order[3];
    FillLineSortEntries(sim, n, 3, kExtent8, entries, order);
    EXPECT_FLOAT_EQ(entries[1].x, 8.5f);
    EXPECT_FLOAT_EQ(entries[1].y, 10.5f);
    // Neuron 2 (T = 1): (soma 0 + t 1 + t 1 + soma of 0 = 1) / 3 in z = 1 -> -5.5; x: 1/3.
    EXPECT_FLOAT_EQ(entries[2].z, -5.5f);
    EXPECT_NEAR(entries[2].x, 2.0f / 3.0f + 0.5f - 8.0f, 1e-5f);
    EXPECT_EQ(entries[2].neuron, 2u);
    EXPECT_EQ(order[2], &entries[2]);
}

TEST(SceneData, DepthOrderFollowsTheView) {
    const Neuron n[3] = {NeuronAt(3, 3, 4.5f, 0, 0, 0), NeuronAt(5, 3, 3.5f, 0, 0, 0),
                         NeuronAt(2, 3, 4, 0, 0, 0)};
    // Scene positions: x = -1.5, 2.5, -3.5; z = 1.5, -0.5, 0.5.
    DepthSortEntry entries[3];
    DepthSortEntry* order[3];
    FillCubeSortEntries(n, 3, kExtent8, entries, order);

    // Identity: depth is z, the farthest (most negative) first.
    float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    SortByDepth(order, 3, identity);
    EXPECT_EQ(order[0]->neuron, 1u);
    EXPECT_EQ(order[1]->neuron, 2u);
    EXPECT_EQ(order[2]->neuron, 0u);

    // 90 degrees about y, then 10 units away: eye z = -x - 10.
    float turned[16] = {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, -10, 1};
    SortByDepth(order, 3, turned);
    EXPECT_EQ(order[0]->neuron, 1u);  // x = 2.5: depth -12.5
    EXPECT_EQ(order[1]->neuron, 0u);  // x = -1.5: depth -8.5
    EXPECT_EQ(order[2]->neuron, 2u);  // x = -3.5: depth -6.5
    EXPECT_FLOAT_EQ(order[0]->depth, -12.5f);
}

TEST(SceneData, VideoMemoryValue) {
    EXPECT_EQ(VideoMemoryFor(1048576).amount, 1024u);  // up to 1 GiB in KiB, then in MiB
    EXPECT_FALSE(VideoMemoryFor(1048576).mebibytes);
    EXPECT_TRUE(VideoMemoryFor(1048577).mebibytes);
    EXPECT_EQ(VideoMemoryFor(4096ull * 576).amount, 2u);  // 2.25 MiB: whole MiB, rounded down
}

TEST(SceneData, BoundingBox) {
    float c[8][3];
    const float cuboid[3] = {8.0f, 8.0f, 32.0f};
    VolumeBoxCorners(cuboid, c);
    // Half sizes 9, 9, 33: one unit beyond the volume on every side.
    for (const auto& corner : c)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(std::fabs(corner[k]), cuboid[k] + 1.0f);
    // Each loop is a face: its four corners share one coordinate, and the six loops
    // cover six different faces.
    std::set<std::pair<int, float>> faces;
    for (int loop = 0; loop < 6; ++loop) {
        int shared = 0;
        for (int axis = 0; axis < 3; ++axis) {
            const float value = c[kVolumeBoxLoops[loop][0]][axis];
            bool same = true;
            for (int k = 1; k < 4; ++k) same = same && c[kVolumeBoxLoops[loop][k]][axis] == value;
            if (same) {
                ++shared;
                faces.insert({axis, value});
            }
        }
        EXPECT_EQ(shared, 1) << loop;
    }
    EXPECT_EQ(faces.size(), 6u);
}
