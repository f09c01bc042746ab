// The toolbox's rules without a window.
//
// Sections: click guard, transparency slider, accelerator captions, button rule, button view,
// placement.
#include "ui/toolbox_logic.h"

#include <cstdio>
#include <cstring>

#include "io/app_state.h"

// ---- Click guard ------------------------------------------------------------------------------------
bool AcceptToolboxClick(uint32_t& lastClick, bool enabled, uint32_t now) {
    if (!enabled) return false;
    if (now - lastClick <= kToolboxClickGuardMs) return false;  // wrapping difference
    lastClick = now;
    return true;
}

// ---- Transparency slider ----------------------------------------------------------------------------
int TrackbarPositionFromAlpha(float alpha) {
    // Single precision on purpose: 0.065f * 200 rounds to 13 in float but truncates
    // to 12 in double, and the wireframe opacity must start the slider at 13.
    const float scaled = alpha * 200.0f;
    if (!(scaled > 0.0f)) return kTrackbarMax;  // also NaN
    if (scaled >= static_cast<float>(kTrackbarMax)) return kTrackbarMin;
    return kTrackbarMax - static_cast<int>(scaled);
}

float AlphaFromTrackbarPosition(int position) {
    if (position < kTrackbarMin) position = kTrackbarMin;
    if (position > kTrackbarMax) position = kTrackbarMax;
    return static_cast<float>(kTrackbarMax - position) / 200.0f;
}

void FormatTransparencyLabel(float alpha, char (&label)[kTransparencyLabelSize]) {
    const float transparency = 100.0f - 100.0f * alpha;
    std::snprintf(label, sizeof label, "Neuron transparency: %.1f %%", static_cast<double>(transparency));
}

// ---- Accelerator captions ---------------------------------------------------------------------------
AcceleratorCaption ParseAcceleratorCaption(const char* caption) {
    AcceleratorCaption out{};
    out.underline = -1;
    int n = 0;
    for (const char* p = caption ? caption : ""; *p != '\0' && n < kCaptionSize - 1; ++p) {
        if (*p == '&') {
            if (p[1] == '&') {  // "&&": a literal ampersand
                out.text[n++] = '&';
                ++p;
                continue;
            }
            if (p[1] == '\0') break;  // a trailing mark marks nothing
            if (out.underline < 0) {
                out.underline = n;
                char c = p[1];
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
                if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) out.key = c;
            }
            continue;  // the mark itself is dropped
        }
        out.text[n++] = *p;
    }
    out.text[n] = '\0';
    return out;
}

// ---- Button rule ------------------------------------------------------------------------------------
ToolboxButtons ToolboxButtonRule(uint32_t simState, bool visualizationOn) {
    const char* vis = visualizationOn ? "&Turn Visualization OFF" : "&Turn Visualization ON";
    ToolboxButtons b{};
    b.tweaksEnabled = true;
    switch (simState) {
        case SimStateRunning:
            b.pauseResume = {"&Pause Simulation", true, true};
            b.visualization = {vis, true, true};
            b.startStop = {"&Stop Simulation", true, true};
            b.configuration = {nullptr, false, true};
            break;
        case SimStatePaused:
            b.pauseResume = {"R&esume Simulation", true, true};
            b.visualization = {vis, true, true};
            b.startStop = {"&Stop Simulation", true, true};
            b.configuration = {nullptr, false, true};
            break;
        case SimStateNone:
            b.pauseResume = {"&Pause Simulation", false, true};
            b.visualization = {vis, false, true};
            b.startStop = {"&Start Simulation", true, true};
            b.configuration = {nullptr, true, true};
            break;
        default:  // Initializing: every button stays as it is
            b.pauseResume = {nullptr, false, false};
            b.visualization = {nullptr, false, false};
            b.startStop = {nullptr, false, false};
            b.configuration = {nullptr, false, false};
            break;
    }
    return b;
}

// ---- Button view ------------------------------------------------------------------------------------
namespace {

void SetButton(ToolboxButtonView& button, const char* caption, bool enabled) {
    std::snprintf(button.caption, sizeof button.caption, "%s", caption);
    button.enabled = enabled;
}

void ApplyOne(ToolboxButtonView& button, const ButtonState& state) {
    if (!state.changed) return;
    if (state.caption != nullptr) std::snprintf(button.caption, sizeof button.caption, "%s", state.caption);
    button.enabled = state.enabled;
}

}  // namespace

ToolboxView InitialToolboxView() {
    ToolboxView view{};
    SetButton(view.startStop, "Start / Stop Simulation", true);
    SetButton(view.pauseResume, "Pause / Resume Simulation", true);
    SetButton(view.visualization, "Turn Visualization OFF", true);
    SetButton(view.configuration, "Simulation Configuration...", true);
    view.tweaksEnabled = true;
    return view;
}

void ApplyToolboxButtons(ToolboxView& view, const ToolboxButtons& buttons) {
    ApplyOne(view.pauseResume, buttons.pauseResume);
    ApplyOne(view.visualization, buttons.visualization);
    ApplyOne(view.startStop, buttons.startStop);
    ApplyOne(view.configuration, buttons.configuration);
    if (buttons.tweaksEnabled) view.tweaksEnabled = true;
}

void DisableToolboxView(ToolboxView& view) {
    view.pauseResume.enabled = false;
    view.visualization.enabled = false;
    view.startStop.enabled = false;
    view.configuration.enabled = false;
    view.tweaksEnabled = false;
}

int LifecycleButtonForAccelerator(const ToolboxView& view, int key) {
    if (key == 0) return 0;
    const struct {
        const ToolboxButtonView* button;
        int id;
    } order[] = {{&view.startStop, ToolboxStartStop},
                 {&view.pauseResume, ToolboxPauseResume},
                 {&view.visualization, ToolboxVisualization}};
    for (const auto& entry : order) {
        if (!entry.button->enabled) continue;
        if (ParseAcceleratorCaption(entry.button->caption).key == key) return entry.id;
    }
    return 0;
}

// ---- Placement ------------------------------------------------------------------------------------------
ToolboxSpot PlaceToolbox(int windowX, int windowY, int windowWidth, int, int boxWidth, int boxHeight,
                         int screenWidth, int screenHeight) {
    const ToolboxSpot beside{windowX + windowWidth + 16, windowY + 16};
    if (screenWidth <= 0 || screenHeight <= 0 || beside.x + boxWidth <= screenWidth) return beside;
    const int x = screenWidth - boxWidth > 0 ? screenWidth - boxWidth : 0;
    const int y = screenHeight - boxHeight > 0 ? screenHeight - boxHeight : 0;
    return {x, y};
}
