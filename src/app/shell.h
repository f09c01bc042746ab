// Process-wide values of the application shell, set by the entry point and the
// switches. (WireframeMode, the window settings and AutoRotate live with the view
// values in vis/view_state.h.)
#pragma once

#include <atomic>
#include <cstdint>

// Globals: one shell per process, and the main loop, the key commands, the task
// threads and (through the view host) the render thread all read them.
extern std::atomic<bool> QuitRequested;  // the window thread leaves its loop
extern std::atomic<bool> RenderStop;     // the main loop and the render thread end
extern std::atomic<bool> HeadlessMode;   // no window, no toolbox: the program runs on the console
