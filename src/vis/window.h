// The visualization window, driven from the main thread (the one UI thread).
//
// The entry point calls, in this order:
//   CreateVisualizationWindow(state, host)  once after start-up, unless it runs
//     headless (false: run on the console)
//   each main-loop pass: PumpWindowEvents(10), then ProcessViewKeyCommands(state)
//     and the key commands on the console table
//   DestroyVisualizationWindow(state, host) after the loop (also when no window exists).
#pragma once

#include <cstdint>

#include "vis/view_host.h"

struct AppState;

// Creates the window "Vellicor v<version>" (1024 x 768) with the negotiated multisample
// format, shows it and starts the render thread, which draws for `host` (kept
// until DestroyVisualizationWindow). Returns false after one log line when there
// is no display or the window cannot be created.
bool CreateVisualizationWindow(AppState& state, ViewHost& host);
// Waits up to timeoutMs for window events and handles them (key tables, resize,
// close). Returns at once when there is no window.
void PumpWindowEvents(uint32_t timeoutMs);
// Runs the host's key commands on the window's key table until every press queued
// by the window's events has acted once, then applies the releases. Nothing
// without a window.
void ProcessViewKeyCommands(AppState& state);
// The window was destroyed from outside (an X request on it failed): the program
// was asked to quit and should end with status 1.
bool VisualizationWindowLost();
// The window as the owner of the exit question and the capture style (may be null).
void* VisualizationOwnerWindow();
// Ends the render thread (host.StopRendering), stops a simulation that still
// exists, waits for the render thread, destroys the window and releases the
// capture context.
void DestroyVisualizationWindow(AppState& state, ViewHost& host);

// ---- Dialogs of the window (main thread) -----------------------------------------------------
enum class WindowAnswer { Quit, Cancel, NoWindow };
// Asks `question` in a small window centred on `owner` (the visualization window,
// which takes no keys meanwhile) with Quit and Cancel; Enter, Q or Y quit, Esc or N
// cancel, closing it cancels, and SIGINT or SIGTERM quit. NoWindow when there is no owner or the question window
// cannot be created (the caller then asks on the console).
WindowAnswer AskQuestionWindow(void* owner, const char* question, const char* caption);
// The capture window style: not resizable while capture is on.
void ApplyCaptureStyle(void* owner, bool captureOn);
