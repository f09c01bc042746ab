// Keyboard commands.
//
// Sections:
//   1. Tables and the console host
//   2. Console exit question
//   3. Helpers (key tests, clearing, slice moves)
//   4. ProcessKeyCommands: the command table in order
#include "app/key_commands.h"

#include <cstdio>

#include "analysis/stimulus.h"
#include "app/lifecycle.h"
#include "app/shell.h"
#include "io/app_state.h"
#include "platform/console_keys.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "vis/view_state.h"

// ---- 1. Tables and the console host ------------------------------------------------------------
uint8_t ConsoleKeyState[256];  // shared by the console and the toolbox: see the header

bool KeyCommandHost::StartTask(void (*task)(ToolboxTask*), AppState& state) {
    return ::StartTask(task, nullptr, state);
}
QuestionAnswer KeyCommandHost::AskExit(void*) { return ConsoleAskExit(kExitQuestionText); }
void KeyCommandHost::ApplyCaptureStyle(void*, bool) {}
void KeyCommandHost::ToggleRecording(AppState&) {}
void KeyCommandHost::ToggleToolbox() {}
void KeyCommandHost::EnableToolboxInput(bool) {}

KeyCommandHost& ConsoleKeyCommands() {
    static KeyCommandHost console;  // no state: every instance acts alike
    return console;
}

// ---- 2. Console exit question -------------------------------------------------------------------
QuestionAnswer ConsoleAskExit(const char* question) {
    LogMessage(LogInfo, 0, "%s (y/n)", question);
    for (;;) {
        if (plat::ConsoleInterrupted()) return AnswerQuit;  // SIGINT/SIGTERM quit like a y
        // One key at a time: the keys after the answer stay queued for the main loop.
        uint16_t key = 0;
        const int count = plat::ReadConsoleKeys(&key, 1, 100);
        if (count == 1 && key == 'Y') return AnswerQuit;
        if (count == 1 && (key == 'N' || key == plat::VkEscape)) return AnswerCancel;
        if (count == 0 && plat::ConsoleInputEnded()) return AnswerCancel;
    }
}

// ---- 3. Helpers -------------------------------------------------------------------------------------
namespace {

// A letter command answers to its upper-case slot and to the lower-case ASCII slot
// (which other keys share: keypad 5 is 'e', F3 is 'r').
bool LetterDown(const uint8_t* keys, char upper) {
    return keys[static_cast<uint8_t>(upper)] || keys[static_cast<uint8_t>(upper + 32)];
}
void ClearLetter(uint8_t* keys, char upper) {
    keys[static_cast<uint8_t>(upper)] = 0;
    keys[static_cast<uint8_t>(upper + 32)] = 0;
}

bool SimulationActive(const AppState& state) {
    const uint32_t s = plat::AtomicLoad(state.SimState);
    return s == SimStateRunning || s == SimStatePaused;
}

// The highest picker slice: gridZ - 1 (0 for an empty grid), within the u8 slice.
uint8_t LastSlice(const AppState& state) {
    const uint32_t z = state.params.gridZ;
    if (z == 0) return 0;
    return static_cast<uint8_t>(z - 1 > 255 ? 255 : z - 1);
}

// W stops where the eye would enter the network (the zoom gestures stop there too).
void MoveCamera(AppState& state, float dx, float dz) {
    plat::LockGuard lock(state.StateLock);
    const SimParams& p = state.params;
    dz = LimitDepthChange(CameraDistance - Zoom, dz, MinimumViewDepth(p.extentX, p.extentY, p.extentZ));
    CameraX += dx;
    TargetX += dx;
    CameraDistance += dz;
    TargetZ += dz;
    MarkSceneDirty();
}

QuestionAnswer AskExit(KeyCommandHost& host, void* owner) {
    host.EnableToolboxInput(false);
    const QuestionAnswer answer = host.AskExit(owner);
    host.EnableToolboxInput(true);
    return answer;
}

}  // namespace

// ---- 4. ProcessKeyCommands -----------------------------------------------------------------------
void ProcessKeyCommands(uint8_t* keys, AppState& state, void* owner, KeyCommandHost& host) {
    // 1. Esc: quit, asking first while a simulation is active.
    if (keys[plat::VkEscape]) {
        keys[plat::VkEscape] = 0;
        if (!SimulationActive(state) || AskExit(host, owner) == AnswerQuit) {
            QuitRequested.store(true);
            RenderStop.store(true);
        }
    }
    // 2. End: last slice.
    if (keys[plat::VkEnd]) {
        plat::LockGuard lock(state.StateLock);
        SelectedSlice.store(LastSlice(state));
        keys[plat::VkEnd] = 0;
    }
    // 3. F10: capture on/off (only with a capture context); the window style follows.
    if (keys[plat::VkF10]) {
        {
            plat::LockGuard lock(state.StateLock);
            keys[plat::VkF10] = 0;
            if (CaptureContextPtr.load()) CaptureGate.on.store(CaptureGate.on.load() ? 0 : 1);
        }
        host.ApplyCaptureStyle(owner, CaptureGate.on.load() != 0);
    }
    // 4. F11: the 100% view, not while capturing.
    if (keys[plat::VkF11]) {
        keys[plat::VkF11] = 0;
        if (!CaptureGate.on.load()) {
            plat::LockGuard lock(state.StateLock);
            FullView.store(!FullView.load());
        }
    }
    // 5. Home: first slice.
    if (keys[plat::VkHome]) {
        plat::LockGuard lock(state.StateLock);
        SelectedSlice.store(0);
        keys[plat::VkHome] = 0;
    }
    // 6. Page Up: ten slices up, at most the last.
    if (keys[plat::VkPageUp]) {
        plat::LockGuard lock(state.StateLock);
        const uint32_t up = SelectedSlice.load() + 10u;
        const uint8_t last = LastSlice(state);
        SelectedSlice.store(up < last ? static_cast<uint8_t>(up) : last);
        keys[plat::VkPageUp] = 0;
    }
    // 7. Page Down: ten slices down, at least 0; at 0 the key stays set.
    if (keys[plat::VkPageDown]) {
        plat::LockGuard lock(state.StateLock);
        const uint8_t slice = SelectedSlice.load();
        if (slice > 0) {
            SelectedSlice.store(slice > 10 ? static_cast<uint8_t>(slice - 10) : 0);
            keys[plat::VkPageDown] = 0;
        }
    }
    // 8. Up: one slice up while possible (the key stays set otherwise).
    if (keys[plat::VkUp] && SelectedSlice.load() < LastSlice(state)) {
        SelectedSlice.store(static_cast<uint8_t>(SelectedSlice.load() + 1));
        keys[plat::VkUp] = 0;
    }
    // 9. Down: one slice down while possible.
    if (keys[plat::VkDown] && SelectedSlice.load() > 0) {
        SelectedSlice.store(static_cast<uint8_t>(SelectedSlice.load() - 1));
        keys[plat::VkDown] = 0;
    }
    // 10. E: regular stimulus on/off; not on where it cannot act (the log and the
    // HUD say why instead).
    if (LetterDown(keys, 'E')) {
        ClearLetter(keys, 'E');
        const bool on = plat::AtomicLoad(state.stimulusOn) != 0;
        const std::string blocked = StimulusBlockedText(state.params, state.stimulusPeriod);
        if (!on && !blocked.empty()) {
            LogMessage(LogWarning, 0, "%s", blocked.c_str());
            PostViewNotice(blocked.c_str(), plat::TimeMs());
        } else {
            plat::AtomicStore(state.stimulusOn, static_cast<uint8_t>(on ? 0 : 1));
            LogMessage(LogInfo, 0, "%s", on ? "Regular stimulus off." : "Regular stimulus on.");
        }
    }
    // 11-14. W, S, A, D: move eye and look-at point together.
    if (LetterDown(keys, 'W')) {
        ClearLetter(keys, 'W');
        MoveCamera(state, 0.0f, -1.0f);
    }
    if (LetterDown(keys, 'S')) {
        ClearLetter(keys, 'S');
        MoveCamera(state, 0.0f, 1.0f);
    }
    if (LetterDown(keys, 'A')) {
        ClearLetter(keys, 'A');
        MoveCamera(state, 1.0f, 0.0f);
    }
    if (LetterDown(keys, 'D')) {
        ClearLetter(keys, 'D');
        MoveCamera(state, -1.0f, 0.0f);
    }
    // 15. X: camera reset.
    if (LetterDown(keys, 'X')) {
        plat::LockGuard lock(state.StateLock);
        ResetCamera(state);
        ClearLetter(keys, 'X');
    }
    // 16. V: visualization on/off (task).
    if (LetterDown(keys, 'V')) {
        ClearLetter(keys, 'V');
        if (SimulationActive(state)) host.StartTask(VisualizationToggleTask, state);
    }
    // 17. P: pause/resume (task).
    if (LetterDown(keys, 'P')) {
        ClearLetter(keys, 'P');
        if (SimulationActive(state)) host.StartTask(PauseResumeTask, state);
    }
    // 18. Space: pause/resume (task).
    if (keys[plat::VkSpace]) {
        keys[plat::VkSpace] = 0;
        if (SimulationActive(state)) host.StartTask(PauseResumeTask, state);
    }
    // K: write a checkpoint (task), while a simulation exists. Only the upper-case
    // slot: the lower-case one is keypad +, which should not write files.
    if (keys['K']) {
        keys['K'] = 0;
        if (SimulationActive(state)) host.StartTask(CheckpointTask, state);
    }
    // 19. F1: help overlay, only during a simulation; the key is cleared always.
    if (keys[kKeyF1Slot]) {
        if (SimulationActive(state)) {
            const bool shown = !HelpShown.load();
            HelpShown.store(shown);
            if (shown) AnalysisShown.store(false);
        }
        keys[kKeyF1Slot] = 0;
    }
    // 20. F5: analysis overlay, only during a simulation.
    if (keys[plat::VkF5]) {
        if (SimulationActive(state)) {
            const bool shown = !AnalysisShown.load();
            AnalysisShown.store(shown);
            if (shown) HelpShown.store(false);
        }
        keys[plat::VkF5] = 0;
    }
    // 21. R: auto-rotation on/off.
    if (LetterDown(keys, 'R')) {
        AutoRotate.store(!AutoRotate.load());
        ClearLetter(keys, 'R');
    }
    // 22. C: toolbox shown/hidden, when it exists.
    if (LetterDown(keys, 'C')) {
        host.ToggleToolbox();
        ClearLetter(keys, 'C');
    }
    // 23. L: synaptic strength view on/off (W is the camera's).
    if (LetterDown(keys, kSynapticStrengthKey)) {
        SynapticStrengthView.store(!SynapticStrengthView.load());
        ClearLetter(keys, kSynapticStrengthKey);
    }
    // 24. O: spike recording on/off, while a simulation exists.
    if (LetterDown(keys, kRecordingKey)) {
        ClearLetter(keys, kRecordingKey);
        if (SimulationActive(state)) host.ToggleRecording(state);
    }
}
