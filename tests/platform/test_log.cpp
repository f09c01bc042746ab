// The console log: prefix, flags, message limit, error line and fatal exit,
// each observed from a child process's standard output and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "platform/log.h"

namespace {

struct ChildResult {
    std::string output;
    int exitStatus;
};

// Runs `body` in a child whose standard output goes to a pipe; the child exits 0
// after the body unless the body ends it first.
ChildResult RunInChild(const std::function<void()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return {"", -1};
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        body();
        std::fflush(stdout);
        _exit(0);
    }
    close(fds[1]);
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

}  // namespace

TEST(Log, TimestampPrefixWithTenths) {
    EXPECT_EQ(FormatLogTimestamp(2026, 12, 5, 18, 24, 12, 345), "[202612051824123] ");
    EXPECT_EQ(FormatLogTimestamp(2026, 1, 2, 3, 4, 5, 999), "[202601020304059] ");
    EXPECT_EQ(FormatLogTimestamp(2026, 1, 2, 3, 4, 5, 99), "[202601020304050] ");
}

namespace {

// The output with every "[" + 15 digits + "]" time stamp written as "[T]".
std::string MaskStamps(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '[' && i + 16 < text.size() && text[i + 16] == ']' &&
            text.find_first_not_of("0123456789", i + 1) == i + 16) {
            out += "[T]";
            i += 16;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

TEST(Log, LinesAndFlags) {
    const ChildResult r = RunInChild([] {
        LogMessage(LogInfo, 0, "Created simulation with %d neurons", 42);
        LogMessage(LogWarning, LogNoTimestamp | LogNoNewline, "bare ");
        LogMessage(LogError, LogNoTimestamp, "%s", "100% literal %d");
        LogMessage(LogInfo, LogNoNewline, "x");
        LogStatusLine("progress");  // not a terminal: nothing
    });
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(MaskStamps(r.output), "[T] Created simulation with 42 neurons\nbare 100% literal %d\n[T] x");
}

TEST(Log, MessageIsCutAt4095Characters) {
    const ChildResult r = RunInChild([] {
        const std::string longText(6000, 'a');
        LogMessage(LogInfo, LogNoTimestamp, "%s", longText.c_str());
    });
    EXPECT_EQ(r.output, std::string(4095, 'a') + "\n");
}

TEST(Log, SystemErrorLineFollowsTheMessage) {
    const ChildResult r = RunInChild([] {
        errno = ENOENT;
        LogMessage(LogError, LogSystemError, "Unable to open the file.");
    });
    EXPECT_EQ(MaskStamps(r.output), "[T] Unable to open the file.\nerrno is 2: No such file or directory\n");
}

TEST(Log, FatalEntryEndsTheProcessWithFailure) {
    // A fatal line is written whole, then the process ends; the flags word 0 of
    // every fatal call must not read as success.
    ChildResult r = RunInChild([] {
        LogMessage(LogFatal, 0, "Unable to allocate memory for the neural network!");
        std::printf("not reached");
    });
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.output.find("Unable to allocate memory for the neural network!\n"), std::string::npos);
    EXPECT_EQ(r.output.find("not reached"), std::string::npos);
    r = RunInChild([] { LogMessage(LogFatal, LogNoTimestamp | LogNoNewline, "x"); });
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_EQ(r.output, "x");
    EXPECT_EQ(FatalExitStatus(0), 1);
    EXPECT_EQ(FatalExitStatus(LogSystemError), 1);
    EXPECT_EQ(FatalExitStatus(2), 2);
}
