// Simulation lifecycle: start, stop, pause and resume, the task threads started
// by the toolbox and the keys, and what they report to the toolbox (TaskListener)
// so that its buttons keep in step with the simulation state.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct AppState;
class CheckpointReader;  // io/checkpoint.h
struct ProcessChannel;  // io/process_channel.h

// What the task threads report to the window that started them (the toolbox),
// from any thread. The entry point implements it over the toolbox; null: nobody.
class TaskListener {
public:
    virtual ~TaskListener() = default;
    // The buttons follow the simulation state (the toolbox applies its button rule).
    virtual void ShowSimulationState(uint32_t simState, bool visualizationOn) = 0;
    // Disables the buttons a task keeps disabled while it runs.
    virtual void DisableButtons() = 0;
    // TransparencyTask's recolouring, under StateLock.
    virtual void RebuildPalettes(AppState& state) = 0;
};

// Handed to every task thread, which frees it.
struct ToolboxTask {
    TaskListener* toolbox;  // may be null
    AppState* state;
};

// Globals of the one simulation lifecycle of the process, shared by the task
// threads, the render thread (through the entry point's view host) and the
// statistics line.
extern std::atomic<bool> VisualizationOn;    // the render thread draws the scene while set

// Start, stop, pause and resume exclude each other, from whichever thread.
void StartSimulation(AppState& state);
// Starts a simulation that continues a checkpoint: the network is rebuilt from the
// file's parameters and generator state and takes the saved state; the file is
// closed. When it cannot (logged), no simulation exists afterwards and the result
// is false.
bool StartSimulationFrom(AppState& state, CheckpointReader& checkpoint);
void StopSimulation(AppState& state);
// StopSimulation for a shutdown that cannot wait for ever: gives up (false,
// nothing done) when the lifecycle and state locks stay taken for `milliseconds`.
bool StopSimulationWithin(AppState& state, uint32_t milliseconds);

// Allocates a ToolboxTask and runs `task` on a new thread; frees the record at once
// when the thread cannot be created. Returns whether the thread started.
bool StartTask(void (*task)(ToolboxTask*), TaskListener* toolbox, AppState& state);
// Waits for every task thread started so far to end. Called on the thread that
// starts tasks (the main thread) before the shutdown stops the simulation and
// destroys the toolbox, so that no task acts on what they release.
void FinishTaskThreads();
void StartStopTask(ToolboxTask* task);
void PauseResumeTask(ToolboxTask* task);
void VisualizationToggleTask(ToolboxTask* task);
void TransparencyTask(ToolboxTask* task);

// ---- Checkpoints -----------------------------------------------------------------------------
// Writes a checkpoint of the simulation that exists as
// <folder>/vellicor-checkpoint-<step>.h5, logged. A running simulation is parked
// between two steps for the write and runs on afterwards; a paused one stays
// paused. Returns whether the file was written (`path` names it).
bool CheckpointSimulation(AppState& state, const std::string& folder, std::string& path);
// The K key's task: CheckpointSimulation into the capture folder, or into the
// working directory when that is no folder.
void CheckpointTask(ToolboxTask* task);

// Shows the simulation state on the toolbox (no-op when it is null).
void UpdateToolboxButtons(TaskListener* toolbox, AppState& state);
// Disables the buttons a task keeps disabled while it runs.
void DisableToolboxButtons(TaskListener* toolbox);

// ---- Headless runs -------------------------------------------------------------------------

struct RunSummary {
    uint32_t steps;
    double simulatedMs;
    double wallSeconds;  // from the first step to the last
    double integrationSeconds;  // the integration phases' share of wallSeconds
    uint64_t spikes;
    uint32_t neuronCount;
    uint64_t synapseEvents = 0;  // the event engine's deliveries to synapses
    bool failed = false;  // the checkpoint could not be resumed or written (logged)
};
// The files of a headless run.
struct Simulation;
struct HeadlessRunFiles {
    CheckpointReader* resume = nullptr;  // continue this checkpoint (opened)
    std::string checkpointPath;          // write a checkpoint after the last step
    // A distributed run's checkpoint: `gather` brings every process's per-neuron
    // state into process 0's network (on every process, parked); then process 0
    // writes the file through `channel` while the others send their parts.
    void (*gather)(Simulation& sim) = nullptr;
    const ProcessChannel* channel = nullptr;
};
// Starts a simulation (or continues a checkpoint), runs exactly `steps` steps,
// writes the checkpoint asked for, stops, and reports. With 0 steps the network is
// built (and restored, and checkpointed) and released without workers.
RunSummary RunStepsHeadless(AppState& state, uint32_t steps, const HeadlessRunFiles& files = {});
// The progress line of a steps=N run after `done` of `total` steps in wallSeconds:
// "Step 12000 of 20000 (60%): 6000.0 ms simulated, real-time factor 0.850, 1 min 05 s
// left" (the time left from the speed so far; "..." before the first step).
std::string FormatProgressLine(uint32_t done, uint32_t total, double wallSeconds);
// "Ran %u steps (%.1f ms simulated) in %.3f s: real-time factor %.3f, %llu spikes, mean rate %.2f Hz"
std::string FormatRunSummary(const RunSummary& summary);
// "Integration phase %.3f ms per step; whole step %.3f ms, %.2fx the integration",
// or "" when no step ran.
std::string FormatPhaseSummary(const RunSummary& summary);
// "Simulation time: %.1f ms (Real time factor: %.3fx recent, %.3fx avg.)"; advances
// the recent-speed sample (the simulation's sampleTimeMs and sampleSteps).
std::string FormatStatisticsLine(AppState& state, uint32_t nowMs);
// The same line from its inputs (pure): average speed 0.5 * (stepCounter -
// startStep) / (now - start), recent speed 0.5 * (stepCounter - stepsAtSample) /
// (now - sample); 0 for an empty interval. Times are wrapping milliseconds; a
// resumed run starts at the step it resumed.
std::string FormatStatisticsText(uint32_t stepCounter, uint32_t stepsAtSample, uint32_t nowMs,
                                 uint32_t startMs, uint32_t sampleMs, uint32_t startStep = 0);
