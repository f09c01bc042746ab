// Parameter rules: default worker count, worker edit rounding, normalisation,
// presets and defaults.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/app_state.h"
#include "engine/params.h"

TEST(WorkerThreads, DefaultFromCoreCount) {
    EXPECT_EQ(DefaultWorkerThreadsForCores(4), 8u);
    EXPECT_EQ(DefaultWorkerThreadsForCores(6), 16u);  // 12 rounds up to 16 (halfway)
    EXPECT_EQ(DefaultWorkerThreadsForCores(5), 8u);   // 10 rounds down to 8
    EXPECT_EQ(DefaultWorkerThreadsForCores(1), 2u);
    EXPECT_EQ(DefaultWorkerThreadsForCores(0), 1u);
    EXPECT_EQ(DefaultWorkerThreadsForCores(3), 8u);   // 6 -> 8
    EXPECT_EQ(DefaultWorkerThreadsForCores(8), 16u);
}

TEST(WorkerThreads, EditRoundingAndSpin) {
    EXPECT_EQ(RoundWorkerThreads(12), 16u);
    EXPECT_EQ(RoundWorkerThreads(300), 256u);
    EXPECT_EQ(RoundWorkerThreads(0), 1u);
    EXPECT_EQ(RoundWorkerThreads(-7), 1u);
    EXPECT_EQ(RoundWorkerThreads(3), 4u);
    EXPECT_EQ(RoundWorkerThreads(5), 4u);
    EXPECT_EQ(RoundWorkerThreads(192), 256u);
    EXPECT_EQ(ParseWorkerThreads("abc"), 1u);
    EXPECT_EQ(ParseWorkerThreads("12"), 16u);
    EXPECT_EQ(ParseWorkerThreads("300"), 256u);
    EXPECT_EQ(ParseWorkerThreads(""), 1u);
    EXPECT_EQ(ParseWorkerThreads("99999999999999999999"), 256u);
    EXPECT_EQ(SpinWorkerThreads(8, true), 16u);
    EXPECT_EQ(SpinWorkerThreads(8, false), 4u);
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

TEST(Params, DefaultsAndDerivation) {
    SimParams p;
    SetDefaultParams(p, 8);
    EXPECT_EQ(p.workerThreads, 8u);
    EXPECT_EQ(p.neuronCount, 32768u);
    EXPECT_EQ(FindPreset(p), 6);
    EXPECT_FLOAT_EQ(p.ampaStepDecay, 0.1f);
    EXPECT_FLOAT_EQ(p.nmdaStepDecay, 1.0f / 300.0f);
    EXPECT_FLOAT_EQ(p.excStepU, 0.25f);
    EXPECT_FLOAT_EQ(p.excStepInvF, 0.0005f);
    EXPECT_FLOAT_EQ(p.excStepUOverF, 0.00025f);
    EXPECT_FLOAT_EQ(p.excStepInvD, 0.000625f);
    EXPECT_FLOAT_EQ(p.inhStepUOverF, 0.005f);
    EXPECT_FLOAT_EQ(p.inhStepInvD, 1.0f / 1400.0f);
    p.tauAmpa = 10.0f;
    p.neuronCount = 4096;
    DeriveParams(p);
    EXPECT_FLOAT_EQ(p.ampaStepDecay, 0.05f);
    EXPECT_FLOAT_EQ(p.ampaInvTau, 0.1f);
    EXPECT_FLOAT_EQ(p.invNeuronCount, 1.0f / 4096.0f);
}

TEST(Presets, SelectionAndApplication) {
    SimParams p;
    SetDefaultParams(p, 1);
    ApplyPreset(p, 12);
    EXPECT_EQ(p.neuronCount, 331776u);
    EXPECT_EQ(p.gridZ, 144u);
    EXPECT_EQ(p.extentZ, 144.0f);
    EXPECT_EQ(p.halfExtent, 24.0f);
    EXPECT_EQ(FindPreset(p), 12);
    EXPECT_EQ(GeometryPresets[12].reducedVisualization, 1u);
    // The smallest cube holds one neuron per cell: 512, not the row's 256.
    ApplyPreset(p, 4);
    EXPECT_EQ(p.neuronCount, 512u);
    EXPECT_EQ(GeometryPresets[4].neuronCount, 256u);
    // Spheres keep their row's count.
    ApplyPreset(p, 2);
    EXPECT_EQ(p.neuronCount, 110592u);
    EXPECT_EQ(p.geometryKind, GeometrySphere);
    EXPECT_EQ(FindPreset(p), 2);
    // Same grid, different kind: the sphere row matches only with kind 1.
    ApplyPreset(p, 5);
    EXPECT_EQ(FindPreset(p), 5);
    p.geometryKind = GeometrySphere;
    EXPECT_EQ(FindPreset(p), 0);
    p.gridX = 17;
    EXPECT_EQ(FindPreset(p), -1);
    ApplyPreset(p, 99);  // out of range: unchanged
    EXPECT_EQ(p.gridX, 17u);
    // Labels fit the list's 64-character rows.
    for (const GeometryPreset& g : GeometryPresets) EXPECT_LT(std::strlen(g.label), 64u);
}

TEST(Defaults, RestoreKeepsLifecycleFieldsAndWireframeOpacity) {
    static AppState state;
    state.SimState = SimStateRunning;
    state.params.gridX = 3;
    RestoreDefaults(state);
    EXPECT_EQ(state.SimState, SimStateRunning);
    EXPECT_EQ(state.params.gridX, 32u);
    EXPECT_EQ(state.params.workerThreads, DefaultWorkerThreads());
    EXPECT_FLOAT_EQ(state.options.NeuronAlpha, 0.2f);
    EXPECT_EQ(state.options.captureQuality, 100u);
    EXPECT_EQ(state.stimulusPeriod, 100u);
    EXPECT_NE(state.options.captureFolder[0], '\0');
    RestoreDefaults(state, true);  // the line scene
    EXPECT_FLOAT_EQ(state.options.NeuronAlpha, 0.065f);
    state.SimState = SimStateNone;
}
