// Keyboard commands: one operation reads a key-state table and carries out the
// command of every key that is down.
//
// Sections:
//   1. Key tables
//   2. Exit question
//   3. Host (what the commands act on outside this unit; tests pass fakes)
//   4. ProcessKeyCommands
// (Whether the regular stimulus can act is analysis/stimulus.h.)
#pragma once

#include <cstdint>
#include <string>

struct AppState;
struct Toolbox;
struct ToolboxTask;

// ---- 1. Key tables ---------------------------------------------------------------------------
// 256-byte key-down tables indexed by the program's key codes; slot 254 holds F1.
inline constexpr int kKeyF1Slot = 254;
// The key that toggles the synaptic strength view (W moves the camera).
inline constexpr int kSynapticStrengthKey = 'L';
// The key that switches spike recording on and off.
inline constexpr int kRecordingKey = 'O';
// Main thread only. A global: the console reader and the toolbox's key events (the
// entry point's toolbox host) both write this one table, which the main loop reads.
extern uint8_t ConsoleKeyState[256];

// ---- 2. Exit question ---------------------------------------------------------------------------
// Two answers that differ: quit (the simulation is stopped first) or go on.
enum QuestionAnswer : int { AnswerQuit = 1, AnswerCancel = 2 };
inline constexpr const char* kExitQuestionText =
    "An active simulation was detected. Are you sure you want to quit?";
inline constexpr const char* kExitQuestionCaption = "Exit Vellicor?";

// The question on the console: y quits; n or Esc cancels, as does the end of input.
// Read through the console key reader.
QuestionAnswer ConsoleAskExit(const char* question);

// ---- 3. Host ----------------------------------------------------------------------------------
// What the commands act on beyond the simulation and the view values. The base
// class is the console's: tasks start with no toolbox to report to, the exit
// question is asked on the console, there is no window style, no toolbox and no
// spike recording. The entry point derives its own (window, toolbox, run outputs).
class KeyCommandHost {
public:
    virtual ~KeyCommandHost() = default;
    // Starts a task thread (StartTask of the lifecycle).
    virtual bool StartTask(void (*task)(ToolboxTask*), AppState& state);
    // Asks the exit question; owner is the visualization window or null.
    virtual QuestionAnswer AskExit(void* owner);
    // Applies the capture window style (not resizable while capture is on).
    virtual void ApplyCaptureStyle(void* owner, bool captureOn);
    // Spike recording on/off (the entry point's run outputs).
    virtual void ToggleRecording(AppState& state);
    // C: shows a hidden toolbox or hides a shown one, when there is one.
    virtual void ToggleToolbox();
    // The toolbox takes no input while the exit question is open.
    virtual void EnableToolboxInput(bool enable);
};
// The console's host (stateless).
KeyCommandHost& ConsoleKeyCommands();

// ---- 4. ProcessKeyCommands ---------------------------------------------------------------------
// `owner` is the visualization window (opaque; may be null). Commands run in the
// fixed order of the command table; several may run in one call.
void ProcessKeyCommands(uint8_t* keyTable, AppState& state, void* owner,
                        KeyCommandHost& host = ConsoleKeyCommands());
