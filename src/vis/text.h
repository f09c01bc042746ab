// Outline fonts as display lists and the four text primitives.
//
// Each font's glyphs 0..254 are FreeType outlines (matched through fontconfig)
// tessellated with the GLU tessellator into one display list per glyph, in em
// units, each list ending with a translation by the glyph's advance.
//
// Sections: fonts, GL shadow flags, text primitives.
#pragma once

#include <cstdint>

#include "vis/layout.h"

// ---- Fonts ----------------------------------------------------------------------------------------
struct OutlineFont {
    const char* face;      // the face asked for ("Arial", "Courier New")
    bool bold;
    int height;            // cell height in pixels of the raster font it stands for
    uint32_t listBase;     // first display list
    GlyphMetrics metrics[kGlyphCount];
    float cellHeightEm;    // ascent + descent in em units
    bool ready;
};
extern OutlineFont FontHud;        // "Arial" 16 bold, lists from 1000
extern OutlineFont FontMonoBold;   // "Courier New" 16 bold, lists from 1256
extern OutlineFont FontMono;       // "Courier New" 16 regular, lists from 1768
extern OutlineFont FontMonoSmall;  // "Courier New" 8 bold, lists from 1512

// Builds the lists of one font into the current GL context. False (and a log line
// saying why) when no font file could be loaded.
bool BuildOutlineFont(OutlineFont& font);
// Fills only the glyph metrics and the cell height (no GL): what layout tests
// measure with.
bool LoadOutlineFontMetrics(OutlineFont& font);
void DeleteOutlineFont(OutlineFont& font);
// Pixels per em of the raster font the outline font stands for.
float FontEmPixels(const OutlineFont& font);

// ---- GL shadow flags ----------------------------------------------------------------------------------
// Kept beside the GL state so that text drawing can restore it cheaply.
struct GlShadowFlags {
    uint8_t lighting, culling, blending;
};
extern GlShadowFlags GlShadow;  // render thread only

// ---- Text primitives (printf-style, 256-byte buffer) -------------------------------------------------------
void DrawHudText(GlShadowFlags& flags, float scale, uint32_t firstList, float x, float y,
                 const char* format, ...) __attribute__((format(printf, 6, 7)));
void DrawText3D(float scale, uint32_t firstList, float x, float y, float z, const char* format, ...)
    __attribute__((format(printf, 6, 7)));
void DrawTextCentred(const GlyphMetrics* metrics, float scale, uint32_t firstList, float x, float y,
                     float z, const char* format, ...) __attribute__((format(printf, 7, 8)));
void DrawTextBillboard(float scale, uint32_t firstList, float x, float y, float z,
                       const char* format, ...) __attribute__((format(printf, 6, 7)));
// Where DrawTextBillboard puts one em of its text across (right) and up (up) in the
// coordinates it is called in: the same turn towards the camera, times scale.
void BillboardAxes(float scale, float right[3], float up[3]);
