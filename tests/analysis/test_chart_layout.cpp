// Chart layout numbers: panels and labels for 1024 x 768 and the narrow window,
// spectrum vertices, weight bars, and the history line sampled backwards.
#include <gtest/gtest.h>

#include <vector>

#include "analysis/chart_layout.h"

namespace {

constexpr float kTol = 1e-3f;

TEST(ChartLayout, PanelsBandsAndLabelsFor1024x768) {
    const ChartLayout l = ComputeChartLayout(1024, 768);
    EXPECT_NEAR(l.X, 840.0f, kTol);
    // Panels.
    EXPECT_NEAR(l.spectrumPanel.x0, 64.0f, kTol);
    EXPECT_NEAR(l.spectrumPanel.x1, 960.0f, kTol);
    EXPECT_NEAR(l.spectrumPanel.y0, 384.0f, kTol);
    EXPECT_NEAR(l.spectrumPanel.y1, 652.8f, kTol);
    EXPECT_NEAR(l.plot.x0, 92.0f, kTol);
    EXPECT_NEAR(l.plot.x1, 932.0f, kTol);
    EXPECT_NEAR(l.plot.y0, 405.0f, kTol);
    EXPECT_NEAR(l.plot.y1, 631.8f, kTol);
    EXPECT_NEAR(l.weightPanel.y0, 249.6f, kTol);
    EXPECT_NEAR(l.weightPanel.y1, 370.0f, kTol);
    EXPECT_NEAR(l.historyPanel.y0, 115.2f, kTol);
    EXPECT_NEAR(l.historyPanel.y1, 235.6f, kTol);
    // Bands: 67.2, 33.6, 151.2 and 588 pixels wide.
    EXPECT_NEAR(l.bandEdge[1], 159.2f, kTol);
    EXPECT_NEAR(l.bandEdge[2], 192.8f, kTol);
    EXPECT_NEAR(l.bandEdge[3], 344.0f, kTol);
    EXPECT_NEAR(l.bandEdge[4], 932.0f, kTol);
    // Frequency labels skip the Delta/Alpha edge.
    EXPECT_NEAR(l.frequencyLabelX[0], 92.0f, kTol);
    EXPECT_NEAR(l.frequencyLabelX[1], 192.8f, kTol);
    EXPECT_NEAR(l.frequencyLabelX[2], 344.0f, kTol);
    EXPECT_NEAR(l.frequencyLabelX[3], 932.0f, kTol);
    EXPECT_NEAR(l.frequencyLabelYLow, 391.0f, kTol);
    EXPECT_NEAR(l.frequencyLabelYHigh, 637.08f, kTol);
    EXPECT_NEAR(l.bandNameY, 617.8f, kTol);
    // Titles and the waiting message.
    EXPECT_NEAR(l.titleX, 512.0f, kTol);
    EXPECT_NEAR(l.weightTitleY, 354.0f, kTol);
    EXPECT_NEAR(l.historyTitleY, 219.6f, kTol);
    EXPECT_NEAR(l.waitingY, 526.4f, kTol);
    EXPECT_NEAR(WaitingTextX(l, 440.0f), 292.0f, kTol);
    // Band names: centred when they fit, at the band's left edge when wider.
    EXPECT_NEAR(BandNameX(l, 0, 40.0f), 92.0f + 13.6f, kTol);
    EXPECT_NEAR(BandNameX(l, 1, 50.0f), 159.2f, kTol);
    // Plot and bars.
    EXPECT_NEAR(l.plotHeight, 226.8f, kTol);
    EXPECT_NEAR(l.barWidth, 71.4f, kTol);
    EXPECT_TRUE(l.barsShown);
    EXPECT_NEAR(l.barBase, 263.6f, kTol);
    EXPECT_NEAR(l.barMaxHeight, 78.4f, kTol);
    EXPECT_NEAR(l.barLabelY, 253.6f, kTol);
}

TEST(ChartLayout, BarsNeedAWindowWiderThan320Pixels) {
    EXPECT_FALSE(ComputeChartLayout(320, 768).barsShown);  // w = 1.0 exactly
    EXPECT_FALSE(ComputeChartLayout(200, 768).barsShown);
    EXPECT_TRUE(ComputeChartLayout(322, 768).barsShown);   // w = 1.2
}

TEST(ChartLayout, SpectrumAndBarsFromStep2049) {
    EXPECT_FALSE(ChartSpectrumReady(0));
    EXPECT_FALSE(ChartSpectrumReady(2048));
    EXPECT_TRUE(ChartSpectrumReady(2049));
}

TEST(ChartLayout, SpectrumLineStartsAtOriginAndPeaksAt80Percent) {
    const ChartLayout l = ComputeChartLayout(1024, 768);
    std::vector<float> power(102, 0.0f);
    power[10] = 4.0f;  // the largest
    power[20] = 1.0f;
    std::vector<float> xy(2 * 102);
    SpectrumVertices(l, power.data(), 102, 4.0f, xy.data());
    EXPECT_FLOAT_EQ(xy[0], 92.0f);
    EXPECT_FLOAT_EQ(xy[1], 405.0f);
    EXPECT_NEAR(xy[20], 92.0f + 10.0f * 840.0f / 102.0f, kTol);
    EXPECT_NEAR(xy[21], 405.0f + 0.8f * 226.8f, kTol);         // 80 % of the plot height
    EXPECT_NEAR(xy[41], 405.0f + 0.2f * 226.8f, kTol);         // a quarter of the peak
    EXPECT_NEAR(xy[2 * 101], 92.0f + 101.0f * 840.0f / 102.0f, kTol);
    EXPECT_NEAR(xy[2 * 101 + 1], 405.0f, kTol);
    EXPECT_NEAR(BinFrequency(10, 0.9765625f), 9.765625f, 1e-6f);
}

TEST(ChartLayout, WeightBarHeightsAndPercentages) {
    const ChartLayout l = ComputeChartLayout(1024, 768);
    WeightBar bars[kChartWeightBins];
    {
        const uint32_t histogram[10] = {0, 10, 20, 40, 1, 0, 0, 0, 0, 29};
        ComputeWeightBars(l, histogram, 100, bars);
        EXPECT_FALSE(bars[0].drawn);
        EXPECT_TRUE(bars[3].drawn);
        EXPECT_NEAR(bars[3].top, 263.6f + 78.4f, kTol);  // the largest bin: full height
        EXPECT_NEAR(bars[1].top, 263.6f + 0.25f * 78.4f, kTol);
        EXPECT_NEAR(bars[1].percent, 10.0f, kTol);
        EXPECT_NEAR(bars[9].percent, 29.0f, kTol);
        EXPECT_NEAR(bars[3].percentY, 263.6f - 7.0f + 39.2f, kTol);
        EXPECT_TRUE(bars[4].drawn);  // 1/40 = 0.025 is above 0.01
        EXPECT_NEAR(bars[2].left, 92.0f + 2.0f * (71.4f + 14.0f), kTol);
        EXPECT_NEAR(bars[2].centre, bars[2].left + 35.7f, kTol);
        EXPECT_NEAR(bars[9].labelValue, 1.0f, 1e-6f);
    }
    {
        // One bin holds everything: one full bar reading 100 %.
        const uint32_t histogram[10] = {0, 0, 0, 0, 0, 0, 0, 500, 0, 0};
        ComputeWeightBars(l, histogram, 500, bars);
        int drawn = 0;
        for (const WeightBar& b : bars) drawn += b.drawn ? 1 : 0;
        EXPECT_EQ(drawn, 1);
        EXPECT_NEAR(bars[7].percent, 100.0f, kTol);
        EXPECT_NEAR(bars[7].top - l.barBase, 78.4f, kTol);
    }
    {
        // A bin at exactly 1 % of the largest is not drawn (strictly above 0.01).
        const uint32_t histogram[10] = {100, 1, 2, 0, 0, 0, 0, 0, 0, 0};
        ComputeWeightBars(l, histogram, 103, bars);
        EXPECT_FALSE(bars[1].drawn);
        EXPECT_FALSE(bars[1].percentShown);
        EXPECT_TRUE(bars[2].drawn);
    }
    {
        // Nothing counted: no bar and no percentage.
        const uint32_t histogram[10] = {};
        ComputeWeightBars(l, histogram, 0, bars);
        for (const WeightBar& b : bars) {
            EXPECT_FALSE(b.drawn);
            EXPECT_FALSE(b.percentShown);
        }
    }
}

TEST(ChartLayout, HistorySampledBackwardsWithWrapAround) {
    // Sample 0 is the newest: just before the write position.
    EXPECT_EQ(HistorySampleIndex(5, 0, 2048), 4u);
    EXPECT_EQ(HistorySampleIndex(5, 4, 2048), 0u);
    EXPECT_EQ(HistorySampleIndex(5, 5, 2048), 2047u);
    EXPECT_EQ(HistorySampleIndex(0, 0, 2048), 2047u);
    EXPECT_EQ(HistorySampleIndex(0, 255, 2048), 1792u);

    const ChartLayout l = ComputeChartLayout(1024, 768);
    std::vector<float> history(2048, 0.0f);
    history[2047] = 100.0f;
    history[2046] = 500.0f;
    history[0] = 50.0f;
    std::vector<float> xy(512);
    HistoryVertices(l, history.data(), 2048, 1, 0.001f, xy.data());
    // Position 1: samples run 0, 2047, 2046, ...
    EXPECT_NEAR(xy[0], 64.0f, kTol);
    EXPECT_NEAR(xy[1], 115.2f + 120.4f * 0.25f, kTol);  // 50 of 1000 neurons: 5 * 0.05
    EXPECT_NEAR(xy[2], 64.0f + 3.5f, kTol);
    EXPECT_NEAR(xy[3], 115.2f + 120.4f * 0.5f, kTol);   // 100 of 1000: half height
    EXPECT_NEAR(xy[5], 235.6f, kTol);                   // 500 of 1000: clipped at the top
    EXPECT_NEAR(xy[7], 115.2f, kTol);                   // silent step: the bottom
    EXPECT_NEAR(xy[510], 64.0f + 255.0f * 3.5f, kTol);
}

}  // namespace
