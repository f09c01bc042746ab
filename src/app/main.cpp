// Entry point: start-up, the main thread's input pump, shutdown.
//
// Sections:
//   1. Banner and display detection
//   2. Headless statistics and the steps=N run
//   3. Main loop
//   4. Distributed runs
//   5. main
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/cpu_check.h"
#include "app/distributed.h"
#include "app/key_commands.h"
#include "app/lifecycle.h"
#include "app/run_outputs.h"
#include "app/shell.h"
#include "app/switches.h"
#include "engine/random.h"
#include "io/app_state.h"
#include "io/checkpoint.h"
#include "io/param_file.h"
#include "platform/console_keys.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "platform/version.h"
#include "vis/view_state.h"
#ifdef VELLICOR_GUI
#include "app/gui_hosts.h"
#include "ui/toolbox.h"
#include "vis/window.h"
#endif

namespace {

// The program's objects, at namespace scope because they live as long as the
// process: the worker, render and task threads and the window's Xlib error
// handler reach them until the process ends, whichever way it ends.
AppState State;  // the one application record, handed to every thread
RunOutputs Outputs;  // record= and export=, observers of State's simulations
CheckpointReader Resume;  // resume=: open from the start-up until the simulation takes it
bool GatherForCheckpoint = false;  // a distributed run's checkpoint: every process's share first

#ifdef VELLICOR_GUI
// What the window, the toolbox and the key commands act on (app/gui_hosts.h).
Toolbox* TheToolbox = nullptr;  // null without a display (or when it could not be made)
ToolboxLink TheToolboxLink(State);
GuiKeyCommands GuiKeyHost(TheToolboxLink, Outputs);
AppViewHost ViewHostOfApp(GuiKeyHost);
KeyCommandHost& KeyHost = GuiKeyHost;
#else
// The console's key commands, with spike recording (O).
class ConsoleKeys final : public KeyCommandHost {
public:
    void ToggleRecording(AppState&) override { ::ToggleRecording(Outputs); }
};
ConsoleKeys ConsoleKeyHost;
KeyCommandHost& KeyHost = ConsoleKeyHost;
#endif

// ---- 1. Banner and display detection ---------------------------------------------------------

void PrintBanner() {
    const char* stars = "**********************************************************";
    std::fprintf(stderr, "%s\n   %s\n\n%s\n\n\n", stars, kVellicorProductLine, stars);
    std::fprintf(stderr, "Press F1 in the visualization window for help.\n\n");
    std::fflush(stderr);
}

bool DisplayAvailable() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

// ---- 2. Headless statistics and the steps=N run -----------------------------------------------

// In headless mode the statistics line is logged every 10 s of wall-clock time.
void LogHeadlessStatistics(uint32_t& lastLog) {
    const uint32_t now = plat::TimeMs();
    if (plat::AtomicLoad(State.SimState) != SimStateRunning) {
        lastLog = now;
        return;
    }
    if (now - lastLog < 10000) return;
    lastLog = now;
    LogMessage(LogInfo, 0, "%s", FormatStatisticsLine(State, now).c_str());
}

// A SIGINT or SIGTERM ends the run after the current step; the summary then covers
// the steps done, and the status is the signal's conventional 128 + its number.
int RunStepsAndExit(const LaunchOptions& launch) {
    const uint32_t steps = launch.steps;
    HeadlessRunFiles files;
    files.resume = Resume.IsOpen() ? &Resume : nullptr;
    files.checkpointPath = launch.checkpointPath;
    if (GatherForCheckpoint) {
        files.gather = &GatherShares;
        files.channel = DistributedProcessChannel();
    }
    RunSummary summary = RunStepsHeadless(State, steps, files);
    summary.synapseEvents = SumOverProcesses(summary.synapseEvents);  // every process delivers its share
    const int signo = plat::ConsoleInterruptSignal();
    // A distributed run parks all its processes when one of them is interrupted.
    const bool cutShort = State.distribution.ranks > 1 && signo == 0 && !summary.failed && summary.steps != 0 &&
                          summary.steps < steps;
    if (signo != 0)
        LogMessage(LogInfo, 0, "Interrupted by %s after %u of %u steps.",
                   signo == SIGINT ? "SIGINT" : "SIGTERM", summary.steps, steps);
    else if (cutShort)
        LogMessage(LogWarning, 0, "Stopped after %u of %u steps: another process of the run was interrupted.",
                   summary.steps, steps);
    LogMessage(LogInfo, 0, "%s", FormatRunSummary(summary).c_str());
    const std::string phases = FormatPhaseSummary(summary);
    if (!phases.empty()) LogMessage(LogInfo, 0, "%s", phases.c_str());
    const ExchangeTotals exchange = DistributedExchangeTotals();
    if (exchange.steps > 0 && summary.wallSeconds > 0)
        LogMessage(LogInfo, 0, "Exchange between the processes: %.3f ms per step (%.0f%% of a step), %.1f kB per step",
                   exchange.seconds * 1e3 / exchange.steps, 100.0 * exchange.seconds / summary.wallSeconds,
                   exchange.bytes / 1e3 / exchange.steps);
    plat::RestoreConsole();
    if (signo != 0) return 128 + signo;
    if (cutShort) return 1;
    return Outputs.failed || summary.failed ? 1 : 0;  // a file the run was asked for is missing
}

// save-config=FILE: the parameters after every other switch, then exit.
int SaveConfigAndExit(const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_regular_file(path, ignored))
        LogMessage(LogWarning, 0, "\"%s\" exists: it will be overwritten.", path.c_str());
    const ParamFileStatus status = SaveParamFile(path, State.params, State.options, kVellicorName);
    if (!status.ok) {
        LogMessage(LogError, 0, "Unable to save the simulation configuration: %s", status.error.c_str());
        return 1;
    }
    LogMessage(LogInfo, 0, "Simulation configuration saved to \"%s\".", path.c_str());
    return 0;
}

// record= and export=: checked before anything is built, then installed. An
// existing file named here is overwritten, and the log says so now; two outputs
// on one file (or on the checkpoint being resumed) are refused.
bool PrepareRunOutputs(const LaunchOptions& launch) {
    Outputs.recordPath = launch.recordPath;
    Outputs.exportPath = launch.exportPath;
    const NamedFile files[] = {{"record=", launch.recordPath},
                               {"export=", launch.exportPath},
                               {"checkpoint=", launch.stepsGiven ? launch.checkpointPath : std::string()},
                               {"resume=", launch.resumePath}};
    const std::string overlap = OverlappingOutputs(files, 4);
    if (!overlap.empty()) {
        LogMessage(LogError, 0, "Unable to run: %s.", overlap.c_str());
        return false;
    }
    for (const std::string* path : {&Outputs.recordPath, &Outputs.exportPath}) {
        std::string error;
        bool exists = false;
        if (path->empty()) continue;
        if (!CheckOutputPath(*path, error, &exists)) {
            LogMessage(LogError, 0, "Unable to write \"%s\": %s", path->c_str(), error.c_str());
            return false;
        }
        if (exists) LogMessage(LogWarning, 0, "\"%s\" exists: it will be overwritten.", path->c_str());
    }
    return true;
}

// checkpoint= and resume=: the checkpoint's place is checked and the checkpoint to
// continue is opened and checked before anything is built.
bool PrepareCheckpoints(const LaunchOptions& launch) {
    std::string error;
    bool exists = false;
    if (!launch.checkpointPath.empty() && !launch.stepsGiven) {
        LogMessage(LogWarning, 0,
                   "Ignoring checkpoint=: it is written at the end of a steps=N run (during a run, K "
                   "writes one).");
    } else if (!launch.checkpointPath.empty() && !CheckOutputPath(launch.checkpointPath, error, &exists)) {
        LogMessage(LogError, 0, "Unable to write \"%s\": %s", launch.checkpointPath.c_str(), error.c_str());
        return false;
    }
    if (exists) LogMessage(LogWarning, 0, "\"%s\" exists: it will be overwritten.", launch.checkpointPath.c_str());
    if (!launch.resumePath.empty() && !Resume.Open(launch.resumePath, error)) {
        LogMessage(LogError, 0, "Unable to resume the simulation: %s", error.c_str());
        return false;
    }
    if (!launch.resumePath.empty() &&
        (launch.preset >= 0 || launch.shapeGiven || launch.seedGiven || !launch.configPath.empty()))
        LogMessage(LogWarning, 0,
                   "resume= takes the network, its parameters and its seed from the checkpoint: ignoring%s%s%s%s.",
                   launch.preset >= 0 ? " preset=" : "", launch.shapeGiven ? " grid=/sphere=" : "",
                   launch.seedGiven ? " seed=" : "",
                   launch.configPath.empty() ? "" : " the network parameters of config=");
    return true;
}

// ---- 3. Main loop ---------------------------------------------------------------------------------

void MainLoop() {
    uint32_t lastStatistics = plat::TimeMs();
    while (!RenderStop.load()) {
        // Console keys: up to 32 per pass; waiting for them is the pass's 10 ms sleep.
        uint16_t keys[32];
#ifdef VELLICOR_GUI
        // With the window, its events are the pass's 10 ms wait; the console is polled.
        const bool window = VisualizationOwnerWindow() != nullptr;
        PumpWindowEvents(10);
        const int count = plat::ReadConsoleKeys(keys, 32, window ? 0 : 10);
#else
        const int count = plat::ReadConsoleKeys(keys, 32, 10);
#endif
        if (plat::ConsoleInterrupted()) {  // SIGINT/SIGTERM quit as a confirmed Esc does
            QuitRequested.store(true);
            RenderStop.store(true);
        }
#ifdef VELLICOR_GUI
        void* owner = VisualizationOwnerWindow();
#else
        void* owner = nullptr;
#endif
        // Each console key acts in a pass of the commands of its own: a terminal
        // reports no key-up, so two presses of one key read together (piped input,
        // a fast typist) would otherwise act once. A key is down until its pass ran.
        int next = 0;
        do {
            int slot = -1;
            if (next < count) {
                slot = keys[next++] & 0xFF;
                if (ConsoleKeyState[slot]) slot = -1;  // already down (the toolbox's)
                else ConsoleKeyState[slot] = 1;
            }
            ProcessKeyCommands(ConsoleKeyState, State, owner, KeyHost);
            if (slot >= 0) ConsoleKeyState[slot] = 0;
        } while (next < count && !RenderStop.load());
#ifdef VELLICOR_GUI
        ProcessViewKeyCommands(State);
        DrawToolbox(TheToolbox);
#endif
        if (HeadlessMode.load()) LogHeadlessStatistics(lastStatistics);
    }
}

// ---- 4. Distributed runs ----------------------------------------------------------------------------------

// A run of several processes (mpirun): headless and steps=N; rank 0 logs and
// writes the files, the others show only their errors. False (logged) when the
// switches ask for what a distributed run cannot do; every process parses the
// same switches, so all of them refuse alike.
bool PrepareDistributedRun(LaunchOptions& launch, const DistributedRun& run) {
    GatherForCheckpoint = launch.stepsGiven && !launch.checkpointPath.empty();
    // Process 0 writes the export with the synapses the others send.
    Outputs.sendExportParts = run.rank > 0 && !launch.exportPath.empty();
    if (run.rank > 0) {
        SetLogThreshold(LogError);
        launch.recordPath.clear();
        launch.exportPath.clear();  // the network as built: the same on every process
        launch.checkpointPath.clear();
    }
    launch.headless = true;
    if (!launch.stepsGiven || launch.steps == 0) {
        // steps=0 (build and check only) is one process's: it needs no other.
        if (run.rank == 0)
            LogMessage(LogError, 0, "Unable to run distributed: it needs steps=N with N of 1 or more (a distributed run is headless).");
        return false;
    }
    // The processes on one machine share its cores: without threads= (or a file's
    // thread count) each takes one thread per core of its part of them.
    if (State.params.autoManageThreads != 0)
        State.params.workerThreads = RoundWorkerThreads(std::max<uint32_t>(1, plat::PhysicalCoreCount() / run.ranksHere));
    LogMessage(LogInfo, 0,
               "Distributed run of %u processes (MPI), %u on this machine, %u worker thread%s each; this is "
               "process 0, which logs and writes the files.",
               run.ranks, run.ranksHere, State.params.workerThreads, State.params.workerThreads == 1 ? "" : "s");
    ShareRandomState(State.random);  // rank 0's clock seed, unless seed= gave one to all
    AttachDistribution(State, run);
    State.distribution.shareOnly = true;  // each process keeps the synapses onto its own neurons
    Outputs.channel = DistributedProcessChannel();
    Resume.SetChannel(Outputs.channel);  // the processes restore together
    return true;
}

int RunProgram(int argc, char** argv, const DistributedRun& run);

}  // namespace

// ---- 5. main ------------------------------------------------------------------------------------------

int main(int argc, char** argv) {
    const DistributedRun run = JoinDistributedRun(argc, argv);
    const int status = RunProgram(argc, argv, run);
    LeaveDistributedRun();
    return status;
}

namespace {

int RunProgram(int argc, char** argv, const DistributedRun& run) {
    // A file-size limit (ulimit -f) fails a write with EFBIG, reported as a full
    // disk is, instead of killing the process with the files half written.
    std::signal(SIGXFSZ, SIG_IGN);
    EnableFlushToZero();
    RequireAvx();
    State.random = SeededRandom(plat::TimeMs());
    if (run.rank == 0) PrintBanner();
    RestoreDefaults(State);
    // The engine's messages join the console log (its status line and fatal hooks).
    State.logSink = LogSink{nullptr, [](void*, uint8_t level, const char* text) { LogMessage(level, 0, "%s", text); }};
    LaunchOptions launch = ApplySwitches(argc, argv, State);
    if (launch.help) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    if (launch.version) {
        std::printf("%s\n", ProductLine());
        return 0;
    }
    if (launch.seedGiven) {
        State.random = RandomGeneratorState{};
        State.random.seed = launch.seed;
    }
    // A file the user named that cannot be used ends the program before any work.
    if (launch.configFailed || launch.fileNameMissing) return 1;
    if (!launch.saveConfigPath.empty()) return run.rank == 0 ? SaveConfigAndExit(launch.saveConfigPath) : 0;
    if (run.ranks > 1 && !PrepareDistributedRun(launch, run)) return 1;
    // Outputs are rank 0's: every process learns whether it could prepare them.
    const bool prepared = PrepareRunOutputs(launch) && InstallRunOutputs(State, Outputs);
    if (!AllProcesses(prepared)) return 1;
    State.AddObserver(CaptureGate.Observer());
    if (!PrepareCheckpoints(launch)) return 1;
    plat::StartConsoleInput();  // the other processes' standard input is not a terminal: their signals only

    if (launch.headless) {
        HeadlessMode.store(true);
        LogMessage(LogInfo, 0, "Headless mode: no visualization window and no toolbox.");
    } else if (!DisplayAvailable()) {
        HeadlessMode.store(true);
        LogMessage(LogInfo, 0, "No display found: running on the console without visualization.");
    }

    if (launch.stepsGiven) return RunStepsAndExit(launch);

#ifdef VELLICOR_GUI
    if (!HeadlessMode.load()) TheToolbox = CreateToolbox(State, TheToolboxLink);  // hidden until the window shows it
    TheToolboxLink.Attach(TheToolbox);
    SetToolboxRunActions(TheToolbox, {[] { ToggleRecording(Outputs); }});
#endif

    if (launch.demo) AutoRotate.store(true);
    if (Resume.IsOpen()) {
        // A checkpoint the network cannot take (logged) ends the program: the user
        // asked for that simulation and no other.
        if (!StartSimulationFrom(State, Resume)) {
#ifdef VELLICOR_GUI
            TheToolboxLink.Attach(nullptr);
            DestroyToolbox(TheToolbox);
#endif
            plat::RestoreConsole();
            return 1;
        }
    } else if (launch.demo)
        StartSimulation(State);
#ifdef VELLICOR_GUI
    UpdateToolboxButtons(&TheToolboxLink, State);
    if (!HeadlessMode.load()) {
        if (CreateVisualizationWindow(State, ViewHostOfApp))
            PlaceToolboxBeside(TheToolbox, static_cast<GLFWwindow*>(VisualizationOwnerWindow()));
        else
            HeadlessMode.store(true);
    }
#endif

    if (HeadlessMode.load() && plat::AtomicLoad(State.SimState) == SimStateNone)
        LogMessage(LogInfo, 0,
                   "No simulation is running. Start one with the demo switch (vellicor headless "
                   "demo) or run N steps with steps=N; press Esc or Ctrl+C to quit.");
    MainLoop();
    FinishTaskThreads();  // no task may act on what the shutdown releases
    bool windowLost = false;  // destroyed from outside: the run ends in order, but with status 1
#ifdef VELLICOR_GUI
    DestroyVisualizationWindow(State, ViewHostOfApp);  // stops a simulation that still exists first
    TheToolboxLink.Attach(nullptr);
    DestroyToolbox(TheToolbox);
    windowLost = VisualizationWindowLost();
#endif

    // Without a window thread nobody else stops a simulation that still exists.
    const uint32_t simState = plat::AtomicLoad(State.SimState);
    if (simState == SimStateRunning || simState == SimStatePaused) StopSimulation(State);
    plat::RestoreConsole();
    return Outputs.failed || windowLost ? 1 : 0;
}
}  // namespace
