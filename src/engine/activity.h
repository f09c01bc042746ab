// Activity analysis: spiking history, power spectrum with peaks, weight histogram.
// Written by the last worker thread at the end of steps (history, spectrum) and by
// all workers with atomic adds (histogram); the render thread reads without locks.
#pragma once

#include <cstdint>

struct Simulation;
struct kiss_fftr_state;

inline constexpr uint32_t kHistoryLength = 2048;
inline constexpr uint32_t kSpectrumLength = kHistoryLength / 2 + 1;  // 1025
inline constexpr uint32_t kBinCount = 102;
inline constexpr float kBinWidth = 0.9765625f;  // Hz: 2000 samples/s over 2048 samples
inline constexpr uint32_t kWeightBins = 10;
inline constexpr uint32_t kWeightHistogramPeriod = 2048;  // steps

struct ActivityAnalysis {
    float* SpikeHistory;       // [kHistoryLength] spikes per step
    uint32_t historyPosition;  // next write, 0..2047
    float* spectrum;           // [2 * kSpectrumLength] re, im pairs
    float* power;              // [kSpectrumLength]; bins 1..binCount-1 used
    float powerMin, powerMax;
    uint32_t binCount;
    float binWidth;
    uint8_t peakFlags[kBinCount];
    uint32_t peakCount;
    uint32_t WeightHistogram[kWeightBins];
    uint32_t weightTotal;
    kiss_fftr_state* fftConfig;
};

// Allocates and clears the buffers and the FFT configuration (called by the build).
void InitActivityAnalysis(Simulation& state);
void ReleaseActivityAnalysis(Simulation& state);

void RecordStepSpikes(Simulation& state, uint64_t count);
void ComputeSpectrum(Simulation& state);
void ClearWeightHistogram(Simulation& state);
void CountWeights(Simulation& state, uint32_t first, uint32_t end);
// Adds the bins of the synapses onto neurons [first, end) to bins[kWeightBins].
void CountWeightBins(const Simulation& state, uint32_t first, uint32_t end, uint32_t* bins);
// The workers count the histogram of a step s with s mod 2048 = 0 as they begin
// step s + 1: while they are parked after step s (stepCounter = s + 1) its bins
// are cleared and not yet counted.
inline bool WeightCountPending(uint32_t stepCounter) {
    return stepCounter != 0 && (stepCounter - 1) % kWeightHistogramPeriod == 0;
}
// Bin of a weight: min(floor(10 w), 9).
uint32_t WeightBin(float weight);
