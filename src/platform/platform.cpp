// Linux implementation of the platform services.
//
// Sections: threads, event, clocks, memory, system facts.
#include "platform/platform.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
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

#include <xmmintrin.h>

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

FlushToZeroScope::FlushToZeroScope() : saved_(_mm_getcsr()) {
    _mm_setcsr(saved_ | 0x8040u);  // FTZ (bit 15) and DAZ (bit 6)
}
FlushToZeroScope::~FlushToZeroScope() { _mm_setcsr(saved_); }

bool StartDetachedThread(void (*fn)(void*), void* arg) {
    try {
        std::thread([fn, arg] { fn(arg); }).detach();
        return true;
    } catch (...) {
        return false;
    }
}

// ---- Event ---------------------------------------------------------------------------
// A waiter sleeps only while the word reads 0 (the kernel compares before it
// sleeps), and a setter wakes only when someone may sleep; both use sequentially
// consistent operations, so a Set between a waiter's check and its sleep is seen.

namespace {

long FutexWait(std::atomic<uint32_t>* word, uint32_t expected, const timespec* timeout) {
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_PRIVATE, expected,
                   timeout, nullptr, 0);
}

void FutexWakeOne(std::atomic<uint32_t>* word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace

void AutoResetEvent::Set() {
    signalled_.store(1);
    if (waiters_.load() != 0) FutexWakeOne(&signalled_);
}

void AutoResetEvent::Wait() {
    while (signalled_.exchange(0) == 0) {
        waiters_.fetch_add(1);
        FutexWait(&signalled_, 0, nullptr);
        waiters_.fetch_sub(1);
    }
}

bool AutoResetEvent::WaitFor(uint32_t milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (signalled_.exchange(0) == 0) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::nanoseconds::zero()) return false;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        waiters_.fetch_add(1);
        FutexWait(&signalled_, 0, &timeout);
        waiters_.fetch_sub(1);
    }
    return true;
}

// ---- Clocks ----------------------------------------------------------------------------

uint32_t TimeMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

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
    // Cache-line aligned, so records laid out by cache line start on a line; round up
    // so that aligned_alloc's size rule holds; never ask for 0 bytes.
    size_t size = (bytes + 63) & ~static_cast<size_t>(63);
    if (size < bytes) return nullptr;  // overflow
    if (size == 0) size = 64;
    // Large arrays (a network's synapses, histories, inputs) are read at random
    // places every step: on 2 MiB pages (transparent huge pages, which most
    // kernels give only where madvise asks) far fewer of those reads miss the TLB.
    // The advice is only advice: without huge pages the memory is the same.
    constexpr size_t kHugePage = size_t{2} << 20;
    const bool huge = size >= 2 * kHugePage && size <= SIZE_MAX - kHugePage;
    if (huge) size = (size + kHugePage - 1) & ~(kHugePage - 1);
    void* p = std::aligned_alloc(huge ? kHugePage : 64, size);
    if (p == nullptr) return nullptr;
    if (huge) madvise(p, size, MADV_HUGEPAGE);  // before the first touch, which places the pages
    std::memset(p, 0, size);
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
        // assign(1, '0'): assigning the literal trips a false -Wrestrict warning in GCC 12.
        if (!(package >> packageId)) packageId.assign(1, '0');
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
