// One scene frame: the network (upper left), the inspector's 3D view (upper right),
// the lower strip with the 2D picker, the property column and the traces, and the
// HUD; plus the scene's life on the render thread and the window's mouse
// callbacks.
//
// Sections:
//   1. Mouse callbacks
//   2. Scene life (render thread, StateLock held)
//   3. Drawing (render thread, StateLock held)
#pragma once

struct AppState;
struct ViewFrame;
struct GLFWwindow;
class SceneGeometry;

// ---- 1. Mouse callbacks --------------------------------------------------------------------------
// Mouse button, cursor and wheel callbacks of the visualization window (main thread;
// the window's user pointer is the AppState).
void InstallViewMouseCallbacks(GLFWwindow* window);

// ---- 2. Scene life --------------------------------------------------------------------------------
// Palettes and geometry for a new simulation; false (logged): the process exits with -1.
bool BuildScene(AppState& state);
void ReleaseScene();  // frees the geometry's buffers
// Forgets the picked cell, the inspected neuron and the trace store.
void ResetInspector();
// Applies SceneOrderDirty and TraceLayoutDirty (vis/view_state.h) before a frame.
void ApplyViewChanges();
void DestroyScene();  // deletes the geometry object (render thread end)

// ---- 3. Drawing -----------------------------------------------------------------------------------
// Render thread only: created by BuildScene, deleted by DestroyScene.
extern SceneGeometry* Geometry;
void DrawScene(AppState& state);
// The inspected neuron's connections from a view frame that carries its details.
void DrawNeuronConnections(AppState& state, const ViewFrame& view);
