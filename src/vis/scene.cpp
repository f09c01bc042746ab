// One scene frame and the scene's life on the render thread.
//
// Sections:
//   1. Geometry object and scene life
//   2. Small GL helpers
//   3. Inspector 3D view: connections, picker plane
//   4. Lower strip: picker, captions, property column, traces
//   5. HUD
//   6. DrawScene
//   7. Mouse callbacks
#include "vis/scene.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <GLFW/glfw3.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "analysis/stimulus.h"
#include "engine/view_snapshot.h"
#include "io/app_state.h"
#include "platform/platform.h"
#include "vis/camera.h"
#include "vis/gl_setup.h"
#include "vis/overlay_layout.h"
#include "vis/palette.h"
#include "vis/render_thread.h"
#include "vis/scene_geometry.h"
#include "vis/scene_layout.h"
#include "vis/text.h"
#include "vis/text_layout.h"
#include "vis/view_state.h"

// ---- 1. Geometry object and scene life -------------------------------------------------------------
// The render thread's scene objects: one window, one scene, touched by the render
// thread only (StateLock held).
SceneGeometry* Geometry = nullptr;

namespace {
TraceStore Traces;
GLUquadric* SphereQuadric = nullptr;
}  // namespace

bool BuildScene(AppState& state) {
    BuildPalettes(&state);
    delete Geometry;
    if (WireframeMode)
        Geometry = new NeuronLineGeometry(ColorBufferMode, MsaaFormatFound.load() && FramebufferObjectsAvailable());
    else
        Geometry = new NeuronCubeGeometry();
    return Geometry->Build(&state);
}

void ReleaseScene() {
    if (Geometry) Geometry->Release();
}

void ResetInspector() {
    PickedX = PickedY = kNoPick;
    NeuronInspected = false;
    InspectedNeuron = 0;
    TraceReset = false;
    ReleaseTraceStore(Traces);
}

void ApplyViewChanges() {
    if (TraceLayoutDirty.exchange(false)) ReleaseTraceStore(Traces);
    if (SceneOrderDirty.exchange(false) && Geometry) Geometry->MarkDirty();
}

void DestroyScene() {
    delete Geometry;
    Geometry = nullptr;
    ReleaseTraceStore(Traces);
    if (SphereQuadric) gluDeleteQuadric(SphereQuadric);
    SphereQuadric = nullptr;
}

// ---- 2. Small GL helpers ------------------------------------------------------------------------------
namespace {

void SetLighting(bool on) {
    if (on)
        glEnable(GL_LIGHTING);
    else
        glDisable(GL_LIGHTING);
    GlShadow.lighting = on ? 1 : 0;
}

void SetPerspective(float aspect) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, aspect, 1.0, 1000000.0);
    glMatrixMode(GL_MODELVIEW);
}

void SetOrtho(float width, float height) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0.0, width, 0.0, height);
    glMatrixMode(GL_MODELVIEW);
}

void ApplyNetworkRotation() {
    glTranslatef(0.0f, 0.0f, Zoom);
    glRotatef(CameraPitch, 1.0f, 0.0f, 0.0f);
    glRotatef(CameraYaw + AutoRotation, 0.0f, 1.0f, 0.0f);
}

void Colour(const Rgba& c) { glColor4f(c.r, c.g, c.b, c.a); }

void Extent(const AppState& state, float e[3]) {
    e[0] = state.params.extentX;
    e[1] = state.params.extentY;
    e[2] = state.params.extentZ;
}

void Vertex(const float p[3], const float e[3]) {
    float s[3];
    ScenePosition(p, e, s);
    glVertex3fv(s);
}

void Rectangle(float x0, float y0, float x1, float y1) {
    glBegin(GL_LINE_LOOP);
    glVertex2f(x0, y0);
    glVertex2f(x1, y0);
    glVertex2f(x1, y1);
    glVertex2f(x0, y1);
    glEnd();
}

}  // namespace

// ---- 3. Inspector 3D view ------------------------------------------------------------------------------
namespace {

// The neuron's soma-to-terminal line in the activity palette and its axon as D
// segments coloured by the potential travelling along its delay line (inside
// glBegin(GL_LINES)). Positions and the line length come from the network (they
// never change); v, the line's head and its values from the view frame.
void AxonLines(const Neuron& s, float v, uint32_t delayIndex, const float* filtered, const float e[3]) {
    glColor4ubv(ActivityPalette[PotentialPaletteIndex(v)]);
    Vertex(s.somaPos, e);
    Vertex(s.axonTerminal, e);
    const uint32_t D = s.delayLength;
    if (D == 0 || !s.delayFiltered || !filtered) return;
    uint32_t index = delayIndex;
    if (index >= D) index = 0;
    float from[3], to[3];
    for (int a = 0; a < 3; ++a) from[a] = s.somaPos[a];
    for (uint32_t i = 0; i < D; ++i) {
        const float f = static_cast<float>(i + 1) / static_cast<float>(D);
        for (int a = 0; a < 3; ++a) to[a] = s.somaPos[a] + (s.axonTerminal[a] - s.somaPos[a]) * f;
        const float potential = filtered[AxonDelayEntry(index, i, D)];
        glColor4ubv(AxonPalette[PotentialPaletteIndex(potential)]);
        Vertex(from, e);
        Vertex(to, e);
        for (int a = 0; a < 3; ++a) from[a] = to[a];
    }
}

void DrawPickerPlane(const AppState& state) {
    const float X = state.params.extentX, Y = state.params.extentY;
    const float z = PickerPlaneZ(SelectedSlice.load(), state.params.extentZ);
    glColor4ub(255, 255, 0, 255);
    glBegin(GL_LINE_STRIP);
    glVertex3f(1 + X, 1 + Y, z);
    glVertex3f(-1 - X, 1 + Y, z);
    glVertex3f(-1 - X, -1 - Y, z);
    glVertex3f(1 + X, -1 - Y, z);
    glVertex3f(1 + X, 1 + Y, z);
    glEnd();
}

}  // namespace

void DrawNeuronConnections(AppState& state, const ViewFrame& view) {
    const Neuron& n = view.record;
    float e[3];
    Extent(state, e);
    SetLighting(false);
    uint32_t incoming = n.excIncomingCount + n.inhIncomingCount;
    if (incoming > n.incomingCount) incoming = n.incomingCount;
    glBegin(GL_LINES);
    for (uint32_t i = 0; i < incoming; ++i) {
        const ViewIncoming& in = view.incoming[i];
        const Neuron& s = state.neurons[in.pre];
        glColor4f(0.1f, 0.1f, 1.0f, 1.0f);
        Vertex(n.somaPos, e);
        Vertex(s.axonTerminal, e);
        AxonLines(s, in.preV, in.preDelayIndex, view.filtered + in.filteredOffset, e);
    }
    AxonLines(n, n.v, n.delayIndex, n.delayFiltered, e);
    if (n.delayFiltered && n.delayLength > 0) {
        uint32_t index = n.delayIndex;
        if (index >= n.delayLength) index = 0;
        glColor4ubv(AxonPalette[PotentialPaletteIndex(n.delayFiltered[index])]);
    }
    for (uint32_t i = 0; i < n.outgoingCount; ++i) {
        Vertex(n.axonTerminal, e);
        Vertex(state.neurons[view.outgoing[i]].somaPos, e);
    }
    glEnd();

    if (SynapticStrengthView.load() && incoming > 0) {
        // Only labels that can be read: many presynaptic neurons sit close to the
        // inspected one, and all their labels would pile into one clump there. A
        // label is drawn at least as large as the raster font the small mono font
        // stands for (far or in a small window it grows to that), and its screen box
        // is its text's glyph boxes carried through the billboard and the projection
        // the drawing uses. Labels the near or far plane would cut are left out.
        constexpr float kLabelScale = 2.0f;
        const float minEmPixels = FontEmPixels(FontMonoSmall);
        GLdouble model[16], projection[16];
        GLint viewport[4];
        glGetDoublev(GL_MODELVIEW_MATRIX, model);
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        glGetIntegerv(GL_VIEWPORT, viewport);
        float right[3], up[3];
        BillboardAxes(1.0f, right, up);
        auto project = [&](const float* p, float u, float v, GLdouble* w) {
            gluProject(p[0] + u * right[0] + v * up[0], p[1] + u * right[1] + v * up[1],
                       p[2] + u * right[2] + v * up[2], model, projection, viewport, &w[0], &w[1], &w[2]);
        };
        std::vector<TextBox> boxes;
        std::vector<float> weight, scale;
        std::vector<uint32_t> label;
        for (uint32_t i = 0; i < incoming; ++i) {
            float p[3];
            ScenePosition(state.neurons[view.incoming[i].pre].somaPos, e, p);
            GLdouble anchor[3], across[3];
            project(p, 0.0f, 0.0f, anchor);
            project(p, kLabelScale, 0.0f, across);
            const float emPixels = static_cast<float>(std::hypot(across[0] - anchor[0], across[1] - anchor[1]));
            const float s = emPixels > 0.0f && emPixels < minEmPixels ? kLabelScale * minEmPixels / emPixels
                                                                      : kLabelScale;
            const OverlayText t = FormatOverlayText("%.3f", static_cast<double>(view.incoming[i].weight));
            const TextBox em = TextCoverBox(FontMonoSmall.metrics, s, 0.0f, 0.0f, t.text);
            TextBox box{1e30f, 1e30f, -1e30f, -1e30f};
            bool inDepth = true;
            for (int c = 0; c < 4 && inDepth; ++c) {
                GLdouble w[3];
                project(p, c & 1 ? em.x1 : em.x0, c & 2 ? em.y1 : em.y0, w);
                inDepth = w[2] >= 0.0 && w[2] <= 1.0;
                box = {std::min(box.x0, static_cast<float>(w[0])), std::min(box.y0, static_cast<float>(w[1])),
                       std::max(box.x1, static_cast<float>(w[0])), std::max(box.y1, static_cast<float>(w[1]))};
            }
            if (!inDepth) continue;
            boxes.push_back(box);
            weight.push_back(view.incoming[i].weight);
            scale.push_back(s);
            label.push_back(i);
        }
        std::vector<int> keep(boxes.size());
        const int kept =
            SelectReadableLabels(boxes.data(), weight.data(), static_cast<int>(boxes.size()), 2.0f, keep.data());
        glColor4f(1.0f, 1.0f, 0.0f, 0.66f);
        for (int k = 0; k < kept; ++k) {
            const size_t j = static_cast<size_t>(keep[static_cast<size_t>(k)]);
            const uint32_t i = label[j];
            float p[3];
            ScenePosition(state.neurons[view.incoming[i].pre].somaPos, e, p);
            DrawTextBillboard(scale[j], FontMonoSmall.listBase, p[0], p[1], p[2], "%.3f",
                              static_cast<double>(view.incoming[i].weight));
        }
    }

    SetLighting(true);
    if (!SphereQuadric) SphereQuadric = gluNewQuadric();
    if (SphereQuadric) {
        float p[3];
        ScenePosition(n.somaPos, e, p);
        glColor4f(0.1f, 0.1f, 0.66f, 1.0f);
        glPushMatrix();
        glTranslatef(p[0], p[1], p[2]);
        gluSphere(SphereQuadric, 0.75, 10, 8);
        glPopMatrix();
    }
}

// ---- 4. Lower strip --------------------------------------------------------------------------------------
namespace {

void DrawPicker(const AppState& state, const Neuron* neurons, const float* v, const LayoutMetrics& L) {
    const uint32_t A = state.params.gridX, B = state.params.gridY;
    const uint32_t slice = SelectedSlice.load();
    const float cell = L.PickerCell;
    glBegin(GL_QUADS);
    for (uint32_t b = 0; b < B; ++b) {
        for (uint32_t a = 0; a < A; ++a) {
            const uint32_t k = PickerNeuronIndex(a, b, A, B, slice);
            if (k >= state.neuronCount) continue;
            Colour(PickerCellColour(v[k], neurons[k].isExcitatory != 0));
            float x, y;
            PickerCellOrigin(a, b, A, L, &x, &y);
            glVertex2f(x, y);
            glVertex2f(x + cell, y);
            glVertex2f(x + cell, y + cell);
            glVertex2f(x, y + cell);
        }
    }
    glEnd();
    glColor4f(0.2f, 0.2f, 0.2f, 1.0f);
    glBegin(GL_LINES);
    for (uint32_t k = 1; k < A; ++k) {
        const float x = static_cast<float>(k) * cell + 16.0f;
        glVertex2f(x, L.LineHeight);
        glVertex2f(x, L.PickerTop);
        const float y = static_cast<float>(k) * cell + L.LineHeight;
        glVertex2f(17.0f, y);
        glVertex2f(L.PickerRight - 1.0f, y);
    }
    glEnd();
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    Rectangle(16.0f, L.LineHeight, L.PickerRight, L.PickerTop);
    if (NeuronInspected && PickedX < A && PickedY < B) {
        const float x = static_cast<float>(A - PickedX - 1) * cell + 16.0f;
        const float y = static_cast<float>(PickedY) * cell + L.LineHeight;
        glColor4f(1.0f, 1.0f, 0.0f, 1.0f);
        Rectangle(x, y, x + cell, y + cell);
    }
}

void DrawPropertyColumn(const Neuron& n, const StripLayout& strip, uint32_t step) {
    const PropertyColumn column = BuildPropertyColumn(n, step);
    glColor4f(0.8f, 0.8f, 0.8f, 1.0f);
    for (int i = 0; i < kPropertyLines; ++i)
        DrawHudText(GlShadow, strip.columnScale, FontHud.listBase, strip.columnX, strip.columnY[i], "%s",
                    column.lines[i].text);
}

// The recorded steps of the inspected neuron, labelled with its newest values and
// the time the area spans.
void DrawTraces(AppState& state, const ViewFrame& view, const LayoutMetrics& L, const StripLayout& strip) {
    if (!LayoutTraceStore(Traces, strip.traceX, strip.traceLength, kTraceCapacity)) return;
    if (state.viewSnapshot) {
        if (TraceReset) ResetViewTrace(*state.viewSnapshot);
        SetViewTraceLength(*state.viewSnapshot, Traces.span);
    }
    TraceReset = false;
    TraceLane lanes[kTraceCount];
    TraceLanesFor(L, lanes);
    const float* samples = view.trace ? view.trace[0].q : nullptr;
    for (int q = 0; q < kTraceCount && samples; ++q) {
        const uint32_t count =
            FillTracePoints(Traces, samples, view.traceCount, kTraceQuantities, q, lanes[q], Traces.points);
        Colour(lanes[q].colour);
        glBegin(GL_LINE_STRIP);
        for (uint32_t j = 0; j < count; ++j) glVertex2f(Traces.points[2 * j], Traces.points[2 * j + 1]);
        glEnd();
    }
    float values[kTraceCount];
    TraceValuesOf(view.record, values);
    for (int q = 0; q < kTraceCount; ++q) {
        Colour(TraceLabelColour(lanes[q].colour));
        const OverlayText label = FormatOverlayText(lanes[q].label, static_cast<double>(values[q]));
        DrawHudText(GlShadow, strip.labelScale, FontMono.listBase, strip.labelX, strip.labelY[q], "%s", label.text);
    }
    const OverlayText span =
        FormatOverlayText("last %.0f ms", static_cast<double>(Traces.span) * static_cast<double>(kStepMs));
    glColor4f(0.7f, 0.7f, 0.7f, 1.0f);
    DrawHudText(GlShadow, kSpanLabelScale, FontMono.listBase,
                strip.spanRight - TextAdvance(FontMono.metrics, kSpanLabelScale, span.text), strip.spanY, "%s",
                span.text);
}

}  // namespace

// ---- 5. HUD ------------------------------------------------------------------------------------------------
namespace {

// Tag colours: paused amber, stimulus green, recording and capture red.
void DrawHud(const AppState& state, const LayoutMetrics& L, int32_t W, int32_t H) {
    glViewport(0, 0, W, H);
    SetOrtho(static_cast<float>(W), static_cast<float>(H));
    glLoadIdentity();
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    const bool paused = plat::AtomicLoad(state.SimState) == SimStatePaused;
    const HudLines hud = BuildHudLines(CaptureGate.on.load() != 0, paused, state.neuronCount,
                                       state.params.synapseCount, state.stepCounter.load(), Stats.RecentSpeed,
                                       Stats.AverageSpeed, Stats.RecentFps, Stats.AverageFps,
                                       Stats.FrameMcycles);
    const float step = static_cast<float>(L.CharHeight + 1);
    const float top = static_cast<float>(H - L.CharHeight - 2);
    float lineWidths[4];
    for (int i = 0; i < hud.count; ++i) {
        // A line wider than the window is drawn smaller rather than cut.
        const float scale = HudLineScale(FontMonoBold.metrics, hud.lines[i].text, static_cast<float>(W));
        DrawHudText(GlShadow, scale, FontMonoBold.listBase, 8.0f, top - i * step, "%s", hud.lines[i].text);
        lineWidths[i] = TextPixelWidth(FontMonoBold.metrics, scale, hud.lines[i].text);
    }

    // The configuration sheet changes the engine only while no simulation runs.
    const HudState status{state.params.engineMode == EngineEvent, paused,
                          plat::AtomicLoad(state.stimulusOn) != 0 &&
                              StimulusCanAct(state.params, state.stimulusPeriod),
                          plat::AtomicLoad(state.recordingSpikes) != 0, CaptureGate.on.load() != 0};
    const HudTags tags = BuildHudTags(status);
    const float pad = 4.0f, gap = 12.0f;
    float textWidths[kMaxHudTags], tagWidths[kMaxHudTags];
    for (int i = 0; i < tags.count; ++i) textWidths[i] = TextPixelWidth(FontMonoBold.metrics, 15.0f, tags.text[i]);
    // Smaller tags beside a line rather than a row of their own over the 3D view.
    const float tagScale =
        HudTagScale(lineWidths, hud.count, textWidths, tags.count, pad, static_cast<float>(W), gap);
    for (int i = 0; i < tags.count; ++i) tagWidths[i] = textWidths[i] * tagScale / 15.0f + 2.0f * pad;
    const HudPlacement place = PlaceHudTags(lineWidths, hud.count, tagWidths, tags.count, static_cast<float>(W), gap);
    // A row of their own keeps its box clear of the line above: a box reaches from
    // 0.3 of the scale below the baseline to 0.85 above it.
    const bool ownRow = place.tagRow >= hud.count;
    const float ownRowDrop = std::max(step, 1.2f * tagScale + 4.0f);
    const float tagY = ownRow ? top - static_cast<float>(hud.count - 1) * step - ownRowDrop : top - place.tagRow * step;
    const bool lit = GlShadow.lighting != 0;
    SetLighting(false);
    for (int i = 0; i < tags.count; ++i) {
        Colour(HudTagColour(tags.text[i]));
        Rectangle(place.tagX[i], tagY - 0.3f * tagScale - 1.0f, place.tagX[i] + tagWidths[i],
                  tagY + 0.85f * tagScale + 1.0f);
        DrawHudText(GlShadow, tagScale, FontMonoBold.listBase, place.tagX[i] + pad, tagY, "%s", tags.text[i]);
    }
    float lowest = ownRow && tags.count > 0 ? tagY : top - static_cast<float>(hud.count - 1) * step;
    char notice[160];
    if (ViewNoticeAt(plat::TimeMs(), notice, sizeof notice)) {
        glColor4f(1.0f, 1.0f, 0.4f, 1.0f);
        lowest -= ownRow ? ownRowDrop : step;
        DrawHudText(GlShadow, 15.0f, FontMonoBold.listBase, 8.0f, lowest, "%s", notice);
    }
    SetLighting(lit);
    // The analysis charts stay below the lowest HUD row (its ink reaches a third of
    // the scale under the baseline).
    ChartCeiling = lowest - 0.3f * 15.0f - 6.0f;
}

}  // namespace

// ---- 6. DrawScene -----------------------------------------------------------------------------------------
void DrawScene(AppState& state) {
    const LayoutMetrics L = Layout;
    SceneLayout = L;
    const int32_t W = WindowWidth.load(), H = WindowHeight.load();
    const Neuron* neurons = state.viewNeurons.load();
    const bool full = FullView.load();

    if (AutoRotate.load()) AutoRotation = AdvanceAutoRotation(AutoRotation);
    glClear(GL_COLOR_BUFFER_BIT);

    // Main view.
    const int32_t paneWidth = static_cast<int32_t>(L.HalfWidth);
    const int32_t paneHeight = static_cast<int32_t>(L.PaneSplit);
    const int32_t paneY = static_cast<int32_t>(static_cast<float>(H) - L.PaneSplit);
    const float paneAspect = L.PaneSplit > 0.0f ? L.HalfWidth / L.PaneSplit : 1.0f;
    if (full) {
        glViewport(0, 0, W, H);
        SetPerspective(H > 0 ? static_cast<float>(W) / static_cast<float>(H) : 1.0f);
    } else {
        glViewport(0, paneY, paneWidth, H - paneY);
        SetPerspective(paneAspect);
    }
    glLoadIdentity();
    gluLookAt(CameraX, CameraY, CameraDistance, TargetX, TargetY, TargetZ, 0.0, 1.0, 0.0);
    glPushMatrix();
    ApplyNetworkRotation();
    if (Geometry) Geometry->Draw();
    glPopMatrix();

    // The inspector shows a neuron once the view frame carries its details (the
    // frame after the pick, while running).
    const ViewFrame* view = DrawnView;
    const bool inspected = NeuronInspected && neurons && view && InspectedNeuron < state.neuronCount &&
                           view->inspected == InspectedNeuron;
    if (!full) {
        // Inspector 3D view.
        glViewport(W - paneWidth, paneY, paneWidth, paneHeight);
        SetPerspective(paneAspect);
        glPushMatrix();
        ApplyNetworkRotation();
        if (inspected) DrawNeuronConnections(state, *view);
        SetLighting(false);
        DrawVolumeBox(state);
        DrawPickerPlane(state);
        SetLighting(true);
        glPopMatrix();

        // Lower strip.
        glViewport(0, 0, W, static_cast<int32_t>(L.PaneTop));
        SetOrtho(static_cast<float>(W), L.PaneTop);
        glPushMatrix();
        glLoadIdentity();
        SetLighting(false);
        if (neurons && view) DrawPicker(state, neurons, view->v, L);
        const StripLayout strip =
            LayoutLowerStrip(L, static_cast<float>(W), FontHud.metrics, FontMono.metrics);
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        DrawHudText(GlShadow, kCaptionScale, FontHud.listBase, 16.0f, strip.topCaptionY, "%s", kTopCaption);
        DrawHudText(GlShadow, kCaptionScale, FontHud.listBase, 16.0f, strip.bottomCaptionY, "%s", kBottomCaption);
        if (inspected) {
            DrawPropertyColumn(view->record, strip, state.stepCounter.load());
            DrawTraces(state, *view, L, strip);
        }
        SetLighting(true);
        glPopMatrix();
    }
    ChartFloor = full ? 0.0f : L.PaneTop + 6.0f;

    DrawHud(state, L, W, H);
    // Leave the window's own projection for the overlays drawn after the scene.
    glViewport(0, 0, W, H);
    SetPerspective(H > 0 ? static_cast<float>(W) / static_cast<float>(H) : 1.0f);
    glLoadIdentity();
}

// ---- 7. Mouse callbacks --------------------------------------------------------------------------------------
namespace {

AppState* OwnerOf(GLFWwindow* window) { return static_cast<AppState*>(glfwGetWindowUserPointer(window)); }

// Where the pointer was at the last motion event. A button event handled late (the
// main thread waited for a frame) must use the place the button went down, not the
// pointer's place now, which glfwGetCursorPos asks the X server for. Main thread
// only; globals as the one window's GLFW callbacks keep them (its user pointer is
// the AppState).
double EventX = 0.0, EventY = 0.0;
bool EventSeen = false;

void OnMouseButton(GLFWwindow* window, int button, int action, int) {
    AppState* state = OwnerOf(window);
    if (!state) return;
    double x = EventX, y = EventY;
    if (!EventSeen) glfwGetCursorPos(window, &x, &y);
    if (button == GLFW_MOUSE_BUTTON_LEFT) {
        if (action == GLFW_PRESS)
            ViewLeftButtonDown(*state, static_cast<float>(x), static_cast<float>(y));
        else if (action == GLFW_RELEASE)
            ViewLeftButtonUp();
    } else if (button == GLFW_MOUSE_BUTTON_RIGHT && action == GLFW_RELEASE) {
        ViewRightButtonUp();
    }
}

void OnCursorPos(GLFWwindow* window, double x, double y) {
    EventX = x;
    EventY = y;
    EventSeen = true;
    AppState* state = OwnerOf(window);
    if (!state) return;
    const bool left = glfwGetMouseButton(window, GLFW_MOUSE_BUTTON_LEFT) == GLFW_PRESS;
    const bool right = glfwGetMouseButton(window, GLFW_MOUSE_BUTTON_RIGHT) == GLFW_PRESS;
    if (!left && !right) return;
    const bool shift = glfwGetKey(window, GLFW_KEY_LEFT_SHIFT) == GLFW_PRESS ||
                       glfwGetKey(window, GLFW_KEY_RIGHT_SHIFT) == GLFW_PRESS;
    ViewMouseMove(*state, static_cast<float>(x), static_cast<float>(y), left, right, shift);
}

void OnScroll(GLFWwindow* window, double, double yOffset) {
    AppState* state = OwnerOf(window);
    if (!state) return;
    // GLFW reports notches; the zoom rule counts 120 per notch in a signed 16-bit delta.
    double delta = yOffset * 120.0;
    if (delta > 32767.0) delta = 32767.0;
    if (delta < -32768.0) delta = -32768.0;
    ViewMouseWheel(*state, static_cast<int16_t>(delta));
}

}  // namespace

void InstallViewMouseCallbacks(GLFWwindow* window) {
    glfwSetMouseButtonCallback(window, OnMouseButton);
    glfwSetCursorPosCallback(window, OnCursorPos);
    glfwSetScrollCallback(window, OnScroll);
}
