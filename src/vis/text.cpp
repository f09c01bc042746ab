// Outline fonts and text primitives.
//
// Sections:
//   1. Font records and the Windows-1252 byte mapping
//   2. Font matching (fontconfig) and outline extraction (FreeType)
//   3. Tessellation into display lists (GLU)
//   4. Text primitives
#include "vis/text.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <cstdarg>
#include <cstring>
#include <array>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/log.h"
#include "vis/view_state.h"

// ---- 1. Font records -------------------------------------------------------------------------------
// The render thread's fonts (display lists in its one GL context) and its shadow
// of the GL lighting flags: globals because every overlay drawing function of
// that thread uses them.
OutlineFont FontHud{"Arial", true, 16, 1000, {}, 1.0f, false};
OutlineFont FontMonoBold{"Courier New", true, 16, 1256, {}, 1.0f, false};
OutlineFont FontMono{"Courier New", false, 16, 1768, {}, 1.0f, false};
OutlineFont FontMonoSmall{"Courier New", true, 8, 1512, {}, 1.0f, false};
GlShadowFlags GlShadow{0, 0, 0};

namespace {

// Bytes 0x80..0x9F as Windows-1252 has them (0 = unassigned); the rest is Latin-1.
const uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint32_t ByteToCodePoint(uint8_t c) {
    if (c >= 0x80 && c <= 0x9F) return kCp1252High[c - 0x80];
    return c;
}

// ---- 2. Font matching and outlines ------------------------------------------------------------------
// fontconfig and FreeType are not thread-safe per library handle: one builder at a time.
std::mutex& BuildMutex() {
    static std::mutex m;
    return m;
}

bool MatchFontFile(const OutlineFont& font, std::string& path, int& index, std::string& family) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(font.face));
    FcPatternAddInteger(pattern, FC_WEIGHT, font.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_OUTLINE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return false;
    FcChar8* file = nullptr;
    FcChar8* name = nullptr;
    int fileIndex = 0;
    bool ok = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch;
    if (FcPatternGetString(match, FC_FAMILY, 0, &name) != FcResultMatch) name = nullptr;
    FcPatternGetInteger(match, FC_INDEX, 0, &fileIndex);
    if (ok) path = reinterpret_cast<const char*>(file);
    family = name ? reinterpret_cast<const char*>(name) : "?";
    index = fileIndex;
    FcPatternDestroy(match);
    return ok;
}

// The family the face should resolve to (metric-compatible stand-ins accepted).
bool FamilyAcceptable(const OutlineFont& font, const std::string& family) {
    if (family == font.face) return true;
    if (std::strcmp(font.face, "Arial") == 0) return family == "Liberation Sans";
    if (std::strcmp(font.face, "Courier New") == 0) return family == "Liberation Mono";
    return false;
}

struct Contours {
    std::vector<std::vector<double>> contours;  // x, y pairs in font units
    FT_Vector last{};
};

int MoveTo(const FT_Vector* to, void* user) {
    auto* c = static_cast<Contours*>(user);
    c->contours.emplace_back();
    c->contours.back().push_back(static_cast<double>(to->x));
    c->contours.back().push_back(static_cast<double>(to->y));
    c->last = *to;
    return 0;
}
int LineTo(const FT_Vector* to, void* user) {
    auto* c = static_cast<Contours*>(user);
    if (c->contours.empty()) c->contours.emplace_back();
    c->contours.back().push_back(static_cast<double>(to->x));
    c->contours.back().push_back(static_cast<double>(to->y));
    c->last = *to;
    return 0;
}
int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
    auto* c = static_cast<Contours*>(user);
    const double x0 = c->last.x, y0 = c->last.y;
    constexpr int kSteps = 8;
    for (int i = 1; i <= kSteps; ++i) {
        const double t = static_cast<double>(i) / kSteps, u = 1.0 - t;
        c->contours.back().push_back(u * u * x0 + 2 * u * t * control->x + t * t * to->x);
        c->contours.back().push_back(u * u * y0 + 2 * u * t * control->y + t * t * to->y);
    }
    c->last = *to;
    return 0;
}
int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    auto* c = static_cast<Contours*>(user);
    const double x0 = c->last.x, y0 = c->last.y;
    constexpr int kSteps = 10;
    for (int i = 1; i <= kSteps; ++i) {
        const double t = static_cast<double>(i) / kSteps, u = 1.0 - t;
        c->contours.back().push_back(u * u * u * x0 + 3 * u * u * t * c1->x + 3 * u * t * t * c2->x +
                                     t * t * t * to->x);
        c->contours.back().push_back(u * u * u * y0 + 3 * u * u * t * c1->y + 3 * u * t * t * c2->y +
                                     t * t * t * to->y);
    }
    c->last = *to;
    return 0;
}

// ---- 3. Tessellation ---------------------------------------------------------------------------------------
// Vertices made by the combine callback live until gluTessEndPolygon. GLU's
// tessellator callbacks take no user pointer in this form, so the store they
// append to is reached through this global, set for one glyph at a time.
std::deque<std::array<double, 3>>* CombineStore = nullptr;

void GLAPIENTRY TessBegin(GLenum type) { glBegin(type); }
void GLAPIENTRY TessEnd() { glEnd(); }
void GLAPIENTRY TessVertex(void* data) { glVertex3dv(static_cast<const GLdouble*>(data)); }
void GLAPIENTRY TessCombine(GLdouble coords[3], void*[4], GLfloat[4], void** out) {
    CombineStore->push_back({coords[0], coords[1], coords[2]});
    *out = CombineStore->back().data();
}
void GLAPIENTRY TessError(GLenum) {}

// Loads the outline of the glyph for `byte` into the face's slot and fills its
// metrics in em units; false (zero metrics) when the font has no outline for it.
bool LoadGlyph(FT_Face face, uint8_t byte, GlyphMetrics& m) {
    const double em = face->units_per_EM ? face->units_per_EM : 2048;
    const uint32_t cp = ByteToCodePoint(byte);
    const FT_UInt glyph = cp ? FT_Get_Char_Index(face, cp) : 0;
    m = GlyphMetrics{};
    if (glyph == 0 || FT_Load_Glyph(face, glyph, FT_LOAD_NO_SCALE) != 0 ||
        face->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
        return false;
    const FT_Glyph_Metrics& gm = face->glyph->metrics;
    m.blackBoxX = static_cast<float>(gm.width / em);
    m.blackBoxY = static_cast<float>(gm.height / em);
    m.originX = static_cast<float>(gm.horiBearingX / em);
    m.originY = static_cast<float>(gm.horiBearingY / em);
    m.cellIncX = static_cast<float>(gm.horiAdvance / em);
    m.cellIncY = 0.0f;
    return true;
}

// Compiles one glyph into list `list`: the filled outline in em units, then a
// translation by the advance.
void CompileGlyph(GLUtesselator* tess, FT_Face face, uint32_t list, uint8_t byte, GlyphMetrics& m) {
    const double em = face->units_per_EM ? face->units_per_EM : 2048;
    Contours contours;
    float advance = 0.0f;
    if (LoadGlyph(face, byte, m)) {
        advance = m.cellIncX;
        FT_Outline_Funcs funcs{MoveTo, LineTo, ConicTo, CubicTo, 0, 0};
        FT_Outline_Decompose(&face->glyph->outline, &funcs, &contours);
        gluTessProperty(tess, GLU_TESS_WINDING_RULE,
                        (face->glyph->outline.flags & FT_OUTLINE_EVEN_ODD_FILL)
                            ? GLU_TESS_WINDING_ODD
                            : GLU_TESS_WINDING_NONZERO);
    }
    // Vertices in em units, kept alive until the polygon ends.
    std::vector<std::vector<std::array<double, 3>>> points;
    for (auto& contour : contours.contours) {
        std::vector<std::array<double, 3>> p;
        for (size_t i = 0; i + 1 < contour.size(); i += 2) p.push_back({contour[i] / em, contour[i + 1] / em, 0.0});
        // The closing point repeats the first one: drop it.
        while (p.size() > 1 && p.back()[0] == p.front()[0] && p.back()[1] == p.front()[1]) p.pop_back();
        if (p.size() >= 3) points.push_back(std::move(p));
    }
    std::deque<std::array<double, 3>> combined;
    CombineStore = &combined;
    glNewList(list, GL_COMPILE);
    if (!points.empty()) {
        gluTessBeginPolygon(tess, nullptr);
        for (auto& contour : points) {
            gluTessBeginContour(tess);
            for (auto& v : contour) gluTessVertex(tess, v.data(), v.data());
            gluTessEndContour(tess);
        }
        gluTessEndPolygon(tess);
    }
    glTranslatef(advance, 0.0f, 0.0f);
    glEndList();
    CombineStore = nullptr;
}

// The font file matched for `font`, opened; its cell height goes into the record.
// Null (and a log line saying why) when none could be loaded.
FT_Face OpenFontFace(OutlineFont& font, FT_Library& library, std::string& path, std::string& family) {
    int index = 0;
    library = nullptr;
    if (!FcInit() || !MatchFontFile(font, path, index, family)) {
        LogMessage(LogError, 0, "No outline font found for \"%s\".", font.face);
        return nullptr;
    }
    if (!FamilyAcceptable(font, family))
        LogMessage(LogWarning, 0, "Font \"%s\" is not installed; using \"%s\" instead.", font.face,
                   family.c_str());
    if (FT_Init_FreeType(&library) != 0) {
        LogMessage(LogError, 0, "FreeType could not be initialised.");
        library = nullptr;
        return nullptr;
    }
    FT_Face face = nullptr;
    if (FT_New_Face(library, path.c_str(), index, &face) != 0 || !FT_IS_SCALABLE(face)) {
        LogMessage(LogError, 0, "Font file \"%s\" could not be loaded.", path.c_str());
        if (face) FT_Done_Face(face);
        FT_Done_FreeType(library);
        library = nullptr;
        return nullptr;
    }
    const double em = face->units_per_EM ? face->units_per_EM : 2048;
    const TT_OS2* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const double cell = os2 && os2->usWinAscent + os2->usWinDescent > 0
                            ? static_cast<double>(os2->usWinAscent + os2->usWinDescent)
                            : static_cast<double>(face->height);
    font.cellHeightEm = static_cast<float>(cell / em);
    return face;
}

}  // namespace

bool LoadOutlineFontMetrics(OutlineFont& font) {
    std::lock_guard<std::mutex> guard(BuildMutex());
    FT_Library library = nullptr;
    std::string path, family;
    FT_Face face = OpenFontFace(font, library, path, family);
    if (!face) return false;
    for (int c = 0; c < kGlyphCount; ++c) LoadGlyph(face, static_cast<uint8_t>(c), font.metrics[c]);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return true;
}

bool BuildOutlineFont(OutlineFont& font) {
    std::lock_guard<std::mutex> guard(BuildMutex());
    font.ready = false;
    FT_Library library = nullptr;
    std::string path, family;
    FT_Face face = OpenFontFace(font, library, path, family);
    if (!face) return false;
    GLUtesselator* tess = gluNewTess();
    if (!tess) {
        FT_Done_Face(face);
        FT_Done_FreeType(library);
        return false;
    }
    gluTessCallback(tess, GLU_TESS_BEGIN, reinterpret_cast<_GLUfuncptr>(TessBegin));
    gluTessCallback(tess, GLU_TESS_END, reinterpret_cast<_GLUfuncptr>(TessEnd));
    gluTessCallback(tess, GLU_TESS_VERTEX, reinterpret_cast<_GLUfuncptr>(TessVertex));
    gluTessCallback(tess, GLU_TESS_COMBINE, reinterpret_cast<_GLUfuncptr>(TessCombine));
    gluTessCallback(tess, GLU_TESS_ERROR, reinterpret_cast<_GLUfuncptr>(TessError));
    gluTessNormal(tess, 0.0, 0.0, 1.0);
    for (int c = 0; c < kGlyphCount; ++c)
        CompileGlyph(tess, face, font.listBase + c, static_cast<uint8_t>(c), font.metrics[c]);
    gluDeleteTess(tess);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    font.ready = glGetError() == GL_NO_ERROR;
    if (font.ready)
        LogMessage(LogInfo, 0, "Font \"%s\"%s: %s (%s).", font.face, font.bold ? " bold" : "",
                   family.c_str(), path.c_str());
    return font.ready;
}

void DeleteOutlineFont(OutlineFont& font) {
    glDeleteLists(font.listBase, 256);
    font.ready = false;
}

float FontEmPixels(const OutlineFont& font) {
    return font.cellHeightEm > 0.0f ? static_cast<float>(font.height) / font.cellHeightEm
                                    : static_cast<float>(font.height);
}

// ---- 4. Text primitives -----------------------------------------------------------------------------------
namespace {

// Turns the text plane to face the camera.
void TurnToCamera() {
    glRotatef(360.0f - CameraYaw - AutoRotation, 0.0f, 1.0f, 0.0f);
    glRotatef(0.0f - CameraPitch, 1.0f, 0.0f, 0.0f);
}

void CallLists(uint32_t firstList, const OverlayText& t) {
    if (t.length <= 0) return;
    glListBase(firstList);
    glCallLists(t.length, GL_UNSIGNED_BYTE, t.text);
}

}  // namespace

void DrawHudText(GlShadowFlags& flags, float scale, uint32_t firstList, float x, float y,
                 const char* format, ...) {
    va_list args;
    va_start(args, format);
    const OverlayText t = FormatOverlayTextV(format, args);
    va_end(args);
    const bool lighting = flags.lighting, culling = flags.culling, blending = flags.blending;
    if (lighting) {
        glDisable(GL_LIGHTING);
        flags.lighting = 0;
    }
    if (!blending) {
        glEnable(GL_BLEND);
        flags.blending = 1;
    }
    glPushMatrix();
    glLoadIdentity();
    glTranslatef(x, y, 0.0f);
    glScalef(scale, scale, 1.0f);
    CallLists(firstList, t);
    glPopMatrix();
    if (lighting) {
        glEnable(GL_LIGHTING);
        flags.lighting = 1;
    }
    if (culling) {
        glEnable(GL_CULL_FACE);
        flags.culling = 1;
    }
    if (!blending) {
        glDisable(GL_BLEND);
        flags.blending = 0;
    }
}

void DrawText3D(float scale, uint32_t firstList, float x, float y, float z, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const OverlayText t = FormatOverlayTextV(format, args);
    va_end(args);
    glPushMatrix();
    glTranslatef(x, y, z);
    glScalef(scale, scale, scale);
    CallLists(firstList, t);
    glPopMatrix();
}

void DrawTextCentred(const GlyphMetrics* metrics, float scale, uint32_t firstList, float x, float y,
                     float z, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const OverlayText t = FormatOverlayTextV(format, args);
    va_end(args);
    const float w = CentredTextWidth(metrics, scale, t.text);
    glPushMatrix();
    glTranslatef(x - w / 2.0f, y, z);
    glScalef(scale, scale, scale);
    CallLists(firstList, t);
    glPopMatrix();
}

void DrawTextBillboard(float scale, uint32_t firstList, float x, float y, float z,
                       const char* format, ...) {
    va_list args;
    va_start(args, format);
    const OverlayText t = FormatOverlayTextV(format, args);
    va_end(args);
    glPushMatrix();
    glTranslatef(x, y, z);
    TurnToCamera();
    glScalef(scale, scale, scale);
    CallLists(firstList, t);
    glPopMatrix();
}

void BillboardAxes(float scale, float right[3], float up[3]) {
    GLfloat m[16];
    glPushMatrix();
    glLoadIdentity();
    TurnToCamera();
    glScalef(scale, scale, scale);
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    glPopMatrix();
    for (int a = 0; a < 3; ++a) {
        right[a] = m[a];
        up[a] = m[4 + a];
    }
}
