// Toolbox rules: the click guard with an injected clock, the transparency slider
// mapping and label, accelerator captions, and the button view.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "io/app_state.h"
#include "ui/toolbox_logic.h"

namespace {

TEST(ToolboxClickGuard, DisabledWithin300MsAndAfter) {
    uint32_t last = 0;
    // A disabled button is ignored and does not move the guard.
    EXPECT_FALSE(AcceptToolboxClick(last, false, 10000));
    EXPECT_EQ(last, 0u);
    // First click accepted.
    EXPECT_TRUE(AcceptToolboxClick(last, true, 10000));
    EXPECT_EQ(last, 10000u);
    // Another button (the guard is shared) 250 ms later: ignored; exactly 300 ms: ignored.
    EXPECT_FALSE(AcceptToolboxClick(last, true, 10250));
    EXPECT_FALSE(AcceptToolboxClick(last, true, 10300));
    EXPECT_EQ(last, 10000u);  // ignored clicks do not restart the 300 ms
    // 301 ms later: accepted.
    EXPECT_TRUE(AcceptToolboxClick(last, true, 10301));
    EXPECT_EQ(last, 10301u);
    // Across the wrap of the 32-bit tick count.
    last = 0xFFFFFF00u;
    EXPECT_FALSE(AcceptToolboxClick(last, true, 0x00000010u));  // 272 ms later
    EXPECT_TRUE(AcceptToolboxClick(last, true, 0x00000040u));   // 320 ms later
}

TEST(ToolboxTransparency, SliderOpacityAndLabel) {
    char label[kTransparencyLabelSize];
    // Transparency rises to the right: the right end is fully transparent.
    EXPECT_EQ(AlphaFromTrackbarPosition(40), 0.0f);
    // The wireframe opacity 0.065: 13 steps (not 12) from the left end, and 93.5 %.
    EXPECT_EQ(TrackbarPositionFromAlpha(0.065f), 27);
    FormatTransparencyLabel(0.065f, label);
    EXPECT_STREQ(label, "Neuron transparency: 93.5 %");
    // Truncation toward zero: 0.0749 is 14 steps, not 15.
    EXPECT_EQ(TrackbarPositionFromAlpha(0.0749f), 26);
    // Every position survives the round trip through the opacity.
    for (int p = 0; p <= 40; ++p) EXPECT_EQ(TrackbarPositionFromAlpha(AlphaFromTrackbarPosition(p)), p) << p;
    // Out-of-range opacities stay on the slider.
    EXPECT_EQ(TrackbarPositionFromAlpha(-0.1f), 40);
    EXPECT_EQ(TrackbarPositionFromAlpha(1.0f), 0);
}

TEST(ToolboxPlacement, BesideTheWindowWhenItFitsElseOffTheTags) {
    // 1024 x 768 window at (0, 0), a 240 x 330 toolbox.
    EXPECT_EQ(PlaceToolbox(0, 0, 1024, 768, 240, 330, 1600, 1000).x, 1040);
    EXPECT_EQ(PlaceToolbox(0, 0, 1024, 768, 240, 330, 0, 0).x, 1040);  // screen size unknown
    // 1280 x 800, the window with its frame 1030 wide: no room on the right; the
    // screen's lower right corner, below the tags.
    const ToolboxSpot spot = PlaceToolbox(0, 0, 1030, 790, 240, 330, 1280, 800);
    EXPECT_EQ(spot.x, 1040);
    EXPECT_EQ(spot.y, 470);
    EXPECT_EQ(PlaceToolbox(0, 0, 1030, 790, 240, 900, 1280, 800).y, 0);
}

TEST(ToolboxCaptions, AcceleratorMarkIsNeverShown) {
    AcceleratorCaption c = ParseAcceleratorCaption("&Start Simulation");
    EXPECT_STREQ(c.text, "Start Simulation");
    EXPECT_EQ(c.underline, 0);
    EXPECT_EQ(c.key, 'S');
    c = ParseAcceleratorCaption("r&esume");  // the key is upper case
    EXPECT_EQ(c.key, 'E');
    c = ParseAcceleratorCaption("Save && &Quit");
    EXPECT_STREQ(c.text, "Save & Quit");
    EXPECT_EQ(c.underline, 7);
    EXPECT_EQ(c.key, 'Q');
    c = ParseAcceleratorCaption("Trailing&");
    EXPECT_STREQ(c.text, "Trailing");
    EXPECT_EQ(c.key, 0);
}

TEST(ToolboxView, RuleDisablingAndAccelerators) {
    ToolboxView view = InitialToolboxView();

    // No simulation: Start enabled, Pause and the view button disabled.
    ApplyToolboxButtons(view, ToolboxButtonRule(SimStateNone, true));
    EXPECT_TRUE(view.startStop.enabled && view.configuration.enabled);
    EXPECT_FALSE(view.pauseResume.enabled);
    EXPECT_EQ(LifecycleButtonForAccelerator(view, 'S'), ToolboxStartStop);
    EXPECT_EQ(LifecycleButtonForAccelerator(view, 'P'), 0);  // disabled button
    EXPECT_EQ(LifecycleButtonForAccelerator(view, 'T'), 0);
    const std::string configuration = view.configuration.caption;  // a caption without a rule is kept

    // A task disables everything it holds.
    DisableToolboxView(view);
    EXPECT_FALSE(view.startStop.enabled || view.configuration.enabled || view.tweaksEnabled);
    EXPECT_EQ(LifecycleButtonForAccelerator(view, 'S'), 0);

    // Initializing leaves the buttons as they are but enables the tweaks.
    const std::string start = view.startStop.caption;
    ApplyToolboxButtons(view, ToolboxButtonRule(SimStateInitializing, true));
    EXPECT_FALSE(view.startStop.enabled);
    EXPECT_EQ(view.startStop.caption, start);
    EXPECT_TRUE(view.tweaksEnabled);

    // Paused: Resume via Alt+E, Stop via Alt+S, the view button via Alt+T.
    ApplyToolboxButtons(view, ToolboxButtonRule(SimStatePaused, false));
    EXPECT_FALSE(view.configuration.enabled);
    EXPECT_EQ(view.configuration.caption, configuration);
    EXPECT_EQ(LifecycleButtonForAccelerator(view, 'E'), ToolboxPauseResume);
    EXPECT_EQ(LifecycleButtonForAccelerator(view, 'T'), ToolboxVisualization);
    EXPECT_EQ(LifecycleButtonForAccelerator(view, 'P'), 0);

    // Running: Pause via Alt+P; the view button offers to turn the view off.
    ApplyToolboxButtons(view, ToolboxButtonRule(SimStateRunning, true));
    EXPECT_EQ(LifecycleButtonForAccelerator(view, 'P'), ToolboxPauseResume);
    EXPECT_EQ(LifecycleButtonForAccelerator(view, 'E'), 0);
    EXPECT_STREQ(view.visualization.caption, "&Turn Visualization OFF");
}

}  // namespace
