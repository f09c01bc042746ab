// One simulation: a network, everything that builds and advances it, and its
// observers. Nothing in the engine is process-wide, so several simulations can
// live side by side in one process, each on its own threads.
//
// Interface:
//   Simulation sim;                         parameters: SetDefaultParams(sim.params, threads),
//   sim.random = SeededRandom(seed);        the construction generator
//   sim.AddObserver(observer);              before the first start (section 2)
//   sim.Start(steps)       -> SimResult     builds the network and starts the workers; they
//                                           park after `steps` steps (0: run until stopped)
//   sim.WaitForTarget(ms)  -> bool          waits for that step
//   sim.Pause() / sim.Resume()              park between two steps / go on
//   sim.WhileParked(fn)                     runs fn on a network at rest, then goes on
//   sim.Park()                              parks after the step in progress (final totals)
//   sim.Stop()                              ends the workers and releases the network
//   sim.Build() / sim.Release()             the network alone, without workers
//   sim.Totals()                            spikes and wall time of the run so far
// Read-only state for views: stepCounter; the neuron array (neurons, neuronCount)
// while parked or under StateLock; the view snapshot (viewSnapshot) while running;
// the activity analysis. Errors are values: a start that lacks memory or threads
// returns them and leaves no simulation; the engine never ends the process.
//
// Sections:
//   1. Results and the start extension
//   2. Observers
//   3. Distributed runs
//   4. Simulation
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/activity.h"
#include "engine/network.h"
#include "engine/params.h"
#include "engine/random.h"
#include "platform/platform.h"

struct Simulation;
struct ViewSnapshot;
struct WorkManager;
struct WorkerContext;

enum SimStateValue : uint32_t {
    SimStateNone = 0,
    SimStateRunning = 1,
    SimStatePaused = 2,
    SimStateInitializing = 3,
};

// ---- 1. Results and the start extension ----------------------------------------------------------
enum class SimStatus : uint8_t {
    Ok,
    NoResources,  // memory or threads missing (a program cannot go on; a library caller can)
    Refused,      // the start extension refused the built network (it has said why)
    Busy,         // a simulation exists already, or none exists to act on
};
struct SimResult {
    SimStatus status = SimStatus::Ok;
    std::string error;  // NoResources: the message to show
    bool ok() const { return status == SimStatus::Ok; }
};

// What a start does beyond building: a resumed run sets the parameters and the
// generator before the build and overwrites the built state after it.
struct StartExtension {
    void* context = nullptr;
    void (*prepare)(void* context, Simulation& sim) = nullptr;
    // False refuses the start; the extension logs why.
    bool (*restore)(void* context, Simulation& sim) = nullptr;
};

// ---- 2. Observers ----------------------------------------------------------------------------------
// Everything that consumes a running simulation without being part of it (frame
// capture, the spike recorder, the network export). Registered while no
// simulation runs; each call is optional (null: not called):
//   started  on the thread that starts the simulation, after the network is built
//            and before its first step;
//   stepped  on the last worker thread at the end of every step, after the step's
//            work and before the other workers are released, with the index of the
//            step just completed (0 for the first); the ids of the neurons that
//            fired in it are Simulation::firedIds[0, firedCount), ascending. It may read the network but not write it, and it
//            delays the next step by its own time: hand heavy work to a thread. It
//            may wait (lock-step with a consumer) if `waiting` and `release` say so;
//   waiting  whether `stepped` is waiting now (a pause then counts as reached);
//   release  on the stopping thread, repeatedly until the workers end: a waiting
//            `stepped` must return;
//   stopped  on the thread that stops the simulation, after the workers have ended
//            and before the network is released.
struct SimulationObserver {
    void* context = nullptr;
    void (*started)(void* context, const Simulation& sim) = nullptr;
    void (*stepped)(void* context, const Simulation& sim, uint32_t step) = nullptr;
    bool (*waiting)(void* context) = nullptr;
    void (*release)(void* context) = nullptr;
    void (*stopped)(void* context, const Simulation& sim) = nullptr;
};
inline constexpr int kMaxObservers = 4;

// ---- 3. Distributed runs ----------------------------------------------------------------------------
// A run spread over `ranks` processes. Every process replays the whole build from
// the same parameters and generator (the same bits) and steps its share of the
// neurons (ShareOfNeurons), delivering only to synapses onto its own neurons.
// Between the two fire sub-phases of every step, `exchange` runs on the last
// worker, the others waiting, and completes the step's spikes and due bits with
// every process's. `agree` runs once after each build with whether this process
// built its network (and again after a resume, with whether it restored the
// checkpoint), and returns whether every process did. Every process calls
// both in the same order; one that cannot go on must still call them, or end the
// whole run.
struct StepExchange {
    uint32_t step;         // the step in progress
    uint32_t first, end;   // this process's neurons
    uint32_t* firedIds;    // in: this process's spikes of the step, ascending; out: every process's
    uint32_t firedCount;
    uint64_t* due;         // the step's due bitmap ((neuronCount + 63) / 64 words): in: this
                           // process's words; out: every process's
    uint32_t dueWords;
    bool park;             // in: this process asks to park; out: every process parks after this step
};
struct Distribution {
    uint32_t rank = 0;
    uint32_t ranks = 1;
    void* context = nullptr;
    // Returns only when done: a process that cannot exchange ends the whole run.
    void (*exchange)(void* context, StepExchange& step) = nullptr;
    bool (*agree)(void* context, bool ok) = nullptr;
    // Whether this process keeps only what its share needs: the synapses onto its
    // neurons (records, lanes, event runs) and its neurons' delay lines. Every
    // neuron record stays, with the network's synapse counts (`outgoingCount` then
    // counts the synapses kept). A whole-network reader (checkpoint, export, views)
    // needs every process's part.
    bool shareOnly = false;
};
// Neurons [first, end) of process `rank` of `ranks` for a network of n neurons:
// contiguous ranges of whole 64-neuron words, so that no word of a bitmap is shared.
void ShareOfNeurons(uint32_t n, uint32_t rank, uint32_t ranks, uint32_t& first, uint32_t& end);
// Calls visit(context, data, bytes) for every region of memory that holds the
// per-neuron state of neurons [first, end) (their records' changing values and
// the event engine's inputs, spike histories and due words), in an order that
// depends only on the network: what one process sends, another copies into the
// same regions of its own network (before a checkpoint of the whole run, whose
// delay lines and synapses io/checkpoint.h streams). Parked workers only.
using ShareStateVisitor = void (*)(void* context, void* data, size_t bytes);
void VisitShareState(Simulation& sim, uint32_t first, uint32_t end, ShareStateVisitor visit, void* context);

// ---- 4. Simulation ------------------------------------------------------------------------------------
// What the last build started from. The network's structure (placement, wiring,
// initial weights, warm-up) is a function of these alone, so setting them again
// and building rebuilds the same network.
struct BuildOrigin {
    SimParams params;             // before the build normalised and derived them
    RandomGeneratorState random;  // the generator before the build's first draw
};

// Where a simulation's messages go: `write` gets each message whole (no time
// stamp, no line end) on the thread that logs it. A null `write` writes each as a
// time-stamped line to standard output (WriteLogLine); the program passes its
// console log; a caller that wants silence passes a function that drops them.
struct LogSink {
    void* context = nullptr;
    void (*write)(void* context, uint8_t level, const char* text) = nullptr;
};

// Spikes and wall time of the steps run since the start.
struct RunTotals {
    uint64_t spikes = 0;
    double wallSeconds = 0;         // from the first step to the last
    double integrationSeconds = 0;  // the integration phases' share of it
    uint64_t synapseEvents = 0;     // spikes delivered to synapses (event engine; 0 with the exact one)
};

struct Simulation {
    SimParams params;
    RandomGeneratorState random;  // draws of the next build
    uint8_t stimulusOn = 0;       // regular stimulus; read by the last worker
    uint32_t stimulusPeriod = 100;  // steps
    LogSink logSink{};              // set while no simulation exists
    // Whether a start makes the view snapshot (a window's picture, traces and
    // inspector); a library caller with no view saves its making and its per-step
    // samples.
    bool views = true;

    // Lifecycle; transitions of SimState happen under StateLock.
    plat::RecursiveLock StateLock;
    uint32_t SimState = SimStateNone;
    uint8_t stopRequest = 0;  // tells the workers to leave their loop
    WorkManager* workManager = nullptr;
    WorkerContext* workers = nullptr;  // [workerCount] while a simulation exists
    uint32_t workerCount = 0;
    ViewSnapshot* viewSnapshot = nullptr;  // what a view draws while the workers run

    // Steps completed (time = 0.5 ms * stepCounter), written by the last worker.
    std::atomic<uint32_t> stepCounter{0};
    // The run's clock for real-time factors: ms (plat::TimeMs) when worker 0 began,
    // moved forward by pauses, and stepCounter then (a resumed run starts past 0).
    std::atomic<uint32_t> startTimeMs{0};
    std::atomic<uint32_t> startStep{0};
    uint32_t firstStep = 0;  // stepCounter when Start launched the workers (set before they run)
    std::atomic<uint32_t> pauseStartMs{0};
    // The statistics line's last sample (ms and stepCounter), reset at each start.
    std::atomic<uint32_t> sampleTimeMs{0};
    std::atomic<uint32_t> sampleSteps{0};

    // The network (owned by BuildNetwork / ReleaseNetwork).
    Neuron* neurons = nullptr;
    std::atomic<Neuron*> viewNeurons{nullptr};  // neurons as views see them (null: none)
    uint32_t neuronCount = 0;  // N of the built network
    uint64_t MemoryUsage = 0;  // bytes allocated for the network
    float* stdpPotentiation = nullptr;  // [kStdpWindow]
    float* stdpDepression = nullptr;    // [kStdpWindow]
    uint8_t* spiked = nullptr;  // [neuronCount] 1 for a neuron that fired in this step's fire phase
    // The ids of the neurons that fired in the step, ascending: firedIds[0, firedCount)
    // when an observer's `stepped` runs. While the step runs, the fire phase of a
    // range [first, end) writes its own ids from firedIds[first] on.
    uint32_t* firedIds = nullptr;  // [neuronCount]
    uint32_t firedCount = 0;
    // The exact engine's due bitmap of the step in a distributed run: bit i is set
    // when neuron i's spike reaches its terminals now (null otherwise).
    uint64_t* dueNow = nullptr;  // [(neuronCount + 63) / 64]
    struct EventEngine* eventEngine = nullptr;  // the event engine's state; null with the exact engine
    struct NetworkArena* arena = nullptr;  // blocks holding the per-neuron arrays, in neuron order
    BuildOrigin buildOrigin{};  // set by BuildNetwork before it changes anything
    ActivityAnalysis analysis{};
    Distribution distribution{};  // set while no simulation exists
    uint32_t shareFirst = 0, shareEnd = 0;  // the neurons this process steps (set by the build)
    uint64_t stepSpikeCount = 0;  // spikes of the step in progress (atomic adds)
    SimulationObserver observers[kMaxObservers] = {};
    int observerCount = 0;

    Simulation() = default;
    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;
    ~Simulation();

    // False when all kMaxObservers slots are taken. Only while no simulation exists.
    bool AddObserver(const SimulationObserver& observer);

    // Builds the network from params and random and starts the workers, which park
    // after `steps` steps (0: they run until paused or stopped). Logs each stage.
    SimResult Start(uint32_t steps = 0, const StartExtension* extension = nullptr);
    // On a network made by Build, Start launches the workers only (the extension is
    // not used): the simulation goes on from the built state.
    // Builds the network only (stepCounter 0, no workers, no observer called);
    // Release or the destructor frees it.
    SimResult Build(const StartExtension* extension = nullptr);
    // Releases a network made by Build.
    void Release();
    // Workers parked (at the step target, or by Park): runs `steps` more steps and
    // parks again (WaitForTarget waits for them). Busy when no worker is parked.
    SimResult Advance(uint32_t steps);
    // Waits up to `milliseconds` for the step target of Start; true once reached.
    bool WaitForTarget(uint32_t milliseconds);
    // Parks the workers between two steps; false when none runs.
    bool Pause();
    bool Resume();
    // Parks a running simulation, runs fn(context) if the network is at rest, and
    // lets it go on (a paused one, or one parked at its step target, stays parked). Busy: no simulation; Refused: the
    // workers wait inside a step (an observer's lock-step).
    SimStatus WhileParked(void (*fn)(void* context, Simulation& sim), void* context);
    // Parks the workers after the step in progress (the run's totals are final).
    void Park();
    RunTotals Totals() const;
    // Ends the workers, calls the observers' `stopped` and releases the network.
    void Stop();
    // Stop for a shutdown that cannot wait for ever: false, nothing done, when the
    // lifecycle and state locks stay taken for `milliseconds`.
    bool StopWithin(uint32_t milliseconds);
    uint32_t State() const { return plat::AtomicLoad(SimState); }
    // A message to the log sink (LogLevel, printf format).
    void Log(uint8_t level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

    void NotifyStarted() const;
    void NotifyStopped() const;
    void NotifyStepped(uint32_t step) const {
        for (int i = 0; i < observerCount; ++i)
            if (observers[i].stepped) observers[i].stepped(observers[i].context, *this, step);
    }

private:
    // Orders start, stop, pause and resume, whichever thread asks; taken before
    // StateLock, never the other way round.
    std::mutex lifecycleLock_;
    bool builtAlone_ = false;  // a network made by Build, not yet released
    void BeginBuild(const StartExtension* extension);
    bool Restore(const StartExtension* extension);  // true without an extension
    SimResult StartLocked(uint32_t steps, const StartExtension* extension);
    SimResult LaunchLocked(uint32_t steps);
    SimResult LaunchWorkersLocked(WorkManager* wm, uint32_t steps);
    void StopLocked();
    void SetState(uint32_t value);
};

// Whether this process keeps neuron i's incoming synapses and delay line (every
// neuron's, unless it keeps its share only).
inline bool KeepsNeuron(const Simulation& s, uint32_t i) {
    return !s.distribution.shareOnly || (i >= s.shareFirst && i < s.shareEnd);
}
