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

#include "app/run_outputs.h"
#include "app/shell.h"
#include "engine/work_manager.h"
#include "io/app_state.h"
#include "io/checkpoint.h"
#include "io/output_file.h"
#include "platform/console_keys.h"
#include "platform/log.h"
#include "vis/view_state.h"

// ---- 1. Process-wide values -----------------------------------------------------------
// Globals: a process runs one simulation lifecycle, driven from the main thread,
// the task threads and the window (see lifecycle.h).

std::atomic<bool> VisualizationOn{true};

namespace {

constexpr uint32_t kTaskHoldMs = 300;

uint32_t CurrentState(const AppState& state) { return state.State(); }

void HoldSince(uint32_t startTick) {
    const uint32_t elapsed = plat::TimeMs() - startTick;
    if (elapsed < kTaskHoldMs) plat::SleepMs(kTaskHoldMs - elapsed);
}

// ---- 2. Start sequence ------------------------------------------------------------------------------

// What every build adds: a resumed one takes the checkpoint's parameters and
// generator before the build and its state after it; a build by the event engine
// says so (the exact engine's log stays as it was).
struct BuildContext {
    CheckpointReader* resume;  // null for a new simulation
};

void PrepareBuild(void* context, Simulation& sim) {
    CheckpointReader* resume = static_cast<BuildContext*>(context)->resume;
    if (resume != nullptr) {
        LogMessage(LogInfo, 0, "Resuming the simulation saved in \"%s\" after step %u.", resume->Path().c_str(),
                   resume->Step());
        if (sim.params.engineMode != resume->Engine())
            LogMessage(LogWarning, 0, "The checkpoint holds the %s engine's state: the simulation continues with it.",
                       resume->Engine() == EngineEvent ? "event" : "exact");
        resume->PrepareBuild(sim);
    }
    if (sim.params.engineMode == EngineEvent)
        LogMessage(LogInfo, 0, "Engine: event-driven (per-neuron conductances).");
}

bool RestoreResume(void* context, Simulation& sim) {
    CheckpointReader* resume = static_cast<BuildContext*>(context)->resume;
    std::string error;
    if (resume == nullptr || resume->Restore(sim, error)) return true;
    LogMessage(LogError, 0, "Unable to resume the simulation: %s", error.c_str());
    return false;
}

// Starts a simulation that parks after `stepsToRun` steps (0: runs on), continuing
// `resume` when given. A lack of memory or threads ends the program as before.
bool StartWithTarget(AppState& state, uint32_t stepsToRun, CheckpointReader* resume) {
    BuildContext context{resume};
    const StartExtension extension{&context, &PrepareBuild, &RestoreResume};
    const SimResult result = state.Start(stepsToRun, &extension);
    if (result.status == SimStatus::NoResources) LogMessage(LogFatal, 0, "%s", result.error.c_str());
    return result.ok();
}

}  // namespace

void StartSimulation(AppState& state) { StartWithTarget(state, 0, nullptr); }

bool StartSimulationFrom(AppState& state, CheckpointReader& checkpoint) {
    return StartWithTarget(state, 0, &checkpoint);
}

// ---- 3. Stop sequence -----------------------------------------------------------------------------

void StopSimulation(AppState& state) { state.Stop(); }

bool StopSimulationWithin(AppState& state, uint32_t milliseconds) { return state.StopWithin(milliseconds); }

// ---- 4. Pause and resume ------------------------------------------------------------------------------

void PauseResumeTask(ToolboxTask* task) {
    AppState& state = *task->state;
    const uint32_t start = plat::TimeMs();
    const uint32_t current = CurrentState(state);
    if (current == SimStateRunning || current == SimStatePaused) {
        DisableToolboxButtons(task->toolbox);
        if (current == SimStateRunning)
            state.Pause();
        else
            state.Resume();
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
    const uint32_t start = plat::TimeMs();
    if (CurrentState(state) == SimStateNone)
        StartSimulation(state);
    else
        state.Stop();
    HoldSince(start);
    UpdateToolboxButtons(task->toolbox, state);
    delete task;
}

void VisualizationToggleTask(ToolboxTask* task) {
    const uint32_t start = plat::TimeMs();
    VisualizationOn.store(!VisualizationOn.load());
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
bool WriteCheckpointLogged(const AppState& state, const std::string& path, const ProcessChannel* channel = nullptr) {
    std::string error;
    if (!WriteCheckpoint(state, state.options, path, error, channel)) {
        LogMessage(LogError, 0, "Unable to write the checkpoint: %s", error.c_str());
        return false;
    }
    LogMessage(LogInfo, 0, "Checkpoint after step %u written to \"%s\".", state.stepCounter.load(), path.c_str());
    PostViewNotice(FileNotice("Checkpoint written to", path).c_str(), plat::TimeMs());
    return true;
}

// Writes a checkpoint while the workers are parked between two steps: to `path`,
// or when `path` is empty to <folder>/vellicor-checkpoint-<step>.h5 (then named in
// `path`). `written` says whether the file was written; the result, whether the
// network was at rest for it.
SimStatus WriteWhileParked(AppState& state, const std::string& folder, std::string& path, bool& written,
                           const ProcessChannel* channel = nullptr) {
    struct Write {
        const AppState& state;
        const std::string& folder;
        std::string& path;
        bool& written;
        const ProcessChannel* channel;
    } write{state, folder, path, written, channel};
    written = false;
    return state.WhileParked(
        [](void* context, Simulation&) {
            auto& w = *static_cast<Write*>(context);
            if (!w.path.empty()) {
                w.written = WriteCheckpointLogged(w.state, w.path, w.channel);
                return;
            }
            // A name of its own: an earlier checkpoint of the same step (this run,
            // an earlier one, another process) is never replaced.
            const std::string base = (std::filesystem::path(w.folder) /
                                      ("vellicor-checkpoint-" + std::to_string(w.state.stepCounter.load()) + ".h5"))
                                         .string();
            std::string error;
            if (!ClaimFreeName(base, w.path, error)) {
                LogMessage(LogError, 0, "Unable to write the checkpoint: %s", error.c_str());
                return;
            }
            w.written = WriteCheckpointLogged(w.state, w.path);
            if (!w.written) std::remove(w.path.c_str());  // the empty file claimed for it
        },
        &write);
}
}  // namespace

RunSummary RunStepsHeadless(AppState& state, uint32_t steps, const HeadlessRunFiles& files) {
    RunSummary summary{};
    if (steps == 0) {
        // Build and release only: a check of the network a parameter set gives.
        BuildContext context{files.resume};
        const StartExtension extension{&context, &PrepareBuild, &RestoreResume};
        const SimResult built = state.Build(&extension);
        if (built.status == SimStatus::NoResources) LogMessage(LogFatal, 0, "%s", built.error.c_str());
        summary.neuronCount = state.neuronCount;
        if (!built.ok()) {
            summary.failed = true;
        } else {
            if (!files.checkpointPath.empty()) summary.failed = !WriteCheckpointLogged(state, files.checkpointPath);
            state.NotifyStarted();  // the network's observers (its export) see it too
            state.NotifyStopped();
        }
        state.Release();
        return summary;
    }
    if (!StartWithTarget(state, steps, files.resume)) {
        summary.failed = true;
        return summary;
    }
    const uint32_t firstStep = state.firstStep;  // the workers may have run on already
    summary.neuronCount = state.neuronCount;

    // Wait for the step target: the progress line (on a terminal) five times a
    // second, the statistics line every 10 s. A quit, a stop from elsewhere or
    // SIGINT/SIGTERM ends the wait early.
    const uint32_t startMs = plat::TimeMs();
    uint32_t lastLog = startMs;
    while (!state.WaitForTarget(200)) {
        if (QuitRequested.load() || plat::ConsoleInterrupted() || CurrentState(state) != SimStateRunning ||
            state.workerCount == 0)
            break;
        const uint32_t now = plat::TimeMs();
        LogStatusLine(FormatProgressLine(state.stepCounter.load() - firstStep, steps, (now - startMs) * 1e-3));
        if (now - lastLog >= kStatisticsPeriodMs) {
            LogMessage(LogInfo, 0, "%s", FormatStatisticsLine(state, now).c_str());
            lastLog = now;
        }
    }
    LogStatusLine("");  // the summary takes its place
    // Parked after the target step (or released by an early end): the totals
    // describe the completed steps only.
    if (state.workerCount == 0) return summary;  // stopped from elsewhere
    state.Park();
    summary.steps = state.stepCounter.load() - firstStep;
    if (files.gather != nullptr) files.gather(state);
    if (files.channel != nullptr && files.channel->rank != 0) {
        // Another process of a distributed run: its parts of process 0's file.
        state.WhileParked([](void* c, Simulation& sim) { SendCheckpointParts(sim, *static_cast<const ProcessChannel*>(c)); },
                          const_cast<ProcessChannel*>(files.channel));
    } else if (!files.checkpointPath.empty()) {
        std::string path = files.checkpointPath;
        bool written = false;
        if (WriteWhileParked(state, "", path, written, files.channel) != SimStatus::Ok)
            LogMessage(LogError, 0, "No checkpoint written: the simulation ended before its last step.");
        summary.failed = !written;
    }
    const RunTotals totals = state.Totals();
    summary.spikes = totals.spikes;
    summary.wallSeconds = totals.wallSeconds;
    summary.integrationSeconds = totals.integrationSeconds;
    summary.synapseEvents = totals.synapseEvents;
    summary.simulatedMs = 0.5 * summary.steps;
    state.Stop();
    return summary;
}

std::string FormatProgressLine(uint32_t done, uint32_t total, double wallSeconds) {
    const double simulatedMs = 0.5 * done;
    const double factor = wallSeconds > 0.0 ? simulatedMs * 1e-3 / wallSeconds : 0.0;
    char left[48] = "...";
    if (done > 0 && done <= total) {
        const double seconds = wallSeconds / done * (total - done);
        const auto s = static_cast<unsigned long long>(seconds + 0.5);
        if (s >= 3600)
            std::snprintf(left, sizeof left, "%llu h %02llu min", s / 3600, s / 60 % 60);
        else if (s >= 60)
            std::snprintf(left, sizeof left, "%llu min %02llu s", s / 60, s % 60);
        else
            std::snprintf(left, sizeof left, "%llu s", s);
    }
    const unsigned percent = total > 0 ? static_cast<unsigned>(100.0 * done / total) : 100;
    char text[200];
    std::snprintf(text, sizeof text, "Step %u of %u (%u%%): %.1f ms simulated, real-time factor %.3f, %s left",
                  done, total, percent, simulatedMs, factor, left);
    return text;
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
    char text[224];
    const int n = std::snprintf(text, sizeof text,
                                "Integration phase %.3f ms per step; whole step %.3f ms, %.2fx the integration",
                                integrationMs, stepMs, stepMs / integrationMs);
    if (s.synapseEvents > 0 && n > 0 && static_cast<size_t>(n) < sizeof text)
        std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "; %llu synapse events delivered",
                      static_cast<unsigned long long>(s.synapseEvents));
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
    const uint32_t steps = state.stepCounter.load();
    std::string line = FormatStatisticsText(steps, state.sampleSteps.load(), nowMs, state.startTimeMs.load(),
                                            state.sampleTimeMs.load(), state.startStep.load());
    state.sampleSteps.store(steps);
    state.sampleTimeMs.store(nowMs);
    return line;
}

// ---- 8. Checkpoints ------------------------------------------------------------------------------------

bool CheckpointSimulation(AppState& state, const std::string& folder, std::string& path) {
    // A running simulation parks between two steps for the write; a paused one is
    // parked already.
    path.clear();
    bool written = false;
    const SimStatus status = WriteWhileParked(state, folder, path, written);
    if (status == SimStatus::Busy)
        LogMessage(LogError, 0, "Unable to write the checkpoint: no simulation exists.");
    else if (status == SimStatus::Refused)  // parked at a capture frame, not between steps
        LogMessage(LogError, 0,
                   "Unable to write the checkpoint: the simulation waits for a captured frame (F10).");
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
