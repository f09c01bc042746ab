// Overlay text layout with the fonts' real metrics: wrapping and spreading, and for
// window sizes from 640 x 480 up, the help screen, the status screen, the HUD lines
// and the lower strip keep every text inside the window and apart from the others.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/network.h"
#include "io/app_state.h"
#include "vis/overlay_layout.h"
#include "vis/text.h"
#include "placed_text.h"

namespace {

struct Fonts {
    OutlineFont hud = FontHud, mono = FontMono, monoBold = FontMonoBold, small = FontMonoSmall;
    Fonts() {
        for (OutlineFont* f : {&hud, &mono, &monoBold, &small}) EXPECT_TRUE(LoadOutlineFontMetrics(*f));
    }
};
const Fonts& F() {
    static const Fonts fonts;
    return fonts;
}

const int kSizes[][2] = {{640, 480}, {720, 540}, {800, 600}, {1024, 768}, {1280, 720},
                         {1366, 768}, {1920, 1080}, {2560, 1440}, {640, 1000}, {1600, 480}};

TEST(OverlayLayout, WrapAndSpread) {
    const GlyphMetrics* m = F().small.metrics;
    const float ch = TextAdvance(m, 10.0f, "x");  // monospace
    TextPiece p[8];
    // Breaks at spaces, drops them, cuts a word longer than the line.
    int n = WrapText(m, 10.0f, "aaa bbb ccc", 7.5f * ch, p, 8);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(p[0].length, 7);  // "aaa bbb"
    EXPECT_EQ(p[1].offset, 8);
    n = WrapText(m, 10.0f, "abcdefghij", 4.0f * ch, p, 8);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(p[2].length, 2);

    // Labels wished too close move apart by the gap, inside the bounds.
    float start[3] = {10.0f, 12.0f, 95.0f};
    const float length[3] = {10.0f, 10.0f, 10.0f};
    EXPECT_TRUE(SpreadIntervals(start, length, 3, 0.0f, 100.0f, 2.0f));
    EXPECT_FLOAT_EQ(start[0], 10.0f);
    EXPECT_FLOAT_EQ(start[1], 22.0f);
    EXPECT_FLOAT_EQ(start[2], 90.0f);
    float tight[3] = {0.0f, 0.0f, 0.0f};
    EXPECT_FALSE(SpreadIntervals(tight, length, 3, 0.0f, 25.0f, 2.0f));
}

TEST(OverlayLayout, StatusScreenWrapsAndTheHelpPanelStartsBelowIt) {
    const GlyphMetrics* m = F().small.metrics;
    for (const auto& size : kSizes) {
        const std::string where = std::to_string(size[0]) + "x" + std::to_string(size[1]);
        const float W = static_cast<float>(size[0]), H = static_cast<float>(size[1]);
        for (uint32_t state : {SimStateNone, SimStateInitializing, SimStateRunning}) {
            const StatusScreen screen = BuildStatusScreen(state, size[1], 16, 123456789, 12.345f, 1.5f);
            const StatusScreenLayout status = LayoutStatusScreen(screen, m, W, 16);
            std::vector<Placed> texts;
            for (int i = 0; i < status.count; ++i)
                texts.push_back({std::string(status.pieces[i].text, status.pieces[i].length),
                                 PlacedTextBox(m, status.pieces[i])});
            if (screen.withHelpPanel) {  // every help line, inside its panel
                const float top = HelpPanelTop(status, H);
                const HelpScreenLayout help = LayoutHelpScreen(m, W, top, 0.15f * H);
                EXPECT_GE(help.count, kHelpLineCount) << where;
                for (int i = 0; i < help.count; ++i) {
                    const TextBox box = PlacedTextBox(m, help.pieces[i]);
                    EXPECT_TRUE(BoxInside(box, {32.0f, 0.15f * H, W - 32.0f, top})) << where;
                    texts.push_back({std::string(help.pieces[i].text, help.pieces[i].length), box});
                }
            }
            ExpectApartAndInside(texts, {0.0f, 0.0f, W, H}, where);
        }
    }
    // The default window keeps the designed size.
    EXPECT_FLOAT_EQ(LayoutHelpScreen(m, 1024.0f, 0.85f * 768, 0.15f * 768).scale, 16.0f);
}

TEST(OverlayLayout, HudLinesFitTheWidth) {
    const GlyphMetrics* m = F().monoBold.metrics;
    const char* line = "Simulation time: 1234567.5 ms (Real time factor: 12.345x recent, 12.345x avg.)";
    for (const auto& size : kSizes) {
        const float W = static_cast<float>(size[0]);
        const float scale = HudLineScale(m, line, W);
        EXPECT_LE(8.0f + TextAdvance(m, scale, line), W - 8.0f + 1e-3f) << size[0];
        EXPECT_LE(scale, 15.0f);
    }
    EXPECT_FLOAT_EQ(HudLineScale(m, "4096 Neurons with 123456 Synapses", 640.0f), 15.0f);
}

TEST(OverlayLayout, LowerStripTextsStayApart) {
    const Fonts& f = F();
    const int32_t charHeight = CharHeightFromMeasured(f.hud.height);
    const float inspector = TextPixelWidth(f.hud.metrics, FontEmPixels(f.hud), "Last spike: 888888888.8 ms");
    // A neuron with long texts, and labels with wide values.
    Neuron n{};
    n.neuronClass = 4;
    n.incomingCount = 12345;
    n.excIncomingCount = 12000;
    n.inhIncomingCount = 345;
    n.outgoingCount = 9999;
    n.spikeCount = 123456;
    n.lastSpikeStep = 99999999;
    n.c = -65.123f;
    n.d = 12.5f;
    n.axonTerminal[0] = 123.0f;
    const PropertyColumn column = BuildPropertyColumn(n, 200000000);
    const float values[kTraceCount] = {-123.45f, -16.25f, 123.456f, 99.999f, 0.123f, 45.678f};
    for (const auto& size : kSizes) {
        const std::string where = std::to_string(size[0]) + "x" + std::to_string(size[1]);
        const float W = static_cast<float>(size[0]);
        const LayoutMetrics L = ComputeLayoutMetrics(size[0], size[1], charHeight, inspector, 16.0f);
        const StripLayout s = LayoutLowerStrip(L, W, f.hud.metrics, f.mono.metrics);
        std::vector<Placed> texts;
        auto add = [&](const GlyphMetrics* m, float scale, float x, float y, const std::string& text) {
            texts.push_back({text, TextInkBox(m, scale, x, y, text.c_str())});
        };
        add(f.hud.metrics, kCaptionScale, 16.0f, s.topCaptionY, kTopCaption);
        add(f.hud.metrics, kCaptionScale, 16.0f, s.bottomCaptionY, kBottomCaption);
        for (int i = 0; i < kPropertyLines; ++i)
            add(f.hud.metrics, s.columnScale, s.columnX, s.columnY[i], column.lines[i].text);
        TraceLane lanes[kTraceCount];
        TraceLanesFor(L, lanes);
        for (int q = 0; q < kTraceCount; ++q)
            add(f.mono.metrics, s.labelScale, s.labelX, s.labelY[q],
                FormatOverlayText(lanes[q].label, static_cast<double>(values[q])).text);
        const char* span = "last 1020 ms";
        add(f.mono.metrics, kSpanLabelScale, s.spanRight - TextAdvance(f.mono.metrics, kSpanLabelScale, span), s.spanY,
            span);
        ExpectApartAndInside(texts, {0.0f, 0.0f, W, L.PaneTop}, where);
        // The column starts right of the picker square, the traces right of the
        // column and of the readouts (a full history must not run across them).
        EXPECT_GE(s.columnX, L.PickerRight) << where;
        EXPECT_GT(s.traceLength, 0u) << where;
        for (int i = 2; i < 2 + kPropertyLines + kTraceCount; ++i) EXPECT_LE(texts[i].box.x1, s.traceX) << where;
    }
    // At the default size the column and the traces keep their designed sizes.
    const LayoutMetrics L = ComputeLayoutMetrics(1024, 768, charHeight, inspector, 16.0f);
    const StripLayout s = LayoutLowerStrip(L, 1024.0f, f.hud.metrics, f.mono.metrics);
    EXPECT_FLOAT_EQ(s.columnScale, kColumnScale);
    EXPECT_FLOAT_EQ(s.labelScale, kTraceLabelScale);
    EXPECT_FLOAT_EQ(s.columnX, L.PickerWidth + 2.0f * static_cast<float>(charHeight));
    // At 640 x 480 the column (once 9 px) and the readouts (once 8 px) stay readable.
    const LayoutMetrics small = ComputeLayoutMetrics(640, 480, charHeight, inspector, 16.0f);
    const StripLayout t = LayoutLowerStrip(small, 640.0f, f.hud.metrics, f.mono.metrics);
    EXPECT_GE(t.columnScale, kMinInspectorScale);
    EXPECT_GE(t.labelScale, kMinInspectorScale);
}

}  // namespace
