// Plain layout rules of the visualization.
//
// Sections: layout metrics, glyph metrics and centring, overlay text, help lines,
// status screen, frame statistics.
#include "vis/layout.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "io/app_state.h"

// ---- Layout metrics -------------------------------------------------------------------------------
int32_t CharHeightFromMeasured(int32_t measuredHeight) { return measuredHeight > 8 ? measuredHeight : 8; }

LayoutMetrics ComputeLayoutMetrics(int32_t width, int32_t height, int32_t charHeight,
                                   float inspectorTextWidth, float extentX) {
    LayoutMetrics m{};
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    m.CharHeight = charHeight;
    m.InspectorTextWidth = inspectorTextWidth;
    m.PaneTop = 0.33334f * h;
    m.PaneSplit = 0.66666f * h;
    m.HalfWidth = 0.5f * w;
    m.LineHeight = 1.5f * static_cast<float>(charHeight);
    m.PickerTop = ((m.PaneTop - 20.0f) + m.LineHeight) - m.LineHeight;
    m.PickerSize = std::fabs(m.LineHeight - m.PickerTop);
    m.PickerHalf = 0.5f * m.PickerSize;
    m.PickerLeft = 16.0f;
    m.PickerRight = m.PickerSize + 16.0f;
    m.PickerWidth = std::fabs(m.PickerRight - 16.0f);
    // No extent (no network yet): no cells rather than a division by zero.
    m.PickerCell = extentX > 0.0f ? m.PickerWidth / extentX : 0.0f;
    m.PickerQuarter = 0.25f * m.PickerSize;
    return m;
}

// ---- Glyph metrics and centring -------------------------------------------------------------------
float CentredTextWidth(const GlyphMetrics* metrics, float scale, const char* text) {
    const size_t length = std::strlen(text);
    float w = 0.0f;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (c >= kGlyphCount) continue;
        const GlyphMetrics& g = metrics[c];
        w += scale * g.blackBoxX;
        if (i + 1 < length) w += 4.0f * g.cellIncX;
    }
    return w;
}

float TextPixelWidth(const GlyphMetrics* metrics, float emPixels, const char* text) {
    float w = 0.0f;
    for (const char* p = text; *p; ++p) {
        const uint8_t c = static_cast<uint8_t>(*p);
        if (c >= kGlyphCount) continue;
        w += std::round(metrics[c].cellIncX * emPixels);
    }
    return w;
}

// ---- Overlay text ------------------------------------------------------------------------------------
OverlayText FormatOverlayTextV(const char* format, va_list args) {
    OverlayText out;
    const int n = std::vsnprintf(out.text, sizeof out.text, format, args);
    // vsnprintf writes at most 255 bytes and the terminator; a cut text keeps 255.
    out.length = n < 0 ? 0 : (n >= kOverlayTextBytes ? kOverlayTextBytes - 1 : n);
    if (n < 0) out.text[0] = 0;
    return out;
}

OverlayText FormatOverlayText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    OverlayText out = FormatOverlayTextV(format, args);
    va_end(args);
    return out;
}

// ---- Help lines ---------------------------------------------------------------------------------------
const HelpLine HelpLines[kHelpLineCount] = {
    {true, 0, "Vellicor Help"},
    {false, 1, "MOUSE"},
    {false, 2, "Click on the 2D neuron picker - inspect that neuron"},
    {false, 1, "Left drag - rotate the camera; with SHIFT - pan"},
    {false, 1, "Right drag, mouse wheel - zoom"},
    {false, 3, "KEYBOARD"},
    {false, 2, "W / S - zoom in / out;  A / D - turn the view left / right;  X - reset the camera"},
    {false, 1, "P or SPACE - pause / resume the simulation"},
    {false, 1, "E - regular stimulus on / off (learning test)"},
    {false, 1, "V - 3D visualization on / off;  R - auto-rotation on / off"},
    {false, 1, "L - synaptic strength view on / off;  C - show / hide the toolbox"},
    {false, 1, "O - spike recording on / off;  K - write a checkpoint"},
    {false, 1, "F10 - frame capture on / off (JPEG files);  F11 - 100% view"},
    {false, 1, "F1 - this help on / off;  F5 - spike and synaptic weight analysis"},
    {false, 1, "UP / DOWN - move the neuron picker's plane;  PGUP / PGDOWN - ten planes"},
    {false, 1, "HOME / END - first / last plane;  ESC - quit (asks while a simulation runs)"},
    {false, 3, "COMMAND LINE (vellicor --help describes every switch)"},
    {false, 2, "demo, headless, steps=N, seed=N, preset=K, threads=N, engine=exact|event"},
    {false, 1, "config=FILE, save-config=FILE, record=FILE, export=FILE, checkpoint=FILE, resume=FILE"},
    {false, 1, "capture=DIR, msaa2x .. msaa16x, wireframe, colorbuffer, shortaxondemo"},
};

void HelpLinePositions(int32_t height, float* y) {
    const float h = static_cast<float>(height);
    float current = h - 14.0f - 2.0f - 0.15f * h;
    for (int i = 0; i < kHelpLineCount; ++i) {
        if (HelpLines[i].gap > 0) current -= 15.0f * static_cast<float>(HelpLines[i].gap);
        y[i] = current;
    }
}

// ---- Status screen ------------------------------------------------------------------------------------
StatusScreen BuildStatusScreen(uint32_t simState, int32_t height, int32_t charHeight,
                               uint32_t stepCounter, float recentSpeed, float averageSpeed) {
    StatusScreen s{};
    const float y0 = static_cast<float>(height - charHeight - 2);
    const float d = static_cast<float>(charHeight + 1);
    const float gap = static_cast<float>(2 * charHeight + 2);
    auto add = [&s](float y, OverlayText text) {
        s.lines[s.count].text = text;
        s.lines[s.count].y = y;
        ++s.count;
    };
    if (simState == SimStateNone) {
        add(y0, FormatOverlayText("No simulation is currently active."));
        add(y0 - d, FormatOverlayText("To start a new simulation, use the toolbox window (if not visible, "
                                      "press the 'C' key on the keyboard to show it)."));
        add(y0 - d - gap,
            FormatOverlayText("During simulation press F1 for help regarding available commands."));
        s.withHelpPanel = true;
    } else if (simState == SimStateInitializing) {
        add(y0, FormatOverlayText("New simulation is initializing now."));
        add(y0 - d, FormatOverlayText("This process might take some time, depending on the number of "
                                      "neurons and synapses in the simulation."));
    } else {
        add(y0, FormatOverlayText("Simulation visualization is currently disabled."));
        add(y0 - d, FormatOverlayText("To enable the visualization, press the 'V' key or use the toolbox "
                                      "window (if hidden, press 'C' key to show it)."));
        add(y0 - d - gap, FormatOverlayText("Currently running simulation statistics:"));
        add(y0 - 2.0f * d - gap,
            SimulationTimeLine(stepCounter, recentSpeed, averageSpeed, simState == SimStatePaused));
    }
    return s;
}

OverlayText SimulationTimeLine(uint32_t stepCounter, float recentSpeed, float averageSpeed, bool paused) {
    const double simulatedMs = static_cast<double>(stepCounter) / 2.0;
    if (paused)
        return FormatOverlayText("Simulation time: %.1f ms (Real time factor: paused, %.3fx avg.)", simulatedMs,
                                 static_cast<double>(averageSpeed));
    return FormatOverlayText("Simulation time: %.1f ms (Real time factor: %.3fx recent, %.3fx avg.)",
                             simulatedMs, static_cast<double>(recentSpeed), static_cast<double>(averageSpeed));
}

// ---- Frame statistics ------------------------------------------------------------------------------------
void ResetFrameStats(FrameStats& stats, uint32_t now) {
    stats.FrameCount = 0;
    stats.RecentFps = stats.AverageFps = 0.0f;
    stats.FrameMcycles = 0.0;
    stats.RecentSpeed = stats.AverageSpeed = 0.0f;
    stats.cycleAccumulator = 0;
    stats.statsStart = now;
    stats.lastFpsUpdate = now;
    stats.prevTime = now;
}

void UpdateFpsStats(FrameStats& stats, uint32_t now) {
    const uint32_t d = now - stats.lastFpsUpdate;
    const uint32_t sinceStart = now - stats.statsStart;
    // From the first update on: at a few frames a second a minimum frame count would
    // keep the average at 0 for a minute.
    if (sinceStart != 0)
        stats.AverageFps = static_cast<float>(stats.FrameCount / (sinceStart * 0.001));
    if (d != 0) stats.RecentFps = 20000.0f / static_cast<float>(d);
    if (stats.cycleAccumulator > 0) {
        stats.FrameMcycles = static_cast<double>(stats.cycleAccumulator) / 20.0 * 0.000001;
        stats.cycleAccumulator = 0;
    } else {
        stats.FrameMcycles = 0.0;
    }
    stats.lastFpsUpdate = now;
}

void UpdateSpeedStats(FrameStats& stats, uint32_t now, uint32_t step, float dt, uint32_t simStart,
                      uint32_t startStep) {
    const uint32_t ds = step - stats.prevStep;
    const uint32_t dtMs = now - stats.prevTime;
    if (ds != 0 && dtMs != 0) {
        stats.RecentSpeed = static_cast<float>(static_cast<double>(ds) / dtMs * dt);
        const uint32_t running = now - simStart;
        if (running != 0)
            stats.AverageSpeed = static_cast<float>(static_cast<double>(step - startStep) / running * dt);
    }
    stats.prevStep = step;
    stats.prevTime = now;
}
