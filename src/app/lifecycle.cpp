// Simulation lifecycle control.
//
// Sections:
//   1. Process-wide values
//   2. Start sequence
//   3. Stop sequence
//   4. Pause and resume
//   5. Task threads
//   6. Toolbox buttons
//   7. Headless runs and the statistics line
//   8. Checkpoints
#include "app/lifecycle.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <list>
#include <mutex>
#include <new>
#include <thread>

#include "app/shell.h"
#include "engine/app_state.h"
#include "engine/work_manager.h"
#include "io/checkpoint.h"
#include "platform/console_keys.h"
#include "platform/log.h"

// ---- 1. Process-wide values -----------------------------------------------------------
// Globals: a process runs one simulation lifecycle, driven from the main thread,
// the task threads and the window (see lifecycle.h).

std::atomic<bool> VisualizationOn{true};
std::atomic<uint32_t> PauseStartTime{0};
std::atomic<uint32_t> ResumeTime{0};
std::atomic<uint32_t> LastSampleSteps{0};

namespace {

constexpr uint32_t kTaskHoldMs = 300;

// Serialises start, stop, pause and resume, whichever thread asks: a stop never
// frees the work manager while a pause waits for its workers, and a start never
// overlaps a stop. Taken before StateLock, never the other way round. One per
// process, as the lifecycle is.
std::mutex LifecycleLock;

uint32_t CurrentState(const AppState& state) { return plat::AtomicLoad(state.SimState); }

void SetStateLocked(AppState& state, uint32_t value) {
    plat::LockGuard guard(state.StateLock);
    plat::AtomicStore(state.SimState, value);
}

void MoveFocus(TaskListener* toolbox) {
    if (toolbox != nullptr) toolbox->MoveFocus();
}

void HoldSince(uint32_t startTick) {
    const uint32_t elapsed = plat::TickCount() - startTick;
    if (elapsed < kTaskHoldMs) plat::SleepMs(kTaskHoldMs - elapsed);
}

// ---- 2. Start sequence ------------------------------------------------------------------------------

void PrepareResume(AppState& state, CheckpointReader& resume) {
    LogMessage(LogInfo, 0, "Resuming the simulation saved in \"%s\" after step %u.", resume.Path().c_str(),
               resume.Step());
    resume.PrepareBuild(state);
}

// Starts a simulation that parks after `stepsToRun` steps (0: runs on), continuing
// `resume` when given. Returns whether it started.
bool StartLocked(AppState& state, uint32_t stepsToRun, CheckpointReader* resume = nullptr) {
    state.MemoryUsage = 0;
    LogMessage(LogInfo, 0, "Initializing new simulation. Please wait.");
    plat::AtomicStore(state.SimState, static_cast<uint32_t>(SimStateInitializing));
    // A new simulation counts its steps from 0, from the warm-up of the build on,
    // exactly like the first one of the process; a resumed one is built the same
    // way and then takes the saved step.
    StepCounter.store(0, std::memory_order_release);
    if (resume != nullptr) PrepareResume(state, *resume);

    const uint32_t threads = RoundWorkerThreads(state.params.workerThreads);
    WorkManager* wm = CreateWorkManager(threads, state.params.neuronCount);
    LogMessage(LogInfo, 0, "Starting Ambrelaine(TM) Engine.");
    BuildNetwork(state);
    if (wm != nullptr && wm->neuronCount != state.neuronCount) {
        // The chunks must cover the network actually built.
        ReleaseWorkManager(wm);
        wm = CreateWorkManager(threads, state.neuronCount);
    }
    if (resume != nullptr) {
        std::string error;
        if (!resume->Restore(state, error)) {
            LogMessage(LogError, 0, "Unable to resume the simulation: %s", error.c_str());
            ReleaseWorkManager(wm);
            ReleaseNetwork(state);
            StepCounter.store(0, std::memory_order_release);
            SetStateLocked(state, SimStateNone);
            return false;
        }
    }
    LogMessage(LogInfo, 0, "Simulation memory usage: %d MiB",
               static_cast<int>(state.MemoryUsage >> 20));

    if (wm == nullptr) return false;  // the work manager's failure is fatal
    NotifyStarted(state);
    const uint32_t firstStep = StepCounter.load(std::memory_order_acquire);
    wm->stepTarget = stepsToRun == 0 ? 0 : firstStep + stepsToRun;
    LastSampleSteps.store(firstStep, std::memory_order_release);
    if (!LaunchWorkers(state, wm, state.params.idlePriority != 0)) {
        // No memory, or no thread left to create: LaunchWorkers has ended the ones
        // it began.
        ReleaseWorkManager(wm);
        LogMessage(LogFatal, 0,
                   "Initialization of the work manager failed due to low system memory conditions!");
        return false;
    }
    SetStateLocked(state, SimStateRunning);
    LogMessage(LogInfo, 0, "Simulation started.");
    return true;
}

bool StartSimulationWithTarget(AppState& state, uint32_t steps, CheckpointReader* resume) {
    std::lock_guard<std::mutex> lifecycle(LifecycleLock);
    return StartLocked(state, steps, resume);
}

void StopLocked(AppState& state) {
    WorkManager* wm = state.workManager;
    if (wm == nullptr) return;  // no simulation exists
    LogMessage(LogInfo, 0, "Stopping current simulation... ");

    if (CurrentState(state) == SimStatePaused) {
        {
            plat::LockGuard guard(state.StateLock);
            ResumeWorkers(*wm);
            plat::AtomicStore(state.SimState, static_cast<uint32_t>(SimStateRunning));
        }
        LogMessage(LogInfo, 0, "Simulation resumed.");
    }
    SetStateLocked(state, SimStateNone);

    // Release the workers until every one has ended: each leaves at its next barrier.
    StopWorkers(state);
    NotifyStopped(state);
    ReleaseNetwork(state);
    LogMessage(LogInfo, 0, "Simulation stopped. All resources are released.");
}

}  // namespace

void StartSimulation(AppState& state) { StartSimulationWithTarget(state, 0, nullptr); }

bool StartSimulationFrom(AppState& state, CheckpointReader& checkpoint) {
    return StartSimulationWithTarget(state, 0, &checkpoint);
}

// ---- 3. Stop sequence -----------------------------------------------------------------------------

void StopSimulation(AppState& state) {
    std::lock_guard<std::mutex> lifecycle(LifecycleLock);
    StopLocked(state);
}

bool StopSimulationWithin(AppState& state, uint32_t milliseconds) {
    const uint32_t start = plat::TickCount();
    const auto expired = [&] { return plat::TickCount() - start >= milliseconds; };
    std::unique_lock<std::mutex> lifecycle(LifecycleLock, std::try_to_lock);
    while (!lifecycle.owns_lock() && !expired()) {
        plat::SleepMs(5);
        lifecycle.try_lock();
    }
    if (!lifecycle.owns_lock()) return false;
    std::unique_lock<plat::RecursiveLock> stateLock(state.StateLock, std::try_to_lock);
    while (!stateLock.owns_lock() && !expired()) {
        plat::SleepMs(5);
        stateLock.try_lock();
    }
    if (!stateLock.owns_lock()) return false;
    StopLocked(state);
    return true;
}

// ---- 4. Pause and resume ------------------------------------------------------------------------------

void PauseResumeTask(ToolboxTask* task) {
    AppState& state = *task->state;
    const uint32_t start = plat::TickCount();
    const uint32_t current = CurrentState(state);
    if (current == SimStateRunning) {
        DisableToolboxButtons(task->toolbox);
        PauseStartTime.store(plat::TimeMs());
        {
            std::lock_guard<std::mutex> lifecycle(LifecycleLock);
            if (CurrentState(state) == SimStateRunning && state.workManager != nullptr) {
                SetStateLocked(state, SimStatePaused);
                PauseWorkers(*state.workManager);
                LogMessage(LogInfo, 0, "Simulation paused.");
            }
        }
        MoveFocus(task->toolbox);
    } else if (current == SimStatePaused) {
        DisableToolboxButtons(task->toolbox);
        ResumeTime.store(plat::TimeMs());
        // Simulated time is measured without the pause.
        SimStartTime.fetch_add(ResumeTime.load() - PauseStartTime.load());
        {
            std::lock_guard<std::mutex> lifecycle(LifecycleLock);
            if (CurrentState(state) == SimStatePaused && state.workManager != nullptr) {
                // Under StateLock: the render thread reads the parked network under it.
                {
                    plat::LockGuard guard(state.StateLock);
                    ResumeWorkers(*state.workManager);
                    plat::AtomicStore(state.SimState, static_cast<uint32_t>(SimStateRunning));
                }
                LogMessage(LogInfo, 0, "Simulation resumed.");
            }
        }
        MoveFocus(task->toolbox);
    }
    HoldSince(start);
    UpdateToolboxButtons(task->toolbox, state);
    delete task;
}

// ---- 5. Task threads ------------------------------------------------------------------------------------

namespace {

// Every task thread is kept until it is joined: finished ones when the next task
// starts, the rest by FinishTaskThreads. Process-wide like the tasks' lifecycle.
struct TaskThread {
    std::thread thread;
    std::atomic<bool> done{false};
};
std::mutex TaskThreadsLock;
std::list<TaskThread> TaskThreads;

void JoinFinishedTasks() {  // TaskThreadsLock held
    for (auto t = TaskThreads.begin(); t != TaskThreads.end();) {
        if (t->done.load()) {
            t->thread.join();
            t = TaskThreads.erase(t);
        } else {
            ++t;
        }
    }
}

}  // namespace

bool StartTask(void (*task)(ToolboxTask*), TaskListener* toolbox, AppState& state) {
    ToolboxTask* record = new (std::nothrow) ToolboxTask{toolbox, &state};
    if (record == nullptr) return false;
    std::lock_guard<std::mutex> guard(TaskThreadsLock);
    JoinFinishedTasks();
    try {
        TaskThread& slot = TaskThreads.emplace_back();
        try {
            slot.thread = std::thread([task, record, &slot] {
                task(record);  // frees the record
                slot.done.store(true);
            });
        } catch (const std::exception&) {
            TaskThreads.pop_back();
            throw;
        }
    } catch (const std::exception&) {  // no thread, or no memory for one
        delete record;
        return false;
    }
    return true;
}

void FinishTaskThreads() {
    std::list<TaskThread> running;
    {
        std::lock_guard<std::mutex> guard(TaskThreadsLock);
        running.splice(running.end(), TaskThreads);
    }
    for (TaskThread& t : running) t.thread.join();
}

void StartStopTask(ToolboxTask* task) {
    AppState& state = *task->state;
    DisableToolboxButtons(task->toolbox);
    const uint32_t start = plat::TickCount();
    {
        std::lock_guard<std::mutex> lifecycle(LifecycleLock);
        if (CurrentState(state) == SimStateNone)
            StartLocked(state, 0);
        else
            StopLocked(state);
    }
    MoveFocus(task->toolbox);
    HoldSince(start);
    UpdateToolboxButtons(task->toolbox, state);
    delete task;
}

void VisualizationToggleTask(ToolboxTask* task) {
    const uint32_t start = plat::TickCount();
    VisualizationOn.store(!VisualizationOn.load());
    MoveFocus(task->toolbox);
    HoldSince(start);
    UpdateToolboxButtons(task->toolbox, *task->state);
    delete task;
}

void TransparencyTask(ToolboxTask* task) {
    {
        plat::LockGuard guard(task->state->StateLock);
        if (task->toolbox != nullptr) task->toolbox->RebuildPalettes(*task->state);
    }
    delete task;
}

// ---- 6. Toolbox buttons ---------------------------------------------------------------------------------------

void UpdateToolboxButtons(TaskListener* toolbox, AppState& state) {
    if (toolbox != nullptr) toolbox->ShowSimulationState(CurrentState(state), VisualizationOn.load());
}

void DisableToolboxButtons(TaskListener* toolbox) {
    if (toolbox != nullptr) toolbox->DisableButtons();
}

// ---- 7. Headless runs and the statistics line -----------------------------------------------------------------

namespace {
constexpr uint32_t kStatisticsPeriodMs = 10000;

// The network must be at rest (parked workers, or none).
bool WriteCheckpointLogged(const AppState& state, const std::string& path) {
    std::string error;
    if (!WriteCheckpoint(state, path, error)) {
        LogMessage(LogError, 0, "Unable to write the checkpoint: %s", error.c_str());
        return false;
    }
    LogMessage(LogInfo, 0, "Checkpoint after step %u written to \"%s\".", StepCounter.load(), path.c_str());
    return true;
}
}  // namespace

RunSummary RunStepsHeadless(AppState& state, uint32_t steps, const HeadlessRunFiles& files) {
    RunSummary summary{};
    if (steps == 0) {
        // Build and release only: a check of the network a parameter set gives.
        state.MemoryUsage = 0;
        LogMessage(LogInfo, 0, "Initializing new simulation. Please wait.");
        StepCounter.store(0, std::memory_order_release);
        if (files.resume != nullptr) PrepareResume(state, *files.resume);
        BuildNetwork(state);
        LogMessage(LogInfo, 0, "Simulation memory usage: %d MiB", static_cast<int>(state.MemoryUsage >> 20));
        summary.neuronCount = state.neuronCount;
        std::string error;
        if (files.resume != nullptr && !files.resume->Restore(state, error)) {
            LogMessage(LogError, 0, "Unable to resume the simulation: %s", error.c_str());
            summary.failed = true;
        } else {
            if (!files.checkpointPath.empty()) summary.failed = !WriteCheckpointLogged(state, files.checkpointPath);
            NotifyStarted(state);  // the network's observers (its export) see it too
            NotifyStopped(state);
        }
        ReleaseNetwork(state);
        StepCounter.store(0, std::memory_order_release);
        return summary;
    }
    if (!StartSimulationWithTarget(state, steps, files.resume)) {
        summary.failed = true;
        return summary;
    }
    WorkManager* wm = state.workManager;
    const uint32_t firstStep = wm->stepTarget - steps;
    summary.neuronCount = state.neuronCount;

    // Wait for the step target; the statistics line every 10 s meanwhile. A quit,
    // a stop from elsewhere or SIGINT/SIGTERM ends the wait early.
    uint32_t lastLog = plat::TimeMs();
    while (!wm->targetEvent.WaitFor(200)) {
        if (QuitRequested.load() || plat::ConsoleInterrupted() ||
            CurrentState(state) != SimStateRunning || plat::AtomicLoad(wm->activeThreads) == 0)
            break;
        const uint32_t now = plat::TimeMs();
        if (now - lastLog >= kStatisticsPeriodMs) {
            LogMessage(LogInfo, 0, "%s", FormatStatisticsLine(state, now).c_str());
            lastLog = now;
        }
    }
    if (state.workManager == wm) {
        // Parked after the target step (or released by an early end): the totals
        // describe the completed steps only.
        PauseWorkers(*wm);
        summary.steps = StepCounter.load() - firstStep;
        if (!files.checkpointPath.empty()) {
            if (WorkersParked(*wm)) {
                summary.failed = !WriteCheckpointLogged(state, files.checkpointPath);
            } else {
                LogMessage(LogError, 0, "No checkpoint written: the simulation ended before its last step.");
                summary.failed = true;
            }
        }
        summary.spikes = plat::AtomicLoad(wm->spikeTotal);
        const uint64_t first = plat::AtomicLoad(wm->firstStepNs);
        const uint64_t last = plat::AtomicLoad(wm->lastStepNs);
        summary.wallSeconds = last > first ? static_cast<double>(last - first) * 1e-9 : 0.0;
        summary.integrationSeconds = static_cast<double>(plat::AtomicLoad(wm->integrationNs)) * 1e-9;
        summary.simulatedMs = 0.5 * summary.steps;
        StopSimulation(state);
    }
    return summary;
}

std::string FormatRunSummary(const RunSummary& s) {
    const double simulatedSeconds = s.simulatedMs * 1e-3;
    const double factor = s.wallSeconds > 0.0 ? simulatedSeconds / s.wallSeconds : 0.0;
    const double rate = s.neuronCount > 0 && simulatedSeconds > 0.0
                            ? static_cast<double>(s.spikes) / s.neuronCount / simulatedSeconds
                            : 0.0;
    char text[256];
    std::snprintf(text, sizeof text,
                  "Ran %u steps (%.1f ms simulated) in %.3f s: real-time factor %.3f, %llu spikes, "
                  "mean rate %.2f Hz",
                  s.steps, s.simulatedMs, s.wallSeconds, factor,
                  static_cast<unsigned long long>(s.spikes), rate);
    return text;
}

std::string FormatPhaseSummary(const RunSummary& s) {
    if (s.steps == 0 || s.integrationSeconds <= 0.0) return "";
    const double stepMs = s.wallSeconds * 1e3 / s.steps;
    const double integrationMs = s.integrationSeconds * 1e3 / s.steps;
    char text[160];
    std::snprintf(text, sizeof text,
                  "Integration phase %.3f ms per step; whole step %.3f ms, %.2fx the integration",
                  integrationMs, stepMs, stepMs / integrationMs);
    return text;
}

std::string FormatStatisticsText(uint32_t stepCounter, uint32_t stepsAtSample, uint32_t nowMs,
                                 uint32_t startMs, uint32_t sampleMs, uint32_t startStep) {
    // Differences of wrapping millisecond clocks.
    const uint32_t sinceStart = nowMs - startMs;
    const uint32_t sinceSample = nowMs - sampleMs;
    const double average =
        sinceStart > 0 ? 0.5 * static_cast<uint32_t>(stepCounter - startStep) / sinceStart : 0.0;
    const double recent =
        sinceSample > 0 ? 0.5 * static_cast<uint32_t>(stepCounter - stepsAtSample) / sinceSample
                        : 0.0;
    char text[160];
    std::snprintf(text, sizeof text,
                  "Simulation time: %.1f ms (Real time factor: %.3fx recent, %.3fx avg.)",
                  0.5 * stepCounter, recent, average);
    return text;
}

std::string FormatStatisticsLine(AppState& state, uint32_t nowMs) {
    (void)state;
    const uint32_t steps = StepCounter.load();
    std::string line = FormatStatisticsText(steps, LastSampleSteps.load(), nowMs,
                                            SimStartTime.load(), LastSampleTime.load(), SimStartStep.load());
    LastSampleSteps.store(steps);
    LastSampleTime.store(nowMs);
    return line;
}

// ---- 8. Checkpoints ------------------------------------------------------------------------------------

bool CheckpointSimulation(AppState& state, const std::string& folder, std::string& path) {
    // Under the lifecycle lock: no stop frees the network while it is written.
    std::lock_guard<std::mutex> lifecycle(LifecycleLock);
    WorkManager* wm = state.workManager;
    const uint32_t current = CurrentState(state);
    if (wm == nullptr || (current != SimStateRunning && current != SimStatePaused)) {
        LogMessage(LogError, 0, "Unable to write the checkpoint: no simulation exists.");
        return false;
    }
    // A running simulation parks between two steps for the write; a paused one is
    // parked already.
    const bool running = current == SimStateRunning;
    if (running) PauseWorkers(*wm);
    bool written = false;
    if (WorkersParked(*wm)) {
        path = (std::filesystem::path(folder) /
                ("vellicor-checkpoint-" + std::to_string(StepCounter.load()) + ".h5"))
                   .string();
        written = WriteCheckpointLogged(state, path);
    } else {
        // Parked at a capture frame, not between steps: the step is half done.
        LogMessage(LogError, 0,
                   "Unable to write the checkpoint: the simulation waits for a captured frame (F10).");
    }
    if (running) {
        plat::LockGuard guard(state.StateLock);  // the render thread reads a parked network under it
        ResumeWorkers(*wm);
    }
    return written;
}

void CheckpointTask(ToolboxTask* task) {
    AppState& state = *task->state;
    const char* capture = state.options.captureFolder;
    std::string folder(capture, strnlen(capture, sizeof state.options.captureFolder));
    struct stat info {};
    if (folder.empty() || stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) folder = ".";
    std::string path;
    CheckpointSimulation(state, folder, path);
    delete task;
}
