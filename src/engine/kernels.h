// Integration kernels of the synapse lanes and the membrane step.
//
// Sections:
//   1. Kind factors (the per-step factors of one synapse kind)
//   2. Vector routines (AVX) and their dispatch tables
//   3. Scalar twins, written plainly from the per-slot formulas
//   4. Whole-neuron integration (vector and scalar) and the membrane step
//
// Per-slot formulas (kD, bF, cF, hU: the kind's StepInvD, StepInvF, StepUOverF,
// StepU; kFast, kSlow: the step decays of its two receptors):
//   decay:    R <- R + (kD - kD*R); u <- u + (cF - bF*u); g <- g - k*g
//   arrival:  R <- R - (0.5*R)*u; u <- (u + hU) - hU*u; inc <- (R*w)*u;
//             gFast += inc; gSlow += inc; arrivals += inc
// Every operation is a single-precision IEEE operation in the written order; the
// engine is built with -ffp-contract=off so that no multiply-add is fused, and the
// vector routines therefore give the same bits as their scalar twins.
//
// Summation order of a kind's totals (both kernels use it):
//   total = ((((arrivals + p[0]) + p[1]) + ...) + p[7])
// where p[j] is partial sum j, accumulated in block order.
#pragma once

#include <cstdint>
#ifdef __AVX__
#include <immintrin.h>
#endif

#include "engine/network.h"

struct SimParams;

// ---- 1. Kind factors ------------------------------------------------------------------------
struct KindFactors {
    float kD;     // StepInvD: recovery of R towards 1
    float bF;     // StepInvF: relaxation rate of u
    float cF;     // StepUOverF: relaxation target term of u
    float hU;     // StepU: facilitation jump at a spike
    float kFast;  // step decay of the fast receptor (AMPA or GABAa)
    float kSlow;  // step decay of the slow receptor (NMDA or GABAb)
};

KindFactors ExcitatoryFactors(const SimParams& params);
KindFactors InhibitoryFactors(const SimParams& params);

// Eight fast and eight slow partial sums of one kind.
struct alignas(32) PartialSums {
    float fast[8];
    float slow[8];
};

// ---- 2. Vector routines ---------------------------------------------------------------------
// Decay of two consecutive full blocks (8 slots, 256-bit): slot j of blocks[0] adds to
// partial sum j, slot j of blocks[1] to partial sum 4 + j.
void DecayPair(SynapseLaneState* blocks, const KindFactors& f, PartialSums& sums);
// Decay of one full block (4 slots, 128-bit) into partial sums 0..3.
void DecaySingle(SynapseLaneState& block, const KindFactors& f, PartialSums& sums);

// Arrival routine of one full group for one 4-bit arrival mask (bit k = slot k).
using ArrivalRoutine = void (*)(SynapseLaneState&, SynapseLaneWeights&, const KindFactors&,
                                float& arrivals);
// Sixteen routines indexed by the mask; entry 0 does nothing. The kind's factors are
// passed in, so the one table serves both kinds.
extern const ArrivalRoutine kArrivalRoutines[16];

// Remainder routine of the partial block after the full groups (1, 2 or 3 slots).
using RemainderRoutine = void (*)(SynapseLaneState&, SynapseLaneWeights&, const KindFactors&,
                                  PartialSums& sums);
// Indexed by the remainder size; entry 0 does nothing.
extern const RemainderRoutine kRemainderRoutines[4];

// The arrival mask of a group: arrived[0] + 2*arrived[1] + 4*arrived[2] + 8*arrived[3].
inline uint32_t ArrivalMask(const SynapseLaneWeights& w) {
    return static_cast<uint32_t>(w.arrived[0]) + 2u * w.arrived[1] + 4u * w.arrived[2] +
           8u * w.arrived[3];
}

// ---- 3. Scalar twins -------------------------------------------------------------------------
void DecayPairScalar(SynapseLaneState* blocks, const KindFactors& f, PartialSums& sums);
void DecaySingleScalar(SynapseLaneState& block, const KindFactors& f, PartialSums& sums);
void ArriveScalar(uint32_t mask, SynapseLaneState& block, SynapseLaneWeights& weights,
                  const KindFactors& f, float& arrivals);
void RemainderScalar(uint32_t size, SynapseLaneState& block, SynapseLaneWeights& weights,
                     const KindFactors& f, PartialSums& sums);

// ---- 4. Whole-neuron integration ---------------------------------------------------------------
struct KindTotals {
    float fast;
    float slow;
};

// One kind of a neuron's synapses (count synapses in `state`/`weights`), vector kernel.
// The decay of a pair or single block is followed at once by the arrivals of its
// groups: an arrival touches only its own group and the arrivals sum, and the decay
// only its group and the partial sums, so this equals "all decays, then all arrivals"
// bit for bit while each block is still in the first-level cache.
KindTotals IntegrateKind(SynapseLaneState* state, SynapseLaneWeights* weights, uint32_t blocks8,
                         uint32_t blocks4, uint32_t count, const KindFactors& f);
// The same, scalar and in the plain order: all decays, all arrivals, remainder.
KindTotals IntegrateKindScalar(SynapseLaneState* state, SynapseLaneWeights* weights,
                               uint32_t blocks8, uint32_t blocks4, uint32_t count,
                               const KindFactors& f);

// Semi-implicit membrane step of 0.5 ms from v, u, a, b and the four conductances;
// writes vNext and uNext (v and u stay).
void MembraneStep(Neuron& neuron);

// The same step for neurons [first, end) whose values lie in arrays, eight at a
// time (AVX): the same operations in the same order, so the same bits.
struct MembraneArrays {
    const float *v, *u, *a, *b, *gAmpa, *gNmda, *gGabaA, *gGabaB;
    float *vNext, *uNext;
};
void MembraneStepArrays(const MembraneArrays& arrays, uint32_t first, uint32_t end);

// The membrane: dv/dt = 0.04 v² + 5 v + 140 - u - I, the currents as
// conductances (AMPA and NMDA reverse at 0 mV, GABAa at -70 mV, GABAb at -90 mV),
// the NMDA magnesium gate ((v + 80) / 60)² / (1 + ((v + 80) / 60)²); one
// semi-implicit half-millisecond step.
namespace membrane {
constexpr float kQuadratic = 0.04f, kLinear = 5.0f, kConstant = 140.0f;
constexpr float kGabaAReversal = 70.0f, kGabaBReversal = 90.0f;  // mV, sign folded in
constexpr float kNmdaOffset = 80.0f, kNmdaScale = 0.01666666f;   // mV, 1/mV (1/60)
constexpr float kHalfStep = 0.5f;                                // ms
}  // namespace membrane

#ifdef __AVX__
// The membrane step of eight neurons in the lanes, MembraneStep's operations lane by lane.
inline void MembraneStep8(__m256 v, __m256 u, __m256 a, __m256 b, __m256 gAmpa, __m256 gNmda, __m256 gGabaA,
                          __m256 gGabaB, __m256& vNext, __m256& uNext) {
    using namespace membrane;
    const __m256 one = _mm256_set1_ps(1.0f), half = _mm256_set1_ps(kHalfStep);
    const __m256 x = _mm256_mul_ps(_mm256_add_ps(v, _mm256_set1_ps(kNmdaOffset)), _mm256_set1_ps(kNmdaScale));
    const __m256 q = _mm256_mul_ps(x, x);
    const __m256 gate = _mm256_div_ps(q, _mm256_add_ps(one, q));
    const __m256 square =
        _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(kQuadratic), v), _mm256_set1_ps(kLinear)), v);
    const __m256 rest = _mm256_sub_ps(
        _mm256_sub_ps(_mm256_sub_ps(_mm256_set1_ps(kConstant), _mm256_mul_ps(_mm256_set1_ps(kGabaAReversal), gGabaA)),
                      _mm256_mul_ps(_mm256_set1_ps(kGabaBReversal), gGabaB)),
        u);
    const __m256 numerator = _mm256_add_ps(v, _mm256_mul_ps(half, _mm256_add_ps(square, rest)));
    const __m256 conductance =
        _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(gAmpa, gGabaA), gGabaB), _mm256_mul_ps(gNmda, gate));
    const __m256 denominator = _mm256_add_ps(one, _mm256_mul_ps(half, conductance));
    vNext = _mm256_div_ps(numerator, denominator);
    uNext = _mm256_add_ps(u, _mm256_mul_ps(_mm256_mul_ps(half, a), _mm256_sub_ps(_mm256_mul_ps(b, vNext), u)));
}
#endif

// Integration of one neuron with the vector kernel / with the scalar twins.
void IntegrateNeuron(Neuron& neuron, const KindFactors& exc, const KindFactors& inh);
void IntegrateNeuronScalar(Neuron& neuron, const KindFactors& exc, const KindFactors& inh);
