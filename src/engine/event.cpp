// The event engine.
//
// Sections:
//   1. Powers and the closed-form advance
//   2. One arrival, by slot class
//   3. STDP: the spike history, pending potentiation, depression
//   4. Creation, conversion after warm-up, release
//   5. Integration phase
//   6. Fire phase: scheduling, deliveries, the sweep
//   7. Synapse state and weights on demand
#include "engine/event.h"

#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/dynamics.h"
#include "engine/kernels.h"
#include "engine/simulation.h"
#include "platform/log.h"
#include "platform/platform.h"

namespace {

constexpr const char* kEventMemoryMessage = "Unable to allocate memory for the event engine!";

// ---- 1. Powers and the closed-form advance ----------------------------------------------------------

void FillPowers(EventPowers* table, const KindFactors& f) {
    for (uint32_t n = 0; n < kEventPowerSteps; ++n) {
        const auto power = [n](float factor) {
            return static_cast<float>(std::pow(1.0 - static_cast<double>(factor), static_cast<double>(n)));
        };
        table[n] = {power(f.kD), power(f.bF)};
    }
}

inline EventPowers Powers(const EventPowers* table, const KindFactors& f, uint32_t n) {
    if (n < kEventPowerSteps) return table[n];
    const auto power = [n](float factor) {
        return static_cast<float>(std::pow(1.0 - static_cast<double>(factor), static_cast<double>(n)));
    };
    return {power(f.kD), power(f.bF)};
}

// A synapse's state advanced by n steps without arrivals: R and u relax.
struct SlotState {
    float r, u;
};

inline SlotState Advance(const SlotState& x, uint32_t n, const EventPowers* table, const KindFactors& f) {
    if (n == 0) return x;
    const EventPowers p = Powers(table, f, n);
    // u relaxes towards the fixed point of u <- u + (cF - bF*u), which is cF / bF.
    const double uRest = static_cast<double>(f.cF) / static_cast<double>(f.bF);
    SlotState y;
    y.r = static_cast<float>(1.0 - (1.0 - static_cast<double>(x.r)) * p.recovery);
    y.u = static_cast<float>(uRest + (static_cast<double>(x.u) - uRest) * p.relaxation);
    return y;
}

// ---- 2. One arrival ----------------------------------------------------------------------------------
// Advances a run's pairs, valid at its step, to the arrival step `arrival` and
// applies the spike in the order of each slot class: a full group (0) recovers in
// the arrival step first, then takes the spike; a remainder slot of 1 takes the
// recovery and spike terms together from the old values; one of 2 or 3 takes the
// spike, then recovers from the post-spike values (its increment takes the
// post-spike pair).
void AdvanceTrain(EventTrain& t, int32_t arrival, const EventPowers* p, const KindFactors& f, uint32_t groups = 3) {
    for (uint32_t pair = 0; pair < kEventTrainPairs; ++pair) {
        if ((groups >> (pair / 4) & 1u) == 0) continue;
        const uint32_t c = pair % 4;
        const uint32_t gap = static_cast<uint32_t>(arrival) - static_cast<uint32_t>(t.step[pair / 4]);
        SlotState y = Advance({t.r[pair], t.u[pair]}, c == 0 ? gap : gap - 1, p, f);
        const float r = y.r, u = y.u;
        if (c == 0) {
            y.r = r - 0.5f * r * u;
            y.u = u + f.hU - f.hU * u;
        } else if (c == 1) {
            y.r = r + (f.kD - f.kD * r - 0.5f * r * u);
            y.u = u + ((f.hU - f.hU * u) + (f.cF - f.bF * u));
        } else {
            const float r1 = r - 0.5f * r * u;
            const float u1 = u + f.hU - f.hU * u;
            t.r1[pair / 4 * 2 + c - 2] = r1;
            t.u1[pair / 4 * 2 + c - 2] = u1;
            y.r = r1 + (f.kD - f.kD * r1);
            y.u = u1 + (f.cF - f.bF * u1);
        }
        t.r[pair] = y.r;
        t.u[pair] = y.u;
    }
    for (uint32_t g = 0; g < 2; ++g) {
        if ((groups >> g & 1u) == 0) continue;
        t.previous[g] = t.step[g];
        t.step[g] = arrival;
    }
}

// AdvanceTrain of both groups, the eight pairs at once (AVX2), with the same
// operations pair by pair, so the same bits. False, and nothing done, when a gap
// lies beyond the power tables.
__attribute__((target("avx2"))) bool AdvanceTrainWide(EventTrain& t, int32_t arrival, const EventPowers* table,
                                                      const KindFactors& f) {
    const uint32_t gap0 = static_cast<uint32_t>(arrival) - static_cast<uint32_t>(t.step[0]);
    const uint32_t gap1 = static_cast<uint32_t>(arrival) - static_cast<uint32_t>(t.step[1]);
    if (gap0 - 1 >= kEventPowerSteps - 1 || gap1 - 1 >= kEventPowerSteps - 1) return false;
    // The steps of each pair's advance: a full group to the arrival, a remainder slot to the step before.
    const auto g0 = static_cast<int32_t>(gap0), g1 = static_cast<int32_t>(gap1);
    const __m256i n = _mm256_setr_epi32(g0, g0 - 1, g0 - 1, g0 - 1, g1, g1 - 1, g1 - 1, g1 - 1);
    const __m256i index = _mm256_slli_epi32(n, 1);
    const __m256 recovery = _mm256_i32gather_ps(&table[0].recovery, index, 4);
    const __m256 relaxation = _mm256_i32gather_ps(&table[0].relaxation, index, 4);
    __m256 r = _mm256_load_ps(t.r), u = _mm256_load_ps(t.u);
    {  // Advance, in double
        const __m256d one = _mm256_set1_pd(1.0);
        const __m256d uRest = _mm256_set1_pd(static_cast<double>(f.cF) / static_cast<double>(f.bF));
        const auto relax = [&](__m128 rx, __m128 ux, __m128 rec, __m128 rel, __m128& ry, __m128& uy) {
            ry = _mm256_cvtpd_ps(_mm256_sub_pd(
                one, _mm256_mul_pd(_mm256_sub_pd(one, _mm256_cvtps_pd(rx)), _mm256_cvtps_pd(rec))));
            uy = _mm256_cvtpd_ps(
                _mm256_add_pd(uRest, _mm256_mul_pd(_mm256_sub_pd(_mm256_cvtps_pd(ux), uRest), _mm256_cvtps_pd(rel))));
        };
        __m128 rLow, uLow, rHigh, uHigh;
        relax(_mm256_castps256_ps128(r), _mm256_castps256_ps128(u), _mm256_castps256_ps128(recovery),
              _mm256_castps256_ps128(relaxation), rLow, uLow);
        relax(_mm256_extractf128_ps(r, 1), _mm256_extractf128_ps(u, 1), _mm256_extractf128_ps(recovery, 1),
              _mm256_extractf128_ps(relaxation, 1), rHigh, uHigh);
        const __m256 moved =
            _mm256_castsi256_ps(_mm256_xor_si256(_mm256_cmpeq_epi32(n, _mm256_setzero_si256()), _mm256_set1_epi32(-1)));
        r = _mm256_blendv_ps(r, _mm256_set_m128(rHigh, rLow), moved);
        u = _mm256_blendv_ps(u, _mm256_set_m128(uHigh, uLow), moved);
    }
    const __m256 half = _mm256_set1_ps(0.5f), kD = _mm256_set1_ps(f.kD), hU = _mm256_set1_ps(f.hU);
    const __m256 cF = _mm256_set1_ps(f.cF), bF = _mm256_set1_ps(f.bF);
    // The spike first (a full group; classes 2 and 3, then their recovery).
    const __m256 r1 = _mm256_sub_ps(r, _mm256_mul_ps(_mm256_mul_ps(half, r), u));
    const __m256 u1 = _mm256_sub_ps(_mm256_add_ps(u, hU), _mm256_mul_ps(hU, u));
    const __m256 r2 = _mm256_add_ps(r1, _mm256_sub_ps(kD, _mm256_mul_ps(kD, r1)));
    const __m256 u2 = _mm256_add_ps(u1, _mm256_sub_ps(cF, _mm256_mul_ps(bF, u1)));
    // Class 1: recovery and spike together, from the old values.
    const __m256 rTogether = _mm256_add_ps(
        r, _mm256_sub_ps(_mm256_sub_ps(kD, _mm256_mul_ps(kD, r)), _mm256_mul_ps(_mm256_mul_ps(half, r), u)));
    const __m256 uTogether = _mm256_add_ps(
        u, _mm256_add_ps(_mm256_sub_ps(hU, _mm256_mul_ps(hU, u)), _mm256_sub_ps(cF, _mm256_mul_ps(bF, u))));
    _mm256_store_ps(t.r, _mm256_blend_ps(_mm256_blend_ps(r2, rTogether, 0x22), r1, 0x11));
    _mm256_store_ps(t.u, _mm256_blend_ps(_mm256_blend_ps(u2, uTogether, 0x22), u1, 0x11));
    const __m256i spiked = _mm256_setr_epi32(2, 3, 6, 7, 2, 3, 6, 7);  // classes 2 and 3 of each group
    _mm_store_ps(t.r1, _mm256_castps256_ps128(_mm256_permutevar8x32_ps(r1, spiked)));
    _mm_store_ps(t.u1, _mm256_castps256_ps128(_mm256_permutevar8x32_ps(u1, spiked)));
    t.previous[0] = t.step[0];
    t.previous[1] = t.step[1];
    t.step[0] = t.step[1] = arrival;
    return true;
}

// The increment of a synapse of the given pair and weight w at its run's last arrival.
inline float IncrementOf(const EventTrain& t, uint32_t pair, float w) {
    const uint32_t c = pair % 4, spiked = pair / 4 * 2 + c - 2;
    const float r = c < 2 ? t.r[pair] : t.r1[spiked], u = c < 2 ? t.u[pair] : t.u1[spiked];
    return r * w * u;
}

// Adds a spike's increment to one kind's sums (full, remainder) of a neuron's
// inputs, which only its partition's worker writes.
inline void AddInput(EventInputs& in, bool excitatory, float inc, uint32_t remainder) {
    (excitatory ? &in.excFull : &in.inhFull)[remainder == 0 ? 0 : 1] += inc;
}

// ---- 3. STDP ---------------------------------------------------------------------------------------------

// Signed step difference a - b, wrapping like the 32-bit counters it compares.
inline int32_t StepDifference(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// Clears `count` history bits from step `from` on (circular).
void ClearHistory(EventHistory& h, int32_t from, uint32_t count) {
    if (count >= kEventHistorySteps) {
        for (uint64_t& word : h.bits) word = 0;
        return;
    }
    uint32_t bit = static_cast<uint32_t>(from) % kEventHistorySteps;
    while (count > 0) {
        const uint32_t offset = bit & 63u, span = std::min(64u - offset, count);
        const uint64_t mask = (span == 64 ? ~uint64_t{0} : ((uint64_t{1} << span) - 1)) << offset;
        h.bits[bit >> 6] &= ~mask;
        count -= span;
        bit = (bit + span) % kEventHistorySteps;
    }
}

// Steps from the last spike `last` (-1: none) to a spike at s.
inline uint32_t GapTo(int32_t last, int32_t s) {
    return last < 0 ? kEventHistorySteps : static_cast<uint32_t>(StepDifference(s, last));
}

// A spike at step s into the history of a neuron whose last spike was `last`.
// Done in the fire phase (a) of s, before the recent spikes follow in (b): the
// readers of (b) read the history only up to the recent last spike, and the bits
// it changes stand for steps after it, or for steps more than kEventHistorySteps
// back (the sweep settles every arrival sooner).
inline void MarkHistory(EventHistory& h, int32_t last, int32_t s) {
    const uint32_t gap = GapTo(last, s);
    if (gap > 1) ClearHistory(h, last + 1, gap - 1);  // no spikes in between
    const uint32_t bit = static_cast<uint32_t>(s) % kEventHistorySteps;
    h.bits[bit >> 6] |= uint64_t{1} << (bit & 63u);
}

// A spike at step s into the recent spikes. A gap is kept while its earlier spike
// is still in the history, as a file's history can restore it.
inline void NoteRecent(EventRecent& r, int32_t s) {
    const uint32_t gap = GapTo(r.last, s);
    const bool near = gap < kEventHistorySteps;
    r.gap2 = near && r.gap1 != kEventFarGap && gap + r.gap1 < kEventHistorySteps ? r.gap1 : kEventFarGap;
    r.gap1 = near ? static_cast<uint16_t>(gap) : kEventFarGap;
    r.last = s;
}

inline void RecordHistory(EventHistory& h, EventRecent& r, int32_t s) {
    MarkHistory(h, r.last, s);
    NoteRecent(r, s);
}

// Step `gap` steps before `step` (a far gap lies before any arrival still pending).
inline int32_t StepBefore(int32_t step, uint16_t gap) {
    return static_cast<int32_t>(static_cast<uint32_t>(step) - (gap == kEventFarGap ? 0x10000u : gap));
}

// The potentiation of the exact engine at one post-synaptic spike dt steps after
// the arrival:
//   if (d < 0.000005) d += potentiation[dt];
//   if (d > 0 && w + d < wMax) w = w + d;
// Without branches on the values (whether a weight sits at its bound is close to
// random from one synapse to the next): both sums are formed and selected by masks.
inline void PotentiateOnce(float potentiation, float wMax, float& w, float& d) {
    const __m128 d0 = _mm_set_ss(d), w0 = _mm_set_ss(w);
    const __m128 d1 = _mm_blendv_ps(d0, _mm_add_ss(d0, _mm_set_ss(potentiation)), _mm_cmplt_ss(d0, _mm_set_ss(0.000005f)));
    const __m128 t = _mm_add_ss(w0, d1);
    const __m128 take = _mm_and_ps(_mm_cmpgt_ss(d1, _mm_setzero_ps()), _mm_cmplt_ss(t, _mm_set_ss(wMax)));
    d = _mm_cvtss_f32(d1);
    w = _mm_cvtss_f32(_mm_blendv_ps(w0, t, take));
}

// The pending potentiation of a synapse whose last arrival was at step `arrival`:
// the post-synaptic spikes t in [arrival + 1, until], within the window after the
// arrival and up to the neuron's last spike, in order.
void ApplyPending(const EventHistory& h, int32_t lastSpike, int32_t arrival, int32_t until,
                  const float* potentiation, float wMax, float& weight, float& delta) {
    // In registers while the spikes are walked (the references may alias memory).
    float w = weight, d = delta;
    const int32_t windowEnd = arrival + static_cast<int32_t>(kStdpWindow) - 1;
    if (StepDifference(until, windowEnd) > 0) until = windowEnd;
    if (StepDifference(until, lastSpike) > 0) until = lastSpike;
    const int32_t first = arrival + 1;
    if (StepDifference(until, first) < 0) return;
    uint32_t count = static_cast<uint32_t>(StepDifference(until, first)) + 1;
    uint32_t dt = 1;  // of step `first`
    uint32_t bit = static_cast<uint32_t>(first) % kEventHistorySteps;
    while (count > 0) {
        const uint32_t offset = bit & 63u, span = std::min(64u - offset, count);
        uint64_t bits = h.bits[bit >> 6] >> offset;
        if (span < 64) bits &= (uint64_t{1} << span) - 1;
        while (bits != 0) {
            const uint32_t k = static_cast<uint32_t>(__builtin_ctzll(bits));
            PotentiateOnce(potentiation[dt + k], wMax, w, d);
            bits &= bits - 1;
        }
        count -= span;
        dt += span;
        bit = (bit + span) % kEventHistorySteps;
    }
    weight = w;
    delta = d;
}

// Whether the pending potentiation of a synapse whose last arrival was at
// `arrival` needs the post-synaptic neuron's history: more than two of its spikes
// came after the arrival. (No spike after it: nothing is pending.)
inline bool NeedsHistory(const EventRecent& r, int32_t arrival) {
    return StepDifference(StepBefore(StepBefore(r.last, r.gap1), r.gap2), arrival) > 0;
}

// ApplyPending for the post-synaptic neuron `post`, from its recent spikes when
// they hold every spike since the arrival.
inline void ApplyPendingOf(const EventEngine& e, uint32_t post, const EventRecent& r, int32_t arrival, int32_t until,
                           const float* potentiation, float wMax, float& w, float& d) {
    if (StepDifference(r.last, arrival) <= 0) return;
    if (NeedsHistory(r, arrival)) {
        ApplyPending(e.history[post], r.last, arrival, until, potentiation, wMax, w, d);
        return;
    }
    const int32_t windowEnd = arrival + static_cast<int32_t>(kStdpWindow) - 1;
    if (StepDifference(until, windowEnd) > 0) until = windowEnd;
    for (const int32_t t : {StepBefore(r.last, r.gap1), r.last}) {
        const int32_t dt = StepDifference(t, arrival);
        if (dt > 0 && StepDifference(t, until) <= 0) PotentiateOnce(potentiation[dt], wMax, w, d);
    }
}

// The depression of the exact engine when a spike reaches the synapse in the fire
// phase of step s (the post-synaptic neuron's last spike before it):
//   if (d > -0.000005) d -= depression[dt];
//   if (d < 0 && w + d >= 0) w = w + d;
inline void Depress(const float* depression, int32_t lastSpike, int32_t s, float& w, float& d) {
    if (lastSpike < 0) return;  // the post-synaptic neuron never fired
    const int32_t dt = StepDifference(s + 1, lastSpike);
    if (dt <= 0 || dt >= static_cast<int32_t>(kStdpWindow)) return;
    const __m128 d0 = _mm_set_ss(d), w0 = _mm_set_ss(w);
    const __m128 d1 =
        _mm_blendv_ps(d0, _mm_sub_ss(d0, _mm_set_ss(depression[dt])), _mm_cmpgt_ss(d0, _mm_set_ss(-0.000005f)));
    const __m128 t = _mm_add_ss(w0, d1);
    const __m128 take = _mm_and_ps(_mm_cmplt_ss(d1, _mm_setzero_ps()), _mm_cmpge_ss(t, _mm_setzero_ps()));
    d = _mm_cvtss_f32(d1);
    w = _mm_cvtss_f32(_mm_blendv_ps(w0, t, take));
}

inline uint32_t WithArrivalCode(uint32_t target, uint32_t code) { return (target & ~uint32_t{12}) | code << 2; }

// Fixed per kind while a delivery or sweep walks one run.
struct KindContext {
    const EventPowers* powers;
    KindFactors factors;
    float wMax;
    bool excitatory;
};

KindContext KindOf(const Simulation& state, bool excitatory) {
    const EventEngine& e = *state.eventEngine;
    return excitatory ? KindContext{e.exc, ExcitatoryFactors(state.params), state.params.excWeightMax, true}
                      : KindContext{e.inh, InhibitoryFactors(state.params), state.params.inhWeightMax, false};
}

// ---- 6. Fire phase, per run: delivery and sweep (the phase loop is in section 6 below) ------------------

constexpr uint32_t kTargetsAhead = 8;
constexpr uint32_t kHistoryAhead = 4;

// The start of neuron i's run and its slice onto partition p, from the splits.
inline const uint8_t* SplitsOf(const EventEngine& e, uint32_t i) { return e.splits + uint64_t{i} * e.splitStride; }
inline uint32_t RunStartOf(const EventEngine& e, uint32_t i) {
    uint32_t start;
    std::memcpy(&start, SplitsOf(e, i), sizeof start);
    return start;
}
inline EventSlice SliceOf(const EventEngine& e, uint32_t i, uint32_t p) {
    const uint8_t* split = SplitsOf(e, i) + 4;
    return {split[p], split[p + 1]};
}

// Fetches the line of p to be written. With PREFETCHW (where the processor has it:
// `owned`) the line comes owned: a line fetched for a read may come shared, and
// the store then waits on a second request, for ownership.
inline void FetchForWrite(const void* p, bool owned) {
    if (owned)
        asm("prefetchw %0" : : "m"(*static_cast<const char*>(p)));
    else
        _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
}

// Fetches the lines of `count` synapses from `at` (at most the first 16 lines).
inline void PrefetchSlice(const EventSynapse* at, uint32_t count, bool owned) {
    const char* p = reinterpret_cast<const char*>(at);
    const char* end = reinterpret_cast<const char*>(at + count);
    if (end - p > 16 * 64) end = p + 16 * 64;
    for (; p < end; p += 64) FetchForWrite(p, owned);
}

// What the delivery of one slice of neuron i's run works with.
struct SliceDelivery {
    EventEngine& e;
    KindContext k;
    const float* potentiation;
    const float* depression;
    EventSynapse* run;  // the slice's first synapse
    uint32_t count;
};

SliceDelivery DeliveryOf(Simulation& state, uint32_t i, EventSlice slice) {
    EventEngine& e = *state.eventEngine;
    return {e, KindOf(state, e.excitatory[i] != 0), state.stdpPotentiation, state.stdpDepression,
            e.synapses + RunStartOf(e, i) + slice.lo, slice.hi - slice.lo};
}

// Fetches the input and recent spikes of the targets of run[from, to).
inline void FetchTargets(const EventEngine& e, const EventSynapse* run, uint32_t from, uint32_t to) {
    for (uint32_t j = from; j < to; ++j) {
        const uint32_t post = EventPost(run[j]);
        FetchForWrite(&e.input[post], e.owned);
        _mm_prefetch(reinterpret_cast<const char*>(&e.recent[post]), _MM_HINT_T0);
    }
}

// Delivers the spike of neuron i, which reaches its terminals in step s, to the
// synapses of a slice of its run.
void DeliverSlice(Simulation& state, uint32_t i, EventSlice slice, int32_t s) {
    const auto [e, k, potentiation, depression, run, count] = DeliveryOf(state, i, slice);
    EventInputs* const input = e.input;
    const EventRecent* const recent = e.recent;
    const EventTrain& train = e.trains[i];  // advanced to s + 1 in sub-phase (a)
    FetchTargets(e, run, 0, std::min(count, kTargetsAhead));
    for (uint32_t j = 0; j < count; ++j) {
        if (j + kTargetsAhead < count) FetchTargets(e, run, j + kTargetsAhead, j + kTargetsAhead + 1);
        // The history line, a little later, where the pending potentiation reads it.
        if (j + kHistoryAhead < count) {
            const EventSynapse& y = run[j + kHistoryAhead];
            if (EventArrivalCode(y) != kEventNoArrival &&
                NeedsHistory(recent[EventPost(y)],
                             EventArrival(y, train.previous[EventGroupOf(train, slice.lo + j + kHistoryAhead)])))
                _mm_prefetch(reinterpret_cast<const char*>(&e.history[EventPost(y)]), _MM_HINT_T0);
        }
        EventSynapse& x = run[j];
        const uint32_t post = EventPost(x);
        const EventRecent r = recent[post];
        float w = x.w, d = x.d;
        // The potentiation eager STDP applied since the last arrival, then the
        // depression of this one: the exact engine's sequence of updates.
        if (EventArrivalCode(x) != kEventNoArrival)
            ApplyPendingOf(e, post, r, EventArrival(x, train.previous[EventGroupOf(train, slice.lo + j)]), s - 1,
                           potentiation, k.wMax, w, d);
        Depress(depression, r.last, s, w, d);
        const uint32_t remainder = EventSlotClass(x);
        const float inc = IncrementOf(train, EventPairOf(train, x, slice.lo + j), w);
        x = EventSynapse{w, d, WithArrivalCode(x.target, 1)};  // arrival = the run's step, s + 1
        AddInput(input[post], k.excitatory, inc, remainder);
    }
}

__attribute__((target("avx2"))) inline __m256i SignedAbove(__m256i x) {  // x > 0, lane by lane
    return _mm256_cmpgt_epi32(x, _mm256_setzero_si256());
}

// The fields of the n <= 8 synapses from `block` in the lanes, by three loads and
// a permutation per field. The loads read
//   a = w0 d0 t0 w1 d1 t1 w2 d2 | b = t2 w3 d3 t3 w4 d4 t4 w5 | c = d5 t5 w6 d6 t6 w7 d7 t7;
// a shorter block's loads are masked, so that its lanes from n on hold zeroed
// synapses (target neuron 0, no arrival): the synapses that follow it may be
// another thread's slice, and are not read.
struct WideBlock {
    __m256 a, b, c;
};
__attribute__((target("avx2"))) inline WideBlock LoadBlock(const EventSynapse* block, uint32_t n) {
    const float* const f = reinterpret_cast<const float*>(block);
    if (n == 8) return {_mm256_loadu_ps(f), _mm256_loadu_ps(f + 8), _mm256_loadu_ps(f + 16)};
    const __m256i words = _mm256_set1_epi32(static_cast<int32_t>(3 * n));
    const __m256i word = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), eight = _mm256_set1_epi32(8);
    const __m256i inA = _mm256_cmpgt_epi32(words, word), inB = _mm256_cmpgt_epi32(words, _mm256_add_epi32(word, eight));
    const __m256i inC = _mm256_cmpgt_epi32(words, _mm256_add_epi32(word, _mm256_add_epi32(eight, eight)));
    return {_mm256_maskload_ps(f, inA), _mm256_maskload_ps(f + 8, inB), _mm256_maskload_ps(f + 16, inC)};
}
// One field: the same index into each load, then lanes [0, fromB) from a, [fromB, fromC) from b, the rest from c.
template <int kFromB, int kFromC>
__attribute__((target("avx2"))) inline __m256 FieldOf(const WideBlock& x, __m256i index) {
    constexpr int kB = ((1 << kFromC) - 1) & ~((1 << kFromB) - 1), kC = 0xFF & ~((1 << kFromC) - 1);
    const __m256 ab = _mm256_blend_ps(_mm256_permutevar8x32_ps(x.a, index), _mm256_permutevar8x32_ps(x.b, index), kB);
    return _mm256_blend_ps(ab, _mm256_permutevar8x32_ps(x.c, index), kC);
}
__attribute__((target("avx2"))) inline __m256 WeightsOf(const WideBlock& x) {
    return FieldOf<3, 6>(x, _mm256_setr_epi32(0, 3, 6, 1, 4, 7, 2, 5));
}
__attribute__((target("avx2"))) inline __m256 DeltasOf(const WideBlock& x) {
    return FieldOf<3, 5>(x, _mm256_setr_epi32(1, 4, 7, 2, 5, 0, 3, 6));
}
__attribute__((target("avx2"))) inline __m256i TargetsOf(const WideBlock& x) {
    return _mm256_castps_si256(FieldOf<2, 5>(x, _mm256_setr_epi32(2, 5, 0, 3, 6, 1, 4, 7)));
}
// The inverse: eight synapses' fields back into a block of eight. Output lanes
// kW take w, kD take d, the others the target; lane l of a permuted field is the
// field of synapse index[l].
template <int kW, int kD>
__attribute__((target("avx2"))) inline __m256 Interleave(__m256 w, __m256 d, __m256 t, __m256i index) {
    const __m256 wt = _mm256_blend_ps(_mm256_permutevar8x32_ps(t, index), _mm256_permutevar8x32_ps(w, index), kW);
    return _mm256_blend_ps(wt, _mm256_permutevar8x32_ps(d, index), kD);
}
__attribute__((target("avx2"))) inline void StoreBlock(EventSynapse* block, __m256 w, __m256 d, __m256i target) {
    float* const f = reinterpret_cast<float*>(block);
    const __m256 t = _mm256_castsi256_ps(target);
    _mm256_storeu_ps(f, Interleave<0b01001001, 0b10010010>(w, d, t, _mm256_setr_epi32(0, 0, 0, 1, 1, 1, 2, 2)));
    _mm256_storeu_ps(f + 8, Interleave<0b10010010, 0b00100100>(w, d, t, _mm256_setr_epi32(2, 3, 3, 3, 4, 4, 4, 5)));
    _mm256_storeu_ps(f + 16, Interleave<0b00100100, 0b01001001>(w, d, t, _mm256_setr_epi32(5, 5, 6, 6, 6, 7, 7, 7)));
}

// What a block's lanes know of their targets' spikes since their last arrivals.
struct WideRecent {
    __m256i last;     // the target's last spike
    __m256i arrival;  // the last arrival
    __m256i pending;  // the target fired since it
    __m256i before1;  // the target's spike before its last one (StepBefore)
    __m256i history;  // more than two of its spikes came since it: the history holds them
};

__attribute__((target("avx2"))) inline WideRecent RecentOf(__m256i step, __m256i target, const EventRecent* recent) {
    const int* const words = reinterpret_cast<const int*>(recent);  // last, then gap1 | gap2 << 16
    const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi32(1);
    const __m256i post = _mm256_srli_epi32(target, 4);
    const __m256i code = _mm256_and_si256(_mm256_srli_epi32(target, 2), _mm256_set1_epi32(3));
    const __m256i last = _mm256_i32gather_epi32(words, post, 8);
    const __m256i gaps = _mm256_i32gather_epi32(words + 1, post, 8);
    WideRecent x;
    x.last = last;
    x.arrival = _mm256_sub_epi32(_mm256_add_epi32(step, code), one);
    x.pending = _mm256_andnot_si256(_mm256_cmpeq_epi32(code, zero), SignedAbove(_mm256_sub_epi32(last, x.arrival)));
    const __m256i farGap = _mm256_set1_epi32(kEventFarGap);
    const __m256i gap1 = _mm256_and_si256(gaps, farGap), gap2 = _mm256_srli_epi32(gaps, 16);
    // A far gap counts 0x10000.
    x.before1 = _mm256_add_epi32(_mm256_sub_epi32(last, gap1), _mm256_cmpeq_epi32(gap1, farGap));
    const __m256i before2 = _mm256_add_epi32(_mm256_sub_epi32(x.before1, gap2), _mm256_cmpeq_epi32(gap2, farGap));
    x.history = _mm256_and_si256(x.pending, SignedAbove(_mm256_sub_epi32(before2, x.arrival)));
    return x;
}

// All ones in the lanes of a block (run offsets `offsets` + j) in the second group.
__attribute__((target("avx2"))) inline __m256i SecondGroup(__m256i offsets, uint32_t j, __m256i firstGroupEnd) {
    return _mm256_cmpgt_epi32(_mm256_add_epi32(offsets, _mm256_set1_epi32(static_cast<int32_t>(j))), firstGroupEnd);
}

// Each lane's step from runStep0 (first group) or runStep1 (second group).
__attribute__((target("avx2"))) inline __m256i GroupStep(__m256i runStep0, __m256i runStep1, __m256i secondGroup) {
    return _mm256_blendv_epi8(runStep0, runStep1, secondGroup);
}

// The recent spikes of the targets of the block of n synapses from `block`, whose
// arrival codes count from `runStep`; the history lines that the block will read
// are fetched.
__attribute__((target("avx2"))) inline WideRecent BlockRecent(const EventEngine& e, const EventSynapse* block,
                                                               uint32_t n, __m256i runStep) {
    const WideRecent x = RecentOf(runStep, TargetsOf(LoadBlock(block, n)), e.recent);
    for (uint32_t bits = static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(x.history))) & ((1u << n) - 1);
         bits != 0; bits &= bits - 1)
        _mm_prefetch(reinterpret_cast<const char*>(&e.history[EventPost(block[__builtin_ctz(bits)])]), _MM_HINT_T0);
    return x;
}

// DeliverSlice eight synapses at a time (AVX2), with the same operations
// lane by lane, so the same bits. The pending potentiation from the recent spikes
// and the depression are formed for every lane and selected by masks: whether a
// synapse's target fired since its last arrival, or sits at a weight bound, is
// close to random from one synapse to the next, and as branches they were
// mispredicted. A lane that needs its target's history takes its pending
// potentiation from ApplyPending. Each lane's increment takes its class's pair by
// a permutation. The increments are added to the inputs in run order, as
// DeliverSlice adds them.
__attribute__((target("avx2"))) void DeliverSliceWide(Simulation& state, uint32_t i, EventSlice slice, int32_t s) {
    const auto [e, k, potentiation, depression, run, count] = DeliveryOf(state, i, slice);
    EventInputs* const input = e.input;
    const EventTrain& train = e.trains[i];  // advanced to s + 1 in sub-phase (a)

    const __m256i one = _mm256_set1_epi32(1);
    const __m256i sMinus1 = _mm256_set1_epi32(s - 1), arrivalStep = _mm256_set1_epi32(s + 1);
    const __m256i window = _mm256_set1_epi32(static_cast<int32_t>(kStdpWindow));
    const __m256 fZero = _mm256_setzero_ps();
    const __m256 potentiateBelow = _mm256_set1_ps(0.000005f), depressAbove = _mm256_set1_ps(-0.000005f);
    const __m256 wMax = _mm256_set1_ps(k.wMax);
    // The increment's R and u of each pair, in its lane.
    const __m256 rInc = _mm256_setr_ps(train.r[0], train.r[1], train.r1[0], train.r1[1], train.r[4], train.r[5],
                                       train.r1[2], train.r1[3]);
    const __m256 uInc = _mm256_setr_ps(train.u[0], train.u[1], train.u1[0], train.u1[1], train.u[4], train.u[5],
                                       train.u1[2], train.u1[3]);
    // A lane's run offset, and the last offset of the first group.
    const __m256i offsets = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(slice.lo)),
                                             _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256i firstGroupEnd = _mm256_set1_epi32(static_cast<int32_t>(train.split) - 1);
    // The step each group's arrival codes count from.
    const __m256i runStep0 = _mm256_set1_epi32(train.previous[0]), runStep1 = _mm256_set1_epi32(train.previous[1]);

    const auto asMask = [](__m256i x) { return _mm256_castsi256_ps(x); };
    // One potentiation (PotentiateOnce) or depression (Depress) in the lanes of `on`.
    const auto potentiate = [&](__m256 amount, __m256 on, __m256& w, __m256& d) {
        const __m256 below = _mm256_and_ps(on, _mm256_cmp_ps(d, potentiateBelow, _CMP_LT_OQ));
        const __m256 d1 = _mm256_blendv_ps(d, _mm256_add_ps(d, amount), below);
        const __m256 t = _mm256_add_ps(w, d1);
        const __m256 take = _mm256_and_ps(
            on, _mm256_and_ps(_mm256_cmp_ps(d1, fZero, _CMP_GT_OQ), _mm256_cmp_ps(t, wMax, _CMP_LT_OQ)));
        d = d1;
        w = _mm256_blendv_ps(w, t, take);
    };

    // The targets' inputs and recent spikes two blocks ahead; the recent spikes of
    // the next block's targets (fetched a block before) and its history lines.
    FetchTargets(e, run, 0, std::min(count, 16u));
    WideRecent next =
        BlockRecent(e, run, std::min(8u, count), GroupStep(runStep0, runStep1, SecondGroup(offsets, 0, firstGroupEnd)));
    for (uint32_t j0 = 0; j0 < count; j0 += 8) {
        const uint32_t n = std::min(8u, count - j0);
        EventSynapse* const block = run + j0;
        if (j0 + 16 < count) FetchTargets(e, run, j0 + 16, std::min(count, j0 + 24));
        const WideRecent spikes = next;
        if (j0 + 8 < count)
            next = BlockRecent(e, block + 8, std::min(8u, count - j0 - 8),
                               GroupStep(runStep0, runStep1, SecondGroup(offsets, j0 + 8, firstGroupEnd)));
        const __m256i secondGroup = SecondGroup(offsets, j0, firstGroupEnd);
        const WideBlock fields = LoadBlock(block, n);
        __m256 w = WeightsOf(fields), d = DeltasOf(fields);
        const __m256i target = TargetsOf(fields);
        const __m256i slotClass = _mm256_and_si256(target, _mm256_set1_epi32(3));

        // Pending potentiation from the two recent spikes (ApplyPendingOf).
        const __m256i last = spikes.last, arrival = spikes.arrival, before1 = spikes.before1, history = spikes.history;
        const __m256i fromRecent = _mm256_andnot_si256(history, spikes.pending);
        const __m256i windowEnd = _mm256_add_epi32(arrival, _mm256_sub_epi32(window, one));
        const __m256i until =
            _mm256_blendv_epi8(sMinus1, windowEnd, SignedAbove(_mm256_sub_epi32(sMinus1, windowEnd)));
        for (const __m256i t : {before1, last}) {
            const __m256i dt = _mm256_sub_epi32(t, arrival);
            const __m256i on = _mm256_andnot_si256(SignedAbove(_mm256_sub_epi32(t, until)),
                                                   _mm256_and_si256(fromRecent, SignedAbove(dt)));
            const __m256 amount = _mm256_mask_i32gather_ps(fZero, potentiation, dt, asMask(on), 4);
            potentiate(amount, asMask(on), w, d);
        }
        const uint32_t fromHistory = static_cast<uint32_t>(_mm256_movemask_ps(asMask(history))) & ((1u << n) - 1);
        if (fromHistory != 0) {
            alignas(32) float ws[8], ds[8];
            alignas(32) int32_t lasts[8], arrivals[8];
            _mm256_store_ps(ws, w);
            _mm256_store_ps(ds, d);
            _mm256_store_si256(reinterpret_cast<__m256i*>(lasts), last);
            _mm256_store_si256(reinterpret_cast<__m256i*>(arrivals), arrival);
            for (uint32_t bits = fromHistory; bits != 0; bits &= bits - 1) {
                const uint32_t l = static_cast<uint32_t>(__builtin_ctz(bits));
                ApplyPending(e.history[EventPost(block[l])], lasts[l], arrivals[l], s - 1, potentiation, k.wMax,
                             ws[l], ds[l]);
            }
            w = _mm256_load_ps(ws);
            d = _mm256_load_ps(ds);
        }

        // Depression (Depress) by the target's last spike.
        {
            const __m256i dt = _mm256_sub_epi32(arrivalStep, last);
            const __m256i on = _mm256_and_si256(_mm256_cmpgt_epi32(last, _mm256_set1_epi32(-1)),
                                                _mm256_and_si256(SignedAbove(dt), _mm256_cmpgt_epi32(window, dt)));
            const __m256 amount = _mm256_mask_i32gather_ps(fZero, depression, dt, asMask(on), 4);
            const __m256 d1 = _mm256_blendv_ps(
                d, _mm256_sub_ps(d, amount), _mm256_and_ps(asMask(on), _mm256_cmp_ps(d, depressAbove, _CMP_GT_OQ)));
            const __m256 t = _mm256_add_ps(w, d1);
            const __m256 take = _mm256_and_ps(
                asMask(on), _mm256_and_ps(_mm256_cmp_ps(d1, fZero, _CMP_LT_OQ), _mm256_cmp_ps(t, fZero, _CMP_GE_OQ)));
            d = d1;
            w = _mm256_blendv_ps(w, t, take);
        }

        // The increment, r * w * u of the lane's pair (IncrementOf).
        const __m256i pair = _mm256_add_epi32(slotClass, _mm256_and_si256(secondGroup, _mm256_set1_epi32(4)));
        const __m256 incs = _mm256_mul_ps(_mm256_mul_ps(_mm256_permutevar8x32_ps(rInc, pair), w),
                                          _mm256_permutevar8x32_ps(uInc, pair));
        // The synapses with their arrival (code 1: the run's step, s + 1): a whole
        // block at once, a shorter one lane by lane (the lanes after it are another
        // slice's, maybe another thread's).
        alignas(32) float is[8];
        alignas(32) uint32_t targets[8];
        _mm256_store_ps(is, incs);
        _mm256_store_si256(reinterpret_cast<__m256i*>(targets), target);
        if (n == 8) {
            const __m256i arrived = _mm256_or_si256(_mm256_andnot_si256(_mm256_set1_epi32(12), target), _mm256_set1_epi32(4));
            StoreBlock(block, w, d, arrived);
        } else {
            alignas(32) float ws[8], ds[8];
            _mm256_store_ps(ws, w);
            _mm256_store_ps(ds, d);
            for (uint32_t l = 0; l < n; ++l) block[l] = EventSynapse{ws[l], ds[l], WithArrivalCode(targets[l], 1)};
        }
        for (uint32_t l = 0; l < n; ++l)
            AddInput(input[targets[l] >> 4], k.excitatory, is[l], targets[l] & 3u);
    }
}

// Settles the synapses of a slice of neuron i's run whose potentiation window has
// closed by step s (all spikes up to s - 1 known): their pending potentiation is
// applied and their arrival forgotten.
void SweepSlice(Simulation& state, uint32_t i, EventSlice slice, int32_t s) {
    EventEngine& e = *state.eventEngine;
    const float wMax = e.excitatory[i] != 0 ? state.params.excWeightMax : state.params.inhWeightMax;
    EventSynapse* const run = e.synapses + RunStartOf(e, i);
    const EventTrain& t = e.trains[i];
    for (uint32_t j = slice.lo; j < slice.hi; ++j) {
        EventSynapse& x = run[j];
        if (EventArrivalCode(x) == kEventNoArrival) continue;
        const int32_t arrival = EventArrival(x, t.step[EventGroupOf(t, j)]);
        const int32_t windowEnd = arrival + static_cast<int32_t>(kStdpWindow) - 1;
        if (StepDifference(s - 1, windowEnd) < 0) continue;  // still open
        const uint32_t post = EventPost(x);
        ApplyPendingOf(e, post, e.recent[post], arrival, windowEnd, state.stdpPotentiation, wMax, x.w, x.d);
        x.target = WithArrivalCode(x.target, kEventNoArrival);
    }
}

// Only the thread that handles neuron i's range sets its bits; a plain store is
// enough when the range owns its words (both ends on word boundaries).
inline void SetDue(EventEngine& e, uint32_t row, uint32_t i, bool ownsWords = false) {
    uint64_t& word = e.due[uint64_t{row} * e.ringWords + i / 64];
    if (ownsWords)
        word |= uint64_t{1} << (i & 63u);
    else
        std::atomic_ref<uint64_t>(word).fetch_or(uint64_t{1} << (i & 63u), std::memory_order_relaxed);
}

}  // namespace

// ---- 4. Creation, conversion, release -------------------------------------------------------------------

void EnterEventMode(Simulation& state) {
    ReleaseEventEngine(state);
    const uint32_t n = state.neuronCount;
    auto* engine = static_cast<EventEngine*>(NetworkAlloc(state, sizeof(EventEngine), kEventMemoryMessage));
    state.eventEngine = engine;
    EventEngine& e = *engine;
    const uint64_t before = state.MemoryUsage - sizeof(EventEngine);
    const auto alloc = [&state](uint64_t bytes) { return NetworkAlloc(state, bytes, kEventMemoryMessage); };
    const KindFactors exc = ExcitatoryFactors(state.params), inh = InhibitoryFactors(state.params);
    FillPowers(e.exc, exc);
    FillPowers(e.inh, inh);
    e.neuronCount = n;
    e.trackedNeuron = kNoTracked;
    e.wide = __builtin_cpu_supports("avx2") ? 1 : 0;
    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
    e.owned = __get_cpuid(0x80000001u, &eax, &ebx, &ecx, &edx) && (ecx & (1u << 8)) != 0 ? 1 : 0;  // PRFCHW

    // Runs and incoming lists.
    e.runStart = static_cast<uint64_t*>(alloc((uint64_t{n} + 1) * sizeof(uint64_t)));
    e.inStart = static_cast<uint64_t*>(alloc((uint64_t{n} + 1) * sizeof(uint64_t)));
    uint32_t longest = 1;
    for (uint32_t i = 0; i < n; ++i) {
        const Neuron& x = state.neurons[i];
        e.runStart[i + 1] = e.runStart[i] + x.outgoingCount;
        e.inStart[i + 1] = e.inStart[i] + (x.incoming != nullptr ? x.incomingCount : 0);  // the kept ones
        longest = std::max(longest, x.delayLength);
    }
    e.synapseCount = e.runStart[n];
    if (e.synapseCount != e.inStart[n] || e.synapseCount >= (uint64_t{1} << 32))
        throw BuildFailure{kEventMemoryMessage};
    e.synapses = static_cast<EventSynapse*>(alloc(e.synapseCount * sizeof(EventSynapse)));
    e.trains = static_cast<EventTrain*>(alloc(uint64_t{n} * sizeof(EventTrain)));
    e.incoming = static_cast<uint32_t*>(alloc(e.synapseCount * sizeof(uint32_t)));
    e.input = static_cast<EventInputs*>(alloc(uint64_t{n} * sizeof(EventInputs)));
    e.recent = static_cast<EventRecent*>(alloc(uint64_t{n} * sizeof(EventRecent)));
    e.history = static_cast<EventHistory*>(alloc(uint64_t{n} * sizeof(EventHistory)));
    e.tracked = static_cast<uint8_t*>(alloc(n));
    e.excitatory = static_cast<uint8_t*>(alloc(n));
    e.ringSteps = std::bit_ceil(longest);
    e.ringWords = (n + 63) / 64;
    e.due = static_cast<uint64_t*>(alloc(uint64_t{e.ringSteps} * e.ringWords * sizeof(uint64_t)));
    {
        const uint64_t padded = (uint64_t{n} + 7) / 8 * 8;
        auto* block = static_cast<float*>(alloc(17 * padded * sizeof(float)));
        EventNeuronState& x = e.neuron;
        float** floats[] = {&x.v, &x.u, &x.vNext, &x.uNext, &x.gAmpa, &x.gNmda, &x.gGabaA,
                            &x.gGabaB, &x.envelope, &x.vPeak, &x.a, &x.b, &x.c, &x.d};
        for (float** field : floats) {
            *field = block;
            block += padded;
        }
        x.held = reinterpret_cast<int32_t*>(block);
        x.delayLength = reinterpret_cast<uint32_t*>(block + padded);
        x.spikeCount = reinterpret_cast<uint32_t*>(block + 2 * padded);
    }

    const int32_t s = static_cast<int32_t>(state.stepCounter.load(std::memory_order_relaxed));
    std::vector<uint64_t> filled(e.inStart, e.inStart + n);
    uint64_t differing = 0;  // synapses whose short-term state is not their group's
    uint32_t rank = 0, shareFirst = 0, shareEnd = n;  // the warm-up's share holding neuron i
    if (state.distribution.shareOnly) ShareOfNeurons(n, 0, state.distribution.ranks, shareFirst, shareEnd);
    for (uint32_t i = 0; i < n; ++i) {
        const Neuron& pre = state.neurons[i];
        const bool excitatory = pre.isExcitatory != 0;
        EventTrain& t = e.trains[i];
        t = EventTrain{};
        t.step[0] = t.step[1] = s - 1;
        std::fill(std::begin(t.r), std::end(t.r), 0.5f);
        std::fill(std::begin(t.u), std::end(t.u), 0.5f);
        // The warm-up stepped the neurons in blocks of eight from the first of the
        // source's process's share: the groups part at the end of the source's block.
        while (i >= shareEnd) ShareOfNeurons(n, ++rank, state.distribution.ranks, shareFirst, shareEnd);
        const uint32_t blockEnd = std::min(shareEnd, shareFirst + ((i - shareFirst) / 8 + 1) * 8);
        while (t.split < pre.outgoingCount && pre.outgoing[t.split]->post < state.neurons + blockEnd) ++t.split;
        // Each pair from its first synapse; a spike the warm-up left flagged acts
        // in the coming integration.
        bool seen[kEventTrainPairs] = {}, flagSeen[2] = {}, arrived[2] = {};
        for (uint32_t k = 0; k < pre.outgoingCount; ++k) {
            const Synapse& syn = *pre.outgoing[k];
            const SynapseLaneState& lanes = LaneStateOf(syn);
            const uint32_t slot = syn.lane % 4, g = k >= t.split ? 1 : 0, pair = g * 4 + syn.remainder;
            const bool flagged = LaneWeightsOf(syn).arrived[slot] != 0;
            if (!flagSeen[g]) {
                flagSeen[g] = true;
                arrived[g] = flagged;
            }
            differing += flagged != arrived[g] ? 1 : 0;
            if (!seen[pair]) {
                seen[pair] = true;
                t.r[pair] = lanes.available[slot];
                t.u[pair] = lanes.utilization[slot];
            } else if (t.r[pair] != lanes.available[slot] || t.u[pair] != lanes.utilization[slot]) {
                ++differing;
            }
        }
        const uint32_t groups = (arrived[0] ? 1u : 0u) | (arrived[1] ? 2u : 0u);
        if (groups != 0) AdvanceTrain(t, s, excitatory ? e.exc : e.inh, excitatory ? exc : inh, groups);
        t.previous[0] = t.step[0];
        t.previous[1] = t.step[1];
        for (uint32_t k = 0; k < pre.outgoingCount; ++k) {
            const Synapse& syn = *pre.outgoing[k];
            const uint64_t j = e.runStart[i] + k;
            const uint32_t post = static_cast<uint32_t>(syn.post - state.neurons);
            const SynapseLaneWeights& weights = LaneWeightsOf(syn);
            const uint32_t slot = syn.lane % 4, g = k >= t.split ? 1 : 0;
            EventSynapse& x = e.synapses[j];
            x = EventSynapse{weights.weight[slot], weights.weightDelta[slot], post << 4 | syn.remainder};
            e.incoming[filled[post]++] = static_cast<uint32_t>(j);
            if (arrived[g])
                AddInput(e.input[post], excitatory, IncrementOf(t, g * 4 + syn.remainder, x.w), syn.remainder);
            // The warm-up's arrival (s + 1) stays the one potentiation counts from.
            const int32_t code = syn.arrivalStep < 0 ? 0 : StepDifference(syn.arrivalStep, t.step[g]) + 1;
            if (code >= 1 && code <= 3) x.target = WithArrivalCode(x.target, static_cast<uint32_t>(code));
        }
    }
    if (differing != 0)
        state.Log(LogWarning,
                  "%llu synapses did not share the short-term state of their presynaptic neuron's others "
                  "of their slot class; the event engine gives each the state of the first.",
                  static_cast<unsigned long long>(differing));
    // The spikes in the delay lines: the fire phase of step s + j reads slot
    // delayIndex - j - 1, which steps s .. s + j do not overwrite for j < L - 1.
    for (uint32_t i = 0; i < n; ++i) {
        const Neuron& x = state.neurons[i];
        e.excitatory[i] = x.isExcitatory != 0 ? 1 : 0;
        e.recent[i] = EventRecent{-1, kEventFarGap, kEventFarGap};
        if (x.lastSpikeStep >= 0) RecordHistory(e.history[i], e.recent[i], x.lastSpikeStep);
        for (uint32_t j = 0; x.delayV != nullptr && j + 1 < x.delayLength; ++j) {  // kept lines
            const uint32_t slot = (x.delayIndex + x.delayLength - (j + 1) % x.delayLength) % x.delayLength;
            if (x.delayV[slot] > x.vPeak) SetDue(e, static_cast<uint32_t>(s + static_cast<int32_t>(j)) & (e.ringSteps - 1), i);
        }
    }
    EventLoadNeurons(state);
    e.bytes = state.MemoryUsage - before;
    EventSetWorkers(state, 1);
}

void EventStoreNeuron(Simulation& state, uint32_t i) {
    const EventEngine& e = *state.eventEngine;
    const EventNeuronState& x = e.neuron;
    Neuron& r = state.neurons[i];
    r.v = x.v[i];
    r.u = x.u[i];
    r.vNext = x.vNext[i];
    r.uNext = x.uNext[i];
    r.gAmpa = x.gAmpa[i];
    r.gNmda = x.gNmda[i];
    r.gGabaA = x.gGabaA[i];
    r.gGabaB = x.gGabaB[i];
    r.vEnvelope = r.vEnvelopeView = x.envelope[i];
    r.isHeld = x.held[i] != 0 ? 1 : 0;
    r.spikeCount = x.spikeCount[i];
    r.lastSpikeStep = e.recent[i].last;
}

void EventStoreNeurons(Simulation& state) {
    for (uint32_t i = 0; i < state.neuronCount; ++i) EventStoreNeuron(state, i);
    state.eventEngine->stateInArrays = 0;
}

void EventLoadNeurons(Simulation& state) {
    EventEngine& e = *state.eventEngine;
    EventNeuronState& x = e.neuron;
    for (uint32_t i = 0; i < state.neuronCount; ++i) {
        const Neuron& r = state.neurons[i];
        x.v[i] = r.v;
        x.u[i] = r.u;
        x.vNext[i] = r.vNext;
        x.uNext[i] = r.uNext;
        x.gAmpa[i] = r.gAmpa;
        x.gNmda[i] = r.gNmda;
        x.gGabaA[i] = r.gGabaA;
        x.gGabaB[i] = r.gGabaB;
        x.envelope[i] = r.vEnvelope;
        x.vPeak[i] = r.vPeak;
        x.a[i] = r.a;
        x.b[i] = r.b;
        x.c[i] = r.c;
        x.d[i] = r.d;
        x.held[i] = r.isHeld != 0 ? -1 : 0;
        x.delayLength[i] = r.delayLength;
        x.spikeCount[i] = r.spikeCount;
    }
    e.stateInArrays = 1;
}

void EventSetWorkers(Simulation& state, uint32_t workers) {
    EventEngine& e = *state.eventEngine;
    const uint32_t n = e.neuronCount;
    uint32_t parts = std::min(std::max(workers, 1u), kEventMaxPartitions);
    if (parts == e.partitions && e.splits != nullptr) return;
    const uint32_t stride = (4 + parts + 1 + 3) / 4 * 4;
    auto* splits = static_cast<uint8_t*>(plat::AlignedAllocZeroed(uint64_t{n} * stride));
    if (splits == nullptr && e.splits != nullptr) return;  // keep the partitions there are
    if (splits == nullptr) throw BuildFailure{kEventMemoryMessage};  // inside the build
    if (e.splits != nullptr) {
        plat::AlignedFree(e.splits);
        state.MemoryUsage -= uint64_t{n} * e.splitStride;
        e.bytes -= uint64_t{n} * e.splitStride;
    }
    state.MemoryUsage += uint64_t{n} * stride;
    e.bytes += uint64_t{n} * stride;
    e.splits = splits;
    e.splitStride = stride;
    e.partitions = parts;
    // The partitions are the workers' shares of this process's neurons (LaunchWorkers).
    const uint32_t first = state.shareFirst, count = state.shareEnd - state.shareFirst;
    const uint32_t share = count / parts;
    for (uint32_t p = 0; p < parts; ++p) e.partitionFirst[p] = first + p * share;
    e.partitionFirst[parts] = first + count;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t* const at = splits + uint64_t{i} * stride;
        const auto start = static_cast<uint32_t>(e.runStart[i]);  // synapseCount < 2^32
        std::memcpy(at, &start, sizeof start);
        for (uint32_t p = 0; p <= parts; ++p)
            at[4 + p] = static_cast<uint8_t>(EventSliceOnto(e, i, e.partitionFirst[p], n).lo);
    }
}

void EventRecallRecent(Simulation& state) {
    EventEngine& e = *state.eventEngine;
    for (uint32_t i = 0; i < e.neuronCount; ++i) {
        EventRecent& r = e.recent[i];
        r = EventRecent{state.neurons[i].lastSpikeStep, kEventFarGap, kEventFarGap};
        if (r.last < 0) continue;
        // The two spikes before the last one, as far back as the history holds.
        const EventHistory& h = e.history[i];
        int32_t previous = r.last;
        for (uint32_t gap = 1; gap < kEventHistorySteps && r.gap2 == kEventFarGap; ++gap) {
            const uint32_t bit = static_cast<uint32_t>(r.last - static_cast<int32_t>(gap)) % kEventHistorySteps;
            if ((h.bits[bit >> 6] >> (bit & 63u) & 1u) == 0) continue;
            const uint32_t step = static_cast<uint32_t>(r.last) - gap;
            if (r.gap1 == kEventFarGap)
                r.gap1 = static_cast<uint16_t>(gap);
            else
                r.gap2 = static_cast<uint16_t>(static_cast<uint32_t>(previous) - step);
            previous = static_cast<int32_t>(step);
        }
    }
}

uint64_t* EventDueRow(Simulation& state, uint32_t s) {
    EventEngine& e = *state.eventEngine;
    return e.due + uint64_t{s & (e.ringSteps - 1)} * e.ringWords;
}

void EventAdvanceTrains(Simulation& state, uint32_t first, uint32_t end, int32_t s) {
    EventEngine& e = *state.eventEngine;
    const KindFactors exc = ExcitatoryFactors(state.params), inh = InhibitoryFactors(state.params);
    const uint64_t* const row = EventDueRow(state, static_cast<uint32_t>(s));
    for (uint32_t w = first / 64; w * 64 < end; ++w) {
        // A word shared with a neighbouring range may take that range's bits meanwhile.
        for (uint64_t bits = std::atomic_ref<const uint64_t>(row[w]).load(std::memory_order_relaxed); bits != 0;
             bits &= bits - 1) {
            const uint32_t i = w * 64 + static_cast<uint32_t>(__builtin_ctzll(bits));
            if (i < first || i >= end) continue;
            const bool excitatory = e.excitatory[i] != 0;
            EventTrain& t = e.trains[i];
            if (e.wide == 0 || !AdvanceTrainWide(t, s + 1, excitatory ? e.exc : e.inh, excitatory ? exc : inh))
                AdvanceTrain(t, s + 1, excitatory ? e.exc : e.inh, excitatory ? exc : inh);
        }
    }
}

void ReleaseEventEngine(Simulation& state) {
    EventEngine* engine = state.eventEngine;
    if (engine == nullptr) return;
    for (void* p : {static_cast<void*>(engine->synapses), static_cast<void*>(engine->runStart),
                    static_cast<void*>(engine->inStart), static_cast<void*>(engine->incoming),
                    static_cast<void*>(engine->input), static_cast<void*>(engine->recent),
                    static_cast<void*>(engine->history), static_cast<void*>(engine->tracked),
                    static_cast<void*>(engine->excitatory), static_cast<void*>(engine->neuron.v),
                    static_cast<void*>(engine->splits), static_cast<void*>(engine->trains),
                    static_cast<void*>(engine->due)})
        plat::AlignedFree(p);
    plat::AlignedFree(engine);
    state.eventEngine = nullptr;
}

// ---- 5. Integration phase ---------------------------------------------------------------------------------
namespace {

// Clears the previous step's due bits of neurons [first, end): every partition has
// delivered them. (A word shared with a neighbouring range is cleared atomically.)
void ClearPreviousDue(Simulation& state, uint32_t first, uint32_t end) {
    EventEngine& e = *state.eventEngine;
    const uint32_t previous = state.stepCounter.load(std::memory_order_relaxed) - 1;
    uint64_t* const row = e.due + uint64_t{previous & (e.ringSteps - 1)} * e.ringWords;
    for (uint32_t w = first / 64; w * 64 < end; ++w) {
        uint64_t mine = ~uint64_t{0};
        if (w * 64 < first) mine &= ~uint64_t{0} << (first - w * 64);
        if (w * 64 + 64 > end) mine &= ~uint64_t{0} >> (w * 64 + 64 - end);
        if (mine == ~uint64_t{0})
            row[w] = 0;
        else
            std::atomic_ref<uint64_t>(row[w]).fetch_and(~mine, std::memory_order_relaxed);
    }
}

struct Decays {
    __m256 ampa, nmda, gabaA, gabaB;
};
Decays DecaysOf(const SimParams& p) {
    return {_mm256_set1_ps(p.ampaStepDecay), _mm256_set1_ps(p.nmdaStepDecay), _mm256_set1_ps(p.gabaAStepDecay),
            _mm256_set1_ps(p.gabaBStepDecay)};
}

// The integration of eight neurons from i: each conductance decays and takes the
// step's input, (g - k*g) + in, where a remainder slot's increment decays once in
// its arrival step (in = full + (rest - k*rest)); then the membrane step, whose
// vNext and uNext are stored and returned. The inputs (written by the deliveries
// before the phase barrier) are taken and cleared four neurons at a time: a 4x4
// transpose turns four neurons' sums into one vector per sum.
inline void IntegrateEight(EventEngine& e, uint32_t i, const Decays& k, __m256& vNext, __m256& uNext) {
    EventNeuronState& x = e.neuron;
    float* const sums = &e.input[i].excFull;
    __m128 eFull0 = _mm_load_ps(sums), eRest0 = _mm_load_ps(sums + 4);
    __m128 iFull0 = _mm_load_ps(sums + 8), iRest0 = _mm_load_ps(sums + 12);
    __m128 eFull1 = _mm_load_ps(sums + 16), eRest1 = _mm_load_ps(sums + 20);
    __m128 iFull1 = _mm_load_ps(sums + 24), iRest1 = _mm_load_ps(sums + 28);
    _MM_TRANSPOSE4_PS(eFull0, eRest0, iFull0, iRest0);
    _MM_TRANSPOSE4_PS(eFull1, eRest1, iFull1, iRest1);
    for (uint32_t q = 0; q < 4; ++q) _mm256_storeu_ps(sums + 8 * q, _mm256_setzero_ps());
    const __m256 eFull = _mm256_set_m128(eFull1, eFull0), eRest = _mm256_set_m128(eRest1, eRest0);
    const __m256 iFull = _mm256_set_m128(iFull1, iFull0), iRest = _mm256_set_m128(iRest1, iRest0);
    const auto conductance = [i](float* g, __m256 decay, __m256 full, __m256 rest) {
        const __m256 in = _mm256_add_ps(full, _mm256_sub_ps(rest, _mm256_mul_ps(decay, rest)));
        const __m256 now = _mm256_loadu_ps(g + i);
        const __m256 next = _mm256_add_ps(_mm256_sub_ps(now, _mm256_mul_ps(decay, now)), in);
        _mm256_storeu_ps(g + i, next);
        return next;
    };
    const __m256 gAmpa = conductance(x.gAmpa, k.ampa, eFull, eRest);
    const __m256 gNmda = conductance(x.gNmda, k.nmda, eFull, eRest);
    const __m256 gGabaA = conductance(x.gGabaA, k.gabaA, iFull, iRest);
    const __m256 gGabaB = conductance(x.gGabaB, k.gabaB, iFull, iRest);
    MembraneStep8(_mm256_loadu_ps(x.v + i), _mm256_loadu_ps(x.u + i), _mm256_loadu_ps(x.a + i),
                  _mm256_loadu_ps(x.b + i), gAmpa, gNmda, gGabaA, gGabaB, vNext, uNext);
    _mm256_storeu_ps(x.vNext + i, vNext);
    _mm256_storeu_ps(x.uNext + i, uNext);
}

// IntegrateEight for neurons [first, end), one at a time.
void IntegrateEach(Simulation& state, uint32_t first, uint32_t end) {
    const SimParams& p = state.params;
    EventEngine& e = *state.eventEngine;
    EventNeuronState& x = e.neuron;
    for (uint32_t i = first; i < end; ++i) {
        EventInputs& sums = e.input[i];
        const float eFull = sums.excFull, eRest = sums.excRemainder;
        const float iFull = sums.inhFull, iRest = sums.inhRemainder;
        sums = EventInputs{};
        const auto conductance = [](float& g, float decay, float full, float rest) {
            g = (g - decay * g) + (full + (rest - decay * rest));
        };
        conductance(x.gAmpa[i], p.ampaStepDecay, eFull, eRest);
        conductance(x.gNmda[i], p.nmdaStepDecay, eFull, eRest);
        conductance(x.gGabaA[i], p.gabaAStepDecay, iFull, iRest);
        conductance(x.gGabaB[i], p.gabaBStepDecay, iFull, iRest);
    }
    MembraneStepArrays({x.v, x.u, x.a, x.b, x.gAmpa, x.gNmda, x.gGabaA, x.gGabaB, x.vNext, x.uNext}, first, end);
}

}  // namespace

void EventUpdateChunk(Simulation& state, uint32_t first, uint32_t end) {
    ClearPreviousDue(state, first, end);
    EventEngine& e = *state.eventEngine;
    const Decays decays = DecaysOf(state.params);
    uint32_t i = first;
    for (; i + 8 <= end; i += 8) {
        __m256 vNext, uNext;
        IntegrateEight(e, i, decays, vNext, uNext);
    }
    IntegrateEach(state, i, end);
}

// ---- 6. Fire phase ------------------------------------------------------------------------------------------
namespace {

// The inspector's axon view: a tracked neuron's delay line steps in its record.
void TrackDelayLine(Simulation& state, uint32_t i) {
    Neuron& r = state.neurons[i];
    r.v = state.eventEngine->neuron.v[i];
    AdvanceDelayLine(r);
}

// One neuron's own part of sub-phase (a): apply (not while held), the inspector's
// delay line, scheduling of the spike that the exact engine's delay line lets out
// L - 1 steps later, envelope (rising faster than it falls), spike test and reset.
// The range loop does the same for eight neurons at a time.
inline bool FireOne(Simulation& state, EventEngine& e, uint32_t i, int32_t s, bool ownsWords) {
    EventNeuronState& x = e.neuron;
    if (x.held[i] == 0) {
        x.v[i] = x.vNext[i];
        x.u[i] = x.uNext[i];
    }
    if (e.tracked[i] != 0) TrackDelayLine(state, i);
    const float v = x.v[i];
    if (v > x.vPeak[i])
        SetDue(e, static_cast<uint32_t>(s + static_cast<int32_t>(x.delayLength[i]) - 1) & (e.ringSteps - 1), i,
               ownsWords);
    const float f = x.envelope[i];
    const float rate = v > f ? 0.3f : 0.15f;
    x.envelope[i] = f + rate * (v - f);
    if (!(v >= x.vPeak[i])) return false;
    x.v[i] = x.c[i];
    x.u[i] = x.u[i] + x.d[i];
    x.spikeCount[i] += 1;
    return true;
}

}  // namespace

// b where the lane's mask is all ones, else a. As bit operations: with AVX alone
// (no 256-bit integer compares) a blendv is compiled lane by lane, with branches.
namespace {
inline __m256 Select(__m256 a, __m256 b, __m256 mask) {
    return _mm256_or_ps(_mm256_and_ps(mask, b), _mm256_andnot_ps(mask, a));
}
}  // namespace

namespace {

// How far ahead the fused loop fetches its neurons' lines: each array is a stream
// of its own, too many for the hardware prefetchers to follow.
constexpr uint32_t kNeuronsAhead = 128;

// Fetches the lines of the sixteen neurons from j that the integration and sub-phase (a) read.
inline void FetchNeurons(const EventEngine& e, const uint8_t* spiked, uint32_t j) {
    const EventNeuronState& x = e.neuron;
    for (uint32_t q = 0; q < 16; q += 4) FetchForWrite(&e.input[j + q], e.owned);
    for (float* written : {x.gAmpa, x.gNmda, x.gGabaA, x.gGabaB, x.v, x.u, x.vNext, x.uNext, x.envelope})
        FetchForWrite(written + j, e.owned);
    for (const float* read : {x.a, x.b, x.c, x.d, x.vPeak})
        _mm_prefetch(reinterpret_cast<const char*>(read + j), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(x.held + j), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(x.delayLength + j), _MM_HINT_T0);
    FetchForWrite(x.spikeCount + j, e.owned);
    if (j % 64 == 0) {
        _mm_prefetch(reinterpret_cast<const char*>(e.tracked + j), _MM_HINT_T0);
        FetchForWrite(spiked + j, e.owned);
    }
}

// Sub-phase (a) of a range, after its integration when kIntegrate: each neuron's
// apply, scheduling and spike test. The deliveries follow in sub-phase (b), by partition.
template <bool kIntegrate>
uint32_t FireRange(Simulation& state, uint32_t first, uint32_t end, int32_t s) {
    if constexpr (kIntegrate) ClearPreviousDue(state, first, end);
    EventEngine& e = *state.eventEngine;
    const Decays decays = DecaysOf(state.params);
    EventNeuronState& x = e.neuron;
    uint8_t* const spiked = state.spiked;
    uint32_t* const firedIds = state.firedIds + first;
    const uint32_t rowMask = e.ringSteps - 1;
    uint32_t fired = 0;
    const bool ownsWords = first % 64 == 0 && (end % 64 == 0 || end == e.neuronCount);
    // The runs due now (all but those of delay-line length 1) start on their way
    // while the neurons are handled: their deliveries in sub-phase (b) are mostly
    // on this thread, since most synapses end in the partition of their neuron.
    const uint64_t* const row = e.due + uint64_t{static_cast<uint32_t>(s) & rowMask} * e.ringWords;
    for (uint32_t w = first / 64; w * 64 < end; ++w) {
        for (uint64_t bits = std::atomic_ref<const uint64_t>(row[w]).load(std::memory_order_relaxed); bits != 0;
             bits &= bits - 1) {
            const uint32_t i = w * 64 + static_cast<uint32_t>(__builtin_ctzll(bits));
            if (i >= first && i < end) {
                FetchForWrite(e.synapses + RunStartOf(e, i), e.owned);  // and the line of its splits
                FetchForWrite(&e.trains[i], e.owned);                   // advanced at the range's end
                FetchForWrite(e.trains[i].step, e.owned);
            }
        }
    }
    // The due bits to set, gathered and set together: each lands in a row of the
    // ring at a random place, and fetched together their misses overlap.
    constexpr uint32_t kDueBatch = 64;
    uint32_t dueIds[kDueBatch];
    uint32_t dueCount = 0;
    const auto setDue = [&] {
        uint32_t rows[kDueBatch];
        for (uint32_t k = 0; k < dueCount; ++k) {
            const uint32_t j = dueIds[k];
            rows[k] = static_cast<uint32_t>(s + static_cast<int32_t>(x.delayLength[j]) - 1) & rowMask;
            FetchForWrite(e.due + uint64_t{rows[k]} * e.ringWords + j / 64, e.owned);
        }
        for (uint32_t k = 0; k < dueCount; ++k) SetDue(e, rows[k], dueIds[k], ownsWords);
        dueCount = 0;
    };
    // FireOne, eight neurons at a time: the same operations lane by lane.
    const __m256 rise = _mm256_set1_ps(0.3f), fall = _mm256_set1_ps(0.15f);
    // The delay lengths and spike counts are read only for the neurons that fire,
    // too few for the hardware to see a stream: their lines are fetched ahead
    // (with all the others' when kIntegrate).
    constexpr uint32_t kCountsAhead = 128;
    uint32_t i = first;
    for (; i + 8 <= end; i += 8) {
        __m256 vNext, uNext;
        if constexpr (kIntegrate) {
            if (i % 16 == 0 && i + kNeuronsAhead + 16 <= e.neuronCount) FetchNeurons(e, spiked, i + kNeuronsAhead);
            IntegrateEight(e, i, decays, vNext, uNext);
        } else {
            if (i % 16 == 0 && i + kCountsAhead < end) {
                _mm_prefetch(reinterpret_cast<const char*>(x.delayLength + i + kCountsAhead), _MM_HINT_T0);
                FetchForWrite(x.spikeCount + i + kCountsAhead, e.owned);
            }
            vNext = _mm256_loadu_ps(x.vNext + i);
            uNext = _mm256_loadu_ps(x.uNext + i);
        }
        const __m256 held = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x.held + i)));
        __m256 v = Select(vNext, _mm256_loadu_ps(x.v + i), held);
        __m256 u = Select(uNext, _mm256_loadu_ps(x.u + i), held);
        uint64_t tracked;
        std::memcpy(&tracked, e.tracked + i, sizeof tracked);
        if (tracked != 0) {
            _mm256_storeu_ps(x.v + i, v);
            for (uint32_t k = 0; k < 8; ++k)
                if (e.tracked[i + k] != 0) TrackDelayLine(state, i + k);
        }
        const __m256 peak = _mm256_loadu_ps(x.vPeak + i);
        if (dueCount + 8 > kDueBatch) setDue();
        for (uint32_t due = static_cast<uint32_t>(_mm256_movemask_ps(_mm256_cmp_ps(v, peak, _CMP_GT_OQ))); due != 0;
             due &= due - 1)
            dueIds[dueCount++] = i + static_cast<uint32_t>(__builtin_ctz(due));
        const __m256 f = _mm256_loadu_ps(x.envelope + i);
        const __m256 toward = _mm256_sub_ps(v, f);
        const __m256 rising = _mm256_add_ps(f, _mm256_mul_ps(rise, toward));
        const __m256 falling = _mm256_add_ps(f, _mm256_mul_ps(fall, toward));
        _mm256_storeu_ps(x.envelope + i, Select(falling, rising, _mm256_cmp_ps(v, f, _CMP_GT_OQ)));
        const __m256 spike = _mm256_cmp_ps(v, peak, _CMP_GE_OQ);
        v = Select(v, _mm256_loadu_ps(x.c + i), spike);
        u = Select(u, _mm256_add_ps(u, _mm256_loadu_ps(x.d + i)), spike);
        _mm256_storeu_ps(x.v + i, v);
        _mm256_storeu_ps(x.u + i, u);
        const uint32_t bits = static_cast<uint32_t>(_mm256_movemask_ps(spike));
        for (uint32_t k = 0; k < 8; ++k) spiked[i + k] = static_cast<uint8_t>((bits >> k) & 1u);
        for (uint32_t b = bits; b != 0; b &= b - 1) {
            const uint32_t j = i + static_cast<uint32_t>(__builtin_ctz(b));
            firedIds[fired++] = j;
            x.spikeCount[j] += 1;
            FetchForWrite(&e.history[j], e.owned);  // marked below
            _mm_prefetch(reinterpret_cast<const char*>(&e.recent[j]), _MM_HINT_T0);
        }
    }
    setDue();
    if constexpr (kIntegrate) IntegrateEach(state, i, end);
    for (; i < end; ++i) {
        const bool spike = FireOne(state, e, i, s, ownsWords);
        spiked[i] = spike ? 1 : 0;
        firedIds[fired] = i;  // kept only when it fired
        fired += spike ? 1 : 0;
    }
    // The spikes into the histories, whose lines came while the range was handled;
    // the recent spikes follow in sub-phase (b).
    for (uint32_t k = 0; k < fired; ++k) MarkHistory(e.history[firedIds[k]], e.recent[firedIds[k]].last, s);
    // The runs due now (those of delay-line length 1 just scheduled among them) to the arrival.
    EventAdvanceTrains(state, first, end, s);
    return fired;
}

}  // namespace

uint32_t EventFireApplyRange(Simulation& state, uint32_t first, uint32_t end, int32_t s, uint32_t) {
    return FireRange<false>(state, first, end, s);
}

uint32_t EventIntegrateFireRange(Simulation& state, uint32_t first, uint32_t end, int32_t s, uint32_t) {
    return FireRange<true>(state, first, end, s);
}

namespace {

// Sub-phase (b) for the post-synaptic neurons [first, end), partition p of the
// splits or, with kNoPartition, any range: the deliveries of the runs due at s,
// each slice fetched while the one before it is delivered; the sweep (runs i with
// i = s mod kEventSweepPeriod); then the recent spikes of the range's neurons
// (their histories took the spikes in sub-phase a). The deliveries and the sweep
// read spike times of step s - 1 and before, which the spikes of step s then follow.
constexpr uint32_t kNoPartition = 0xFFFFFFFFu;

void DeliverAndLearn(Simulation& state, uint32_t first, uint32_t end, int32_t s, uint32_t p) {
    EventEngine& e = *state.eventEngine;
    const auto slice = [&e, first, end, p](uint32_t i) {
        return p == kNoPartition ? EventSliceOnto(e, i, first, end) : SliceOf(e, i, p);
    };
    const uint64_t* const row = e.due + uint64_t{static_cast<uint32_t>(s) & (e.ringSteps - 1)} * e.ringWords;
    struct Due {
        uint32_t neuron;
        EventSlice slice;
        const EventSynapse* at;  // the slice's first synapse
    };
    Due due[kMaxChunkSize];
    uint32_t dueCount = 0;
    uint64_t delivered = 0;
    // A slice's first line is a miss at a random place, the rest follow it: the
    // first lines kSlicesAhead slices ahead, the whole of the next one. Their
    // addresses are found while the list is made, so that a fetch waits on no load.
    constexpr uint32_t kSlicesAhead = 8;
    const auto touch = [&e](const Due& d) {
        FetchForWrite(d.at, e.owned);
        _mm_prefetch(reinterpret_cast<const char*>(&e.trains[d.neuron]), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(e.trains[d.neuron].step), _MM_HINT_T0);
    };
    const auto deliver = [&] {
        for (uint32_t k = 0; k < dueCount && k < kSlicesAhead; ++k) touch(due[k]);
        if (dueCount > 0) PrefetchSlice(due[0].at, due[0].slice.hi - due[0].slice.lo, e.owned);
        for (uint32_t k = 0; k < dueCount; ++k) {
            if (k + kSlicesAhead < dueCount) touch(due[k + kSlicesAhead]);
            if (k + 1 < dueCount) PrefetchSlice(due[k + 1].at, due[k + 1].slice.hi - due[k + 1].slice.lo, e.owned);
            if (e.wide != 0)
                DeliverSliceWide(state, due[k].neuron, due[k].slice, s);
            else
                DeliverSlice(state, due[k].neuron, due[k].slice, s);
            delivered += due[k].slice.hi - due[k].slice.lo;
        }
        dueCount = 0;
    };
    // An empty slice is written and not counted: no branch waits on the split's load.
    for (uint32_t w = 0; w < e.ringWords; ++w) {
        for (uint64_t bits = row[w]; bits != 0; bits &= bits - 1) {
            const uint32_t i = w * 64 + static_cast<uint32_t>(__builtin_ctzll(bits));
            if (dueCount == kMaxChunkSize) deliver();
            const EventSlice x = slice(i);
            due[dueCount] = {i, x, e.synapses + RunStartOf(e, i) + x.lo};
            dueCount += x.lo != x.hi ? 1 : 0;
        }
    }
    deliver();
    if (delivered != 0) std::atomic_ref<uint64_t>(e.delivered).fetch_add(delivered, std::memory_order_relaxed);
    // Each swept slice is found once, and fetched while the one before it is settled.
    uint32_t swept = static_cast<uint32_t>(s) % kEventSweepPeriod;
    EventSlice sweeping = swept < e.neuronCount ? slice(swept) : EventSlice{};
    for (; swept < e.neuronCount; swept += kEventSweepPeriod) {
        const uint32_t following = swept + kEventSweepPeriod;
        EventSlice next{};
        if (following < e.neuronCount) {
            next = slice(following);
            PrefetchSlice(e.synapses + RunStartOf(e, following) + next.lo, next.hi - next.lo, e.owned);
        }
        SweepSlice(state, swept, sweeping, s);
        sweeping = next;
    }
    // The range's spikes into the recent spikes (the record's lastSpikeStep follows
    // at the next store), eight flags at a time (most are 0), and in batches whose
    // lines are fetched together: the deliveries have pushed them out since (a).
    const uint8_t* const spiked = state.spiked;
    uint32_t noted[kMaxChunkSize];
    uint32_t notedCount = 0;
    const auto note = [&] {
        for (uint32_t k = 0; k < notedCount; ++k) NoteRecent(e.recent[noted[k]], s);
        notedCount = 0;
    };
    for (uint32_t i = first; i < end; ++i) {
        if (i % 8 == 0 && i + 8 <= end) {
            uint64_t eight;
            std::memcpy(&eight, spiked + i, sizeof eight);
            if (eight == 0) {
                i += 7;
                continue;
            }
        }
        if (spiked[i] == 0) continue;
        FetchForWrite(&e.recent[i], e.owned);
        noted[notedCount++] = i;
        if (notedCount == kMaxChunkSize) note();
    }
    note();
}

}  // namespace

void EventFireLearnRange(Simulation& state, uint32_t first, uint32_t end, int32_t s) {
    DeliverAndLearn(state, first, end, s, kNoPartition);
}

void EventLearnPartition(Simulation& state, uint32_t worker, int32_t s) {
    const EventEngine& e = *state.eventEngine;
    if (worker < e.partitions)
        DeliverAndLearn(state, e.partitionFirst[worker], e.partitionFirst[worker + 1], s, worker);
}

StepKernels EventStepKernels() {
    return StepKernels{&EventUpdateChunk, &EventFireApplyRange, &EventFireLearnRange, &ApplyStimulus,
                       &EventLearnPartition, &EventIntegrateFireRange};
}

void EventTrackNeuron(Simulation& state, uint32_t inspected) {
    EventEngine& e = *state.eventEngine;
    const auto each = [&e](uint32_t neuron, auto&& fn) {
        if (neuron >= e.neuronCount) return;
        fn(neuron);
        for (uint64_t k = e.inStart[neuron]; k < e.inStart[neuron + 1]; ++k) fn(EventPre(e, e.incoming[k]));
    };
    if (inspected != e.trackedNeuron) {
        each(e.trackedNeuron, [&e](uint32_t i) { e.tracked[i] = 0; });
        each(inspected, [&e](uint32_t i) { e.tracked[i] = 1; });
        e.trackedNeuron = inspected;
    }
    each(inspected, [&state](uint32_t i) { EventStoreNeuron(state, i); });
}

// ---- 7. Synapse state and weights on demand -------------------------------------------------------------------

uint32_t EventPre(const EventEngine& e, uint64_t j) {
    const uint64_t* begin = e.runStart;
    return static_cast<uint32_t>(std::upper_bound(begin, begin + e.neuronCount + 1, j) - begin - 1);
}

SynapseValues EventSynapseValues(const Simulation& state, uint64_t j, int32_t step) {
    const EventEngine& e = *state.eventEngine;
    const uint32_t pre = EventPre(e, j);
    const EventTrain& t = e.trains[pre];
    const uint32_t c = EventPairOf(t, e.synapses[j], j - e.runStart[pre]);
    const int32_t gapSigned = StepDifference(step, t.step[c / 4]);
    const uint32_t gap = gapSigned > 0 ? static_cast<uint32_t>(gapSigned) : 0u;
    const bool excitatory = state.neurons[pre].isExcitatory != 0;
    const KindFactors f = excitatory ? ExcitatoryFactors(state.params) : InhibitoryFactors(state.params);
    const SlotState y = Advance({t.r[c], t.u[c]}, gap, excitatory ? e.exc : e.inh, f);
    return {y.r, y.u};
}

WeightValues EventWeightOf(const Simulation& state, const EventSynapse& x, int32_t runStep, bool excitatory,
                           int32_t until) {
    const EventEngine& e = *state.eventEngine;
    WeightValues v{x.w, x.d};
    if (EventArrivalCode(x) == kEventNoArrival) return v;
    const uint32_t post = EventPost(x);
    const float wMax = excitatory ? state.params.excWeightMax : state.params.inhWeightMax;
    ApplyPendingOf(e, post, e.recent[post], EventArrival(x, runStep), until, state.stdpPotentiation, wMax, v.w, v.d);
    return v;
}

WeightValues EventWeight(const Simulation& state, uint64_t j, int32_t until) {
    const EventEngine& e = *state.eventEngine;
    const uint32_t pre = EventPre(e, j);
    const EventTrain& t = e.trains[pre];
    return EventWeightOf(state, e.synapses[j], t.step[EventGroupOf(t, j - e.runStart[pre])],
                         state.neurons[pre].isExcitatory != 0, until);
}
