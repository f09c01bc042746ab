// Property column strings, trace layout and lane scaling, HUD lines and the
// inspector's axon colouring.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/network.h"
#include "vis/scene_layout.h"

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

TEST(SceneText, PropertyColumn) {
    Neuron n = Inspected();
    PropertyColumn col = BuildPropertyColumn(n, 1000, 300.0f, 16);  // 500 ms simulated
    const std::vector<std::string> expected = {
        "Neuron type: EXCITATORY", "IB (Intristically Bursting)", "Synaptic receptors: 12",
        "Exci: 9  Inhi: 3",        "Axon length: 5.00 mm",        "Axon terminals: 7",
        "Tot. spikes: 5 (5.0/s)",  "Last spike: Never",           "Neuron parameters:",
        "a = 0.020  b = 0.200",    "c = -65.000  d = 8.000",      "Vpeak = 30.000 mV"};
    for (int i = 0; i < kPropertyLines; ++i) EXPECT_EQ(std::string(col.lines[i].text), expected[i]) << i;
    // Steps of 17 with 25.5 before lines 3, 7 and 9.
    EXPECT_FLOAT_EQ(col.y[0], 282.0f);
    EXPECT_FLOAT_EQ(col.y[1], 265.0f);
    EXPECT_FLOAT_EQ(col.y[2], 239.5f);
    EXPECT_FLOAT_EQ(col.y[6], 163.0f);
    EXPECT_FLOAT_EQ(col.y[8], 120.5f);
    EXPECT_FLOAT_EQ(col.y[11], 69.5f);

    // After the first second the rate divides by the simulated time; a spike shows its time.
    n.isExcitatory = 0;
    n.neuronClass = 5;
    n.lastSpikeStep = 25;
    col = BuildPropertyColumn(n, 4000, 300.0f, 16);
    EXPECT_EQ(std::string(col.lines[0].text), "Neuron type: INHIBITORY");
    EXPECT_EQ(std::string(col.lines[1].text), "UNK (Unknown)");
    EXPECT_EQ(std::string(col.lines[6].text), "Tot. spikes: 5 (2.5/s)");
    EXPECT_EQ(std::string(col.lines[7].text), "Last spike@ 12.5 ms");
    EXPECT_STREQ(NeuronClassName(0), "RS (Regular Spiking)");
    EXPECT_STREQ(NeuronClassName(4), "LTS (Low Threshold Spiking)");
    EXPECT_STREQ(NeuronClassName(255), "UNK (Unknown)");
}

TEST(SceneText, TraceLayout) {
    const LayoutMetrics m = StripLayout();
    float x;
    uint32_t length;
    TraceLayoutFor(1000.0f, m, &x, &length);  // 256 + 200 + 4 * 16 = 520
    EXPECT_EQ(x, 520.0f);
    EXPECT_EQ(length, 480u);
    TraceLayoutFor(520.0f, m, &x, &length);
    EXPECT_EQ(length, 0u);
    TraceLayoutFor(521.0f, m, &x, &length);
    EXPECT_EQ(length, 1u);

    // A window no wider than TraceX allocates nothing.
    TraceStore store;
    EXPECT_FALSE(LayoutTraceStore(store, 500, m));
    EXPECT_EQ(store.samples, nullptr);
    EXPECT_TRUE(LayoutTraceStore(store, 530, m));
    EXPECT_EQ(store.TraceLength, 10u);
    ReleaseTraceStore(store);
    EXPECT_EQ(store.TraceWidthKey, kTraceWidthInvalid);

    // Lanes and their label heights.
    TraceLane lanes[kTraceCount];
    TraceLanesFor(m, lanes);
    EXPECT_EQ(lanes[0].top, 300.0f);
    EXPECT_EQ(lanes[2].top, 172.0f);
    EXPECT_EQ(lanes[4].top, 108.0f);
    EXPECT_EQ(lanes[5].height, 64.0f);
    EXPECT_EQ(lanes[0].minHalfSpan, 50.0f);
    EXPECT_EQ(lanes[1].minHalfSpan, 0.0f);
    const float expectedLabels[kTraceCount] = {284, 264, 156, 136, 92, 72};
    for (int q = 0; q < kTraceCount; ++q) EXPECT_EQ(TraceLabelY(lanes, q, 16), expectedLabels[q]) << q;
    const Rgba label = TraceLabelColour(lanes[0].colour);  // (1, 0.5, 0.5) -> (1, 0.7, 0.7)
    EXPECT_FLOAT_EQ(label.r, 1.0f);
    EXPECT_FLOAT_EQ(label.g, 0.7f);
}

TEST(SceneText, LaneScaling) {
    // A V trace spanning 5 mV is drawn on a 100 mV window centred between its extremes.
    TraceScale s = ScaleTrace(-60.0f, -65.0f, 50.0f);
    EXPECT_FLOAT_EQ(s.min, -112.5f);
    EXPECT_FLOAT_EQ(s.range, 110.0f);  // (-12.5 + 10) + 112.5
    EXPECT_NEAR(TraceSampleY(s, 100.0f, 150.0f, -62.5f), 100.0f + 149.0f / 110.0f * 50.0f, 1e-3f);
    EXPECT_FLOAT_EQ(TraceSampleY(s, 100.0f, 150.0f, -112.5f), 100.0f);
    // A span of exactly 50 keeps its extremes.
    s = ScaleTrace(0.0f, -50.0f, 50.0f);
    EXPECT_FLOAT_EQ(s.min, -50.0f);
    EXPECT_FLOAT_EQ(s.range, 55.0f);
    // No minimum span: r = max + 10% of the span - min.
    s = ScaleTrace(4.0f, 0.0f, 0.0f);
    EXPECT_FLOAT_EQ(s.range, 4.4f);
    EXPECT_NEAR(TraceSampleY(s, 0.0f, 75.0f, 4.0f), 74.0f / 4.4f * 4.0f, 1e-4f);
    // A flat trace: r = 0.01; values are clamped into the lane.
    s = ScaleTrace(2.0f, 2.0f, 0.0f);
    EXPECT_FLOAT_EQ(s.range, 0.01f);
    EXPECT_FLOAT_EQ(TraceSampleY(s, 10.0f, 64.0f, 2.0f), 10.0f);
    EXPECT_FLOAT_EQ(TraceSampleY(s, 10.0f, 64.0f, 3.0f), 74.0f);
    EXPECT_FLOAT_EQ(TraceSampleY(s, 10.0f, 64.0f, 1.0f), 10.0f);
}

TEST(SceneText, TraceRecordingAndPoints) {
    const LayoutMetrics m = StripLayout();
    TraceStore store;
    ASSERT_TRUE(LayoutTraceStore(store, 524, m));  // 4 samples
    ASSERT_EQ(store.TraceLength, 4u);
    // A rising trace still gets its minimum from the first sample.
    for (int i = 1; i <= 5; ++i) {
        const float values[kTraceCount] = {static_cast<float>(i), 0, 0, 0, 0, 0};
        RecordTraceSample(store, values);
    }
    EXPECT_EQ(store.maxima[0], 5.0f);
    EXPECT_EQ(store.minima[0], 1.0f);
    EXPECT_EQ(NewestTraceSample(store, 0), 5.0f);
    EXPECT_EQ(store.TraceCursor, 1u);  // five samples in a ring of four

    TraceLane lane{100.0f, 51.0f, {1, 1, 1, 1}, "", 0.0f};  // bottom 49, scale (50/4.4)
    float points[8];
    ASSERT_EQ(FillTracePoints(store, 0, lane, points), 4u);
    // Newest (5) at the right end x = 520 - 1 + 3; oldest kept (2) at 519.
    EXPECT_EQ(points[0], 522.0f);
    EXPECT_NEAR(points[1], 49.0f + 50.0f / 4.4f * 4.0f, 1e-4f);
    EXPECT_EQ(points[6], 519.0f);
    EXPECT_NEAR(points[7], 49.0f + 50.0f / 4.4f * 1.0f, 1e-4f);

    ResetTraceStore(store);
    EXPECT_EQ(store.maxima[0], -10000000.0f);
    EXPECT_EQ(store.minima[0], 10000000.0f);
    EXPECT_EQ(NewestTraceSample(store, 0), 0.0f);
    ReleaseTraceStore(store);
}

TEST(SceneText, HudLines) {
    HudLines hud = BuildHudLines(false, false, 4096, 123456, 1000, 1.0f, 0.5f, 49.5f, 48.25f, 1.234);
    ASSERT_EQ(hud.count, 3);
    EXPECT_STREQ(hud.lines[1].text, "Simulation time: 500.0 ms (Real time factor: 1.000x recent, 0.500x avg.)");
    // Paused: the recent factor of the last running frames is not shown.
    hud = BuildHudLines(false, true, 4096, 123456, 1000, 1.0f, 0.5f, 49.5f, 48.25f, 1.234);
    EXPECT_STREQ(hud.lines[1].text, "Simulation time: 500.0 ms (Real time factor: paused, 0.500x avg.)");
    // Capture: the product line first, no speeds.
    hud = BuildHudLines(true, true, 4096, 123456, 3, 1.0f, 0.5f, 49.5f, 48.25f, 1.234);
    ASSERT_EQ(hud.count, 3);
    EXPECT_STREQ(hud.lines[0].text, "Vellicor v0.40");
    EXPECT_STREQ(hud.lines[2].text, "Simulation time: 1.5 ms");
    EXPECT_FLOAT_EQ(AdvanceAutoRotation(10.0f), 10.2f);
    EXPECT_NEAR(AdvanceAutoRotation(359.9f), 0.1f, 1e-3f);
}

TEST(SceneText, HudTagsStayClearOfTheLines) {
    const HudTags none = BuildHudTags({false, false, false, false});
    EXPECT_EQ(none.count, 0);
    const HudTags all = BuildHudTags({true, true, true, true});
    ASSERT_EQ(all.count, 4);
    EXPECT_STREQ(all.text[0], "PAUSED");
    EXPECT_STREQ(all.text[3], "CAPTURE");
    EXPECT_STREQ(BuildHudTags({false, false, true, false}).text[0], "REC");

    // Lines as drawn at 9 pixels per character; tags with 4 pixels of padding.
    const float lines[3] = {33 * 9.0f, 73 * 9.0f, 58 * 9.0f};
    const float tags[4] = {6 * 9 + 8.0f, 8 * 9 + 8.0f, 3 * 9 + 8.0f, 7 * 9 + 8.0f};
    const float gap = 12.0f;
    auto clear = [&](const HudPlacement& p, int tagCount, float width) {
        for (int i = 0; i < tagCount; ++i) {
            if (i > 0) EXPECT_GE(p.tagX[i], p.tagX[i - 1] + tags[i - 1] + gap - 0.01f);
            if (p.tagRow < 3) EXPECT_GE(p.tagX[i], 8.0f + lines[p.tagRow] + gap);
            EXPECT_GE(p.tagX[i], 8.0f);
        }
        if (p.tagRow < 3) EXPECT_LE(p.tagX[tagCount - 1] + tags[tagCount - 1], width - 8.0f + 0.01f);
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
    // One tag fits beside the first line there.
    p = PlaceHudTags(lines, 3, tags, 1, 560.0f, gap);
    EXPECT_EQ(p.tagRow, 0);
    clear(p, 1, 560.0f);
    // Too narrow even for their own row: they start at the left margin.
    p = PlaceHudTags(lines, 3, tags, 4, 200.0f, gap);
    EXPECT_FLOAT_EQ(p.tagX[0], 8.0f);
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
    EXPECT_FLOAT_EQ(PickerPlaneZ(0, 16.0f), -15.0f);
    EXPECT_FLOAT_EQ(PickerPlaneZ(15, 16.0f), 15.0f);

    // Resting cells are dark red (excitatory) or dark blue; active ones grey.
    Rgba c = PickerCellColour(-70.0f, true);
    EXPECT_FLOAT_EQ(c.r, 0.15f);
    EXPECT_FLOAT_EQ(c.b, 0.0f);
    c = PickerCellColour(-70.0f, false);
    EXPECT_FLOAT_EQ(c.b, 0.15f);
    c = PickerCellColour(0.0f, true);
    EXPECT_FLOAT_EQ(c.r, 0.5f);
    c = PickerCellColour(60.0f, false);
    EXPECT_FLOAT_EQ(c.g, 1.0f);

    EXPECT_EQ(PotentialPaletteIndex(-80.0f), 0u);
    EXPECT_EQ(PotentialPaletteIndex(-100.0f), 0u);
    EXPECT_EQ(PotentialPaletteIndex(-40.0f), 256u);
    EXPECT_EQ(PotentialPaletteIndex(0.0f), 511u);
    // Delay line of 4 at index 2: segments read entries 0, 1, 2, 3.
    EXPECT_EQ(AxonDelayEntry(2, 0, 4), 0u);
    EXPECT_EQ(AxonDelayEntry(2, 1, 4), 1u);
    EXPECT_EQ(AxonDelayEntry(2, 3, 4), 3u);
    EXPECT_EQ(AxonDelayEntry(0, 0, 4), 2u);
    EXPECT_EQ(AxonDelayEntry(0, 0, 1), 0u);
}
