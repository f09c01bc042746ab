// Speed of the dynamics against this machine's memory bandwidth, on one thread
// (the triad also on two).
//
// Sections:
//   1. Built networks (presets 5, 6, 7 with seed 1), cached per preset
//   2. Integration phase alone and fire phase alone
//   3. STREAM-style copy and triad on arrays far larger than the last-level cache
//
// Counters: ns_per_synapse (time per synapse per step) and bytes_per_second, the
// effective traffic (the integration phase also gives its bytes_per_step). For the
// integration phase the traffic is the synapse state its layout makes it move each step: per allocated lane group 64 bytes of state read and written
// and 48 bytes of weights read (the arrival flags share the weights' lines). For the
// fire phase it is, per neuron, the record's first cache line and the lines of its
// two delay-line slots, each read and written back (spikes add random accesses that
// are not counted).
// Copy and triad count bytes as STREAM does (2 and 3 arrays per element).
// bench/triad-ratio.sh compares the integration phase with the triad of the same run.
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <cstring>
#include <map>
#include <memory>

#include "engine/dynamics.h"
#include "engine/network.h"
#include "engine/params.h"
#include "engine/random.h"
#include "io/app_state.h"
#include "platform/platform.h"

namespace {

// ---- 1. Built networks ---------------------------------------------------------------------

struct BuiltNetwork {
    std::unique_ptr<AppState> state = std::make_unique<AppState>();
    uint64_t synapses = 0;
    uint64_t integrationBytes = 0;  // per step
    uint64_t fireBytes = 0;         // per step
};

uint64_t Groups(uint32_t count) { return count / 4 + ((count % 4) != 0 ? 1 : 0); }

BuiltNetwork& Network(int preset) {
    static std::map<int, std::unique_ptr<BuiltNetwork>> cache;  // kept for the process life
    // The program runs its workers with flush-to-zero and denormals-are-zero.
    _mm_setcsr(_mm_getcsr() | 0x8040u);
    auto it = cache.find(preset);
    if (it != cache.end()) return *it->second;
    auto built = std::make_unique<BuiltNetwork>();
    AppState& state = *built->state;
    RestoreDefaults(state);
    state.random = RandomGeneratorState{};
    state.random.seed = 1;
    ApplyPreset(state.params, preset);
    BuildNetwork(state);
    for (uint32_t i = 0; i < state.neuronCount; ++i) {
        const Neuron& n = state.neurons[i];
        built->synapses += n.incomingCount;
        const uint64_t groups = Groups(n.excIncomingCount) + Groups(n.inhIncomingCount);
        built->integrationBytes += groups * (2 * sizeof(SynapseLaneState) + sizeof(SynapseLaneWeights));
    }
    built->fireBytes = static_cast<uint64_t>(state.neuronCount) * (2 * 64 + 2 * 2 * 64);
    // Let the network settle into its running state before measuring.
    for (int s = 0; s < 50; ++s) StepNetwork(state);
    return *cache.emplace(preset, std::move(built)).first->second;
}

void FirePhase(AppState& state) {
    const int32_t s = static_cast<int32_t>(state.stepCounter.load());
    FireApplyRange(state, 0, state.neuronCount, s);
    FireLearnRange(state, 0, state.neuronCount, s);
    state.stepCounter.fetch_add(1);
}

void SetCounters(benchmark::State& bench, const BuiltNetwork& net, uint64_t bytesPerStep) {
    bench.counters["ns_per_synapse"] = benchmark::Counter(
        static_cast<double>(net.synapses) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    bench.counters["synapses"] = static_cast<double>(net.synapses);
    bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations() * bytesPerStep));
}

// ---- 2. Phases -----------------------------------------------------------------------------

// The other phase runs untimed between the timed ones, so the network keeps firing
// and the arrivals stay realistic.
void BM_IntegrationPhase(benchmark::State& bench) {
    BuiltNetwork& net = Network(static_cast<int>(bench.range(0)));
    AppState& state = *net.state;
    for (auto _ : bench) {
        UpdateChunk(state, 0, state.neuronCount);
        bench.PauseTiming();
        FirePhase(state);
        bench.ResumeTiming();
    }
    SetCounters(bench, net, net.integrationBytes);
    bench.counters["bytes_per_step"] = static_cast<double>(net.integrationBytes);
}

void BM_FirePhase(benchmark::State& bench) {
    BuiltNetwork& net = Network(static_cast<int>(bench.range(0)));
    AppState& state = *net.state;
    for (auto _ : bench) {
        bench.PauseTiming();
        UpdateChunk(state, 0, state.neuronCount);
        bench.ResumeTiming();
        FirePhase(state);
    }
    SetCounters(bench, net, net.fireBytes);
}

BENCHMARK(BM_IntegrationPhase)->Arg(5)->Arg(6)->Arg(7)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FirePhase)->Arg(5)->Arg(6)->Arg(7)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- 3. Memory bandwidth ---------------------------------------------------------------------

constexpr size_t kStreamFloats = size_t{48} << 20;  // 192 MiB per array

struct StreamArrays {
    float* a;
    float* b;
    float* c;
    StreamArrays() {
        a = static_cast<float*>(plat::AlignedAllocZeroed(kStreamFloats * sizeof(float)));
        b = static_cast<float*>(plat::AlignedAllocZeroed(kStreamFloats * sizeof(float)));
        c = static_cast<float*>(plat::AlignedAllocZeroed(kStreamFloats * sizeof(float)));
        for (size_t i = 0; i < kStreamFloats; ++i) {
            b[i] = 1.0f;
            c[i] = 2.0f;
        }
    }
    ~StreamArrays() {
        plat::AlignedFree(a);
        plat::AlignedFree(b);
        plat::AlignedFree(c);
    }
};

void BM_StreamCopy(benchmark::State& bench) {
    StreamArrays s;
    for (auto _ : bench) {
        for (size_t i = 0; i < kStreamFloats; i += 8) _mm256_storeu_ps(s.a + i, _mm256_loadu_ps(s.b + i));
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations() * 2 * kStreamFloats * sizeof(float)));
}

void BM_StreamTriad(benchmark::State& bench) {
    StreamArrays s;
    const __m256 scalar = _mm256_set1_ps(3.0f);
    for (auto _ : bench) {
        for (size_t i = 0; i < kStreamFloats; i += 8) {
            const __m256 x = _mm256_add_ps(_mm256_loadu_ps(s.b + i), _mm256_mul_ps(scalar, _mm256_loadu_ps(s.c + i)));
            _mm256_storeu_ps(s.a + i, x);
        }
        benchmark::ClobberMemory();
    }
    bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations() * 3 * kStreamFloats * sizeof(float)));
}

BENCHMARK(BM_StreamCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
// On one thread and on two (each thread its own arrays; the rate is their sum).
BENCHMARK(BM_StreamTriad)->Unit(benchmark::kMillisecond)->UseRealTime()->Threads(1)->Threads(2);

}  // namespace

BENCHMARK_MAIN();
