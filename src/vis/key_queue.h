// Key presses waiting for the key commands.
//
// A key table byte only says "down and not yet taken", so presses of one key that
// arrive between two command passes would act once: at a low frame rate the main
// thread waits for StateLock while a slow frame is drawn, and a burst of taps then
// arrives in one batch of window events. The queue counts the presses of each slot
// and hands them to the table one pass at a time, so every press acts once.
// Auto-repeat of a held camera key (plat::KeyRepeatsWhileHeld) is not counted: it
// keeps the key down, so the key repeats at the rate the commands run and nothing
// piles up to act after it has been let go. Every other key acts once per press:
// its auto-repeat is dropped.
#pragma once

#include <cstdint>

struct KeyPressQueue {
    uint8_t pending[256];   // presses not yet in the table (saturates at 255)
    uint8_t released[256];  // the slot's last event was a release
};

void QueueKeyPress(KeyPressQueue& queue, int slot);
void QueueKeyRepeat(KeyPressQueue& queue, int slot);
void QueueKeyRelease(KeyPressQueue& queue, int slot);

// Puts one waiting press of every slot into the table (a slot still down simply
// stays down). Returns true when presses are still waiting after this one.
bool TakeKeyPresses(KeyPressQueue& queue, uint8_t* table);
// Clears the table slots whose key was released and has no press waiting.
void ApplyKeyReleases(KeyPressQueue& queue, uint8_t* table);

// One round of the commands: runs process(table, context) at least once (keys that
// act only when they can must be retried every round) and again until no press
// waits, then applies the releases.
void RunKeyPasses(KeyPressQueue& queue, uint8_t* table, void (*process)(uint8_t* table, void* context),
                  void* context);
