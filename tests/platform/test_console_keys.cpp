// Console key decoder on recorded terminal byte sequences, and the terminal mode
// after std::terminate.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "platform/console_keys.h"

namespace {

std::vector<uint16_t> Decode(const std::string& bytes, bool flush = true) {
    plat::ConsoleKeyDecoder decoder;
    std::vector<uint16_t> keys;
    uint16_t out[4];
    for (unsigned char b : bytes) {
        const int n = plat::DecodeConsoleByte(decoder, b, out);
        keys.insert(keys.end(), out, out + n);
    }
    if (flush) {
        const int n = plat::FlushConsoleDecoder(decoder, out);
        keys.insert(keys.end(), out, out + n);
    }
    return keys;
}

using Keys = std::vector<uint16_t>;

}  // namespace

TEST(ConsoleKeys, PlainCharacters) {
    EXPECT_EQ(Decode("pP e"), (Keys{80, 80, 32, 69}));
    EXPECT_EQ(Decode("x5\r"), (Keys{88, '5', 13}));
    EXPECT_EQ(Decode("#~"), Keys{});  // no key code
}

TEST(ConsoleKeys, XtermAndTmuxSequences) {
    EXPECT_EQ(Decode("\x1bOP"), Keys{254});  // F1 goes to slot 254, never 112
    EXPECT_EQ(Decode("\x1b[15~"), Keys{116});
    EXPECT_EQ(Decode("\x1b[21~"), Keys{121});
    EXPECT_EQ(Decode("\x1b[23~"), Keys{122});
    EXPECT_EQ(Decode("\x1b[A\x1b[B\x1b[C\x1b[D"), (Keys{38, 40, 39, 37}));
    EXPECT_EQ(Decode("\x1b[1~\x1b[4~\x1b[H\x1b[F\x1bOH\x1bOF"), (Keys{36, 35, 36, 35, 36, 35}));
    EXPECT_EQ(Decode("\x1b[5~\x1b[6~"), (Keys{33, 34}));
    EXPECT_EQ(Decode("\x1bOR"), Keys{114});        // F3
    EXPECT_EQ(Decode("\x1b[1;5A"), Keys{38});      // modified arrow
}

TEST(ConsoleKeys, LinuxConsoleFunctionKeys) {
    EXPECT_EQ(Decode("\x1b[[A"), Keys{254});
    EXPECT_EQ(Decode("\x1b[[B\x1b[[C\x1b[[D\x1b[[E"), (Keys{113, 114, 115, 116}));
}

TEST(ConsoleKeys, LoneEscapeAndEscapeFollowedByOtherKeys) {
    EXPECT_EQ(Decode("\x1b"), Keys{27});                  // flushed by time-out or end of input
    EXPECT_EQ(Decode("\x1b", false), Keys{});             // still waiting for a sequence
    EXPECT_EQ(Decode("\x1bp"), (Keys{27, 80}));           // Esc, then p
    EXPECT_EQ(Decode("\x1b\x1b[A"), (Keys{27, 38}));      // Esc, then Up
    EXPECT_EQ(Decode("\x1b[99~p"), Keys{80});             // unknown sequence dropped
    EXPECT_EQ(Decode("\x1b[1"), Keys{});                  // partial sequence dropped
}

TEST(ConsoleKeys, LongNumbersAndOverlongSequencesNameNoKey) {
    EXPECT_EQ(Decode("\x1b[4294967311~"), Keys{});        // would wrap onto 15 (F5)
    EXPECT_EQ(Decode("\x1b[99999999999~p"), Keys{80});
    EXPECT_EQ(Decode("\x1b[" + std::string(40, '1') + "~p"), Keys{80});  // longer than the buffer
    EXPECT_EQ(Decode("\x1b[015~"), Keys{116});            // leading zeros are no overflow
}

TEST(ConsoleKeys, HeldToggleOnATerminalActsOncePerPress) {
    // What `acted` returns for keys arriving at the given times (ms).
    const auto acted = [](std::vector<std::pair<uint16_t, uint32_t>> arrivals) {
        plat::ConsoleRepeatFilter filter;
        Keys keys;
        for (auto [key, at] : arrivals)
            if (plat::AcceptConsoleKey(filter, key, at)) keys.push_back(key);
        return keys;
    };
    // O held 1.5 s: the press, the first repeat after 660 ms, then 30 per second.
    std::vector<std::pair<uint16_t, uint32_t>> held{{'O', 1000}};
    for (uint32_t t = 1660; t <= 2500; t += 33) held.push_back({'O', t});
    EXPECT_EQ(acted(held), Keys{'O'});
    // Let go, pressed again 0.3 s after the last repeat: a new press.
    held.push_back({'O', 2800});
    EXPECT_EQ(acted(held), (Keys{'O', 'O'}));
    // Another key in between ends the repeat; camera keys repeat; so does the
    // clock's wrap-around.
    EXPECT_EQ(acted({{'P', 10}, {'E', 50}, {'P', 90}}), (Keys{'P', 'E', 'P'}));
    EXPECT_EQ(acted({{'W', 10}, {'W', 40}, {38, 70}, {38, 100}}), (Keys{'W', 'W', 38, 38}));
    EXPECT_EQ(acted({{254, 0xFFFFFFF0u}, {254, 20}, {254, 900}}), (Keys{254, 254}));
}

TEST(ConsoleTerminal, TerminateRestoresTheModeAndStillAborts) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(slave, STDIN_FILENO);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        plat::StartConsoleInput();
        termios raw{};
        if (tcgetattr(STDIN_FILENO, &raw) != 0 || (raw.c_lflag & ECHO)) _exit(3);  // never went raw
        std::terminate();
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT) << status;
    termios mode{};
    ASSERT_EQ(tcgetattr(slave, &mode), 0);
    EXPECT_TRUE(mode.c_lflag & ECHO);
    EXPECT_TRUE(mode.c_lflag & ICANON);
    close(slave);
    close(master);
}
