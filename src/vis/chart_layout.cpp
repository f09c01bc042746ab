// Layout of the analysis charts.
//
// Sections: panel layout, labels, spectrum line and peak labels, weight bars,
// history line.
#include "vis/chart_layout.h"

#include <algorithm>
#include <cstdio>

#include "vis/text_layout.h"

// ---- 1. Panel layout ------------------------------------------------------------------------
namespace {
constexpr float kMinWeightPanel = 42.0f + 24.0f;
constexpr float kMinHistoryPanel = 36.0f;
}  // namespace

// The first band, 1 to 8 Hz, holds both the delta and the theta rhythm.
const ChartBandStyle ChartBands[kChartBands] = {
    {0.15f, 0.15f, 0.6f, 0.66f, "Delta, Theta"},
    {0.2f, 0.2f, 0.6f, 0.66f, "Alpha"},
    {0.25f, 0.25f, 0.6f, 0.66f, "Beta waves"},
    {0.3f, 0.3f, 0.6f, 0.66f, "Gamma waves"},
};
const char* const ChartFrequencyLabels[4] = {"1 Hz", "12 Hz", "30 Hz", "100 Hz"};

ChartArea ChartAreaBetween(int32_t height, float bottom, float top) {
    const float H = static_cast<float>(height);
    return {std::max(0.15f * H, bottom), std::min(0.85f * H, top)};
}

ChartLayout ComputeChartLayout(int32_t width, int32_t height, ChartArea area) {
    ChartLayout l{};
    const float W = static_cast<float>(width), H = static_cast<float>(height);
    const float b = area.bottom, h = std::max(0.0f, area.top - area.bottom);
    l.W = W;
    l.H = H;
    l.X = W - 184.0f;
    // Over the designed area (0.15 H .. 0.85 H): spectrum 0.5 H .. 0.85 H, weights
    // 0.325 H .. 0.5 H - 14, history 0.15 H .. 0.325 H - 14. In a low area the
    // weight panel keeps room for its labels, its title and bars of 24 pixels, and
    // the history for its title and a line; the spectrum gives up what they need.
    const float history = std::max(0.25f * h - 14.0f, kMinHistoryPanel);
    const float weights = std::max(0.25f * h - 14.0f, kMinWeightPanel);
    l.historyPanel = {64.0f, W - 64.0f, b, b + history};
    l.weightPanel = {64.0f, W - 64.0f, b + history + 14.0f, b + history + 14.0f + weights};
    l.spectrumPanel = {64.0f, W - 64.0f, l.weightPanel.y1 + 14.0f, std::max(b + h, l.weightPanel.y1 + 14.0f)};
    l.plot = {92.0f, W - 92.0f, l.spectrumPanel.y0 + 21.0f, l.spectrumPanel.y1 - 21.0f};
    // Band widths 0.08, 0.04, 0.18 of X; the last band runs to the plot's right edge.
    l.bandEdge[0] = 92.0f;
    l.bandEdge[1] = 92.0f + 0.08f * l.X;
    l.bandEdge[2] = 92.0f + 0.12f * l.X;
    l.bandEdge[3] = 92.0f + 0.30f * l.X;
    l.bandEdge[4] = W - 92.0f;
    l.bandNameY = l.spectrumPanel.y1 - 35.0f;
    l.frequencyLabelYLow = l.spectrumPanel.y0 + 7.0f;
    l.frequencyLabelYHigh = l.spectrumPanel.y1 - 15.72f;
    l.titleX = W / 2.0f;
    l.weightTitleY = l.weightPanel.y1 - 16.0f;
    l.historyTitleY = l.historyPanel.y1 - 16.0f;
    l.waitingY = 0.5f * (l.spectrumPanel.y0 + l.spectrumPanel.y1) + 8.0f;
    l.plotHeight = l.spectrumPanel.y1 - l.spectrumPanel.y0 - 42.0f;
    l.barWidth = 0.1f * (l.X - 126.0f);
    l.barsShown = l.barWidth > 1.0f;
    l.barBase = l.weightPanel.y0 + 14.0f;
    l.barMaxHeight = l.weightPanel.y1 - l.weightPanel.y0 - 42.0f;
    l.barLabelY = l.weightPanel.y0 + 4.0f;
    return l;
}

bool ChartSpectrumReady(uint32_t stepCounter) { return stepCounter > kChartWaitSteps; }

// ---- 2. Labels ------------------------------------------------------------------------------------
namespace {

constexpr float kLabelScale = 14.0f;
constexpr float kBandScale = 16.0f;

// Centres the labels on their anchors and spreads them along [low, high] with a
// gap of one character; false when they cannot all fit.
bool SpreadCentred(const GlyphMetrics* mono, float scale, const char* const* texts, const float* anchors,
                   int n, float low, float high, float* left) {
    float width[kChartBands + 1];
    for (int i = 0; i < n; ++i) {
        width[i] = TextAdvance(mono, scale, texts[i]);
        left[i] = anchors[i] - 0.5f * width[i];
    }
    return SpreadIntervals(left, width, n, low, high, TextAdvance(mono, scale, " "));
}

}  // namespace

float BandNameY(const ChartLayout& layout, const ChartLabels& labels, int band) {
    return layout.bandNameY - static_cast<float>(labels.bandRow[band]) * labels.bandScale;
}

void BinLabelText(int bin, char* out, int size) {
    std::snprintf(out, static_cast<size_t>(size), "~%.1f", 0.1 * (bin + 1));
}

void PercentText(float percent, char* out, int size) {
    std::snprintf(out, static_cast<size_t>(size), "%.1f%%", static_cast<double>(percent));
}

ChartLabels LayoutChartLabels(const ChartLayout& l, const GlyphMetrics* mono) {
    ChartLabels c{};
    const float space16 = TextAdvance(mono, kBandScale, " ");

    // Band names: each centred on its band; one that would come within two
    // characters of the name before it goes to a second row below, and what still
    // collides in a row is spread apart. Smaller when even that does not fit.
    float names = 3.0f * space16;
    for (const ChartBandStyle& band : ChartBands) names += TextAdvance(mono, kBandScale, band.name);
    c.bandScale = l.X > 0.0f ? std::min(kBandScale, kBandScale * l.X / names) : kBandScale;
    const float gap = 2.0f * TextAdvance(mono, c.bandScale, " ");
    float width[kChartBands];
    float rowEnd[2] = {-1.0e9f, -1.0e9f};
    for (int b = 0; b < kChartBands; ++b) {
        width[b] = TextAdvance(mono, c.bandScale, ChartBands[b].name);
        const float centre = 0.5f * (l.bandEdge[b] + l.bandEdge[b + 1]);
        c.bandNameX[b] = std::max(l.plot.x0, std::min(centre - 0.5f * width[b], l.plot.x1 - width[b]));
        c.bandRow[b] = c.bandNameX[b] < rowEnd[0] + gap && c.bandNameX[b] >= rowEnd[1] + gap ? 1 : 0;
        rowEnd[c.bandRow[b]] = c.bandNameX[b] + width[b];
    }
    for (int row = 0; row < 2; ++row) {
        float start[kChartBands], length[kChartBands];
        int index[kChartBands], n = 0;
        for (int b = 0; b < kChartBands; ++b) {
            if (c.bandRow[b] != row) continue;
            start[n] = c.bandNameX[b];
            length[n] = width[b];
            index[n++] = b;
        }
        SpreadIntervals(start, length, n, l.plot.x0, l.plot.x1, gap);
        for (int k = 0; k < n; ++k) c.bandNameX[index[k]] = start[k];
    }

    // Frequency labels at the band edges; a label pushed more than half its width off
    // its edge leaves out 12 Hz, then 30 Hz.
    c.frequencyScale = kLabelScale;
    const float edges[4] = {l.bandEdge[0], l.bandEdge[2], l.bandEdge[3], l.bandEdge[4]};
    for (int i = 0; i < 4; ++i) c.frequencyShown[i] = true;
    for (int dropped = 0; dropped <= 2; ++dropped) {
        const char* texts[4];
        float anchors[4], left[4];
        int index[4], n = 0;
        for (int i = 0; i < 4; ++i) {
            if (!c.frequencyShown[i]) continue;
            texts[n] = ChartFrequencyLabels[i];
            anchors[n] = edges[i];
            index[n++] = i;
        }
        bool fits = SpreadCentred(mono, c.frequencyScale, texts, anchors, n, l.spectrumPanel.x0 + 2.0f,
                                  l.spectrumPanel.x1 - 2.0f, left);
        for (int k = 0; k < n; ++k) {
            c.frequencyLabelX[index[k]] = left[k];
            const float w = TextAdvance(mono, c.frequencyScale, texts[k]);
            if (std::abs(left[k] + 0.5f * w - anchors[k]) > 0.5f * w) fits = false;
        }
        if (fits || dropped == 2) break;
        c.frequencyShown[dropped + 1] = false;
    }

    // Titles, centred over their panels.
    const float panelWidth = l.spectrumPanel.x1 - l.spectrumPanel.x0 - 16.0f;
    c.titleScale = std::min(ScaleToFit(mono, kLabelScale, kWeightTitle, panelWidth),
                            ScaleToFit(mono, kLabelScale, kHistoryTitle, panelWidth));
    c.weightTitleX = l.titleX - 0.5f * TextAdvance(mono, c.titleScale, kWeightTitle);
    c.historyTitleX = l.titleX - 0.5f * TextAdvance(mono, c.titleScale, kHistoryTitle);

    // Bin labels and percentages: no wider than a bar's pitch less a character.
    const float pitch = l.barWidth + 14.0f;
    const float space = TextAdvance(mono, kLabelScale, " ");
    c.binLabelScale = ScaleToFit(mono, kLabelScale, "~0.1", pitch - space);
    c.binLabelStride = 1;
    if (c.binLabelScale < 0.5f * kLabelScale) {
        c.binLabelStride = 2;
        c.binLabelScale = ScaleToFit(mono, kLabelScale, "~0.1", 2.0f * pitch - space);
    }
    c.percentScale = ScaleToFit(mono, kLabelScale, "100.0%", pitch - space);

    // The waiting message, centred over the plot, its two lines below the band
    // names and above the lower frequency labels (smaller when the plot is low).
    const FontExtent e = PrintableExtent(mono);
    bool secondRow = false;
    for (int b = 0; b < kChartBands; ++b) secondRow = secondRow || c.bandRow[b] == 1;
    const float ceiling = l.bandNameY - (secondRow ? c.bandScale : 0.0f) - e.descent * c.bandScale - 2.0f;
    const float floor = l.frequencyLabelYLow + e.ascent * c.frequencyScale + 2.0f;
    c.waitingScale = std::min(ScaleToFit(mono, kBandScale, kWaitingLine1, l.X),
                              ScaleToFit(mono, kBandScale, kWaitingLine2, l.X));
    // Two lines a scale apart: ink from the second's descent to the first's ascent.
    const float block = 1.0f + e.ascent + e.descent;
    if (block * c.waitingScale > ceiling - floor) c.waitingScale = std::max(0.0f, (ceiling - floor) / block);
    c.waitingY = std::min(l.waitingY, ceiling - e.ascent * c.waitingScale);
    c.waitingY = std::max(c.waitingY, floor + (1.0f + e.descent) * c.waitingScale);
    c.waitingX[0] = 92.0f + 0.5f * (l.X - TextAdvance(mono, c.waitingScale, kWaitingLine1));
    c.waitingX[1] = 92.0f + 0.5f * (l.X - TextAdvance(mono, c.waitingScale, kWaitingLine2));
    return c;
}

// ---- 3. Spectrum line and peak labels ---------------------------------------------------------------
void SpectrumVertices(const ChartLayout& layout, const float* power, uint32_t binCount, float powerMax,
                      float* xy) {
    if (binCount == 0) return;
    const float dx = layout.X / static_cast<float>(binCount);
    // powerMax is at least the smallest positive normal value (the analysis starts
    // it there), so the division is safe; guard anyway against a zeroed record.
    const float scale = powerMax > 0.0f ? 0.8f * layout.plotHeight / powerMax : 0.0f;
    const float x0 = layout.plot.x0, y0 = layout.plot.y0;
    xy[0] = x0;
    xy[1] = y0;
    for (uint32_t k = 1; k < binCount; ++k) {
        xy[2 * k] = x0 + static_cast<float>(k) * dx;
        xy[2 * k + 1] = y0 + scale * power[k];
    }
}

int PlacePeakLabels(const ChartLayout& l, const ChartLabels& c, const GlyphMetrics* mono, const float* xy,
                    const uint8_t* peakFlags, uint32_t binCount, float binWidth, PeakLabel* out) {
    // Fixed text near the top of the spectrum panel.
    TextBox taken[kMaxPeakLabels + kChartBands + 4];
    int takenCount = 0;
    for (int b = 0; b < kChartBands; ++b)
        taken[takenCount++] =
            TextInkBox(mono, c.bandScale, c.bandNameX[b], BandNameY(l, c, b), ChartBands[b].name);
    for (int i = 0; i < 4; ++i)
        if (c.frequencyShown[i])
            taken[takenCount++] = TextInkBox(mono, c.frequencyScale, c.frequencyLabelX[i], l.frequencyLabelYHigh,
                                             ChartFrequencyLabels[i]);

    int count = 0;
    for (uint32_t k = 1; k < binCount && count < kMaxPeakLabels; ++k) {
        if (!peakFlags[k]) continue;
        PeakLabel& p = out[count++];
        std::snprintf(p.text, sizeof p.text, "%.1f Hz", static_cast<double>(BinFrequency(k, binWidth)));
        p.shown = false;
        p.y = static_cast<float>(k);  // sort key below: the bin
    }
    // Taller peaks first.
    int order[kMaxPeakLabels];
    for (int i = 0; i < count; ++i) order[i] = i;
    auto pointY = [&](int i) { return xy[2 * static_cast<uint32_t>(out[i].y) + 1]; };
    auto pointX = [&](int i) { return xy[2 * static_cast<uint32_t>(out[i].y)]; };
    std::stable_sort(order, order + count, [&](int a, int b) { return pointY(a) > pointY(b); });
    float anchorX[kMaxPeakLabels], anchorY[kMaxPeakLabels];
    for (int i = 0; i < count; ++i) {
        anchorX[i] = pointX(i);
        anchorY[i] = pointY(i);
    }

    const FontExtent extent = PrintableExtent(mono);
    const float step = (extent.ascent + extent.descent) * kLabelScale + 1.0f;
    const float ceiling = l.spectrumPanel.y1 - 2.0f;  // ink stays inside the panel
    const float pad = 0.5f * TextAdvance(mono, kLabelScale, " ");
    for (int n = 0; n < count; ++n) {
        const int i = order[n];
        PeakLabel& p = out[i];
        const float w = TextAdvance(mono, kLabelScale, p.text);
        p.x = std::max(l.plot.x0, std::min(anchorX[i] - 0.5f * w, l.plot.x1 - w));
        auto tryAt = [&](float x, float y) {
            const TextBox box = TextInkBox(mono, kLabelScale, x, y, p.text);
            if (box.y1 > ceiling || box.x0 < l.plot.x0 || box.x1 > l.plot.x1) return false;
            // Air each side, so that no two texts read as one.
            const TextBox padded{box.x0 - pad, box.y0 - kPeakLabelAir, box.x1 + pad, box.y1 + kPeakLabelAir};
            for (int t = 0; t < takenCount; ++t)
                if (BoxesOverlap(padded, taken[t])) return false;
            p.x = x;
            p.y = y;
            p.shown = true;
            taken[takenCount++] = box;
            return true;
        };
        // Above the point, then higher a line at a time; else beside it, right or left.
        const float centred = p.x;
        bool placed = false;
        for (float y = anchorY[i] + 8.4f; !placed && y + extent.ascent * kLabelScale <= ceiling; y += step)
            placed = tryAt(centred, y);
        // Beside the point (right, then left), then lower down its flanks.
        const float floor = l.plot.y0 + extent.descent * kLabelScale;
        // The last try sits on the plot's floor, whatever the steps left between.
        for (float y = anchorY[i] - 0.5f * (extent.ascent - extent.descent) * kLabelScale; !placed; y -= step) {
            const float at = std::max(y, floor);
            placed = tryAt(anchorX[i] + 6.0f, at) || tryAt(anchorX[i] - 6.0f - w, at);
            if (at == floor) break;
        }
    }
    return count;
}

// ---- 4. Weight bars ------------------------------------------------------------------------------------
void ComputeWeightBars(const ChartLayout& layout, const uint32_t* histogram, uint32_t total,
                       float percentAscent, float percentDescent, WeightBar (&bars)[kChartWeightBins]) {
    uint32_t largest = 0;
    for (int i = 0; i < kChartWeightBins; ++i) largest = std::max(largest, histogram[i]);
    const float w = layout.barWidth;
    for (int i = 0; i < kChartWeightBins; ++i) {
        WeightBar& bar = bars[i];
        bar.left = 92.0f + static_cast<float>(i) * (w + 14.0f);
        bar.centre = bar.left + w / 2.0f;
        bar.relative = largest > 0 ? static_cast<float>(histogram[i]) / static_cast<float>(largest) : 0.0f;
        bar.top = layout.barBase + bar.relative * layout.barMaxHeight;
        bar.drawn = bar.relative > 0.01f;
        bar.percentShown = bar.drawn && total != 0;
        bar.percent = total != 0 ? 100.0f * static_cast<float>(histogram[i]) / static_cast<float>(total) : 0.0f;
        // In the middle of a bar that holds it with 2 pixels to spare, else on top of
        // the bar, clear of the bin labels below.
        const float height = bar.top - layout.barBase;
        if (height >= percentAscent + percentDescent + 4.0f)
            bar.percentY = layout.barBase + 0.5f * (height - percentAscent + percentDescent);
        else
            bar.percentY = bar.top + 2.0f + percentDescent;
        bar.labelValue = 0.1f * static_cast<float>(i + 1);
    }
}

// ---- 5. Spiking history line ----------------------------------------------------------------------------
uint32_t HistorySampleIndex(uint32_t position, uint32_t j, uint32_t historyLength) {
    // The newest sample sits just before the write position.
    const uint32_t back = (j % historyLength) + 1;
    return (position % historyLength + historyLength - back) % historyLength;
}

void HistoryVertices(const ChartLayout& layout, const float* history, uint32_t historyLength,
                     uint32_t position, float invNeuronCount, float* xy) {
    const float step = (layout.W - 128.0f) / static_cast<float>(kChartHistorySamples);
    const float base = layout.historyPanel.y0;
    const float height = layout.historyPanel.y1 - layout.historyPanel.y0;
    for (uint32_t j = 0; j < kChartHistorySamples; ++j) {
        const float count = history[HistorySampleIndex(position, j, historyLength)];
        xy[2 * j] = 64.0f + static_cast<float>(j) * step;
        xy[2 * j + 1] = base + height * std::min(1.0f, 5.0f * count * invNeuronCount);
    }
}
