// Console key input: the terminal in raw mode (restored on every way out), and a
// decoder that turns bytes and escape sequences into the program's key codes (the
// numbering of the key-state tables: letters 65..90, Esc 27, F1 in slot 254, ...).
// Piped input is read the same way, which is how tests drive the program.
// Built into vellicor_console, not vellicor_engine: the saved termios, the signal
// handlers and the key queue are process-wide state that only the program owns.
//
// Sections: key codes, decoder, console reader.
#pragma once

#include <cstdint>

namespace plat {

// ---- Key codes -------------------------------------------------------------------------
enum VirtualKey : uint16_t {
    VkBack = 8, VkTab = 9, VkReturn = 13, VkShift = 16, VkEscape = 27, VkSpace = 32,
    VkPageUp = 33, VkPageDown = 34, VkEnd = 35, VkHome = 36,
    VkLeft = 37, VkUp = 38, VkRight = 39, VkDown = 40, VkInsert = 45, VkDelete = 46,
    VkNumpad0 = 96, VkF1 = 112, VkF5 = 116, VkF10 = 121, VkF11 = 122, VkF12 = 123,
    VkF1Slot = 254,  // F1 is stored here, never in 112 (lower-case p)
};

// Keys that act again while held down: the camera moves W, A, S, D, the arrows and
// Page Up/Down. Every other key (the toggles P, Space, E, O, F10, V, R, L, C, K, F1,
// F5, F11 among them) acts once per press; its keyboard auto-repeat is ignored.
bool KeyRepeatsWhileHeld(int slot);
// The toggle keys (P, Space, E, O, F10, V, R, L, C, K, F1, F5, F11): a second action
// while held would undo the first.
bool KeyIsToggle(int slot);

// ---- Decoder -----------------------------------------------------------------------------
struct ConsoleKeyDecoder {
    uint8_t pending[16];
    int count = 0;
    bool overlong = false;  // a sequence longer than `pending`: dropped at its final byte
};

// Feeds one byte; writes the finished keys to out (at most 4) and returns their number.
// F1 comes out as VkF1Slot; letters of either case as 65..90.
int DecodeConsoleByte(ConsoleKeyDecoder& decoder, uint8_t byte, uint16_t* out);
// Ends a pending sequence (time-out or end of input): a lone Esc is Esc.
int FlushConsoleDecoder(ConsoleKeyDecoder& decoder, uint16_t* out);
bool ConsoleDecoderPending(const ConsoleKeyDecoder& decoder);

// ---- Held keys on a terminal -------------------------------------------------------------
// A terminal reports no key-up: a held key arrives as the same byte again, first
// after the repeat delay (250-660 ms on common desktops, X's default is 660 ms),
// then at the repeat rate (25-40 per second). So a toggle key is taken as held,
// and dropped, when it arrives again
//   - within kRepeatStreamGapMs of its previous arrival (a repeat stream), or
//   - within kRepeatDelayMs of its last accepted press (the first repeat),
// with no other key in between (a terminal repeats only the last key pressed).
// So a second press of one toggle key less than 0.7 s after the first counts as
// the key held; a press after the key was let go (a pause of 0.2 s in the stream)
// acts again. Piped input is not a keyboard: every byte there is a press.
inline constexpr uint32_t kRepeatStreamGapMs = 200;
inline constexpr uint32_t kRepeatDelayMs = 700;
struct ConsoleRepeatFilter {
    uint16_t lastKey = 0;  // 0: none yet
    uint32_t lastArrival = 0;
    uint32_t lastAccepted = 0;
};
// Whether `key`, arriving at nowMs, is a press to act on (true) or auto-repeat.
bool AcceptConsoleKey(ConsoleRepeatFilter& filter, uint16_t key, uint32_t nowMs);

// ---- Console reader -----------------------------------------------------------------------

// Puts a terminal on standard input into raw mode (no echo, no line buffering)
// and restores it on every way out: exit, fatal log, std::terminate, and death by
// SIGHUP, SIGQUIT, SIGPIPE, SIGABRT or a fault signal (the handler restores the saved
// termios, then the signal is raised again with its default action). SIGINT and
// SIGTERM only record the interrupt; a second one restores and ends the process at
// once with status 128 + its number.
void StartConsoleInput();
void RestoreConsole();
bool ConsoleInterrupted();
// The first SIGINT or SIGTERM received, or 0.
int ConsoleInterruptSignal();

// Returns up to maxKeys decoded keys: queued ones at once, else what standard input
// has within timeoutMs (from a terminal, without the auto-repeat AcceptConsoleKey
// drops). A batch ends after an Esc: the keys behind it stay queued,
// so the exit question that an Esc may open reads them. After end of input it only
// sleeps; it never spins.
int ReadConsoleKeys(uint16_t* keys, int maxKeys, uint32_t timeoutMs);
// End of input was read and every key before it has been taken.
bool ConsoleInputEnded();

}  // namespace plat
