// Console key input: the terminal in raw mode (restored on every way out), and a
// decoder that turns bytes and escape sequences into the program's key codes (the
// numbering of the key-state tables: letters 65..90, Esc 27, F1 in slot 254, ...).
// Piped input is read the same way, which is how tests drive the program.
//
// Sections: key codes, decoder, console reader.
#pragma once

#include <cstdint>

namespace plat {

// ---- Key codes -------------------------------------------------------------------------
enum VirtualKey : uint16_t {
    VkBack = 8, VkTab = 9, VkReturn = 13, VkShift = 16, VkEscape = 27, VkSpace = 32,
    VkPrior = 33, VkNext = 34, VkEnd = 35, VkHome = 36,
    VkLeft = 37, VkUp = 38, VkRight = 39, VkDown = 40, VkInsert = 45, VkDelete = 46,
    VkNumpad0 = 96, VkF1 = 112, VkF5 = 116, VkF10 = 121, VkF11 = 122, VkF12 = 123,
    VkF1Slot = 254,  // F1 is stored here, never in 112 (lower-case p)
};

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
// has within timeoutMs. A batch ends after an Esc: the keys behind it stay queued,
// so the exit question that an Esc may open reads them. After end of input it only
// sleeps; it never spins.
int ReadConsoleKeys(uint16_t* keys, int maxKeys, uint32_t timeoutMs);
// End of input was read and every key before it has been taken.
bool ConsoleInputEnded();

}  // namespace plat
