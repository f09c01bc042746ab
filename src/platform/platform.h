// Thin layer over the operating system: the services the rest of the program calls.
//
// Sections:
//   1. Threads and priorities
//   2. Auto-reset event
//   3. Recursive lock
//   4. Atomics
//   5. Clocks and sleep
//   6. Aligned memory
//   7. System facts and error text
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace plat {

// ---- 1. Threads and priorities -------------------------------------------------

enum class ThreadPriority { Idle, Normal, AboveNormal, TimeCritical };

// Best effort: idle maps to SCHED_IDLE; raising priority is requested and silently
// kept at normal when the system refuses (unprivileged processes may not raise it).
void SetCurrentThreadPriority(ThreadPriority priority);

// The engine's arithmetic runs with subnormal floats flushed to zero (SSE FTZ and
// DAZ in MXCSR): the same bits whichever thread or program steps a network, and no
// slow subnormal operations. The calling thread's mode comes back at the scope's end.
class FlushToZeroScope {
public:
    FlushToZeroScope();
    ~FlushToZeroScope();
    FlushToZeroScope(const FlushToZeroScope&) = delete;
    FlushToZeroScope& operator=(const FlushToZeroScope&) = delete;

private:
    uint32_t saved_;
};

// Starts a detached thread running fn(arg). Returns false when it cannot be created.
bool StartDetachedThread(void (*fn)(void*), void* arg);

// ---- 2. Auto-reset event -----------------------------------------------------------
// One Set releases one Wait; a Set with no waiter is remembered (until one Wait).
// A futex word: waking a parked thread costs one system call, no mutex hand-over.
class AutoResetEvent {
public:
    void Set();
    void Wait();
    // Returns true when signalled, false on time-out.
    bool WaitFor(uint32_t milliseconds);

private:
    std::atomic<uint32_t> signalled_{0};
    std::atomic<uint32_t> waiters_{0};
};

// ---- 3. Recursive lock ---------------------------------------------------------------
using RecursiveLock = std::recursive_mutex;
using LockGuard = std::lock_guard<std::recursive_mutex>;

// ---- 4. Atomics -----------------------------------------------------------------------
// Shared fields stay plain members of plain records; threads that share them use
// these views (std::atomic_ref), so the records remain copyable.
template <typename T>
inline T AtomicLoad(const T& field) {
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_acquire);
}
template <typename T>
inline void AtomicStore(T& field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_release);
}
template <typename T>
inline T AtomicExchange(T& field, T value) {
    return std::atomic_ref<T>(field).exchange(value, std::memory_order_acq_rel);
}
template <typename T>
inline T AtomicAdd(T& field, T value) {  // returns the new value
    return std::atomic_ref<T>(field).fetch_add(value, std::memory_order_acq_rel) + value;
}
template <typename T>
inline T AtomicDecrement(T& field) {  // returns the new value
    return std::atomic_ref<T>(field).fetch_sub(1, std::memory_order_acq_rel) - 1;
}

// ---- 5. Clocks and sleep ---------------------------------------------------------------

// Steady millisecond clock (CLOCK_MONOTONIC) as a wrapping u32.
uint32_t TimeMs();

struct UtcTime {
    int year, month, day, hour, minute, second, millisecond;
};
UtcTime SystemTimeUtc();

void SleepMs(uint32_t milliseconds);

// ---- 6. Aligned memory -------------------------------------------------------------------
// 64-byte (cache-line) aligned, zero-filled. Returns null on failure (or for 0 bytes, a valid
// pointer to an empty block). Release with AlignedFree. Blocks of 4 MiB or more are
// 2 MiB aligned and advised onto transparent huge pages.
void* AlignedAllocZeroed(size_t bytes);
void AlignedFree(void* p);

// ---- 7. System facts and error text ------------------------------------------------------

// Physical cores from /sys topology (distinct core ids per package), else the
// online processor count; 0 if nothing could be read.
uint32_t PhysicalCoreCount();
uint32_t LogicalProcessorCount();
// Folder of the running executable (no trailing slash); "." if unknown.
std::string ProgramFolder();
// The calling thread's last error number and its text.
int LastErrorCode();
std::string ErrorText(int code);

}  // namespace plat
