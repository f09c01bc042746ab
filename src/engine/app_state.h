// The one process-wide application record and the engine's process-wide values.
//
// Sections:
//   1. Options set by the configuration pages (copied by the sheet's backup)
//   2. Observers of a simulation
//   3. AppState: parameters, options, lifecycle fields, the network
//   4. Process-wide values published by the simulation loop
#pragma once

#include <atomic>
#include <cstdint>

#include "analysis/activity.h"
#include "engine/network.h"
#include "engine/params.h"
#include "engine/random.h"
#include "platform/platform.h"

struct ViewSnapshot;
struct WorkManager;
struct WorkerContext;

enum SimStateValue : uint32_t {
    SimStateNone = 0,
    SimStateRunning = 1,
    SimStatePaused = 2,
    SimStateInitializing = 3,
};

// ---- 1. Options ----------------------------------------------------------------------------
struct AppOptions {
    uint8_t renderHighPriority;    // render threads at the highest priority
    float NeuronAlpha;             // neuron opacity, 0..0.2
    uint8_t reducedVisualization;  // reduced-complexity visualization
    uint8_t limitFps;              // limit the render thread to 50 frames per second
    uint8_t waitVsync;             // wait for vertical sync
    uint8_t stimulusOn;            // regular stimulus (E key); read by the last worker
    uint32_t stimulusPeriod;       // steps
    char captureFolder[4096];
    uint32_t captureQuality;       // JPEG quality, 0..100
};

// ---- 2. Observers of a simulation -------------------------------------------------------------
// Everything that consumes a running simulation without being part of it (the spike
// recorder, the network export) registers an observer while no simulation exists.
// Each call is optional (null: not called):
//   started  on the thread that starts the simulation, after the network is built
//            and before its first step;
//   stepped  on the last worker thread at the end of every step, after the step's
//            work and before the other workers are released, with the index of the
//            step just completed (0 for the first); the step's spike marks are in
//            AppState::spiked. It may read the network but not write it, and it
//            delays the next step by its own time: hand heavy work to a thread;
//   stopped  on the thread that stops the simulation, after the workers have ended
//            and before the network is released.
struct SimulationObserver {
    void* context = nullptr;
    void (*started)(void* context, const AppState& state) = nullptr;
    void (*stepped)(void* context, const AppState& state, uint32_t step) = nullptr;
    void (*stopped)(void* context, const AppState& state) = nullptr;
};
inline constexpr int kMaxObservers = 4;

// ---- 3. AppState ----------------------------------------------------------------------------
// What the last build started from. The network's structure (placement, wiring,
// initial weights, warm-up) is a function of these alone, so setting them again
// and building rebuilds the same network.
struct BuildOrigin {
    SimParams params;             // before the build normalised and derived them
    RandomGeneratorState random;  // the generator before the build's first draw
};

struct AppState {
    SimParams params;
    AppOptions options;

    // Lifecycle; RestoreDefaults leaves these alone.
    plat::RecursiveLock StateLock;
    uint32_t SimState = SimStateNone;  // transitions to Running/Paused/None under StateLock
    uint8_t stopRequest = 0;           // tells the workers to leave their loop
    uint8_t recordingSpikes = 0;       // 1 while a spike report is being written (the HUD shows it)
    WorkManager* workManager = nullptr;
    WorkerContext* workers = nullptr;  // [workerCount] while a simulation exists
    uint32_t workerCount = 0;
    ViewSnapshot* viewSnapshot = nullptr;  // what the render thread draws (with the workers)

    // The network (owned by BuildNetwork / ReleaseNetwork).
    Neuron* neurons = nullptr;
    uint32_t neuronCount = 0;  // N of the built network
    uint64_t MemoryUsage = 0;  // bytes allocated for the network
    float* stdpPotentiation = nullptr;  // [kStdpWindow]
    float* stdpDepression = nullptr;    // [kStdpWindow]
    uint8_t* spiked = nullptr;  // [neuronCount] 1 for a neuron that fired in this step's fire phase
    struct NetworkArena* arena = nullptr;  // blocks holding the per-neuron arrays, in neuron order
    BuildOrigin buildOrigin{};  // set by BuildNetwork before it changes anything
    ActivityAnalysis analysis{};
    uint64_t stepSpikeCount = 0;  // spikes of the step in progress (atomic adds)
    SimulationObserver observers[kMaxObservers] = {};
    int observerCount = 0;
};

// ---- 4. Process-wide values -------------------------------------------------------------------
extern std::atomic<uint32_t> StepCounter;     // steps completed; time = 0.5 ms * StepCounter
extern std::atomic<uint32_t> SimStartTime;    // ms (TimeMs) when worker 0 started, moved by pauses
extern std::atomic<uint32_t> SimStartStep;    // StepCounter then (a resumed run starts past 0)
extern std::atomic<uint32_t> LastSampleTime;  // ms of the render thread's last statistics sample
extern std::atomic<uint8_t> CaptureOn;        // frames are captured: one step per frame
extern plat::AutoResetEvent CaptureStepEvent; // set by the render thread after each captured frame
extern uint32_t DefaultWorkerThreads;         // from the core count, set by RestoreDefaults
extern std::atomic<Neuron*> ViewNeurons;      // the neuron array as the visualization sees it
extern bool WireframeMode;                    // "wireframe" switch: line scene, opacity 0.065

// Adds an observer (false when all kMaxObservers slots are taken). Only while no
// simulation exists.
bool AddObserver(AppState& state, const SimulationObserver& observer);
// Calls every observer's `started`, or every observer's `stopped`.
void NotifyStarted(const AppState& state);
void NotifyStopped(const AppState& state);
inline void NotifyStepped(const AppState& state, uint32_t step) {
    for (int i = 0; i < state.observerCount; ++i)
        if (state.observers[i].stepped) state.observers[i].stepped(state.observers[i].context, state, step);
}

// Fills every parameter and option with its default (leaving the lifecycle fields
// and the network alone). Computes DefaultWorkerThreads from the core count first.
void RestoreDefaults(AppState& state);
// Fills the options only (wireframe opacity, capture folder of the program, ...).
void SetDefaultOptions(AppOptions& options);
