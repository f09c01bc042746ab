// Plain layout rules of the visualization: window-size metrics, glyph metrics and
// the centring rule, the 256-byte overlay text buffer, the help lines, the status
// screen texts and the frame statistics. No GL here: tests call these directly.
//
// Sections:
//   1. Layout metrics
//   2. Glyph metrics and the centring rule
//   3. Overlay text formatting (256-byte buffer)
//   4. Help lines
//   5. Status screen texts
//   6. Frame statistics
#pragma once

#include <cstdarg>
#include <cstdint>

// ---- 1. Layout metrics ------------------------------------------------------------------------
struct LayoutMetrics {
    int32_t CharHeight;
    float InspectorTextWidth;
    float PaneTop, PaneSplit, HalfWidth, LineHeight;
    float PickerTop, PickerSize, PickerHalf, PickerLeft, PickerRight, PickerWidth;
    float PickerCell, PickerQuarter;
};
// W, H: window size; charHeight and inspectorTextWidth: measured once from FontHud.
LayoutMetrics ComputeLayoutMetrics(int32_t width, int32_t height, int32_t charHeight,
                                   float inspectorTextWidth, float extentX);
// The larger of 8 and the measured pixel height of "A".
int32_t CharHeightFromMeasured(int32_t measuredHeight);

// ---- 2. Glyph metrics -----------------------------------------------------------------------------
// Per glyph, in em units: black-box width and height, origin x and y, cell increment x, y.
struct GlyphMetrics {
    float blackBoxX, blackBoxY, originX, originY, cellIncX, cellIncY;
};
inline constexpr int kGlyphCount = 255;  // glyphs 0..254 (one display list each)

// Width w of the centring rule: over all characters but the last,
// scale * black-box width + 4 * cell increment; plus scale * black-box width of the
// last one; 0 for an empty text. Bytes without a glyph (255) count as nothing.
float CentredTextWidth(const GlyphMetrics* metrics, float scale, const char* text);

// Pixel width of a text at emPixels pixels per em: the sum of the glyph advances,
// each rounded to whole pixels as a raster font would lay them out.
float TextPixelWidth(const GlyphMetrics* metrics, float emPixels, const char* text);

// ---- 3. Overlay text ---------------------------------------------------------------------------------
inline constexpr int kOverlayTextBytes = 256;
struct OverlayText {
    char text[kOverlayTextBytes];
    int length;  // bytes written, at most 255
};
// printf-style into the 256-byte buffer; longer results are cut at 255 bytes.
OverlayText FormatOverlayTextV(const char* format, va_list args);
OverlayText FormatOverlayText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ---- 4. Help lines --------------------------------------------------------------------------------
struct HelpLine {
    bool title;
    int gap;  // lines of 15 pixels before the line
    const char* text;
};
inline constexpr int kHelpLineCount = 20;
extern const HelpLine HelpLines[kHelpLineCount];
// y of each help line for a window of height H (the first at H - 14 - 2 - 0.15 H).
void HelpLinePositions(int32_t height, float* y);

// ---- 5. Status screen ----------------------------------------------------------------------------
struct StatusLine {
    OverlayText text;
    float y;
};
struct StatusScreen {
    StatusLine lines[4];
    int count;
    bool withHelpPanel;  // the help panel follows (no simulation)
};
// "Simulation time: %.1f ms (Real time factor: %.3fx recent, %.3fx avg.)" from the
// step count (0.5 ms steps); while paused, "paused" stands for the recent factor,
// which is that of the last frames before the pause.
OverlayText SimulationTimeLine(uint32_t stepCounter, float recentSpeed, float averageSpeed, bool paused);
// Texts and positions for the state (SimStateValue), the visualization flag and the
// statistics; H and CharHeight give the positions (first line at H - CharHeight - 2).
StatusScreen BuildStatusScreen(uint32_t simState, int32_t height, int32_t charHeight,
                               uint32_t stepCounter, float recentSpeed, float averageSpeed);

// ---- 6. Frame statistics -----------------------------------------------------------------------------
struct FrameStats {
    uint32_t FrameCount;
    uint32_t LastDrawnStep;
    float RecentFps, AverageFps;
    double FrameMcycles;
    float RecentSpeed, AverageSpeed;
    uint64_t cycleAccumulator;
    uint32_t statsStart;      // ms, statistics clock start
    uint32_t lastFpsUpdate;   // ms of the previous 20-frame update
    uint32_t prevStep;        // s_prev
    uint32_t prevTime;        // t_prev
};
void ResetFrameStats(FrameStats& stats, uint32_t now);
// The 20-frame update (call when FrameCount % 20 == 0 and visualization is on).
void UpdateFpsStats(FrameStats& stats, uint32_t now);
// The per-frame speed update; dt is the step in ms, simStart the simulation clock.
void UpdateSpeedStats(FrameStats& stats, uint32_t now, uint32_t step, float dt, uint32_t simStart,
                      uint32_t startStep = 0);
