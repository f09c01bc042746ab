// Layout of the analysis charts as plain numbers: panels, bands, the spectrum and
// history line vertices, the weight bars, and where every label goes so that none
// runs into another. No GL: the drawing code and the tests both call these.
//
// The three charts are stacked in a vertical area of the window: 0.15 H .. 0.85 H
// as designed, or the part of it left free by the lower strip and the HUD (the
// charts cover neither the picker nor the traces). Within the area the spectrum
// takes the upper half, the weight distribution and the history a quarter each.
//
// Sections:
//   1. Panel layout
//   2. Labels
//   3. Spectrum line and peak labels
//   4. Weight bars
//   5. Spiking history line
#pragma once

#include <cstdint>

#include "vis/layout.h"

// ---- 1. Panel layout --------------------------------------------------------------------------
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
    ChartRect spectrumPanel;     // 64 .. W-64, the upper half of the area
    ChartRect plot;              // 92 .. W-92, the spectrum panel less 21 above and below
    ChartRect weightPanel;       // 64 .. W-64, the next quarter less a 14 gap
    ChartRect historyPanel;      // 64 .. W-64, the lowest quarter less a 14 gap
    float bandEdge[kChartBands + 1];  // x of the band edges, 92 .. W-92
    float bandNameY;             // spectrum top - 35
    float frequencyLabelYLow;    // spectrum bottom + 7
    float frequencyLabelYHigh;   // spectrum top - 15.72
    float titleX;                // W / 2
    float weightTitleY;          // weight panel top - 16
    float historyTitleY;         // history panel top - 16
    float waitingY;              // spectrum middle + 8, as designed (ChartLabels has the one drawn)
    float plotHeight;            // spectrum panel height - 42
    float barWidth;              // 0.1 (X - 126)
    bool barsShown;              // bar width above 1
    float barBase;               // weight panel bottom + 14
    float barMaxHeight;          // weight panel height - 42
    float barLabelY;             // weight panel bottom + 4
};

struct ChartBandStyle {
    float r, g, b, a;
    const char* name;
};
extern const ChartBandStyle ChartBands[kChartBands];
extern const char* const ChartFrequencyLabels[4];

// The area for the charts: the designed 0.15 H .. 0.85 H, narrowed to [bottom, top].
struct ChartArea {
    float bottom, top;
};
ChartArea ChartAreaBetween(int32_t height, float bottom, float top);
ChartLayout ComputeChartLayout(int32_t width, int32_t height, ChartArea area);
inline ChartLayout ComputeChartLayout(int32_t width, int32_t height) {
    return ComputeChartLayout(width, height, ChartAreaBetween(height, 0.0f, static_cast<float>(height)));
}
// Spectrum and bars are drawn from step 2049 on.
bool ChartSpectrumReady(uint32_t stepCounter);

// ---- 2. Labels ------------------------------------------------------------------------------------
// All chart text is in the small monospace font; these say where each fixed label
// goes (left edges) and at which scale, shrunk or thinned where the chart is too
// narrow for the designed sizes (band names 16, the rest 14).
struct ChartLabels {
    float bandScale;
    float bandNameX[kChartBands];   // centred on their bands as far as the gaps allow
    int bandRow[kChartBands];       // 0: the designed row; 1: a line below it
    float frequencyScale;
    float frequencyLabelX[4];       // centred on the band edges 1, 12, 30 and 100 Hz
    bool frequencyShown[4];         // a label that would touch its neighbour is left out
    float titleScale;
    float weightTitleX, historyTitleX;
    float binLabelScale;            // "~0.1" .. "~1.0" under the bars
    int binLabelStride;             // every label, or every second one when even small ones collide
    float percentScale;             // the percentages on the bars
    float waitingScale;
    float waitingX[2];
    float waitingY;                 // the first line's baseline; the second a scale lower
};
inline constexpr const char* kWaitingLine1 = "Spike frequency analysis is still collecting data...";
inline constexpr const char* kWaitingLine2 = "At least 1024 ms of simulation data is required.";
inline constexpr const char* kWeightTitle = "Synapse weight distribution";
inline constexpr const char* kHistoryTitle = "Spiking History";
ChartLabels LayoutChartLabels(const ChartLayout& layout, const GlyphMetrics* mono);
// Baseline of a band name (its row's).
float BandNameY(const ChartLayout& layout, const ChartLabels& labels, int band);
// Text of bin label i ("~0.1" .. "~1.0") and of a percentage.
void BinLabelText(int bin, char* out, int size);
void PercentText(float percent, char* out, int size);

// ---- 3. Spectrum line and peak labels ---------------------------------------------------------------
// binCount vertices (x, y) into xy[2 * binCount]: vertex 0 at the plot origin,
// vertex k at (92 + k dx, plot bottom + scale * power[k]), dx = X / binCount,
// scale = 0.8 * plotHeight / powerMax.
void SpectrumVertices(const ChartLayout& layout, const float* power, uint32_t binCount, float powerMax,
                      float* xy);
// Frequency of bin k: k * binWidth.
inline float BinFrequency(uint32_t k, float binWidth) { return static_cast<float>(k) * binWidth; }

inline constexpr int kMaxPeakLabels = 128;
struct PeakLabel {
    char text[16];  // "%.1f Hz"
    float x, y;     // left edge and baseline
    bool shown;
};
// Labels of the peaks (bins 1.. with a flag) at scale 14: each wants to sit centred
// 8.4 above its point; taller peaks choose first, and a label that would come
// within half a character across and kPeakLabelAir up or down of the band names,
// the frequency labels or a label placed before it moves up in steps of a line,
// else beside its point (right, then left) and lower down its flanks, and is left
// out when no place inside the plot is free. The band names always keep their place.
inline constexpr float kPeakLabelAir = 3.0f;  // pixels
int PlacePeakLabels(const ChartLayout& layout, const ChartLabels& labels, const GlyphMetrics* mono,
                    const float* xy, const uint8_t* peakFlags, uint32_t binCount, float binWidth,
                    PeakLabel* out);

// ---- 4. Weight bars ------------------------------------------------------------------------------------
inline constexpr int kChartWeightBins = 10;
struct WeightBar {
    float left;         // 92 + i (w + 14)
    float centre;       // left + w / 2
    float relative;     // count / largest count (0 when every bin is 0)
    float top;          // base + relative * max height
    bool drawn;         // relative above 0.01
    bool percentShown;  // drawn and a total exists
    float percent;      // 100 * count / total
    float percentY;     // baseline: inside the bar when it is tall enough, else just above it
    float labelValue;   // 0.1 (i + 1), shown as "~%.1f"
};
// percentHeight: the ink height of a percentage at its scale (ascent and descent).
void ComputeWeightBars(const ChartLayout& layout, const uint32_t* histogram, uint32_t total,
                       float percentAscent, float percentDescent, WeightBar (&bars)[kChartWeightBins]);

// ---- 5. Spiking history line ---------------------------------------------------------------------------
// The history index of sample j (0 = newest): counting back from the write
// position `position` (the next write), wrapping from 0 to historyLength - 1.
uint32_t HistorySampleIndex(uint32_t position, uint32_t j, uint32_t historyLength);
// 256 vertices (x, y) into xy[512]: sample j at x = 64 + j (W - 128) / 256, y from
// the history panel's bottom up to its top as min(1, 5 * count * invNeuronCount).
void HistoryVertices(const ChartLayout& layout, const float* history, uint32_t historyLength,
                     uint32_t position, float invNeuronCount, float* xy);
