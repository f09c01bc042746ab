// Neuron and synapse dynamics of one step, spike delivery, axonal delays and STDP.
//
// Sections:
//   1. Integration phase (UpdateChunk)
//   2. Delay line and delivery with depression
//   3. Potentiation
//   4. Fire phase: sub-phases (a) and (b), per neuron and per range
//   5. Regular stimulus
//   6. Single-threaded step
//
// Fire-phase schedule (the same on every thread count): (a) FireApplyAndSpike for
// every neuron (the range loops defer the deliveries to the end of their range,
// which gives the same result), barrier, (b) FireLearn for every neuron that fired. A delivery at
// step s thus sees the post-synaptic neuron's spikes up to step s - 1, and a spike
// at step s sees every arrival marked in step s, whichever thread handles which
// neuron.
//
// Events marked "none" (-1) take no part in STDP: a synapse that never received a
// spike is not potentiated, and a delivery to a neuron that never fired is not
// depressed.
#include "engine/dynamics.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cstddef>

#include "engine/simulation.h"
#include "engine/geometry.h"
#include "engine/event.h"
#include "engine/kernels.h"
#include "engine/work_manager.h"

// ---- 1. Integration phase --------------------------------------------------------------------

namespace {

// Prefetches every line of a neuron's lane blocks (state and weights of both
// kinds) a little ahead of the integration, so the stream of blocks never stalls.
constexpr uint32_t kPrefetchAhead = 2;

inline void PrefetchRange(const void* start, uint32_t groups) {
    const char* p = static_cast<const char*>(start);
    const char* end = p + groups * (sizeof(SynapseLaneState) + sizeof(SynapseLaneWeights));
    for (; p < end; p += 64) _mm_prefetch(p, _MM_HINT_T0);
}

inline void PrefetchLanes(const Neuron& n) {
    if (n.excLaneState != nullptr) PrefetchRange(n.excLaneState, (n.excIncomingCount + 3) / 4);
    if (n.inhLaneState != nullptr) PrefetchRange(n.inhLaneState, (n.inhIncomingCount + 3) / 4);
}

}  // namespace

void UpdateChunk(Simulation& state, uint32_t first, uint32_t end) {
    const KindFactors exc = ExcitatoryFactors(state.params);
    const KindFactors inh = InhibitoryFactors(state.params);
    Neuron* neurons = state.neurons;
    for (uint32_t i = first; i < end; ++i) {
        if (i + kPrefetchAhead < end) PrefetchLanes(neurons[i + kPrefetchAhead]);
        IntegrateNeuron(neurons[i], exc, inh);
    }
}

// ---- 2. Delay line and delivery -----------------------------------------------------------------

namespace {

// Signed step difference a - b, wrapping like the 32-bit counters it compares.
inline int32_t StepDifference(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

inline void Prefetch(const void* p) { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0); }

}  // namespace

// Depression of one synapse:
//   if (d > -0.000005) d -= depression[dt];
//   if (d < 0 && w + d >= 0) w = w + d;
// without branches on the values, as in potentiation (same bits).
void DepressSynapse(const Simulation& state, const Synapse& syn, int32_t s) {
    const int32_t last = syn.post->lastSpikeStep;
    if (last < 0) return;  // the post-synaptic neuron never fired
    const int32_t dt = StepDifference(s + 1, last);
    if (dt <= 0 || dt >= static_cast<int32_t>(kStdpWindow)) return;
    SynapseLaneWeights& block = LaneWeightsOf(syn);
    const uint32_t k = syn.lane % 4;
    const __m128 d = _mm_load_ss(&block.weightDelta[k]);
    const __m128 w = _mm_load_ss(&block.weight[k]);
    const __m128 lowered = _mm_sub_ss(d, _mm_load_ss(&state.stdpDepression[dt]));
    const __m128 d1 = _mm_blendv_ps(d, lowered, _mm_cmpgt_ss(d, _mm_set_ss(-0.000005f)));
    const __m128 t = _mm_add_ss(w, d1);
    const __m128 take = _mm_and_ps(_mm_cmplt_ss(d1, _mm_setzero_ps()), _mm_cmpge_ss(t, _mm_setzero_ps()));
    _mm_store_ss(&block.weightDelta[k], d1);
    _mm_store_ss(&block.weight[k], _mm_blendv_ps(w, t, take));
}

bool AdvanceDelayLine(Neuron& n) {
    const float v = n.v;
    n.delayV[n.delayIndex] = v;
    const float filtered = n.lastFiltered + 0.6f * (v - n.lastFiltered);
    n.delayFiltered[n.delayIndex] = filtered;
    n.lastFiltered = filtered;
    n.delayIndex = (n.delayIndex == 0) ? n.delayLength - 1 : n.delayIndex - 1;
    return n.delayV[n.delayIndex] > n.vPeak;
}

void PrefetchDelaySlots(const Neuron& n) {
    const uint32_t next = n.delayIndex == 0 ? n.delayLength - 1 : n.delayIndex - 1;
    _mm_prefetch(reinterpret_cast<const char*>(n.delayV + n.delayIndex), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(n.delayV + next), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(n.delayFiltered + n.delayIndex), _MM_HINT_T0);
}

namespace {

// The deliveries of an engine: one synapse's delivery, and the lines it touches
// besides the record.
struct ExactDelivery {
    static void Fetch(const Simulation&, const Synapse& syn) {
        Prefetch(&LaneWeightsOf(syn).weightDelta[syn.lane % 4]);
        Prefetch(&syn.post->lastSpikeStep);
    }
    // The spike acts in the next integration and depresses the synapse.
    static void Deliver(Simulation& state, Synapse& syn, int32_t s) {
        *syn.arrivedFlag = 1;
        syn.arrivalStep = s + 1;
        DepressSynapse(state, syn, s);
    }
};

// Deliveries to `count` synapses through a software pipeline: the records are
// fetched well ahead, the lines a delivery touches a little ahead, so that the
// misses of many deliveries overlap.
constexpr uint32_t kRecordsAhead = 16;
constexpr uint32_t kLinesAhead = 6;

template <class Delivery>
void DeliverPipelined(Simulation& state, Synapse* const* out, uint32_t count, int32_t s) {
    for (uint32_t j = 0; j < count && j < kRecordsAhead; ++j) Prefetch(out[j]);
    for (uint32_t j = 0; j < count; ++j) {
        if (j + kRecordsAhead < count) Prefetch(out[j + kRecordsAhead]);
        if (j + kLinesAhead < count) Delivery::Fetch(state, *out[j + kLinesAhead]);
        Delivery::Deliver(state, *out[j], s);
    }
}

}  // namespace

void DeliverSpikes(Simulation& state, Neuron& n, int32_t s) {
    if (AdvanceDelayLine(n)) DeliverPipelined<ExactDelivery>(state, n.outgoing, n.outgoingCount, s);
}

// ---- 3. Potentiation ----------------------------------------------------------------------------

namespace {

inline void PrefetchWeights(const SynapseLaneWeights* weights, uint32_t count) {
    const char* p = reinterpret_cast<const char*>(weights);
    for (uint32_t b = 0, e = (count + 3) / 4 * uint32_t(sizeof(SynapseLaneWeights)); b < e; b += 64)
        Prefetch(p + b);
}

// Potentiation of one synapse of a neuron that fired at step s:
//   if (d < 0.000005) d += potentiation[dt];
//   if (d > 0 && w + d < wMax) w = w + d;
// computed without branches on the values (both sums are formed and selected by
// masks, which gives the same bits), since whether a weight sits at its bound is
// as good as random from one synapse to the next.
inline void PotentiateSynapse(const float* potentiation, const Synapse& syn, float wMax, int32_t s) {
    const int32_t arrival = syn.arrivalStep;
    if (arrival < 0) return;  // never received a spike
    const int32_t dt = StepDifference(s, arrival);
    if (dt < 1 || dt >= static_cast<int32_t>(kStdpWindow)) return;
    SynapseLaneWeights& block = LaneWeightsOf(syn);
    const uint32_t k = syn.lane % 4;
    const __m128 d = _mm_load_ss(&block.weightDelta[k]);
    const __m128 w = _mm_load_ss(&block.weight[k]);
    const __m128 raised = _mm_add_ss(d, _mm_load_ss(&potentiation[dt]));
    const __m128 d1 = _mm_blendv_ps(d, raised, _mm_cmplt_ss(d, _mm_set_ss(0.000005f)));
    const __m128 t = _mm_add_ss(w, d1);
    const __m128 take = _mm_and_ps(_mm_cmpgt_ss(d1, _mm_setzero_ps()), _mm_cmplt_ss(t, _mm_set_ss(wMax)));
    _mm_store_ss(&block.weightDelta[k], d1);
    _mm_store_ss(&block.weight[k], _mm_blendv_ps(w, t, take));
}

// Potentiation of a neuron's incoming synapses, its lines already fetched.
void PotentiateFetched(const Simulation& state, const Neuron& n, int32_t s) {
    // Each synapse's update touches only its own slot, so the order of the walk does
    // not change the result: walk the records as they lie in memory rather than
    // through the lane-ordered pointer lists. A synapse's kind is the lane block its
    // flag is in.
    const uintptr_t excBegin = reinterpret_cast<uintptr_t>(n.excLaneWeights);
    const uintptr_t excEnd = excBegin + (n.excIncomingCount + 3) / 4 * sizeof(SynapseLaneWeights);
    const float maxima[2] = {state.params.inhWeightMax, state.params.excWeightMax};
    const float* const potentiation = state.stdpPotentiation;
    for (uint32_t k = 0; k < n.incomingCount; ++k) {
        const Synapse& syn = n.incoming[k];
        const uintptr_t flag = reinterpret_cast<uintptr_t>(syn.arrivedFlag);
        PotentiateSynapse(potentiation, syn, maxima[(flag >= excBegin) & (flag < excEnd)], s);
    }
}

// Fetches the lines a potentiation walks: the incoming records and both kinds'
// weight blocks (the neuron's own lines must be in or on their way).
void PrefetchPotentiation(const Neuron& n) {
    const char* records = reinterpret_cast<const char*>(n.incoming);
    for (uint32_t b = 0; b < n.incomingCount * uint32_t(sizeof(Synapse)); b += 64) Prefetch(records + b);
    PrefetchWeights(n.excLaneWeights, n.excIncomingCount);
    PrefetchWeights(n.inhLaneWeights, n.inhIncomingCount);
}

}  // namespace

void Potentiate(Simulation& state, Neuron& n, int32_t s) {
    PrefetchPotentiation(n);
    PotentiateFetched(state, n, s);
}

// ---- 4. Fire phase ----------------------------------------------------------------------------
//
// Sub-phase (a) over a range defers the deliveries (of both engines): a delivery
// changes only its synapse (and, in the event engine, adds to the post-synaptic
// neuron's input with an atomic add) and reads a post-synaptic spike time that
// only sub-phase (b) writes, so it may run at any point of (a). The range collects
// the neurons whose spikes leave their delay lines and sends their synapses through
// the delivery pipeline in batches, so that the misses of many neurons' deliveries
// overlap instead of those of one neuron's at a time.

namespace {

// The deferred deliveries of a range: up to kPendingNeurons neurons, whose synapses
// go through the pipeline up to kPipelineSynapses at a time. Lives on the stack.
constexpr uint32_t kPendingNeurons = 16;
constexpr uint32_t kPipelineSynapses = 512;

struct PendingDeliveries {
    Neuron* neurons[kPendingNeurons];
    uint32_t neuronCount = 0;
    Synapse* synapses[kPipelineSynapses];
};

template <class Delivery>
void FlushDeliveries(Simulation& state, PendingDeliveries& pending, int32_t s) {
    // The neurons' outgoing arrays were fetched when they were queued.
    for (uint32_t p = 0; p < pending.neuronCount; ++p) {
        const Neuron& n = *pending.neurons[p];
        for (uint32_t b = 0; b < n.outgoingCount * sizeof(Synapse*); b += 64)
            Prefetch(reinterpret_cast<const char*>(n.outgoing) + b);
    }
    uint32_t queued = 0;
    for (uint32_t p = 0; p < pending.neuronCount; ++p) {
        const Neuron& n = *pending.neurons[p];
        for (uint32_t k = 0; k < n.outgoingCount; ++k) {
            if (queued == kPipelineSynapses) {
                DeliverPipelined<Delivery>(state, pending.synapses, queued, s);
                queued = 0;
            }
            pending.synapses[queued++] = n.outgoing[k];
        }
    }
    DeliverPipelined<Delivery>(state, pending.synapses, queued, s);
    pending.neuronCount = 0;
}

// Sub-phase (a) over a range, with deferred deliveries.
template <class Delivery>
uint32_t ApplyRange(Simulation& state, uint32_t first, uint32_t end, int32_t s) {
    Neuron* const neurons = state.neurons;
    uint8_t* const spiked = state.spiked;
    uint32_t* const firedIds = state.firedIds + first;
    PendingDeliveries pending;
    uint32_t fired = 0;
    for (uint32_t i = first; i < end; ++i) {
        if (i + kFirePrefetchAhead < end) PrefetchDelaySlots(neurons[i + kFirePrefetchAhead]);
        Neuron& n = neurons[i];
        ApplyNeuronState(n);
        if (AdvanceDelayLine(n)) {
            Prefetch(&n.outgoing);  // the list and its length
            pending.neurons[pending.neuronCount++] = &n;
            if (pending.neuronCount == kPendingNeurons) FlushDeliveries<Delivery>(state, pending, s);
        }
        const bool spike = EnvelopeAndSpike(n);
        spiked[i] = spike ? 1 : 0;
        firedIds[fired] = i;  // kept only when it fired
        fired += spike ? 1 : 0;
    }
    FlushDeliveries<Delivery>(state, pending, s);
    return fired;
}

}  // namespace

bool FireApplyAndSpike(Simulation& state, Neuron& n, int32_t s) {
    ApplyNeuronState(n);
    DeliverSpikes(state, n, s);
    return EnvelopeAndSpike(n);
}

void FireLearn(Simulation& state, Neuron& n, int32_t s) {
    n.lastSpikeStep = s;
    Potentiate(state, n, s);
}

bool FireNeuron(Simulation& state, Neuron& n, int32_t s) {
    if (!FireApplyAndSpike(state, n, s)) return false;
    FireLearn(state, n, s);
    return true;
}

uint32_t FireApplyRange(Simulation& state, uint32_t first, uint32_t end, int32_t s, uint32_t) {
    return ApplyRange<ExactDelivery>(state, first, end, s);
}

void FireLearnRange(Simulation& state, uint32_t first, uint32_t end, int32_t s) {
    // The neurons that fired, a batch at a time, through a pipeline: their own
    // lines six neurons ahead, their records and weight blocks three ahead.
    constexpr uint32_t kBatch = 32, kOwnAhead = 6, kLinesAheadLearn = 3;
    const uint8_t* const spiked = state.spiked;
    Neuron* const neurons = state.neurons;
    Neuron* batch[kBatch];
    for (uint32_t i = first; i < end;) {
        uint32_t count = 0;
        for (; i < end && count < kBatch; ++i)
            if (spiked[i] != 0) batch[count++] = &neurons[i];
        for (uint32_t j = 0; j < count && j < kOwnAhead; ++j) {
            Prefetch(&batch[j]->excLaneWeights);
            Prefetch(&batch[j]->incomingCount);
        }
        for (uint32_t j = 0; j < count && j < kLinesAheadLearn; ++j) PrefetchPotentiation(*batch[j]);
        for (uint32_t j = 0; j < count; ++j) {
            if (j + kOwnAhead < count) {
                Prefetch(&batch[j + kOwnAhead]->excLaneWeights);
                Prefetch(&batch[j + kOwnAhead]->incomingCount);
            }
            if (j + kLinesAheadLearn < count) PrefetchPotentiation(*batch[j + kLinesAheadLearn]);
            Neuron& n = *batch[j];
            n.lastSpikeStep = s;
            PotentiateFetched(state, n, s);
        }
    }
}

// ---- 4b. Fire phase of a distributed run ---------------------------------------------------------------
//
// Sub-phase (a) marks the neurons whose spikes reach their terminals in the due
// bitmap instead of delivering; the exchange completes it with the other
// processes' neurons; sub-phase (b) then runs on fixed partitions: each worker
// delivers, of every due neuron's outgoing list (ordered by post-synaptic neuron),
// the part onto its own share, then potentiates the neurons of its share that
// fired. Deliveries before potentiation and every synapse written by one thread:
// the order of the single process.

namespace {

uint32_t MarkingApplyRange(Simulation& state, uint32_t first, uint32_t end, int32_t, uint32_t) {
    Neuron* const neurons = state.neurons;
    uint8_t* const spiked = state.spiked;
    uint32_t* const firedIds = state.firedIds + first;
    uint32_t fired = 0;
    for (uint32_t i = first; i < end; ++i) {
        if (i + kFirePrefetchAhead < end) PrefetchDelaySlots(neurons[i + kFirePrefetchAhead]);
        Neuron& n = neurons[i];
        ApplyNeuronState(n);
        if (AdvanceDelayLine(n))  // a word may be shared with a neighbouring chunk
            std::atomic_ref<uint64_t>(state.dueNow[i / 64]).fetch_or(uint64_t{1} << (i % 64), std::memory_order_relaxed);
        const bool spike = EnvelopeAndSpike(n);
        spiked[i] = spike ? 1 : 0;
        firedIds[fired] = i;  // kept only when it fired
        fired += spike ? 1 : 0;
    }
    return fired;
}

void DeliverAndLearnShare(Simulation& state, uint32_t worker, int32_t s) {
    const WorkerContext& w = state.workers[worker];
    Neuron* const neurons = state.neurons;
    const Neuron* const begin = neurons + w.first;
    const Neuron* const end = neurons + w.end;
    const uint32_t words = (state.neuronCount + 63) / 64;
    for (uint32_t word = 0; word < words; ++word) {
        for (uint64_t bits = state.dueNow[word]; bits != 0; bits &= bits - 1) {
            const Neuron& n = neurons[word * 64 + static_cast<uint32_t>(__builtin_ctzll(bits))];
            Synapse* const* const out = n.outgoing;
            const auto onto = [](const Synapse* syn, const Neuron* bound) { return syn->post < bound; };
            Synapse* const* const lo = std::partition_point(out, out + n.outgoingCount, [&](const Synapse* x) { return onto(x, begin); });
            Synapse* const* const hi = std::partition_point(lo, out + n.outgoingCount, [&](const Synapse* x) { return onto(x, end); });
            DeliverPipelined<ExactDelivery>(state, lo, static_cast<uint32_t>(hi - lo), s);
        }
    }
    FireLearnRange(state, w.first, w.end, s);
}

}  // namespace

// ---- 5. Regular stimulus ------------------------------------------------------------------------

void ApplyStimulus(Simulation& state, uint32_t s) {
    const uint32_t period = state.stimulusPeriod;
    if (period == 0) return;  // no period, no stimulus (and no division by zero)
    const uint32_t r = s % period;
    if (r > 5) return;
    const SimParams& p = state.params;
    uint32_t m = p.gridZ / 20;
    if (m > 4) m = 4;
    const uint32_t mid = p.gridZ / 2;
    for (uint32_t z = mid - m; z < mid + m; ++z) {
        for (uint32_t y = 0; y < p.gridY; ++y) {
            for (uint32_t x = 0; x < p.gridX; ++x) {
                const uint64_t index = GridCellIndex(p.gridX, p.gridY, x, y, z);
                // The grid may have been edited since the build: stay inside the network.
                if (index >= state.neuronCount) continue;
                if (state.eventEngine != nullptr) {  // its workers step the arrays
                    EventHoldNeuron(*state.eventEngine, static_cast<uint32_t>(index), r < 5);
                    continue;
                }
                Neuron& n = state.neurons[index];
                if (r < 5) {
                    n.isHeld = 1;
                    n.v = 80.0f;
                    n.u = n.u + 0.5f * n.a * (80.0f * n.b - n.u);
                } else {
                    n.isHeld = 0;
                }
            }
        }
    }
}

// ---- 6. Single-threaded step ----------------------------------------------------------------------

StepKernels StepKernelsFor(const Simulation& state) {
    if (state.eventEngine != nullptr) return EventStepKernels();
    if (state.distribution.ranks > 1)
        return StepKernels{&UpdateChunk, &MarkingApplyRange, &FireLearnRange, &ApplyStimulus, &DeliverAndLearnShare};
    return DefaultStepKernels();
}

uint64_t StepNetwork(Simulation& state) {
    const plat::FlushToZeroScope flushToZero;
    const uint32_t count = state.neuronCount;
    const int32_t s = static_cast<int32_t>(state.stepCounter.load(std::memory_order_relaxed));
    const StepKernels k = StepKernelsFor(state);
    if (state.eventEngine != nullptr) EventLoadNeurons(state);  // the records hold the state between steps
    k.integrate(state, 0, count);
    const uint32_t fired = k.fireApply(state, 0, count, s, 0);
    state.firedCount = fired;
    k.fireLearn(state, 0, count, s);
    EndOfStep(state, fired);
    if (state.eventEngine != nullptr) EventStoreNeurons(state);
    return fired;
}
