// The analysis charts overlay (F5): spectrum with bands and peaks, synaptic weight
// distribution, spiking history. Render thread only, GL context current.
#pragma once

struct AppState;

// Draws the three charts over the frame; returns at once unless the simulation is
// running or paused. Reads the analysis results without locking.
void DrawAnalysisCharts(AppState& state);
