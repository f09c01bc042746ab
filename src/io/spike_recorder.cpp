// The spike recorder: a ring filled at the end of each step, drained to a SONATA
// spike report by a writer thread.
#include "io/spike_recorder.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>

SpikeRecorder::~SpikeRecorder() {
    std::string ignored;
    Stop(ignored);
}

bool SpikeRecorder::Start(const std::string& path, std::string& error) {
    if (running_.load()) {
        error = "already recording to " + writer_.Path();
        return false;
    }
    if (!writer_.Create(path, error)) return false;
    try {
        if (!ring_) ring_ = std::make_unique<uint64_t[]>(ringSize_);
    } catch (const std::bad_alloc&) {
        std::string ignored;
        writer_.Close(ignored);
        error = path + ": not enough memory to record spikes";
        return false;
    }
    error_.clear();
    failed_.store(false);
    recorded_.store(0, std::memory_order_relaxed);
    {
        // OnStep may run on a worker meanwhile: it sees an empty ring or nothing.
        std::lock_guard<std::mutex> lock(mutex_);
        head_ = tail_ = 0;
        stopping_ = false;
        running_.store(true);
    }
    try {
        thread_ = std::thread([this] {
            try {
                WriterLoop();
            } catch (const std::bad_alloc&) {
                Fail(writer_.Path() + ": not enough memory to record spikes");
            }
        });
    } catch (const std::system_error&) {  // no memory or no thread for the writer
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_.store(false);
        }
        std::string ignored;
        writer_.Close(ignored);
        error = path + ": cannot start the recording thread (not enough memory)";
        return false;
    }
    return true;
}

void SpikeRecorder::OnStep(uint32_t step, const uint32_t* ids, uint32_t count) {
    if (!running_.load(std::memory_order_relaxed)) return;  // the common case: not recording
    if (failed_.load(std::memory_order_relaxed)) return;    // the file took no more
    const uint64_t stamp = static_cast<uint64_t>(step) << 32;
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_) return;  // Stop has begun: this step belongs to no report
    inStep_ = true;  // the writer does not finish while a step is half in the ring
    for (uint32_t k = 0; k < count; ++k) {
        if (head_ - tail_ == ringSize_) {  // full: wait for the writer, drop nothing
            wake_.notify_one();
            space_.wait(lock, [this] { return head_ - tail_ < ringSize_ || failed_.load(); });
            if (failed_.load()) break;  // the writer has given up: nothing more is kept
        }
        ring_[head_ % ringSize_] = stamp | ids[k];
        ++head_;
    }
    inStep_ = false;
    if (stopping_ || head_ - tail_ >= std::min(kChunk, ringSize_ / 2)) wake_.notify_one();
}

void SpikeRecorder::WriterLoop() {
    std::vector<double> times;
    std::vector<uint64_t> ids;
    times.reserve(kChunk);
    ids.reserve(kChunk);
    for (;;) {
        bool stop = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(250),
                           [this] { return stopping_ || head_ - tail_ >= std::min(kChunk, ringSize_ / 2); });
            stop = stopping_;
            times.clear();
            ids.clear();
            while (tail_ != head_ && ids.size() < kChunk) {
                const uint64_t entry = ring_[tail_ % ringSize_];
                ++tail_;
                times.push_back(0.5 * static_cast<double>(entry >> 32));
                ids.push_back(entry & 0xFFFFFFFFu);
            }
            stop = stop && tail_ == head_ && !inStep_;
        }
        space_.notify_all();
        // Every chunk is flushed at once: a write that fails later (a full disk)
        // then loses nothing the report already held.
        std::string error;
        if (!ids.empty() && error_.empty()) {
            if (writer_.Append(times.data(), ids.data(), ids.size(), error) && writer_.Flush(error))
                recorded_.fetch_add(ids.size(), std::memory_order_relaxed);
            else
                Fail(error);
        }
        if (stop) return;
    }
}

void SpikeRecorder::Fail(const std::string& error) {  // writer thread
    error_ = error;
    recorded_.store(writer_.SpikeCount(), std::memory_order_relaxed);  // what the file keeps
    failed_.store(true);
    {
        // Spikes still in the ring are not written: the ring is emptied, so no
        // OnStep waits for room.
        std::lock_guard<std::mutex> lock(mutex_);
        tail_ = head_;
    }
    space_.notify_all();
    if (onFailure_) onFailure_(failureContext_, error);
}

bool SpikeRecorder::Stop(std::string& error) {
    if (!running_) {
        if (error_.empty()) return true;
        error = error_;
        return false;
    }
    {
        // After this no OnStep adds to the ring; one in progress has finished.
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        running_.store(false);
    }
    wake_.notify_one();
    space_.notify_all();
    thread_.join();
    std::string closeError;
    if (!writer_.Close(closeError) && error_.empty()) error_ = closeError;
    if (!error_.empty()) {
        error = error_;
        return false;
    }
    return true;
}
