// The program's record: one simulation and the program's options. It is the
// program's, not the engine's (engine/ neither defines nor includes it), and lives
// in the lowest layer that every user of it (io, vis, ui, app) can see. The
// defaults are inline, so a user that links only the engine (a benchmark, the
// engine's tests) can still fill a record.
//
// Sections:
//   1. Options set by the configuration pages (copied by the sheet's backup)
//   2. AppState
//   3. Defaults
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "engine/simulation.h"

// ---- 1. Options ----------------------------------------------------------------------------
struct AppOptions {
    uint8_t renderHighPriority;    // render threads at the highest priority
    float NeuronAlpha;             // neuron opacity, 0..0.2
    uint8_t reducedVisualization;  // reduced-complexity visualization
    uint8_t limitFps;              // limit the render thread to 50 frames per second
    uint8_t waitVsync;             // wait for vertical sync
    char captureFolder[4096];
    uint32_t captureQuality;       // JPEG quality, 0..100
};

// ---- 2. AppState ----------------------------------------------------------------------------
// The program's record: its one simulation and the options the configuration
// sheet edits along with the parameters.
struct AppState : Simulation {
    AppOptions options;
    uint8_t recordingSpikes = 0;  // 1 while a spike report is being written (the HUD shows it)
};

// ---- 3. Defaults ------------------------------------------------------------------------------

// Fills the options only; the neuron opacity depends on the scene (lines or cubes).
inline void SetDefaultOptions(AppOptions& o, bool wireframe = false) {
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

// Worker threads for this machine's physical cores.
inline uint32_t DefaultWorkerThreads() { return DefaultWorkerThreadsForCores(plat::PhysicalCoreCount()); }

// Fills every parameter and option with its default (leaving the lifecycle fields
// and the network alone); the worker threads from the core count.
inline void RestoreDefaults(AppState& state, bool wireframe = false) {
    SetDefaultParams(state.params, DefaultWorkerThreads());
    SetDefaultOptions(state.options, wireframe);
    plat::AtomicStore(state.stimulusOn, uint8_t{0});
    state.stimulusPeriod = 100;
}
