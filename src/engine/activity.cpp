// Activity analysis: spiking history, power spectrum with peaks, weight histogram.
//
// Sections:
//   1. Buffers: allocation and release (with the network)
//   2. Spiking history and spectrum (last worker thread, end of step)
//   3. Weight histogram (all workers, atomic adds)
#include "engine/activity.h"

#include <kiss_fftr.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "engine/event.h"
#include "engine/simulation.h"
#include "platform/log.h"

namespace {

constexpr const char* kAnalysisMemoryMessage =
    "Unable to allocate memory for the activity analysis!";

// Aligned, cleared and counted in MemoryUsage; a build failure when memory is missing.
void* AnalysisAlloc(Simulation& state, size_t bytes) {
    void* p = plat::AlignedAllocZeroed(bytes);
    if (p == nullptr) throw BuildFailure{kAnalysisMemoryMessage};
    state.MemoryUsage += bytes;
    return p;
}

}  // namespace

// ---- 1. Buffers ----------------------------------------------------------------------------

void InitActivityAnalysis(Simulation& state) {
    ActivityAnalysis& a = state.analysis;
    ReleaseActivityAnalysis(state);
    a.SpikeHistory = static_cast<float*>(AnalysisAlloc(state, kHistoryLength * sizeof(float)));
    a.spectrum = static_cast<float*>(AnalysisAlloc(state, 2 * kSpectrumLength * sizeof(float)));
    a.power = static_cast<float*>(AnalysisAlloc(state, kSpectrumLength * sizeof(float)));
    a.historyPosition = 0;
    a.powerMin = 0.0f;
    a.powerMax = 0.0f;
    a.binCount = kBinCount;
    a.binWidth = kBinWidth;
    std::memset(a.peakFlags, 0, sizeof a.peakFlags);
    a.peakCount = 0;
    std::memset(a.WeightHistogram, 0, sizeof a.WeightHistogram);
    a.weightTotal = 0;

    // The FFT state lives in our own counted block: ask KissFFT for its size first.
    size_t length = 0;
    kiss_fftr_alloc(static_cast<int>(kHistoryLength), 0, nullptr, &length);
    void* memory = AnalysisAlloc(state, length);
    a.fftConfig = kiss_fftr_alloc(static_cast<int>(kHistoryLength), 0, memory, &length);
    if (a.fftConfig == nullptr) throw BuildFailure{kAnalysisMemoryMessage};
}

void ReleaseActivityAnalysis(Simulation& state) {
    ActivityAnalysis& a = state.analysis;
    plat::AlignedFree(a.SpikeHistory);
    plat::AlignedFree(a.spectrum);
    plat::AlignedFree(a.power);
    plat::AlignedFree(a.fftConfig);  // the block handed to kiss_fftr_alloc
    a.SpikeHistory = nullptr;
    a.spectrum = nullptr;
    a.power = nullptr;
    a.fftConfig = nullptr;
}

// ---- 2. History and spectrum -----------------------------------------------------------------

void RecordStepSpikes(Simulation& state, uint64_t count) {
    ActivityAnalysis& a = state.analysis;
    if (a.SpikeHistory == nullptr) return;
    a.SpikeHistory[a.historyPosition] = static_cast<float>(count);
    if (++a.historyPosition >= kHistoryLength) {
        a.historyPosition = 0;
        ComputeSpectrum(state);
    }
}

void ComputeSpectrum(Simulation& state) {
    ActivityAnalysis& a = state.analysis;
    if (a.fftConfig == nullptr) return;
    // The history as it is: no window, no mean removal, no scaling.
    kiss_fftr(a.fftConfig, a.SpikeHistory, reinterpret_cast<kiss_fft_cpx*>(a.spectrum));

    float powerMin = std::numeric_limits<float>::max();
    float powerMax = std::numeric_limits<float>::min();  // smallest positive normal
    a.power[0] = 0.0f;
    for (uint32_t k = 1; k < a.binCount; ++k) {
        const float re = a.spectrum[2 * k];
        const float im = a.spectrum[2 * k + 1];
        const float p = re * re + im * im;
        a.power[k] = p;
        if (p < powerMin) powerMin = p;
        if (p > powerMax) powerMax = p;
    }
    a.powerMin = powerMin;
    a.powerMax = powerMax;

    std::memset(a.peakFlags, 0, sizeof a.peakFlags);
    uint32_t peaks = 0;
    const float threshold = 0.025f * powerMax;
    for (uint32_t k = 1; k + 1 < a.binCount; ++k) {
        const float p = a.power[k];
        if (p > a.power[k - 1] && p > a.power[k + 1] && p > threshold) {
            a.peakFlags[k] = 1;
            ++peaks;
        }
    }
    a.peakCount = peaks;
}

// ---- 3. Weight histogram ---------------------------------------------------------------------

uint32_t WeightBin(float weight) {
    // Negative weights do not occur (depression never takes w below 0); NaN and
    // anything below 0 count in bin 0 rather than wrapping.
    if (!(weight > 0.0f)) return 0;
    const float scaled = std::floor(10.0f * weight);
    return scaled >= 9.0f ? 9u : static_cast<uint32_t>(scaled);
}

void ClearWeightHistogram(Simulation& state) {
    ActivityAnalysis& a = state.analysis;
    for (uint32_t i = 0; i < kWeightBins; ++i) plat::AtomicStore(a.WeightHistogram[i], 0u);
    plat::AtomicStore(a.weightTotal, 0u);
}

namespace {

void CountLanes(const SynapseLaneWeights* blocks, uint32_t count, uint32_t* bins) {
    if (blocks == nullptr) return;
    // Full four-synapse blocks, then the remainder lanes of the last block.
    for (uint32_t i = 0; i < count; ++i) ++bins[WeightBin(blocks[i / 4].weight[i % 4])];
}

}  // namespace

void CountWeights(Simulation& state, uint32_t first, uint32_t end) {
    if (state.neurons == nullptr) return;
    uint32_t bins[kWeightBins] = {};
    CountWeightBins(state, first, end, bins);
    ActivityAnalysis& a = state.analysis;
    uint32_t total = 0;
    for (uint32_t i = 0; i < kWeightBins; ++i) {
        plat::AtomicAdd(a.WeightHistogram[i], bins[i]);
        total += bins[i];
    }
    plat::AtomicAdd(a.weightTotal, total);
}

void CountWeightBins(const Simulation& state, uint32_t first, uint32_t end, uint32_t* bins) {
    if (state.neurons == nullptr) return;
    if (end > state.neuronCount) end = state.neuronCount;
    if (const EventEngine* e = state.eventEngine) {
        // The synapses onto neurons [first, end), from every run (ordered by
        // target): every synapse once over all ranges, each where its state is
        // kept (in a distributed run, the process of its post-synaptic neuron).
        const int32_t until = static_cast<int32_t>(state.stepCounter.load(std::memory_order_acquire)) - 1;
        for (uint32_t n = 0; n < e->neuronCount; ++n) {
            const bool excitatory = state.neurons[n].isExcitatory != 0;
            const EventSlice slice = EventSliceOnto(*e, n, first, end);
            const EventSynapse* run = e->synapses + e->runStart[n];
            for (uint32_t j = slice.lo; j < slice.hi; ++j)
                ++bins[WeightBin(
                    EventWeightOf(state, run[j], e->trains[n].step[EventGroupOf(e->trains[n], j)], excitatory, until).w)];
        }
    } else {
        for (uint32_t n = first; n < end; ++n) {
            const Neuron& neuron = state.neurons[n];
            CountLanes(neuron.excLaneWeights, neuron.excIncomingCount, bins);
            CountLanes(neuron.inhLaneWeights, neuron.inhIncomingCount, bins);
        }
    }
}
