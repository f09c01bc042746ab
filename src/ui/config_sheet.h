// The configuration sheet: a modal window with the Simulation, Neurons,
// Visualization and Capture pages and OK / Cancel.
//
// Sections:
//   1. What the sheet needs from the program while it is open
//   2. ShowConfigSheetBeside
#pragma once

struct AppState;
struct GLFWwindow;

// ---- 1. Host ---------------------------------------------------------------------------------
// The sheet runs its own event loop on the main thread until it closes; the entry
// point implements this (through the toolbox's host) so that the visualization
// window's keys keep working meanwhile (console keys wait), and a quit from
// elsewhere closes the sheet.
class ConfigSheetHost {
public:
    virtual ~ConfigSheetHost() = default;
    // Once per pass of the sheet's event loop, after the window events were read:
    // the key commands of the visualization window.
    virtual void RunWindowKeys(AppState& state) = 0;
    // The program is ending: the sheet closes as with Cancel.
    virtual bool ProgramEnding() const = 0;
};

// ---- 2. ShowConfigSheetBeside ---------------------------------------------------------------------
// Runs the sheet modally on the main thread and returns when it closes: true when
// OK applied the pages, false for Cancel (every parameter and option restored) or
// when the window could not be created. Called from the toolbox, whose GL and
// ImGui contexts are current again on return; afterwards the toolbox sets its
// slider and label from options.NeuronAlpha (Cancel may have restored it).
// The sheet opens beside `owner` (the toolbox); null: at (0, 0).
bool ShowConfigSheetBeside(AppState& state, GLFWwindow* owner, ConfigSheetHost& host);
// Whether the sheet is open (the toolbox takes no input meanwhile).
bool ConfigSheetOpen();
