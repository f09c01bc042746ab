// Console key input: the terminal in raw mode (restored on every way out), and a
// decoder that turns bytes and escape sequences into Windows virtual-key codes.
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
// and arranges its restoration at exit, fatal log, SIGINT and SIGTERM. SIGINT and
// SIGTERM set the interrupt flag (a second one ends the process at once).
void StartConsoleInput();
void RestoreConsole();
bool ConsoleInterrupted();

// Reads what standard input has within timeoutMs and decodes it into keys (at most
// maxKeys). After end of input it only sleeps; it never spins.
int ReadConsoleKeys(uint16_t* keys, int maxKeys, uint32_t timeoutMs);
bool ConsoleInputEnded();

}  // namespace plat
