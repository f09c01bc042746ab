// Plain rules of the scene and the neuron inspector.
//
// Sections:
//   1. Inspector state
//   2. Picker
//   3. Property column
//   4. Traces
//   5. Inspector connections
//   6. HUD and auto-rotation
#include "vis/scene_layout.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/geometry.h"
#include "engine/network.h"
#include "platform/version.h"

// ---- 1. Inspector state -----------------------------------------------------------------------------
// The one window's inspector: written by its mouse callbacks and the render
// thread under StateLock, read by the scene and the key commands' view.
uint32_t PickedX = kNoPick, PickedY = kNoPick;
bool NeuronInspected = false;
uint32_t InspectedNeuron = 0;
bool TraceReset = false;
LayoutMetrics SceneLayout{};

// ---- 2. Picker ------------------------------------------------------------------------------------
uint32_t PickerNeuronIndex(uint32_t a, uint32_t b, uint32_t gridX, uint32_t gridY, uint32_t slice) {
    return static_cast<uint32_t>(GridCellIndex(gridX, gridY, a, b, slice));
}

void PickerCellOrigin(uint32_t a, uint32_t b, uint32_t gridX, const LayoutMetrics& layout, float* x,
                      float* y) {
    *x = static_cast<float>(gridX - a - 1) * layout.PickerCell + 16.0f;
    *y = static_cast<float>(b) * layout.PickerCell + layout.LineHeight;
}

Rgba PickerCellColour(float v, bool excitatory) {
    const float s = v * 0.014285714f + 0.5f;
    if (s > 0.0f) {
        const float g = s < 1.0f ? s : 1.0f;
        return {g, g, g, 1.0f};
    }
    return excitatory ? Rgba{0.15f, 0.0f, 0.0f, 1.0f} : Rgba{0.0f, 0.0f, 0.15f, 1.0f};
}

PickResult PickNeuronAt(float x, float y, float windowHeight, const LayoutMetrics& layout,
                        uint32_t gridX, uint32_t gridY, uint32_t neuronCount, uint32_t slice) {
    PickResult result{false, kNoPick, kNoPick, 0};
    const float H = windowHeight;
    if (gridX == 0 || gridY == 0 || neuronCount == 0 || !(layout.PickerCell > 0.0f)) return result;
    if (x < 16.0f || x > layout.PickerRight) return result;
    if (y < H - 4.0f - layout.PaneTop + layout.LineHeight || y > H - 4.0f - layout.PaneTop + layout.PickerTop)
        return result;
    result.hit = true;

    // Column from the left edge; x runs mirrored, so the picked grid x counts from the right.
    const float column = std::floor(std::trunc(x - 16.0f) / layout.PickerCell);
    uint32_t c = column < 1.0f ? 0 : static_cast<uint32_t>(column);
    if (c > gridX - 1) c = gridX - 1;
    result.pickedX = gridX - c - 1;

    // Row from the strip's top, counted downwards from the highest row.
    const float g = std::trunc(y - H + layout.PaneTop) - layout.LineHeight;
    const float row = std::trunc(static_cast<float>(gridY - 1) - std::floor((std::trunc(g) + 4.0f) / layout.PickerCell));
    const float maxRow = static_cast<float>(gridY - 1);
    result.pickedY = static_cast<uint32_t>(row < 0.0f ? 0.0f : (row > maxRow ? maxRow : row));

    const uint64_t neuron = GridCellIndex(gridX, gridY, result.pickedX, result.pickedY, slice);
    result.neuron = neuron > neuronCount - 1 ? neuronCount - 1 : static_cast<uint32_t>(neuron);
    return result;
}

bool InUpperRegion(float y, float windowHeight, float paneTop, bool fullView) {
    const float bottom = fullView ? windowHeight : std::trunc(windowHeight - paneTop);
    return y <= bottom;
}

float PickerPlaneZ(uint32_t slice, float extentZ) {
    return 2.0f * static_cast<float>(slice + 1) - extentZ - 1.0f;
}

// ---- 3. Property column ----------------------------------------------------------------------------
const char* NeuronClassName(uint8_t neuronClass) {
    switch (neuronClass) {
        case 0: return "RS (Regular Spiking)";
        case 1: return "IB (Intrinsically Bursting)";
        case 2: return "CH (Chattering)";
        case 3: return "FS (Fast Spiking)";
        case 4: return "LTS (Low Threshold Spiking)";
        default: return "UNK (Unknown)";
    }
}

PropertyColumn BuildPropertyColumn(const Neuron& n, uint32_t stepCounter) {
    PropertyColumn column{};
    OverlayText* t = column.lines;
    t[0] = FormatOverlayText("Neuron type: %s", n.isExcitatory == 1 ? "EXCITATORY" : "INHIBITORY");
    t[1] = FormatOverlayText("%s", NeuronClassName(n.neuronClass));
    t[2] = FormatOverlayText("Synaptic receptors: %d", static_cast<int>(n.incomingCount));
    t[3] = FormatOverlayText("Exci: %d  Inhi: %d", static_cast<int>(n.excIncomingCount),
                             static_cast<int>(n.inhIncomingCount));
    float squared = 0.0f;
    for (int a = 0; a < 3; ++a) {
        const float d = n.axonTerminal[a] - n.somaPos[a];
        squared += d * d;
    }
    t[4] = FormatOverlayText("Axon length: %.2f mm", static_cast<double>(std::sqrt(squared)));
    t[5] = FormatOverlayText("Axon terminals: %d", static_cast<int>(n.outgoingCount));
    const double simulatedMs = static_cast<double>(stepCounter) * 0.5;
    const double rate = 1000.0 * n.spikeCount / (simulatedMs > 1000.0 ? simulatedMs : 1000.0);
    t[6] = FormatOverlayText("Tot. spikes: %d (%.1f/s)", static_cast<int>(n.spikeCount), rate);
    if (n.lastSpikeStep != -1)
        t[7] = FormatOverlayText("Last spike@ %.1f ms", static_cast<double>(n.lastSpikeStep) * 0.5);
    else
        t[7] = FormatOverlayText("Last spike: Never");
    t[8] = FormatOverlayText("Neuron parameters:");
    t[9] = FormatOverlayText("a = %.3f  b = %.3f", static_cast<double>(n.a), static_cast<double>(n.b));
    t[10] = FormatOverlayText("c = %.3f  d = %.3f", static_cast<double>(n.c), static_cast<double>(n.d));
    t[11] = FormatOverlayText("Vpeak = %.3f mV", static_cast<double>(n.vPeak));

    return column;
}

// ---- 4. Traces ----------------------------------------------------------------------------------------
void TraceLanesFor(const LayoutMetrics& m, TraceLane lanes[kTraceCount]) {
    const float top0 = m.PaneTop;
    const float top1 = m.PaneTop - m.PickerHalf;
    const float top2 = m.PaneTop - m.PickerHalf - m.PickerQuarter;
    lanes[0] = {top0, m.PickerHalf, {1.0f, 0.5f, 0.5f, 1.0f}, "V: %.2f mV", 50.0f};
    lanes[1] = {top0, m.PickerHalf, {0.0f, 0.5f, 0.5f, 1.0f}, "U: %.2f", 0.0f};
    lanes[2] = {top1, m.PickerQuarter, {0.7f, 0.7f, 0.0f, 1.0f}, "gAMPA: %.3f nS", 0.0f};
    lanes[3] = {top1, m.PickerQuarter, {0.7f, 0.7f, 0.7f, 1.0f}, "gNMDA: %.3f nS", 0.0f};
    lanes[4] = {top2, m.PickerQuarter, {0.0f, 0.7f, 0.7f, 1.0f}, "gGABAa: %.3f nS", 0.0f};
    lanes[5] = {top2, m.PickerQuarter, {0.7f, 0.7f, 0.7f, 1.0f}, "gGABAb: %.3f nS", 0.0f};
}

void TraceValuesOf(const Neuron& n, float values[kTraceCount]) {
    values[0] = n.v;
    values[1] = n.u;
    values[2] = n.gAmpa;
    values[3] = n.gNmda;
    values[4] = n.gGabaA;
    values[5] = n.gGabaB;
}

uint32_t TraceSpanSteps(uint32_t length, uint32_t capacity) {
    const uint32_t steps = length < capacity ? length : capacity;
    return steps >= 20 ? steps - steps % 20 : steps;
}

void ReleaseTraceStore(TraceStore& store) {
    std::free(store.points);
    store = TraceStore{};
}

bool LayoutTraceStore(TraceStore& store, float traceX, uint32_t length, uint32_t capacity) {
    if (store.points && store.TraceLength == length && store.TraceX == traceX) return true;
    ReleaseTraceStore(store);
    const uint32_t span = TraceSpanSteps(length, capacity);
    if (span == 0) return false;
    store.points = static_cast<float*>(std::calloc(2 * static_cast<size_t>(span), sizeof(float)));
    if (!store.points) return false;
    store.TraceLength = length;
    store.TraceX = traceX;
    store.span = span;
    return true;
}

TraceScale ScaleTrace(float maximum, float minimum, float minHalfSpan) {
    if (maximum - minimum < minHalfSpan) {
        const float centre = (maximum + minimum) * 0.5f;
        maximum = centre + minHalfSpan;
        minimum = centre - minHalfSpan;
    }
    const float r = (maximum + (maximum - minimum) * 0.1f) - minimum;
    return {minimum, r > 0.01f ? r : 0.01f};
}

float TraceSampleY(const TraceScale& scale, float bottom, float height, float value) {
    const float y = bottom + ((height - 1.0f) / scale.range) * (value - scale.min);
    const float low = y > bottom ? y : bottom;
    return low < bottom + height ? low : bottom + height;
}

uint32_t FillTracePoints(const TraceStore& store, const float* samples, uint32_t count, uint32_t stride,
                         int quantity, const TraceLane& lane, float* points) {
    if (store.span == 0 || count == 0) return 0;
    const uint32_t shown = count < store.span ? count : store.span;
    const float* newest = samples + static_cast<size_t>(count - 1) * stride + quantity;
    float maximum = *newest, minimum = *newest;
    for (uint32_t j = 0; j < shown; ++j) {
        const float v = newest[-static_cast<ptrdiff_t>(j * stride)];
        maximum = v > maximum ? v : maximum;
        minimum = v < minimum ? v : minimum;
    }
    const TraceScale scale = ScaleTrace(maximum, minimum, lane.minHalfSpan);
    const float bottom = lane.top - lane.height;
    const float right = store.TraceX + static_cast<float>(store.TraceLength) - 1.0f;
    const float dx = static_cast<float>(store.TraceLength) / static_cast<float>(store.span);
    for (uint32_t j = 0; j < shown; ++j) {
        points[2 * j] = right - static_cast<float>(j) * dx;
        points[2 * j + 1] = TraceSampleY(scale, bottom, lane.height, newest[-static_cast<ptrdiff_t>(j * stride)]);
    }
    return shown;
}

float TraceLabelY(const TraceLane lanes[kTraceCount], int q, int32_t charHeight) {
    const float ch = static_cast<float>(charHeight);
    float y = lanes[q].top;
    if (q > 0 && std::fabs(lanes[q].top - lanes[q - 1].top) < ch) y = lanes[q].top - 4.0f - ch;
    return y - ch;
}

Rgba TraceLabelColour(const Rgba& c) {
    auto up = [](float v) { return v + 0.2f < 1.0f ? v + 0.2f : 1.0f; };
    return {up(c.r), up(c.g), up(c.b), c.a};
}

// ---- 5. Inspector connections ------------------------------------------------------------------------
uint32_t PotentialPaletteIndex(float v) {
    float s = (v + 80.0f) * 0.0125f;
    if (!(s > 0.0f)) s = 0.0f;
    const float scaled = s * 512.0f;
    if (scaled >= 511.0f) return 511;
    return static_cast<uint32_t>(scaled);
}

uint32_t AxonDelayEntry(uint32_t delayIndex, uint32_t segment, uint32_t length) {
    uint32_t e = delayIndex + 1 + (segment + 1 + length) % length;
    while (e > length - 1) e -= length;  // once for a valid delayIndex
    return e;
}

// ---- 6. HUD and auto-rotation ------------------------------------------------------------------------
HudLines BuildHudLines(bool captureOn, bool paused, uint32_t neuronCount, uint32_t synapseCount,
                       uint32_t stepCounter, float recentSpeed, float averageSpeed, float recentFps,
                       float averageFps, double frameMcycles) {
    HudLines hud{};
    if (captureOn) hud.lines[hud.count++] = FormatOverlayText("%s", kVellicorName);
    hud.lines[hud.count++] = FormatOverlayText("%d Neurons with %d Synapses", static_cast<int>(neuronCount),
                                               static_cast<int>(synapseCount));
    if (captureOn) {
        hud.lines[hud.count++] =
            FormatOverlayText("Simulation time: %.1f ms", static_cast<double>(stepCounter) / 2.0);
    } else {
        hud.lines[hud.count++] = SimulationTimeLine(stepCounter, recentSpeed, averageSpeed, paused);
        hud.lines[hud.count++] = FormatOverlayText("%.2f FPS (Avg: %.2f) :: Frame render time: %.2f Mcycles",
                                                   static_cast<double>(recentFps),
                                                   static_cast<double>(averageFps), frameMcycles);
    }
    return hud;
}

HudTags BuildHudTags(const HudState& state) {
    HudTags tags{};
    if (state.eventEngine) tags.text[tags.count++] = "EVENT ENGINE";
    if (state.paused) tags.text[tags.count++] = "PAUSED";
    if (state.stimulus) tags.text[tags.count++] = "STIMULUS";
    if (state.recording) tags.text[tags.count++] = "REC";
    if (state.capture) tags.text[tags.count++] = "CAPTURE";
    return tags;
}

HudPlacement PlaceHudTags(const float* lineWidths, int lineCount, const float* tagWidths, int tagCount,
                          float windowWidth, float gap) {
    HudPlacement p{};
    p.noticeRow = lineCount;
    if (tagCount <= 0) return p;
    float total = 0.0f;
    for (int i = 0; i < tagCount; ++i) total += tagWidths[i] + (i > 0 ? gap : 0.0f);
    float left = windowWidth - 8.0f - total;
    p.tagRow = lineCount;
    for (int row = 0; row < lineCount; ++row) {
        if (8.0f + lineWidths[row] + gap <= left) {
            p.tagRow = row;
            break;
        }
    }
    if (p.tagRow == lineCount) {
        p.noticeRow = lineCount + 1;
        if (left < 8.0f) left = 8.0f;
    }
    for (int i = 0; i < tagCount; ++i) {
        p.tagX[i] = left;
        left += tagWidths[i] + gap;
    }
    return p;
}

float HudTagScale(const float* lineWidths, int lineCount, const float* textWidthsAt15, int tagCount, float pad,
                  float windowWidth, float gap) {
    for (float scale = 15.0f; scale >= 11.0f; scale -= 0.5f) {
        float widths[kMaxHudTags];
        for (int i = 0; i < tagCount && i < kMaxHudTags; ++i) widths[i] = textWidthsAt15[i] * scale / 15.0f + 2 * pad;
        if (PlaceHudTags(lineWidths, lineCount, widths, tagCount, windowWidth, gap).tagRow < lineCount) return scale;
    }
    return 15.0f;
}

Rgba HudTagColour(const char* tag) {
    if (tag[0] == 'E') return {0.45f, 0.65f, 1.0f, 1.0f};
    if (tag[0] == 'P') return {1.0f, 0.75f, 0.2f, 1.0f};
    if (tag[0] == 'S') return {0.4f, 1.0f, 0.4f, 1.0f};
    return {1.0f, 0.35f, 0.35f, 1.0f};
}

int SelectReadableLabels(const TextBox* boxes, const float* weight, int count, float air, int* keep) {
    std::vector<int> order(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) order[static_cast<size_t>(i)] = i;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return weight[a] > weight[b]; });
    int kept = 0;
    for (const int i : order) {
        const TextBox& b = boxes[i];
        const TextBox grown{b.x0 - air, b.y0 - air, b.x1 + air, b.y1 + air};
        bool free = true;
        for (int k = 0; k < kept && free; ++k) free = !BoxesOverlap(grown, boxes[keep[k]]);
        if (free) keep[kept++] = i;
    }
    return kept;
}

float AdvanceAutoRotation(float angle) {
    angle += 0.2f;
    if (angle >= 360.0f) angle -= 360.0f;
    return angle;
}
