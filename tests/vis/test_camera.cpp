// Camera distance and zoom scale, mouse gestures (checked against the scene's
// projection), the upper-region rule and the picking maths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "io/app_state.h"
#include "vis/camera.h"
#include "vis/scene_data.h"
#include "vis/scene_layout.h"
#include "vis/view_state.h"

namespace {

// Layout of a 900 pixel high window with CharHeight 16 and a 16-wide grid, in round
// numbers: strip 300 high, picker square from 24 to 280, cells of 16.
LayoutMetrics RoundLayout() {
    LayoutMetrics m{};
    m.CharHeight = 16;
    m.PaneTop = 300.0f;
    m.LineHeight = 24.0f;
    m.PickerTop = 280.0f;
    m.PickerSize = 256.0f;
    m.PickerHalf = 128.0f;
    m.PickerQuarter = 64.0f;
    m.PickerRight = 272.0f;
    m.PickerWidth = 256.0f;
    m.PickerCell = 16.0f;
    m.InspectorTextWidth = 200.0f;
    return m;
}

}  // namespace

namespace {

// Window position (x right, y down) of a network point p through the scene's own
// pipeline: rotate yaw about y, pitch about x, translate (0, 0, zoom), look-at
// from (cameraX, cameraY, cameraDistance) to (targetX, targetY, targetZ) with up
// (0, 1, 0), perspective 45 degrees, viewport w x h. depth: distance before the eye.
struct Projected {
    double x, y, depth;
};
Projected Project(const CameraPose& pose, float targetZ, const double p[3], double w, double h) {
    const double rad = 3.14159265358979323846 / 180.0;
    const double cy = std::cos(pose.yaw * rad), sy = std::sin(pose.yaw * rad);
    const double cp = std::cos(pose.pitch * rad), sp = std::sin(pose.pitch * rad);
    const double r1[3] = {cy * p[0] + sy * p[2], p[1], -sy * p[0] + cy * p[2]};
    const double world[3] = {r1[0], cp * r1[1] - sp * r1[2], sp * r1[1] + cp * r1[2] + pose.zoom};
    const double eye[3] = {pose.cameraX, pose.cameraY, pose.cameraDistance};
    double f[3] = {pose.targetX - eye[0], pose.targetY - eye[1], targetZ - eye[2]};
    const double fl = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
    for (double& v : f) v /= fl;
    // s = f x up, u = s x f (up = y).
    double s[3] = {-f[2], 0.0, f[0]};
    const double sl = std::sqrt(s[0] * s[0] + s[2] * s[2]);
    for (double& v : s) v /= sl;
    const double u[3] = {s[1] * f[2] - s[2] * f[1], s[2] * f[0] - s[0] * f[2], s[0] * f[1] - s[1] * f[0]};
    const double d[3] = {world[0] - eye[0], world[1] - eye[1], world[2] - eye[2]};
    const double xe = s[0] * d[0] + s[1] * d[1] + s[2] * d[2];
    const double ye = u[0] * d[0] + u[1] * d[1] + u[2] * d[2];
    const double depth = f[0] * d[0] + f[1] * d[1] + f[2] * d[2];
    const double focal = 1.0 / std::tan(22.5 * rad);
    const double ndcX = focal / (w / h) * xe / depth, ndcY = focal * ye / depth;
    return {(ndcX + 1.0) / 2.0 * w, h - (ndcY + 1.0) / 2.0 * h, depth};
}

}  // namespace

TEST(Camera, CuboidDistanceWheelAndAutoRotation) {
    // Drags are WindowEventsFollowTheRegionAndReleaseRules' and the pan test's. A
    // cuboid's distance and zoom scale (cubes: the X key's reset): 8x8x32, k = 6,
    // q = 256 / 64 = 4: 32 * 6 / 2.
    EXPECT_FLOAT_EQ(CameraDistanceForGrid(8, 8, 32), 96.0f);
    EXPECT_FLOAT_EQ(ZoomScaleForGrid(144), 4.5f);
    CameraPose pose{30, 140, 0, 0, 0, 0, 0, 76};
    ApplyWheel(pose, 120, 0.5f, 10.0f);
    EXPECT_FLOAT_EQ(pose.zoom, 6.0f);  // 120 * 0.1 * 0.5
    // Auto-rotation turns 0.2 degrees a frame and wraps at 360.
    EXPECT_FLOAT_EQ(AdvanceAutoRotation(10.0f), 10.2f);
    EXPECT_NEAR(AdvanceAutoRotation(359.9f), 0.1f, 1e-3f);
}

TEST(Camera, PanKeepsTheNetworkUnderTheMouse) {
    // A 16^3 cube from its reset distance, zoomed in and out, in a 430-pixel pane
    // and in the 100% view of a 768-pixel window; the drag must move the projected
    // centre, and a point beside it at the same depth, by the mouse's pixels.
    const double w = 512, centre[3] = {0, 0, 0};
    for (const float zoom : {0.0f, 40.0f, -150.0f}) {
        for (const double h : {430.0, 768.0}) {
            CameraPose pose{30, 140, 3, -2, 3, -2, zoom, 76};
            DragPoint last{kNoMousePosition, kNoMousePosition};
            const Projected before = Project(pose, 0.0f, centre, w, h);
            ApplyLeftDrag(pose, last, 200, 200, true, static_cast<float>(h));
            ApplyLeftDrag(pose, last, 210, 193, true, static_cast<float>(h));
            const Projected after = Project(pose, 0.0f, centre, w, h);
            EXPECT_NEAR(after.x - before.x, 10.0, 0.05) << "zoom " << zoom << " h " << h;
            EXPECT_NEAR(after.y - before.y, -7.0, 0.05) << "zoom " << zoom << " h " << h;
            EXPECT_EQ(pose.cameraX, pose.targetX);
            EXPECT_EQ(pose.cameraY, pose.targetY);
        }
    }
}

TEST(Camera, ZoomStopsBeforeTheNetwork) {
    // Extents 8 (16^3 cube): the volume box has half-sides 9. However it is turned,
    // no corner may come nearer than the near plane (1); zooming out again works.
    const float minDepth = MinimumViewDepth(8, 8, 8);
    float corners[8][3];
    const float extent[3] = {8, 8, 8};
    VolumeBoxCorners(extent, corners);
    for (const float yaw : {0.0f, 45.0f, 140.0f}) {
        for (const float pitch : {0.0f, 35.26f, 30.0f}) {
            CameraPose pose{pitch, yaw, 0, 0, 0, 0, 0, 76};
            for (int i = 0; i < 100; ++i) ApplyWheel(pose, 120, 0.5f, minDepth);
            DragPoint right{kNoMousePosition, kNoMousePosition};
            for (int y = 0; y < 2000; y += 50) ApplyRightDrag(pose, right, static_cast<float>(y), 0.5f, minDepth);
            double nearest = 1e9;
            for (const auto& c : corners) {
                const double p[3] = {c[0], c[1], c[2]};
                nearest = std::min(nearest, Project(pose, 0.0f, p, 512, 430).depth);
            }
            EXPECT_GE(nearest, 1.0 - 1e-4) << "yaw " << yaw << " pitch " << pitch;
            EXPECT_LT(nearest, 20.0);  // it did come close
            const float zoomed = pose.zoom;
            ApplyWheel(pose, -120, 0.5f, minDepth);
            EXPECT_FLOAT_EQ(pose.zoom, zoomed - 6.0f);
        }
    }
    // A camera already nearer (the box grew in the configuration) comes no nearer
    // but may back away.
    CameraPose close{30, 140, 0, 0, 0, 0, 70, 76};
    ApplyWheel(close, 120, 0.5f, minDepth);
    EXPECT_EQ(close.zoom, 70.0f);
    ApplyWheel(close, -120, 0.5f, minDepth);
    EXPECT_FLOAT_EQ(close.zoom, 64.0f);
}

TEST(Camera, WindowEventsFollowTheRegionAndReleaseRules) {
    static AppState state;
    SceneLayout = RoundLayout();
    WindowHeight.store(900);
    FullView.store(false);
    CameraYaw = 140.0f;
    CameraPitch = 30.0f;
    CameraDistance = 76.0f;
    Zoom = 0.0f;
    ZoomScale = 0.5f;

    // A right drag after a left release starts without a jump.
    ViewLeftButtonUp();
    ViewMouseMove(state, 10, 100, false, true, false);
    EXPECT_EQ(Zoom, 0.0f);
    ViewMouseMove(state, 10, 120, false, true, false);
    EXPECT_FLOAT_EQ(Zoom, 2.0f);
    // So does the next right drag after a right release.
    ViewRightButtonUp();
    ViewMouseMove(state, 10, 500, false, true, false);
    EXPECT_FLOAT_EQ(Zoom, 2.0f);

    // Left drags in the lower strip (below 900 - 300 = 600) neither rotate nor pan.
    ViewLeftButtonUp();
    ViewLeftButtonDown(state, 10, 700);
    ViewMouseMove(state, 10, 700, true, false, false);
    ViewMouseMove(state, 40, 750, true, false, false);
    EXPECT_EQ(CameraYaw, 140.0f);
    EXPECT_EQ(LastMouseX, kNoMousePosition);
    // In the upper region they rotate, from the first move on.
    ViewLeftButtonDown(state, 10, 500);
    ViewMouseMove(state, 40, 520, true, false, false);
    EXPECT_EQ(CameraYaw, 170.0f);
    EXPECT_EQ(CameraPitch, 50.0f);
    ViewLeftButtonUp();

    // The upper region's bottom is truncated; the 100% view has no strip.
    EXPECT_TRUE(InUpperRegion(599.0f, 900.0f, 300.006f, false));
    EXPECT_FALSE(InUpperRegion(599.5f, 900.0f, 300.006f, false));
    EXPECT_TRUE(InUpperRegion(900.0f, 900.0f, 300.006f, true));
}

TEST(Camera, PickingCornersAndOutside) {
    const LayoutMetrics m = RoundLayout();
    // Picker square in window coordinates: x 16..272, y 620..876 (H = 900).
    PickResult p = PickNeuronAt(16, 620, 900, m, 16, 16, 4096, 0);
    ASSERT_TRUE(p.hit);  // top-left: the mirrored x counts from the right
    EXPECT_EQ(p.pickedX, 15u);
    EXPECT_EQ(p.pickedY, 15u);
    EXPECT_EQ(p.neuron, 255u);
    // Bottom-right edge: column 16 and row -1 clamp into the grid.
    p = PickNeuronAt(272, 876, 900, m, 16, 16, 4096, 0);
    ASSERT_TRUE(p.hit);
    EXPECT_EQ(p.pickedX, 0u);
    EXPECT_EQ(p.pickedY, 0u);
    EXPECT_EQ(p.neuron, 0u);
    // A cell in the middle: x 16 + 5 * 16 + 3 -> column 5 -> x 10; y 620 + 3 * 16 + 2
    // -> g = 46, (46 + 4) / 16 = 3 -> row 12.
    p = PickNeuronAt(99, 670, 900, m, 16, 16, 4096, 0);
    EXPECT_EQ(p.pickedX, 10u);
    EXPECT_EQ(p.pickedY, 12u);
    EXPECT_EQ(p.neuron, 16u * 12 + 10);
    // On a 16 x 8 grid the same point is row 4 (7 - 3); on plane 2 that is grid
    // cell (10, 4, 2), the neuron the picker draws there.
    p = PickNeuronAt(99, 670, 900, m, 16, 8, 4096, 2);
    EXPECT_EQ(p.pickedY, 4u);
    EXPECT_EQ(p.neuron, PickerNeuronIndex(p.pickedX, p.pickedY, 16, 8, 2));
    // The index is limited to the last neuron.
    p = PickNeuronAt(16, 620, 900, m, 16, 16, 100, 0);
    EXPECT_EQ(p.neuron, 99u);
    // Outside the square.
    EXPECT_FALSE(PickNeuronAt(273, 700, 900, m, 16, 16, 4096, 0).hit);
    EXPECT_FALSE(PickNeuronAt(100, 619, 900, m, 16, 16, 4096, 0).hit);
}

TEST(Camera, ClickSetsTheInspectorOnlyInsideThePicker) {
    static AppState state;
    state.params.gridX = state.params.gridY = state.params.gridZ = 16;
    state.neuronCount = 4096;
    state.SimState = SimStateRunning;
    SceneLayout = RoundLayout();
    WindowHeight.store(900);
    FullView.store(false);
    SelectedSlice.store(1);
    NeuronInspected = false;
    InspectedNeuron = 7;
    TraceReset = false;

    ViewLeftButtonDown(state, 300, 700);  // right of the square
    EXPECT_FALSE(NeuronInspected);
    EXPECT_EQ(InspectedNeuron, 7u);

    ViewLeftButtonDown(state, 16, 620);
    EXPECT_TRUE(NeuronInspected);
    EXPECT_TRUE(TraceReset);
    EXPECT_EQ(InspectedNeuron, 16u * (15 + 16) + 15);
    state.SimState = SimStateNone;
}
