// The visualization window, driven from the main thread (the one UI thread).
//
// The entry point calls, in this order:
//   CreateVisualizationWindow(state)  once after start-up (false: run on the console)
//   each main-loop pass: PumpWindowEvents(10), then ProcessViewKeyCommands(state)
//     and ProcessKeyCommands on the console table
//   DestroyVisualizationWindow(state) after the loop (also when no window exists).
#pragma once

#include <cstdint>

struct AppState;

// Creates the window "Vellicor v<version>" (1024 x 768) with the negotiated multisample
// format, shows it and starts the render thread. Returns false when HeadlessMode is
// set (silently: the entry point has logged it), and after one log line when there
// is no display or the window cannot be created.
bool CreateVisualizationWindow(AppState& state);
// Waits up to timeoutMs for window events and handles them (key tables, resize,
// close). Returns at once when there is no window.
void PumpWindowEvents(uint32_t timeoutMs);
// Runs ProcessKeyCommands on ViewKeyState until every press queued by the window's
// events has acted once, then applies the releases. Nothing without a window.
void ProcessViewKeyCommands(AppState& state);
// The window as the owner of the exit question and the capture style (may be null).
void* VisualizationOwnerWindow();
// Sets RenderStop, stops a simulation that still exists, waits for the render
// thread, destroys the window and releases the capture context.
void DestroyVisualizationWindow(AppState& state);

extern uint8_t ViewKeyState[256];
