// Records every spike of a run into a SONATA spike report, off the step's
// critical path.
//
// The end-of-step observer (OnStep) runs on one thread after the step's last
// barrier; it copies the ids of the neurons that fired into a ring allocated at
// Start, and a writer thread of the recorder appends them to the file in chunks
// and flushes each one (at least every 250 ms), so the file on disk is complete up
// to its last chunk and memory does not grow with the run. When the ring is full OnStep
// waits for the writer: no spike is ever dropped. Stop drains the ring, flushes and
// closes the file; call it on every way out. Start and Stop may be called while
// OnStep runs on a worker: a step is recorded whole or not at all.
//
// A write that fails (a full disk) ends the recording at once: the file keeps the
// spikes written before, later steps are not recorded, and the failure handler
// hears of it on the writer thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/sonata.h"

class SpikeRecorder {
public:
    // `ringEntries`: spikes held between the step and the writer (a test may make it tiny).
    explicit SpikeRecorder(size_t ringEntries = size_t{1} << 20) : ringSize_(ringEntries) {}
    ~SpikeRecorder();
    SpikeRecorder(const SpikeRecorder&) = delete;
    SpikeRecorder& operator=(const SpikeRecorder&) = delete;

    // Called once, on the writer thread, when a write fails; `error` says why.
    using FailureHandler = void (*)(void* context, const std::string& error);
    void SetFailureHandler(FailureHandler handler, void* context) {
        onFailure_ = handler;
        failureContext_ = context;
    }

    // Creates the file and starts the writer thread. False with `error` set when
    // the file cannot be created or there is no memory or thread for the writer.
    bool Start(const std::string& path, std::string& error);
    // The step that just completed (its spikes are stamped step * 0.5 ms) and the
    // ids of the neurons that fired in it.
    void OnStep(uint32_t step, const uint32_t* ids, uint32_t count);
    // Drains, flushes and closes (idempotent). False when a write failed at any
    // time; `error` then says why.
    bool Stop(std::string& error);

    bool Recording() const { return running_.load(); }
    uint64_t Recorded() const { return recorded_.load(std::memory_order_relaxed); }
    const std::string& Path() const { return writer_.Path(); }

private:
    void WriterLoop();
    void Fail(const std::string& error);

    const size_t ringSize_;  // entries of (step << 32 | neuron)
    static constexpr size_t kChunk = 16384;

    SpikeReportWriter writer_;
    std::unique_ptr<uint64_t[]> ring_;
    size_t head_ = 0, tail_ = 0;  // under mutex_: next write, next read
    std::mutex mutex_;
    std::condition_variable wake_;   // the writer: data or stop
    std::condition_variable space_;  // OnStep: room in the ring
    bool stopping_ = false;
    bool inStep_ = false;  // an OnStep is filling the ring (it may wait for room)
    std::atomic<bool> running_{false};
    std::atomic<bool> failed_{false};  // a write failed: OnStep adds nothing more
    FailureHandler onFailure_ = nullptr;
    void* failureContext_ = nullptr;
    std::string error_;  // the first write failure
    std::atomic<uint64_t> recorded_{0};
    std::thread thread_;
};
