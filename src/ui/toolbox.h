// The toolbox window: a small always-on-top GLFW window drawn with Dear ImGui,
// with the lifecycle buttons, the configuration button, the collapsible
// visualization tweaks (the neuron transparency slider) and the run row (spike
// recording on/off, checkpoint).
//
// All functions here run on the main thread (GLFW's rule). The task threads
// reach the toolbox only through the lifecycle hooks installed by CreateToolbox,
// which are safe from any thread.
//
// Sections: life, drawing and placement, the configuration sheet hook.
#pragma once

#include <functional>

struct AppState;
struct GLFWwindow;
struct Toolbox;

// ---- Life ------------------------------------------------------------------------------------
// Creates the toolbox hidden (glfwInit is called when needed) and installs the
// lifecycle and key-command hooks; publishes it in ToolboxWindow. Null, with
// "Failed to create toolbox window!" logged at level 2, when it cannot be made.
Toolbox* CreateToolbox(AppState& state);
// Removes the hooks and destroys the window (the record stays valid, so a task
// thread still holding the pointer finds the hooks gone rather than freed memory).
void DestroyToolbox(Toolbox* toolbox);

// ---- Drawing and placement -------------------------------------------------------------------------
// Once per main-loop pass, after the window events were taken and
// ProcessKeyCommands ran: applies pending show/hide and focus requests and draws
// the window while it is shown. Keys typed into the toolbox reach ConsoleKeyState
// from the event callbacks; their key-ups are applied here, after the commands
// ran, so a press and release taken in one batch still counts.
void DrawToolbox(Toolbox* toolbox);
// Moves the toolbox to (right + 16, top + 16) of the visualization window and
// shows it; call once the visualization window exists.
void PlaceToolboxBeside(Toolbox* toolbox, GLFWwindow* visualizationWindow);
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

// ---- Configuration sheet ------------------------------------------------------------------------------
// Installed by the configuration sheet: runs it modally on the main thread (the
// toolbox takes no input meanwhile). Null: the button does nothing.
extern void (*ShowConfigSheetHook)(AppState& state, Toolbox* owner);
