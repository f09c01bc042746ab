// Mouse input of the visualization window: rotation, Shift pan, zoom by right drag
// and wheel, neuron picking in the 2D picker, resize and close. The camera values
// themselves and ResetCamera live in vis/view_state.h. The window's input callbacks
// call these with client coordinates (y downwards); nothing here draws.
//
// Sections:
//   1. Drag state
//   2. Camera gestures (plain maths)
//   3. Window events
#pragma once

#include <cstdint>

struct AppState;

// ---- 1. Drag state -------------------------------------------------------------------------------
inline constexpr float kNoMousePosition = -10000.0f;
extern float LastMouseX, LastMouseY;  // previous drag position; kNoMousePosition when none

// ---- 2. Camera gestures ----------------------------------------------------------------------------
struct CameraPose {
    float pitch, yaw;
    float cameraX, cameraY, targetX, targetY;
    float zoom;
    float cameraDistance;  // eye z: read by the gestures (the W and S keys move it)
};
struct DragPoint {
    float lastX, lastY;
};
// Scene units per pixel at `depth` before the eye, in the 45-degree view of a
// viewport `viewportHeight` pixels high.
float PanUnitsPerPixel(float depth, float viewportHeight);
// Left drag to (x, y): rotate one degree per pixel, or with shift pan: eye and
// look-at point move so that the network's centre follows the mouse in a main view
// `viewportHeight` pixels high. Nothing without a previous position; updates it.
void ApplyLeftDrag(CameraPose& pose, DragPoint& last, float x, float y, bool shift, float viewportHeight);
// Right drag: zoom by (y - lastY) * 0.2 * zoomScale; the first move only records y.
// Wheel: zoom by delta * 0.1 * zoomScale (delta 120 per notch, signed 16 bits).
// Neither brings the network's centre nearer than minDepth (MinimumViewDepth).
void ApplyRightDrag(CameraPose& pose, DragPoint& last, float y, float zoomScale, float minDepth);
void ApplyWheel(CameraPose& pose, int16_t delta, float zoomScale, float minDepth);

// ---- 3. Window events (each takes StateLock itself) --------------------------------------------------
void ViewLeftButtonDown(AppState& state, float x, float y);  // neuron picking
void ViewLeftButtonUp();
// Ends a right drag so that the next one starts without a jump.
void ViewRightButtonUp();
void ViewMouseMove(AppState& state, float x, float y, bool leftDown, bool rightDown, bool shiftDown);
void ViewMouseWheel(AppState& state, int16_t delta);
void ViewResize(AppState& state, int32_t width, int32_t height);
