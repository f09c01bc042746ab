// Keyboard commands (minimal: Esc quits).
#include "app/key_commands.h"

#include "app/shell.h"
#include "engine/app_state.h"

uint8_t ConsoleKeyState[256];

void ProcessKeyCommands(uint8_t* keys, AppState& /*state*/, void* /*owner*/) {
    if (keys[27]) {
        keys[27] = 0;
        QuitRequested.store(true);
        RenderStop.store(true);
    }
}
