// The toolbox's rules without a window: the lifecycle click guard, the
// transparency slider mapping and its label, button captions with accelerators,
// the button rule, and the button view the task threads update.
//
// Sections:
//   1. Buttons
//   2. Click guard
//   3. Transparency slider
//   4. Accelerator captions
//   5. Button rule
//   6. Button view
//   7. Placement
#pragma once

#include <cstdint>

// ---- 1. Buttons ---------------------------------------------------------------------------------------
// The toolbox's buttons that act on the simulation or open a window (0: none).
enum ToolboxButton : int {
    ToolboxStartStop = 1,
    ToolboxPauseResume,
    ToolboxVisualization,
    ToolboxConfiguration,
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
// The slider sets the transparency, rising to the right: position 0 is opacity 0.2
// (80 % transparent), position 40 opacity 0 (100 %). Slider position of an
// opacity: 40 - truncation of alpha * 200 (in single precision), limited to the
// slider's range.
int TrackbarPositionFromAlpha(float alpha);
// Opacity of a slider position: (40 - position) / 200.
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
    ButtonState pauseResume;
    ButtonState visualization;
    ButtonState startStop;
    ButtonState configuration;
    bool tweaksEnabled;
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
    ToolboxButtonView startStop;
    ToolboxButtonView pauseResume;
    ToolboxButtonView visualization;
    ToolboxButtonView configuration;
    bool tweaksEnabled;
};
// The toolbox as created: the first captions, everything enabled.
ToolboxView InitialToolboxView();
// Applies the caption rule's result: captions that are set replace the old ones,
// buttons marked unchanged keep their state.
void ApplyToolboxButtons(ToolboxView& view, const ToolboxButtons& buttons);
// What a task thread disables while it runs: every button and the tweaks.
void DisableToolboxView(ToolboxView& view);
// The enabled lifecycle button (start/stop, pause/resume, visualization) whose accelerator is `key`
// (virtual-key code), or 0.
int LifecycleButtonForAccelerator(const ToolboxView& view, int key);

// ---- 7. Placement ------------------------------------------------------------------------------------
// Where the toolbox's outer rectangle goes beside the visualization window's outer
// rectangle (x, y, width, height): 16 pixels right of it and 16 below its top when
// that fits on the screen (a screen size of 0 is taken as room enough); otherwise
// at the screen's right edge and as low as it fits, off the window's top right
// corner where the tags are.
struct ToolboxSpot {
    int x, y;
};
ToolboxSpot PlaceToolbox(int windowX, int windowY, int windowWidth, int windowHeight, int boxWidth, int boxHeight,
                         int screenWidth, int screenHeight);
