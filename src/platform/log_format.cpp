// The log's stateless part, for the engine library: the time-stamp prefix, the
// fatal exit status and a whole line written to standard output. The console log
// with its lock, status line and fatal hooks (log.cpp) is the program's.
#include <cstdio>
#include <cstring>

#include "platform/log.h"
#include "platform/platform.h"

std::string FormatLogTimestamp(int year, int month, int day, int hour, int minute, int second,
                               int millisecond) {
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "[%04d%02d%02d%02d%02d%02d%01d] ", year, month, day, hour,
                  minute, second, millisecond / 100);
    return prefix;
}

int FatalExitStatus(uint32_t flags) {
    return (flags & 0xFFu) == 0 ? 1 : static_cast<int>(flags);
}

void WriteLogLine(const char* text) {
    const plat::UtcTime t = plat::SystemTimeUtc();
    const std::string line =
        FormatLogTimestamp(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond) + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);  // one call: whole under stdio's lock
    std::fflush(stdout);
}
