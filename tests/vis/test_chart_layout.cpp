// Chart layout: the panels in their area, the spectrum and history lines, the
// weight bars, and labels that neither overlap one another nor leave the charts at
// any window size (measured with the chart font's real metrics).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/activity.h"
#include "vis/chart_layout.h"
#include "vis/text.h"
#include "vis/text_layout.h"
#include "placed_text.h"

namespace {

constexpr float kTol = 1e-3f;

const GlyphMetrics* Mono() {
    static OutlineFont font = [] {
        OutlineFont f = FontMonoSmall;
        EXPECT_TRUE(LoadOutlineFontMetrics(f));
        return f;
    }();
    return font.metrics;
}

// Every text the charts draw for a spectrum with close peaks and bars of all sizes.
std::vector<Placed> ChartTexts(const ChartLayout& l, bool waiting) {
    const GlyphMetrics* m = Mono();
    const ChartLabels c = LayoutChartLabels(l, m);
    std::vector<Placed> out;
    auto add = [&](const char* text, float scale, float x, float y) {
        out.push_back({text, TextInkBox(m, scale, x, y, text)});
    };
    for (int b = 0; b < kChartBands; ++b) add(ChartBands[b].name, c.bandScale, c.bandNameX[b], BandNameY(l, c, b));
    for (int i = 0; i < 4; ++i) {
        if (!c.frequencyShown[i]) continue;
        add(ChartFrequencyLabels[i], c.frequencyScale, c.frequencyLabelX[i], l.frequencyLabelYLow);
        add(ChartFrequencyLabels[i], c.frequencyScale, c.frequencyLabelX[i], l.frequencyLabelYHigh);
    }
    add(kWeightTitle, c.titleScale, c.weightTitleX, l.weightTitleY);
    add(kHistoryTitle, c.titleScale, c.historyTitleX, l.historyTitleY);
    if (waiting) {
        add(kWaitingLine1, c.waitingScale, c.waitingX[0], c.waitingY);
        add(kWaitingLine2, c.waitingScale, c.waitingX[1], c.waitingY - c.waitingScale);
        return out;
    }
    // Peaks two bins apart (22.5 Hz next to 29.3 Hz and the like), some tall.
    std::vector<float> power(kBinCount, 0.05f), xy(2 * kBinCount);
    std::vector<uint8_t> flags(kBinCount, 0);
    for (uint32_t k : {8u, 10u, 12u, 23u, 25u, 30u, 60u, 62u, 100u}) {
        flags[k] = 1;
        power[k] = k % 4 == 0 ? 1.0f : 0.6f;
    }
    SpectrumVertices(l, power.data(), kBinCount, 1.0f, xy.data());
    PeakLabel peaks[kMaxPeakLabels];
    const int n = PlacePeakLabels(l, c, m, xy.data(), flags.data(), kBinCount, 0.9765625f, peaks);
    for (int i = 0; i < n; ++i) {
        if (!peaks[i].shown) continue;
        out.push_back({peaks[i].text, TextInkBox(m, 14.0f, peaks[i].x, peaks[i].y, peaks[i].text)});
    }
    // The tallest peak, next to the band names, keeps its label.
    EXPECT_TRUE(peaks[0].shown) << l.W << "x" << l.H << " " << peaks[0].text;
    if (!l.barsShown) return out;
    const FontExtent e = PrintableExtent(m);
    const uint32_t histogram[kChartWeightBins] = {1, 30, 1000, 600, 12, 3, 0, 0, 2, 999};
    WeightBar bars[kChartWeightBins];
    ComputeWeightBars(l, histogram, 2647, e.ascent * c.percentScale, e.descent * c.percentScale, bars);
    char text[16];
    for (int i = 0; i < kChartWeightBins; ++i) {
        if (i % c.binLabelStride == 0) {
            BinLabelText(i, text, sizeof text);
            add(text, c.binLabelScale, bars[i].centre - 0.5f * TextAdvance(m, c.binLabelScale, text), l.barLabelY);
            out.back().text = text;
        }
        if (bars[i].percentShown) {
            PercentText(bars[i].percent, text, sizeof text);
            const float x = bars[i].centre - 0.5f * TextAdvance(m, c.percentScale, text);
            out.push_back({text, TextInkBox(m, c.percentScale, x, bars[i].percentY, text)});
        }
    }
    return out;
}

TEST(ChartLayout, PanelsStackInTheirArea) {
    // Spectrum above weights above history, filling the area between the lower strip
    // and the HUD; the bands divide the plot's width.
    const ChartArea area = ChartAreaBetween(768, 262.0f, 700.0f);
    EXPECT_FLOAT_EQ(area.bottom, 262.0f);
    EXPECT_LE(area.top, 700.0f);
    const ChartLayout n = ComputeChartLayout(1024, 768, area);
    EXPECT_FLOAT_EQ(n.historyPanel.y0, area.bottom);
    EXPECT_NEAR(n.spectrumPanel.y1, area.top, kTol);
    EXPECT_LT(n.weightPanel.y1, n.spectrumPanel.y0);
    EXPECT_LT(n.historyPanel.y1, n.weightPanel.y0);
    EXPECT_GT(n.barMaxHeight, 10.0f);
    for (int b = 0; b < kChartBands; ++b) EXPECT_LT(n.bandEdge[b], n.bandEdge[b + 1]) << b;
    EXPECT_FLOAT_EQ(n.bandEdge[kChartBands], n.plot.x1);
}

TEST(ChartLayout, NoTextOverlapsAnotherOrLeavesTheCharts) {
    const int sizes[][2] = {{640, 480}, {800, 600}, {1024, 768}, {1280, 720}, {1366, 768},
                            {1920, 1080}, {2560, 1440}, {700, 1000}, {1600, 560}};
    for (const auto& size : sizes) {
        const int W = size[0], H = size[1];
        // The scene's area: above the lower strip (H/3), below three HUD rows.
        const ChartArea area = ChartAreaBetween(H, H / 3.0f + 6.0f, H - 3.0f * 17.0f - 15.0f);
        const ChartLayout l = ComputeChartLayout(W, H, area);
        const TextBox charts{64.0f, area.bottom, static_cast<float>(W) - 64.0f, area.top};
        for (bool waiting : {false, true}) {
            ExpectApartAndInside(ChartTexts(l, waiting), charts, std::to_string(W) + "x" + std::to_string(H));
        }
    }
}

TEST(ChartLayout, AlphaPeakLabelStandsClearOfTheBandNames) {
    // At 640 x 480 the label of a tall alpha peak once sat 2 px under "Alpha" and
    // read as one with it.
    const GlyphMetrics* m = Mono();
    const ChartLayout l = ComputeChartLayout(640, 480, ChartAreaBetween(480, 166.0f, 414.0f));
    const ChartLabels c = LayoutChartLabels(l, m);
    for (uint32_t bin : {9u, 10u, 11u, 12u}) {  // 8.8 .. 11.7 Hz
        for (float height : {1.0f, 0.5f}) {
            std::vector<float> power(kBinCount, 0.05f), xy(2 * kBinCount);
            std::vector<uint8_t> flags(kBinCount, 0);
            flags[bin] = 1;
            power[bin] = height;
            SpectrumVertices(l, power.data(), kBinCount, 1.0f, xy.data());
            PeakLabel p[kMaxPeakLabels];
            ASSERT_EQ(PlacePeakLabels(l, c, m, xy.data(), flags.data(), kBinCount, kBinWidth, p), 1);
            ASSERT_TRUE(p[0].shown) << p[0].text;
            TextBox box = TextInkBox(m, 14.0f, p[0].x, p[0].y, p[0].text);
            box.y0 -= kPeakLabelAir;
            box.y1 += kPeakLabelAir;
            for (int b = 0; b < kChartBands; ++b)
                EXPECT_FALSE(BoxesOverlap(box, TextInkBox(m, c.bandScale, c.bandNameX[b], BandNameY(l, c, b),
                                                          ChartBands[b].name)))
                    << p[0].text << " " << height << " and " << ChartBands[b].name;
        }
    }
}

TEST(ChartLayout, BandNamesStandByTheirBands) {
    const GlyphMetrics* m = Mono();
    for (int W : {640, 800, 1024, 1920}) {
        const ChartLayout l = ComputeChartLayout(W, 768);
        const ChartLabels c = LayoutChartLabels(l, m);
        for (int b = 0; b < kChartBands; ++b) {
            // Over its own band (apart from the others: NoTextOverlapsAnotherOrLeavesTheCharts).
            const float w = TextAdvance(m, c.bandScale, ChartBands[b].name);
            EXPECT_LT(c.bandNameX[b], l.bandEdge[b + 1]) << W << " " << b;
            EXPECT_GT(c.bandNameX[b] + w, l.bandEdge[b]) << W << " " << b;
        }
    }
    // The default window keeps the designed size, Gamma centred on its wide band.
    const ChartLayout l = ComputeChartLayout(1024, 768);
    const ChartLabels c = LayoutChartLabels(l, m);
    EXPECT_FLOAT_EQ(c.bandScale, 16.0f);
    const float gamma = TextAdvance(m, 16.0f, ChartBands[3].name);
    EXPECT_NEAR(c.bandNameX[3] + 0.5f * gamma, 0.5f * (l.bandEdge[3] + l.bandEdge[4]), kTol);
}

TEST(ChartLayout, SpectrumLineStartsAtOriginAndPeaksAt80Percent) {
    EXPECT_FALSE(ChartSpectrumReady(2048));  // 1024 ms collected first
    EXPECT_TRUE(ChartSpectrumReady(2049));
    const ChartLayout l = ComputeChartLayout(1024, 768);
    std::vector<float> power(102, 0.0f);
    power[10] = 4.0f;  // the largest
    power[20] = 1.0f;
    std::vector<float> xy(2 * 102);
    SpectrumVertices(l, power.data(), 102, 4.0f, xy.data());
    EXPECT_FLOAT_EQ(xy[0], l.plot.x0);
    EXPECT_FLOAT_EQ(xy[1], l.plot.y0);
    EXPECT_NEAR(xy[21], l.plot.y0 + 0.8f * l.plotHeight, kTol);  // 80 % of the plot height
    EXPECT_NEAR(xy[2 * 101], l.plot.x0 + 101.0f * l.X / 102.0f, kTol);
}

TEST(ChartLayout, WeightBarsAndWhereTheirPercentagesGo) {
    const ChartLayout l = ComputeChartLayout(1024, 768);
    WeightBar bars[kChartWeightBins];
    {
        const uint32_t histogram[10] = {0, 10, 20, 40, 1, 0, 0, 0, 0, 29};
        ComputeWeightBars(l, histogram, 100, 10.0f, 3.0f, bars);
        EXPECT_FALSE(bars[0].drawn);
        EXPECT_NEAR(bars[3].top, l.barBase + l.barMaxHeight, kTol);  // the largest bin: full height
        EXPECT_NEAR(bars[1].percent, 10.0f, kTol);
        EXPECT_TRUE(bars[4].drawn);  // 1/40 = 0.025 is above 0.01
        // A tall bar holds its percentage; a short one carries it on top.
        EXPECT_GT(bars[3].percentY - 3.0f, l.barBase);
        EXPECT_LT(bars[3].percentY + 10.0f, bars[3].top);
        EXPECT_GE(bars[4].percentY - 3.0f, bars[4].top);
    }
    {
        // A bin at exactly 1 % of the largest is not drawn; nothing counted, nothing drawn.
        const uint32_t histogram[10] = {100, 1, 2, 0, 0, 0, 0, 0, 0, 0};
        ComputeWeightBars(l, histogram, 103, 10.0f, 3.0f, bars);
        EXPECT_FALSE(bars[1].drawn);
        EXPECT_TRUE(bars[2].drawn);
        const uint32_t none[10] = {};
        ComputeWeightBars(l, none, 0, 10.0f, 3.0f, bars);
        for (const WeightBar& b : bars) EXPECT_FALSE(b.drawn || b.percentShown);
    }
}

TEST(ChartLayout, HistorySampledBackwardsWithWrapAround) {
    // Sample 0 is the newest: just before the write position.
    EXPECT_EQ(HistorySampleIndex(5, 0, 2048), 4u);
    EXPECT_EQ(HistorySampleIndex(5, 5, 2048), 2047u);

    const ChartLayout l = ComputeChartLayout(1024, 768);
    std::vector<float> history(2048, 0.0f);
    history[2047] = 100.0f;
    history[2046] = 500.0f;
    std::vector<float> xy(512);
    HistoryVertices(l, history.data(), 2048, 1, 0.001f, xy.data());
    // Position 1: samples run 0, 2047, 2046, ...
    const float height = l.historyPanel.y1 - l.historyPanel.y0;
    EXPECT_NEAR(xy[1], l.historyPanel.y0, kTol);                   // a silent step: the bottom
    EXPECT_NEAR(xy[3], l.historyPanel.y0 + 0.5f * height, kTol);   // 100 of 1000: half height
    EXPECT_NEAR(xy[5], l.historyPanel.y1, kTol);                   // 500 of 1000: clipped at the top
}

}  // namespace
