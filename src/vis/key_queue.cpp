// Key presses waiting for the key commands.
#include "vis/key_queue.h"

#include "platform/console_keys.h"

namespace {
bool ValidSlot(int slot) { return slot >= 0 && slot < 256; }
}  // namespace

void QueueKeyPress(KeyPressQueue& q, int slot) {
    if (!ValidSlot(slot)) return;
    if (q.pending[slot] < 255) ++q.pending[slot];
    q.released[slot] = 0;
}

void QueueKeyRepeat(KeyPressQueue& q, int slot) {
    if (!ValidSlot(slot) || !plat::KeyRepeatsWhileHeld(slot)) return;
    if (q.pending[slot] == 0) q.pending[slot] = 1;
    q.released[slot] = 0;
}

void QueueKeyRelease(KeyPressQueue& q, int slot) {
    if (ValidSlot(slot)) q.released[slot] = 1;
}

bool TakeKeyPresses(KeyPressQueue& q, uint8_t* table) {
    bool waiting = false;
    for (int slot = 0; slot < 256; ++slot) {
        if (q.pending[slot] == 0) continue;
        table[slot] = 1;
        if (--q.pending[slot] > 0) waiting = true;
    }
    return waiting;
}

void ApplyKeyReleases(KeyPressQueue& q, uint8_t* table) {
    for (int slot = 0; slot < 256; ++slot) {
        if (q.released[slot] && q.pending[slot] == 0) {
            table[slot] = 0;
            q.released[slot] = 0;
        }
    }
}

void RunKeyPasses(KeyPressQueue& q, uint8_t* table, void (*process)(uint8_t*, void*), void* context) {
    bool waiting;
    do {
        waiting = TakeKeyPresses(q, table);
        process(table, context);
    } while (waiting);
    ApplyKeyReleases(q, table);
}
