// The entry point's side of the visualization window, the toolbox and the key
// commands: the interfaces vis/ and ui/ declare, implemented over the lifecycle,
// the shell flags and the run outputs. The entry point owns one of each for the
// life of the process and hands them over at start-up.
//
// Sections: toolbox link, key commands, view host.
#pragma once

#include <atomic>

#include "app/key_commands.h"
#include "app/lifecycle.h"
#include "ui/toolbox.h"
#include "vis/view_host.h"

struct AppState;
struct RunOutputs;

// ---- Toolbox link ----------------------------------------------------------------------------
// The toolbox's controls start the lifecycle's tasks, which report back here.
// The toolbox is attached once made and detached before it is destroyed; the
// task threads read it meanwhile, hence the atomic.
class ToolboxLink final : public ToolboxHost, public TaskListener {
public:
    explicit ToolboxLink(AppState& state) : state_(state) {}
    void Attach(Toolbox* toolbox) { toolbox_.store(toolbox); }
    Toolbox* Attached() const { return toolbox_.load(); }

    // ToolboxHost (main thread)
    void LifecycleButton(int id) override;
    void TransparencyChanged() override;
    void WriteCheckpoint() override;
    void SetKeyDown(int virtualKey, bool down) override;
    void RunWindowKeys(AppState& state) override;
    bool ProgramEnding() const override;
    // TaskListener (any thread)
    void ShowSimulationState(uint32_t simState, bool visualizationOn) override;
    void DisableButtons() override;
    void RebuildPalettes(AppState& state) override;

private:
    AppState& state_;
    std::atomic<Toolbox*> toolbox_{nullptr};
};

// ---- Key commands ------------------------------------------------------------------------------
// The key commands with the window's exit question and capture style, the toolbox
// and spike recording. Without a window or a toolbox they act as on the console.
class GuiKeyCommands final : public KeyCommandHost {
public:
    GuiKeyCommands(ToolboxLink& toolbox, RunOutputs& outputs) : toolbox_(toolbox), outputs_(outputs) {}
    bool StartTask(void (*task)(ToolboxTask*), AppState& state) override;
    QuestionAnswer AskExit(void* owner) override;
    void ApplyCaptureStyle(void* owner, bool captureOn) override;
    void ToggleRecording(AppState& state) override;
    void ToggleToolbox() override;
    void EnableToolboxInput(bool enable) override;

private:
    ToolboxLink& toolbox_;
    RunOutputs& outputs_;
};

// ---- View host -----------------------------------------------------------------------------------
class AppViewHost final : public ViewHost {
public:
    explicit AppViewHost(KeyCommandHost& keys) : keys_(keys) {}
    bool VisualizationOn() const override;
    bool RenderStopRequested() const override;
    void StopRendering() override;
    void RequestQuit() override;
    void StopSimulation(AppState& state) override;
    bool StopSimulationWithin(AppState& state, uint32_t milliseconds) override;
    void RunKeyCommands(uint8_t* table, AppState& state, void* owner) override;

private:
    KeyCommandHost& keys_;
};
