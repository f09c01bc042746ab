// Console log.
#include "platform/log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

// LogLock: serialises whole entries; always the innermost lock.
plat::RecursiveLock& LogLock() {
    static plat::RecursiveLock lock;
    return lock;
}

// Called in reverse order of installation before a fatal entry ends the process.
constexpr int kMaxFatalHooks = 4;
std::atomic<void (*)()> FatalHooks[kMaxFatalHooks] = {};

std::string StatusLine;  // under LogLock; shown on the terminal while not empty
std::atomic<uint8_t> Threshold{LogInfo};  // entries below it are dropped

// "\r" then "erase to the end of the line" (ECMA-48 EL).
constexpr const char kEraseLine[] = "\r\x1b[K";

}  // namespace

bool AddLogFatalHook(void (*hook)()) {
    for (auto& slot : FatalHooks) {
        void (*empty)() = nullptr;
        if (slot.load() == hook || slot.compare_exchange_strong(empty, hook)) return true;
    }
    return false;
}

void SetLogThreshold(uint8_t level) { Threshold.store(level); }

void LogStatusLine(const std::string& text) {
    static const bool terminal = isatty(STDOUT_FILENO) == 1;
    if (!terminal || Threshold.load() > LogInfo) return;
    plat::LockGuard guard(LogLock());
    std::fputs(kEraseLine, stdout);
    StatusLine = text;
    std::fputs(StatusLine.c_str(), stdout);
    std::fflush(stdout);
}

void LogMessage(uint8_t level, uint32_t flags, const char* format, ...) {
    // Read errno first: the output calls below may change it.
    const int error = errno;
    if (level < Threshold.load()) return;
    {
        plat::LockGuard guard(LogLock());
        if (!StatusLine.empty()) std::fputs(kEraseLine, stdout);
        if (!(flags & LogNoTimestamp)) {
            const plat::UtcTime t = plat::SystemTimeUtc();
            const std::string prefix =
                FormatLogTimestamp(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
            std::fwrite(prefix.data(), 1, prefix.size(), stdout);
        }
        char buffer[4096];
        std::memset(buffer, 0, sizeof buffer);
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
        std::fwrite(buffer, 1, std::strlen(buffer), stdout);
        if (!(flags & LogNoNewline)) std::fputc('\n', stdout);
        if (flags & LogSystemError) std::printf("errno is %d: %s\n", error, plat::ErrorText(error).c_str());
        // After a partial line the status line waits for the entry that ends it.
        if (!StatusLine.empty() && !(flags & LogNoNewline)) std::fputs(StatusLine.c_str(), stdout);
        std::fflush(stdout);
        if (level == LogFatal) {
            for (int i = kMaxFatalHooks - 1; i >= 0; --i)
                if (auto hook = FatalHooks[i].load()) hook();
            std::fflush(nullptr);
            // Other threads may still run: end at once, without static destructors.
            _exit(FatalExitStatus(flags));
        }
    }
}
