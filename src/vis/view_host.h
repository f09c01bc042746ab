// What the visualization window and its render thread need from the program that
// hosts them. The entry point implements it over its lifecycle and key commands
// and hands it to CreateVisualizationWindow; the window keeps it until
// DestroyVisualizationWindow returns. Called from the main thread and the render
// thread (and the lost-display handler), so implementations are thread-safe.
#pragma once

#include <cstdint>

struct AppState;

class ViewHost {
public:
    virtual ~ViewHost() = default;
    // The render thread draws the scene while set (V key, toolbox button).
    virtual bool VisualizationOn() const = 0;
    // The render thread ends its loop once this is set.
    virtual bool RenderStopRequested() const = 0;
    // The render thread has ended: the main loop ends too.
    virtual void StopRendering() = 0;
    // The window was closed or the display was lost: the program quits.
    virtual void RequestQuit() = 0;
    // Stops a simulation that exists (window teardown).
    virtual void StopSimulation(AppState& state) = 0;
    // The same for a shutdown that cannot wait for ever; false when it gave up.
    virtual bool StopSimulationWithin(AppState& state, uint32_t milliseconds) = 0;
    // Carries out the key commands of every key down in `table`; owner is the
    // window (for the exit question and the capture style).
    virtual void RunKeyCommands(uint8_t* table, AppState& state, void* owner) = 0;
};
