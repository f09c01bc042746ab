// Linux implementation of the platform services.
//
// Sections: threads, event, clocks, memory, system facts.
#include "platform/platform.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <utility>

namespace plat {

// ---- Threads -------------------------------------------------------------------------

void SetCurrentThreadPriority(ThreadPriority priority) {
    sched_param param{};
    switch (priority) {
    case ThreadPriority::Idle:
        pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
        break;
    case ThreadPriority::Normal:
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
        break;
    case ThreadPriority::AboveNormal:
    case ThreadPriority::TimeCritical:
        // Needs privileges; an unprivileged process keeps normal priority.
        param.sched_priority = priority == ThreadPriority::TimeCritical
                                   ? sched_get_priority_max(SCHED_RR)
                                   : sched_get_priority_min(SCHED_RR);
        pthread_setschedparam(pthread_self(), SCHED_RR, &param);
        break;
    }
}

bool StartDetachedThread(void (*fn)(void*), void* arg) {
    try {
        std::thread([fn, arg] { fn(arg); }).detach();
        return true;
    } catch (...) {
        return false;
    }
}

// ---- Event ---------------------------------------------------------------------------

void AutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_one();
}

void AutoResetEvent::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return signalled_; });
    signalled_ = false;
}

bool AutoResetEvent::WaitFor(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return signalled_; }))
        return false;
    signalled_ = false;
    return true;
}

// ---- Clocks ----------------------------------------------------------------------------

uint32_t TimeMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

uint32_t TickCount() { return TimeMs(); }

UtcTime SystemTimeUtc() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm parts{};
    gmtime_r(&ts.tv_sec, &parts);
    return UtcTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                   parts.tm_min,         parts.tm_sec,     static_cast<int>(ts.tv_nsec / 1000000)};
}

void SleepMs(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// ---- Memory ----------------------------------------------------------------------------

void* AlignedAllocZeroed(size_t bytes) {
    // Round up so that aligned_alloc's size rule holds; never ask for 0 bytes.
    size_t size = (bytes + 15) & ~static_cast<size_t>(15);
    if (size < bytes) return nullptr;  // overflow
    if (size == 0) size = 16;
    void* p = std::aligned_alloc(16, size);
    if (p) std::memset(p, 0, size);
    return p;
}

void AlignedFree(void* p) { std::free(p); }

// ---- System facts ------------------------------------------------------------------------

uint32_t LogicalProcessorCount() {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

uint32_t PhysicalCoreCount() {
    namespace fs = std::filesystem;
    std::set<std::pair<std::string, std::string>> cores;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/devices/system/cpu", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 4 || name.compare(0, 3, "cpu") != 0 ||
            name.find_first_not_of("0123456789", 3) != std::string::npos)
            continue;
        std::ifstream core(entry.path() / "topology/core_id");
        std::ifstream package(entry.path() / "topology/physical_package_id");
        std::string coreId, packageId;
        if (!(core >> coreId)) continue;
        if (!(package >> packageId)) packageId = "0";
        cores.insert({packageId, coreId});
    }
    if (!cores.empty()) return static_cast<uint32_t>(cores.size());
    return LogicalProcessorCount();
}

std::string ProgramFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return ".";
    auto folder = exe.parent_path().string();
    return folder.empty() ? "/" : folder;
}

int LastErrorCode() { return errno; }

std::string ErrorText(int code) {
    char buffer[256] = {};
    // GNU strerror_r returns the text (maybe not in buffer).
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text ? text : "";
}

}  // namespace plat
