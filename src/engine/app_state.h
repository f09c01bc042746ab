// The program's record: one simulation and the program's options.
//
// Sections:
//   1. Options set by the configuration pages (copied by the sheet's backup)
//   2. AppState
#pragma once

#include <cstdint>

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

// Fills every parameter and option with its default (leaving the lifecycle fields
// and the network alone); the worker threads from the core count.
void RestoreDefaults(AppState& state, bool wireframe = false);
// Fills the options only; the neuron opacity depends on the scene (lines or cubes).
void SetDefaultOptions(AppOptions& options, bool wireframe = false);
// Worker threads for this machine's physical cores.
uint32_t DefaultWorkerThreads();
