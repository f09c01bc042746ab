// Plain rules of the scene and the neuron inspector: the inspector state, the 2D
// picker's cells, colours and picking maths, the property column texts, the six
// traces (lanes, scaling, points), axon colouring in the inspector, the
// HUD lines and the auto-rotation step. No GL: the scene draws what these compute,
// and tests call them directly.
//
// Sections:
//   1. Inspector state
//   2. Picker
//   3. Property column
//   4. Traces
//   5. Inspector connections
//   6. HUD and auto-rotation
#pragma once

#include <atomic>
#include <cstdint>

#include "vis/layout.h"
#include "vis/text_layout.h"

struct Neuron;
struct Synapse;

struct Rgba {
    float r, g, b, a;
};

// ---- 1. Inspector state (written under StateLock by picking and the render reset) ---------------
inline constexpr uint32_t kNoPick = 0xFFFFFFFFu;
extern uint32_t PickedX, PickedY;        // picked grid cell; kNoPick when none
extern bool NeuronInspected;             // a neuron is picked
extern uint32_t InspectedNeuron;         // its index
extern bool TraceReset;                  // clear the traces before the next recording
// Layout metrics of the last scene frame (written by the scene under StateLock, read
// by picking and the upper-region rule).
extern LayoutMetrics SceneLayout;

// ---- 2. Picker ----------------------------------------------------------------------------------
// Neuron shown in picker cell (a, b) of plane `slice`: grid cell (x, y, z) = (a, b, slice).
uint32_t PickerNeuronIndex(uint32_t a, uint32_t b, uint32_t gridX, uint32_t gridY, uint32_t slice);
// Lower-left corner of cell (a, b); x runs mirrored.
void PickerCellOrigin(uint32_t a, uint32_t b, uint32_t gridX, const LayoutMetrics& layout, float* x,
                      float* y);
// Grey by activity (s = v * 0.014285714 + 0.5 > 0), else dark red (excitatory) or
// dark blue (inhibitory).
Rgba PickerCellColour(float v, bool excitatory);

struct PickResult {
    bool hit;  // the click lay in the picker square
    uint32_t pickedX, pickedY, neuron;
};
// Mouse (x, y) in window coordinates (y down) of a window H high.
PickResult PickNeuronAt(float x, float y, float windowHeight, const LayoutMetrics& layout,
                        uint32_t gridX, uint32_t gridY, uint32_t neuronCount, uint32_t slice);
// Drags act only above the lower strip (anywhere in the 100% view).
bool InUpperRegion(float y, float windowHeight, float paneTop, bool fullView);
// z of the picker plane outline in the inspector view.
float PickerPlaneZ(uint32_t slice, float extentZ);

// ---- 3. Property column ----------------------------------------------------------------------------
inline constexpr int kPropertyLines = 12;
struct PropertyColumn {
    OverlayText lines[kPropertyLines];
};
const char* NeuronClassName(uint8_t neuronClass);
// Texts of the column; stepCounter gives the simulated time (0.5 ms steps). Where
// they go: LayoutLowerStrip (vis/overlay_layout.h).
PropertyColumn BuildPropertyColumn(const Neuron& neuron, uint32_t stepCounter);

// ---- 4. Traces --------------------------------------------------------------------------------------
// Each trace shows the inspected neuron's recorded steps (engine/view_snapshot.h):
// one sample per simulation step, newest at the right edge, the area spanning a
// whole number of 10 ms; nothing is drawn where no step was recorded yet.
inline constexpr int kTraceCount = 6;  // V, U, gAMPA, gNMDA, gGABAa, gGABAb

struct TraceLane {
    float top, height;
    Rgba colour;
    const char* label;  // format with the newest value
    float minHalfSpan;
};
void TraceLanesFor(const LayoutMetrics& layout, TraceLane lanes[kTraceCount]);
// The six quantities of a neuron in trace order.
void TraceValuesOf(const Neuron& neuron, float values[kTraceCount]);
// Steps shown across a trace area `length` pixels wide: one per pixel at most, as
// many as the ring keeps at most, rounded down to a multiple of 20 (10 ms).
uint32_t TraceSpanSteps(uint32_t length, uint32_t capacity);

struct TraceStore {
    uint32_t TraceLength = 0;  // width of the trace area in pixels; 0: no traces
    float TraceX = 0.0f;       // its left x
    uint32_t span = 0;         // steps across it
    float* points = nullptr;   // 2 floats per point, span points
};
// Sizes the store for a trace area (rebuilt when it changed); false when there is none.
bool LayoutTraceStore(TraceStore& store, float traceX, uint32_t length, uint32_t capacity);
void ReleaseTraceStore(TraceStore& store);

struct TraceScale {
    float min;    // value drawn at the lane bottom
    float range;  // r
};
// Widens max - min below the minimum half-span m to c +/- m around the centre, then
// r = max(0.01, max + 0.1 (max - min) - min).
TraceScale ScaleTrace(float maximum, float minimum, float minHalfSpan);
// y of a value in a lane with bottom b and height h: clamped to [b, b + h].
float TraceSampleY(const TraceScale& scale, float bottom, float height, float value);
// The points of one quantity from `count` recorded samples (oldest first, each
// `stride` floats after the previous): the newest `span` of them, newest at the right edge,
// one step every TraceLength / span pixels, scaled to their own extremes. Returns
// the number of points.
uint32_t FillTracePoints(const TraceStore& store, const float* samples, uint32_t count, uint32_t stride,
                         int quantity, const TraceLane& lane, float* points);
// Baseline y of a trace label as the lanes want it (already lowered by CharHeight).
float TraceLabelY(const TraceLane lanes[kTraceCount], int quantity, int32_t charHeight);
// Label colour: each channel raised by 0.2, at most 1.
Rgba TraceLabelColour(const Rgba& colour);

// ---- 5. Inspector connections ---------------------------------------------------------------------
// Palette entry for a potential: integer part of max(0, (v + 80) * 0.0125) * 512, at most 511.
uint32_t PotentialPaletteIndex(float v);
// Ring entry of axon segment i of D for a delay line at delayIndex.
uint32_t AxonDelayEntry(uint32_t delayIndex, uint32_t segment, uint32_t length);

// ---- 6. HUD and auto-rotation -----------------------------------------------------------------------
struct HudLines {
    OverlayText lines[4];
    int count;
};
HudLines BuildHudLines(bool captureOn, bool paused, uint32_t neuronCount, uint32_t synapseCount,
                       uint32_t stepCounter, float recentSpeed, float averageSpeed, float recentFps,
                       float averageFps, double frameMcycles);

// State tags drawn beside the HUD lines, in this order, each while its state holds.
struct HudState {
    bool eventEngine;  // the network runs on the event engine
    bool paused;     // the simulation is paused
    bool stimulus;   // the regular stimulus is on (and can act)
    bool recording;  // a spike report is being written
    bool capture;    // frames are captured
};
inline constexpr int kMaxHudTags = 5;
struct HudTags {
    const char* text[kMaxHudTags];
    int count;
};
HudTags BuildHudTags(const HudState& state);

// Where the tags and a notice go. HUD rows count from the top (row r at y =
// H - CharHeight - 2 - r (CharHeight + 1)); the lines fill rows 0 .. lineCount - 1
// from x = 8. The tags stand in one row, right-aligned 8 pixels from the window's
// right, `gap` apart, on the first line's row whose text ends at least `gap` before
// them, else on the row after the lines (then from x = 8 when they do not fit). A
// notice goes on the first row below the lines and the tags.
struct HudPlacement {
    int tagRow;
    float tagX[kMaxHudTags];
    int noticeRow;
};
HudPlacement PlaceHudTags(const float* lineWidths, int lineCount, const float* tagWidths, int tagCount,
                          float windowWidth, float gap);
// The scale of the tags' text: the largest from 15 down to 11 pixels at which they
// fit beside one of the lines (widths given at scale 15, without padding; `pad`
// each side), else 15 (they take a row of their own).
float HudTagScale(const float* lineWidths, int lineCount, const float* textWidthsAt15, int tagCount, float pad,
                  float windowWidth, float gap);
// A tag's colour: red only for what writes files (REC, CAPTURE); a mode (EVENT
// ENGINE) is blue, PAUSED amber, STIMULUS green.
Rgba HudTagColour(const char* tag);
// The inspector's weight labels that can be read: boxes[i] is where label i lands
// on the screen (pixels, all its glyphs' ink inside). The strongest weights first,
// each is kept unless its box comes within `air` pixels of one kept before, so no
// two kept labels touch. Writes the kept indices to keep and returns their number.
int SelectReadableLabels(const TextBox* boxes, const float* weight, int count, float air, int* keep);
// 0.2 degrees per scene frame, wrapped below 360.
float AdvanceAutoRotation(float angle);
