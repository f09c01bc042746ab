// Activity analysis tests.
//
// Sections:
//   1. Spiking history and spectrum
//   2. Weight histogram
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "io/app_state.h"

namespace {

struct AnalysisFixture : ::testing::Test {
    AppState state;
    void SetUp() override { InitActivityAnalysis(state); }
    void TearDown() override { ReleaseActivityAnalysis(state); }
};

// ---- 1. History and spectrum -----------------------------------------------------------------------

TEST_F(AnalysisFixture, HistoryFillsInOrderAndSpectrumRunsEvery2048Steps) {
    const ActivityAnalysis& a = state.analysis;
    EXPECT_EQ(a.binCount, 102u);
    EXPECT_FLOAT_EQ(a.binWidth, 2000.0f / 2048.0f);
    RecordStepSpikes(state, 7);
    RecordStepSpikes(state, (1ull << 40) + 3);  // 64-bit counts convert to float
    EXPECT_EQ(a.SpikeHistory[0], 7.0f);
    EXPECT_EQ(a.SpikeHistory[1], 1099511627776.0f);
    EXPECT_EQ(a.historyPosition, 2u);
    // No spectrum exists before the 2048th record.
    for (uint32_t i = 2; i < 2047; ++i) RecordStepSpikes(state, 0);
    EXPECT_EQ(a.historyPosition, 2047u);
    EXPECT_EQ(a.powerMax, 0.0f);
    RecordStepSpikes(state, 0);
    EXPECT_EQ(a.historyPosition, 0u);
    EXPECT_GT(a.powerMax, 0.0f);
}

TEST_F(AnalysisFixture, SpectrumFindsPeaksOfKnownFrequencies) {
    // 50 spikes per step on average, with cosines at bins 10 (9.8 Hz, amplitude 8)
    // and 40 (39 Hz, amplitude 3). A real FFT without scaling gives |X_k| = A N / 2
    // at those bins and nothing elsewhere.
    float* h = state.analysis.SpikeHistory;
    const double pi = 3.14159265358979323846;
    for (uint32_t n = 0; n < 2048; ++n)
        h[n] = static_cast<float>(50.0 + 8.0 * std::cos(2 * pi * 10 * n / 2048.0) +
                                  3.0 * std::cos(2 * pi * 40 * n / 2048.0));
    ComputeSpectrum(state);
    const ActivityAnalysis& a = state.analysis;
    EXPECT_NEAR(a.power[10], 8192.0 * 8192.0, 8192.0 * 8192.0 * 1e-3);  // (8 * 1024)^2
    EXPECT_NEAR(a.power[40], 3072.0 * 3072.0, 3072.0 * 3072.0 * 1e-3);  // (3 * 1024)^2
    EXPECT_EQ(a.power[0], 0.0f);  // the mean is not evaluated
    EXPECT_EQ(a.peakCount, 2u);
    for (uint32_t k = 0; k < a.binCount; ++k)
        EXPECT_EQ(a.peakFlags[k], (k == 10 || k == 40) ? 1 : 0) << "bin " << k;
    EXPECT_FLOAT_EQ(a.powerMax, a.power[10]);
    EXPECT_LT(a.powerMin, 1.0f);  // leakage-free bins are (nearly) 0
}

TEST_F(AnalysisFixture, PeakAtFirstBinAndBelowTwoAndAHalfPercentIgnored) {
    // Bin 1 is compared with bin 0 (0); a cosine at bin 60 with a power of 1/400
    // of bin 1's (amplitude 1/20) stays under the 2.5 % floor.
    float* h = state.analysis.SpikeHistory;
    const double pi = 3.14159265358979323846;
    for (uint32_t n = 0; n < 2048; ++n)
        h[n] = static_cast<float>(20.0 + 10.0 * std::cos(2 * pi * n / 2048.0) +
                                  0.5 * std::cos(2 * pi * 60 * n / 2048.0));
    ComputeSpectrum(state);
    EXPECT_EQ(state.analysis.peakFlags[1], 1);
    EXPECT_EQ(state.analysis.peakFlags[60], 0);
    EXPECT_EQ(state.analysis.peakCount, 1u);
}

TEST_F(AnalysisFixture, SilentHistoryHasNoPeak) {
    for (uint32_t i = 0; i < 2048; ++i) RecordStepSpikes(state, 0);
    const ActivityAnalysis& a = state.analysis;
    EXPECT_EQ(a.peakCount, 0u);
    EXPECT_EQ(a.powerMax, 1.17549435e-38f);
    EXPECT_EQ(a.powerMin, 0.0f);
    for (uint32_t k = 0; k < a.binCount; ++k) EXPECT_EQ(a.peakFlags[k], 0);
}

// ---- 2. Weight histogram ---------------------------------------------------------------------------

TEST(WeightHistogram, Bins) {
    EXPECT_EQ(WeightBin(0.0999f), 0u);
    EXPECT_EQ(WeightBin(0.1f), 1u);
    EXPECT_EQ(WeightBin(0.8999f), 8u);
    EXPECT_EQ(WeightBin(0.9f), 9u);
    EXPECT_EQ(WeightBin(1e30f), 9u);  // the last bin takes everything above
}

TEST(WeightHistogram, CountsEveryLaneOfAShareAndClears) {
    // Neuron 0: six excitatory synapses (one full block, two lanes of the next)
    // and three inhibitory; neuron 1: one excitatory synapse; neuron 2 is outside
    // the counted share.
    SynapseLaneWeights exc0[2] = {}, inh0[1] = {}, exc1[1] = {}, exc2[1] = {};
    const float e0[6] = {0.05f, 0.15f, 0.1f, 0.35f, 0.95f, 1.5f};
    for (int i = 0; i < 6; ++i) exc0[i / 4].weight[i % 4] = e0[i];
    exc0[1].weight[2] = exc0[1].weight[3] = 0.55f;  // unused lanes: never counted
    inh0[0].weight[0] = 0.45f;
    inh0[0].weight[1] = 0.45f;
    inh0[0].weight[2] = 0.0f;
    exc1[0].weight[0] = 0.75f;
    exc2[0].weight[0] = 0.75f;
    Neuron neurons[3] = {};
    neurons[0].excLaneWeights = exc0;
    neurons[0].excIncomingCount = 6;
    neurons[0].inhLaneWeights = inh0;
    neurons[0].inhIncomingCount = 3;
    neurons[1].excLaneWeights = exc1;
    neurons[1].excIncomingCount = 1;
    neurons[2].excLaneWeights = exc2;
    neurons[2].excIncomingCount = 1;
    AppState state;
    state.neurons = neurons;
    state.neuronCount = 3;

    ClearWeightHistogram(state);
    CountWeights(state, 0, 1);
    const uint32_t* bins = state.analysis.WeightHistogram;
    const uint32_t afterFirst[10] = {2, 2, 0, 1, 2, 0, 0, 0, 0, 2};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(bins[i], afterFirst[i]) << "bin " << i;
    EXPECT_EQ(state.analysis.weightTotal, 9u);

    CountWeights(state, 1, 2);  // another thread's share adds to the same bins
    EXPECT_EQ(bins[7], 1u);
    EXPECT_EQ(state.analysis.weightTotal, 10u);

    ClearWeightHistogram(state);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(bins[i], 0u);
    EXPECT_EQ(state.analysis.weightTotal, 0u);
}

}  // namespace
