// The event engine's network statistics against the exact engine's.
//
// Sections:
//   1. One run: rates, spectrum and weight histogram of 10 s simulated
//   2. The table and the verdict
//
// Spike trains of the two engines part within some steps (the network is
// chaotic); what must agree is the statistics: excitatory and inhibitory mean
// rates within 3%, the spectrum's main peak within 1 Hz, every weight-histogram
// bin within 2 percentage points. Presets 5 and 6, seeds 1 to 3, 2 worker threads.
// Usage: bench_event_stats [seconds] [presets...]   (default 10 s, presets 5 6);
// presets below 5 are skipped (too few neurons for stable statistics).
// Exit status 1 when a figure is out of bounds.
#include <kiss_fftr.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/activity.h"
#include "engine/simulation.h"
#include "engine/synapses.h"
#include "io/app_state.h"

namespace {

// ---- 1. One run ------------------------------------------------------------------------------------

struct RunStatistics {
    double excRate = 0, inhRate = 0;  // Hz
    double peakHz = 0;                // largest power between 1 and 100 Hz, averaged spectrum
    double weightPercent[kWeightBins] = {};
};

// Spikes per step, recorded by an observer at the end of every step.
struct SpikeTrace {
    std::vector<float> perStep;
};

void Stepped(void* context, const Simulation& sim, uint32_t) {
    const ActivityAnalysis& a = sim.analysis;
    const uint32_t last = (a.historyPosition + kHistoryLength - 1) % kHistoryLength;
    static_cast<SpikeTrace*>(context)->perStep.push_back(a.SpikeHistory[last]);
}

// The main peak: the largest bin from 1 Hz up to 100 Hz of the mean power spectrum
// of half-overlapping windows of kHistoryLength steps (the chart's window), smoothed
// over five bins (about 5 Hz). The network's rhythm is a broad hump whose top bins
// are nearly equal, so the raw largest bin jumps between them from run to run.
double PeakFrequency(const std::vector<float>& perStep) {
    const uint32_t n = kHistoryLength;
    kiss_fftr_cfg fft = kiss_fftr_alloc(static_cast<int>(n), 0, nullptr, nullptr);
    std::vector<float> window(n);
    std::vector<kiss_fft_cpx> out(n / 2 + 1);
    std::vector<double> power(n / 2 + 1, 0.0);
    for (size_t start = 0; start + n <= perStep.size(); start += n / 2) {
        double mean = 0;
        for (uint32_t i = 0; i < n; ++i) mean += perStep[start + i];
        mean /= n;
        for (uint32_t i = 0; i < n; ++i) window[i] = static_cast<float>(perStep[start + i] - mean);
        kiss_fftr(fft, window.data(), out.data());
        for (uint32_t k = 0; k <= n / 2; ++k) power[k] += double(out[k].r) * out[k].r + double(out[k].i) * out[k].i;
    }
    kiss_fftr_free(fft);
    const auto smoothed = [&power](uint32_t k) {
        double sum = 0;
        for (uint32_t j = k - 2; j <= k + 2; ++j) sum += power[j];
        return sum;
    };
    uint32_t best = 3;
    for (uint32_t k = 3; k < kBinCount; ++k)
        if (smoothed(k) > smoothed(best)) best = k;
    return best * double(kBinWidth);
}

bool Run(int preset, uint32_t seed, uint8_t engine, uint32_t steps, RunStatistics& out) {
    AppState sim;
    RestoreDefaults(sim);
    ApplyPreset(sim.params, preset);
    sim.params.workerThreads = 2;
    sim.params.engineMode = engine;
    sim.random = RandomGeneratorState{};
    sim.random.seed = seed;
    SpikeTrace trace;
    trace.perStep.reserve(steps);
    sim.AddObserver(SimulationObserver{&trace, nullptr, &Stepped, nullptr, nullptr, nullptr});
    if (sim.Start(steps).status != SimStatus::Ok) return false;
    while (!sim.WaitForTarget(1000)) {
    }
    sim.Park();
    uint64_t excSpikes = 0, inhSpikes = 0, excCount = 0, inhCount = 0;
    uint64_t bins[kWeightBins] = {}, weights = 0;
    for (uint32_t i = 0; i < sim.neuronCount; ++i) {
        const Neuron& n = sim.neurons[i];
        (n.isExcitatory ? excSpikes : inhSpikes) += n.spikeCount;
        (n.isExcitatory ? excCount : inhCount) += 1;
        for (uint32_t k = 0; k < n.incomingCount; ++k) ++bins[WeightBin(IncomingWeight(sim, i, k))];
        weights += n.incomingCount;
    }
    sim.Stop();
    // The warm-up's spikes are in the counts too, the same in both engines.
    const double seconds = steps * 0.0005;
    out.excRate = excCount ? excSpikes / (excCount * seconds) : 0;
    out.inhRate = inhCount ? inhSpikes / (inhCount * seconds) : 0;
    out.peakHz = PeakFrequency(trace.perStep);
    for (uint32_t b = 0; b < kWeightBins; ++b) out.weightPercent[b] = weights ? 100.0 * bins[b] / weights : 0;
    return true;
}

double RelativeDifference(double a, double b) { return b != 0 ? std::fabs(a - b) / b : std::fabs(a); }

}  // namespace

// ---- 2. The table -------------------------------------------------------------------------------------

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    std::vector<int> presets;
    for (int i = 2; i < argc; ++i)
        if (std::atoi(argv[i]) >= 5) presets.push_back(std::atoi(argv[i]));
    if (argc <= 2) presets = {5, 6};
    if (presets.empty()) {
        std::printf("Event engine statistics: skipped (they need preset 5 or a larger network).\n");
        return 0;
    }
    const uint32_t steps = static_cast<uint32_t>(seconds / 0.0005);
    std::printf("Event engine against exact engine: %.1f s simulated, 2 threads\n", seconds);
    std::printf("%-7s %-5s %14s %14s %14s %14s %12s %12s %10s\n", "preset", "seed", "exc Hz exact", "exc Hz event",
                "inh Hz exact", "inh Hz event", "peak exact", "peak event", "max bin pp");
    bool ok = true;
    for (int preset : presets) {
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            RunStatistics exact, event;
            if (!Run(preset, seed, EngineExact, steps, exact) || !Run(preset, seed, EngineEvent, steps, event)) {
                std::printf("%-7d %-5u failed to start\n", preset, seed);
                ok = false;
                continue;
            }
            double binDifference = 0;
            for (uint32_t b = 0; b < kWeightBins; ++b)
                binDifference = std::fmax(binDifference, std::fabs(exact.weightPercent[b] - event.weightPercent[b]));
            const bool rowOk = RelativeDifference(event.excRate, exact.excRate) <= 0.03 &&
                               RelativeDifference(event.inhRate, exact.inhRate) <= 0.03 &&
                               std::fabs(event.peakHz - exact.peakHz) <= 1.0 && binDifference <= 2.0;
            ok = ok && rowOk;
            std::printf("%-7d %-5u %14.2f %14.2f %14.2f %14.2f %10.2f Hz %10.2f Hz %10.2f %s\n", preset, seed,
                        exact.excRate, event.excRate, exact.inhRate, event.inhRate, exact.peakHz, event.peakHz,
                        binDifference, rowOk ? "" : "  OUT OF BOUNDS");
        }
    }
    std::printf("%s\n", ok ? "All statistics within bounds." : "Some statistics out of bounds.");
    return ok ? 0 : 1;
}
