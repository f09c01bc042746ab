// The configuration sheet: a modal window with the Simulation, Neurons,
// Visualization and Capture pages and OK / Cancel.
//
// Sections:
//   1. ShowConfigSheet
//   2. Hooks for the main loop
#pragma once

struct AppState;
struct GLFWwindow;

// ---- 1. ShowConfigSheet ----------------------------------------------------------------------
// Runs the sheet modally on the main thread and returns when it closes: true when
// OK applied the pages, false for Cancel (every parameter and option restored) or
// when the window could not be created. Called from the toolbox, whose GL and
// ImGui contexts are current again on return; afterwards the toolbox sets its
// slider and label from options.NeuronAlpha (Cancel may have restored it).
// The window opens beside the window whose GL context is current at the call.
bool ShowConfigSheet(AppState& state);
// The same with an explicit owner window (the toolbox), beside which the sheet
// opens; null: at (0, 0).
bool ShowConfigSheetBeside(AppState& state, GLFWwindow* owner);

// ---- 2. Hooks ------------------------------------------------------------------------------------
// Called once per pass of the sheet's modal loop, after the window events were
// read: the entry point installs the visualization window's key commands here, so
// that its keys keep working while console keys wait. Null: nothing.
extern void (*ConfigSheetPumpHook)(AppState& state);
// Called after the sheet has closed, with OK's result (null: nothing). The toolbox
// may install its slider/label refresh here instead of calling it itself.
extern void (*ConfigSheetClosedHook)(AppState& state, bool applied);
// Whether the sheet is open (the toolbox takes no input meanwhile).
bool ConfigSheetOpen();
// Installs the sheet as the toolbox's "Simulation Configuration..." action
// (ShowConfigSheetHook), opening beside the toolbox. The entry point calls it once.
void InstallConfigSheet();
