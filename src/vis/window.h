// The visualization window, driven from the main thread (the one UI thread).
//
// The entry point calls, in this order:
//   CreateVisualizationWindow(state)  once after start-up (false: run on the console)
//   each main-loop pass: PumpWindowEvents(10), then
//     ProcessKeyCommands(ViewKeyTable(), state, VisualizationOwnerWindow())
//     (only when ViewKeyTable() is not null) and the console table
//   DestroyVisualizationWindow(state) after the loop (also when no window exists).
#pragma once

#include <cstdint>

struct AppState;

// Creates the window "Vellicor v0.40" (1024 x 768) with the negotiated multisample
// format, shows it and starts the render thread. Returns false when HeadlessMode is
// set (silently: the entry point has logged it), and after one log line when there
// is no display or the window cannot be created.
bool CreateVisualizationWindow(AppState& state);
// Waits up to timeoutMs for window events and handles them (key tables, resize,
// close). Returns at once when there is no window.
void PumpWindowEvents(uint32_t timeoutMs);
// ViewKeyState, or null when there is no window.
uint8_t* ViewKeyTable();
// Applies the key releases held back since the last ProcessKeyCommands on the view table.
void ApplyViewKeyReleases();
// The window as the owner of the exit question and the capture style (may be null).
void* VisualizationOwnerWindow();
// Sets RenderStop, stops a simulation that still exists, waits for the render
// thread, destroys the window and releases the capture context.
void DestroyVisualizationWindow(AppState& state);

extern uint8_t ViewKeyState[256];
