// Process-wide values and the defaults routine.
#include "engine/app_state.h"

#include <cstring>
#include <string>

std::atomic<uint32_t> StepCounter{0};
std::atomic<uint32_t> SimStartTime{0};
std::atomic<uint32_t> SimStartStep{0};
std::atomic<uint32_t> LastSampleTime{0};
std::atomic<uint8_t> CaptureOn{0};
plat::AutoResetEvent CaptureStepEvent;
uint32_t DefaultWorkerThreads = 1;
std::atomic<Neuron*> ViewNeurons{nullptr};
bool WireframeMode = false;

void SetDefaultOptions(AppOptions& o) {
    o = AppOptions{};
    o.renderHighPriority = 1;
    o.NeuronAlpha = WireframeMode ? 0.065f : 0.2f;
    o.reducedVisualization = 0;
    o.limitFps = 1;
    o.waitVsync = 1;
    o.stimulusOn = 0;
    o.stimulusPeriod = 100;
    const std::string folder = plat::ProgramFolder();
    std::strncpy(o.captureFolder, folder.c_str(), sizeof o.captureFolder - 1);
    o.captureQuality = 100;
}

void RestoreDefaults(AppState& state) {
    DefaultWorkerThreads = DefaultWorkerThreadsForCores(plat::PhysicalCoreCount());
    SetDefaultParams(state.params, DefaultWorkerThreads);
    SetDefaultOptions(state.options);
}

bool AddObserver(AppState& state, const SimulationObserver& observer) {
    if (state.observerCount >= kMaxObservers) return false;
    state.observers[state.observerCount++] = observer;
    return true;
}

void NotifyStarted(const AppState& state) {
    for (int i = 0; i < state.observerCount; ++i)
        if (state.observers[i].started) state.observers[i].started(state.observers[i].context, state);
}

void NotifyStopped(const AppState& state) {
    for (int i = 0; i < state.observerCount; ++i)
        if (state.observers[i].stopped) state.observers[i].stopped(state.observers[i].context, state);
}
