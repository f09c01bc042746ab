// Process-wide values of the visualization that the key commands, the render
// thread and the scene share. GL-free (library vellicor_view), so the key commands
// and their tests link without a window.
//
// These are globals because the process has one visualization window, and the
// main thread (keys, mouse), the task threads and the render thread all read and
// write them; the camera values are guarded by StateLock, the rest are atomics.
//
// Sections:
//   1. View flags, view settings and the picker slice
//   2. Camera values and ResetCamera
//   3. Window size and the flags the render thread acts on at its next frame
//   4. Frame capture availability
//   5. HUD notice
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/simulation.h"
#include "platform/platform.h"

struct AppState;

// ---- 1. View flags ---------------------------------------------------------------------------
// Single bytes: the key commands that only flip them write without StateLock.
extern std::atomic<bool> HelpShown;             // F1: help overlay
extern std::atomic<bool> AnalysisShown;         // F5: analysis charts overlay
extern std::atomic<bool> FullView;              // F11: the network fills the window
extern std::atomic<bool> SynapticStrengthView;  // weight labels in the inspector; starts on
extern std::atomic<bool> AutoRotate;            // the scene turns by itself (demo switch, R key)
extern std::atomic<uint8_t> SelectedSlice;      // z plane of the 2D picker
// "wireframe" switch: line scene, opacity 0.065. Set by the switches before any
// thread starts, read-only afterwards.
extern bool WireframeMode;
// Window format settings, set by the switches before the window exists.
extern bool ColorBufferMode;  // "colorbuffer": the line scene keeps a colour buffer
extern int32_t MsaaSamples;   // requested multisample count, default 4

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

// Raised by any thread (under StateLock), acted on by the render thread before
// its next frame: the scene re-sorts its depth order for the new camera, and the
// trace store is laid out anew for the new window size.
extern std::atomic<bool> SceneOrderDirty;
extern std::atomic<bool> TraceLayoutDirty;
// Raises SceneOrderDirty after a camera change.
void MarkSceneDirty();

// ---- 4. Frame capture ------------------------------------------------------------------------
// The capture context, created by the window once it exists (null: F10 does nothing).
extern std::atomic<void*> CaptureContextPtr;

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

// ---- 5. HUD notice ----------------------------------------------------------------------------------
// One short message the HUD shows for a while, e.g. why a key did nothing. Any
// thread may post; the render thread reads it. A new notice replaces the old one.
inline constexpr uint32_t kViewNoticeMs = 5000;
void PostViewNotice(const char* text, uint32_t nowMs);
// Copies the notice posted less than kViewNoticeMs before nowMs (milliseconds of
// plat::TimeMs, wrapping); false, and an empty text, when there is none.
bool ViewNoticeAt(uint32_t nowMs, char* text, size_t size);
