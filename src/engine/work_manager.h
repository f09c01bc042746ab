// Work manager and simulation loop: worker threads advance the network in
// lock-step, one 0.5 ms step at a time.
//
// Sections:
//   1. Step kernels (the per-phase work, replaceable for tests)
//   2. WorkManager and WorkerContext records
//   3. Creation, chunk layout and chunk taking
//   4. The worker loop and the end-of-step work
//   5. Control from the lifecycle: pause gate, step target, release for stop
//
// A step on T threads: integration (chunks); barrier 1; fire sub-phase (a)
// (chunks, spikes counted); barrier 2, at which the last thread gathers the
// step's fired ids (and a distributed run exchanges them); fire sub-phase (b)
// (chunks, or one fixed partition per worker when the kernels have
// learnPartition); barrier 3, at which the last thread to arrive does the
// end-of-step work while the others wait.
// Chunks are taken afresh in each phase. A barrier is one atomic counter, a
// generation count and one auto-reset event per thread: a waiting thread spins on
// the generation for at most spinNs, then sleeps on its event, which the last
// thread sets only for threads that sleep.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/platform.h"

struct Simulation;
struct Neuron;
struct ViewFrame;

// ---- 1. Step kernels -----------------------------------------------------------------------
struct StepKernels {
    void (*integrate)(Simulation& state, uint32_t first, uint32_t end);
    // Returns the spikes; `worker` is the calling thread's range index (0 .. T - 1).
    uint32_t (*fireApply)(Simulation& state, uint32_t first, uint32_t end, int32_t s, uint32_t worker);
    void (*fireLearn)(Simulation& state, uint32_t first, uint32_t end, int32_t s);
    void (*stimulus)(Simulation& state, uint32_t s);
    // When set, sub-phase (b) is not taken in chunks: each worker calls this once
    // with its range index, for work split by a fixed partition of the neurons.
    void (*learnPartition)(Simulation& state, uint32_t worker, int32_t s) = nullptr;
    // When set, a chunk is integrated and fired at once by this kernel: no neuron's
    // fire phase reads another neuron's integration (the event engine's, whose
    // deliveries all wait for sub-phase (b)). The step then has no barrier between.
    uint32_t (*integrateFire)(Simulation& state, uint32_t first, uint32_t end, int32_t s, uint32_t worker) = nullptr;
};
// UpdateChunk, FireApplyRange, FireLearnRange and ApplyStimulus of the dynamics.
StepKernels DefaultStepKernels();

// ---- 2. Records ------------------------------------------------------------------------------
inline constexpr uint32_t kMaxChunkSize = 256;
inline constexpr uint32_t kNoChunk = 0xFFFFFFFFu;
// A wake-up from a futex costs some microseconds on the critical path of every
// barrier; most arrivals at a balanced barrier are closer together than this.
inline constexpr uint64_t kBarrierSpinNs = 20000;

inline constexpr uint32_t kRangeFrontStride = 16;  // 64 bytes

struct alignas(16) WorkManager {
    uint8_t* chunkTaken;  // [chunkCount] 1 when taken in the current phase
    uint8_t* rangeDone;   // [rangeCount] 1 when the range has no free chunk left
    uint32_t neuronsPerThread;  // neuronCount div threadCount
    uint32_t chunksPerRange;    // neuronsPerThread div chunkSize
    uint32_t threadCount;
    uint32_t chunkCount;        // chunks covering all neurons (the last may be short)
    uint32_t chunkSize;         // min(neuronsPerThread, 256), at least 1
    uint32_t rangeCount;        // = threadCount
    uint32_t neuronCount;       // the neurons stepped: [base, base + neuronCount)
    uint32_t base;              // 0, or the first neuron of a distributed process's share
    uint32_t nextThreadIndex;   // next range index for a starting thread
    int32_t barrierCount;       // threads still to arrive (atomic)
    uint8_t waitAtBarriers;     // 1 while threads block at barriers; cleared by stop
    plat::RecursiveLock lock;   // nextThreadIndex
    plat::AutoResetEvent* events;  // [threadCount], one per range index
    // [threadCount] generation + 1 of the barrier the thread sleeps at; 0: awake.
    // The generation keeps a releaser that is late from waking a thread that
    // already sleeps at the next barrier.
    std::atomic<uint64_t>* sleeping;
    std::atomic<uint32_t> generation{0};  // barriers passed
    // How long a thread at a barrier spins before it sleeps: kBarrierSpinNs when
    // every worker has a hardware thread of its own, else 0 (a spinning thread
    // would take the time of the one it waits for).
    uint64_t spinNs;
    // Range r holds chunks [rangeFirstChunk[r], rangeFirstChunk[r + 1]). With a
    // dividing thread count this is [r * chunksPerRange, (r + 1) * chunksPerRange);
    // otherwise the chunks left over go one each to the first ranges.
    uint32_t* rangeFirstChunk;  // [rangeCount + 1]
    // The first chunk of range r its owner has not taken yet: every chunk of the
    // range before it is taken (atomic; reset with the flags). At
    // r * kRangeFrontStride: each owner writes a line of its own.
    uint32_t* rangeFront;  // [rangeCount * kRangeFrontStride]
    // Spikes of each chunk in the step's fire phase: its ids are at
    // Simulation::firedIds[chunk's first neuron, + chunkFired[chunk]).
    uint32_t* chunkFired;  // [chunkCount]

    StepKernels kernels;
    uint32_t step;  // stepCounter value of the step in progress (written by the last thread)

    // Pause gate: the last thread parks at the end of a step while the others wait
    // at the barrier.
    uint8_t pauseRequested;
    uint8_t parked;
    plat::AutoResetEvent parkedEvent;  // set when the last thread has parked
    plat::AutoResetEvent resumeEvent;  // opens the gate

    // Optional step target (headless runs): after the step that brings stepCounter
    // to stepTarget the workers park and targetEvent is set. 0: none.
    uint32_t stepTarget;
    plat::AutoResetEvent targetEvent;

    // Running totals and the clock of the run.
    uint64_t spikeTotal;      // spikes of all completed steps
    uint64_t firstStepNs;     // steady clock when worker 0 began
    uint64_t lastStepNs;      // steady clock at the end of the latest step
    // Phase timing, written by the last thread at a barrier: when the current step
    // began (its predecessor's end-of-step release) and the summed time from each
    // step's beginning to the last arrival at its first barrier.
    uint64_t stepStartNs;
    uint64_t integrationNs;

    // The view frame begun at the end of the previous step (engine/view_snapshot.h):
    // the workers copy their chunks' values into it while integrating, and the last
    // thread at the integration barrier publishes it. Null: none.
    ViewFrame* viewFrame;

    // 1 once every worker of the launch exists: no thread steps before.
    std::atomic<uint32_t> startGate{0};

    // Workers that have not ended yet; exitEvent is set as each one ends.
    uint32_t activeThreads;
    plat::AutoResetEvent exitEvent;
};

struct alignas(16) WorkerContext {
    std::thread thread;
    uint32_t index;        // creation order from 0
    uint32_t threadCount;
    uint32_t first;        // static share [first, end); the last share runs to N
    uint32_t end;
    Neuron* neurons;
    Simulation* state;
    WorkManager* workManager;
    uint8_t idlePriority;  // the thread lowers itself to idle priority first
};

// ---- 3. Creation and chunks ---------------------------------------------------------------------

// For the neurons [base, base + neuronCount); null when memory is missing.
WorkManager* CreateWorkManager(uint32_t threadCount, uint32_t neuronCount, uint32_t base = 0);
void ReleaseWorkManager(WorkManager* wm);

inline uint32_t ChunkFirstNeuron(const WorkManager& wm, uint32_t chunk) {
    return wm.base + chunk * wm.chunkSize;
}
inline uint32_t ChunkEndNeuron(const WorkManager& wm, uint32_t chunk) {
    const uint64_t end = uint64_t(chunk + 1) * wm.chunkSize;
    return wm.base + (end > wm.neuronCount ? wm.neuronCount : static_cast<uint32_t>(end));
}

// Takes a free chunk for the thread of range i: its own range from the front,
// else the middle of the first free run of another range. kNoChunk when none.
uint32_t TakeChunk(WorkManager& wm, uint32_t rangeIndex);
// Clears chunkTaken, rangeDone and rangeFront for the next phase (last thread at
// a barrier).
void ResetChunks(WorkManager& wm);

// ---- 4. Worker loop ------------------------------------------------------------------------------

// The thread procedure; returns when the thread ends (stop request).
void WorkerThread(WorkerContext* context);

// Once-per-step work after the last barrier, shared with the single-thread
// StepNetwork: stimulus (when on) at the current stepCounter, stepCounter + 1,
// the spiking history (and every 2048th step the spectrum), the running spike
// total; clears the step spike count.
void EndOfStep(Simulation& state, uint64_t spikes);

// ---- 5. Control ------------------------------------------------------------------------------------

// Parks the workers at the end of the current step and returns once they are
// parked (or have ended). Returns whether they parked.
bool PauseWorkers(Simulation& state, WorkManager& wm);
// Whether a worker waits inside an observer's `stepped` (lock-step).
bool ObserverWaiting(const Simulation& state);
// Whether the workers are parked at the pause gate: then none writes the network,
// and everything they wrote before is visible to the caller.
bool WorkersParked(const WorkManager& wm);
// Fills and publishes a view frame with `inspected`'s details on the calling thread
// (the render thread, StateLock held); only while WorkersParked.
void ParkedViewFrame(Simulation& state, WorkManager& wm, uint32_t inspected);
// Opens the pause gate. The lifecycle calls it with StateLock held, so that the
// render thread, which reads the parked network under that lock, is never
// reading when the workers go on.
void ResumeWorkers(WorkManager& wm);
// One round of the stop release: stop request, wait flag, counter, events, gates.
void ReleaseWorkersForStop(Simulation& state, WorkManager& wm);

// Fills one WorkerContext per thread of `wm` over state's neurons, clears the stop
// request and the step spike count, creates the view snapshot, stores wm, the
// contexts and the snapshot in state and starts the threads; none steps before all
// exist. The first step is the current stepCounter value (the start sequence
// resets it to 0 before the build, whose warm-up reads it).
// Returns false, with nothing left running or stored, when memory or threads are
// missing; `wm` stays the caller's then.
bool LaunchWorkers(Simulation& state, WorkManager* wm, bool idlePriority);
// The stop release loop: releases the workers and waits 30 ms at a time until
// every one has ended, logging a warning after 133 waits (threads are never
// killed), then joins them and frees the contexts, the work manager and the view
// snapshot. Returns whether they all ended within the 133 waits.
bool StopWorkers(Simulation& state);
// Steady clock in nanoseconds (the run's wall time).
uint64_t SteadyNs();
