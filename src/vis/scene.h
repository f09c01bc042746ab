// One scene frame: the network (upper left), the inspector's 3D view (upper right),
// the lower strip with the 2D picker, the property column and the traces, and the
// HUD; plus the scene hooks the render thread calls and the window's mouse
// callbacks.
//
// Sections:
//   1. Installation (call once before the render thread starts)
//   2. Drawing (render thread, StateLock held)
#pragma once

struct AppState;
struct ViewFrame;
struct GLFWwindow;
class SceneGeometry;

// ---- 1. Installation ----------------------------------------------------------------------------
// Fills the Scene hooks of vis/view_state.h and RebuildPalettesHook.
void InstallSceneHooks();
// Mouse button, cursor and wheel callbacks of the visualization window (main thread;
// the window's user pointer is the AppState).
void InstallViewMouseCallbacks(GLFWwindow* window);

// ---- 2. Drawing -----------------------------------------------------------------------------------
extern SceneGeometry* Geometry;  // owned by the render thread through the hooks
void DrawScene(AppState& state);
// The inspected neuron's connections from a view frame that carries its details.
void DrawNeuronConnections(AppState& state, const ViewFrame& view);
