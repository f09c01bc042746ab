// The Simulation object: errors as values, and two simulations side by side in
// one process giving exactly what each gives alone.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "engine/simulation.h"

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr uint32_t kSteps = 60;
#else
constexpr uint32_t kSteps = 400;
#endif

struct RunResult {
    uint64_t digest = 0;
    uint64_t spikes = 0;
    uint32_t steps = 0;
};

// FNV-1a over every neuron's v, u and spike count.
uint64_t Digest(const Simulation& sim) {
    uint64_t hash = 0xcbf29ce484222325ull;
    auto add = [&](const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        for (size_t i = 0; i < n; ++i) hash = (hash ^ b[i]) * 0x100000001b3ull;
    };
    for (uint32_t i = 0; i < sim.neuronCount; ++i) {
        const Neuron& n = sim.neurons[i];
        add(&n.v, sizeof n.v);
        add(&n.u, sizeof n.u);
        add(&n.spikeCount, sizeof n.spikeCount);
    }
    return hash;
}

// Preset 9 (2048 neurons), plasticity and stimulus on, 2 worker threads.
void Configure(Simulation& sim, uint32_t seed) {
    SetDefaultParams(sim.params, 2);
    ApplyPreset(sim.params, 9);
    sim.params.workerThreads = 2;
    sim.stimulusOn = 1;
    sim.random = SeededRandom(seed);
}

RunResult RunPreset9(uint32_t seed) {
    Simulation sim;
    Configure(sim, seed);
    RunResult r;
    const SimResult started = sim.Start(kSteps);
    EXPECT_TRUE(started.ok()) << started.error;
    if (!started.ok()) return r;
    while (!sim.WaitForTarget(1000)) {
    }
    sim.Park();
    r.steps = sim.stepCounter.load();
    r.spikes = sim.Totals().spikes;
    EXPECT_EQ(sim.WhileParked([](void* c, Simulation& s) { *static_cast<uint64_t*>(c) = Digest(s); }, &r.digest),
              SimStatus::Ok);
    sim.Stop();
    EXPECT_EQ(sim.State(), SimStateNone);
    EXPECT_EQ(sim.neurons, nullptr);
    return r;
}

TEST(Simulation, TwoSideBySideEqualEachAlone) {
    testing::internal::CaptureStdout();
    const RunResult aloneA = RunPreset9(1), aloneB = RunPreset9(2);
    RunResult togetherA, togetherB;
    std::thread a([&] { togetherA = RunPreset9(1); });
    std::thread b([&] { togetherB = RunPreset9(2); });
    a.join();
    b.join();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(aloneA.steps, kSteps);
    EXPECT_NE(aloneA.digest, aloneB.digest);  // different seeds, different networks
    EXPECT_EQ(togetherA.digest, aloneA.digest);
    EXPECT_EQ(togetherA.spikes, aloneA.spikes);
    EXPECT_EQ(togetherB.digest, aloneB.digest);
    EXPECT_EQ(togetherB.spikes, aloneB.spikes);
    EXPECT_EQ(togetherB.steps, kSteps);
}

// A network made by Build, started, then advanced in pieces (with a park in
// between, as an interrupted run leaves it) gives the bits of one run.
TEST(Simulation, BuiltThenAdvancedInPiecesEqualsOneRun) {
    testing::internal::CaptureStdout();
    const RunResult whole = RunPreset9(1);
    Simulation sim;
    Configure(sim, 1);
    ASSERT_TRUE(sim.Build().ok());
    ASSERT_TRUE(sim.Start(kSteps / 4).ok());
    while (!sim.WaitForTarget(1000)) {
    }
    ASSERT_TRUE(sim.Advance(kSteps / 4).ok());
    sim.Park();  // somewhere in the second piece
    const uint32_t parkedAt = sim.stepCounter.load();
    EXPECT_GT(parkedAt, kSteps / 4);
    if (parkedAt < kSteps) {
        ASSERT_TRUE(sim.Advance(kSteps - parkedAt).ok());
        while (!sim.WaitForTarget(1000)) {
        }
    }
    RunResult pieces;
    pieces.steps = sim.stepCounter.load();
    EXPECT_EQ(sim.WhileParked([](void* c, Simulation& s) { *static_cast<uint64_t*>(c) = Digest(s); }, &pieces.digest),
              SimStatus::Ok);
    sim.Stop();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(pieces.steps, kSteps);
    EXPECT_EQ(pieces.digest, whole.digest);
}

TEST(Simulation, FailedBuildIsAnErrorValueAndLeavesNothing) {
    Simulation sim;
    Configure(sim, 1);
    sim.params.gridX = sim.params.gridY = sim.params.gridZ = 1024;  // 2^30 cells: too many
    testing::internal::CaptureStdout();
    const SimResult result = sim.Start();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(result.status, SimStatus::NoResources);
    EXPECT_EQ(result.error, "Unable to allocate memory for the neural network!");
    EXPECT_EQ(sim.State(), SimStateNone);
    EXPECT_EQ(sim.workManager, nullptr);
    EXPECT_EQ(sim.neurons, nullptr);
    EXPECT_EQ(sim.analysis.SpikeHistory, nullptr);
    // The same object builds once the parameters are sound.
    ApplyPreset(sim.params, 4);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(sim.Build().ok());
    EXPECT_EQ(sim.Build().status, SimStatus::Busy);
    sim.Release();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(sim.neurons, nullptr);
}

// Writes made back to back while the simulation runs (K pressed twice, or K after
// P) each see one step's state: the workers stay parked for the whole write.
TEST(Simulation, BackToBackParkedWritesSeeTheNetworkAtRest) {
    Simulation sim;
    Configure(sim, 3);
    ApplyPreset(sim.params, 4);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(sim.Start().ok());
    uint32_t moved = 0;  // writes during which the network changed
    const auto write = [](void* c, Simulation& s) {
        const uint32_t before = s.stepCounter.load();
        const uint64_t digest = Digest(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (s.stepCounter.load() != before || Digest(s) != digest) ++*static_cast<uint32_t*>(c);
    };
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(sim.WhileParked(write, &moved), SimStatus::Ok);
        if (i % 3 == 0) {  // a pause and a resume between writes leave no stale park either
            sim.Pause();
            EXPECT_EQ(sim.WhileParked(write, &moved), SimStatus::Ok);
            sim.Resume();
        }
    }
    sim.Stop();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(moved, 0u);
}

}  // namespace
