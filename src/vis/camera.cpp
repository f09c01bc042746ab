// Mouse input of the visualization window.
//
// Sections:
//   1. Drag state
//   2. Camera gestures
//   3. Window events
#include "vis/camera.h"

#include <cmath>

#include "io/app_state.h"
#include "vis/scene_layout.h"
#include "vis/view_state.h"

// ---- 1. Drag state -------------------------------------------------------------------------------
// The one window's drag, kept between its GLFW mouse callbacks (main thread).
float LastMouseX = kNoMousePosition;
float LastMouseY = kNoMousePosition;

// ---- 2. Camera gestures ----------------------------------------------------------------------------
namespace {

// The scene's projection: 45 degrees of view vertically, and horizontally the same
// scale (the aspect is the viewport's).
constexpr double kHalfFieldOfView = 22.5 * 3.14159265358979323846 / 180.0;

float Depth(const CameraPose& pose) { return pose.cameraDistance - pose.zoom; }

// A zoom moves the network's centre nearer by `change`.
void ZoomBy(CameraPose& pose, float change, float minDepth) {
    pose.zoom -= LimitDepthChange(Depth(pose), -change, minDepth);
}

}  // namespace

float PanUnitsPerPixel(float depth, float viewportHeight) {
    // A point at `depth` behind the near plane's distance still moves: never below 1.
    const float d = depth > 1.0f ? depth : 1.0f;
    const float h = viewportHeight > 1.0f ? viewportHeight : 1.0f;
    return static_cast<float>(2.0 * d * std::tan(kHalfFieldOfView) / h);
}

void ApplyLeftDrag(CameraPose& pose, DragPoint& last, float x, float y, bool shift, float viewportHeight) {
    if (last.lastX > -1000.0f) {
        if (shift) {
            // The eye moves against the drag (window y runs down, scene y up).
            const float units = PanUnitsPerPixel(Depth(pose), viewportHeight);
            const float dx = (last.lastX - x) * units, dy = (y - last.lastY) * units;
            pose.cameraX += dx;
            pose.targetX += dx;
            pose.cameraY += dy;
            pose.targetY += dy;
        } else {
            pose.yaw += x - last.lastX;
            pose.pitch += y - last.lastY;
        }
    }
    last.lastX = x;
    last.lastY = y;
}

void ApplyRightDrag(CameraPose& pose, DragPoint& last, float y, float zoomScale, float minDepth) {
    if (last.lastY > -1000.0f) ZoomBy(pose, (y - last.lastY) * 0.2f * zoomScale, minDepth);
    last.lastY = y;
}

void ApplyWheel(CameraPose& pose, int16_t delta, float zoomScale, float minDepth) {
    ZoomBy(pose, static_cast<float>(delta) * 0.1f * zoomScale, minDepth);
}

// ---- 3. Window events --------------------------------------------------------------------------------
namespace {

CameraPose CurrentPose() {
    return {CameraPitch, CameraYaw, CameraX, CameraY, TargetX, TargetY, Zoom, CameraDistance};
}

float MinimumDepth(const AppState& state) {
    return MinimumViewDepth(state.params.extentX, state.params.extentY, state.params.extentZ);
}

void StorePose(const CameraPose& p) {
    CameraPitch = p.pitch;
    CameraYaw = p.yaw;
    CameraX = p.cameraX;
    CameraY = p.cameraY;
    TargetX = p.targetX;
    TargetY = p.targetY;
    Zoom = p.zoom;
}

}  // namespace

void ViewLeftButtonDown(AppState& state, float x, float y) {
    plat::LockGuard lock(state.StateLock);
    // A drag above the strip starts where the button went down, so that its first
    // move turns or pans too and the network keeps up with the mouse.
    if (InUpperRegion(y, static_cast<float>(WindowHeight.load()), SceneLayout.PaneTop, FullView.load())) {
        LastMouseX = x;
        LastMouseY = y;
    }
    // No network, or not yet drawn: no picker to click.
    if (state.SimState == SimStateNone || state.SimState == SimStateInitializing) return;
    if (FullView.load()) return;
    const PickResult pick =
        PickNeuronAt(x, y, static_cast<float>(WindowHeight.load()), SceneLayout, state.params.gridX,
                     state.params.gridY, state.neuronCount, SelectedSlice.load());
    if (!pick.hit) return;
    PickedX = pick.pickedX;
    PickedY = pick.pickedY;
    InspectedNeuron = pick.neuron;
    NeuronInspected = true;
    TraceReset = true;
}

void ViewLeftButtonUp() {
    LastMouseX = kNoMousePosition;
    LastMouseY = kNoMousePosition;
}

void ViewRightButtonUp() {
    LastMouseX = kNoMousePosition;
    LastMouseY = kNoMousePosition;
}

void ViewMouseMove(AppState& state, float x, float y, bool leftDown, bool rightDown, bool shiftDown) {
    if (leftDown) {
        plat::LockGuard lock(state.StateLock);
        const float H = static_cast<float>(WindowHeight.load());
        if (!InUpperRegion(y, H, SceneLayout.PaneTop, FullView.load())) return;
        CameraPose pose = CurrentPose();
        DragPoint last{LastMouseX, LastMouseY};
        ApplyLeftDrag(pose, last, x, y, shiftDown, FullView.load() ? H : SceneLayout.PaneSplit);
        StorePose(pose);
        LastMouseX = last.lastX;
        LastMouseY = last.lastY;
        MarkSceneDirty();
    } else if (rightDown) {
        plat::LockGuard lock(state.StateLock);
        CameraPose pose = CurrentPose();
        DragPoint last{LastMouseX, LastMouseY};
        ApplyRightDrag(pose, last, y, ZoomScale, MinimumDepth(state));
        StorePose(pose);
        LastMouseY = last.lastY;
        MarkSceneDirty();
    }
}

void ViewMouseWheel(AppState& state, int16_t delta) {
    plat::LockGuard lock(state.StateLock);
    CameraPose pose = CurrentPose();
    ApplyWheel(pose, delta, ZoomScale, MinimumDepth(state));
    StorePose(pose);
    MarkSceneDirty();
}

void ViewResize(AppState& state, int32_t width, int32_t height) {
    plat::LockGuard lock(state.StateLock);
    WindowWidth.store(width);
    WindowHeight.store(height);
    TraceLayoutDirty.store(true);
    ViewportDirty.store(true);
}
