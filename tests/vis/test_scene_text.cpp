// Property column strings, trace lanes, scaling and points, HUD lines and the
// inspector's axon colouring.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/network.h"
#include "vis/scene_layout.h"
#include "vis/text.h"
#include "vis/text_layout.h"

namespace {

LayoutMetrics StripLayout() {
    LayoutMetrics m{};
    m.CharHeight = 16;
    m.PaneTop = 300.0f;
    m.LineHeight = 24.0f;
    m.PickerTop = 280.0f;
    m.PickerHalf = 128.0f;
    m.PickerQuarter = 64.0f;
    m.PickerWidth = 256.0f;
    m.InspectorTextWidth = 200.0f;
    return m;
}

Neuron Inspected() {
    Neuron n{};
    n.isExcitatory = 1;
    n.neuronClass = 1;
    n.incomingCount = 12;
    n.excIncomingCount = 9;
    n.inhIncomingCount = 3;
    n.axonTerminal[0] = 3.0f;
    n.axonTerminal[1] = 4.0f;
    n.outgoingCount = 7;
    n.spikeCount = 5;
    n.lastSpikeStep = -1;
    n.a = 0.02f, n.b = 0.2f, n.c = -65.0f, n.d = 8.0f;
    n.vPeak = 30.0f;
    return n;
}

}  // namespace

TEST(SceneText, PropertyColumnRates) {
    Neuron n = Inspected();
    PropertyColumn col = BuildPropertyColumn(n, 1000);  // 500 ms simulated
    EXPECT_STREQ(col.lines[4].text, "Axon length: 5.00 mm");
    EXPECT_STREQ(col.lines[6].text, "Tot. spikes: 5 (5.0/s)");  // the first second counts as one
    EXPECT_STREQ(col.lines[7].text, "Last spike: Never");
    // After the first second the rate divides by the simulated time; a spike shows its time.
    n.lastSpikeStep = 25;
    col = BuildPropertyColumn(n, 4000);
    EXPECT_STREQ(col.lines[6].text, "Tot. spikes: 5 (2.5/s)");
    EXPECT_STREQ(col.lines[7].text, "Last spike@ 12.5 ms");
    n.neuronClass = 200;  // a class beyond the table has a name too
    EXPECT_NE(BuildPropertyColumn(n, 4000).lines[1].text[0], '\0');
}

TEST(SceneText, LaneScaling) {
    // A V trace spanning 5 mV is drawn on a 100 mV window centred between its extremes.
    TraceScale s = ScaleTrace(-60.0f, -65.0f, 50.0f);
    EXPECT_FLOAT_EQ(s.min, -112.5f);
    EXPECT_FLOAT_EQ(s.range, 110.0f);  // (-12.5 + 10) + 112.5
    // A flat trace: r = 0.01; values are clamped into the lane.
    s = ScaleTrace(2.0f, 2.0f, 0.0f);
    EXPECT_FLOAT_EQ(s.range, 0.01f);
    EXPECT_FLOAT_EQ(TraceSampleY(s, 10.0f, 64.0f, 3.0f), 74.0f);
    EXPECT_FLOAT_EQ(TraceSampleY(s, 10.0f, 64.0f, 1.0f), 10.0f);
}

TEST(SceneText, TracesDrawOnlyRecordedStepsNewestAtTheRight) {
    // 530 pixels: 520 steps (a whole 10 ms), one step every 530/520 pixels.
    EXPECT_EQ(TraceSpanSteps(530, 2048), 520u);
    EXPECT_EQ(TraceSpanSteps(3000, 2048), 2040u);
    TraceStore store;
    EXPECT_FALSE(LayoutTraceStore(store, 100.0f, 0, 2048));  // no room: nothing allocated
    EXPECT_EQ(store.points, nullptr);
    ASSERT_TRUE(LayoutTraceStore(store, 100.0f, 530, 2048));
    ASSERT_EQ(store.span, 520u);

    // Three recorded steps of two quantities: three points at the right edge, the
    // rest of the area empty (not a flat line at 0).
    const float samples[] = {-70.0f, 1.0f, -60.0f, 2.0f, 20.0f, 3.0f};
    const TraceLane lane{300.0f, 100.0f, {1, 1, 1, 1}, "", 50.0f};
    float points[2 * 520];
    ASSERT_EQ(FillTracePoints(store, samples, 3, 2, 0, lane, points), 3u);
    const float right = 100.0f + 530.0f - 1.0f, dx = 530.0f / 520.0f;
    EXPECT_FLOAT_EQ(points[0], right);
    EXPECT_FLOAT_EQ(points[2], right - dx);
    EXPECT_FLOAT_EQ(points[4], right - 2.0f * dx);
    // Scaled to the recorded extremes: the spike (20 mV) is the highest point.
    EXPECT_GT(points[1], points[3]);
    EXPECT_GT(points[3], points[5]);
    EXPECT_EQ(FillTracePoints(store, samples, 0, 2, 0, lane, points), 0u);

    // More steps than the area holds: the newest span of them, the oldest drawn one
    // (80, their minimum) at the left edge and the lane's bottom.
    std::vector<float> many(2 * 600);
    for (int i = 0; i < 600; ++i) many[2 * i] = static_cast<float>(i);
    EXPECT_EQ(FillTracePoints(store, many.data(), 600, 2, 0, lane, points), 520u);
    EXPECT_NEAR(points[2 * 519], 100.0f + dx - 1.0f, 1e-3f);
    EXPECT_FLOAT_EQ(points[2 * 519 + 1], 200.0f);
    ReleaseTraceStore(store);
}

TEST(SceneText, HudLines) {
    // Capture: the product line first, no speeds (the time line's factors are
    // Layout.StatusScreenForEveryState's).
    const HudLines hud = BuildHudLines(true, true, 4096, 123456, 3, 1.0f, 0.5f, 49.5f, 48.25f, 1.234);
    ASSERT_EQ(hud.count, 3);
    EXPECT_STREQ(hud.lines[2].text, "Simulation time: 1.5 ms");
}

TEST(SceneText, HudTagsStayClearOfTheLines) {
    // Lines as drawn at 9 pixels per character; tags with 4 pixels of padding.
    const float lines[3] = {33 * 9.0f, 73 * 9.0f, 58 * 9.0f};
    const float tags[4] = {6 * 9 + 8.0f, 8 * 9 + 8.0f, 3 * 9 + 8.0f, 7 * 9 + 8.0f};
    const float gap = 12.0f;
    auto clear = [&](const HudPlacement& p, int tagCount, float width) {
        for (int i = 0; i < tagCount; ++i) {
            if (i > 0) {
                EXPECT_GE(p.tagX[i], p.tagX[i - 1] + tags[i - 1] + gap - 0.01f);
            }
            if (p.tagRow < 3) {
                EXPECT_GE(p.tagX[i], 8.0f + lines[p.tagRow] + gap);
            }
            EXPECT_GE(p.tagX[i], 8.0f);
        }
        if (p.tagRow < 3) {
            EXPECT_LE(p.tagX[tagCount - 1] + tags[tagCount - 1], width - 8.0f + 0.01f);
        }
        EXPECT_GE(p.noticeRow, 3);
        EXPECT_NE(p.noticeRow, p.tagRow);
    };
    // A 1024-pixel window: all four beside the short first line, flush right.
    HudPlacement p = PlaceHudTags(lines, 3, tags, 4, 1024.0f, gap);
    EXPECT_EQ(p.tagRow, 0);
    EXPECT_FLOAT_EQ(p.tagX[3] + tags[3], 1016.0f);
    clear(p, 4, 1024.0f);
    EXPECT_EQ(p.noticeRow, 3);
    // 560 pixels: no room beside any line: a row of their own below, then the notice.
    p = PlaceHudTags(lines, 3, tags, 4, 560.0f, gap);
    EXPECT_EQ(p.tagRow, 3);
    clear(p, 4, 560.0f);
    EXPECT_EQ(p.noticeRow, 4);

    // 640 pixels: EVENT ENGINE, PAUSED, STIMULUS and REC shrink to fit beside the
    // first line rather than take a row over the 3D view; 1024 keeps the full
    // size, 400 gives them their own row.
    const float text[4] = {12 * 9.0f, 6 * 9.0f, 8 * 9.0f, 3 * 9.0f};
    const float scale = HudTagScale(lines, 3, text, 4, 4.0f, 640.0f, gap);
    EXPECT_LT(scale, 15.0f);
    float scaled[4];
    for (int i = 0; i < 4; ++i) scaled[i] = text[i] * scale / 15.0f + 8.0f;
    EXPECT_EQ(PlaceHudTags(lines, 3, scaled, 4, 640.0f, gap).tagRow, 0);
    EXPECT_EQ(HudTagScale(lines, 3, text, 4, 4.0f, 1024.0f, gap), 15.0f);
    EXPECT_EQ(HudTagScale(lines, 3, text, 4, 4.0f, 400.0f, gap), 15.0f);
    // Only what writes files is in the alarm red; the event engine is a mode.
    EXPECT_GT(HudTagColour("REC").r, HudTagColour("REC").b + 0.5f);
    EXPECT_GT(HudTagColour("EVENT ENGINE").b, HudTagColour("EVENT ENGINE").r);
}

TEST(SceneText, PickerCellsAndAxonColouring) {
    const LayoutMetrics m = StripLayout();
    LayoutMetrics cells = m;
    cells.PickerCell = 16.0f;
    float x, y;
    PickerCellOrigin(0, 0, 16, cells, &x, &y);  // grid x 0 sits at the right
    EXPECT_EQ(x, 256.0f);
    EXPECT_EQ(y, 24.0f);
    PickerCellOrigin(15, 2, 16, cells, &x, &y);
    EXPECT_EQ(x, 16.0f);
    EXPECT_EQ(y, 56.0f);
    // Cell (a, b) of plane 1 on an 8 x 4 grid is grid cell (3, 2, 1): (1 * 4 + 2) * 8 + 3.
    EXPECT_EQ(PickerNeuronIndex(3, 2, 8, 4, 1), 51u);
    EXPECT_FLOAT_EQ(PickerPlaneZ(15, 16.0f), 15.0f);

    // Resting cells are dark, in the colour of their kind; active ones bright.
    const Rgba restExc = PickerCellColour(-70.0f, true), restInh = PickerCellColour(-70.0f, false);
    EXPECT_GT(restExc.r, restExc.b);
    EXPECT_GT(restInh.b, restInh.r);
    EXPECT_GT(PickerCellColour(0.0f, true).g, restExc.g);

    EXPECT_EQ(PotentialPaletteIndex(-100.0f), 0u);
    EXPECT_EQ(PotentialPaletteIndex(0.0f), 511u);
    // Delay line of 4 at index 2: segments read entries 0, 1, 2, 3 (wrapping).
    EXPECT_EQ(AxonDelayEntry(2, 0, 4), 0u);
    EXPECT_EQ(AxonDelayEntry(2, 3, 4), 3u);
    EXPECT_EQ(AxonDelayEntry(0, 0, 4), 2u);
}

TEST(SceneText, WeightLabelsThatWouldClumpAreLeftOut) {
    OutlineFont font = FontMonoSmall;
    ASSERT_TRUE(LoadOutlineFontMetrics(font));
    // Each label's box as drawn: its text's glyph boxes at `em` pixels per em.
    auto label = [&](const char* text, float x, float y, float em) {
        return TextCoverBox(font.metrics, em, x, y, text);
    };
    int keep[4];
    // Three at one spot and one apart: the strongest of the clump and the one apart stay.
    const TextBox clump[4] = {label("0.200", 100, 100, 10), label("0.700", 104, 102, 10),
                              label("0.400", 98, 99, 10), label("0.100", 300, 100, 10)};
    const float clumpWeight[4] = {0.2f, 0.7f, 0.4f, 0.1f};
    ASSERT_EQ(SelectReadableLabels(clump, clumpWeight, 4, 2.0f, keep), 2);
    EXPECT_EQ(keep[0], 1);
    EXPECT_EQ(keep[1], 3);
    EXPECT_EQ(SelectReadableLabels(clump, clumpWeight, 0, 2.0f, keep), 0);

    // At 640 x 480 a label is about 10 pixels per em, five digits 30 pixels wide:
    // anchors 24 pixels apart on a row would draw "0.3950.403". The weaker
    // goes; of two beside the stronger, the one 2 pixels clear stays and the one
    // 1 pixel below it goes.
    const float em = 10.0f;
    const TextBox strong = label("0.403", 324, 201, em), unit = label("0.390", 0, 0, em);
    const TextBox row[4] = {label("0.395", 300, 200, em), strong,
                            label("0.390", strong.x1 + 2.0f - unit.x0, 201, em),
                            label("0.380", 324, strong.y0 - 1.0f - unit.y1, em)};
    const float rowWeight[4] = {0.395f, 0.403f, 0.390f, 0.380f};
    ASSERT_EQ(SelectReadableLabels(row, rowWeight, 4, 2.0f, keep), 2);
    EXPECT_EQ(keep[0], 1);
    EXPECT_EQ(keep[1], 2);
}

