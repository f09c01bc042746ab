// The entry point's hosts for the window, the toolbox and the key commands.
//
// Sections: toolbox link, key commands, view host.
#include "app/gui_hosts.h"

#include "app/run_outputs.h"
#include "app/shell.h"
#include "ui/toolbox_logic.h"
#include "vis/palette.h"
#include "vis/window.h"

// ---- Toolbox link ----------------------------------------------------------------------------
void ToolboxLink::LifecycleButton(int id) {
    void (*task)(ToolboxTask*) = id == ToolboxStartStop      ? StartStopTask
                                 : id == ToolboxPauseResume ? PauseResumeTask
                                                            : VisualizationToggleTask;
    StartTask(task, this, state_);
}

void ToolboxLink::TransparencyChanged() { StartTask(TransparencyTask, this, state_); }

void ToolboxLink::WriteCheckpoint() { StartTask(CheckpointTask, this, state_); }

void ToolboxLink::SetKeyDown(int virtualKey, bool down) {
    ConsoleKeyState[virtualKey & 0xFF] = down ? 1 : 0;
}

// While the configuration sheet is open, the visualization window's keys keep working.
void ToolboxLink::RunWindowKeys(AppState& state) { ProcessViewKeyCommands(state); }

bool ToolboxLink::ProgramEnding() const { return RenderStop.load(); }

void ToolboxLink::ShowSimulationState(uint32_t simState, bool visualizationOn) {
    ToolboxShowSimulationState(toolbox_.load(), simState, visualizationOn);
}

void ToolboxLink::DisableButtons() { ToolboxDisableButtons(toolbox_.load()); }

void ToolboxLink::RebuildPalettes(AppState& state) { BuildPalettes(&state); }

// ---- Key commands ------------------------------------------------------------------------------
bool GuiKeyCommands::StartTask(void (*task)(ToolboxTask*), AppState& state) {
    return ::StartTask(task, &toolbox_, state);
}

QuestionAnswer GuiKeyCommands::AskExit(void* owner) {
    switch (AskQuestionWindow(owner, kExitQuestionText, kExitQuestionCaption)) {
        case WindowAnswer::Quit: return AnswerQuit;
        case WindowAnswer::Cancel: return AnswerCancel;
        case WindowAnswer::NoWindow: break;
    }
    return ConsoleAskExit(kExitQuestionText);
}

void GuiKeyCommands::ApplyCaptureStyle(void* owner, bool captureOn) { ::ApplyCaptureStyle(owner, captureOn); }

void GuiKeyCommands::ToggleRecording(AppState&) { ::ToggleRecording(outputs_); }

void GuiKeyCommands::ToggleToolbox() {
    Toolbox* toolbox = toolbox_.Attached();
    if (!toolbox) return;
    if (ToolboxVisible(toolbox))
        HideToolbox(toolbox);
    else
        ShowToolbox(toolbox);
}

void GuiKeyCommands::EnableToolboxInput(bool enable) { ToolboxEnableInput(toolbox_.Attached(), enable); }

// ---- View host -----------------------------------------------------------------------------------
bool AppViewHost::VisualizationOn() const { return ::VisualizationOn.load(); }

bool AppViewHost::RenderStopRequested() const { return RenderStop.load(); }

void AppViewHost::StopRendering() { RenderStop.store(true); }

void AppViewHost::RequestQuit() {
    QuitRequested.store(true);
    RenderStop.store(true);
}

void AppViewHost::StopSimulation(AppState& state) { ::StopSimulation(state); }

bool AppViewHost::StopSimulationWithin(AppState& state, uint32_t milliseconds) {
    return ::StopSimulationWithin(state, milliseconds);
}

void AppViewHost::RunKeyCommands(uint8_t* table, AppState& state, void* owner) {
    ProcessKeyCommands(table, state, owner, keys_);
}
