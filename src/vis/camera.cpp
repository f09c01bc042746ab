// Mouse input of the visualization window.
//
// Sections:
//   1. Drag state
//   2. Camera gestures
//   3. Window events
#include "vis/camera.h"

#include "app/lifecycle.h"
#include "app/shell.h"
#include "engine/app_state.h"
#include "vis/scene_layout.h"
#include "vis/view_state.h"

// ---- 1. Drag state -------------------------------------------------------------------------------
float LastMouseX = kNoMousePosition;
float LastMouseY = kNoMousePosition;

// ---- 2. Camera gestures ----------------------------------------------------------------------------
void ApplyLeftDrag(CameraPose& pose, DragPoint& last, float x, float y, bool shift) {
    if (last.lastX > -1000.0f) {
        if (shift) {
            pose.cameraX += last.lastX - x;
            pose.targetX += last.lastX - x;
            pose.cameraY += y - last.lastY;
            pose.targetY += y - last.lastY;
        } else {
            pose.yaw += x - last.lastX;
            pose.pitch += y - last.lastY;
        }
    }
    last.lastX = x;
    last.lastY = y;
}

void ApplyRightDrag(CameraPose& pose, DragPoint& last, float y, float zoomScale) {
    if (last.lastY > -1000.0f) pose.zoom += (y - last.lastY) * 0.2f * zoomScale;
    last.lastY = y;
}

void ApplyWheel(CameraPose& pose, int16_t delta, float zoomScale) {
    pose.zoom += static_cast<float>(delta) * 0.1f * zoomScale;
}

// ---- 3. Window events --------------------------------------------------------------------------------
namespace {

CameraPose CurrentPose() {
    return {CameraPitch, CameraYaw, CameraX, CameraY, TargetX, TargetY, Zoom};
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
        ApplyLeftDrag(pose, last, x, y, shiftDown);
        StorePose(pose);
        LastMouseX = last.lastX;
        LastMouseY = last.lastY;
        MarkSceneDirty();
    } else if (rightDown) {
        plat::LockGuard lock(state.StateLock);
        CameraPose pose = CurrentPose();
        DragPoint last{LastMouseX, LastMouseY};
        ApplyRightDrag(pose, last, y, ZoomScale);
        StorePose(pose);
        LastMouseY = last.lastY;
        MarkSceneDirty();
    }
}

void ViewMouseWheel(AppState& state, int16_t delta) {
    plat::LockGuard lock(state.StateLock);
    CameraPose pose = CurrentPose();
    ApplyWheel(pose, delta, ZoomScale);
    StorePose(pose);
    MarkSceneDirty();
}

void ViewResize(AppState& state, int32_t width, int32_t height) {
    plat::LockGuard lock(state.StateLock);
    WindowWidth.store(width);
    WindowHeight.store(height);
    if (Scene.invalidateTraceLayout) Scene.invalidateTraceLayout();
    ViewportDirty.store(true);
}

void ViewClose(AppState& state) {
    if (state.SimState != SimStateNone) StopSimulation(state);
    QuitRequested.store(true);
}
