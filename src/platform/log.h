// The console log: one operation, LogMessage, safe from any thread. It is the
// program's (vellicor_console): the engine library holds only WriteLogLine and the
// formatting below.
//
// Each entry is written whole under LogLock to standard output, prefixed with the
// UTC time stamp "[YYYYMMDDhhmmssT] " (T = tenths of a second) and ended by "\n".
// Level 255 is fatal: after the line the process ends.
#pragma once

#include <cstdint>
#include <string>

enum LogLevel : uint8_t {
    LogInfo = 0,
    LogWarning = 1,
    LogError = 2,
    LogFatal = 255,
};

enum LogFlags : uint32_t {
    LogNoNewline = 1,
    LogNoTimestamp = 2,
    LogSystemError = 0x80000000u,  // append the calling thread's last system error (errno)
};

void LogMessage(uint8_t level, uint32_t flags, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Drops the entries below `level` from now on, and the status line unless it is
// LogInfo (the other processes of a distributed run show only their errors).
void SetLogThreshold(uint8_t level);

// A status line below the log on a terminal (a long run's progress): written in
// place with a carriage return, erased before each entry and drawn again after it,
// so that it stays the last line. An empty text erases it. Nothing at all when
// standard output is not a terminal (a file or a pipe keeps only the entries).
void LogStatusLine(const std::string& text);

// One time-stamped line to standard output, without the console log's state (no
// status line, no fatal hooks): what a simulation logs when no sink is set.
void WriteLogLine(const char* text);

// The time-stamp prefix for the given UTC time, e.g. "[202612051824123] ".
std::string FormatLogTimestamp(int year, int month, int day, int hour, int minute, int second,
                               int millisecond);

// Exit status of a fatal entry: the flags word, except that a word whose low byte
// is 0 (every fatal call in the program passes 0) gives 1, so that a fatal end is
// never reported as success.
int FatalExitStatus(uint32_t flags);

// Adds a function called right before a fatal entry ends the process (restoring
// the terminal, closing output files), on the thread that logged it, with the log
// lock held: it must not wait for a thread that logs. The latest added runs first.
// False when all slots are taken.
bool AddLogFatalHook(void (*hook)());
