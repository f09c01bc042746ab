// The view snapshot: three frames, one atomic exchange word.
#include "engine/view_snapshot.h"

#include <cstring>
#include <new>

#include "engine/event.h"
#include "engine/simulation.h"
#include "engine/synapses.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kFrameIndexMask = 3;
constexpr uint32_t kFreshFrame = 4;  // published and not yet taken by the reader

template <typename T>
T* AllocZeroed(uint64_t count) {
    return static_cast<T*>(plat::AlignedAllocZeroed(static_cast<size_t>(count * sizeof(T))));
}

void FreeFrame(ViewFrame& f) {
    plat::AlignedFree(f.v);
    plat::AlignedFree(f.envelope);
    plat::AlignedFree(f.incoming);
    plat::AlignedFree(f.outgoing);
    plat::AlignedFree(f.filtered);
    plat::AlignedFree(f.trace);
    plat::AlignedFree(f.analysis.SpikeHistory);
    plat::AlignedFree(f.analysis.power);
    f = ViewFrame{};
}

bool AllocateFrame(ViewFrame& f, const ViewSnapshot& s) {
    f.v = AllocZeroed<float>(s.neuronCount);
    f.envelope = AllocZeroed<float>(s.neuronCount);
    f.incoming = AllocZeroed<ViewIncoming>(s.incomingCapacity);
    f.outgoing = AllocZeroed<uint32_t>(s.outgoingCapacity);
    f.filtered = AllocZeroed<float>(s.filteredCapacity);
    f.trace = AllocZeroed<TraceSample>(kTraceCapacity);
    f.analysis.SpikeHistory = AllocZeroed<float>(kHistoryLength);
    f.analysis.power = AllocZeroed<float>(kSpectrumLength);
    f.inspected = kNoViewNeuron;
    return f.v && f.envelope && f.incoming && (f.outgoing || s.outgoingCapacity == 0) && f.filtered && f.trace && f.analysis.SpikeHistory &&
           f.analysis.power;
}

// The inspected neuron's record, its delay line and its incoming synapses with
// their pre-synaptic neurons' lines.
void CopyInspected(const Simulation& state, const ViewSnapshot& s, ViewFrame& f, uint32_t k) {
    f.inspected = k < state.neuronCount ? k : kNoViewNeuron;
    if (f.inspected == kNoViewNeuron) return;
    const Neuron& n = state.neurons[k];
    f.record = n;
    f.record.delayV = nullptr;
    f.record.excLaneState = f.record.inhLaneState = nullptr;
    f.record.excLaneWeights = f.record.inhLaneWeights = nullptr;
    f.record.incoming = nullptr;
    f.record.outgoing = f.record.excIncoming = f.record.inhIncoming = nullptr;
    f.record.delayFiltered = f.filtered;
    uint32_t used = 0;
    if (n.delayFiltered != nullptr) {
        std::memcpy(f.filtered, n.delayFiltered, n.delayLength * sizeof(float));
        used = n.delayLength;
    }
    const uint32_t count = n.incomingCount < s.incomingCapacity ? n.incomingCount : s.incomingCapacity;
    f.record.incomingCount = count;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t preIndex = IncomingPre(state, k, i);
        const Neuron& pre = state.neurons[preIndex];
        ViewIncoming& in = f.incoming[i];
        in.pre = preIndex;
        in.preV = pre.v;
        in.preDelayIndex = pre.delayIndex;
        in.filteredOffset = used;
        if (pre.delayFiltered != nullptr && used + pre.delayLength <= s.filteredCapacity) {
            std::memcpy(f.filtered + used, pre.delayFiltered, pre.delayLength * sizeof(float));
            used += pre.delayLength;
        }
        in.weight = IncomingWeight(state, k, i);
    }
    const uint32_t outgoing = n.outgoingCount < s.outgoingCapacity ? n.outgoingCount : s.outgoingCapacity;
    f.record.outgoingCount = outgoing;
    for (uint32_t i = 0; i < outgoing; ++i) f.outgoing[i] = OutgoingPost(state, k, i);
}

void CopyAnalysis(const ActivityAnalysis& a, ActivityAnalysis& to) {
    float* history = to.SpikeHistory;
    float* power = to.power;
    to = a;
    to.SpikeHistory = history;
    to.power = power;
    to.spectrum = nullptr;
    to.fftConfig = nullptr;
    if (a.SpikeHistory != nullptr) std::memcpy(history, a.SpikeHistory, kHistoryLength * sizeof(float));
    if (a.power != nullptr) std::memcpy(power, a.power, kSpectrumLength * sizeof(float));
}

// The newest samples of the ring, oldest first, when they belong to the frame's neuron.
void CopyTrace(const ViewSnapshot& s, ViewFrame& f) {
    f.traceCount = 0;
    if (f.inspected == kNoViewNeuron || s.traceNeuron != f.inspected) return;
    uint32_t count = s.traceWanted.load(std::memory_order_relaxed);
    if (count > s.traceCount) count = s.traceCount;
    const uint32_t first = (s.traceHead + kTraceCapacity - count) % kTraceCapacity;
    const uint32_t before = count < kTraceCapacity - first ? count : kTraceCapacity - first;
    std::memcpy(f.trace, s.traceRing + first, before * sizeof(TraceSample));
    std::memcpy(f.trace + before, s.traceRing, (count - before) * sizeof(TraceSample));
    f.traceCount = count;
}

// Everything but v and vEnvelopeView.
void BeginFrame(const Simulation& state, const ViewSnapshot& s, ViewFrame& f, uint32_t inspected) {
    f.step = state.stepCounter.load(std::memory_order_acquire);
    CopyInspected(state, s, f, inspected);
    CopyTrace(s, f);
    CopyAnalysis(state.analysis, f.analysis);
}

}  // namespace

ViewSnapshot* CreateViewSnapshot(const Simulation& state) {
    ViewSnapshot* s = new (std::nothrow) ViewSnapshot{};
    if (s == nullptr) return nullptr;
    s->neuronCount = state.neuronCount;
    for (uint32_t k = 0; k < state.neuronCount; ++k) {
        const Neuron& n = state.neurons[k];
        uint64_t lines = n.delayLength;
        for (uint32_t i = 0; i < n.incomingCount; ++i) lines += state.neurons[IncomingPre(state, k, i)].delayLength;
        if (n.incomingCount > s->incomingCapacity) s->incomingCapacity = n.incomingCount;
        if (n.outgoingCount > s->outgoingCapacity) s->outgoingCapacity = n.outgoingCount;
        if (lines > s->filteredCapacity) s->filteredCapacity = static_cast<uint32_t>(lines);
    }
    s->traceRing = AllocZeroed<TraceSample>(kTraceCapacity);
    bool ok = s->traceRing != nullptr;
    for (ViewFrame& f : s->frames) ok = AllocateFrame(f, *s) && ok;
    if (!ok) {
        ReleaseViewSnapshot(s);
        return nullptr;
    }
    s->reading = 0;
    s->writing = 1;
    s->latest.store(2);
    BeginFrame(state, *s, s->frames[0], kNoViewNeuron);
    CopyViewRange(state, s->frames[0], 0, state.neuronCount);
    return s;
}

void ReleaseViewSnapshot(ViewSnapshot* s) {
    if (s == nullptr) return;
    for (ViewFrame& f : s->frames) FreeFrame(f);
    plat::AlignedFree(s->traceRing);
    delete s;
}

void RequestViewFrame(ViewSnapshot& s, uint32_t inspected) {
    s.inspected.store(inspected, std::memory_order_relaxed);
    s.requested.store(1, std::memory_order_release);
}

const ViewFrame& AcquireViewFrame(ViewSnapshot& s) {
    if ((s.latest.load(std::memory_order_relaxed) & kFreshFrame) != 0)
        s.reading = s.latest.exchange(s.reading, std::memory_order_acq_rel) & kFrameIndexMask;
    return s.frames[s.reading];
}

void SetViewTraceLength(ViewSnapshot& s, uint32_t samples) {
    s.traceWanted.store(samples < kTraceCapacity ? samples : kTraceCapacity, std::memory_order_relaxed);
}

void ResetViewTrace(ViewSnapshot& s) { s.traceReset.store(1, std::memory_order_relaxed); }

void RecordViewTrace(const Simulation& state, ViewSnapshot& s) {
    const uint32_t k = s.inspected.load(std::memory_order_relaxed);
    const bool reset = s.traceReset.load(std::memory_order_relaxed) != 0 &&
                       s.traceReset.exchange(0, std::memory_order_relaxed) != 0;
    if (k != s.traceNeuron || reset) {
        s.traceNeuron = k;
        s.traceHead = 0;
        s.traceCount = 0;
    }
    if (k >= state.neuronCount) return;
    const Neuron& n = state.neurons[k];
    s.traceRing[s.traceHead] = TraceSample{{n.v, n.u, n.gAmpa, n.gNmda, n.gGabaA, n.gGabaB}};
    s.traceHead = s.traceHead + 1 < kTraceCapacity ? s.traceHead + 1 : 0;
    if (s.traceCount < kTraceCapacity) ++s.traceCount;
}

ViewFrame* BeginViewFrame(const Simulation& state, ViewSnapshot& s) {
    if (s.requested.load(std::memory_order_relaxed) == 0) return nullptr;
    if (s.requested.exchange(0, std::memory_order_acquire) == 0) return nullptr;
    ViewFrame& f = s.frames[s.writing];
    BeginFrame(state, s, f, s.inspected.load(std::memory_order_relaxed));
    return &f;
}

void CopyViewRange(const Simulation& state, ViewFrame& f, uint32_t first, uint32_t end) {
    const EventEngine* e = state.eventEngine;
    if (e != nullptr && e->stateInArrays != 0) {  // the event engine's workers step its arrays
        std::memcpy(f.v + first, e->neuron.v + first, (end - first) * sizeof(float));
        std::memcpy(f.envelope + first, e->neuron.envelope + first, (end - first) * sizeof(float));
        return;
    }
    const Neuron* neurons = state.neurons;
    for (uint32_t i = first; i < end; ++i) {
        f.v[i] = neurons[i].v;
        f.envelope[i] = neurons[i].vEnvelopeView;
    }
}

void PublishViewFrame(ViewSnapshot& s) {
    s.writing = s.latest.exchange(s.writing | kFreshFrame, std::memory_order_acq_rel) & kFrameIndexMask;
}

void FillViewFrame(const Simulation& state, ViewSnapshot& s, uint32_t inspected) {
    // The steps after a resume record the neuron shown now.
    s.inspected.store(inspected, std::memory_order_relaxed);
    ViewFrame& f = s.frames[s.writing];
    BeginFrame(state, s, f, inspected);
    CopyViewRange(state, f, 0, state.neuronCount < s.neuronCount ? state.neuronCount : s.neuronCount);
    PublishViewFrame(s);
}
