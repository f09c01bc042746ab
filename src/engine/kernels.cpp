// Integration kernels of the synapse lanes and the membrane step.
//
// Sections:
//   1. Kind factors
//   2. Decay (pairs of blocks 8-wide, single block 4-wide)
//   3. Arrival routines (template over the 4-bit mask) and their table
//   4. Remainder routines (1, 2 or 3 slots) and their table
//   5. Scalar twins
//   6. Whole-neuron integration and the membrane step
#include "engine/kernels.h"

#include <immintrin.h>

#include <cstring>

#include "engine/params.h"

// ---- 1. Kind factors ------------------------------------------------------------------------

KindFactors ExcitatoryFactors(const SimParams& p) {
    return {p.excStepInvD, p.excStepInvF, p.excStepUOverF, p.excStepU, p.ampaStepDecay,
            p.nmdaStepDecay};
}

KindFactors InhibitoryFactors(const SimParams& p) {
    return {p.inhStepInvD, p.inhStepInvF, p.inhStepUOverF, p.inhStepU, p.gabaAStepDecay,
            p.gabaBStepDecay};
}

namespace {

// ---- 2. Decay --------------------------------------------------------------------------------
// A lane block is 16 consecutive floats: R[4], u[4], gFast[4], gSlow[4]. Its first
// 256-bit half (R, u) decays by x + (C - K*x) with C = (kD, cF), K = (kD, bF) per half,
// its second half (gFast, gSlow) by x - G*x with G = (kFast, kSlow). Partial sums are
// kept as two registers: acc0 = (fast 0..3, slow 0..3), acc1 = (fast 4..7, slow 4..7).

struct DecayVectors {
    __m256 c, k, g;
};

inline DecayVectors MakeDecayVectors(const KindFactors& f) {
    return {_mm256_setr_ps(f.kD, f.kD, f.kD, f.kD, f.cF, f.cF, f.cF, f.cF),
            _mm256_setr_ps(f.kD, f.kD, f.kD, f.kD, f.bF, f.bF, f.bF, f.bF),
            _mm256_setr_ps(f.kFast, f.kFast, f.kFast, f.kFast, f.kSlow, f.kSlow, f.kSlow,
                           f.kSlow)};
}

inline void DecayPairRegs(SynapseLaneState* blocks, const DecayVectors& d, __m256& acc0,
                          __m256& acc1) {
    float* p = reinterpret_cast<float*>(blocks);
    __m256 ru0 = _mm256_loadu_ps(p);
    __m256 gg0 = _mm256_loadu_ps(p + 8);
    __m256 ru1 = _mm256_loadu_ps(p + 16);
    __m256 gg1 = _mm256_loadu_ps(p + 24);
    ru0 = _mm256_add_ps(ru0, _mm256_sub_ps(d.c, _mm256_mul_ps(d.k, ru0)));
    ru1 = _mm256_add_ps(ru1, _mm256_sub_ps(d.c, _mm256_mul_ps(d.k, ru1)));
    gg0 = _mm256_sub_ps(gg0, _mm256_mul_ps(d.g, gg0));
    gg1 = _mm256_sub_ps(gg1, _mm256_mul_ps(d.g, gg1));
    _mm256_storeu_ps(p, ru0);
    _mm256_storeu_ps(p + 8, gg0);
    _mm256_storeu_ps(p + 16, ru1);
    _mm256_storeu_ps(p + 24, gg1);
    acc0 = _mm256_add_ps(acc0, gg0);
    acc1 = _mm256_add_ps(acc1, gg1);
}

// One block, 4-wide per field; its sums go to partial sums 0..3 (acc0).
inline void DecaySingleRegs(SynapseLaneState& b, const KindFactors& f, __m256& acc0) {
    const __m128 kD = _mm_set1_ps(f.kD), bF = _mm_set1_ps(f.bF), cF = _mm_set1_ps(f.cF);
    const __m128 kFast = _mm_set1_ps(f.kFast), kSlow = _mm_set1_ps(f.kSlow);
    __m128 r = _mm_load_ps(b.available);
    __m128 u = _mm_load_ps(b.utilization);
    __m128 gF = _mm_load_ps(b.gFast);
    __m128 gS = _mm_load_ps(b.gSlow);
    r = _mm_add_ps(r, _mm_sub_ps(kD, _mm_mul_ps(kD, r)));
    u = _mm_add_ps(u, _mm_sub_ps(cF, _mm_mul_ps(bF, u)));
    gF = _mm_sub_ps(gF, _mm_mul_ps(kFast, gF));
    gS = _mm_sub_ps(gS, _mm_mul_ps(kSlow, gS));
    _mm_store_ps(b.available, r);
    _mm_store_ps(b.utilization, u);
    _mm_store_ps(b.gFast, gF);
    _mm_store_ps(b.gSlow, gS);
    acc0 = _mm256_add_ps(acc0, _mm256_insertf128_ps(_mm256_castps128_ps256(gF), gS, 1));
}

inline void LoadSums(const PartialSums& s, __m256& acc0, __m256& acc1) {
    acc0 = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_load_ps(s.fast)), _mm_load_ps(s.slow), 1);
    acc1 = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_load_ps(s.fast + 4)),
                                _mm_load_ps(s.slow + 4), 1);
}

inline void StoreSums(PartialSums& s, __m256 acc0, __m256 acc1) {
    _mm_store_ps(s.fast, _mm256_castps256_ps128(acc0));
    _mm_store_ps(s.slow, _mm256_extractf128_ps(acc0, 1));
    _mm_store_ps(s.fast + 4, _mm256_castps256_ps128(acc1));
    _mm_store_ps(s.slow + 4, _mm256_extractf128_ps(acc1, 1));
}

// ---- 3. Arrival routines ------------------------------------------------------------------------
// All four slots are computed 4-wide; only the slots of the mask are stored, and their
// increments are added to the arrivals sum in slot order.

template <unsigned Mask>
void ArriveGroup(SynapseLaneState& st, SynapseLaneWeights& wt, const KindFactors& f,
                 float& arrivals) {
    if constexpr (Mask != 0) {
        const __m128 half = _mm_set1_ps(0.5f), hU = _mm_set1_ps(f.hU);
        const __m128 r = _mm_load_ps(st.available);
        const __m128 u = _mm_load_ps(st.utilization);
        const __m128 gF = _mm_load_ps(st.gFast);
        const __m128 gS = _mm_load_ps(st.gSlow);
        const __m128 w = _mm_load_ps(wt.weight);
        const __m128 r1 = _mm_sub_ps(r, _mm_mul_ps(_mm_mul_ps(half, r), u));
        const __m128 u1 = _mm_sub_ps(_mm_add_ps(u, hU), _mm_mul_ps(hU, u));
        const __m128 inc = _mm_mul_ps(_mm_mul_ps(r1, w), u1);
        _mm_store_ps(st.available, _mm_blend_ps(r, r1, Mask));
        _mm_store_ps(st.utilization, _mm_blend_ps(u, u1, Mask));
        _mm_store_ps(st.gFast, _mm_blend_ps(gF, _mm_add_ps(gF, inc), Mask));
        _mm_store_ps(st.gSlow, _mm_blend_ps(gS, _mm_add_ps(gS, inc), Mask));
        alignas(16) float incs[4];
        _mm_store_ps(incs, inc);
        if constexpr ((Mask & 1u) != 0) { wt.arrived[0] = 0; arrivals += incs[0]; }
        if constexpr ((Mask & 2u) != 0) { wt.arrived[1] = 0; arrivals += incs[1]; }
        if constexpr ((Mask & 4u) != 0) { wt.arrived[2] = 0; arrivals += incs[2]; }
        if constexpr ((Mask & 8u) != 0) { wt.arrived[3] = 0; arrivals += incs[3]; }
    } else {
        (void)st, (void)wt, (void)f, (void)arrivals;
    }
}

// ---- 4. Remainder routines -------------------------------------------------------------------------
// Slots [0, Size) of the block after the full groups; the other slots are left alone.
//   2 or 3 slots: spike (if arrived) first, then recovery from the post-spike values,
//                 then decay, so the increment already decays once.
//   1 slot:       R and u take the recovery and spike terms together from the old
//                 values; the increment (new R, new u) is added, then both decay.
// The increments reach the partial sums (through the decayed g), not the arrivals sum.

template <unsigned Size>
void RemainderBlock(SynapseLaneState& st, SynapseLaneWeights& wt, const KindFactors& f,
                    PartialSums& sums) {
    constexpr int kSlots = (1 << Size) - 1;
    const __m128 half = _mm_set1_ps(0.5f), hU = _mm_set1_ps(f.hU), kD = _mm_set1_ps(f.kD);
    const __m128 bF = _mm_set1_ps(f.bF), cF = _mm_set1_ps(f.cF);
    const __m128 kFast = _mm_set1_ps(f.kFast), kSlow = _mm_set1_ps(f.kSlow);
    uint32_t bytes;
    std::memcpy(&bytes, wt.arrived, 4);
    const __m128 hit = _mm_castsi128_ps(_mm_cmpgt_epi32(
        _mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(bytes))), _mm_setzero_si128()));

    const __m128 r = _mm_load_ps(st.available);
    const __m128 u = _mm_load_ps(st.utilization);
    const __m128 gF = _mm_load_ps(st.gFast);
    const __m128 gS = _mm_load_ps(st.gSlow);
    const __m128 w = _mm_load_ps(wt.weight);
    __m128 r2, u2, gF1, gS1;
    if constexpr (Size == 1) {
        const __m128 rRecover = _mm_sub_ps(kD, _mm_mul_ps(kD, r));
        const __m128 uRelax = _mm_sub_ps(cF, _mm_mul_ps(bF, u));
        const __m128 rSpike = _mm_sub_ps(rRecover, _mm_mul_ps(_mm_mul_ps(half, r), u));
        const __m128 uSpike = _mm_add_ps(_mm_sub_ps(hU, _mm_mul_ps(hU, u)), uRelax);
        r2 = _mm_add_ps(r, _mm_blendv_ps(rRecover, rSpike, hit));
        u2 = _mm_add_ps(u, _mm_blendv_ps(uRelax, uSpike, hit));
        const __m128 inc = _mm_mul_ps(_mm_mul_ps(r2, w), u2);
        gF1 = _mm_blendv_ps(gF, _mm_add_ps(gF, inc), hit);
        gS1 = _mm_blendv_ps(gS, _mm_add_ps(gS, inc), hit);
    } else {
        const __m128 rHit = _mm_sub_ps(r, _mm_mul_ps(_mm_mul_ps(half, r), u));
        const __m128 uHit = _mm_sub_ps(_mm_add_ps(u, hU), _mm_mul_ps(hU, u));
        const __m128 inc = _mm_mul_ps(_mm_mul_ps(rHit, w), uHit);
        const __m128 r1 = _mm_blendv_ps(r, rHit, hit);
        const __m128 u1 = _mm_blendv_ps(u, uHit, hit);
        gF1 = _mm_blendv_ps(gF, _mm_add_ps(gF, inc), hit);
        gS1 = _mm_blendv_ps(gS, _mm_add_ps(gS, inc), hit);
        r2 = _mm_add_ps(r1, _mm_sub_ps(kD, _mm_mul_ps(kD, r1)));
        u2 = _mm_add_ps(u1, _mm_sub_ps(cF, _mm_mul_ps(bF, u1)));
    }
    const __m128 gF2 = _mm_sub_ps(gF1, _mm_mul_ps(kFast, gF1));
    const __m128 gS2 = _mm_sub_ps(gS1, _mm_mul_ps(kSlow, gS1));
    _mm_store_ps(st.available, _mm_blend_ps(r, r2, kSlots));
    _mm_store_ps(st.utilization, _mm_blend_ps(u, u2, kSlots));
    _mm_store_ps(st.gFast, _mm_blend_ps(gF, gF2, kSlots));
    _mm_store_ps(st.gSlow, _mm_blend_ps(gS, gS2, kSlots));
    const __m128 sumF = _mm_load_ps(sums.fast), sumS = _mm_load_ps(sums.slow);
    _mm_store_ps(sums.fast, _mm_blend_ps(sumF, _mm_add_ps(sumF, gF2), kSlots));
    _mm_store_ps(sums.slow, _mm_blend_ps(sumS, _mm_add_ps(sumS, gS2), kSlots));
    for (unsigned k = 0; k < Size; ++k) wt.arrived[k] = 0;
}

void NoRemainder(SynapseLaneState&, SynapseLaneWeights&, const KindFactors&, PartialSums&) {}

}  // namespace

const ArrivalRoutine kArrivalRoutines[16] = {
    &ArriveGroup<0>,  &ArriveGroup<1>,  &ArriveGroup<2>,  &ArriveGroup<3>,
    &ArriveGroup<4>,  &ArriveGroup<5>,  &ArriveGroup<6>,  &ArriveGroup<7>,
    &ArriveGroup<8>,  &ArriveGroup<9>,  &ArriveGroup<10>, &ArriveGroup<11>,
    &ArriveGroup<12>, &ArriveGroup<13>, &ArriveGroup<14>, &ArriveGroup<15>,
};

const RemainderRoutine kRemainderRoutines[4] = {
    &NoRemainder, &RemainderBlock<1>, &RemainderBlock<2>, &RemainderBlock<3>,
};

void DecayPair(SynapseLaneState* blocks, const KindFactors& f, PartialSums& sums) {
    __m256 acc0, acc1;
    LoadSums(sums, acc0, acc1);
    DecayPairRegs(blocks, MakeDecayVectors(f), acc0, acc1);
    StoreSums(sums, acc0, acc1);
}

void DecaySingle(SynapseLaneState& block, const KindFactors& f, PartialSums& sums) {
    __m256 acc0, acc1;
    LoadSums(sums, acc0, acc1);
    DecaySingleRegs(block, f, acc0);
    StoreSums(sums, acc0, acc1);
}

// ---- 5. Scalar twins ---------------------------------------------------------------------------------

namespace {

inline void DecaySlot(SynapseLaneState& b, int k, const KindFactors& f, PartialSums& sums, int sum) {
    b.available[k] = b.available[k] + (f.kD - f.kD * b.available[k]);
    b.utilization[k] = b.utilization[k] + (f.cF - f.bF * b.utilization[k]);
    b.gFast[k] = b.gFast[k] - f.kFast * b.gFast[k];
    b.gSlow[k] = b.gSlow[k] - f.kSlow * b.gSlow[k];
    sums.fast[sum] += b.gFast[k];
    sums.slow[sum] += b.gSlow[k];
}

// The spike of a full group's slot; returns the increment.
inline float SpikeSlot(SynapseLaneState& b, SynapseLaneWeights& w, int k, const KindFactors& f) {
    w.arrived[k] = 0;
    const float r = b.available[k], u = b.utilization[k];
    b.available[k] = r - 0.5f * r * u;
    b.utilization[k] = u + f.hU - f.hU * u;
    const float inc = b.available[k] * w.weight[k] * b.utilization[k];
    b.gFast[k] += inc;
    b.gSlow[k] += inc;
    return inc;
}

}  // namespace

void DecayPairScalar(SynapseLaneState* blocks, const KindFactors& f, PartialSums& sums) {
    for (int k = 0; k < 4; ++k) DecaySlot(blocks[0], k, f, sums, k);
    for (int k = 0; k < 4; ++k) DecaySlot(blocks[1], k, f, sums, 4 + k);
}

void DecaySingleScalar(SynapseLaneState& block, const KindFactors& f, PartialSums& sums) {
    for (int k = 0; k < 4; ++k) DecaySlot(block, k, f, sums, k);
}

void ArriveScalar(uint32_t mask, SynapseLaneState& block, SynapseLaneWeights& weights,
                  const KindFactors& f, float& arrivals) {
    for (int k = 0; k < 4; ++k) {
        if ((mask >> k) & 1u) arrivals += SpikeSlot(block, weights, k, f);
    }
}

void RemainderScalar(uint32_t size, SynapseLaneState& b, SynapseLaneWeights& w,
                     const KindFactors& f, PartialSums& sums) {
    for (uint32_t k = 0; k < size; ++k) {
        const bool hit = w.arrived[k] != 0;
        if (size == 1) {
            const float r = b.available[k], u = b.utilization[k];
            if (hit) {
                w.arrived[k] = 0;
                b.available[k] = r + (f.kD - f.kD * r - 0.5f * r * u);
                b.utilization[k] = u + ((f.hU - f.hU * u) + (f.cF - f.bF * u));
                const float inc = b.available[k] * w.weight[k] * b.utilization[k];
                b.gFast[k] += inc;
                b.gSlow[k] += inc;
            } else {
                b.available[k] = r + (f.kD - f.kD * r);
                b.utilization[k] = u + (f.cF - f.bF * u);
            }
            b.gFast[k] = b.gFast[k] - f.kFast * b.gFast[k];
            b.gSlow[k] = b.gSlow[k] - f.kSlow * b.gSlow[k];
            sums.fast[k] += b.gFast[k];
            sums.slow[k] += b.gSlow[k];
        } else {
            if (hit) SpikeSlot(b, w, static_cast<int>(k), f);
            DecaySlot(b, static_cast<int>(k), f, sums, static_cast<int>(k));
        }
    }
}

// ---- 6. Whole-neuron integration and the membrane step ------------------------------------------------

namespace {

inline KindTotals SumTotals(float arrivals, const PartialSums& sums) {
    KindTotals t{arrivals, arrivals};
    for (int j = 0; j < 8; ++j) {
        t.fast += sums.fast[j];
        t.slow += sums.slow[j];
    }
    return t;
}

inline void ArriveIfFlagged(SynapseLaneState& st, SynapseLaneWeights& wt, const KindFactors& f,
                            float& arrivals) {
    uint32_t bytes;
    std::memcpy(&bytes, wt.arrived, 4);
    if (bytes != 0) kArrivalRoutines[ArrivalMask(wt)](st, wt, f, arrivals);
}

}  // namespace

KindTotals IntegrateKind(SynapseLaneState* st, SynapseLaneWeights* wt, uint32_t blocks8,
                         uint32_t blocks4, uint32_t count, const KindFactors& f) {
    const DecayVectors d = MakeDecayVectors(f);
    __m256 acc0 = _mm256_setzero_ps(), acc1 = _mm256_setzero_ps();
    float arrivals = 0.0f;
    uint32_t g = 0;
    for (uint32_t p = 0; p < blocks8; ++p, g += 2) {
        DecayPairRegs(st + g, d, acc0, acc1);
        ArriveIfFlagged(st[g], wt[g], f, arrivals);
        ArriveIfFlagged(st[g + 1], wt[g + 1], f, arrivals);
    }
    if (blocks4 != 0) {
        DecaySingleRegs(st[g], f, acc0);
        ArriveIfFlagged(st[g], wt[g], f, arrivals);
        ++g;
    }
    alignas(32) PartialSums sums;
    StoreSums(sums, acc0, acc1);
    const uint32_t rest = count & 3u;
    if (rest != 0) kRemainderRoutines[rest](st[g], wt[g], f, sums);
    return SumTotals(arrivals, sums);
}

KindTotals IntegrateKindScalar(SynapseLaneState* st, SynapseLaneWeights* wt, uint32_t blocks8,
                               uint32_t blocks4, uint32_t count, const KindFactors& f) {
    PartialSums sums{};
    float arrivals = 0.0f;
    const uint32_t groups = 2 * blocks8 + blocks4;
    for (uint32_t p = 0; p < blocks8; ++p) DecayPairScalar(st + 2 * p, f, sums);
    if (blocks4 != 0) DecaySingleScalar(st[2 * blocks8], f, sums);
    for (uint32_t g = 0; g < groups; ++g) ArriveScalar(ArrivalMask(wt[g]), st[g], wt[g], f, arrivals);
    if ((count & 3u) != 0) RemainderScalar(count & 3u, st[groups], wt[groups], f, sums);
    return SumTotals(arrivals, sums);
}

namespace {
// One neuron's step in MembraneStep's order of operations; the vector path below
// repeats it lane by lane.
inline void MembraneValues(float v, float u, float a, float b, float gAmpa, float gNmda, float gGabaA,
                           float gGabaB, float& vNext, float& uNext) {
    using namespace membrane;
    const float x = (v + kNmdaOffset) * kNmdaScale;
    const float q = x * x;
    const float nmdaGate = q / (1.0f + q);
    const float numerator =
        v + kHalfStep * ((kQuadratic * v + kLinear) * v +
                         (kConstant - kGabaAReversal * gGabaA - kGabaBReversal * gGabaB - u));
    const float denominator = 1.0f + kHalfStep * (gAmpa + gGabaA + gGabaB + gNmda * nmdaGate);
    vNext = numerator / denominator;
    uNext = u + kHalfStep * a * (b * vNext - u);
}
}  // namespace

void MembraneStep(Neuron& n) {
    MembraneValues(n.v, n.u, n.a, n.b, n.gAmpa, n.gNmda, n.gGabaA, n.gGabaB, n.vNext, n.uNext);
}

void MembraneStepArrays(const MembraneArrays& m, uint32_t first, uint32_t end) {
    uint32_t i = first;
    for (; i + 8 <= end; i += 8) {
        __m256 vNext, uNext;
        MembraneStep8(_mm256_loadu_ps(m.v + i), _mm256_loadu_ps(m.u + i), _mm256_loadu_ps(m.a + i),
                      _mm256_loadu_ps(m.b + i), _mm256_loadu_ps(m.gAmpa + i), _mm256_loadu_ps(m.gNmda + i),
                      _mm256_loadu_ps(m.gGabaA + i), _mm256_loadu_ps(m.gGabaB + i), vNext, uNext);
        _mm256_storeu_ps(m.vNext + i, vNext);
        _mm256_storeu_ps(m.uNext + i, uNext);
    }
    for (; i < end; ++i)
        MembraneValues(m.v[i], m.u[i], m.a[i], m.b[i], m.gAmpa[i], m.gNmda[i], m.gGabaA[i], m.gGabaB[i], m.vNext[i],
                       m.uNext[i]);
}

namespace {

// Both kinds, then the membrane step; the vector and the scalar paths differ only
// in how a kind is integrated.
template <KindTotals (*IntegrateKindWith)(SynapseLaneState*, SynapseLaneWeights*, uint32_t, uint32_t,
                                          uint32_t, const KindFactors&)>
inline void IntegrateNeuronWith(Neuron& n, const KindFactors& exc, const KindFactors& inh) {
    const KindTotals e = IntegrateKindWith(n.excLaneState, n.excLaneWeights, n.excBlocks8,
                                           n.excBlocks4, n.excIncomingCount, exc);
    const KindTotals i = IntegrateKindWith(n.inhLaneState, n.inhLaneWeights, n.inhBlocks8,
                                           n.inhBlocks4, n.inhIncomingCount, inh);
    n.gAmpa = e.fast;
    n.gNmda = e.slow;
    n.gGabaA = i.fast;
    n.gGabaB = i.slow;
    MembraneStep(n);
}

}  // namespace

void IntegrateNeuron(Neuron& n, const KindFactors& exc, const KindFactors& inh) {
    IntegrateNeuronWith<IntegrateKind>(n, exc, inh);
}

void IntegrateNeuronScalar(Neuron& n, const KindFactors& exc, const KindFactors& inh) {
    IntegrateNeuronWith<IntegrateKindScalar>(n, exc, inh);
}
