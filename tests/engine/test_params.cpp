// Parameter rules: worker counts, normalisation, each step constant derived from
// its own time constant, presets, and what Restore Defaults keeps.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "engine/params.h"
#include "io/app_state.h"

TEST(WorkerThreads, DefaultEditAndSpinRoundToPowersOfTwoWithinLimits) {
    EXPECT_EQ(DefaultWorkerThreadsForCores(6), 16u);  // 12 rounds up to 16 (halfway)
    EXPECT_EQ(DefaultWorkerThreadsForCores(5), 8u);   // 10 rounds down to 8
    EXPECT_EQ(DefaultWorkerThreadsForCores(0), 1u);
    EXPECT_EQ(RoundWorkerThreads(300), 256u);
    EXPECT_EQ(RoundWorkerThreads(-7), 1u);
    EXPECT_EQ(RoundWorkerThreads(192), 256u);
    EXPECT_EQ(ParseWorkerThreads("abc"), 1u);
    EXPECT_EQ(ParseWorkerThreads("12"), 16u);
    EXPECT_EQ(ParseWorkerThreads("99999999999999999999"), 256u);
    EXPECT_EQ(SpinWorkerThreads(256, true), 256u);
    EXPECT_EQ(SpinWorkerThreads(1, false), 1u);
    EXPECT_EQ(SpinWorkerThreads(12, true), 32u);  // rounded to 16 first
}

TEST(Params, NormalisationRepairsInconsistentInputs) {
    SimParams p;
    SetDefaultParams(p, 4);
    p.excWeightInitial = 0.9f;  // above the maximum of 0.8
    p.excAxonLengthMax = 0.0f;  // 0 means unlimited
    NormalizeParams(p);
    EXPECT_FLOAT_EQ(p.excWeightInitial, 0.8f);
    EXPECT_FLOAT_EQ(p.excWeightMax, 0.9f);
    EXPECT_EQ(p.excAxonLengthMax, 1e10f);

    SetDefaultParams(p, 4);
    p.excAxonLengthMin = 10.0f;  // above the synapse-axon distance 3.5
    NormalizeParams(p);
    EXPECT_FLOAT_EQ(p.excAxonLengthMin, 3.5f);

    SetDefaultParams(p, 4);
    p.inhAxonLengthMin = 6.0f;  // above max 4: swapped, then capped by 3.5
    NormalizeParams(p);
    EXPECT_FLOAT_EQ(p.inhAxonLengthMax, 6.0f);
    EXPECT_FLOAT_EQ(p.inhAxonLengthMin, 3.5f);

    SetDefaultParams(p, 4);
    p.boxInhAxonLengthMin = 2.0f;  // swapped with 1.0, then capped by 0.5
    NormalizeParams(p);
    EXPECT_FLOAT_EQ(p.boxInhAxonLengthMax, 2.0f);
    EXPECT_FLOAT_EQ(p.boxInhAxonLengthMin, 0.5f);
}

TEST(Params, EachStepConstantFollowsItsOwnTimeConstant) {
    // Distinct values everywhere, so that a constant taken from a neighbour's time
    // constant (AMPA's decay from NMDA's, F's from D's) shows. A step is 0.5 ms.
    SimParams p;
    SetDefaultParams(p, 1);
    p.tauAmpa = 2.0f, p.tauNmda = 4.0f, p.tauGabaA = 8.0f, p.tauGabaB = 16.0f;
    p.excU = 0.3f, p.excF = 50.0f, p.excD = 25.0f;
    p.inhU = 0.6f, p.inhF = 20.0f, p.inhD = 10.0f;
    p.neuronCount = 4096;
    DeriveParams(p);
    EXPECT_FLOAT_EQ(p.ampaStepDecay, 0.25f);
    EXPECT_FLOAT_EQ(p.nmdaStepDecay, 0.125f);
    EXPECT_FLOAT_EQ(p.gabaAStepDecay, 0.0625f);
    EXPECT_FLOAT_EQ(p.gabaBStepDecay, 0.03125f);
    EXPECT_FLOAT_EQ(p.ampaInvTau, 0.5f);
    EXPECT_FLOAT_EQ(p.gabaBInvTau, 0.0625f);
    EXPECT_FLOAT_EQ(p.excStepU, 0.15f);
    EXPECT_FLOAT_EQ(p.excStepInvF, 0.01f);
    EXPECT_FLOAT_EQ(p.excStepUOverF, 0.003f);
    EXPECT_FLOAT_EQ(p.excStepInvD, 0.02f);
    EXPECT_FLOAT_EQ(p.inhStepU, 0.3f);
    EXPECT_FLOAT_EQ(p.inhStepInvF, 0.025f);
    EXPECT_FLOAT_EQ(p.inhStepUOverF, 0.015f);
    EXPECT_FLOAT_EQ(p.inhStepInvD, 0.05f);
    EXPECT_FLOAT_EQ(p.invNeuronCount, 1.0f / 4096.0f);
}

TEST(Presets, ApplyingAndFindingARow) {
    SimParams p;
    SetDefaultParams(p, 1);
    ApplyPreset(p, 12);
    EXPECT_EQ(p.neuronCount, 331776u);
    EXPECT_EQ(p.halfExtent, 24.0f);
    EXPECT_EQ(FindPreset(p), 12);
    // The smallest cube holds one neuron per cell of its 8 x 8 x 8 grid.
    ApplyPreset(p, 4);
    EXPECT_EQ(p.neuronCount, 512u);
    // Same grid, different kind: the sphere row matches only a sphere.
    ApplyPreset(p, 5);
    EXPECT_EQ(FindPreset(p), 5);
    p.geometryKind = GeometrySphere;
    EXPECT_EQ(FindPreset(p), 0);
    p.gridX = 17;
    EXPECT_EQ(FindPreset(p), -1);
    ApplyPreset(p, 99);  // out of range: unchanged
    EXPECT_EQ(p.gridX, 17u);
    // Every caption names the neuron count the row builds (a checkpoint stores it).
    for (int row = 0; row < kPresetCount; ++row) {
        ApplyPreset(p, row);
        const std::string label = GeometryPresets[row].label;
        EXPECT_NE(label.find(" - " + std::to_string(p.neuronCount) + " neurons"), std::string::npos) << label;
    }
}

TEST(Shapes, ApplyPresetEqualsSetNetworkShapeForEveryRow) {
    for (int row = 0; row < kPresetCount; ++row) {
        const GeometryPreset& g = GeometryPresets[row];
        SimParams preset{}, shape{};
        ApplyPreset(preset, row);
        EXPECT_EQ(SetNetworkShape(shape, g.geometryKind, g.gridX, g.gridY, g.gridZ), "") << row;
        EXPECT_EQ(std::memcmp(&preset, &shape, sizeof preset), 0) << row;
        // The row's own numbers, bit for bit.
        EXPECT_EQ(shape.neuronCount, g.neuronCount) << row;
        EXPECT_EQ(shape.halfExtent, g.halfExtent) << row;
        EXPECT_EQ(NetworkShapeCaption(shape), g.label) << row;
    }
    SimParams p{};
    ASSERT_EQ(SetNetworkShape(p, GeometryBox, 20, 20, 10), "");
    EXPECT_EQ(p.neuronCount, 4000u);
    EXPECT_EQ(p.extentZ, 10.0f);
    EXPECT_EQ(p.halfExtent, 5.0f);  // half the shortest edge
    EXPECT_EQ(NetworkShapeCaption(p), "Custom box 20x20x10 - 4000 neurons");
    ASSERT_EQ(SetNetworkShape(p, GeometrySphere, 25, 25, 25), "");
    EXPECT_EQ(p.neuronCount, 15625u);
    EXPECT_EQ(NetworkShapeCaption(p), "Custom sphere 25x25x25 - 15625 neurons (sphere radius: 12.5 mm)");
}

TEST(Shapes, RefusalsNameTheFieldAndTheLimitAndChangeNothing) {
    SimParams p{};
    ApplyPreset(p, kDefaultPreset);
    SimParams before;
    std::memcpy(&before, &p, sizeof p);
    const std::pair<std::string, std::string> cases[] = {
        {SetNetworkShape(p, GeometryBox, 20, 20, 0), "gridZ = 0: must be 1..8388608"},
        {SetNetworkShape(p, GeometryBox, 1, 1, 8388609), "gridZ = 8388609: must be 1..8388608"},
        {SetNetworkShape(p, GeometryBox, 4096, 4096, 1), "neurons = 16777216 (4096x4096x1): at most 8388608"},
        {SetNetworkShape(p, GeometrySphere, 204, 204, 204), "gridX = 204: must be 1..203"},
        {SetNetworkShape(p, GeometrySphere, 24, 24, 30), "gridZ = 30: a sphere's grid is d x d x d (gridX = 24)"},
        {SetNetworkShape(p, 2, 8, 8, 8), "geometryKind = 2: must be 0 (box) or 1 (sphere)"},
    };
    for (const auto& [error, expected] : cases) EXPECT_EQ(error, expected);
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
    // The largest of each kind is accepted.
    EXPECT_EQ(SetNetworkShape(p, GeometryBox, 2048, 2048, 2), "");
    EXPECT_EQ(SetNetworkShape(p, GeometrySphere, 203, 203, 203), "");
}

TEST(Defaults, RestoreKeepsLifecycleFieldsAndWireframeOpacity) {
    static AppState state;
    state.SimState = SimStateRunning;
    state.params.gridX = 3;
    RestoreDefaults(state);
    EXPECT_EQ(state.SimState, SimStateRunning);
    EXPECT_EQ(state.params.gridX, 32u);
    RestoreDefaults(state, true);  // the line scene
    EXPECT_FLOAT_EQ(state.options.NeuronAlpha, 0.065f);
    state.SimState = SimStateNone;
}
