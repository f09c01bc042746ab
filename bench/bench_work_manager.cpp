// Work manager benchmark: the cost of a step's synchronisation alone.
//
// Sections: empty kernels, the run, the wake-up floor, registration.
//
// The kernels do nothing, so a step's time is its three barriers, the chunk
// taking of its three phases and the end-of-step work: the overhead the engine
// adds to the dynamics. 512 neurons is preset 4 (two chunks of 256 on 2 threads).
#include <benchmark/benchmark.h>

#include <thread>

#include "engine/activity.h"
#include "engine/work_manager.h"
#include "io/app_state.h"

namespace {

// ---- Empty kernels --------------------------------------------------------------------------
void NoIntegrate(Simulation&, uint32_t, uint32_t) {}
uint32_t NoApply(Simulation&, uint32_t, uint32_t, int32_t, uint32_t) { return 0; }
void NoLearn(Simulation&, uint32_t, uint32_t, int32_t) {}
void NoStimulus(Simulation&, uint32_t) {}

// ---- The run ---------------------------------------------------------------------------------
// Runs `steps` empty steps on `threads` workers, whose barriers spin before they
// sleep unless `spin` is false; returns the wall time in seconds.
double RunEmptySteps(uint32_t threads, uint32_t neurons, uint32_t steps, bool spin) {
    AppState state;
    state.neuronCount = neurons;
    state.neurons = static_cast<Neuron*>(plat::AlignedAllocZeroed(sizeof(Neuron) * neurons));
    InitActivityAnalysis(state);
    state.stepCounter.store(0);
    WorkManager* wm = CreateWorkManager(threads, neurons);
    wm->kernels = StepKernels{&NoIntegrate, &NoApply, &NoLearn, &NoStimulus};
    if (!spin) wm->spinNs = 0;
    wm->stepTarget = steps;
    LaunchWorkers(state, wm, false);
    wm->targetEvent.Wait();
    PauseWorkers(state, *wm);
    const double seconds = static_cast<double>(wm->lastStepNs - wm->firstStepNs) * 1e-9;
    StopWorkers(state);
    ReleaseActivityAnalysis(state);
    plat::AlignedFree(state.neurons);
    return seconds;
}

void BM_StepSynchronisation(benchmark::State& st) {
    const uint32_t threads = static_cast<uint32_t>(st.range(0));
    const bool spin = st.range(1) != 0;
    constexpr uint32_t kSteps = 20000;
    double total = 0.0;
    for (auto _ : st) {
        const double seconds = RunEmptySteps(threads, 512, kSteps, spin);
        st.SetIterationTime(seconds);
        total += seconds;
    }
    st.counters["us_per_step"] =
        benchmark::Counter(total * 1e6 / (static_cast<double>(kSteps) * st.iterations()));
}

// The floor under the barriers: two threads hand a token back and forth through
// their auto-reset events, so each pass is one wake-up of a sleeping thread.
void BM_EventWakeUp(benchmark::State& st) {
    constexpr uint32_t kPasses = 20000;
    double total = 0.0;
    for (auto _ : st) {
        plat::AutoResetEvent ping, pong;
        std::thread partner([&] {
            for (uint32_t i = 0; i < kPasses; ++i) {
                ping.Wait();
                pong.Set();
            }
        });
        const uint64_t start = SteadyNs();
        for (uint32_t i = 0; i < kPasses; ++i) {
            ping.Set();
            pong.Wait();
        }
        const double seconds = static_cast<double>(SteadyNs() - start) * 1e-9;
        partner.join();
        st.SetIterationTime(seconds);
        total += seconds;
    }
    // Two wake-ups per round trip.
    st.counters["us_per_wake"] =
        benchmark::Counter(total * 1e6 / (2.0 * kPasses * static_cast<double>(st.iterations())));
}

}  // namespace

// ---- Registration ----------------------------------------------------------------------------
// Arguments: threads, spinning barriers (1) or sleeping ones only (0).
BENCHMARK(BM_StepSynchronisation)->Args({1, 1})->Args({2, 0})->Args({2, 1})->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EventWakeUp)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
