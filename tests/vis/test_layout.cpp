// Layout rules of the visualization: metrics, centring, the 256-byte text cut,
// help lines, status screen texts, frame statistics, key mapping, light rig.
#include <gtest/gtest.h>

#include <GLFW/glfw3.h>

#include <cstring>
#include <string>

#include "engine/app_state.h"
#include "vis/gl_setup.h"
#include "vis/key_map.h"
#include "vis/layout.h"

namespace {

TEST(Layout, MetricsForTheDefaultWindowAndASmallOne) {
    const LayoutMetrics m = ComputeLayoutMetrics(1024, 768, 16, 200.0f, 32.0f);
    EXPECT_NEAR(m.PaneTop + m.PaneSplit, 768.0, 1e-3);  // the strip and the panes fill the height
    EXPECT_FLOAT_EQ(m.HalfWidth, 512.0f);
    EXPECT_NEAR(m.PickerRight - m.PickerLeft, m.PickerWidth, 1e-3);
    EXPECT_NEAR(m.PickerCell * 32.0f, m.PickerSize, 1e-3);  // 32 cells across the square

    // 60 pixels high: the picker top falls below the line height; the size stays positive.
    const LayoutMetrics s = ComputeLayoutMetrics(300, 60, 16, 200.0f, 32.0f);
    EXPECT_NEAR(s.PickerTop, 0.0004, 1e-3);
    EXPECT_NEAR(s.PickerSize, 23.9996, 1e-3);
    EXPECT_NEAR(s.PickerRight, 39.9996, 1e-3);

    // No network yet: no cell size rather than infinity.
    EXPECT_FLOAT_EQ(ComputeLayoutMetrics(1024, 768, 16, 0.0f, 0.0f).PickerCell, 0.0f);
    EXPECT_EQ(CharHeightFromMeasured(5), 8);
    EXPECT_EQ(CharHeightFromMeasured(16), 16);
}

TEST(Layout, CentringRuleOnASyntheticMetricsTable) {
    GlyphMetrics table[kGlyphCount] = {};
    table['A'] = {0.5f, 0.7f, 0.0f, 0.7f, 0.6f, 0.0f};
    table['B'] = {0.25f, 0.7f, 0.0f, 0.7f, 0.75f, 0.0f};
    // All but the last: scale * box + 4 * advance; the last: scale * box only.
    EXPECT_FLOAT_EQ(CentredTextWidth(table, 10.0f, "AB"), 5.0f + 2.4f + 2.5f);
    EXPECT_FLOAT_EQ(CentredTextWidth(table, 10.0f, "ABA"), 7.4f + 5.5f + 5.0f);
    EXPECT_FLOAT_EQ(CentredTextWidth(table, 10.0f, "A"), 5.0f);
    EXPECT_FLOAT_EQ(CentredTextWidth(table, 10.0f, ""), 0.0f);
    // Raster widths: advances rounded per glyph (0.6 * 15 = 9, 0.75 * 15 = 11.25 -> 11).
    EXPECT_FLOAT_EQ(TextPixelWidth(table, 15.0f, "AB"), 20.0f);
}

TEST(Layout, OverlayTextIsCutAt255Bytes) {
    const std::string longText(300, 'x');
    const OverlayText cut = FormatOverlayText("%s", longText.c_str());
    EXPECT_EQ(cut.length, 255);
    EXPECT_EQ(std::strlen(cut.text), 255u);
    EXPECT_EQ(cut.text[255], 0);
    const std::string exact(255, 'y');
    const OverlayText kept = FormatOverlayText("%s", exact.c_str());
    EXPECT_EQ(kept.length, 255);
    EXPECT_EQ(std::string(kept.text), exact);
    const OverlayText formatted = FormatOverlayText("%d Neurons with %d Synapses", 32768, 12);
    EXPECT_STREQ(formatted.text, "32768 Neurons with 12 Synapses");
    EXPECT_EQ(formatted.length, 30);
}

TEST(Layout, HelpLinesAndTheirPositions) {
    ASSERT_EQ(kHelpLineCount, 26);
    EXPECT_TRUE(HelpLines[0].title);
    EXPECT_STREQ(HelpLines[0].text, "Vellicor Help");
    for (int i = 1; i < kHelpLineCount; ++i) EXPECT_FALSE(HelpLines[i].title) << i;
    EXPECT_STREQ(HelpLines[18].text, "L key - Toggle synaptic strength view ON/OFF");
    EXPECT_STREQ(HelpLines[25].text, "/ShortAxonDemo - Demo mode with short axons");
    float y[kHelpLineCount];
    HelpLinePositions(768, y);
    EXPECT_NEAR(y[0], 636.8, 1e-3);   // 768 - 16 - 115.2
    EXPECT_NEAR(y[1], 621.8, 1e-3);   // gap 1
    EXPECT_NEAR(y[2], 591.8, 1e-3);   // gap 2
    EXPECT_NEAR(y[6], 531.8, 1e-3);   // four single gaps later
    EXPECT_NEAR(y[7], 486.8, 1e-3);   // "KEYBOARD SHORTCUTS" after a gap of 3
    EXPECT_NEAR(y[25], 156.8, 1e-3);  // 32 gaps of 15 below the title
}

TEST(Layout, StatusScreenForEveryState) {
    const StatusScreen none = BuildStatusScreen(SimStateNone, 768, 16, 0, 0.0f, 0.0f);
    ASSERT_EQ(none.count, 3);
    EXPECT_TRUE(none.withHelpPanel);
    EXPECT_FLOAT_EQ(none.lines[0].y, 750.0f);
    EXPECT_FLOAT_EQ(none.lines[1].y, 733.0f);
    EXPECT_FLOAT_EQ(none.lines[2].y, 699.0f);

    const StatusScreen init = BuildStatusScreen(SimStateInitializing, 768, 16, 0, 0.0f, 0.0f);
    EXPECT_EQ(init.count, 2);
    EXPECT_FALSE(init.withHelpPanel);

    // Visualization off: the statistics of the run, with "paused" for a stale factor.
    const StatusScreen off = BuildStatusScreen(SimStateRunning, 768, 16, 100, 0.25f, 0.125f);
    ASSERT_EQ(off.count, 4);
    EXPECT_FALSE(off.withHelpPanel);
    EXPECT_STREQ(off.lines[3].text.text,
                 "Simulation time: 50.0 ms (Real time factor: 0.250x recent, 0.125x avg.)");
    EXPECT_FLOAT_EQ(off.lines[3].y, 682.0f);
    const StatusScreen paused = BuildStatusScreen(SimStatePaused, 768, 16, 100, 0.25f, 0.125f);
    EXPECT_STREQ(paused.lines[3].text.text, "Simulation time: 50.0 ms (Real time factor: paused, 0.125x avg.)");
}

TEST(Layout, FrameStatistics) {
    FrameStats s{};
    ResetFrameStats(s, 1000);
    s.FrameCount = 20;
    s.cycleAccumulator = 40000000;
    UpdateFpsStats(s, 1400);  // 20 frames in 400 ms
    EXPECT_FLOAT_EQ(s.RecentFps, 50.0f);
    EXPECT_FLOAT_EQ(s.AverageFps, 0.0f);  // not before frame 100
    EXPECT_DOUBLE_EQ(s.FrameMcycles, 2.0);
    EXPECT_EQ(s.cycleAccumulator, 0u);
    UpdateFpsStats(s, 1400);  // a 0 ms period leaves the rate alone
    EXPECT_FLOAT_EQ(s.RecentFps, 50.0f);
    EXPECT_DOUBLE_EQ(s.FrameMcycles, 0.0);
    s.FrameCount = 200;
    UpdateFpsStats(s, 3000);  // 200 frames in 2 s
    EXPECT_FLOAT_EQ(s.AverageFps, 100.0f);
    EXPECT_FLOAT_EQ(s.RecentFps, 12.5f);

    s.prevStep = 0;
    s.prevTime = 3000;
    UpdateSpeedStats(s, 3100, 100, 0.5f, 2900);  // 100 steps in 100 ms, 200 ms running
    EXPECT_FLOAT_EQ(s.RecentSpeed, 0.5f);
    EXPECT_FLOAT_EQ(s.AverageSpeed, 0.25f);
    UpdateSpeedStats(s, 3200, 100, 0.5f, 2900);  // no step: unchanged
    EXPECT_FLOAT_EQ(s.RecentSpeed, 0.5f);
    EXPECT_EQ(s.prevTime, 3200u);
}

TEST(Layout, GlfwKeysMapToVirtualKeys) {
    EXPECT_EQ(GlfwKeyToVirtualKey(GLFW_KEY_F1), 254);  // never 112, the alias of 'p'
    EXPECT_EQ(GlfwKeyToVirtualKey(GLFW_KEY_F3), 114);
    EXPECT_EQ(GlfwKeyToVirtualKey(GLFW_KEY_F12), 123);
    EXPECT_EQ(GlfwKeyToVirtualKey(GLFW_KEY_KP_5), 101);
    EXPECT_EQ(GlfwKeyToVirtualKey(GLFW_KEY_Z), 90);
    EXPECT_EQ(GlfwKeyToVirtualKey(GLFW_KEY_RIGHT_SHIFT), 16);
    EXPECT_EQ(GlfwKeyToVirtualKey(GLFW_KEY_WORLD_1), -1);
}

TEST(Layout, LightRigAroundTheVolume) {
    float p[6][4];
    LightRigPositions(16.0f, 8.0f, 4.0f, p);
    EXPECT_FLOAT_EQ(p[0][0], 80.5f);
    EXPECT_FLOAT_EQ(p[1][0], -79.5f);
    EXPECT_FLOAT_EQ(p[2][1], 40.5f);
    EXPECT_FLOAT_EQ(p[3][1], -39.5f);
    EXPECT_FLOAT_EQ(p[4][2], 20.5f);
    EXPECT_FLOAT_EQ(p[5][2], -19.5f);
    EXPECT_FLOAT_EQ(p[5][0], 0.5f);
    EXPECT_FLOAT_EQ(p[0][3], 1.0f);
}

}  // namespace
