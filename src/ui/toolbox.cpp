// The toolbox window.
//
// Sections:
//   1. The record and its layout (pixels)
//   2. Keys typed into the toolbox
//   3. Controls: buttons with accelerators, the slider with ticks
//   4. One frame
//   5. State from the tasks and the key commands (any thread)
//   6. Life, placement, visibility
#include "ui/toolbox.h"

#include <GLFW/glfw3.h>
#include <imgui.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>

#include "io/app_state.h"
#include "platform/console_keys.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "ui/imgui_window.h"
#include "ui/toolbox_logic.h"
#include "vis/key_map.h"

// ---- 1. The record and its layout ----------------------------------------------------------------
struct Toolbox {
    ImGuiWindow window{};
    AppState* state = nullptr;
    ToolboxHost* host = nullptr;
    std::mutex viewLock;  // guards view: the task threads write it
    ToolboxView view{};
    uint32_t LastToolboxClick = 0;
    bool ToolboxExpanded = false;
    std::atomic<bool> wantVisible{false};  // shown or hidden at the next pass
    bool shown = false;
    std::atomic<bool> inputEnabled{true};
    std::atomic<bool> focusRequested{false};
    int pendingButton = 0;  // an accelerator press, carried out in the next frame
    bool configRequested = false;
    ToolboxRunActions actions;  // set by the entry point
    uint32_t lastDraw = 0;
    uint32_t seenEvents = 0;
    int framesToDraw = 0;
    // Key-ups wait until the key commands have run once in this pass: GLFW hands a
    // quick press and release over in one batch, and the press must not be lost.
    uint8_t releasePending[256] = {};
};

namespace {

// One per process; never freed, so late task threads stay safe (a static record
// rather than a heap one for the same reason: no owner outlives every thread).
Toolbox TheToolbox;

// A short title, so that window managers show it whole over the narrow window; the
// hint that C hides it is the window's last line.
constexpr const char* kToolboxCaption = "Simulation Control";
constexpr const char* kHideHint = "C hides or shows this window";
// A column of buttons, one every kPitch pixels: start/stop, pause/resume,
// visualization, configuration, tweaks; then (expanded) the transparency slider and
// its label; then the run rows (spike recording, checkpoint) and the hint.
constexpr int kClientWidth = 240;
constexpr float kMargin = 10, kButtonWidth = kClientWidth - 2 * kMargin, kButtonHeight = 29, kPitch = 39;
constexpr float ButtonY(int row) { return kMargin + kPitch * static_cast<float>(row); }
constexpr float kSliderY = ButtonY(5) + 18, kLabelY = ButtonY(5) + 46;
constexpr float kRunRowsCollapsed = ButtonY(5), kRunRowsExpanded = ButtonY(5) + 65;
constexpr int HeightBelowRunRows(float rowsY) { return static_cast<int>(rowsY + 2 * kPitch + 24 + kMargin); }
constexpr int kCollapsedHeight = HeightBelowRunRows(kRunRowsCollapsed);
constexpr int kExpandedHeight = HeightBelowRunRows(kRunRowsExpanded);

// ---- 2. Keys typed into the toolbox ------------------------------------------------------------------
// Key down and up go to the host's key table like the console's keys (F1 in
// slot 254). Alt + the accelerator letter of an enabled lifecycle button presses
// that button instead.
bool ToolboxKey(ImGuiWindow* window, int key, int /*scancode*/, int action, int mods) {
    Toolbox* toolbox = static_cast<Toolbox*>(window->user);
    if (!toolbox->inputEnabled.load()) return true;
    const int vk = GlfwKeyToVirtualKey(key);
    if (vk < 0) return false;
    if (action == GLFW_REPEAT && !plat::KeyRepeatsWhileHeld(vk)) return false;  // once per press
    if (action == GLFW_PRESS && (mods & GLFW_MOD_ALT) != 0) {
        int button;
        {
            std::lock_guard<std::mutex> lock(toolbox->viewLock);
            button = LifecycleButtonForAccelerator(toolbox->view, vk);
        }
        if (button != 0) {
            toolbox->pendingButton = button;
            return true;
        }
    }
    if (action == GLFW_RELEASE) {
        toolbox->releasePending[vk] = 1;  // applied after the key commands ran (DrawToolbox)
    } else {
        toolbox->host->SetKeyDown(vk, true);
        toolbox->releasePending[vk] = 0;
    }
    return false;
}

void ToolboxClose(ImGuiWindow* window) {
    Toolbox* toolbox = static_cast<Toolbox*>(window->user);
    toolbox->wantVisible.store(false);  // closing only hides
}

// ---- 3. Controls -------------------------------------------------------------------------------------
// A push button whose caption marks its accelerator with '&': the letter is drawn
// underlined and the mark is not shown. Returns whether it was clicked.
bool AcceleratorButton(int id, const char* caption, bool enabled, float x, float y, float w, float h) {
    const AcceleratorCaption parsed = ParseAcceleratorCaption(caption);
    ImGui::SetCursorPos(ImVec2(x, y));
    ImGui::PushID(id);
    ImGui::BeginDisabled(!enabled);
    const bool clicked = ImGui::Button("##button", ImVec2(w, h));
    const ImVec2 min = ImGui::GetItemRectMin();
    const ImVec2 size = ImGui::GetItemRectSize();
    const ImVec2 text = ImGui::CalcTextSize(parsed.text);
    const ImVec2 at(min.x + (size.x - text.x) * 0.5f, min.y + (size.y - text.y) * 0.5f);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImU32 colour = ImGui::GetColorU32(ImGuiCol_Text);
    draw->AddText(at, colour, parsed.text);
    if (parsed.underline >= 0) {
        const float before = ImGui::CalcTextSize(parsed.text, parsed.text + parsed.underline).x;
        const float letter =
            ImGui::CalcTextSize(parsed.text + parsed.underline, parsed.text + parsed.underline + 1).x;
        const float lineY = at.y + text.y - 1.0f;
        draw->AddLine(ImVec2(at.x + before, lineY), ImVec2(at.x + before + letter, lineY), colour, 1.0f);
    }
    ImGui::EndDisabled();
    ImGui::PopID();
    return clicked && enabled;
}

// The tweaks button with its arrow: down while collapsed, up while expanded.
bool TweaksButton(bool expanded, bool enabled, float x, float y, float w, float h) {
    ImGui::SetCursorPos(ImVec2(x, y));
    ImGui::BeginDisabled(!enabled);
    const bool clicked = ImGui::Button("Visualization Tweaks##tweaks", ImVec2(w, h));
    const ImVec2 min = ImGui::GetItemRectMin();
    const ImVec2 size = ImGui::GetItemRectSize();
    const float cx = min.x + size.x - 16.0f, cy = min.y + size.y * 0.5f, r = 4.5f;
    const ImU32 colour = ImGui::GetColorU32(ImGuiCol_Text);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    if (expanded) {
        draw->AddTriangleFilled(ImVec2(cx - r, cy + r * 0.5f), ImVec2(cx + r, cy + r * 0.5f),
                                ImVec2(cx, cy - r * 0.5f), colour);
    } else {
        draw->AddTriangleFilled(ImVec2(cx - r, cy - r * 0.5f), ImVec2(cx + r, cy - r * 0.5f),
                                ImVec2(cx, cy + r * 0.5f), colour);
    }
    ImGui::EndDisabled();
    return clicked && enabled;
}

// The 0..40 slider with a tick at every position (the trackbar's automatic ticks).
bool TransparencySlider(int& position, bool enabled, float x, float y, float w) {
    ImGui::SetCursorPos(ImVec2(x, y));
    ImGui::BeginDisabled(!enabled);
    ImGui::SetNextItemWidth(w);
    const bool changed = ImGui::SliderInt("##transparency", &position, kTrackbarMin, kTrackbarMax, "",
                                          ImGuiSliderFlags_AlwaysClamp);
    const ImVec2 min = ImGui::GetItemRectMin(), max = ImGui::GetItemRectMax();
    // Where the grab's centre can go (ImGui keeps 2 pixels of padding and a grab of
    // at least GrabMinSize).
    const float padding = 2.0f;
    const float track = (max.x - min.x) - 2.0f * padding;
    const float grab = std::max(track / static_cast<float>(kTrackbarMax - kTrackbarMin + 1),
                                ImGui::GetStyle().GrabMinSize);
    const float first = min.x + padding + grab * 0.5f, usable = track - grab;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImU32 colour = ImGui::GetColorU32(ImGuiCol_TextDisabled);
    for (int i = kTrackbarMin; i <= kTrackbarMax; ++i) {
        const float tx = first + usable * static_cast<float>(i) / static_cast<float>(kTrackbarMax);
        const float length = (i == kTrackbarMin || i == kTrackbarMax) ? 6.0f : 3.0f;
        draw->AddLine(ImVec2(tx, max.y + 2.0f), ImVec2(tx, max.y + 2.0f + length), colour, 1.0f);
    }
    ImGui::EndDisabled();
    return changed && enabled;
}

void CentredLabel(const char* text, bool enabled, float x0, float x1, float y) {
    ImGui::BeginDisabled(!enabled);
    const float width = ImGui::CalcTextSize(text).x;
    ImGui::SetCursorPos(ImVec2(x0 + std::max(0.0f, (x1 - x0 - width) * 0.5f), y));
    ImGui::TextUnformatted(text);
    ImGui::EndDisabled();
}

// ---- 4. One frame ----------------------------------------------------------------------------------
void PressLifecycleButton(Toolbox* toolbox, int id, bool enabled) {
    // The guard: disabled, or within 300 ms of the last accepted click: ignored.
    if (!AcceptToolboxClick(toolbox->LastToolboxClick, enabled, plat::TimeMs())) return;
    toolbox->host->LifecycleButton(id);
}

bool LifecycleEnabled(const ToolboxView& view, int id) {
    switch (id) {
        case ToolboxStartStop: return view.startStop.enabled;
        case ToolboxPauseResume: return view.pauseResume.enabled;
        case ToolboxVisualization: return view.visualization.enabled;
        default: return false;
    }
}

void SetExpanded(Toolbox* toolbox, bool expanded) {
    toolbox->ToolboxExpanded = expanded;
    glfwSetWindowSize(toolbox->window.window, kClientWidth, expanded ? kExpandedHeight : kCollapsedHeight);
}

void DrawFrame(Toolbox* toolbox) {
    AppState& state = *toolbox->state;
    ToolboxView view;
    {
        std::lock_guard<std::mutex> lock(toolbox->viewLock);
        view = toolbox->view;
    }
    const bool input = toolbox->inputEnabled.load();

    const ImGuiFrameScope scope = BeginImGuiFrame(toolbox->window);
    const ImGuiIO& io = ImGui::GetIO();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(io.DisplaySize);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    ImGui::Begin("toolbox", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoBackground | ImGuiWindowFlags_NoBringToFrontOnFocus);
    ImGui::BeginDisabled(!input);

    const float x = kMargin, w = kButtonWidth, h = kButtonHeight;
    int clicked = toolbox->pendingButton;
    toolbox->pendingButton = 0;
    if (AcceleratorButton(ToolboxStartStop, view.startStop.caption, view.startStop.enabled, x, ButtonY(0), w, h))
        clicked = ToolboxStartStop;
    if (AcceleratorButton(ToolboxPauseResume, view.pauseResume.caption, view.pauseResume.enabled, x, ButtonY(1), w,
                          h))
        clicked = ToolboxPauseResume;
    if (AcceleratorButton(ToolboxVisualization, view.visualization.caption, view.visualization.enabled, x,
                          ButtonY(2), w, h))
        clicked = ToolboxVisualization;
    if (AcceleratorButton(ToolboxConfiguration, view.configuration.caption, view.configuration.enabled, x,
                          ButtonY(3), w, h))
        toolbox->configRequested = true;
    if (TweaksButton(toolbox->ToolboxExpanded, view.tweaksEnabled, x, ButtonY(4), w, h))
        SetExpanded(toolbox, !toolbox->ToolboxExpanded);

    if (toolbox->ToolboxExpanded) {
        // The slider follows the record, so a Cancel in the configuration sheet
        // that restores an earlier opacity shows at once.
        int position = TrackbarPositionFromAlpha(plat::AtomicLoad(state.options.NeuronAlpha));
        if (TransparencySlider(position, view.tweaksEnabled, x, kSliderY, w)) {
            plat::AtomicStore(state.options.NeuronAlpha, AlphaFromTrackbarPosition(position));
            toolbox->host->TransparencyChanged();
        }
        char label[kTransparencyLabelSize];
        FormatTransparencyLabel(plat::AtomicLoad(state.options.NeuronAlpha), label);
        CentredLabel(label, view.tweaksEnabled, x, x + w, kLabelY);
    }

    // The run rows: spike recording on/off and a checkpoint, while a simulation exists.
    const uint32_t simState = plat::AtomicLoad(state.SimState);
    const bool active = simState == SimStateRunning || simState == SimStatePaused;
    const bool recording = plat::AtomicLoad(state.recordingSpikes) != 0;
    const float rowsY = toolbox->ToolboxExpanded ? kRunRowsExpanded : kRunRowsCollapsed;
    ImGui::BeginDisabled(!active || !toolbox->actions.toggleRecording);
    ImGui::SetCursorPos(ImVec2(x, rowsY));
    if (ImGui::Button(recording ? "Stop Recording Spikes##rec" : "Record Spikes##rec", ImVec2(w, h)))
        toolbox->actions.toggleRecording();
    ImGui::EndDisabled();
    ImGui::BeginDisabled(!active);
    ImGui::SetCursorPos(ImVec2(x, rowsY + kPitch));
    if (ImGui::Button("Write Checkpoint##ckpt", ImVec2(w, h))) toolbox->host->WriteCheckpoint();
    ImGui::EndDisabled();
    CentredLabel(kHideHint, false, x, x + w, rowsY + 2 * kPitch);

    ImGui::EndDisabled();
    ImGui::End();
    ImGui::PopStyleVar(2);
    EndImGuiFrame(toolbox->window, scope);

    if (clicked != 0 && input) PressLifecycleButton(toolbox, clicked, LifecycleEnabled(view, clicked));
}

void RunConfigSheet(Toolbox* toolbox) {
    toolbox->configRequested = false;
    if (!toolbox->state || !toolbox->host) return;
    toolbox->inputEnabled.store(false);
    ShowConfigSheetBeside(*toolbox->state, toolbox->window.window, *toolbox->host);
    toolbox->inputEnabled.store(true);
    // The slider and label are read from NeuronAlpha on every frame.
    toolbox->focusRequested.store(true);
}

}  // namespace

// ---- 5. State from the tasks and the key commands (any thread) ----------------------------------------
void ToolboxShowSimulationState(Toolbox* toolbox, uint32_t simState, bool visualizationOn) {
    if (!toolbox) return;
    std::lock_guard<std::mutex> lock(toolbox->viewLock);
    ApplyToolboxButtons(toolbox->view, ToolboxButtonRule(simState, visualizationOn));
}

void ToolboxDisableButtons(Toolbox* toolbox) {
    if (!toolbox) return;
    std::lock_guard<std::mutex> lock(toolbox->viewLock);
    DisableToolboxView(toolbox->view);
}

void ToolboxEnableInput(Toolbox* toolbox, bool enable) {
    if (toolbox) toolbox->inputEnabled.store(enable);
}

void SetToolboxRunActions(Toolbox* toolbox, ToolboxRunActions actions) {
    if (toolbox) toolbox->actions = std::move(actions);
}

// ---- 6. Life, placement, visibility -----------------------------------------------------------------------
Toolbox* CreateToolbox(AppState& state, ToolboxHost& host) {
    Toolbox* toolbox = &TheToolbox;
    if (toolbox->window.window) return toolbox;
    const char* description = nullptr;
    if (glfwInit() != GLFW_TRUE) {
        glfwGetError(&description);
        LogMessage(LogError, 0, "Failed to create toolbox window! (%s)",
                   description ? description : "no window system");
        return nullptr;
    }
    toolbox->state = &state;
    toolbox->host = &host;
    toolbox->view = InitialToolboxView();
    toolbox->LastToolboxClick = 0;
    toolbox->ToolboxExpanded = false;
    toolbox->window.keyHook = ToolboxKey;
    toolbox->window.closeHook = ToolboxClose;
    toolbox->window.user = toolbox;
    const ImGuiWindowOptions options{kToolboxCaption, kClientWidth, kCollapsedHeight, true, false, false};
    if (!CreateImGuiWindow(toolbox->window, options)) {
        glfwGetError(&description);
        LogMessage(LogError, 0, "Failed to create toolbox window! (%s)",
                   description ? description : "unknown error");
        return nullptr;
    }
    return toolbox;
}

void DestroyToolbox(Toolbox* toolbox) {
    if (!toolbox) return;
    DestroyImGuiWindow(toolbox->window);
    toolbox->shown = false;
}

void DrawToolbox(Toolbox* toolbox) {
    if (!toolbox || !toolbox->window.window) return;
    GLFWwindow* window = toolbox->window.window;
    for (int vk = 0; vk < 256; ++vk) {
        if (!toolbox->releasePending[vk]) continue;
        toolbox->releasePending[vk] = 0;
        toolbox->host->SetKeyDown(vk, false);
    }
    const bool want = toolbox->wantVisible.load();
    if (want != toolbox->shown) {
        if (want) {
            glfwShowWindow(window);
        } else {
            glfwHideWindow(window);
        }
        toolbox->shown = want;
        toolbox->framesToDraw = 3;
    }
    if (!toolbox->shown) return;
    if (toolbox->focusRequested.exchange(false)) glfwFocusWindow(window);
    if (toolbox->configRequested) RunConfigSheet(toolbox);

    // Redraw after input for a few frames (ImGui needs one to see a press and one
    // to see the release), otherwise about 20 times a second for the captions.
    const uint32_t now = plat::TimeMs();
    if (glfwGetWindowAttrib(window, GLFW_HOVERED) || toolbox->pendingButton != 0) toolbox->framesToDraw = 3;
    if (toolbox->framesToDraw <= 0 && now - toolbox->lastDraw < 50) return;
    if (toolbox->framesToDraw > 0) --toolbox->framesToDraw;
    toolbox->lastDraw = now;
    DrawFrame(toolbox);
}

void PlaceToolboxBeside(Toolbox* toolbox, GLFWwindow* visualizationWindow) {
    if (!toolbox || !toolbox->window.window || !visualizationWindow) return;
    int x = 0, y = 0, width = 0, height = 0, left = 0, top = 0, right = 0, bottom = 0;
    glfwGetWindowPos(visualizationWindow, &x, &y);
    glfwGetWindowSize(visualizationWindow, &width, &height);
    glfwGetWindowFrameSize(visualizationWindow, &left, &top, &right, &bottom);
    int ownLeft = 0, ownTop = 0, ownRight = 0, ownBottom = 0, ownWidth = 0, ownHeight = 0;
    glfwGetWindowFrameSize(toolbox->window.window, &ownLeft, &ownTop, &ownRight, &ownBottom);
    glfwGetWindowSize(toolbox->window.window, &ownWidth, &ownHeight);
    int screenWidth = 0, screenHeight = 0;
    if (const GLFWvidmode* mode = glfwGetVideoMode(glfwGetPrimaryMonitor())) {
        screenWidth = mode->width;
        screenHeight = mode->height;
    }
    // Outer rectangles, frames included; the expanded height, so that it fits
    // expanded too.
    const ToolboxSpot spot = PlaceToolbox(x - left, y - top, width + left + right, height + top + bottom,
                                          ownWidth + ownLeft + ownRight, kExpandedHeight + ownTop + ownBottom,
                                          screenWidth, screenHeight);
    glfwSetWindowPos(toolbox->window.window, spot.x + ownLeft, spot.y + ownTop);
    ShowToolbox(toolbox);
}

void ShowToolbox(Toolbox* toolbox) {
    if (toolbox) toolbox->wantVisible.store(true);
}

void HideToolbox(Toolbox* toolbox) {
    if (toolbox) toolbox->wantVisible.store(false);
}

bool ToolboxVisible(Toolbox* toolbox) { return toolbox && toolbox->wantVisible.load(); }

GLFWwindow* ToolboxGlfwWindow(Toolbox* toolbox) { return toolbox ? toolbox->window.window : nullptr; }
