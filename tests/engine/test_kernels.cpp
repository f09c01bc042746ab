// Tests of the integration kernels.
//
// Sections:
//   1. Vector routines against their scalar twins (bit for bit, random states)
//   2. Hand-computed per-slot examples (decay, spike at u = 0, group without flags)
//   3. Remainder orders (1 slot versus 2 and 3 slots)
//   4. Summation order of the totals
//   5. Membrane step on hand values
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "engine/kernels.h"

namespace {

struct Rng {
    std::mt19937 gen{12345};
    float Uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(gen); }
    uint32_t Below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(gen); }
};

void RandomBlock(Rng& rng, SynapseLaneState& st, SynapseLaneWeights& wt, uint32_t arrivedMask) {
    for (int k = 0; k < 4; ++k) {
        st.available[k] = rng.Uniform(0.0f, 1.0f);
        st.utilization[k] = rng.Uniform(0.0f, 1.0f);
        st.gFast[k] = rng.Uniform(0.0f, 3.0f);
        st.gSlow[k] = rng.Uniform(0.0f, 3.0f);
        wt.arrived[k] = (arrivedMask >> k) & 1u;
        wt.weight[k] = rng.Uniform(0.0f, 2.0f);
        wt.weightDelta[k] = 0.0f;
    }
}

KindFactors RandomFactors(Rng& rng) {
    return {rng.Uniform(0.0f, 0.01f), rng.Uniform(0.0f, 0.01f), rng.Uniform(0.0f, 0.005f),
            rng.Uniform(0.0f, 0.5f),  rng.Uniform(0.0f, 0.2f),  rng.Uniform(0.0f, 0.05f)};
}

template <typename T>
bool SameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Exactly representable factors for the hand examples.
const KindFactors kHand{0.25f, 0.5f, 0.125f, 0.25f, 0.5f, 0.25f};

}  // namespace

// ---- 1. Vector == scalar -------------------------------------------------------------------------

TEST(Kernels, DecayVectorMatchesScalarBitForBit) {
    Rng rng;
    for (int trial = 0; trial < 500; ++trial) {
        const KindFactors f = RandomFactors(rng);
        alignas(64) SynapseLaneState a[2], b[2];
        SynapseLaneWeights unused[2];
        RandomBlock(rng, a[0], unused[0], 0);
        RandomBlock(rng, a[1], unused[1], 0);
        std::memcpy(b, a, sizeof(a));
        alignas(32) PartialSums sa{}, sb{};
        for (int j = 0; j < 8; ++j) sa.fast[j] = sb.fast[j] = rng.Uniform(0.0f, 5.0f);
        for (int j = 0; j < 8; ++j) sa.slow[j] = sb.slow[j] = rng.Uniform(0.0f, 5.0f);
        DecayPair(a, f, sa);
        DecayPairScalar(b, f, sb);
        ASSERT_TRUE(SameBits(a, b)) << "pair, trial " << trial;
        ASSERT_TRUE(SameBits(sa, sb)) << "pair sums, trial " << trial;
        DecaySingle(a[1], f, sa);
        DecaySingleScalar(b[1], f, sb);
        ASSERT_TRUE(SameBits(a, b)) << "single, trial " << trial;
        ASSERT_TRUE(SameBits(sa, sb)) << "single sums, trial " << trial;
    }
}

TEST(Kernels, ArrivalRoutinesMatchScalarForEveryMask) {
    Rng rng;
    for (uint32_t mask = 0; mask < 16; ++mask) {
        for (int trial = 0; trial < 100; ++trial) {
            const KindFactors f = RandomFactors(rng);
            SynapseLaneState sa, sb;
            SynapseLaneWeights wa, wb;
            RandomBlock(rng, sa, wa, mask);
            sb = sa;
            wb = wa;
            ASSERT_EQ(ArrivalMask(wa), mask);
            float arrA = rng.Uniform(0.0f, 1.0f), arrB = arrA;
            kArrivalRoutines[mask](sa, wa, f, arrA);
            ArriveScalar(mask, sb, wb, f, arrB);
            ASSERT_TRUE(SameBits(sa, sb)) << "mask " << mask;
            ASSERT_TRUE(SameBits(wa, wb)) << "mask " << mask;
            ASSERT_TRUE(SameBits(arrA, arrB)) << "mask " << mask;
            EXPECT_EQ(ArrivalMask(wa), 0u);
        }
    }
}

TEST(Kernels, RemainderRoutinesMatchScalarForEverySizeAndFlags) {
    Rng rng;
    for (uint32_t size = 1; size <= 3; ++size) {
        for (uint32_t flags = 0; flags < (1u << size); ++flags) {
            for (int trial = 0; trial < 100; ++trial) {
                const KindFactors f = RandomFactors(rng);
                SynapseLaneState sa, sb;
                SynapseLaneWeights wa, wb;
                RandomBlock(rng, sa, wa, flags);
                for (uint32_t k = size; k < 4; ++k) {  // slots without a synapse
                    sa.available[k] = sa.utilization[k] = sa.gFast[k] = sa.gSlow[k] = 0.0f;
                    wa.weight[k] = 0.0f;
                }
                sb = sa;
                wb = wa;
                alignas(32) PartialSums pa{}, pb{};
                for (int j = 0; j < 8; ++j) pa.fast[j] = pb.fast[j] = rng.Uniform(0.0f, 5.0f);
                kRemainderRoutines[size](sa, wa, f, pa);
                RemainderScalar(size, sb, wb, f, pb);
                ASSERT_TRUE(SameBits(sa, sb)) << "size " << size << " flags " << flags;
                ASSERT_TRUE(SameBits(wa, wb)) << "size " << size << " flags " << flags;
                ASSERT_TRUE(SameBits(pa, pb)) << "size " << size << " flags " << flags;
                for (uint32_t k = size; k < 4; ++k) EXPECT_EQ(sa.available[k], 0.0f);
            }
        }
    }
}

TEST(Kernels, WholeKindMatchesPlainOrderForAllCountsAndRemainders) {
    Rng rng;
    for (uint32_t count = 0; count <= 45; ++count) {
        const uint32_t groups = count / 4 + (count % 4 != 0 ? 1 : 0);
        for (int trial = 0; trial < 20; ++trial) {
            const KindFactors f = RandomFactors(rng);
            std::vector<SynapseLaneState> sa(groups + 1);
            std::vector<SynapseLaneWeights> wa(groups + 1);
            for (uint32_t g = 0; g < groups; ++g) {
                // Sparse arrivals as in a running network, plus some busy groups.
                uint32_t mask = rng.Below(4) == 0 ? rng.Below(16) : 0;
                RandomBlock(rng, sa[g], wa[g], mask);
            }
            if (count % 4 != 0) {
                for (uint32_t k = count % 4; k < 4; ++k) {
                    SynapseLaneState& s = sa[groups - 1];
                    s.available[k] = s.utilization[k] = s.gFast[k] = s.gSlow[k] = 0.0f;
                    wa[groups - 1].arrived[k] = 0;
                }
            }
            std::vector<SynapseLaneState> sb = sa;
            std::vector<SynapseLaneWeights> wb = wa;
            const KindTotals ta = IntegrateKind(sa.data(), wa.data(), count / 8, (count % 8) / 4, count, f);
            const KindTotals tb =
                IntegrateKindScalar(sb.data(), wb.data(), count / 8, (count % 8) / 4, count, f);
            ASSERT_TRUE(SameBits(ta.fast, tb.fast)) << "count " << count;
            ASSERT_TRUE(SameBits(ta.slow, tb.slow)) << "count " << count;
            ASSERT_EQ(0, std::memcmp(sa.data(), sb.data(), sa.size() * sizeof(SynapseLaneState)));
            ASSERT_EQ(0, std::memcmp(wa.data(), wb.data(), wa.size() * sizeof(SynapseLaneWeights)));
        }
    }
}

// ---- 2. Hand-computed per-slot examples ------------------------------------------------------------

TEST(Kernels, DecayOfOneSlotByHandAndPartialSumSlots) {
    alignas(64) SynapseLaneState b[2] = {};
    for (int k = 0; k < 4; ++k) {
        b[0].available[k] = b[1].available[k] = 0.5f;
        b[0].utilization[k] = b[1].utilization[k] = 0.5f;
        b[0].gFast[k] = 2.0f * (k + 1);       // 2, 4, 6, 8
        b[1].gFast[k] = 32.0f * (k + 1);      // 32, 64, 96, 128
        b[0].gSlow[k] = b[1].gSlow[k] = 4.0f;
    }
    alignas(32) PartialSums sums{};
    DecayPair(b, kHand, sums);
    // R: 0.5 + (0.25 - 0.125) = 0.625; u: 0.5 + (0.125 - 0.25) = 0.375;
    // gFast halves (kFast 0.5); gSlow: 4 - 1 = 3 (kSlow 0.25).
    EXPECT_EQ(b[0].available[2], 0.625f);
    EXPECT_EQ(b[1].utilization[3], 0.375f);
    EXPECT_EQ(b[0].gFast[1], 2.0f);
    EXPECT_EQ(b[1].gSlow[0], 3.0f);
    // Slot j of the first block into sum j, of the second into sum 4 + j.
    const float expectFast[8] = {1, 2, 3, 4, 16, 32, 48, 64};
    for (int j = 0; j < 8; ++j) EXPECT_EQ(sums.fast[j], expectFast[j]) << j;
    for (int j = 0; j < 8; ++j) EXPECT_EQ(sums.slow[j], 3.0f) << j;
    // A single block adds into sums 0..3 only.
    DecaySingle(b[0], kHand, sums);
    EXPECT_EQ(sums.fast[0], 1.5f);
    EXPECT_EQ(sums.fast[3], 6.0f);
    EXPECT_EQ(sums.fast[4], 16.0f);
}

TEST(Kernels, SpikeAtZeroUtilizationAndGroupWithoutFlags) {
    // Spike at u = 0: R is unchanged (0.5), u becomes hU (0.25), both conductances and
    // the arrivals sum gain R*w*hU = 0.5 * 2 * 0.25 = 0.25.
    SynapseLaneState st{};
    SynapseLaneWeights wt{};
    st.available[1] = 0.5f;
    st.utilization[1] = 0.0f;
    st.gFast[1] = 1.0f;
    st.gSlow[1] = 3.0f;
    wt.weight[1] = 2.0f;
    wt.arrived[1] = 1;
    float arrivals = 0.0f;
    kArrivalRoutines[ArrivalMask(wt)](st, wt, kHand, arrivals);
    EXPECT_EQ(st.available[1], 0.5f);
    EXPECT_EQ(st.utilization[1], 0.25f);
    EXPECT_EQ(st.gFast[1], 1.25f);
    EXPECT_EQ(st.gSlow[1], 3.25f);
    EXPECT_EQ(arrivals, 0.25f);
    EXPECT_EQ(wt.arrived[1], 0);

    // A spike with u = 0.5, R = 0.5, w = 4: R = 0.5 - 0.125 = 0.375, u = 0.75 - 0.125 =
    // 0.625, inc = 0.375 * 4 * 0.625 = 0.9375; the other slots stay as they were.
    SynapseLaneState s2{};
    SynapseLaneWeights w2{};
    for (int k = 0; k < 4; ++k) {
        s2.available[k] = 0.5f;
        s2.utilization[k] = 0.5f;
        w2.weight[k] = 4.0f;
    }
    w2.arrived[2] = 1;
    arrivals = 1.0f;
    kArrivalRoutines[4](s2, w2, kHand, arrivals);
    EXPECT_EQ(s2.available[2], 0.375f);
    EXPECT_EQ(s2.utilization[2], 0.625f);
    EXPECT_EQ(s2.gFast[2], 0.9375f);
    EXPECT_EQ(arrivals, 1.9375f);
    EXPECT_EQ(s2.available[1], 0.5f);
    EXPECT_EQ(s2.utilization[3], 0.5f);

    // A group without flags changes only by decay and recovery: 8 synapses, totals are
    // the decayed conductances (4 slots of 2 -> 1 each, 4 slots of 0).
    alignas(64) SynapseLaneState g[2] = {};
    SynapseLaneWeights gw[2] = {};
    for (int k = 0; k < 4; ++k) {
        g[0].available[k] = g[1].available[k] = 0.5f;
        g[0].utilization[k] = g[1].utilization[k] = 0.5f;
        g[0].gFast[k] = 2.0f;
        g[0].gSlow[k] = 4.0f;
        gw[0].weight[k] = gw[1].weight[k] = 1.0f;
    }
    const KindTotals t = IntegrateKind(g, gw, 1, 0, 8, kHand);
    EXPECT_EQ(t.fast, 4.0f);
    EXPECT_EQ(t.slow, 12.0f);
    EXPECT_EQ(g[1].available[0], 0.625f);
    EXPECT_EQ(g[0].utilization[3], 0.375f);
}

// ---- 3. Remainder orders ------------------------------------------------------------------------------

TEST(Kernels, RemainderOrderDiffersBetweenOneSlotAndTwoOrThreeSlots) {
    // Slot state: R = 0.5, u = 0.5, gFast = 1, gSlow = 2, w = 4, flagged.
    auto setUp = [](SynapseLaneState& st, SynapseLaneWeights& wt, uint32_t size) {
        st = SynapseLaneState{};
        wt = SynapseLaneWeights{};
        for (uint32_t k = 0; k < size; ++k) {
            st.available[k] = 0.5f;
            st.utilization[k] = 0.5f;
            st.gFast[k] = 1.0f;
            st.gSlow[k] = 2.0f;
            wt.weight[k] = 4.0f;
        }
        wt.arrived[0] = 1;
    };
    // Two or three slots: spike (R 0.375, u 0.625, inc 0.9375), then recovery from the
    // post-spike values (R 0.375 + 0.15625 = 0.53125, u 0.625 - 0.1875 = 0.4375), then
    // decay of the incremented conductances (1.9375 -> 0.96875, 2.9375 -> 2.203125).
    for (uint32_t size : {2u, 3u}) {
        SynapseLaneState st;
        SynapseLaneWeights wt;
        setUp(st, wt, size);
        alignas(32) PartialSums sums{};
        kRemainderRoutines[size](st, wt, kHand, sums);
        EXPECT_EQ(st.available[0], 0.53125f) << size;
        EXPECT_EQ(st.utilization[0], 0.4375f) << size;
        EXPECT_EQ(st.gFast[0], 0.96875f) << size;
        EXPECT_EQ(st.gSlow[0], 2.203125f) << size;
        EXPECT_EQ(sums.fast[0], 0.96875f) << size;
        EXPECT_EQ(sums.slow[0], 2.203125f) << size;
        // Unflagged slot 1 only decays: R 0.625, u 0.375, gFast 0.5, gSlow 1.5.
        EXPECT_EQ(st.available[1], 0.625f) << size;
        EXPECT_EQ(st.utilization[1], 0.375f) << size;
        EXPECT_EQ(sums.fast[1], 0.5f) << size;
        EXPECT_EQ(sums.slow[1], 1.5f) << size;
        EXPECT_EQ(wt.arrived[0], 0) << size;
        // Slot 3 holds no synapse and stays zero; no sum beyond the remainder changes.
        EXPECT_EQ(st.available[3], 0.0f) << size;
        EXPECT_EQ(sums.fast[3], 0.0f) << size;
    }
    // One slot: R = 0.5 + ((0.25 - 0.125) - 0.125) = 0.5 and u = 0.5 + ((0.25 - 0.125) +
    // (0.125 - 0.25)) = 0.5, both from the old values; inc = 0.5 * 4 * 0.5 = 1; then the
    // decay: gFast 2 -> 1, gSlow 3 -> 2.25.
    SynapseLaneState st;
    SynapseLaneWeights wt;
    setUp(st, wt, 1);
    alignas(32) PartialSums sums{};
    kRemainderRoutines[1](st, wt, kHand, sums);
    EXPECT_EQ(st.available[0], 0.5f);
    EXPECT_EQ(st.utilization[0], 0.5f);
    EXPECT_EQ(st.gFast[0], 1.0f);
    EXPECT_EQ(st.gSlow[0], 2.25f);
    EXPECT_EQ(sums.fast[0], 1.0f);
    EXPECT_EQ(sums.slow[0], 2.25f);
    EXPECT_EQ(st.available[1], 0.0f);
    EXPECT_EQ(wt.arrived[0], 0);

    // Unflagged single slot: plain decay (R 0.625, u 0.375).
    setUp(st, wt, 1);
    wt.arrived[0] = 0;
    kRemainderRoutines[1](st, wt, kHand, sums);
    EXPECT_EQ(st.available[0], 0.625f);
    EXPECT_EQ(st.utilization[0], 0.375f);
    EXPECT_EQ(st.gFast[0], 0.5f);

    // Remainder increments reach the partial sums, not the arrivals sum: a kind of one
    // flagged synapse totals its decayed conductance, 1 (fast) and 2.25 (slow).
    setUp(st, wt, 1);
    const KindTotals t = IntegrateKind(&st, &wt, 0, 0, 1, kHand);
    EXPECT_EQ(t.fast, 1.0f);
    EXPECT_EQ(t.slow, 2.25f);
}

// ---- 4. Summation order ---------------------------------------------------------------------------------

TEST(Kernels, TotalsAddPartialSumsToTheArrivalsSumInOrder) {
    // kFast = 0 keeps the conductances: partial sums 1..7 are 2^-24 each, and one
    // arrival adds exactly 1 (R 1, u 0 -> hU 0.5, w 2). Starting from the arrivals sum,
    // 1 + 2^-24 rounds back to 1 each time (ties to even): the total is exactly 1. Any
    // order that added the small sums first would give more than 1.
    const KindFactors f{0.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.0f};
    const float tiny = 1.0f / 16777216.0f;
    alignas(64) SynapseLaneState st[2] = {};
    SynapseLaneWeights wt[2] = {};
    for (int k = 0; k < 4; ++k) {
        st[0].gFast[k] = st[1].gFast[k] = tiny;
        st[0].gSlow[k] = st[1].gSlow[k] = tiny;
    }
    st[0].gFast[0] = st[0].gSlow[0] = 0.0f;
    st[0].available[0] = 1.0f;
    wt[0].weight[0] = 2.0f;
    wt[0].arrived[0] = 1;
    const KindTotals t = IntegrateKind(st, wt, 1, 0, 8, f);
    EXPECT_EQ(t.fast, 1.0f);
    EXPECT_EQ(t.slow, 1.0f);
    EXPECT_EQ(st[0].gFast[0], 1.0f);  // the increment is not decayed in its step
}

TEST(Kernels, MembraneStepOfArraysMatchesTheRecordStepBitForBit) {
    // 8-wide blocks, then a scalar tail: ranges that start and end off the 8 grid
    // exercise both, and every value must equal MembraneStep's on a record.
    Rng rng;
    constexpr uint32_t kCount = 43;
    std::vector<float> v(kCount), u(kCount), a(kCount), b(kCount), gA(kCount), gN(kCount), gGA(kCount),
        gGB(kCount), vNext(kCount), uNext(kCount);
    for (uint32_t i = 0; i < kCount; ++i) {
        v[i] = rng.Uniform(-90.0f, 40.0f);
        u[i] = rng.Uniform(-20.0f, 10.0f);
        a[i] = rng.Uniform(0.01f, 0.1f);
        b[i] = rng.Uniform(0.2f, 0.26f);
        gA[i] = rng.Uniform(0.0f, 3.0f);
        gN[i] = rng.Uniform(0.0f, 3.0f);
        gGA[i] = rng.Uniform(0.0f, 3.0f);
        gGB[i] = rng.Uniform(0.0f, 1.0f);
    }
    const MembraneArrays m{v.data(), u.data(), a.data(), b.data(), gA.data(), gN.data(), gGA.data(), gGB.data(),
                           vNext.data(), uNext.data()};
    for (const auto& [first, end] : {std::pair{0u, kCount}, std::pair{3u, 30u}, std::pair{5u, 9u}}) {
        std::fill(vNext.begin(), vNext.end(), 0.0f);
        MembraneStepArrays(m, first, end);
        for (uint32_t i = 0; i < kCount; ++i) {
            Neuron n{};
            n.v = v[i], n.u = u[i], n.a = a[i], n.b = b[i];
            n.gAmpa = gA[i], n.gNmda = gN[i], n.gGabaA = gGA[i], n.gGabaB = gGB[i];
            MembraneStep(n);
            const bool inside = i >= first && i < end;
            EXPECT_TRUE(inside ? SameBits(vNext[i], n.vNext) && SameBits(uNext[i], n.uNext) : vNext[i] == 0.0f)
                << "neuron " << i << " of [" << first << ", " << end << ")";
        }
    }
}

// ---- 5. Membrane step -----------------------------------------------------------------------------------

TEST(Kernels, MembraneStepOnHandValues) {
    // Without conductances at v = -80 the NMDA gate is 0: numerator -80 + 0.5 * ((-3.2 + 5)
    // * -80 + 140 - 0) = -82, denominator 1, so vNext = -82 and uNext = 0 + 0.01 * (0.2 *
    // -82 - 0) = -0.164.
    Neuron n{};
    n.a = 0.02f;
    n.b = 0.2f;
    n.v = -80.0f;
    n.u = 0.0f;
    MembraneStep(n);
    EXPECT_NEAR(n.vNext, -82.0f, 1e-4);
    EXPECT_NEAR(n.uNext, -0.164f, 1e-5);
    EXPECT_EQ(n.v, -80.0f);  // v and u are left for the fire phase
    EXPECT_EQ(n.u, 0.0f);

    // v = -20, u = -10, gAmpa 1, gNmda 2, gGabaA 0.5, gGabaB 0.25: the gate is
    // q / (1 + q) with q = (60 * 0.01666666)^2, about 0.4999998; numerator -20 +
    // 0.5 * (4.2 * -20 + 140 - 35 - 22.5 + 10) = -15.75; denominator 1 + 0.5 * (1.75 +
    // 0.9999996) = 2.3749998; vNext = -6.6315795; uNext = -10 + 0.01 * (0.2 * vNext + 10).
    n.v = -20.0f;
    n.u = -10.0f;
    n.gAmpa = 1.0f;
    n.gNmda = 2.0f;
    n.gGabaA = 0.5f;
    n.gGabaB = 0.25f;
    MembraneStep(n);
    EXPECT_NEAR(n.vNext, -6.6315795f, 2e-5);
    EXPECT_NEAR(n.uNext, -9.9132632f, 2e-5);
}

TEST(Kernels, NeuronWithoutSynapsesIntegratesPureIzhikevich) {
    Neuron n{};
    n.a = 0.02f;
    n.b = 0.2f;
    n.v = -80.0f;
    n.u = 0.0f;
    n.gAmpa = n.gNmda = n.gGabaA = n.gGabaB = 7.0f;  // stale values are overwritten
    const KindFactors f = kHand;
    IntegrateNeuron(n, f, f);
    EXPECT_EQ(n.gAmpa, 0.0f);
    EXPECT_EQ(n.gNmda, 0.0f);
    EXPECT_EQ(n.gGabaA, 0.0f);
    EXPECT_EQ(n.gGabaB, 0.0f);
    EXPECT_NEAR(n.vNext, -82.0f, 1e-4);
}
