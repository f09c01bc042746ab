// Defaults of the program's record.
#include "engine/app_state.h"

#include <cstring>
#include <string>

void SetDefaultOptions(AppOptions& o, bool wireframe) {
    o = AppOptions{};
    o.renderHighPriority = 1;
    o.NeuronAlpha = wireframe ? 0.065f : 0.2f;
    o.reducedVisualization = 0;
    o.limitFps = 1;
    o.waitVsync = 1;
    const std::string folder = plat::ProgramFolder();
    std::strncpy(o.captureFolder, folder.c_str(), sizeof o.captureFolder - 1);
    o.captureQuality = 100;
}

uint32_t DefaultWorkerThreads() { return DefaultWorkerThreadsForCores(plat::PhysicalCoreCount()); }

void RestoreDefaults(AppState& state, bool wireframe) {
    SetDefaultParams(state.params, DefaultWorkerThreads());
    SetDefaultOptions(state.options, wireframe);
    plat::AtomicStore(state.stimulusOn, uint8_t{0});
    state.stimulusPeriod = 100;
}
