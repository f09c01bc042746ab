// Process-wide values of the application shell, set by the entry point and the
// switches. (WireframeMode lives with the view flags in vis/view_state.h.)
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<bool> QuitRequested;  // the window thread leaves its loop
extern std::atomic<bool> RenderStop;     // the main loop and the render thread end
extern std::atomic<bool> HeadlessMode;   // no window, no toolbox: the program runs on the console
extern bool ColorBufferMode;             // "colorbuffer": the line scene keeps a colour buffer
extern int32_t MsaaSamples;              // requested multisample count, default 4
extern std::atomic<bool> AutoRotate;     // the scene turns by itself (demo mode, R key)
