// Lifecycle tests.
//
// Sections:
//   1. Statistics and run-summary lines
//   2. Start, pause, resume and stop on a small network (512 neurons)
//   3. Task threads against stop and shutdown
//   4. Headless step runs
//   5. Checkpoints of a running and a paused simulation
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/lifecycle.h"
#include "engine/random.h"
#include "engine/work_manager.h"
#include "io/app_state.h"
#include "io/checkpoint.h"
#include "vis/view_state.h"

namespace {

// ---- 1. Statistics and summary lines -------------------------------------------------------------

TEST(StatisticsLine, AverageAndRecentSpeed) {
    // 20000 steps = 10 s simulated in 20 s since the start: 0.5x on average; the
    // last 2 s ran 4000 steps (2 s simulated): 1.0x recently.
    EXPECT_EQ(FormatStatisticsText(20000, 16000, 21000, 1000, 19000),
              "Simulation time: 10000.0 ms (Real time factor: 1.000x recent, 0.500x avg.)");
    // The millisecond clock wraps: 0xFFFFFF00 to 0x00000100 is 512 ms.
    EXPECT_EQ(FormatStatisticsText(512, 0, 0x100u, 0xFFFFFF00u, 0xFFFFFF00u),
              "Simulation time: 256.0 ms (Real time factor: 0.500x recent, 0.500x avg.)");
    // A run resumed at step 16000: 4000 steps in 2 s of its own.
    EXPECT_NE(FormatStatisticsText(20000, 16000, 3000, 1000, 1000, 16000).find("1.000x avg."), std::string::npos);
    // No time elapsed: no division by zero.
    EXPECT_EQ(FormatStatisticsText(0, 0, 500, 500, 500),
              "Simulation time: 0.0 ms (Real time factor: 0.000x recent, 0.000x avg.)");
}

TEST(ProgressLine, StepsSimulatedTimeSpeedAndTimeLeft) {
    // 12000 of 20000 steps (6 s simulated) in 12 s: 0.5x, 8000 steps left take 8 s.
    EXPECT_EQ(FormatProgressLine(12000, 20000, 12.0),
              "Step 12000 of 20000 (60%): 6000.0 ms simulated, real-time factor 0.500, 8 s left");
    EXPECT_NE(FormatProgressLine(1000, 20000, 10.0).find("3 min 10 s left"), std::string::npos);
    EXPECT_NE(FormatProgressLine(1000, 2000000, 10.0).find("5 h 33 min left"), std::string::npos);
    EXPECT_EQ(FormatProgressLine(0, 100, 0.0),
              "Step 0 of 100 (0%): 0.0 ms simulated, real-time factor 0.000, ... left");
}

TEST(RunSummaryLine, Format) {
    RunSummary s{};
    s.steps = 2000;
    s.simulatedMs = 1000.0;
    s.wallSeconds = 0.5;
    s.spikes = 51200;
    s.neuronCount = 512;  // 51200 spikes / 512 neurons / 1 s = 100 Hz
    EXPECT_EQ(FormatRunSummary(s),
              "Ran 2000 steps (1000.0 ms simulated) in 0.500 s: real-time factor 2.000, 51200 "
              "spikes, mean rate 100.00 Hz");
    s.integrationSeconds = 0.4;  // 0.2 ms of a 0.25 ms step
    EXPECT_EQ(FormatPhaseSummary(s),
              "Integration phase 0.200 ms per step; whole step 0.250 ms, 1.25x the integration");
    s = RunSummary{};
    EXPECT_EQ(FormatRunSummary(s),
              "Ran 0 steps (0.0 ms simulated) in 0.000 s: real-time factor 0.000, 0 spikes, mean "
              "rate 0.00 Hz");
    EXPECT_EQ(FormatPhaseSummary(s), "");  // nothing ran: no line, no division by zero
}

// ---- 2. Lifecycle on a small network -----------------------------------------------------------------

struct LifecycleFixture : ::testing::Test {
    AppState state;
    void SetUp() override {
        RestoreDefaults(state);
        ApplyPreset(state.params, 4);  // 8 x 8 x 8 cube: 512 neurons
        state.params.workerThreads = 2;
        // The generator is seeded as the entry point does (a zero seed is never used).
        state.random = RandomGeneratorState{};
        state.random.seed = 12345;
        state.AddObserver(CaptureGate.Observer());  // as the entry point does
    }
    void TearDown() override {
        StopSimulation(state);
        CaptureGate.on.store(0);
    }
    void WaitForSteps(uint32_t steps) {
        for (int i = 0; i < 1000 && state.stepCounter.load() < steps; ++i) plat::SleepMs(5);
    }
    // Runs a task synchronously, as its thread would.
    void Run(void (*task)(ToolboxTask*)) { task(new ToolboxTask{nullptr, &state}); }
};

// Indices of the given lines in the captured log, in the order found; -1 when missing.
std::vector<long> LinePositions(const std::string& log, const std::vector<std::string>& lines) {
    std::vector<long> at;
    for (const std::string& line : lines) {
        const size_t p = log.find("] " + line + "\n");
        at.push_back(p == std::string::npos ? -1 : static_cast<long>(p));
    }
    return at;
}

TEST_F(LifecycleFixture, StartPauseStopLogsInOrderAndFreesEverything) {
    testing::internal::CaptureStdout();
    StartSimulation(state);
    EXPECT_EQ(state.SimState, SimStateRunning);
    EXPECT_NE(state.neurons, nullptr);
    WaitForSteps(3);
    Run(&PauseResumeTask);
    EXPECT_EQ(state.SimState, SimStatePaused);
    StopSimulation(state);
    const std::string log = testing::internal::GetCapturedStdout();
    const std::vector<long> at = LinePositions(
        log, {"Initializing new simulation. Please wait.", "Initializing work manager and worker threads...",
              "Starting the engine.", "Simulation memory usage: 1 MiB", "Simulation started.",
              "Simulation paused.", "Stopping current simulation... ", "Simulation resumed.",
              "Simulation stopped. All resources are released."});
    for (size_t i = 0; i < at.size(); ++i) {
        EXPECT_GE(at[i], 0) << "line " << i << " missing in\n" << log;
        if (i > 0) {
            EXPECT_LT(at[i - 1], at[i]) << "line " << i << " out of order";
        }
    }
    EXPECT_EQ(log.find("] Engine: "), std::string::npos);  // only the event engine is named
    EXPECT_EQ(state.SimState, SimStateNone);
    EXPECT_EQ(state.workManager, nullptr);
    EXPECT_EQ(state.workers, nullptr);
    EXPECT_EQ(state.neurons, nullptr);
}

TEST_F(LifecycleFixture, PauseFreezesStepCounterAndMovesStartTime) {
    StartSimulation(state);
    WaitForSteps(5);
    const uint32_t startBefore = state.startTimeMs.load();
    Run(&PauseResumeTask);  // holds 300 ms
    ASSERT_EQ(state.SimState, SimStatePaused);
    const uint32_t frozen = state.stepCounter.load();
    plat::SleepMs(200);
    EXPECT_EQ(state.stepCounter.load(), frozen);
    Run(&PauseResumeTask);
    EXPECT_EQ(state.SimState, SimStateRunning);
    // Paused for at least the 300 ms hold and the 200 ms wait.
    const uint32_t moved = state.startTimeMs.load() - startBefore;
    EXPECT_GE(moved, 480u);
    EXPECT_LT(moved, 5000u);
    WaitForSteps(frozen + 1);
    EXPECT_GT(state.stepCounter.load(), frozen);
}

TEST_F(LifecycleFixture, PauseWhileNotRunningDoesNothing) {
    const auto start = std::chrono::steady_clock::now();
    Run(&PauseResumeTask);
    const double held = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(state.SimState, SimStateNone);
    EXPECT_GE(held, 0.29);  // the task still holds its 300 ms
}

TEST_F(LifecycleFixture, StopEndsInBoundedTimeWhileCaptureWaits) {
    CaptureGate.on.store(1);
    StartSimulation(state);
    plat::SleepMs(50);
    EXPECT_LE(state.stepCounter.load(), 1u);  // no frame captured: the first step waits for one
    const auto start = std::chrono::steady_clock::now();
    StopSimulation(state);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(took, 2.0);
    EXPECT_EQ(state.SimState, SimStateNone);
}

TEST_F(LifecycleFixture, StartStopTaskTogglesAndRestartCountsFromZero) {
    Run(&StartStopTask);
    EXPECT_EQ(state.SimState, SimStateRunning);
    WaitForSteps(20);
    Run(&StartStopTask);
    EXPECT_EQ(state.SimState, SimStateNone);
    EXPECT_GE(state.stepCounter.load(), 20u);
    state.params.workerThreads = 1;
    // Capture holds the workers after their first step, so the count seen here is
    // the one the restart began with, plus at most that step.
    CaptureGate.on.store(1);
    StartSimulation(state);
    EXPECT_LE(state.stepCounter.load(), 1u);
    EXPECT_EQ(state.workerCount, 1u);
    StopSimulation(state);
}

// ---- 3. Task threads against stop and shutdown ----------------------------------------------------------

// A stop (or a stop and a new start) while a pause task waits for the workers to
// park: the pause either completes before the stop or finds nothing to pause, and
// never acts on a freed work manager (ThreadSanitizer's build reports that).
TEST_F(LifecycleFixture, StopWhilePauseTaskWaitsForTheWorkers) {
    testing::internal::CaptureStdout();
    for (uint32_t round = 0; round < 8; ++round) {
        StartSimulation(state);
        ASSERT_TRUE(StartTask(&PauseResumeTask, nullptr, state));
        plat::SleepMs(round * 3);
        StopSimulation(state);
        if (round % 2 == 1) {
            StartSimulation(state);
            StopSimulation(state);
        }
        FinishTaskThreads();
        EXPECT_EQ(state.SimState, SimStateNone);
        EXPECT_EQ(state.workManager, nullptr);
    }
    const std::string log = testing::internal::GetCapturedStdout();
    // Nothing pauses between a stop's first and last line.
    for (size_t at = log.find("Stopping current simulation... "); at != std::string::npos;
         at = log.find("Stopping current simulation... ", at + 1)) {
        const size_t end = log.find("Simulation stopped. All resources are released.", at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_EQ(log.substr(at, end - at).find("Simulation paused."), std::string::npos) << log;
    }
}

// Counts the button updates the tasks send to their toolbox.
struct CountingListener final : TaskListener {
    std::atomic<int> applied{0};
    void ShowSimulationState(uint32_t, bool) override { applied.fetch_add(1); }
    void DisableButtons() override {}
    void RebuildPalettes(AppState&) override {}
};

// The shutdown detaches and destroys the toolbox after FinishTaskThreads:
// by then every task has made its last call into the toolbox.
TEST_F(LifecycleFixture, FinishTaskThreadsWaitsForTheTasksToEnd) {
    CountingListener toolbox;
    const bool visualization = VisualizationOn.load();
    ASSERT_TRUE(StartTask(&VisualizationToggleTask, &toolbox, state));
    ASSERT_TRUE(StartTask(&PauseResumeTask, &toolbox, state));
    FinishTaskThreads();
    EXPECT_EQ(toolbox.applied.load(), 2);  // both held 300 ms, then refreshed the buttons
    VisualizationOn.store(visualization);
}

// Thread creation failing for the workers (here: 256 thread stacks in 1 GB of
// address space) is the work manager's fatal low-memory error: status 1, no abort.
TEST(StartFailure, WorkerThreadsThatCannotBeCreatedAreAFatalError) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a sanitizer runtime does not start in 1 GB of address space";
#endif
    const std::string command = std::string("ulimit -v 1000000; ulimit -s 8192; exec '") + VELLICOR_BINARY +
                                "' headless seed=1 preset=4 threads=256 steps=10 </dev/null 2>/dev/null";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string log;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;) log.append(buffer, n);
    const int status = pclose(out);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << log;
    EXPECT_EQ(WEXITSTATUS(status), 1) << log;
    EXPECT_NE(log.find("] Initialization of the work manager failed due to low system memory conditions!\n"),
              std::string::npos)
        << log;
}

// ---- 4. Headless step runs -------------------------------------------------------------------------------

TEST_F(LifecycleFixture, RunStepsHeadlessRunsExactlyNSteps) {
    for (uint32_t steps : {1u, 37u, 250u}) {
        const RunSummary s = RunStepsHeadless(state, steps);
        EXPECT_EQ(s.steps, steps);
        EXPECT_EQ(state.stepCounter.load(), steps);
        EXPECT_DOUBLE_EQ(s.simulatedMs, 0.5 * steps);
        EXPECT_EQ(s.neuronCount, 512u);
        EXPECT_GT(s.wallSeconds, 0.0);
        EXPECT_GT(s.integrationSeconds, 0.0);
        EXPECT_LT(s.integrationSeconds, s.wallSeconds);
        EXPECT_EQ(state.SimState, SimStateNone);
        EXPECT_EQ(state.neurons, nullptr);
    }
    // Zero steps builds the network and releases it, without starting workers.
    const RunSummary none = RunStepsHeadless(state, 0);
    EXPECT_EQ(none.steps, 0u);
    EXPECT_EQ(none.neuronCount, 512u);
    EXPECT_EQ(state.neurons, nullptr);
    EXPECT_EQ(state.workManager, nullptr);
    EXPECT_EQ(state.SimState, SimStateNone);
    // The same seed gives the same spike total on one and on two threads.
    state.random = RandomGeneratorState{};
    state.random.seed = 1;
    state.params.workerThreads = 2;
    const RunSummary two = RunStepsHeadless(state, 200);
    state.random = RandomGeneratorState{};
    state.random.seed = 1;
    state.params.workerThreads = 1;
    const RunSummary one = RunStepsHeadless(state, 200);
    EXPECT_GT(one.spikes, 0u);
    EXPECT_EQ(one.spikes, two.spikes);
}

// ---- 5. Checkpoints ------------------------------------------------------------------------------------

TEST_F(LifecycleFixture, CheckpointParksBetweenStepsAndLeavesTheSimulationAsItWas) {
    const std::string folder = std::filesystem::temp_directory_path().string();
    std::string path;
    EXPECT_FALSE(CheckpointSimulation(state, folder, path));  // no simulation
    StartSimulation(state);
    WaitForSteps(20);
    ASSERT_TRUE(CheckpointSimulation(state, folder, path));
    EXPECT_EQ(state.SimState, SimStateRunning);
    CheckpointReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(path, error)) << error;
    const uint32_t saved = reader.Step();
    EXPECT_GE(saved, 20u);
    EXPECT_EQ(path, folder + "/vellicor-checkpoint-" + std::to_string(saved) + ".h5");
    WaitForSteps(saved + 10);
    EXPECT_GT(state.stepCounter.load(), saved);  // it runs on
    std::filesystem::remove(path);

    Run(&PauseResumeTask);
    const uint32_t paused = state.stepCounter.load();
    ASSERT_TRUE(CheckpointSimulation(state, folder, path));
    EXPECT_EQ(path, folder + "/vellicor-checkpoint-" + std::to_string(paused) + ".h5");
    EXPECT_EQ(state.SimState, SimStatePaused);
    plat::SleepMs(50);
    EXPECT_EQ(state.stepCounter.load(), paused);  // still paused
    std::filesystem::remove(path);
}

// K writes the event engine's state too, and the simulation runs on.
TEST_F(LifecycleFixture, TheEventEngineIsNamedAtTheStartAndWritesCheckpoints) {
    const std::string folder = std::filesystem::temp_directory_path().string();
    state.params.engineMode = EngineEvent;
    testing::internal::CaptureStdout();
    StartSimulation(state);
    WaitForSteps(5);
    std::string path;
    EXPECT_TRUE(CheckpointSimulation(state, folder, path));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(state.SimState, SimStateRunning);
    const std::vector<long> at = LinePositions(
        log, {"Initializing new simulation. Please wait.", "Engine: event-driven (per-neuron conductances).",
              "Simulation started."});
    EXPECT_TRUE(at[0] >= 0 && at[0] < at[1] && at[1] < at[2]) << log;
    EXPECT_TRUE(std::filesystem::exists(path)) << log;
    std::filesystem::remove(path);
}

}  // namespace
