// Where the overlay texts go for a window size.
//
// Sections: placed text, help screen, status screen, HUD lines, lower strip.
#include "vis/overlay_layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// ---- 1. Placed text ---------------------------------------------------------------------------
TextBox PlacedTextBox(const GlyphMetrics* metrics, const PlacedText& t) {
    return TextInkBox(metrics, t.scale, t.x, t.y, t.text, t.length);
}

// ---- 2. Help screen ---------------------------------------------------------------------------
namespace {

constexpr float kHelpScale = 16.0f;
constexpr float kHelpPitch = 15.0f / 16.0f;  // designed line pitch per unit of scale
constexpr float kHelpLeft = 48.0f;
constexpr float kHelpMargin = 4.0f;  // between the last line's ink and the panel bottom

// Lays the lines out at `scale`; false when they run below `bottom` or past the limit.
bool TryHelpLayout(const GlyphMetrics* mono, float width, float top, float bottom, float scale,
                   HelpScreenLayout& out) {
    out.count = 0;
    out.scale = scale;
    const float right = width - kHelpLeft;
    const float indent = 2.0f * TextAdvance(mono, scale, " ");
    // The designed 15 pixels at scale 16, or the font's full ink height if that is
    // more, so that descenders never touch the line below.
    const FontExtent extent = PrintableExtent(mono);
    const float pitch = std::max(kHelpPitch, extent.ascent + extent.descent) * scale;
    float y = top - scale;
    for (int i = 0; i < kHelpLineCount; ++i) {
        const HelpLine& line = HelpLines[i];
        if (line.gap > 0) y -= pitch * static_cast<float>(line.gap);
        if (line.title) {
            const float w = TextAdvance(mono, scale, line.text);
            const float centre = 0.5f * (width - 32.0f) + 32.0f;
            const float x = std::max(kHelpLeft, std::min(centre - 0.5f * w, right - w));
            if (out.count == kHelpPieceLimit) return false;
            out.pieces[out.count++] = {line.text, static_cast<int>(std::strlen(line.text)), x, y, scale};
            continue;
        }
        // Wrapped at the indented width, so that continuations fit as well.
        TextPiece pieces[8];
        const int n = WrapText(mono, scale, line.text, right - kHelpLeft - indent, pieces, 8);
        for (int p = 0; p < n; ++p) {
            if (p > 0) y -= pitch;
            if (out.count == kHelpPieceLimit) return false;
            out.pieces[out.count++] = {line.text + pieces[p].offset, pieces[p].length,
                                       p == 0 ? kHelpLeft : kHelpLeft + indent, y, scale};
        }
    }
    const PlacedText& last = out.pieces[out.count - 1];
    return PlacedTextBox(mono, last).y0 >= bottom + kHelpMargin;
}

}  // namespace

HelpScreenLayout LayoutHelpScreen(const GlyphMetrics* mono, float width, float top, float bottom) {
    HelpScreenLayout layout{};
    for (float scale = kHelpScale; scale > 4.0f; scale -= 0.25f)
        if (TryHelpLayout(mono, width, top, bottom, scale, layout)) return layout;
    TryHelpLayout(mono, width, top, bottom, 4.0f, layout);
    return layout;
}

// ---- 3. Status screen -----------------------------------------------------------------------------
namespace {
constexpr float kStatusScale = 15.0f;
constexpr float kStatusLeft = 16.0f;
constexpr float kStatusShrink = 0.85f;  // the most a status line shrinks before it wraps
}  // namespace

StatusScreenLayout LayoutStatusScreen(const StatusScreen& screen, const GlyphMetrics* mono, float width,
                                      int32_t charHeight) {
    StatusScreenLayout out{};
    const float d = static_cast<float>(charHeight + 1);
    const float maxWidth = width - 2.0f * kStatusLeft;
    float shift = 0.0f;  // how far wrapped lines pushed the rest down
    out.lowest = 0.0f;
    for (int i = 0; i < screen.count; ++i) {
        const StatusLine& line = screen.lines[i];
        // A line a little too wide is drawn a little smaller; a longer one wraps (and a
        // piece that cannot wrap, one long word, is scaled down).
        TextPiece pieces[4];
        int n = 1;
        pieces[0] = {0, line.text.length};
        if (ScaleToFit(mono, kStatusScale, line.text.text, maxWidth) < kStatusScale * kStatusShrink)
            n = WrapText(mono, kStatusScale, line.text.text, maxWidth, pieces, 4);
        for (int p = 0; p < n && out.count < kStatusPieceLimit; ++p) {
            if (p > 0) shift += d;
            const char* text = line.text.text + pieces[p].offset;
            float scale = kStatusScale;
            const float w = TextAdvance(mono, scale, text, pieces[p].length);
            if (w > maxWidth && w > 0.0f) scale *= maxWidth / w;
            const PlacedText placed{text, pieces[p].length, kStatusLeft, line.y - shift, scale};
            out.pieces[out.count++] = placed;
            const float ink = PlacedTextBox(mono, placed).y0;
            out.lowest = out.count == 1 ? ink : std::min(out.lowest, ink);
        }
    }
    return out;
}

float HelpPanelTop(const StatusScreenLayout& status, float height) {
    const float designed = 0.85f * height;
    if (status.count == 0) return designed;
    // The panel's first line sits a scale (16) under its top: keep 4 pixels between
    // the status text and the panel.
    return std::min(designed, status.lowest - 4.0f);
}

// ---- 4. HUD lines -----------------------------------------------------------------------------------
float HudLineScale(const GlyphMetrics* monoBold, const char* text, float width) {
    return ScaleToFit(monoBold, 15.0f, text, width - 16.0f);
}

// ---- 5. Lower strip ---------------------------------------------------------------------------------
const char* const kTopCaption = "Click below to select neuron:";
const char* const kBottomCaption = "UP/DOWN keys change the Z plane";

namespace {

// The widest lines the property column shows, whatever the neuron.
const char* const kColumnTemplates[] = {
    "Neuron type: INHIBITORY",     "Neuron type: EXCITATORY",      "IB (Intrinsically Bursting)",
    "LTS (Low Threshold Spiking)", "Synaptic receptors: 88888",    "Tot. spikes: 888888 (888.8/s)",
    "Last spike@ 88888888.8 ms",   "c = -88.888  d = 88.888",      "a = 0.888  b = 0.888",
};
const char* const kLabelTemplate = "gGABAb: 888.888 nS";

constexpr float kStripMargin = 2.0f;  // between the lowest text and the window's bottom
constexpr float kMinTraceLength = 40.0f;  // the traces keep at least this much when texts must shrink

// Baselines of the column's 12 lines at `scale`, 1.5 steps before the lines that
// open a group (3, 7, 9). As designed: the first at PaneTop - 2 - CharHeight f,
// steps of (CharHeight + 1) f (f = scale / 14). Tight: the first line's ink 2
// pixels under the strip's top, lines a pixel apart.
void ColumnBaselines(const LayoutMetrics& L, const FontExtent& e, float scale, bool tight, float* y) {
    const float f = scale / kColumnScale;
    const float ch = static_cast<float>(L.CharHeight);
    const float d = tight ? (e.ascent + e.descent) * scale + 1.0f : (ch + 1.0f) * f;
    float at = L.PaneTop - 2.0f - (tight ? e.ascent * scale : ch * f);
    for (int i = 0; i < kPropertyLines; ++i) {
        if (i > 0) at -= (i == 2 || i == 6 || i == 8) ? 1.5f * d : d;
        y[i] = at;
    }
}

bool ColumnFits(const LayoutMetrics& L, const FontExtent& e, float scale, bool tight, float* y) {
    ColumnBaselines(L, e, scale, tight, y);
    return y[kPropertyLines - 1] - e.descent * scale >= kStripMargin;
}

}  // namespace

float PropertyColumnWidth(const GlyphMetrics* hud, float scale, float inspectorTextWidth) {
    float w = inspectorTextWidth * scale / kColumnScale;
    for (const char* t : kColumnTemplates) w = std::max(w, TextAdvance(hud, scale, t));
    return w;
}

float TraceLabelWidth(const GlyphMetrics* mono, float scale) { return TextAdvance(mono, scale, kLabelTemplate); }

StripLayout LayoutLowerStrip(const LayoutMetrics& L, float width, const GlyphMetrics* hud,
                             const GlyphMetrics* mono) {
    StripLayout s{};
    const float ch = static_cast<float>(L.CharHeight);
    s.topCaptionY = L.PaneTop - ch;
    s.bottomCaptionY = L.LineHeight - ch;
    const TextBox captions[2] = {TextInkBox(hud, kCaptionScale, 16.0f, s.topCaptionY, kTopCaption),
                                 TextInkBox(hud, kCaptionScale, 16.0f, s.bottomCaptionY, kBottomCaption)};

    // Column: the largest scale up to 14 whose lines fit the strip's height, at the
    // designed line pitch or else a tight one; below kMinInspectorScale only when
    // even tight lines at that scale do not fit.
    const FontExtent hudExtent = PrintableExtent(hud);
    float c = kColumnScale;
    bool tight = false;
    for (; c > kMinInspectorScale; c -= 0.25f) {
        if (ColumnFits(L, hudExtent, c, false, s.columnY)) break;
        if (ColumnFits(L, hudExtent, c, true, s.columnY)) {
            tight = true;
            break;
        }
    }
    if (c <= kMinInspectorScale) {
        c = kMinInspectorScale;
        tight = !ColumnFits(L, hudExtent, c, false, s.columnY);
        while (tight && !ColumnFits(L, hudExtent, c, true, s.columnY) && c > 4.0f) c -= 0.25f;
    }

    // Across: the column, right of the captions where it reaches their height; the
    // trace labels (the readouts) in a column of their own, then the traces to the
    // right edge, so that a full trace history never runs across a readout. The
    // readouts take at most 40 % of the room after the column, but keep the
    // inspector's smallest scale; when then the traces would have less than
    // kMinTraceLength, the column shrinks first, then the readouts.
    const float fullWidth = TraceLabelWidth(mono, kTraceLabelScale);
    float g = kTraceLabelScale;
    for (;; c -= 0.25f) {
        ColumnBaselines(L, hudExtent, c, tight, s.columnY);
        const float columnTop = s.columnY[0] + hudExtent.ascent * c;
        const float columnBottom = s.columnY[kPropertyLines - 1] - hudExtent.descent * c;
        s.columnX = L.PickerWidth + 2.0f * ch;
        for (const TextBox& box : captions)
            if (box.y0 < columnTop && columnBottom < box.y1) s.columnX = std::max(s.columnX, box.x1 + ch * 0.5f);
        const float columnWidth = PropertyColumnWidth(hud, c, L.InspectorTextWidth);
        const float areaX = s.columnX + columnWidth + 2.0f * ch * c / kColumnScale;
        const float area = std::floor(width - areaX);
        s.labelX = areaX;
        g = kTraceLabelScale;
        if (fullWidth > 0.0f && area > 0.0f) g = std::min(g, kTraceLabelScale * 0.4f * area / fullWidth);
        g = std::max(g, std::min(kMinInspectorScale, c));
        // Room for the readouts at g, their gap (ch g / 16) and the shortest traces.
        const float perScale = (fullWidth + ch) / kTraceLabelScale;
        if (area - perScale * g >= kMinTraceLength) break;
        if (c > kMinInspectorScale) continue;
        g = std::max(4.0f, std::min(g, (area - kMinTraceLength) / perScale));
        break;
    }
    s.columnScale = c;
    s.traceX = s.labelX + TraceLabelWidth(mono, g) + ch * g / kTraceLabelScale;
    const float room = std::floor(width - s.traceX);
    s.traceLength = room > 0.0f ? static_cast<uint32_t>(room) : 0;

    // Trace labels: wished at their lanes (TraceLabelY), stacked without overlap
    // between the lanes' bottom (LineHeight) and the strip's top.
    TraceLane lanes[kTraceCount];
    TraceLanesFor(L, lanes);
    const FontExtent monoExtent = PrintableExtent(mono);
    for (;; g *= 0.95f) {
        const float height = (monoExtent.ascent + monoExtent.descent) * g;
        // Intervals bottom-up: label q's ink spans [y - descent, y + ascent].
        float start[kTraceCount], length[kTraceCount];
        for (int q = 0; q < kTraceCount; ++q) {
            const int i = kTraceCount - 1 - q;
            // A smaller label keeps its top where the full-size one would have it.
            const float wished = TraceLabelY(lanes, i, L.CharHeight) + monoExtent.ascent * (kTraceLabelScale - g);
            start[q] = wished - monoExtent.descent * g;
            length[q] = height;
        }
        // Wished positions must be in order (the lanes' rule keeps them so).
        for (int q = 1; q < kTraceCount; ++q) start[q] = std::max(start[q], start[q - 1]);
        const bool fits = SpreadIntervals(start, length, kTraceCount, L.LineHeight, L.PaneTop, 1.0f);
        for (int q = 0; q < kTraceCount; ++q) s.labelY[kTraceCount - 1 - q] = start[q] + monoExtent.descent * g;
        if (fits || g < 5.0f) break;
    }
    s.labelScale = g;

    // Span label: the row under the lanes, right-aligned.
    s.spanRight = width - 8.0f;
    s.spanY = s.bottomCaptionY;
    return s;
}
