// The render thread: one frame per pass under StateLock, the status and help
// screens, frame statistics and pacing.
//
// Sections: thread entry, screens, frame values.
#pragma once

#include <atomic>

#include "vis/layout.h"
#include "vis/view_host.h"

struct AppState;
struct GLFWwindow;
struct ViewFrame;

// ---- Thread entry ------------------------------------------------------------------------------
// Makes the window's context current on the calling thread and draws until the
// host asks it to stop; then tells the host it has stopped.
void RenderThread(AppState* state, GLFWwindow* window, ViewHost& host);

// ---- Screens (render thread, StateLock held) -------------------------------------------------------
void DrawStatusScreen(AppState& state);
// The help panel from 0.15 H up to panelTop (0.85 H when negative).
void DrawHelpPanel(float panelTop = -1.0f);

// ---- Frame values read by the overlays ----------------------------------------------------------------
// Globals of the one render thread: written by it, read by the scene, the charts
// and the overlays it draws (and the flags by the window on the main thread).
extern LayoutMetrics Layout;   // recomputed when ViewportDirty is set
extern FrameStats Stats;       // written by the render thread only
extern std::atomic<bool> GeometryReady;
extern std::atomic<bool> FontsReady;
// The network values of the frame being drawn (engine/view_snapshot.h): the scene,
// the geometry and the charts read neuron values and the analysis only from here,
// never from the running network. Null while no simulation exists.
extern const ViewFrame* DrawnView;
// The band of the window the analysis charts may cover (y up): above the lower
// strip and below the HUD or status lines, as the last scene or status frame drew them.
extern float ChartFloor, ChartCeiling;
// Set when the connection to the display is lost: the thread then ends without
// touching GL or the window.
extern std::atomic<bool> DisplayLost;
