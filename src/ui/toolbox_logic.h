// The toolbox's rules without a window: the lifecycle click guard, the
// transparency slider mapping and its label, button captions with accelerators,
// the button rule, and the button view the task threads update.
//
// Sections:
//   1. Control identifiers
//   2. Click guard
//   3. Transparency slider
//   4. Accelerator captions
//   5. Button rule
//   6. Button view
#pragma once

#include <cstdint>

// ---- 1. Control identifiers ----------------------------------------------------------------------
enum ToolboxControlId : int {
    ToolboxPauseResume = 1002,
    ToolboxStartStop = 1006,
    ToolboxVisualization = 1008,
    ToolboxConfiguration = 1017,
    ToolboxTweaks = 1018,
    ToolboxTrackbar = 1019,
    ToolboxTransparencyLabel = 1030,
};

// ---- 2. Click guard --------------------------------------------------------------------------------
inline constexpr uint32_t kToolboxClickGuardMs = 300;
// A lifecycle button click: ignored on a disabled button, ignored when at most
// 300 ms (wrapping tick count) have passed since the last accepted click of any
// lifecycle button; otherwise accepted and `lastClick` becomes `now`.
bool AcceptToolboxClick(uint32_t& lastClick, bool enabled, uint32_t now);

// ---- 3. Transparency slider --------------------------------------------------------------------------
inline constexpr int kTrackbarMin = 0;
inline constexpr int kTrackbarMax = 40;
// Slider position of an opacity: truncation of alpha * 200 (in single precision),
// limited to the slider's range.
int TrackbarPositionFromAlpha(float alpha);
// Opacity of a slider position: position / 200.
float AlphaFromTrackbarPosition(int position);
// "Neuron transparency: %.1f %%" of 100 - 100 * alpha, at most 127 characters.
inline constexpr int kTransparencyLabelSize = 128;
void FormatTransparencyLabel(float alpha, char (&label)[kTransparencyLabelSize]);

// ---- 4. Accelerator captions -----------------------------------------------------------------------
// "&Start Simulation": '&' marks the next character as the accelerator (shown
// underlined); "&&" is a literal '&'. The mark itself is never shown.
inline constexpr int kCaptionSize = 64;
struct AcceleratorCaption {
    char text[kCaptionSize];  // caption without the marks
    int underline;            // index in text of the accelerator character, or -1
    int key;                  // virtual-key code of the accelerator (upper-case letter or digit), or 0
};
AcceleratorCaption ParseAcceleratorCaption(const char* caption);

// ---- 5. Button rule ----------------------------------------------------------------------------------
// Caption and enabled state of one toolbox button.
struct ButtonState {
    const char* caption;  // null: caption unchanged
    bool enabled;
    bool changed;         // false: leave the button as it is
};
struct ToolboxButtons {
    ButtonState pauseResume;    // 1002
    ButtonState visualization;  // 1008
    ButtonState startStop;      // 1006
    ButtonState configuration;  // 1017
    bool tweaksEnabled;         // 1018, 1019, 1030
};
// The pure rule that keeps the buttons in step with the simulation: state ->
// captions and enabled flags.
ToolboxButtons ToolboxButtonRule(uint32_t simState, bool visualizationOn);

// ---- 6. Button view ----------------------------------------------------------------------------------
struct ToolboxButtonView {
    char caption[kCaptionSize];  // with its '&' mark, as the lifecycle sets it
    bool enabled;
};
// What the toolbox shows. The task threads write it (under the toolbox's lock);
// the main thread draws from a copy.
struct ToolboxView {
    ToolboxButtonView startStop;      // 1006
    ToolboxButtonView pauseResume;    // 1002
    ToolboxButtonView visualization;  // 1008
    ToolboxButtonView configuration;  // 1017
    bool tweaksEnabled;               // 1018, 1019, 1030
};
// The dialog as created: the resource captions, everything enabled.
ToolboxView InitialToolboxView();
// Applies the caption rule's result: captions that are set replace the old ones,
// buttons marked unchanged keep their state.
void ApplyToolboxButtons(ToolboxView& view, const ToolboxButtons& buttons);
// What a task thread disables while it runs: 1002, 1008, 1006, 1017, 1018, 1019, 1030.
void DisableToolboxView(ToolboxView& view);
// The enabled lifecycle button (1006, 1002 or 1008) whose accelerator is `key`
// (virtual-key code), or 0.
int LifecycleButtonForAccelerator(const ToolboxView& view, int key);
