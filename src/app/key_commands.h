// Keyboard commands: one operation reads a key-state table and carries out the
// command of every key that is down.
//
// Sections:
//   1. Key tables
//   2. Exit question
//   3. Hooks (what the commands call outside this unit; tests replace them)
//   4. ProcessKeyCommands
//   5. Regular stimulus
#pragma once

#include <cstdint>
#include <string>

struct AppState;
struct SimParams;
struct Toolbox;
struct ToolboxTask;

// ---- 1. Key tables ---------------------------------------------------------------------------
// 256-byte key-down tables indexed by the program's key codes; slot 254 holds F1.
inline constexpr int kKeyF1Slot = 254;
// The key that toggles the synaptic strength view (W moves the camera).
inline constexpr int kSynapticStrengthKey = 'L';
// The key that switches spike recording on and off.
inline constexpr int kRecordingKey = 'O';
extern uint8_t ConsoleKeyState[256];  // main thread only

// ---- 2. Exit question ---------------------------------------------------------------------------
enum QuestionAnswer : int { AnswerYes = 1, AnswerNo = 2, AnswerCancel = 3 };
inline constexpr const char* kExitQuestionText =
    "An active simulation was detected. Are you sure you want to quit?";
inline constexpr const char* kExitQuestionCaption = "Exit Vellicor?";

// The question on the console, answered with y or n (Esc cancels; end of input
// answers No). The default reads the console through the console key reader; the
// entry point may install its own.
extern QuestionAnswer (*ConsoleAskYesNo)(const char* question);
QuestionAnswer ConsoleAskYesNoDefault(const char* question);

// ---- 3. Hooks ------------------------------------------------------------------------------------
struct KeyCommandHooks {
    // Starts a task thread (StartTask of the lifecycle).
    bool (*startTask)(void (*task)(ToolboxTask*), Toolbox* toolbox, AppState& state);
    // Asks the exit question; owner is the visualization window or null. The
    // visualization installs its modal window here; null asks on the console.
    QuestionAnswer (*askExit)(void* owner);
    // Applies the capture window style (not resizable while capture is on).
    void (*applyCaptureStyle)(void* owner, bool captureOn);
    // Spike recording on/off (the entry point's run outputs); null: the key does nothing.
    void (*toggleRecording)(AppState& state) = nullptr;
};
extern KeyCommandHooks KeyHooks;

// ---- 4. ProcessKeyCommands ---------------------------------------------------------------------
// `owner` is the visualization window (opaque; may be null). Commands run in the
// fixed order of the command table; several may run in one call.
void ProcessKeyCommands(uint8_t* keyTable, AppState& state, void* owner);

// ---- 5. Regular stimulus -------------------------------------------------------------------------
// The stimulus (ApplyStimulus of the dynamics) holds gridZ / 20 planes, at most 4,
// on each side of the middle plane for the first steps of every period: with fewer
// than 20 planes in z, or a period of 0, it holds nothing. E does not switch it on
// then, and says why.
bool StimulusCanAct(const SimParams& params, uint32_t period);
// Why it cannot act, for the log and the HUD; empty when it can.
std::string StimulusBlockedText(const SimParams& params, uint32_t period);
