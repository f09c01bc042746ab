// Measuring and placing overlay text so that it fits the window and no text runs
// into another: widths and ink boxes from the glyph metrics, word wrapping, the
// scale that fits a width, and spreading labels along a line. No GL: the overlays
// draw what these compute, and tests call them with the fonts' real metrics.
//
// Sizes are in pixels; a text drawn at `scale` is scale pixels per em (the display
// lists move the pen by the glyph advance in em units).
#pragma once

#include <cstdint>

#include "vis/layout.h"

// ---- Boxes ----------------------------------------------------------------------------------
struct TextBox {
    float x0, y0, x1, y1;  // y up
};
// True when the two boxes share an area (touching edges do not count).
bool BoxesOverlap(const TextBox& a, const TextBox& b);
// True when `inner` lies within `outer`.
bool BoxInside(const TextBox& inner, const TextBox& outer);

// ---- Measuring ------------------------------------------------------------------------------
// Pen advance of the first `length` bytes (all when negative).
float TextAdvance(const GlyphMetrics* metrics, float scale, const char* text, int length = -1);
// Ink box of a text drawn with its left edge at x and its baseline at y: the
// advance across, the extremes of its glyphs' black boxes up and down.
TextBox TextInkBox(const GlyphMetrics* metrics, float scale, float x, float y, const char* text,
                   int length = -1);
// Box around all that a text drawn at (x, y) can mark: the ink box widened to every
// glyph's black box (a bearing can reach left of the pen or past the advance).
TextBox TextCoverBox(const GlyphMetrics* metrics, float scale, float x, float y, const char* text);
// Height above and depth below the baseline that any printable ASCII glyph reaches,
// in em units: a line pitch of (ascent + descent) * scale keeps lines apart.
struct FontExtent {
    float ascent, descent;
};
FontExtent PrintableExtent(const GlyphMetrics* metrics);
// The largest scale up to `nominal` at which the text is at most maxWidth wide.
float ScaleToFit(const GlyphMetrics* metrics, float nominal, const char* text, float maxWidth);

// ---- Wrapping --------------------------------------------------------------------------------
struct TextPiece {
    int offset, length;
};
// Breaks the text into pieces no wider than maxWidth at `scale`, at spaces (a word
// wider than the line is cut). Spaces at a break are dropped. Returns the number of
// pieces (at most maxPieces; the last takes the rest when there are more).
int WrapText(const GlyphMetrics* metrics, float scale, const char* text, float maxWidth, TextPiece* pieces,
             int maxPieces);

// ---- Spreading labels ---------------------------------------------------------------------------
// Moves n intervals [start, start + length), ordered by their wished start, as
// little as possible so that consecutive ones are at least `gap` apart and all lie
// in [low, high]: pushed up from below, then back down from above. False when they
// cannot all fit (they are then spread evenly from low, overlapping).
bool SpreadIntervals(float* start, const float* length, int n, float low, float high, float gap);
