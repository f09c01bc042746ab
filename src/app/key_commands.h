// Keyboard commands: one operation reads a key-state table and carries out the
// command of every key that is down.
#pragma once

#include <cstdint>

struct AppState;

// 256-byte key-down tables by Windows virtual-key code; slot 254 holds F1.
inline constexpr int kKeyF1Slot = 254;
extern uint8_t ConsoleKeyState[256];  // main thread only

// `owner` is the visualization window (opaque; may be null).
void ProcessKeyCommands(uint8_t* keyTable, AppState& state, void* owner);
