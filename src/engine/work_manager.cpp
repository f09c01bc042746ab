// Work manager and simulation loop.
//
// Sections:
//   1. Kernels and clock
//   2. Creation and release
//   3. Chunk taking
//   4. Barriers and the end-of-step work
//   5. The worker loop
//   6. Control: pause gate and stop release
#include "engine/work_manager.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <new>
#include <thread>

#include <immintrin.h>

#include "engine/activity.h"
#include "engine/simulation.h"
#include "engine/dynamics.h"
#include "engine/event.h"
#include "engine/view_snapshot.h"
#include "platform/log.h"

// ---- 1. Kernels and clock -----------------------------------------------------------------------

StepKernels DefaultStepKernels() {
    return StepKernels{&UpdateChunk, &FireApplyRange, &FireLearnRange, &ApplyStimulus};
}

uint64_t SteadyNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// ---- 2. Creation and release ----------------------------------------------------------------------

WorkManager* CreateWorkManager(uint32_t threadCount, uint32_t neuronCount, uint32_t base) {
    if (threadCount < 1) threadCount = 1;
    if (threadCount > kMaxWorkerThreads) threadCount = kMaxWorkerThreads;

    WorkManager* wm = new (std::nothrow) WorkManager{};
    if (wm == nullptr) return nullptr;
    const uint32_t perThread = neuronCount / threadCount;
    uint32_t chunkSize = perThread < kMaxChunkSize ? perThread : kMaxChunkSize;
    if (chunkSize == 0) chunkSize = 1;  // fewer neurons than threads
    wm->neuronsPerThread = perThread;
    wm->chunkSize = chunkSize;
    // Whole chunks, plus one short chunk for the neurons a division leaves over.
    wm->chunkCount = neuronCount / chunkSize + (neuronCount % chunkSize != 0 ? 1 : 0);
    wm->chunksPerRange = perThread / chunkSize;
    wm->threadCount = threadCount;
    wm->rangeCount = threadCount;
    wm->neuronCount = neuronCount;
    wm->base = base;
    wm->nextThreadIndex = 0;
    wm->barrierCount = static_cast<int32_t>(threadCount);
    wm->waitAtBarriers = 1;
    wm->kernels = DefaultStepKernels();

    wm->chunkTaken = static_cast<uint8_t*>(plat::AlignedAllocZeroed(wm->chunkCount));
    wm->rangeDone = static_cast<uint8_t*>(plat::AlignedAllocZeroed(wm->rangeCount));
    wm->rangeFirstChunk = static_cast<uint32_t*>(
        plat::AlignedAllocZeroed((wm->rangeCount + 1) * sizeof(uint32_t)));
    wm->chunkFired = static_cast<uint32_t*>(plat::AlignedAllocZeroed(wm->chunkCount * sizeof(uint32_t)));
    wm->rangeFront =
        static_cast<uint32_t*>(plat::AlignedAllocZeroed(wm->rangeCount * kRangeFrontStride * sizeof(uint32_t)));
    wm->events = new (std::nothrow) plat::AutoResetEvent[threadCount];
    wm->sleeping = new (std::nothrow) std::atomic<uint64_t>[threadCount]{};
    const unsigned hardwareThreads = std::thread::hardware_concurrency();
    wm->spinNs = threadCount > 1 && hardwareThreads >= threadCount ? kBarrierSpinNs : 0;
    if (wm->chunkTaken == nullptr || wm->rangeDone == nullptr || wm->rangeFirstChunk == nullptr || wm->chunkFired == nullptr ||
        wm->rangeFront == nullptr ||
        wm->events == nullptr || wm->sleeping == nullptr) {
        ReleaseWorkManager(wm);
        return nullptr;
    }
    // Every chunk in exactly one range: equal shares, and the chunks left over
    // (thread counts that do not divide the network) one each to the first ranges.
    const uint32_t perRange = wm->chunkCount / threadCount;
    const uint32_t extra = wm->chunkCount % threadCount;
    for (uint32_t r = 0; r <= threadCount; ++r)
        wm->rangeFirstChunk[r] = r * perRange + (r < extra ? r : extra);
    ResetChunks(*wm);
    return wm;
}

void ReleaseWorkManager(WorkManager* wm) {
    if (wm == nullptr) return;
    plat::AlignedFree(wm->chunkTaken);
    plat::AlignedFree(wm->rangeDone);
    plat::AlignedFree(wm->rangeFirstChunk);
    plat::AlignedFree(wm->chunkFired);
    plat::AlignedFree(wm->rangeFront);
    delete[] wm->events;
    delete[] wm->sleeping;
    delete wm;
}

// ---- 3. Chunk taking ------------------------------------------------------------------------------

namespace {

// The flags are taken without a lock: a chunk belongs to the thread whose exchange
// set its flag. Only the barrier that ends the phase publishes a chunk's results.
inline bool IsTaken(uint8_t& flag) { return std::atomic_ref<uint8_t>(flag).load(std::memory_order_relaxed) != 0; }
inline bool Claim(uint8_t& flag) {
    return !IsTaken(flag) && std::atomic_ref<uint8_t>(flag).exchange(1, std::memory_order_relaxed) == 0;
}

}  // namespace

uint32_t TakeChunk(WorkManager& wm, uint32_t i) {
    uint8_t* taken = wm.chunkTaken;
    std::atomic_ref<uint8_t> ownDone(wm.rangeDone[i]);
    if (ownDone.load(std::memory_order_relaxed) == 0) {
        // From where the owner left off: every chunk before its front is taken.
        std::atomic_ref<uint32_t> front(wm.rangeFront[i * kRangeFrontStride]);
        for (uint32_t c = front.load(std::memory_order_relaxed), e = wm.rangeFirstChunk[i + 1]; c < e; ++c) {
            if (Claim(taken[c])) {
                front.store(c + 1, std::memory_order_relaxed);
                return c;
            }
        }
        ownDone.store(1, std::memory_order_relaxed);
    }
    // Steal: the middle of the first free run of the next unfinished range,
    // leaving the front of the run to its owner (again if another thread took
    // that chunk first).
    uint32_t r = i < wm.threadCount - 1 ? i + 1 : 0;
    for (uint32_t visited = 0; visited + 1 < wm.rangeCount; ++visited) {
        std::atomic_ref<uint8_t> done(wm.rangeDone[r]);
        while (done.load(std::memory_order_relaxed) == 0) {
            const uint32_t end = wm.rangeFirstChunk[r + 1];
            uint32_t p = std::atomic_ref<uint32_t>(wm.rangeFront[r * kRangeFrontStride]).load(std::memory_order_relaxed);
            while (p < end && IsTaken(taken[p])) ++p;
            if (p == end) {
                done.store(1, std::memory_order_relaxed);
                break;
            }
            uint32_t q = p + 1;
            while (q < end && !IsTaken(taken[q])) ++q;
            const uint32_t c = (p + q) / 2;
            if (Claim(taken[c])) return c;
        }
        r = r + 1 < wm.threadCount ? r + 1 : 0;
    }
    return kNoChunk;
}

void ResetChunks(WorkManager& wm) {
    std::memset(wm.chunkTaken, 0, wm.chunkCount);
    std::memset(wm.rangeDone, 0, wm.rangeCount);
    for (uint32_t r = 0; r < wm.rangeCount; ++r) wm.rangeFront[r * kRangeFrontStride] = wm.rangeFirstChunk[r];
}

// ---- 4. Barriers and the end-of-step work -------------------------------------------------------------

namespace {

// After integration (clearing the weight histogram on histogram steps), between
// the fire sub-phases, and at the end of the step.
enum class BarrierKind {
    Integration,
    IntegrationClearHistogram,
    FireApply,
    FusedFireApply,  // after chunks integrated and fired at once: both barriers' work
    FusedFireApplyClearHistogram,
    EndOfStep
};

bool StopRequested(const Simulation& state) { return plat::AtomicLoad(state.stopRequest) != 0; }

// The last thread's work at the end-of-step barrier, in order. Returns false when
// the thread must end (stop request) without releasing anyone.
// The chunks' fired ids moved together, in chunk order: firedIds[0, firedCount)
// ascending. Each run moves to a place at or before its own, so in place.
void GatherFiredIds(Simulation& state, const WorkManager& wm) {
    uint32_t count = 0;
    for (uint32_t c = 0; c < wm.chunkCount; ++c) {
        const uint32_t first = ChunkFirstNeuron(wm, c), fired = wm.chunkFired[c];
        if (fired != 0 && first != count)
            std::memmove(state.firedIds + count, state.firedIds + first, fired * sizeof(uint32_t));
        count += fired;
    }
    state.firedCount = count;
}

bool LastThreadEndOfStep(Simulation& state, WorkManager& wm) {
    if (StopRequested(state)) return false;
    if (state.dueNow != nullptr)  // every process has delivered this step's spikes
        std::memset(state.dueNow, 0, (state.neuronCount + 63) / 64 * sizeof(uint64_t));
    EndOfStep(state, plat::AtomicLoad(state.stepSpikeCount));
    const uint32_t completed = state.stepCounter.load(std::memory_order_acquire);
    state.NotifyStepped(completed - 1);  // an observer may wait here (lock-step)
    if (StopRequested(state)) return false;
    plat::AtomicStore(wm.step, completed);
    plat::AtomicStore(wm.lastStepNs, SteadyNs());

    // The network is at rest until this thread releases the others: record the
    // inspected neuron's trace sample and start the frame the render thread asked
    // for (the workers add v and vEnvelopeView during the next integration, which
    // writes neither).
    if (state.viewSnapshot != nullptr) {
        // The event engine keeps the delay lines of the neurons the inspector shows.
        if (state.eventEngine != nullptr)
            EventTrackNeuron(state, state.viewSnapshot->inspected.load(std::memory_order_relaxed));
        RecordViewTrace(state, *state.viewSnapshot);
        wm.viewFrame = BeginViewFrame(state, *state.viewSnapshot);
    }

    if (wm.stepTarget != 0 && completed == wm.stepTarget) {
        plat::AtomicStore(wm.pauseRequested, uint8_t{1});
        wm.targetEvent.Set();
    }
    // Pause gate: park between steps while the others wait at this barrier (in a
    // distributed run only at the step every process agreed on). The
    // event engine's state goes to the records for whoever reads the parked network,
    // and comes back from them, with what that reader changed, before the next step.
    if (plat::AtomicLoad(wm.pauseRequested) != 0 && (state.distribution.ranks == 1 || completed == wm.stepTarget)) {
        if (state.eventEngine != nullptr) EventStoreNeurons(state);
        plat::AtomicStore(wm.parked, uint8_t{1});
        wm.parkedEvent.Set();
        while (plat::AtomicLoad(wm.pauseRequested) != 0 && !StopRequested(state))
            wm.resumeEvent.Wait();
        plat::AtomicStore(wm.parked, uint8_t{0});
        if (StopRequested(state)) return false;
        if (state.eventEngine != nullptr) EventLoadNeurons(state);
    }
    return true;
}

// A distributed run's exchange after sub-phase (a): every process's spikes and due
// bits of the step; a park that any process asked for happens after this step on
// all of them.
void ExchangeStep(Simulation& state, WorkManager& wm) {
    StepExchange x{};
    x.step = wm.step;
    x.first = state.shareFirst;
    x.end = state.shareEnd;
    x.firedIds = state.firedIds;
    x.firedCount = state.firedCount;
    x.due = state.eventEngine != nullptr ? EventDueRow(state, wm.step) : state.dueNow;
    x.dueWords = (state.neuronCount + 63) / 64;
    x.park = plat::AtomicLoad(wm.pauseRequested) != 0;
    state.distribution.exchange(state.distribution.context, x);
    if (state.eventEngine != nullptr) {  // the other processes' runs due now, to the arrival
        EventAdvanceTrains(state, 0, state.shareFirst, static_cast<int32_t>(wm.step));
        EventAdvanceTrains(state, state.shareEnd, state.neuronCount, static_cast<int32_t>(wm.step));
    }
    state.firedCount = x.firedCount;
    plat::AtomicStore(state.stepSpikeCount, uint64_t{x.firedCount});
    if (x.park && (wm.stepTarget == 0 || wm.stepTarget > wm.step + 1)) {
        wm.stepTarget = wm.step + 1;
        plat::AtomicStore(wm.pauseRequested, uint8_t{1});
    }
}

// A thread's spin budget adapts: a spin that sees the release restores it to
// wm.spinNs, one that times out shrinks it by a quarter, so a machine whose cores
// are busy with other work soon stops spinning; every 256th barrier tries again.
struct SpinBudget {
    uint64_t ns = 0;
    uint32_t arrivals = 0;
};

// Waits until the barrier of generation `gen` is passed: spins for at most the
// thread's budget (not while a pause is asked for), then sleeps on its event.
// The sleeping token and the generation are both sequentially consistent, so
// either this thread sees the new generation or the releasing thread sees the
// token and sets the event; a wake-up sent to a thread that saw the generation
// first is consumed here, never left for the next barrier. The token names the
// barrier, so a releaser still busy with this barrier never wakes a thread that
// has gone on and sleeps at the next one.
void WaitForRelease(const Simulation& state, WorkManager& wm, uint32_t i, uint32_t gen, SpinBudget& budget) {
    if ((++budget.arrivals & 255) == 0) budget.ns = wm.spinNs;
    if (budget.ns >= 1000) {
        const uint64_t until = SteadyNs() + budget.ns;
        for (uint32_t n = 1; wm.generation.load(std::memory_order_acquire) == gen; ++n) {
            _mm_pause();
            if ((n & 63) == 0 &&
                (SteadyNs() > until || plat::AtomicLoad(wm.pauseRequested) != 0 || StopRequested(state)))
                break;
        }
        if (wm.generation.load(std::memory_order_acquire) != gen) {
            budget.ns = wm.spinNs;
            return;
        }
        budget.ns -= budget.ns / 4;
    }
    const uint64_t token = uint64_t{gen} + 1;
    wm.sleeping[i].store(token);
    if (wm.generation.load() != gen) {
        uint64_t mine = token;
        if (!wm.sleeping[i].compare_exchange_strong(mine, 0)) wm.events[i].Wait();  // the releaser's Set
        return;
    }
    wm.events[i].Wait();
}

// Arrives at a barrier. Returns false when the thread must end. A count at or
// below 0 only arises from the stop release, which every path checks.
bool ArriveAtBarrier(Simulation& state, WorkManager& wm, uint32_t i, BarrierKind kind, SpinBudget& budget) {
    // Read before arriving: the barrier cannot be passed before this thread arrives.
    const uint32_t gen = wm.generation.load(std::memory_order_acquire);
    const int32_t remaining = plat::AtomicDecrement(wm.barrierCount);
    if (remaining <= 0) {
        if (StopRequested(state)) return false;
        if (kind == BarrierKind::EndOfStep && !LastThreadEndOfStep(state, wm)) return false;
        const bool fused = kind == BarrierKind::FusedFireApply || kind == BarrierKind::FusedFireApplyClearHistogram;
        const bool integration =
            fused || kind == BarrierKind::Integration || kind == BarrierKind::IntegrationClearHistogram;
        if (kind == BarrierKind::FireApply || fused) {
            GatherFiredIds(state, wm);
            if (state.distribution.exchange != nullptr) ExchangeStep(state, wm);
        }
        if (kind == BarrierKind::EndOfStep) {
            plat::AtomicStore(wm.stepStartNs, SteadyNs());
        } else if (integration) {
            // With fused phases, the integration's time includes sub-phase (a).
            const uint64_t now = SteadyNs();
            plat::AtomicStore(wm.integrationNs, plat::AtomicLoad(wm.integrationNs) +
                                                    (now - plat::AtomicLoad(wm.stepStartNs)));
        }
        if (integration && wm.viewFrame != nullptr) {
            PublishViewFrame(*state.viewSnapshot);  // every chunk's values are in
            wm.viewFrame = nullptr;
        }
        ResetChunks(wm);
        plat::AtomicStore(wm.barrierCount, static_cast<int32_t>(wm.threadCount));
        if (kind == BarrierKind::IntegrationClearHistogram || kind == BarrierKind::FusedFireApplyClearHistogram)
            ClearWeightHistogram(state);
        wm.generation.fetch_add(1);
        const uint64_t token = uint64_t{gen} + 1;  // threads asleep at this barrier
        for (uint32_t j = 0; j < wm.threadCount; ++j) {
            uint64_t asleep = token;
            if (j != i && wm.sleeping[j].compare_exchange_strong(asleep, 0)) wm.events[j].Set();
        }
        return true;
    }
    if (plat::AtomicLoad(wm.waitAtBarriers) != 0) WaitForRelease(state, wm, i, gen, budget);
    return !StopRequested(state);
}

}  // namespace

void EndOfStep(Simulation& state, uint64_t spikes) {
    if (plat::AtomicLoad(state.stimulusOn) != 0) {
        const uint32_t s = state.stepCounter.load(std::memory_order_acquire);
        if (state.workManager != nullptr)
            state.workManager->kernels.stimulus(state, s);
        else
            ApplyStimulus(state, s);
    }
    state.stepCounter.fetch_add(1, std::memory_order_acq_rel);
    RecordStepSpikes(state, spikes);
    plat::AtomicStore(state.stepSpikeCount, uint64_t{0});
    if (state.workManager != nullptr)
        plat::AtomicStore(state.workManager->spikeTotal,
                          plat::AtomicLoad(state.workManager->spikeTotal) + spikes);
}

// ---- 5. The worker loop ----------------------------------------------------------------------------

void WorkerThread(WorkerContext* context) {
    const plat::FlushToZeroScope flushToZero;
    if (context->idlePriority != 0) plat::SetCurrentThreadPriority(plat::ThreadPriority::Idle);
    Simulation& state = *context->state;
    WorkManager& wm = *context->workManager;
    // Start gate: no thread steps until all of them exist (a failed launch ends
    // the ones that began before they touch the network).
    wm.startGate.wait(0, std::memory_order_acquire);
    if (StopRequested(state)) {
        plat::AtomicDecrement(wm.activeThreads);
        wm.exitEvent.Set();
        return;
    }
    uint32_t i;
    {
        plat::LockGuard guard(wm.lock);
        i = wm.nextThreadIndex++;
    }
    if (context->index == 0) {
        const uint32_t now = plat::TimeMs();
        state.startStep.store(state.stepCounter.load(std::memory_order_acquire), std::memory_order_release);
        state.startTimeMs.store(now, std::memory_order_release);
        state.sampleTimeMs.store(now, std::memory_order_release);
        const uint64_t startNs = SteadyNs();
        plat::AtomicStore(wm.firstStepNs, startNs);
        plat::AtomicStore(wm.stepStartNs, startNs);
    }
    const StepKernels k = wm.kernels;
    bool countWeights = false;
    SpinBudget spin{wm.spinNs, 0};

    for (;;) {
        const uint32_t s = plat::AtomicLoad(wm.step);
        const int32_t step = static_cast<int32_t>(s);
        // The weights of a histogram step are counted once its fire phase has
        // ended everywhere: here, before this step's integration, which reads
        // weights but never writes them.
        // A step that counts the weights keeps its integration barrier: no range
        // fires while another is still counting.
        const bool fused = k.integrateFire != nullptr && !countWeights;
        if (countWeights) {
            CountWeights(state, context->first, context->end);
            countWeights = false;
        }
        ViewFrame* const view = wm.viewFrame;  // set while the others waited
        const bool histogramStep = s % kWeightHistogramPeriod == 0;
        uint64_t spikes = 0;
        if (fused) {
            for (uint32_t c; (c = TakeChunk(wm, i)) != kNoChunk;) {
                const uint32_t first = ChunkFirstNeuron(wm, c), end = ChunkEndNeuron(wm, c);
                if (view != nullptr) CopyViewRange(state, *view, first, end);
                wm.chunkFired[c] = k.integrateFire(state, first, end, step, i);
                spikes += wm.chunkFired[c];
            }
        } else {
            for (uint32_t c; (c = TakeChunk(wm, i)) != kNoChunk;) {
                const uint32_t first = ChunkFirstNeuron(wm, c), end = ChunkEndNeuron(wm, c);
                if (view != nullptr) CopyViewRange(state, *view, first, end);
                k.integrate(state, first, end);
            }
            if (!ArriveAtBarrier(state, wm, i,
                                 histogramStep ? BarrierKind::IntegrationClearHistogram
                                               : BarrierKind::Integration,
                                 spin))
                break;
            for (uint32_t c; (c = TakeChunk(wm, i)) != kNoChunk;) {
                wm.chunkFired[c] = k.fireApply(state, ChunkFirstNeuron(wm, c), ChunkEndNeuron(wm, c), step, i);
                spikes += wm.chunkFired[c];
            }
        }
        plat::AtomicAdd(state.stepSpikeCount, spikes);
        const BarrierKind fired = !fused        ? BarrierKind::FireApply
                                  : histogramStep ? BarrierKind::FusedFireApplyClearHistogram
                                                  : BarrierKind::FusedFireApply;
        if (!ArriveAtBarrier(state, wm, i, fired, spin)) break;

        if (k.learnPartition != nullptr)
            k.learnPartition(state, i, step);
        else
            for (uint32_t c; (c = TakeChunk(wm, i)) != kNoChunk;)
                k.fireLearn(state, ChunkFirstNeuron(wm, c), ChunkEndNeuron(wm, c), step);
        countWeights = histogramStep;
        if (!ArriveAtBarrier(state, wm, i, BarrierKind::EndOfStep, spin)) break;
    }
    plat::AtomicDecrement(wm.activeThreads);
    wm.exitEvent.Set();
}

// ---- 6. Control ------------------------------------------------------------------------------------

bool WorkersParked(const WorkManager& wm) { return plat::AtomicLoad(wm.parked) != 0; }

void ParkedViewFrame(Simulation& state, WorkManager& wm, uint32_t inspected) {
    if (state.viewSnapshot == nullptr) return;
    wm.viewFrame = nullptr;  // a frame begun before parking is filled here instead
    FillViewFrame(state, *state.viewSnapshot, inspected);
}

bool ObserverWaiting(const Simulation& state) {
    for (int i = 0; i < state.observerCount; ++i)
        if (state.observers[i].waiting && state.observers[i].waiting(state.observers[i].context)) return true;
    return false;
}

bool PauseWorkers(Simulation& state, WorkManager& wm) {
    plat::AtomicStore(wm.pauseRequested, uint8_t{1});
    for (;;) {
        // A worker waiting in an observer (lock-step) advances nothing either.
        if (plat::AtomicLoad(wm.parked) != 0 || ObserverWaiting(state)) return true;
        if (plat::AtomicLoad(wm.activeThreads) == 0) return false;
        if (plat::AtomicLoad(wm.pauseRequested) == 0) return false;  // resumed meanwhile
        wm.parkedEvent.WaitFor(50);
    }
}

void ResumeWorkers(WorkManager& wm) {
    plat::AtomicStore(wm.pauseRequested, uint8_t{0});
    wm.resumeEvent.Set();
}

void ReleaseWorkersForStop(Simulation& state, WorkManager& wm) {
    plat::AtomicStore(state.stopRequest, uint8_t{1});
    plat::AtomicStore(wm.waitAtBarriers, uint8_t{0});
    plat::AtomicExchange(wm.barrierCount, int32_t{0});
    for (uint32_t j = 0; j < wm.threadCount; ++j) wm.events[j].Set();
    plat::AtomicExchange(wm.barrierCount, int32_t{0});
    // A parked worker and one waiting in an observer are released too.
    wm.resumeEvent.Set();
    for (int i = 0; i < state.observerCount; ++i)
        if (state.observers[i].release) state.observers[i].release(state.observers[i].context);
}

namespace {

void OpenStartGate(WorkManager& wm) {
    wm.startGate.store(1, std::memory_order_release);
    wm.startGate.notify_all();
}

// Ends the first `started` workers of a launch that failed (they wait at the start
// gate), joins them and forgets the launch.
void AbandonLaunch(Simulation& state, WorkManager& wm, uint32_t started) {
    plat::AtomicStore(state.stopRequest, uint8_t{1});
    OpenStartGate(wm);
    for (uint32_t j = 0; j < started; ++j) state.workers[j].thread.join();
    delete[] state.workers;
    ReleaseViewSnapshot(state.viewSnapshot);
    state.workers = nullptr;
    state.workerCount = 0;
    state.workManager = nullptr;
    state.viewSnapshot = nullptr;
}

}  // namespace

bool LaunchWorkers(Simulation& state, WorkManager* wm, bool idlePriority) {
    const uint32_t threads = wm->threadCount;
    const uint32_t n = wm->neuronCount;
    const uint32_t share = n / threads;
    WorkerContext* workers = new (std::nothrow) WorkerContext[threads];
    if (workers == nullptr) return false;
    if (state.eventEngine != nullptr) {
        EventSetWorkers(state, threads);
        EventLoadNeurons(state);
    }
    // A process that keeps only its share has no whole network to show.
    const bool views = state.views && !state.distribution.shareOnly;
    ViewSnapshot* snapshot = views ? CreateViewSnapshot(state) : nullptr;
    if (views && snapshot == nullptr) {
        delete[] workers;
        return false;
    }
    for (uint32_t i = 0; i < threads; ++i) {
        WorkerContext& w = workers[i];
        w.index = i;
        w.threadCount = threads;
        w.first = wm->base + i * share;
        // The last share also takes the neurons the division leaves over, so
        // that the weight histogram counts every synapse.
        w.end = wm->base + (i + 1 == threads ? n : i * share + share);
        w.neurons = state.neurons;
        w.state = &state;
        w.workManager = wm;
        w.idlePriority = idlePriority ? 1 : 0;
    }
    plat::AtomicStore(state.stopRequest, uint8_t{0});
    plat::AtomicStore(state.stepSpikeCount, uint64_t{0});
    wm->step = state.stepCounter.load(std::memory_order_acquire);
    wm->activeThreads = threads;
    state.workManager = wm;
    state.workers = workers;
    state.workerCount = threads;
    state.viewSnapshot = snapshot;
    uint32_t started = 0;
    try {
        for (; started < threads; ++started) {
            WorkerContext* w = &workers[started];
            w->thread = std::thread([w] { WorkerThread(w); });
        }
    } catch (const std::exception&) {  // no thread (or no memory for one) left
        AbandonLaunch(state, *wm, started);
        return false;
    }
    OpenStartGate(*wm);
    return true;
}

bool StopWorkers(Simulation& state) {
    WorkManager* wm = state.workManager;
    if (wm == nullptr) return true;
    constexpr uint32_t kWaitMs = 30;
    constexpr uint32_t kWaitLimit = 133;  // about 4 s
    uint32_t waits = 0;
    bool inTime = true;
    ReleaseWorkersForStop(state, *wm);
    while (plat::AtomicLoad(wm->activeThreads) != 0) {
        ReleaseWorkersForStop(state, *wm);
        wm->exitEvent.WaitFor(kWaitMs);
        if (++waits == kWaitLimit && plat::AtomicLoad(wm->activeThreads) != 0) {
            // A thread cannot be ended safely from outside: keep releasing and waiting.
            state.Log(LogWarning,
                       "Worker threads have not ended after %u ms; still waiting for them.",
                       kWaitLimit * kWaitMs);
            inTime = false;
        }
    }
    for (uint32_t i = 0; i < state.workerCount; ++i)
        if (state.workers[i].thread.joinable()) state.workers[i].thread.join();
    // Workers that ended between two steps leave the event engine's state in its arrays.
    if (state.eventEngine != nullptr && state.eventEngine->stateInArrays != 0) EventStoreNeurons(state);
    delete[] state.workers;
    state.workers = nullptr;
    state.workerCount = 0;
    state.workManager = nullptr;
    ReleaseWorkManager(wm);
    ReleaseViewSnapshot(state.viewSnapshot);
    state.viewSnapshot = nullptr;
    return inTime;
}
