// The toolbox window: a small always-on-top GLFW window drawn with Dear ImGui,
// with the lifecycle buttons, the configuration button, the collapsible
// visualization tweaks (the neuron transparency slider) and the run row (spike
// recording on/off, checkpoint).
//
// All functions here run on the main thread (GLFW's rule), except those marked
// "any thread", through which the task threads and the key commands reach it.
//
// Sections: host, life, state from the tasks, drawing and placement, run actions.
#pragma once

#include <cstdint>
#include <functional>

#include "ui/config_sheet.h"

struct AppState;
struct GLFWwindow;
struct Toolbox;

// ---- Host ------------------------------------------------------------------------------------
// What the toolbox's controls do in the program: the entry point implements it
// (tasks of the lifecycle, the shared key table) and hands it to CreateToolbox.
// Called on the main thread.
class ToolboxHost : public ConfigSheetHost {
public:
    // A lifecycle button was pressed: ToolboxStartStop, ToolboxPauseResume or
    // ToolboxVisualization (ui/toolbox_logic.h).
    virtual void LifecycleButton(int id) = 0;
    // The slider has set options.NeuronAlpha: the palettes follow.
    virtual void TransparencyChanged() = 0;
    virtual void WriteCheckpoint() = 0;
    // A key typed into the toolbox went down or (after the commands ran) up: it
    // acts like a console key.
    virtual void SetKeyDown(int virtualKey, bool down) = 0;
};

// ---- Life ------------------------------------------------------------------------------------
// Creates the toolbox hidden (glfwInit is called when needed). Null, with
// "Failed to create toolbox window!" logged at level 2, when it cannot be made.
Toolbox* CreateToolbox(AppState& state, ToolboxHost& host);
// Destroys the window. The record stays valid, so a task thread still holding the
// pointer finds a toolbox that shows nothing rather than freed memory.
void DestroyToolbox(Toolbox* toolbox);

// ---- State from the tasks (any thread) ------------------------------------------------------------
// The buttons follow the simulation state (ToolboxButtonRule).
void ToolboxShowSimulationState(Toolbox* toolbox, uint32_t simState, bool visualizationOn);
// Disables the buttons a task keeps disabled while it runs.
void ToolboxDisableButtons(Toolbox* toolbox);
// Input is held while the exit question is open.
void ToolboxEnableInput(Toolbox* toolbox, bool enable);

// ---- Drawing and placement -------------------------------------------------------------------------
// Once per main-loop pass, after the window events were taken and the key
// commands ran: applies pending show/hide and focus requests and draws the window
// while it is shown. Keys typed into the toolbox reach the host's key table
// (SetKeyDown) from the event callbacks; their key-ups are applied here, after
// the commands ran, so a press and release taken in one batch still counts.
void DrawToolbox(Toolbox* toolbox);
// Moves the toolbox to (right + 16, top + 16) of the visualization window and
// shows it; call once the visualization window exists.
void PlaceToolboxBeside(Toolbox* toolbox, GLFWwindow* visualizationWindow);
// Shown or hidden at the next pass (any thread).
void ShowToolbox(Toolbox* toolbox);
void HideToolbox(Toolbox* toolbox);
bool ToolboxVisible(Toolbox* toolbox);
// The toolbox's own GLFW window (null without a toolbox), e.g. to own a dialog.
GLFWwindow* ToolboxGlfwWindow(Toolbox* toolbox);

// ---- Run actions -----------------------------------------------------------------------------------
// What the run row's buttons do beyond the lifecycle: the entry point owns the
// spike recorder and hands the toolbox this action (empty: the button is greyed).
struct ToolboxRunActions {
    std::function<void()> toggleRecording;
};
void SetToolboxRunActions(Toolbox* toolbox, ToolboxRunActions actions);
