// Process-wide values of the application shell.
#include "app/shell.h"

std::atomic<bool> QuitRequested{false};
std::atomic<bool> RenderStop{false};
std::atomic<bool> HeadlessMode{false};
bool ColorBufferMode = false;
int32_t MsaaSamples = 4;
std::atomic<bool> AutoRotate{false};
