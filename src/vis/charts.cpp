// The analysis charts overlay.
//
// Sections:
//   1. Line strips from the scratch array
//   2. Panels and bands
//   3. Titles and labels
//   4. Spectrum and peaks
//   5. Weight bars
//   6. DrawAnalysisCharts
#include "vis/charts.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "engine/view_snapshot.h"
#include "io/app_state.h"
#include "platform/platform.h"
#include "vis/chart_layout.h"
#include "vis/gl_setup.h"
#include "vis/layout.h"
#include "vis/render_thread.h"
#include "vis/text.h"
#include "vis/text_layout.h"
#include "vis/view_state.h"

namespace {

// (x, y) pairs of the line being drawn: render thread only, kept off its stack.
float Scratch[2 * kHistoryLength];

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
void Text(float scale, float x, float y, const char* text) {
    DrawText3D(scale, FontMonoSmall.listBase, x, y, 0.0f, "%s", text);
}

void DrawTitles(const ChartLayout& l, const ChartLabels& c) {
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    for (int b = 0; b < kChartBands; ++b) Text(c.bandScale, c.bandNameX[b], BandNameY(l, c, b), ChartBands[b].name);
    Text(c.titleScale, c.weightTitleX, l.weightTitleY, kWeightTitle);
    Text(c.titleScale, c.historyTitleX, l.historyTitleY, kHistoryTitle);
    for (int i = 0; i < 4; ++i) {
        if (!c.frequencyShown[i]) continue;
        Text(c.frequencyScale, c.frequencyLabelX[i], l.frequencyLabelYLow, ChartFrequencyLabels[i]);
        Text(c.frequencyScale, c.frequencyLabelX[i], l.frequencyLabelYHigh, ChartFrequencyLabels[i]);
    }
}

void DrawWaitingMessage(const ChartLabels& c) {
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    Text(c.waitingScale, c.waitingX[0], c.waitingY, kWaitingLine1);
    Text(c.waitingScale, c.waitingX[1], c.waitingY - c.waitingScale, kWaitingLine2);
}

// ---- 4. Spectrum and peaks -------------------------------------------------------------------------
void DrawSpectrum(const ChartLayout& l, const ChartLabels& c, const ActivityAnalysis& a) {
    uint32_t bins = a.binCount;
    if (bins > kBinCount) bins = kBinCount;
    if (bins == 0 || a.power == nullptr) return;
    SpectrumVertices(l, a.power, bins, a.powerMax, Scratch);
    glColor4ub(255, 255, 0, 255);
    DrawLineStrip(Scratch, bins);
    PeakLabel peaks[kMaxPeakLabels];
    const int count = PlacePeakLabels(l, c, FontMonoSmall.metrics, Scratch, a.peakFlags, bins, a.binWidth, peaks);
    for (int i = 0; i < count; ++i)
        if (peaks[i].shown) Text(14.0f, peaks[i].x, peaks[i].y, peaks[i].text);
}

// ---- 5. Weight bars ------------------------------------------------------------------------------------
void DrawWeightBars(const ChartLayout& l, const ChartLabels& c, const ActivityAnalysis& a) {
    if (!l.barsShown) return;
    uint32_t histogram[kChartWeightBins];
    for (int i = 0; i < kChartWeightBins; ++i) histogram[i] = a.WeightHistogram[i];
    const GlyphMetrics* metrics = FontMonoSmall.metrics;
    const FontExtent extent = PrintableExtent(metrics);
    WeightBar bars[kChartWeightBins];
    ComputeWeightBars(l, histogram, a.weightTotal, extent.ascent * c.percentScale, extent.descent * c.percentScale,
                      bars);
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
    char text[16];
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    for (int i = 0; i < kChartWeightBins; i += c.binLabelStride) {
        BinLabelText(i, text, sizeof text);
        Text(c.binLabelScale, bars[i].centre - 0.5f * TextAdvance(metrics, c.binLabelScale, text), l.barLabelY,
             text);
    }
    glColor4ub(255, 255, 0, 255);
    for (const WeightBar& bar : bars) {
        if (!bar.percentShown) continue;
        PercentText(bar.percent, text, sizeof text);
        Text(c.percentScale, bar.centre - 0.5f * TextAdvance(metrics, c.percentScale, text), bar.percentY, text);
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
    const ChartLayout l = ComputeChartLayout(width, height, ChartAreaBetween(height, ChartFloor, ChartCeiling));
    const ChartLabels labels = LayoutChartLabels(l, FontMonoSmall.metrics);

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
    DrawTitles(l, labels);
    if (!ChartSpectrumReady(DrawnView->step)) {
        DrawWaitingMessage(labels);
    } else {
        DrawSpectrum(l, labels, a);
        DrawWeightBars(l, labels, a);
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
