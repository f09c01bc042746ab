// Network construction time for every geometry preset.
//
// Sections:
//   1. One build per iteration: preset K with seed 1 (the log is silenced)
//   2. Registration of the 13 presets
//
// Counters: neurons, synapses, MemoryUsage in MiB. Run with
//   build-<dir>/bench/bench_build --benchmark_filter=.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <unistd.h>
#include <fcntl.h>

#include "engine/params.h"
#include "engine/random.h"
#include "io/app_state.h"

namespace {

// Builds write their log lines to standard output; keep them out of the table.
struct QuietStdout {
    int saved = -1;
    QuietStdout() {
        std::fflush(stdout);
        saved = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
};

void BM_BuildPreset(benchmark::State& bench) {
    const int preset = static_cast<int>(bench.range(0));
    static AppState state;  // large record; one per process
    double synapses = 0, memory = 0, neurons = 0;
    for (auto _ : bench) {
        bench.PauseTiming();
        SetDefaultParams(state.params, 1);
        ApplyPreset(state.params, preset);
        state.random = RandomGeneratorState{};
        state.random.seed = 1;
        bench.ResumeTiming();
        {
            QuietStdout quiet;
            BuildNetwork(state);
        }
        bench.PauseTiming();
        synapses = state.params.synapseCount;
        memory = static_cast<double>(state.MemoryUsage) / (1024.0 * 1024.0);
        neurons = state.neuronCount;
        ReleaseNetwork(state);
        bench.ResumeTiming();
    }
    bench.counters["neurons"] = neurons;
    bench.counters["synapses"] = synapses;
    bench.counters["MiB"] = memory;
    bench.SetLabel(GeometryPresets[preset].label);
}

}  // namespace

BENCHMARK(BM_BuildPreset)->DenseRange(0, kPresetCount - 1)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
