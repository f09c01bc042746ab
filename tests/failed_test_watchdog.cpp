// Ends the test binary when a test that has failed does not end within 15 s.
//
// A fault that makes a worker miss a barrier leaves it waiting for ever: the
// assertion fails, and then the test's clean-up (StopWorkers, PauseWorkers, a
// simulation's Stop) waits for that worker until ctest's time-out. The first failed
// assertion of a test arms this watchdog; the test's end disarms it. When it fires,
// the failures have been printed already: it says why the binary ends, and ends it
// with status 1 (the stuck threads cannot be ended one by one).
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kGrace = std::chrono::seconds(15);

// The watch thread's state: never freed, as the detached thread waits on it until
// the process ends (destroying a condition variable with a waiter blocks).
struct Watch {
    std::mutex mutex;
    std::condition_variable wake;
    bool armed = false;
    Clock::time_point deadline;
};

[[noreturn]] void WatchThread(Watch* w) {
    std::unique_lock<std::mutex> lock(w->mutex);
    for (;;) {
        if (!w->armed) {
            w->wake.wait(lock);
        } else if (w->wake.wait_until(lock, w->deadline) == std::cv_status::timeout && w->armed &&
                   Clock::now() >= w->deadline) {
            std::fprintf(stderr,
                         "A failed test has not ended within 15 s (worker threads that missed a barrier "
                         "never stop): ending the test binary.\n");
            std::fflush(nullptr);
            std::_Exit(1);
        }
    }
}

class FailedTestWatchdog final : public ::testing::EmptyTestEventListener {
public:
    explicit FailedTestWatchdog(Watch* watch) : watch_(watch) { std::thread(WatchThread, watch_).detach(); }

private:
    void OnTestPartResult(const ::testing::TestPartResult& result) override {
        if (!result.failed()) return;
        std::lock_guard<std::mutex> lock(watch_->mutex);
        if (!watch_->armed) {
            watch_->armed = true;
            watch_->deadline = Clock::now() + kGrace;
            watch_->wake.notify_all();
        }
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        std::lock_guard<std::mutex> lock(watch_->mutex);
        watch_->armed = false;
    }
    Watch* watch_;
};

// Installed before main; gtest owns the listener.
Watch* const TheWatch = new Watch;  // reachable for ever: no leak to report
const bool kInstalled = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new FailedTestWatchdog(TheWatch));
    return true;
}();

}  // namespace
