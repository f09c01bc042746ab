// Where the overlay texts go for a window size: the help screen, the status
// screen, the HUD lines, and the lower strip's property column, traces and trace
// labels. Every text is measured with the metrics of the font it is drawn in, so
// that it fits the window from 640 x 480 up and none runs into another. No GL: the
// render thread and the scene draw what these compute.
//
// Sections:
//   1. Placed text
//   2. Help screen
//   3. Status screen
//   4. HUD lines
//   5. Lower strip
#pragma once

#include <cstdint>

#include "vis/layout.h"
#include "vis/scene_layout.h"
#include "vis/text_layout.h"

// ---- 1. Placed text ---------------------------------------------------------------------------
struct PlacedText {
    const char* text;  // not owned
    int length;
    float x, y;  // left edge and baseline
    float scale;
};
TextBox PlacedTextBox(const GlyphMetrics* metrics, const PlacedText& t);

// ---- 2. Help screen ---------------------------------------------------------------------------
// The help panel spans x 32 .. W - 32 and y from 0.15 H up to its top.
inline constexpr int kHelpPieceLimit = 48;
struct HelpScreenLayout {
    PlacedText pieces[kHelpPieceLimit];
    int count;
    float scale;  // 16 when everything fits as designed
};
// The help lines in the monospace font, left edges at x = 48 (the title centred as
// before): a line wider than the panel wraps (its continuations indented), and the
// text shrinks from scale 16 until it fits between top and bottom.
HelpScreenLayout LayoutHelpScreen(const GlyphMetrics* mono, float width, float top, float bottom);

// ---- 3. Status screen -----------------------------------------------------------------------------
inline constexpr int kStatusPieceLimit = 16;
struct StatusScreenLayout {
    PlacedText pieces[kStatusPieceLimit];
    int count;
    float lowest;  // lowest ink of the lines
};
// The screen's lines at x = 16, scale 15, wrapped at the window's right margin; the
// lines below a wrapped one move down by a line each. Points into `screen`.
StatusScreenLayout LayoutStatusScreen(const StatusScreen& screen, const GlyphMetrics* mono, float width,
                                      int32_t charHeight);
// Top of the help panel under the status lines: 0.85 H, or lower so that the
// panel's text starts below them.
float HelpPanelTop(const StatusScreenLayout& status, float height);

// ---- 4. HUD lines -----------------------------------------------------------------------------------
// Scale of a HUD line drawn from x = 8: 15, or less when that would pass the right edge.
float HudLineScale(const GlyphMetrics* monoBold, const char* text, float width);

// ---- 5. Lower strip ---------------------------------------------------------------------------------
// The two picker captions stay where they are (x = 16, scale 14); the property
// column goes right of the picker, and right of the captions when it reaches their
// height, shrunk (its lines closer first) until it fits the strip; the trace area
// follows the column, its labels stacked at its left edge without overlapping, and
// the time span of the traces sits right-aligned in the row under the lanes.
// The column and the trace labels shrink no further than kMinInspectorScale while
// the strip holds them there (from 640 x 480 up); the traces give up room first.
inline constexpr float kMinInspectorScale = 11.0f;  // capitals of about 8 pixels
inline constexpr float kCaptionScale = 14.0f;
inline constexpr float kColumnScale = 14.0f;
inline constexpr float kTraceLabelScale = 16.0f;
inline constexpr float kSpanLabelScale = 14.0f;
extern const char* const kTopCaption;     // "Click below to select neuron:"
extern const char* const kBottomCaption;  // "UP/DOWN keys change the Z plane"

struct StripLayout {
    float topCaptionY, bottomCaptionY;
    float columnX, columnScale;
    float columnY[kPropertyLines];
    float traceX;          // left x of the trace area
    uint32_t traceLength;  // its width in pixels; 0: no traces
    float labelX, labelScale;
    float labelY[kTraceCount];
    float spanRight, spanY;  // the span label ends at spanRight
};
// hud: the metrics of FontHud (captions, column); mono: FontMono (trace labels).
StripLayout LayoutLowerStrip(const LayoutMetrics& layout, float width, const GlyphMetrics* hud,
                             const GlyphMetrics* mono);
// The widest texts the column and the labels are given room for.
float PropertyColumnWidth(const GlyphMetrics* hud, float scale, float inspectorTextWidth);
float TraceLabelWidth(const GlyphMetrics* mono, float scale);
