// Network construction: memory layout invariants on built networks, delay lines,
// STDP tables, lane initialisation, the warm-up, reproducibility, bounded builds
// and release.
//
// Sections:
//   1. Helper: checking every layout invariant
//   2. Formulas: delay lines, STDP tables, lanes
//   3. Built networks: invariants, warm-up, log lines, reproducibility, release
//   4. Bounded builds
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "engine/geometry.h"
#include "engine/random.h"
#include "io/app_state.h"
#include "built_network.h"

namespace {

// ---- 1. Helpers ------------------------------------------------------------------------------

// Checks every invariant of the layout; `sphere` adds the scan's tighter room rule.
void CheckInvariants(TestNetwork& net, bool sphere) {
    AppState& st = net.s();
    const uint32_t count = st.neuronCount;
    ASSERT_NE(st.neurons, nullptr);
    // Offsets of each neuron's incoming records in one flat numbering.
    std::vector<uint64_t> base(count + 1, 0);
    for (uint32_t i = 0; i < count; ++i) base[i + 1] = base[i] + net[i].incomingCount;
    const uint64_t total = base[count];
    EXPECT_EQ(st.params.synapseCount, total);

    std::vector<int> inOutgoing(total, 0), inClassList(total, 0);
    uint64_t outgoingTotal = 0;
    int failures = 0;
    auto fail = [&](const char* what, uint32_t i) {
        if (++failures <= 10) ADD_FAILURE() << what << " at neuron " << i;
    };
    auto slotOf = [&](const Synapse* s, uint32_t& post, uint64_t& flat) {
        post = net.Index(s->post);
        if (post >= count) return false;
        const Neuron& q = net[post];
        if (s < q.incoming || s >= q.incoming + q.incomingCount) return false;
        flat = base[post] + static_cast<uint64_t>(s - q.incoming);
        return true;
    };

    for (uint32_t i = 0; i < count; ++i) {
        Neuron& n = net[i];
        if (n.incomingCount != n.excIncomingCount + n.inhIncomingCount) fail("class counts", i);
        if (n.incomingCount > n.incomingCapacity || n.incomingCapacity > 255) fail("incoming capacity", i);
        if (sphere && n.incomingCapacity > 0 && n.incomingCount > n.incomingCapacity - 1) fail("sphere room", i);
        if (n.outgoingCount > n.outgoingCapacity || n.outgoingCapacity > 255) fail("outgoing capacity", i);
        if (n.delayLength < 1 || n.delayIndex >= n.delayLength) fail("delay line", i);
        // Blocks: count = 8·blocks8 + 4·blocks4 + (0..3), blocks4 at most 1.
        for (int kind = 0; kind < 2; ++kind) {
            const uint32_t c = kind ? n.inhIncomingCount : n.excIncomingCount;
            const uint32_t b8 = kind ? n.inhBlocks8 : n.excBlocks8;
            const uint32_t b4 = kind ? n.inhBlocks4 : n.excBlocks4;
            const uint32_t g = kind ? n.inhGroups : n.excGroups;
            if (b4 > 1 || 8 * b8 + 4 * b4 > c || c - (8 * b8 + 4 * b4) > 3) fail("blocks", i);
            if (g != 2 * b8 + b4 || g > 255) fail("groups", i);
            const SynapseLaneState* ls = kind ? n.inhLaneState : n.excLaneState;
            const SynapseLaneWeights* lw = kind ? n.inhLaneWeights : n.excLaneWeights;
            const uint32_t alloc = (c + 3) / 4;
            if (c == 0) continue;
            if (reinterpret_cast<uintptr_t>(ls) % 16 != 0) fail("lane alignment", i);
            if (reinterpret_cast<const uint8_t*>(lw) != reinterpret_cast<const uint8_t*>(ls) + alloc * 64)
                fail("weights directly after states", i);
            for (uint32_t slot = c; slot < alloc * 4; ++slot) {  // remainder slots stay zero
                if (lw[slot / 4].weight[slot % 4] != 0.0f || ls[slot / 4].available[slot % 4] != 0.0f)
                    fail("unused slot written", i);
            }
        }
        // Incoming: owned, sorted by pre (index order), lanes rising within one pre.
        for (uint32_t k = 0; k < n.incomingCount; ++k) {
            const Synapse& s = n.incoming[k];
            if (s.post != &n || net.Index(s.pre) >= count) fail("incoming ends", i);
            if (k > 0) {
                const Synapse& prev = n.incoming[k - 1];
                if (prev.pre > s.pre || (prev.pre == s.pre && prev.lane >= s.lane)) fail("incoming order", i);
            }
        }
        // Class lists: lane = position, flag = the lane's byte, kind = pre's kind.
        for (int kind = 0; kind < 2; ++kind) {
            const uint32_t c = kind ? n.inhIncomingCount : n.excIncomingCount;
            Synapse** list = kind ? n.inhIncoming : n.excIncoming;
            SynapseLaneWeights* lw = kind ? n.inhLaneWeights : n.excLaneWeights;
            for (uint32_t lane = 0; lane < c; ++lane) {
                Synapse* s = list[lane];
                uint32_t post;
                uint64_t flat;
                if (!slotOf(s, post, flat) || post != i) {
                    fail("class list entry", i);
                    continue;
                }
                ++inClassList[flat];
                if (s->lane != lane) fail("lane", i);
                if (s->arrivedFlag != &lw[lane / 4].arrived[lane % 4]) fail("arrived flag", i);
                if ((s->pre->isExcitatory != 0) != (kind == 0)) fail("class of pre", i);
            }
        }
        // Outgoing: made by this neuron, ordered by post then lane.
        outgoingTotal += n.outgoingCount;
        for (uint32_t k = 0; k < n.outgoingCount; ++k) {
            Synapse* s = n.outgoing[k];
            uint32_t post;
            uint64_t flat;
            if (!slotOf(s, post, flat) || s->pre != &n) {
                fail("outgoing entry", i);
                continue;
            }
            ++inOutgoing[flat];
            if (k > 0) {
                const Synapse* prev = n.outgoing[k - 1];
                if (prev->post > s->post || (prev->post == s->post && prev->lane >= s->lane))
                    fail("outgoing order", i);
            }
        }
    }
    EXPECT_EQ(outgoingTotal, total);
    uint64_t notOnce = 0;
    for (uint64_t f = 0; f < total; ++f) notOnce += (inOutgoing[f] != 1) + (inClassList[f] != 1);
    EXPECT_EQ(notOnce, 0u) << "synapses not in exactly one outgoing and one class list";
    EXPECT_EQ(failures, 0);
}

// ---- 2. Formulas -------------------------------------------------------------------------------

TEST(DelayLength, FollowsAxonAndVelocity) {
    EXPECT_EQ(DelayLengthForAxon(25.0f, 1.0f), 50u);   // 25 mm at 1 mm/ms: 25 ms = 50 steps
    EXPECT_EQ(DelayLengthForAxon(1.0f, 1.0f), 2u);
    EXPECT_EQ(DelayLengthForAxon(1.0f, 100.0f), 1u);   // 0.02 steps, at least one
    EXPECT_EQ(DelayLengthForAxon(1.4f, 1.0f), 2u);     // 2.8 steps, truncated
    EXPECT_EQ(DelayLengthForAxon(3.0f, 0.15f), 40u);   // 3 / 0.075
    EXPECT_EQ(DelayLengthForAxon(1.0f, 0.0f), 1u << 20);  // no velocity: longest line, no overflow
    EXPECT_EQ(DelayLengthForAxon(std::nanf(""), 1.0f), 1u);
}

TEST(StdpTables, FloorPeakAndWindow) {
    SimParams p{};
    SetDefaultParams(p, 1);
    std::vector<float> plus(kStdpWindow), minus(kStdpWindow);
    FillStdpTables(p, plus.data(), minus.data());
    EXPECT_FLOAT_EQ(plus[0], 5e-13f);
    EXPECT_FLOAT_EQ(minus[0], 5e-13f);
    // t·e^(-t/τ) peaks at t = τ: 15 ms (entry 30) and 20 ms (entry 40).
    int plusPeak = 0, minusPeak = 0;
    for (uint32_t i = 1; i < kStdpWindow; ++i) {
        if (plus[i] > plus[plusPeak]) plusPeak = static_cast<int>(i);
        if (minus[i] > minus[minusPeak]) minusPeak = static_cast<int>(i);
    }
    EXPECT_EQ(plusPeak, 30);
    EXPECT_EQ(minusPeak, 40);
    // 5e-6 · (1e-7 + 0.004 · 15 / e) ≈ 1.1037e-7.
    EXPECT_NEAR(plus[30], 1.10366e-7, 1e-11);
    // Entry 10 (5 ms) of the depression: 5e-6 · (1e-7 + 0.004 · 5 · e^-0.25).
    EXPECT_NEAR(minus[10], 5e-6 * (1e-7 + 0.02 * 0.7788007830714049), 1e-13);
    // Amplitudes enter linearly.
    p.stdpAPlus = 0.008f;
    std::vector<float> doubled(kStdpWindow), unused(kStdpWindow);
    FillStdpTables(p, doubled.data(), unused.data());
    EXPECT_NEAR(doubled[30] - 5e-13, 2 * (plus[30] - 5e-13), 1e-12);
}

TEST(LaneInit, FixedAndRandomisedWeights) {
    AppState state;
    SetDefaultParams(state.params, 1);
    SynapseLaneState lane{};
    SynapseLaneWeights weights{};
    weights.arrived[2] = 1;
    weights.weightDelta[2] = 0.3f;
    state.random = RandomGeneratorState{};
    state.random.seed = 5;
    const RandomGeneratorState before = state.random;
    InitExcitatoryLane(state, weights, lane, 2);
    EXPECT_EQ(lane.available[2], 0.5f);
    EXPECT_EQ(lane.utilization[2], 0.5f);
    EXPECT_EQ(weights.arrived[2], 0);
    EXPECT_EQ(weights.weightDelta[2], 0.0f);
    EXPECT_EQ(weights.weight[2], 0.4f);
    EXPECT_EQ(lane.available[1], 0.0f);  // other slots untouched
    EXPECT_EQ(state.random.seed, before.seed) << "no draw without randomising";

    // Randomised: initial + (max - initial)·r, one draw per slot, within the bounds.
    state.params.randomizeInhWeights = 1;
    state.params.inhWeightInitial = 0.2f;
    state.params.inhWeightMax = 0.6f;
    RandomGeneratorState copy = state.random;
    InitInhibitoryLane(state, weights, lane, 1);
    const double r = Random01(copy);
    EXPECT_FLOAT_EQ(weights.weight[1], static_cast<float>(0.2 + 0.4 * r));
    EXPECT_EQ(state.random.seed, copy.seed) << "exactly one draw";
    float low = 1, high = 0;
    for (int k = 0; k < 400; ++k) {
        InitInhibitoryLane(state, weights, lane, static_cast<uint8_t>(k % 4));
        low = std::min(low, weights.weight[k % 4]);
        high = std::max(high, weights.weight[k % 4]);
    }
    EXPECT_GE(low, 0.2f);
    EXPECT_LE(high, 0.6f);
    EXPECT_LT(low, 0.25f);
    EXPECT_GT(high, 0.55f);
}

TEST(SynapseComparators, NeuronThenLane) {
    Neuron n[2]{};
    Synapse a{}, b{};
    a.pre = a.post = &n[0];
    b.pre = b.post = &n[1];
    EXPECT_EQ(CompareSynapseByPre(a, b), -1);
    EXPECT_EQ(CompareSynapseByPre(b, a), 1);
    EXPECT_EQ(CompareSynapseRefByPost(&b, &a), 1);
    b.pre = b.post = &n[0];
    a.lane = 3;
    b.lane = 5;
    EXPECT_EQ(CompareSynapseByPre(a, b), -1);  // same neuron: lane decides, both ways
    EXPECT_EQ(CompareSynapseRefByPost(&b, &a), 1);
    b.lane = 3;
    EXPECT_EQ(CompareSynapseByPre(a, b), 0);
}

// ---- 3. Built networks --------------------------------------------------------------------------

TEST(BuildNetwork, InvariantsOnSmallPresets) {
    for (int preset : {4, 9, 5, 0}) {
        SCOPED_TRACE(GeometryPresets[preset].label);
        TestNetwork net(preset, 11);
        const bool sphere = GeometryPresets[preset].geometryKind == GeometrySphere;
        const uint32_t expectedNeurons = sphere ? GeometryPresets[preset].neuronCount
                                                : GeometryPresets[preset].gridX * GeometryPresets[preset].gridY *
                                                      GeometryPresets[preset].gridZ;
        EXPECT_EQ(net.s().neuronCount, expectedNeurons);  // row 4 holds all 512 cells
        EXPECT_EQ(net.s().viewNeurons.load(), net.s().neurons);
        EXPECT_GT(net.s().params.synapseCount, expectedNeurons * 10);
        EXPECT_GT(net.s().MemoryUsage, uint64_t(expectedNeurons) * sizeof(Neuron));
        // Each record starts on a cache line, so a phase touches only the lines it needs.
        EXPECT_EQ(reinterpret_cast<uintptr_t>(net.s().neurons) % 64, 0u);
        ASSERT_NE(net.s().spiked, nullptr);
        CheckInvariants(net, sphere);
        // Without randomising, every weight is the initial one (the warm-up does not learn).
        uint32_t wrong = 0;
        for (uint32_t i = 0; i < net.s().neuronCount; ++i)
            for (uint32_t k = 0; k < net[i].excIncomingCount; ++k)
                wrong += net[i].excLaneWeights[k / 4].weight[k % 4] != 0.4f;
        EXPECT_EQ(wrong, 0u);
    }
}

TEST(BuildNetwork, RandomisedWeightsWithinBounds) {
    TestNetwork net(4, 3, [](SimParams& p) {
        p.randomizeExcWeights = 1;
        p.randomizeInhWeights = 1;
        p.inhWeightInitial = 0.9f;  // swapped by normalisation: initial 0.8, max 0.9
    });
    EXPECT_EQ(net.s().params.inhWeightInitial, 0.8f);
    EXPECT_EQ(net.s().params.inhWeightMax, 0.9f);
    uint32_t outside = 0, distinct = 0;
    for (uint32_t i = 0; i < net.s().neuronCount; ++i) {
        Neuron& n = net[i];
        for (uint32_t k = 0; k < n.excIncomingCount; ++k) {
            const float w = n.excLaneWeights[k / 4].weight[k % 4];
            outside += w < 0.4f || w > 0.8f;
            distinct += w != 0.4f;
        }
        for (uint32_t k = 0; k < n.inhIncomingCount; ++k) {
            const float w = n.inhLaneWeights[k / 4].weight[k % 4];
            outside += w < 0.8f || w > 0.9f;
        }
    }
    EXPECT_EQ(outside, 0u);
    EXPECT_GT(distinct, 1000u);
}

TEST(BuildNetwork, WarmUpSpikesOnceAndDeliversShortDelays) {
    TestNetwork net(4, 21, {}, nullptr, 777);
    const int32_t s = 777;
    uint32_t spiked = 0, bad = 0;
    for (uint32_t i = 0; i < net.s().neuronCount; ++i) {
        const Neuron& n = net[i];
        // v changes only by resets: a neuron drawn at or above the peak fires once,
        // in the first pass, and stays at c; the rest keep their draw in [-70, 30).
        if (n.spikeCount == 1) {
            ++spiked;
            bad += n.lastSpikeStep != s || n.v != n.c || n.u != -14.0f + n.d;
        } else {
            bad += n.spikeCount != 0 || n.lastSpikeStep != -1 || n.v < -70.0f || n.v >= 30.0f || n.u != -14.0f;
        }
        // The spike of pass 0 reaches the terminals in pass L - 1: only lines of at
        // most 20 slots deliver within the 20 passes.
        const bool delivered = n.spikeCount == 1 && n.delayLength <= 20;
        for (uint32_t k = 0; k < n.outgoingCount; ++k)
            bad += n.outgoing[k]->arrivalStep != (delivered ? s + 1 : -1);
    }
    EXPECT_EQ(bad, 0u);
    // About (70 - 30) / 140 of the neurons start above the peak.
    EXPECT_GT(spiked, 512 * 0.18);
    EXPECT_LT(spiked, 512 * 0.40);
}

TEST(BuildNetwork, LogsBuilderLinesAndTotals) {
    TestNetwork box(4, 2);
    const std::string created = "Created simulation with 512 neurons and " +
                                std::to_string(box.s().params.synapseCount) + " synapses";
    const size_t start = box.log.find("Building box/cuboid geometry...");
    const size_t done = box.log.find("Box/cuboid geometry successfully generated.");
    const size_t total = box.log.find(created);
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(done, std::string::npos);
    ASSERT_NE(total, std::string::npos) << box.log;
    EXPECT_LT(start, done);
    EXPECT_LT(done, total);

    TestNetwork sphere(0, 2, [](SimParams& p) { p.neuronCount = 256; });
    EXPECT_NE(sphere.log.find("Building spherical geometry..."), std::string::npos);
    EXPECT_NE(sphere.log.find("Spherical geometry successfully generated."), std::string::npos);
    EXPECT_NE(sphere.log.find("Created simulation with 256 neurons"), std::string::npos);
}

// Everything a seed decides, as numbers.
std::vector<double> Fingerprint(TestNetwork& net) {
    std::vector<double> f;
    for (uint32_t i = 0; i < net.s().neuronCount; ++i) {
        const Neuron& n = net[i];
        for (float x : {n.a, n.b, n.c, n.d, n.v, n.u, n.somaPos[0], n.somaPos[1], n.somaPos[2],
                        n.axonTerminal[0], n.axonTerminal[1], n.axonTerminal[2]})
            f.push_back(x);
        f.push_back(n.delayLength);
        for (uint32_t k = 0; k < n.incomingCount; ++k) f.push_back(net.Index(n.incoming[k].pre));
        for (uint32_t k = 0; k < n.excIncomingCount; ++k) f.push_back(n.excLaneWeights[k / 4].weight[k % 4]);
    }
    return f;
}

TEST(BuildNetwork, SameSeedSameNetworkNextBuildDiffers) {
    auto randomWeights = [](SimParams& p) { p.randomizeExcWeights = 1; };
    for (int preset : {9, 0}) {
        SCOPED_TRACE(preset);
        auto tweak = [&](SimParams& p) {
            randomWeights(p);
            if (preset == 0) p.neuronCount = 512;
        };
        std::vector<double> first, second, third;
        RandomGeneratorState afterSecond;
        {
            TestNetwork a(preset, 42, tweak);
            first = Fingerprint(a);
        }
        {
            TestNetwork b(preset, 42, tweak);
            second = Fingerprint(b);
            afterSecond = b.s().random;
        }
        {
            TestNetwork c(preset, 0, tweak, &afterSecond);  // continues the sequence
            third = Fingerprint(c);
        }
        EXPECT_TRUE(first == second);
        EXPECT_FALSE(first == third);
    }
}

TEST(ReleaseNetwork, FreesAndClearsEveryPointer) {
    auto state = std::make_unique<AppState>();
    SetDefaultParams(state->params, 1);
    ApplyPreset(state->params, 4);
    state->random = RandomGeneratorState{};
    state->random.seed = 9;
    testing::internal::CaptureStdout();
    BuildNetwork(*state);
    testing::internal::GetCapturedStdout();
    ASSERT_NE(state->stdpPotentiation, nullptr);
    ASSERT_NE(state->arena, nullptr);
    ReleaseNetwork(*state);
    EXPECT_EQ(state->neurons, nullptr);
    EXPECT_EQ(state->viewNeurons.load(), nullptr);
    EXPECT_EQ(state->neuronCount, 0u);
    EXPECT_EQ(state->stdpPotentiation, nullptr);
    EXPECT_EQ(state->stdpDepression, nullptr);
    EXPECT_EQ(state->spiked, nullptr);
    EXPECT_EQ(state->arena, nullptr);
    EXPECT_EQ(state->analysis.SpikeHistory, nullptr);
    EXPECT_EQ(state->MemoryUsage, 0u);
    ReleaseNetwork(*state);  // a second release is harmless
    EXPECT_EQ(state->neurons, nullptr);
}

// ---- 4. Bounded builds ----------------------------------------------------------------------------

TEST(BoundedBuild, SynapseCountRanges) {
    {  // Minimum above maximum: the range is used swapped.
        TestNetwork net(4, 1, [](SimParams& p) {
            p.excSynapsesMin = 40;
            p.excSynapsesMax = 10;
        });
        CheckInvariants(net, false);
        uint32_t most = 0;
        for (uint32_t i = 0; i < net.s().neuronCount; ++i)
            if (net[i].isExcitatory) most = std::max(most, net[i].outgoingCount);
        EXPECT_LE(most, 40u);
        EXPECT_GT(most, 10u);
    }
    {  // More than 255: limited to 255 in both directions.
        TestNetwork net(4, 1, [](SimParams& p) {
            p.excSynapsesMin = 300;
            p.excSynapsesMax = 1000;
        });
        CheckInvariants(net, false);
        for (uint32_t i = 0; i < net.s().neuronCount; ++i) {
            if (!net[i].isExcitatory) continue;
            EXPECT_EQ(net[i].incomingCapacity, 255u);
            EXPECT_LE(net[i].outgoingCount, 255u);
        }
    }
    {  // Inhibitory ranges above the excitatory ones: outgoing lists still hold all.
        for (int preset : {4, 0}) {
            TestNetwork net(preset, 1, [](SimParams& p) {
                p.excSynapsesMin = 2;
                p.excSynapsesMax = 4;
                p.inhSynapsesMin = 100;
                p.inhSynapsesMax = 200;
                p.neuronCount = 512;
            });
            CheckInvariants(net, preset == 0);
            uint32_t most = 0;
            for (uint32_t i = 0; i < net.s().neuronCount; ++i)
                if (!net[i].isExcitatory) most = std::max(most, net[i].outgoingCount);
            EXPECT_GT(most, 4u);
        }
    }
}

TEST(BoundedBuild, MaximumCountZeroGetsNoLinks) {
    for (int preset : {4, 0}) {
        SCOPED_TRACE(preset);
        TestNetwork net(preset, 8, [](SimParams& p) {
            p.inhSynapsesMin = 0;
            p.inhSynapsesMax = 0;
            p.neuronCount = 512;
        });
        CheckInvariants(net, preset == 0);
        uint32_t inhibitory = 0, linked = 0;
        for (uint32_t i = 0; i < net.s().neuronCount; ++i) {
            if (net[i].isExcitatory) continue;
            ++inhibitory;
            linked += net[i].incomingCount;
            EXPECT_LE(net[i].outgoingCount, 1u);  // a count of 0 still tries one synapse
        }
        EXPECT_GT(inhibitory, 0u);
        EXPECT_EQ(linked, 0u);
    }
    // Nobody has room: both builders end (the sphere on its examination budget, the
    // box after its counted attempts) with no synapse at all.
    for (int preset : {4, 0}) {
        TestNetwork net(preset, 8, [](SimParams& p) {
            p.excSynapsesMin = p.excSynapsesMax = p.inhSynapsesMin = p.inhSynapsesMax = 0;
            p.neuronCount = 512;
        });
        EXPECT_EQ(net.s().params.synapseCount, 0u);
        CheckInvariants(net, preset == 0);
    }
    {  // Sphere: a maximum of 1 leaves no room either (count must stay below max - 1).
        TestNetwork net(0, 8, [](SimParams& p) {
            p.excSynapsesMin = p.excSynapsesMax = 1;
            p.neuronCount = 512;
        });
        for (uint32_t i = 0; i < net.s().neuronCount; ++i) {
            if (net[i].isExcitatory) {
                EXPECT_EQ(net[i].incomingCount, 0u);
            }
        }
    }
}

TEST(BoundedBuild, CountsNotMultipleOfEightAndTinyGrids) {
    for (uint32_t count : {1u, 13u, 100u}) {  // the warm-up's last block is shorter
        TestNetwork net(0, 4, [&](SimParams& p) { p.neuronCount = count; });
        EXPECT_EQ(net.s().neuronCount, count);
        CheckInvariants(net, true);
    }
    {  // A grid of one cell: the only cell is the neuron's own, so nothing counts.
        TestNetwork net(4, 4, [](SimParams& p) {
            p.gridX = p.gridY = p.gridZ = 1;
            p.extentX = p.extentY = p.extentZ = 1.0f;
        });
        EXPECT_EQ(net.s().neuronCount, 1u);
        EXPECT_EQ(net.s().params.synapseCount, 0u);
        EXPECT_NE(net.log.find("remaining synapses were dropped"), std::string::npos);
    }
    {  // 3 x 1 x 5 cuboid.
        TestNetwork net(4, 4, [](SimParams& p) {
            p.gridX = 3;
            p.gridY = 1;
            p.gridZ = 5;
            p.extentX = 3.0f;
            p.extentY = 1.0f;
            p.extentZ = 5.0f;
        });
        EXPECT_EQ(net.s().neuronCount, 15u);
        CheckInvariants(net, false);
    }
}

}  // namespace
