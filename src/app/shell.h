// Process-wide values of the application shell.
#pragma once

#include <atomic>

extern std::atomic<bool> QuitRequested;  // the window thread leaves its loop
extern std::atomic<bool> RenderStop;     // the main loop and the render thread end
extern std::atomic<bool> HeadlessMode;   // no window, no toolbox: the program runs on the console
