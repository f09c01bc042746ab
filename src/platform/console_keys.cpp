// Console key input.
//
// Sections: decoder, terminal mode and signals, reader.
#include "platform/console_keys.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <iterator>

#include "platform/log.h"
#include "platform/platform.h"

namespace plat {

bool KeyRepeatsWhileHeld(int slot) {
    switch (slot) {
    case 'W': case 'A': case 'S': case 'D':
    case VkPageUp: case VkPageDown: case VkLeft: case VkUp: case VkRight: case VkDown:
        return true;
    default:
        return false;
    }
}

bool KeyIsToggle(int slot) {
    switch (slot) {
    case 'P': case VkSpace: case 'E': case 'O': case 'V': case 'R': case 'L': case 'C': case 'K':
    case VkF10: case VkF1Slot: case VkF5: case VkF11:
        return true;
    default:
        return false;
    }
}

bool AcceptConsoleKey(ConsoleRepeatFilter& f, uint16_t key, uint32_t nowMs) {
    const bool sameKey = f.lastKey == key;
    const bool held = sameKey && KeyIsToggle(key) &&
                      (nowMs - f.lastArrival < kRepeatStreamGapMs || nowMs - f.lastAccepted < kRepeatDelayMs);
    f.lastKey = key;
    f.lastArrival = nowMs;
    if (!held) f.lastAccepted = nowMs;
    return !held;
}

// ---- Decoder --------------------------------------------------------------------------------
namespace {

// A plain byte as a key, or 0 when it has no key code.
uint16_t KeyOfByte(uint8_t b) {
    if (b >= 'a' && b <= 'z') return static_cast<uint16_t>(b - 'a' + 'A');
    if (b >= 'A' && b <= 'Z') return b;
    if (b >= '0' && b <= '9') return b;
    switch (b) {
    case ' ': return VkSpace;
    case '\r': case '\n': return VkReturn;
    case '\t': return VkTab;
    case 0x7F: case 0x08: return VkBack;
    case 0x1B: return VkEscape;
    default: return 0;
    }
}

// The key of "ESC [ <params> <final>", or 0.
uint16_t KeyOfCsi(const uint8_t* params, int length, uint8_t final) {
    switch (final) {
    case 'A': return VkUp;
    case 'B': return VkDown;
    case 'C': return VkRight;
    case 'D': return VkLeft;
    case 'H': return VkHome;
    case 'F': return VkEnd;
    case 'P': return VkF1Slot;  // "ESC [ 1 ; m P" forms of F1..F4
    case 'Q': return VkF1 + 1;
    case 'R': return VkF1 + 2;
    case 'S': return VkF1 + 3;
    case '~': break;
    default: return 0;
    }
    // The leading number; anything above 99 saturates there and names no key (a
    // long number must not wrap onto a real one).
    int number = 0;
    for (int i = 0; i < length && params[i] >= '0' && params[i] <= '9'; ++i) {
        number = number * 10 + (params[i] - '0');
        if (number > 99) return 0;
    }
    switch (number) {
    case 1: case 7: return VkHome;
    case 2: return VkInsert;
    case 3: return VkDelete;
    case 4: case 8: return VkEnd;
    case 5: return VkPageUp;
    case 6: return VkPageDown;
    case 11: return VkF1Slot;
    case 12: case 13: case 14: return static_cast<uint16_t>(VkF1 + number - 11);
    case 15: return VkF5;
    case 17: case 18: case 19: case 20: case 21: return static_cast<uint16_t>(VkF5 + number - 16);
    case 23: return VkF11;
    case 24: return VkF12;
    default: return 0;
    }
}

uint16_t KeyOfSs3(uint8_t b) {
    switch (b) {
    case 'P': return VkF1Slot;
    case 'Q': return VkF1 + 1;
    case 'R': return VkF1 + 2;
    case 'S': return VkF1 + 3;
    case 'A': return VkUp;
    case 'B': return VkDown;
    case 'C': return VkRight;
    case 'D': return VkLeft;
    case 'H': return VkHome;
    case 'F': return VkEnd;
    default: return 0;
    }
}

int Emit(uint16_t key, uint16_t* out, int n) {
    if (key) out[n++] = key;
    return n;
}

}  // namespace

bool ConsoleDecoderPending(const ConsoleKeyDecoder& d) { return d.count > 0; }

int DecodeConsoleByte(ConsoleKeyDecoder& d, uint8_t b, uint16_t* out) {
    int n = 0;
    if (d.count == 0) {
        if (b == 0x1B) {
            d.pending[d.count++] = b;
            return 0;
        }
        return Emit(KeyOfByte(b), out, n);
    }
    if (d.count == 1) {  // after ESC
        if (b == '[' || b == 'O') {
            d.pending[d.count++] = b;
            return 0;
        }
        // Esc followed by anything else is Esc and then that key.
        d.count = 0;
        n = Emit(VkEscape, out, n);
        return n + DecodeConsoleByte(d, b, out + n);
    }
    if (d.pending[1] == 'O') {  // ESC O x
        d.count = 0;
        return Emit(KeyOfSs3(b), out, n);
    }
    // ESC [ ...
    if (d.count == 2 && b == '[') {  // Linux console: ESC [ [ A..E = F1..F5
        d.pending[d.count++] = b;
        return 0;
    }
    if (d.count == 3 && d.pending[2] == '[') {
        d.count = 0;
        if (b >= 'A' && b <= 'E') return Emit(b == 'A' ? static_cast<uint16_t>(VkF1Slot) : static_cast<uint16_t>(VkF1 + (b - 'A')), out, n);
        return 0;
    }
    if (b >= 0x40 && b <= 0x7E) {  // final byte
        const uint16_t key = d.overlong ? 0 : KeyOfCsi(d.pending + 2, d.count - 2, b);
        d.count = 0;
        d.overlong = false;
        return Emit(key, out, n);
    }
    // An overlong sequence is read to its final byte and dropped, so that its
    // remaining bytes do not come out as keys.
    if (d.count < static_cast<int>(sizeof d.pending)) {
        d.pending[d.count++] = b;
    } else {
        d.overlong = true;
    }
    return 0;
}

int FlushConsoleDecoder(ConsoleKeyDecoder& d, uint16_t* out) {
    if (d.count == 0) return 0;
    const int n = d.count == 1 ? Emit(VkEscape, out, 0) : 0;  // partial sequences are dropped
    d.count = 0;
    d.overlong = false;
    return n;
}

// ---- Terminal mode and signals -----------------------------------------------------------------
namespace {

// Saved before raw mode is set and never changed afterwards, so that a signal
// handler may hand it to tcsetattr (async-signal-safe) at any moment.
termios SavedTerminal;
std::atomic<bool> TerminalRaw{false};
std::atomic<int> Interrupts{0};
std::atomic<int> FirstInterrupt{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the signal handlers need lock-free atomics");

// Async-signal-safe: an atomic exchange and tcsetattr.
void RestoreTerminalNow() {
    if (TerminalRaw.exchange(false)) tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
}

// SIGINT, SIGTERM: the first one is recorded (the program quits or ends its run in
// order); a second one ends the process at once.
void OnInterrupt(int signo) {
    int none = 0;
    FirstInterrupt.compare_exchange_strong(none, signo);
    if (Interrupts.fetch_add(1) >= 1) {
        RestoreTerminalNow();
        _exit(128 + signo);
    }
}

// Signals that end the process: restore the terminal, then die of the same signal.
// The handler is installed with SA_RESETHAND | SA_NODEFER, so the disposition is
// already the default one and raise() delivers at once.
void OnFatalSignal(int signo) {
    const int saved = errno;
    RestoreTerminalNow();
    raise(signo);
    errno = saved;  // returns only for a signal that was blocked elsewhere
}

void OnTerminate() {
    RestoreTerminalNow();
    std::abort();
}

// Installs OnFatalSignal unless the signal is ignored (nohup, a background job) or
// already handled by someone else (a sanitizer runtime).
void HandleFatalSignal(int signo) {
    struct sigaction old {};
    if (sigaction(signo, nullptr, &old) != 0) return;
    if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) return;
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(signo, &action, nullptr);
}

// Keys decoded but not yet taken, oldest first. One read of at most 64 bytes gives
// at most two keys per byte (an Esc and the byte after it).
constexpr int kReadBytes = 64;
constexpr int kMaxDecoded = 2 * kReadBytes + 4;
uint16_t Queue[kMaxDecoded];
int QueueHead = 0;
int QueueCount = 0;
bool InputEnded = false;
ConsoleKeyDecoder Decoder;
bool InputIsTerminal = false;  // set by StartConsoleInput
ConsoleRepeatFilter RepeatFilter;

void Enqueue(const uint16_t* keys, int count) {
    const uint32_t now = TimeMs();
    for (int i = 0; i < count && QueueHead + QueueCount < static_cast<int>(std::size(Queue)); ++i) {
        if (InputIsTerminal && !AcceptConsoleKey(RepeatFilter, keys[i], now)) continue;
        Queue[QueueHead + QueueCount++] = keys[i];
    }
}

}  // namespace

void StartConsoleInput() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    for (int signo : {SIGHUP, SIGQUIT, SIGPIPE, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        HandleFatalSignal(signo);
    std::set_terminate(OnTerminate);
    AddLogFatalHook(RestoreTerminalNow);
    std::atexit(RestoreTerminalNow);
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &SavedTerminal) != 0) return;
    InputIsTerminal = true;
    termios raw = SavedTerminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // signals (Ctrl+C) stay on
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    // Raw is marked first: a signal between the two calls then restores too much
    // rather than too little.
    TerminalRaw = true;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) TerminalRaw = false;
}

void RestoreConsole() { RestoreTerminalNow(); }

bool ConsoleInterrupted() { return Interrupts.load() > 0; }

int ConsoleInterruptSignal() { return FirstInterrupt.load(); }

bool ConsoleInputEnded() { return InputEnded && QueueCount == 0; }

// ---- Reader --------------------------------------------------------------------------------------

int ReadConsoleKeys(uint16_t* keys, int maxKeys, uint32_t timeoutMs) {
    if (QueueCount == 0) {
        QueueHead = 0;
        if (InputEnded) {
            SleepMs(timeoutMs);
            return 0;
        }
        uint16_t decoded[kMaxDecoded];
        int n = 0;
        // A pending Esc waits at most 30 ms for the rest of its sequence.
        const int wait =
            ConsoleDecoderPending(Decoder) && timeoutMs > 30 ? 30 : static_cast<int>(timeoutMs);
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&fd, 1, wait);
        if (ready <= 0) {
            if (ready == 0 || errno != EINTR) n = FlushConsoleDecoder(Decoder, decoded);
        } else {
            uint8_t bytes[kReadBytes];
            const ssize_t got = read(STDIN_FILENO, bytes, sizeof bytes);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
                InputEnded = true;  // end of input: stop reading, never spin on it
                n = FlushConsoleDecoder(Decoder, decoded);
            }
            for (ssize_t i = 0; i < got; ++i) n += DecodeConsoleByte(Decoder, bytes[i], decoded + n);
        }
        Enqueue(decoded, n);
    }
    int taken = 0;
    while (taken < maxKeys && QueueCount > 0) {
        const uint16_t key = Queue[QueueHead++];
        --QueueCount;
        keys[taken++] = key;
        if (key == VkEscape) break;  // what follows may answer the exit question
    }
    return taken;
}

}  // namespace plat
