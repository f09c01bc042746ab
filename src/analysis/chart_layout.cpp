// Layout of the analysis charts.
//
// Sections: panel and label layout, spectrum line, weight bars, history line.
#include "analysis/chart_layout.h"

#include <algorithm>

// ---- Panel and label layout ----------------------------------------------------------------------
const ChartBandStyle ChartBands[kChartBands] = {
    {0.15f, 0.15f, 0.6f, 0.66f, "Delta"},
    {0.2f, 0.2f, 0.6f, 0.66f, "Alpha"},
    {0.25f, 0.25f, 0.6f, 0.66f, "Beta waves"},
    {0.3f, 0.3f, 0.6f, 0.66f, "Gamma waves"},
};
const char* const ChartFrequencyLabels[4] = {"1 Hz", "12 Hz", "30 Hz", "100 Hz"};

ChartLayout ComputeChartLayout(int32_t width, int32_t height) {
    ChartLayout l{};
    const float W = static_cast<float>(width), H = static_cast<float>(height);
    l.W = W;
    l.H = H;
    l.X = W - 184.0f;
    l.spectrumPanel = {64.0f, W - 64.0f, 0.5f * H, 0.85f * H};
    l.plot = {92.0f, W - 92.0f, 0.5f * H + 21.0f, 0.85f * H - 21.0f};
    l.weightPanel = {64.0f, W - 64.0f, 0.325f * H, 0.5f * H - 14.0f};
    l.historyPanel = {64.0f, W - 64.0f, 0.15f * H, 0.325f * H - 14.0f};
    // Band widths 0.08, 0.04, 0.18 of X; the last band runs to the plot's right edge.
    l.bandEdge[0] = 92.0f;
    l.bandEdge[1] = 92.0f + 0.08f * l.X;
    l.bandEdge[2] = 92.0f + 0.12f * l.X;
    l.bandEdge[3] = 92.0f + 0.30f * l.X;
    l.bandEdge[4] = W - 92.0f;
    l.bandNameY = 0.85f * H - 35.0f;
    // Labels at every band edge but the Delta/Alpha one.
    l.frequencyLabelX[0] = l.bandEdge[0];
    l.frequencyLabelX[1] = l.bandEdge[2];
    l.frequencyLabelX[2] = l.bandEdge[3];
    l.frequencyLabelX[3] = l.bandEdge[4];
    l.frequencyLabelYLow = 0.5f * H + 7.0f;
    l.frequencyLabelYHigh = 0.85f * H - 15.72f;
    l.titleX = W / 2.0f;
    l.weightTitleY = 0.5f * H - 30.0f;
    l.historyTitleY = 0.325f * H - 30.0f;
    l.waitingY = 0.675f * H + 8.0f;
    l.plotHeight = 0.35f * H - 42.0f;
    l.barWidth = 0.1f * (l.X - 126.0f);
    l.barsShown = l.barWidth > 1.0f;
    l.barBase = 0.325f * H + 14.0f;
    l.barMaxHeight = 0.175f * H - 56.0f;
    l.barLabelY = 0.325f * H + 4.0f;
    return l;
}

float BandNameX(const ChartLayout& layout, int band, float textWidth) {
    const float bandWidth = layout.bandEdge[band + 1] - layout.bandEdge[band];
    return layout.bandEdge[band] + std::max(0.0f, (bandWidth - textWidth) / 2.0f);
}

float WaitingTextX(const ChartLayout& layout, float textWidth) {
    return 92.0f + (layout.X - textWidth) / 2.0f;
}

bool ChartSpectrumReady(uint32_t stepCounter) { return stepCounter > kChartWaitSteps; }

// ---- Spectrum line ------------------------------------------------------------------------------------
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

// ---- Weight bars ----------------------------------------------------------------------------------
void ComputeWeightBars(const ChartLayout& layout, const uint32_t* histogram, uint32_t total,
                       WeightBar (&bars)[kChartWeightBins]) {
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
        bar.percentY = layout.barBase - 7.0f + bar.relative * layout.barMaxHeight / 2.0f;
        bar.labelValue = 0.1f * static_cast<float>(i + 1);
    }
}

// ---- Spiking history line ----------------------------------------------------------------------------
uint32_t HistorySampleIndex(uint32_t position, uint32_t j, uint32_t historyLength) {
    // The newest sample sits just before the write position.
    const uint32_t back = (j % historyLength) + 1;
    return (position % historyLength + historyLength - back) % historyLength;
}

void HistoryVertices(const ChartLayout& layout, const float* history, uint32_t historyLength,
                     uint32_t position, float invNeuronCount, float* xy) {
    const float step = (layout.W - 128.0f) / static_cast<float>(kChartHistorySamples);
    const float base = 0.15f * layout.H;
    const float height = 0.175f * layout.H - 14.0f;
    for (uint32_t j = 0; j < kChartHistorySamples; ++j) {
        const float count = history[HistorySampleIndex(position, j, historyLength)];
        xy[2 * j] = 64.0f + static_cast<float>(j) * step;
        xy[2 * j + 1] = base + height * std::min(1.0f, 5.0f * count * invNeuronCount);
    }
}
