// The simulation's lifecycle: start, stop, pause, resume and parking.
//
// Sections:
//   1. Observers
//   2. Start and build
//   3. Stop
//   4. Pause, resume and parking
#include "engine/simulation.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <thread>

#include "engine/dynamics.h"
#include "engine/event.h"
#include "engine/work_manager.h"
#include "platform/log.h"

namespace {

constexpr const char* kLowMemoryMessage =
    "Initialization of the work manager failed due to low system memory conditions!";

// Parked between two steps now: the parked flag alone is not enough, since the
// last worker clears it only once it has woken after a resume. A flag with no
// pause request behind it belongs to a resume in progress.
bool ParkedNow(const WorkManager& wm) {
    return WorkersParked(wm) && plat::AtomicLoad(wm.pauseRequested) != 0;
}

// After ResumeWorkers: waits until the parked worker has left the pause gate, so
// that a pause or a write that follows never mistakes the old flag for a new
// park. Workers that are ending clear it too.
void WaitUntilUnparked(const WorkManager& wm) {
    while (WorkersParked(wm) && plat::AtomicLoad(wm.activeThreads) > 0 && plat::AtomicLoad(wm.pauseRequested) == 0)
        plat::SleepMs(1);
}

}  // namespace

Simulation::~Simulation() {
    Stop();
    if (builtAlone_) ReleaseNetwork(*this);  // Build without Release
}

void Simulation::Log(uint8_t level, const char* format, ...) const {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (logSink.write != nullptr)
        logSink.write(logSink.context, level, text);
    else
        WriteLogLine(text);
}

void Simulation::SetState(uint32_t value) {
    plat::LockGuard guard(StateLock);
    plat::AtomicStore(SimState, value);
}

// ---- 1. Observers ---------------------------------------------------------------------------------

bool Simulation::AddObserver(const SimulationObserver& observer) {
    if (observerCount >= kMaxObservers) return false;
    observers[observerCount++] = observer;
    return true;
}

void Simulation::NotifyStarted() const {
    for (int i = 0; i < observerCount; ++i)
        if (observers[i].started) observers[i].started(observers[i].context, *this);
}

void Simulation::NotifyStopped() const {
    for (int i = 0; i < observerCount; ++i)
        if (observers[i].stopped) observers[i].stopped(observers[i].context, *this);
}

// ---- 2. Start and build ------------------------------------------------------------------------------

// The opening of every build: a new simulation counts its steps from 0, from the
// warm-up of the build on; a resumed one is built the same way and then takes the
// saved step.
void Simulation::BeginBuild(const StartExtension* extension) {
    MemoryUsage = 0;
    Log(LogInfo, "Initializing new simulation. Please wait.");
    stepCounter.store(0, std::memory_order_release);
    if (extension != nullptr && extension->prepare != nullptr) extension->prepare(extension->context, *this);
}

bool Simulation::Restore(const StartExtension* extension) {
    return extension == nullptr || extension->restore == nullptr || extension->restore(extension->context, *this);
}

void ShareOfNeurons(uint32_t n, uint32_t rank, uint32_t ranks, uint32_t& first, uint32_t& end) {
    if (ranks <= 1) {
        first = 0;
        end = n;
        return;
    }
    const uint64_t words = (uint64_t{n} + 63) / 64;
    first = static_cast<uint32_t>(std::min<uint64_t>(n, words * rank / ranks * 64));
    end = static_cast<uint32_t>(std::min<uint64_t>(n, words * (rank + 1) / ranks * 64));
}

SimResult Simulation::Build(const StartExtension* extension) {
    std::lock_guard<std::mutex> lifecycle(lifecycleLock_);
    if (workManager != nullptr || neurons != nullptr) return {SimStatus::Busy, ""};
    BeginBuild(extension);
    const std::string error = BuildNetwork(*this);
    if (!error.empty()) return {SimStatus::NoResources, error};
    Log(LogInfo, "Simulation memory usage: %d MiB", static_cast<int>(MemoryUsage >> 20));
    if (!Restore(extension)) {
        ReleaseNetwork(*this);
        stepCounter.store(0, std::memory_order_release);
        return {SimStatus::Refused, ""};
    }
    builtAlone_ = true;
    return {};
}

void Simulation::Release() {
    std::lock_guard<std::mutex> lifecycle(lifecycleLock_);
    if (!builtAlone_) return;  // nothing built by Build (Stop releases a started one)
    builtAlone_ = false;
    ReleaseNetwork(*this);
    stepCounter.store(0, std::memory_order_release);
}

SimResult Simulation::Start(uint32_t steps, const StartExtension* extension) {
    std::lock_guard<std::mutex> lifecycle(lifecycleLock_);
    if (workManager != nullptr) return {SimStatus::Busy, ""};
    if (builtAlone_) return LaunchLocked(steps);
    if (neurons != nullptr) return {SimStatus::Busy, ""};
    return StartLocked(steps, extension);
}

// The workers for a network made by Build: it goes on from its step.
SimResult Simulation::LaunchLocked(uint32_t steps) {
    plat::AtomicStore(SimState, static_cast<uint32_t>(SimStateInitializing));
    Log(LogInfo, "Initializing work manager and worker threads...");
    WorkManager* wm = CreateWorkManager(RoundWorkerThreads(params.workerThreads), shareEnd - shareFirst, shareFirst);
    if (wm == nullptr) {
        SetState(SimStateNone);
        return {SimStatus::NoResources, kLowMemoryMessage};
    }
    builtAlone_ = false;  // the started simulation owns the network now: Stop releases it
    return LaunchWorkersLocked(wm, steps);
}

SimResult Simulation::Advance(uint32_t steps) {
    std::lock_guard<std::mutex> lifecycle(lifecycleLock_);
    WorkManager* wm = workManager;
    if (wm == nullptr || !ParkedNow(*wm)) return {SimStatus::Busy, ""};
    if (steps == 0) return {};
    wm->stepTarget = stepCounter.load(std::memory_order_acquire) + steps;
    wm->targetEvent.WaitFor(0);  // a target reached before a Park: not this one's
    {
        plat::LockGuard guard(StateLock);
        ResumeWorkers(*wm);
        plat::AtomicStore(SimState, static_cast<uint32_t>(SimStateRunning));
    }
    WaitUntilUnparked(*wm);
    return {};
}

SimResult Simulation::StartLocked(uint32_t steps, const StartExtension* extension) {
    plat::AtomicStore(SimState, static_cast<uint32_t>(SimStateInitializing));
    BeginBuild(extension);

    const auto fail = [this](SimStatus status, std::string error) {
        stepCounter.store(0, std::memory_order_release);
        SetState(SimStateNone);
        return SimResult{status, std::move(error)};
    };
    const uint32_t threads = RoundWorkerThreads(params.workerThreads);
    Log(LogInfo, "Initializing work manager and worker threads...");
    WorkManager* wm = CreateWorkManager(threads, params.neuronCount);
    if (wm == nullptr) {
        RefuseDistributedBuild(*this);
        return fail(SimStatus::NoResources, kLowMemoryMessage);
    }
    Log(LogInfo, "Starting the engine.");
    std::string error = BuildNetwork(*this);
    // Every process of a distributed run learns whether all of them built theirs.
    if (distribution.agree != nullptr && !distribution.agree(distribution.context, error.empty()) && error.empty()) {
        ReleaseNetwork(*this);
        error = kOtherProcessBuildMessage;
    }
    if (!error.empty()) {
        ReleaseWorkManager(wm);
        return fail(SimStatus::NoResources, error);
    }
    if (wm->neuronCount != shareEnd - shareFirst || wm->base != shareFirst) {
        // The chunks must cover the neurons this process steps of the network built.
        ReleaseWorkManager(wm);
        wm = CreateWorkManager(threads, shareEnd - shareFirst, shareFirst);
        if (wm == nullptr) {
            ReleaseNetwork(*this);
            if (distribution.agree != nullptr) distribution.agree(distribution.context, false);  // the resume's
            return fail(SimStatus::NoResources, kLowMemoryMessage);
        }
    }
    const bool restored = Restore(extension);
    // A resumed distributed run: every process restored the checkpoint, or none goes on.
    if (distribution.agree != nullptr && !distribution.agree(distribution.context, restored) && restored) {
        ReleaseWorkManager(wm);
        ReleaseNetwork(*this);
        return fail(SimStatus::NoResources, "Another process of the distributed run could not resume the checkpoint.");
    }
    if (!restored) {
        ReleaseWorkManager(wm);
        ReleaseNetwork(*this);
        return fail(SimStatus::Refused, "");
    }
    Log(LogInfo, "Simulation memory usage: %d MiB", static_cast<int>(MemoryUsage >> 20));
    return LaunchWorkersLocked(wm, steps);
}

SimResult Simulation::LaunchWorkersLocked(WorkManager* wm, uint32_t steps) {
    const auto fail = [this](SimStatus status, std::string error) {
        stepCounter.store(0, std::memory_order_release);
        SetState(SimStateNone);
        return SimResult{status, std::move(error)};
    };
    wm->kernels = StepKernelsFor(*this);
    NotifyStarted();
    firstStep = stepCounter.load(std::memory_order_acquire);
    wm->stepTarget = steps == 0 ? 0 : firstStep + steps;
    sampleSteps.store(firstStep, std::memory_order_release);
    if (!LaunchWorkers(*this, wm, params.idlePriority != 0)) {
        // No memory, or no thread left to create: LaunchWorkers has ended the ones
        // it began.
        ReleaseWorkManager(wm);
        NotifyStopped();
        ReleaseNetwork(*this);
        return fail(SimStatus::NoResources, kLowMemoryMessage);
    }
    SetState(SimStateRunning);
    Log(LogInfo, "Simulation started.");
    return {};
}

bool Simulation::WaitForTarget(uint32_t milliseconds) {
    WorkManager* wm = workManager;
    if (wm == nullptr || !wm->targetEvent.WaitFor(milliseconds)) return false;
    // The last worker sets the event just before it parks: the network is at rest
    // once it has.
    while (!WorkersParked(*wm) && plat::AtomicLoad(wm->activeThreads) > 0) std::this_thread::yield();
    return true;
}

// ---- 3. Stop -----------------------------------------------------------------------------------------

void Simulation::StopLocked() {
    WorkManager* wm = workManager;
    if (wm == nullptr) return;  // no simulation exists
    Log(LogInfo, "Stopping current simulation... ");

    if (State() == SimStatePaused) {
        {
            plat::LockGuard guard(StateLock);
            ResumeWorkers(*wm);
            plat::AtomicStore(SimState, static_cast<uint32_t>(SimStateRunning));
        }
        Log(LogInfo, "Simulation resumed.");
    }
    SetState(SimStateNone);

    // Release the workers until every one has ended: each leaves at its next barrier.
    StopWorkers(*this);
    NotifyStopped();
    ReleaseNetwork(*this);
    Log(LogInfo, "Simulation stopped. All resources are released.");
}

void Simulation::Stop() {
    std::lock_guard<std::mutex> lifecycle(lifecycleLock_);
    StopLocked();
}

bool Simulation::StopWithin(uint32_t milliseconds) {
    const uint32_t start = plat::TimeMs();
    const auto expired = [&] { return plat::TimeMs() - start >= milliseconds; };
    std::unique_lock<std::mutex> lifecycle(lifecycleLock_, std::try_to_lock);
    while (!lifecycle.owns_lock() && !expired()) {
        plat::SleepMs(5);
        lifecycle.try_lock();
    }
    if (!lifecycle.owns_lock()) return false;
    std::unique_lock<plat::RecursiveLock> stateLock(StateLock, std::try_to_lock);
    while (!stateLock.owns_lock() && !expired()) {
        plat::SleepMs(5);
        stateLock.try_lock();
    }
    if (!stateLock.owns_lock()) return false;
    StopLocked();
    return true;
}

// ---- 4. Pause, resume and parking ------------------------------------------------------------------------

bool Simulation::Pause() {
    std::lock_guard<std::mutex> lifecycle(lifecycleLock_);
    if (State() != SimStateRunning || workManager == nullptr) return false;
    pauseStartMs.store(plat::TimeMs());
    SetState(SimStatePaused);
    PauseWorkers(*this, *workManager);
    Log(LogInfo, "Simulation paused.");
    return true;
}

bool Simulation::Resume() {
    std::lock_guard<std::mutex> lifecycle(lifecycleLock_);
    if (State() != SimStatePaused || workManager == nullptr) return false;
    // Simulated time is measured without the pause.
    startTimeMs.fetch_add(plat::TimeMs() - pauseStartMs.load());
    {
        // Under StateLock: a view reads the parked network under it.
        plat::LockGuard guard(StateLock);
        ResumeWorkers(*workManager);
        plat::AtomicStore(SimState, static_cast<uint32_t>(SimStateRunning));
    }
    WaitUntilUnparked(*workManager);  // outside StateLock: a view may hold it
    Log(LogInfo, "Simulation resumed.");
    return true;
}

SimStatus Simulation::WhileParked(void (*fn)(void* context, Simulation& sim), void* context) {
    // Under the lifecycle lock: no stop frees the network meanwhile.
    std::lock_guard<std::mutex> lifecycle(lifecycleLock_);
    WorkManager* wm = workManager;
    const uint32_t current = State();
    if (wm == nullptr || (current != SimStateRunning && current != SimStatePaused)) return SimStatus::Busy;
    // A running simulation parks for fn and goes on afterwards, unless a park was
    // asked for already (its step target, Park): that one is waited for and kept.
    const bool running = current == SimStateRunning && plat::AtomicLoad(wm->pauseRequested) == 0;
    if (current == SimStateRunning) PauseWorkers(*this, *wm);
    SimStatus status = SimStatus::Refused;  // parked inside a step, not between two
    if (ParkedNow(*wm)) {
        fn(context, *this);
        status = SimStatus::Ok;
    }
    if (running) {
        {
            plat::LockGuard guard(StateLock);  // a view reads a parked network under it
            ResumeWorkers(*wm);
        }
        WaitUntilUnparked(*wm);
    }
    return status;
}

void Simulation::Park() {
    std::lock_guard<std::mutex> lifecycle(lifecycleLock_);
    if (workManager != nullptr) PauseWorkers(*this, *workManager);
}

RunTotals Simulation::Totals() const {
    RunTotals t;
    const WorkManager* wm = workManager;
    if (wm == nullptr) return t;
    t.spikes = plat::AtomicLoad(wm->spikeTotal);
    const uint64_t first = plat::AtomicLoad(wm->firstStepNs);
    const uint64_t last = plat::AtomicLoad(wm->lastStepNs);
    t.wallSeconds = last > first ? static_cast<double>(last - first) * 1e-9 : 0.0;
    t.integrationSeconds = static_cast<double>(plat::AtomicLoad(wm->integrationNs)) * 1e-9;
    if (eventEngine != nullptr)
        t.synapseEvents = std::atomic_ref<uint64_t>(eventEngine->delivered).load(std::memory_order_relaxed);
    return t;
}
