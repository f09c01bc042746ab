// Process-wide values of the visualization that the key commands, the render
// thread and the scene share. GL-free, so the key commands and their tests link
// without a window.
//
// Sections:
//   1. View flags and the picker slice
//   2. Camera values and ResetCamera
//   3. Window size and viewport flag
//   4. Hooks installed by the scene, the charts, capture and the toolbox
//   5. HUD notice
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/simulation.h"
#include "platform/platform.h"

struct AppState;
struct Toolbox;

// ---- 1. View flags ---------------------------------------------------------------------------
// Single bytes: the key commands that only flip them write without StateLock.
extern std::atomic<bool> HelpShown;             // F1: help overlay
extern std::atomic<bool> AnalysisShown;         // F5: analysis charts overlay
extern std::atomic<bool> FullView;              // F11: the network fills the window
extern std::atomic<bool> SynapticStrengthView;  // weight labels in the inspector; starts on
extern std::atomic<uint8_t> SelectedSlice;      // z plane of the 2D picker
// "wireframe" switch: line scene, opacity 0.065. Set by the switches before any
// thread starts, read-only afterwards.
extern bool WireframeMode;

// ---- 2. Camera (written under StateLock) -----------------------------------------------------
extern float CameraPitch;     // degrees about x
extern float CameraYaw;       // degrees about y
extern float AutoRotation;    // extra yaw, degrees
extern float CameraX, CameraY, CameraDistance;  // eye point
extern float TargetX, TargetY, TargetZ;         // look-at point
extern float Zoom;            // translation along z before the rotations
extern float ZoomScale;       // sensitivity of the zoom gestures

// CameraDistance for a grid: gridZ * k / sqrt(q), k = 4.75 when gridZ == gridY
// else 6.0, q = (gridZ * gridY) / (gridX * gridY) as an integer quotient.
float CameraDistanceForGrid(uint32_t gridX, uint32_t gridY, uint32_t gridZ);
float ZoomScaleForGrid(uint32_t gridZ);  // gridZ * 5 / 160

// The eye looks down -z at the network's centre, which sits at z = Zoom: its depth
// is CameraDistance - Zoom. The least depth keeps the eye out of the sphere round
// the volume box (the box turns with pitch and yaw) and the box beyond the near
// plane (1): the box's half-diagonal plus 1.
float MinimumViewDepth(float extentX, float extentY, float extentZ);
// The part of a depth change that may be applied: moves away are free, moves
// nearer stop at minDepth (a camera already nearer comes no nearer).
float LimitDepthChange(float depth, float change, float minDepth);

// The X command: camera reset values, trace layout invalidated, viewport dirty,
// scene depth order refreshed. Call under StateLock.
void ResetCamera(AppState& state);

// ---- 3. Window size ------------------------------------------------------------------------------
extern std::atomic<int32_t> WindowWidth;   // framebuffer size in pixels
extern std::atomic<int32_t> WindowHeight;
extern std::atomic<bool> ViewportDirty;    // projection and layout must be recomputed

// ---- 4. Hooks (null until their owner exists) ----------------------------------------------------
// The scene geometry object and the inspector (installed by the scene code).
struct SceneHooks {
    bool (*build)(AppState& state);    // palettes + geometry; false: the process exits with -1
    void (*release)(AppState& state);  // frees the geometry's buffers
    void (*draw)(AppState& state);     // one scene frame, under StateLock
    void (*markDirty)();               // recompute the depth order after a camera change
    void (*resetInspector)(AppState& state);  // picked cell, inspected neuron, trace store
    void (*invalidateTraceLayout)();
    void (*destroy)();                 // deletes the geometry object (render thread end)
};
extern SceneHooks Scene;
// Analysis charts overlay (F5).
extern void (*DrawAnalysisChartsHook)(AppState& state);

// Frame capture in lock-step with the simulation: while `on`, the simulation's
// last worker waits at the end of each step (an observer of the simulation) until
// the render thread has captured a frame. One window, so one gate per process.
struct FrameCaptureGate {
    std::atomic<uint8_t> on{0};
    std::atomic<uint8_t> waiting{0};  // a worker waits for a frame
    plat::AutoResetEvent frameDone;
    void FrameCaptured() { frameDone.Set(); }
    SimulationObserver Observer();  // to register with the simulation
};
extern FrameCaptureGate CaptureGate;

// Frame capture: the context is created by the window after it exists.
extern std::atomic<void*> CaptureContextPtr;
extern void* (*CreateCaptureContextHook)(int32_t width, int32_t height);
extern void (*ReleaseCaptureContextHook)(void* context);
// Called by the render thread after the swap while capture is on; false stops capture.
extern bool (*CaptureFrameHook)(AppState& state, void* context, int32_t width, int32_t height);

// The toolbox window (C key): null pointers while there is no toolbox.
extern std::atomic<Toolbox*> ToolboxWindow;
extern bool (*ToolboxIsVisibleHook)(Toolbox* toolbox);
extern void (*ToolboxShowHook)(Toolbox* toolbox, bool show);
// Input of the console and the toolbox is held while the exit question is open.
extern void (*ToolboxEnableInputHook)(Toolbox* toolbox, bool enable);

// Calls Scene.markDirty when the scene exists.
void MarkSceneDirty();

// ---- 5. HUD notice ----------------------------------------------------------------------------------
// One short message the HUD shows for a while, e.g. why a key did nothing. Any
// thread may post; the render thread reads it. A new notice replaces the old one.
inline constexpr uint32_t kViewNoticeMs = 5000;
void PostViewNotice(const char* text, uint32_t nowMs);
// Copies the notice posted less than kViewNoticeMs before nowMs (milliseconds of
// plat::TimeMs, wrapping); false, and an empty text, when there is none.
bool ViewNoticeAt(uint32_t nowMs, char* text, size_t size);
