// Layout rules of the visualization: metrics, centring, the 256-byte text cut,
// help lines, status screen texts, frame statistics, light rig.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "io/app_state.h"
#include "vis/gl_setup.h"
#include "vis/layout.h"

namespace {

TEST(Layout, MetricsForTheDefaultWindowAndASmallOne) {
    const LayoutMetrics m = ComputeLayoutMetrics(1024, 768, 16, 200.0f, 32.0f);
    EXPECT_NEAR(m.PaneTop + m.PaneSplit, 768.0, 1e-3);  // the strip and the panes fill the height
    EXPECT_FLOAT_EQ(m.HalfWidth, 512.0f);
    EXPECT_NEAR(m.PickerRight - m.PickerLeft, m.PickerWidth, 1e-3);
    EXPECT_NEAR(m.PickerCell * 32.0f, m.PickerSize, 1e-3);  // 32 cells across the square

    // 60 pixels high: the picker square still has a positive size inside the window.
    const LayoutMetrics s = ComputeLayoutMetrics(300, 60, 16, 200.0f, 32.0f);
    EXPECT_GE(s.PickerTop, 0.0f);
    EXPECT_GT(s.PickerSize, 0.0f);
    EXPECT_LE(s.PickerRight, 300.0f);

    // No network yet: no cell size rather than infinity.
    EXPECT_FLOAT_EQ(ComputeLayoutMetrics(1024, 768, 16, 0.0f, 0.0f).PickerCell, 0.0f);
}

TEST(Layout, CentringRuleOnASyntheticMetricsTable) {
    GlyphMetrics table[kGlyphCount] = {};
    table['A'] = {0.5f, 0.7f, 0.0f, 0.7f, 0.6f, 0.0f};
    table['B'] = {0.25f, 0.7f, 0.0f, 0.7f, 0.75f, 0.0f};
    // All but the last: scale * box + 4 * advance; the last: scale * box only.
    EXPECT_FLOAT_EQ(CentredTextWidth(table, 10.0f, "AB"), 5.0f + 2.4f + 2.5f);
    EXPECT_FLOAT_EQ(CentredTextWidth(table, 10.0f, ""), 0.0f);
    // Raster widths: advances rounded per glyph (0.6 * 15 = 9, 0.75 * 15 = 11.25 -> 11).
    EXPECT_FLOAT_EQ(TextPixelWidth(table, 15.0f, "AB"), 20.0f);
}

TEST(Layout, OverlayTextIsCutAt255Bytes) {
    const std::string longText(300, 'x');
    const OverlayText cut = FormatOverlayText("%s", longText.c_str());
    EXPECT_EQ(cut.length, 255);
    EXPECT_EQ(std::strlen(cut.text), 255u);
    const std::string exact(255, 'y');
    const OverlayText kept = FormatOverlayText("%s", exact.c_str());
    EXPECT_EQ(kept.length, 255);
    EXPECT_EQ(std::string(kept.text), exact);
}

TEST(Layout, HelpNamesEveryKeyAndDescendsFromTheTitle) {
    std::string text;
    for (const HelpLine& line : HelpLines) text += std::string(" ") + line.text + " ";
    for (const char* key : {"P", "SPACE", "E", "O", "K", "V", "R", "L", "C", "W", "S", "A", "D", "X", "F1", "F5",
                            "F10", "F11", "UP", "DOWN", "PGUP", "PGDOWN", "HOME", "END", "ESC"}) {
        bool found = false;
        for (size_t at = text.find(key); at != std::string::npos && !found; at = text.find(key, at + 1))
            found = !std::isalnum(static_cast<unsigned char>(text[at - 1])) &&
                    !std::isalnum(static_cast<unsigned char>(text[at + std::strlen(key)]));
        EXPECT_TRUE(found) << key;
    }
    EXPECT_NE(text.find("steps=N"), std::string::npos);  // more than two switches
    float y[kHelpLineCount];
    HelpLinePositions(768, y);
    EXPECT_LT(y[0], 768.0f);
    for (int i = 1; i < kHelpLineCount; ++i) EXPECT_LE(y[i], y[i - 1] - 15.0f) << i;  // a line apart at least
    EXPECT_GT(y[kHelpLineCount - 1], 0.0f);
}

TEST(Layout, StatusScreenForEveryState) {
    // Where the lines go is OverlayLayout's concern (inside the window, apart).
    const StatusScreen none = BuildStatusScreen(SimStateNone, 768, 16, 0, 0.0f, 0.0f);
    EXPECT_EQ(none.count, 3);
    EXPECT_TRUE(none.withHelpPanel);
    const StatusScreen init = BuildStatusScreen(SimStateInitializing, 768, 16, 0, 0.0f, 0.0f);
    EXPECT_EQ(init.count, 2);
    EXPECT_FALSE(init.withHelpPanel);
    // Visualization off: the statistics of the run, with "paused" for a stale factor.
    const StatusScreen off = BuildStatusScreen(SimStateRunning, 768, 16, 100, 0.25f, 0.125f);
    ASSERT_EQ(off.count, 4);
    EXPECT_FALSE(off.withHelpPanel);
    const std::string running = off.lines[3].text.text;
    EXPECT_NE(running.find("50.0 ms (Real time factor: 0.250x recent, 0.125x avg.)"), std::string::npos) << running;
    const std::string paused = BuildStatusScreen(SimStatePaused, 768, 16, 100, 0.25f, 0.125f).lines[3].text.text;
    EXPECT_NE(paused.find("paused, 0.125x avg."), std::string::npos) << paused;
}

TEST(Layout, FrameStatistics) {
    FrameStats s{};
    ResetFrameStats(s, 1000);
    s.FrameCount = 20;
    s.cycleAccumulator = 40000000;
    UpdateFpsStats(s, 1400);  // 20 frames in 400 ms
    EXPECT_FLOAT_EQ(s.RecentFps, 50.0f);
    EXPECT_FLOAT_EQ(s.AverageFps, 50.0f);  // from the first update on
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
    // A run resumed at step 10000: its own 400 steps in 400 ms, not 10400.
    UpdateSpeedStats(s, 3600, 10400, 0.5f, 3200, 10000);
    EXPECT_FLOAT_EQ(s.AverageSpeed, 0.5f);
}

TEST(Layout, LightRigAroundTheVolume) {
    // One light on each side of each axis, outside the volume.
    const float extent[3] = {16.0f, 8.0f, 4.0f};
    float p[6][4];
    LightRigPositions(extent[0], extent[1], extent[2], p);
    for (int light = 0; light < 6; ++light) {
        const int axis = light / 2;
        const float beyond = light % 2 == 0 ? p[light][axis] - extent[axis] : -p[light][axis] - extent[axis];
        EXPECT_GT(beyond, 0.0f) << light;
        EXPECT_EQ(p[light][3], 1.0f);  // positional
    }
}

}  // namespace
