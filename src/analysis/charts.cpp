// The analysis charts overlay.
//
// Sections:
//   1. Line strips from the scratch array
//   2. Panels and bands
//   3. Titles and labels
//   4. Spectrum and peaks
//   5. Weight bars
//   6. DrawAnalysisCharts
#include "analysis/charts.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "analysis/chart_layout.h"
#include "engine/app_state.h"
#include "engine/view_snapshot.h"
#include "platform/platform.h"
#include "vis/gl_setup.h"
#include "vis/layout.h"
#include "vis/render_thread.h"
#include "vis/text.h"
#include "vis/view_state.h"

namespace {

float Scratch[2 * kHistoryLength];  // (x, y) pairs of the line being drawn; render thread only

// ---- 1. Line strips ------------------------------------------------------------------------------
void DrawLineStrip(const float* xy, uint32_t count) {
    if (count < 2) return;
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, xy);
    if (GlExt.DrawRangeElements) {
        GlExt.DrawRangeElements(GL_LINE_STRIP, 0, count - 1, static_cast<GLsizei>(count), GL_UNSIGNED_SHORT,
                                IndexRamp);
    } else {
        glDrawArrays(GL_LINE_STRIP, 0, static_cast<GLsizei>(count));
    }
    glPopClientAttrib();
}

void Quad(const ChartRect& r) {
    glVertex2f(r.x0, r.y0);
    glVertex2f(r.x1, r.y0);
    glVertex2f(r.x1, r.y1);
    glVertex2f(r.x0, r.y1);
}

// ---- 2. Panels and bands -------------------------------------------------------------------------
void DrawPanels(const ChartLayout& l) {
    glBegin(GL_QUADS);
    glColor4f(0.08f, 0.08f, 0.33f, 0.8f);
    Quad(l.spectrumPanel);
    Quad(l.weightPanel);
    Quad(l.historyPanel);
    for (int b = 0; b < kChartBands; ++b) {
        const ChartBandStyle& s = ChartBands[b];
        glColor4f(s.r, s.g, s.b, s.a);
        Quad({l.bandEdge[b], l.bandEdge[b + 1], l.plot.y0, l.plot.y1});
    }
    glEnd();
}

// ---- 3. Titles and labels -------------------------------------------------------------------------
void DrawTitles(const ChartLayout& l) {
    const GlyphMetrics* metrics = FontMonoSmall.metrics;
    const uint32_t lists = FontMonoSmall.listBase;
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    for (int b = 0; b < kChartBands; ++b) {
        const float width = CentredTextWidth(metrics, 16.0f, ChartBands[b].name);
        DrawText3D(16.0f, lists, BandNameX(l, b, width), l.bandNameY, 0.0f, "%s", ChartBands[b].name);
    }
    DrawTextCentred(metrics, 14.0f, lists, l.titleX, l.weightTitleY, 0.0f, "Synapse weight distribution");
    DrawTextCentred(metrics, 14.0f, lists, l.titleX, l.historyTitleY, 0.0f, "Spiking History");
    for (int i = 0; i < 4; ++i) {
        DrawTextCentred(metrics, 14.0f, lists, l.frequencyLabelX[i], l.frequencyLabelYLow, 0.0f, "%s",
                        ChartFrequencyLabels[i]);
        DrawTextCentred(metrics, 14.0f, lists, l.frequencyLabelX[i], l.frequencyLabelYHigh, 0.0f, "%s",
                        ChartFrequencyLabels[i]);
    }
}

void DrawWaitingMessage(const ChartLayout& l) {
    const GlyphMetrics* metrics = FontMonoSmall.metrics;
    const uint32_t lists = FontMonoSmall.listBase;
    const char* first = "Spike frequency analysis is still collecting data...";
    const OverlayText second = FormatOverlayText("At least %d ms of simulation data is required.", 1024);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    DrawText3D(16.0f, lists, WaitingTextX(l, CentredTextWidth(metrics, 16.0f, first)), l.waitingY, 0.0f, "%s",
               first);
    DrawText3D(16.0f, lists, WaitingTextX(l, CentredTextWidth(metrics, 16.0f, second.text)), l.waitingY - 16.0f,
               0.0f, "%s", second.text);
}

// ---- 4. Spectrum and peaks -------------------------------------------------------------------------
void DrawSpectrum(const ChartLayout& l, const ActivityAnalysis& a) {
    uint32_t bins = a.binCount;
    if (bins > kBinCount) bins = kBinCount;
    if (bins == 0 || a.power == nullptr) return;
    SpectrumVertices(l, a.power, bins, a.powerMax, Scratch);
    glColor4ub(255, 255, 0, 255);
    DrawLineStrip(Scratch, bins);
    for (uint32_t k = 1; k < bins; ++k) {
        if (!a.peakFlags[k]) continue;
        DrawTextCentred(FontMonoSmall.metrics, 14.0f, FontMonoSmall.listBase, Scratch[2 * k],
                        Scratch[2 * k + 1] + 8.4f, 0.0f, "%.1f Hz",
                        static_cast<double>(BinFrequency(k, a.binWidth)));
    }
}

// ---- 5. Weight bars ------------------------------------------------------------------------------------
void DrawWeightBars(const ChartLayout& l, const ActivityAnalysis& a) {
    if (!l.barsShown) return;
    uint32_t histogram[kChartWeightBins];
    for (int i = 0; i < kChartWeightBins; ++i) histogram[i] = a.WeightHistogram[i];
    WeightBar bars[kChartWeightBins];
    ComputeWeightBars(l, histogram, a.weightTotal, bars);
    glBegin(GL_QUADS);
    for (const WeightBar& bar : bars) {
        if (!bar.drawn) continue;
        glColor4f(0.15f, 0.15f, 0.8f, 0.66f);
        glVertex2f(bar.left, l.barBase);
        glVertex2f(bar.left + l.barWidth, l.barBase);
        glColor4f(0.55f, 0.55f, 1.0f, 0.66f);
        glVertex2f(bar.left + l.barWidth, bar.top);
        glVertex2f(bar.left, bar.top);
    }
    glEnd();
    const GlyphMetrics* metrics = FontMonoSmall.metrics;
    const uint32_t lists = FontMonoSmall.listBase;
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    for (const WeightBar& bar : bars)
        DrawTextCentred(metrics, 14.0f, lists, bar.centre, l.barLabelY, 0.0f, "~%.1f",
                        static_cast<double>(bar.labelValue));
    glColor4ub(255, 255, 0, 255);
    for (const WeightBar& bar : bars) {
        if (!bar.percentShown) continue;
        DrawTextCentred(metrics, 14.0f, lists, bar.centre, bar.percentY, 0.0f, "%.1f%%",
                        static_cast<double>(bar.percent));
    }
}

}  // namespace

// ---- 6. DrawAnalysisCharts ----------------------------------------------------------------------------------
void DrawAnalysisCharts(AppState& state) {
    const uint32_t simState = plat::AtomicLoad(state.SimState);
    if (simState != SimStateRunning && simState != SimStatePaused) return;
    // The copy in the view frame: the last worker writes the live buffers.
    if (DrawnView == nullptr) return;
    const ActivityAnalysis& a = DrawnView->analysis;
    if (a.SpikeHistory == nullptr) return;  // no network yet
    const int32_t width = WindowWidth.load(), height = WindowHeight.load();
    const ChartLayout l = ComputeChartLayout(width, height);

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(0.0, static_cast<double>(width), 0.0, static_cast<double>(height));
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glViewport(0, 0, width, height);
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_LINE_BIT);
    glDisable(GL_LIGHTING);
    GlShadow.lighting = 0;
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glLineWidth(1.0f);

    DrawPanels(l);
    DrawTitles(l);
    if (!ChartSpectrumReady(DrawnView->step)) {
        DrawWaitingMessage(l);
    } else {
        DrawSpectrum(l, a);
        DrawWeightBars(l, a);
    }
    HistoryVertices(l, a.SpikeHistory, kHistoryLength, a.historyPosition, state.params.invNeuronCount,
                    Scratch);
    glColor4ub(255, 255, 0, 255);
    DrawLineStrip(Scratch, kChartHistorySamples);

    glPopAttrib();
    glEnable(GL_LIGHTING);  // lighting back on, as the scene expects
    GlShadow.lighting = 1;
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

void InstallAnalysisCharts() { DrawAnalysisChartsHook = DrawAnalysisCharts; }
