// Layout of the analysis charts as plain numbers: panels, bands, labels, the
// spectrum and history line vertices and the weight bars. No GL: the drawing code
// and the tests both call these.
//
// Sections:
//   1. Panel and label layout
//   2. Spectrum line
//   3. Weight bars
//   4. Spiking history line
#pragma once

#include <cstdint>

// ---- 1. Panel and label layout -----------------------------------------------------------------
struct ChartRect {
    float x0, x1, y0, y1;
};

inline constexpr int kChartBands = 4;
inline constexpr uint32_t kChartHistorySamples = 256;
// The spectrum and bars appear once more than this many steps were simulated.
inline constexpr uint32_t kChartWaitSteps = 2048;

struct ChartLayout {
    float W, H;
    float X;                     // W - 184: width of the spectrum plot and of the band area
    ChartRect spectrumPanel;     // 64 .. W-64, 0.5 H .. 0.85 H
    ChartRect plot;              // 92 .. W-92, 0.5 H + 21 .. 0.85 H - 21 (band area)
    ChartRect weightPanel;       // 64 .. W-64, 0.325 H .. 0.5 H - 14
    ChartRect historyPanel;      // 64 .. W-64, 0.15 H .. 0.325 H - 14
    float bandEdge[kChartBands + 1];  // x of the band edges, 92 .. W-92
    float bandNameY;             // 0.85 H - 35
    float frequencyLabelX[4];    // "1 Hz", "12 Hz", "30 Hz", "100 Hz"
    float frequencyLabelYLow;    // 0.5 H + 7
    float frequencyLabelYHigh;   // 0.85 H - 15.72
    float titleX;                // W / 2
    float weightTitleY;          // 0.5 H - 30
    float historyTitleY;         // 0.325 H - 30
    float waitingY;              // 0.675 H + 8; the second line 16 below
    float plotHeight;            // 0.35 H - 42
    float barWidth;              // 0.1 (X - 126)
    bool barsShown;              // bar width above 1
    float barBase;               // 0.325 H + 14
    float barMaxHeight;          // 0.175 H - 56
    float barLabelY;             // 0.325 H + 4
};

struct ChartBandStyle {
    float r, g, b, a;
    const char* name;
};
extern const ChartBandStyle ChartBands[kChartBands];
extern const char* const ChartFrequencyLabels[4];

ChartLayout ComputeChartLayout(int32_t width, int32_t height);
// Left edge of a band name of the given text width: the band's left edge plus
// max(0, (band width - text width) / 2).
float BandNameX(const ChartLayout& layout, int band, float textWidth);
// Left edge of a waiting-message line of the given text width: 92 + (X - width) / 2.
float WaitingTextX(const ChartLayout& layout, float textWidth);
// Spectrum and bars are drawn from step 2049 on.
bool ChartSpectrumReady(uint32_t stepCounter);

// ---- 2. Spectrum line ---------------------------------------------------------------------------------
// binCount vertices (x, y) into xy[2 * binCount]: vertex 0 at the plot origin,
// vertex k at (92 + k dx, plot bottom + scale * power[k]), dx = X / binCount,
// scale = 0.8 * plotHeight / powerMax.
void SpectrumVertices(const ChartLayout& layout, const float* power, uint32_t binCount, float powerMax,
                      float* xy);
// Frequency of bin k: k * binWidth.
inline float BinFrequency(uint32_t k, float binWidth) { return static_cast<float>(k) * binWidth; }

// ---- 3. Weight bars --------------------------------------------------------------------------------
inline constexpr int kChartWeightBins = 10;
struct WeightBar {
    float left;         // 92 + i (w + 14)
    float centre;       // left + w / 2
    float relative;     // count / largest count (0 when every bin is 0)
    float top;          // base + relative * max height
    bool drawn;         // relative above 0.01
    bool percentShown;  // drawn and a total exists
    float percent;      // 100 * count / total
    float percentY;     // base - 7 + relative * max height / 2
    float labelValue;   // 0.1 (i + 1), shown as "~%.1f"
};
void ComputeWeightBars(const ChartLayout& layout, const uint32_t* histogram, uint32_t total,
                       WeightBar (&bars)[kChartWeightBins]);

// ---- 4. Spiking history line ---------------------------------------------------------------------------
// The history index of sample j (0 = newest): counting back from the write
// position `position` (the next write), wrapping from 0 to historyLength - 1.
uint32_t HistorySampleIndex(uint32_t position, uint32_t j, uint32_t historyLength);
// 256 vertices (x, y) into xy[512]: sample j at x = 64 + j (W - 128) / 256,
// y = 0.15 H + (0.175 H - 14) * min(1, 5 * count * invNeuronCount).
void HistoryVertices(const ChartLayout& layout, const float* history, uint32_t historyLength,
                     uint32_t position, float invNeuronCount, float* xy);
