// Process-wide values of the application shell (globals: see shell.h).
#include "app/shell.h"

std::atomic<bool> QuitRequested{false};
std::atomic<bool> RenderStop{false};
std::atomic<bool> HeadlessMode{false};
