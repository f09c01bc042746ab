// Camera distance and zoom scale, mouse gestures, the upper-region rule and the
// picking maths.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/app_state.h"
#include "vis/camera.h"
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

TEST(Camera, DistanceAndZoomScaleForGrids) {
    // Cubes: q = 1, k = 4.75.
    EXPECT_FLOAT_EQ(CameraDistanceForGrid(16, 16, 16), 76.0f);
    EXPECT_FLOAT_EQ(CameraDistanceForGrid(48, 48, 48), 228.0f);
    // Cuboid 8x8x32: k = 6, q = 256 / 64 = 4: 32 * 6 / 2.
    EXPECT_FLOAT_EQ(CameraDistanceForGrid(8, 8, 32), 96.0f);
    // Cuboid 48x48x144: q = 3: 864 / 1.7320508.
    EXPECT_NEAR(CameraDistanceForGrid(48, 48, 144), 498.83063f, 1e-3f);
    EXPECT_FLOAT_EQ(ZoomScaleForGrid(16), 0.5f);
    EXPECT_FLOAT_EQ(ZoomScaleForGrid(144), 4.5f);
}

TEST(Camera, DragGestures) {
    CameraPose pose{30, 140, 0, 0, 0, 0, 0};
    DragPoint last{kNoMousePosition, kNoMousePosition};
    // The first move only records the position.
    ApplyLeftDrag(pose, last, 100, 200, false);
    EXPECT_EQ(pose.yaw, 140.0f);
    EXPECT_EQ(pose.pitch, 30.0f);
    EXPECT_EQ(last.lastX, 100.0f);
    // One degree per pixel.
    ApplyLeftDrag(pose, last, 110, 195, false);
    EXPECT_EQ(pose.yaw, 150.0f);
    EXPECT_EQ(pose.pitch, 25.0f);
    // Shift pans: x against the drag, y with it (window y runs down).
    ApplyLeftDrag(pose, last, 104, 198, true);
    EXPECT_EQ(pose.cameraX, 6.0f);
    EXPECT_EQ(pose.targetX, 6.0f);
    EXPECT_EQ(pose.cameraY, 3.0f);
    EXPECT_EQ(pose.targetY, 3.0f);
    EXPECT_EQ(pose.yaw, 150.0f);

    DragPoint right{kNoMousePosition, kNoMousePosition};
    ApplyRightDrag(pose, right, 100, 0.5f);
    EXPECT_EQ(pose.zoom, 0.0f);
    ApplyRightDrag(pose, right, 110, 0.5f);
    EXPECT_FLOAT_EQ(pose.zoom, 1.0f);  // 10 * 0.2 * 0.5
    ApplyWheel(pose, 120, 0.5f);
    EXPECT_FLOAT_EQ(pose.zoom, 7.0f);  // + 120 * 0.1 * 0.5
    ApplyWheel(pose, -240, 0.5f);
    EXPECT_FLOAT_EQ(pose.zoom, -5.0f);
}

TEST(Camera, WindowEventsFollowTheRegionAndReleaseRules) {
    static AppState state;
    SceneLayout = RoundLayout();
    WindowHeight.store(900);
    FullView.store(false);
    CameraYaw = 140.0f;
    CameraPitch = 30.0f;
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
    ViewMouseMove(state, 10, 700, true, false, false);
    ViewMouseMove(state, 40, 750, true, false, false);
    EXPECT_EQ(CameraYaw, 140.0f);
    EXPECT_EQ(LastMouseX, kNoMousePosition);
    // In the upper region they rotate.
    ViewMouseMove(state, 10, 500, true, false, false);
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
    p = PickNeuronAt(271, 875, 900, m, 16, 16, 4096, 0);
    EXPECT_EQ(p.pickedX, 0u);
    EXPECT_EQ(p.pickedY, 0u);
    // Bottom-left on plane 2: 16 * (0 + 2 * 16) + 15.
    p = PickNeuronAt(20, 870, 900, m, 16, 16, 4096, 2);
    EXPECT_EQ(p.pickedX, 15u);
    EXPECT_EQ(p.pickedY, 0u);
    EXPECT_EQ(p.neuron, 527u);
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
    EXPECT_EQ(p.neuron, (2u * 8 + 4) * 16 + 10);
    EXPECT_EQ(p.neuron, PickerNeuronIndex(p.pickedX, p.pickedY, 16, 8, 2));
    // The index is limited to the last neuron.
    p = PickNeuronAt(16, 620, 900, m, 16, 16, 100, 0);
    EXPECT_EQ(p.neuron, 99u);
    // Outside the square.
    EXPECT_FALSE(PickNeuronAt(15, 700, 900, m, 16, 16, 4096, 0).hit);
    EXPECT_FALSE(PickNeuronAt(273, 700, 900, m, 16, 16, 4096, 0).hit);
    EXPECT_FALSE(PickNeuronAt(100, 619, 900, m, 16, 16, 4096, 0).hit);
    EXPECT_FALSE(PickNeuronAt(100, 877, 900, m, 16, 16, 4096, 0).hit);
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
    EXPECT_EQ(PickedX, 15u);
    EXPECT_EQ(PickedY, 15u);
    state.SimState = SimStateNone;
}
