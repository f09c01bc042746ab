// Measuring and placing overlay text.
#include "vis/text_layout.h"

#include <algorithm>
#include <cstring>

// ---- Boxes ----------------------------------------------------------------------------------
bool BoxesOverlap(const TextBox& a, const TextBox& b) {
    return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

bool BoxInside(const TextBox& inner, const TextBox& outer) {
    return inner.x0 >= outer.x0 && inner.x1 <= outer.x1 && inner.y0 >= outer.y0 && inner.y1 <= outer.y1;
}

// ---- Measuring ------------------------------------------------------------------------------
namespace {

int LengthOf(const char* text, int length) { return length < 0 ? static_cast<int>(std::strlen(text)) : length; }

}  // namespace

float TextAdvance(const GlyphMetrics* metrics, float scale, const char* text, int length) {
    const int n = LengthOf(text, length);
    float w = 0.0f;
    for (int i = 0; i < n; ++i) {
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (c < kGlyphCount) w += metrics[c].cellIncX;
    }
    return w * scale;
}

TextBox TextInkBox(const GlyphMetrics* metrics, float scale, float x, float y, const char* text, int length) {
    const int n = LengthOf(text, length);
    float top = 0.0f, bottom = 0.0f;
    for (int i = 0; i < n; ++i) {
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (c >= kGlyphCount || metrics[c].blackBoxY <= 0.0f) continue;
        top = std::max(top, metrics[c].originY);
        bottom = std::min(bottom, metrics[c].originY - metrics[c].blackBoxY);
    }
    return {x, y + bottom * scale, x + TextAdvance(metrics, scale, text, n), y + top * scale};
}

TextBox TextCoverBox(const GlyphMetrics* metrics, float scale, float x, float y, const char* text) {
    TextBox box = TextInkBox(metrics, scale, x, y, text);
    float pen = x;
    for (const char* p = text; *p; ++p) {
        const uint8_t c = static_cast<uint8_t>(*p);
        if (c >= kGlyphCount) continue;
        if (metrics[c].blackBoxX > 0.0f) {
            box.x0 = std::min(box.x0, pen + metrics[c].originX * scale);
            box.x1 = std::max(box.x1, pen + (metrics[c].originX + metrics[c].blackBoxX) * scale);
        }
        pen += metrics[c].cellIncX * scale;
    }
    return box;
}

FontExtent PrintableExtent(const GlyphMetrics* metrics) {
    FontExtent e{0.0f, 0.0f};
    for (int c = 32; c < 127; ++c) {
        e.ascent = std::max(e.ascent, metrics[c].originY);
        e.descent = std::max(e.descent, metrics[c].blackBoxY - metrics[c].originY);
    }
    return e;
}

float ScaleToFit(const GlyphMetrics* metrics, float nominal, const char* text, float maxWidth) {
    const float width = TextAdvance(metrics, nominal, text);
    if (width <= maxWidth || width <= 0.0f) return nominal;
    return maxWidth > 0.0f ? nominal * maxWidth / width : 0.0f;
}

// ---- Wrapping --------------------------------------------------------------------------------
int WrapText(const GlyphMetrics* metrics, float scale, const char* text, float maxWidth, TextPiece* pieces,
             int maxPieces) {
    const int n = static_cast<int>(std::strlen(text));
    int count = 0, start = 0;
    while (start < n && count < maxPieces) {
        while (start < n && text[start] == ' ') ++start;
        if (start >= n) break;
        if (count == maxPieces - 1 || TextAdvance(metrics, scale, text + start, n - start) <= maxWidth) {
            pieces[count++] = {start, n - start};
            break;
        }
        // The longest run of whole words that fits; a single word too wide is cut.
        int end = start, lastBreak = -1;
        float width = 0.0f;
        while (end < n) {
            const uint8_t c = static_cast<uint8_t>(text[end]);
            const float advance = c < kGlyphCount ? metrics[c].cellIncX * scale : 0.0f;
            if (width + advance > maxWidth) break;
            width += advance;
            ++end;
            if (end < n && text[end] == ' ') lastBreak = end;
        }
        if (lastBreak > start) end = lastBreak;
        if (end == start) end = start + 1;  // not even one glyph fits: one per line
        int trimmed = end;
        while (trimmed > start && text[trimmed - 1] == ' ') --trimmed;
        pieces[count++] = {start, trimmed - start};
        start = end;
    }
    return count;
}

// ---- Spreading labels ---------------------------------------------------------------------------
bool SpreadIntervals(float* start, const float* length, int n, float low, float high, float gap) {
    if (n <= 0) return true;
    float total = gap * static_cast<float>(n - 1);
    for (int i = 0; i < n; ++i) total += length[i];
    if (total > high - low) {
        float at = low;
        const float step = n > 1 ? (high - low - length[n - 1]) / static_cast<float>(n - 1) : 0.0f;
        for (int i = 0; i < n; ++i, at += step) start[i] = n > 1 ? at : low;
        return false;
    }
    // Up from below: each at least gap after the previous, none before low.
    float edge = low;
    for (int i = 0; i < n; ++i) {
        start[i] = std::max(start[i], edge);
        edge = start[i] + length[i] + gap;
    }
    // Down from above: none past high, each at least gap before the next.
    edge = high;
    for (int i = n - 1; i >= 0; --i) {
        start[i] = std::min(start[i], edge - length[i]);
        edge = start[i] - gap;
    }
    return true;
}
