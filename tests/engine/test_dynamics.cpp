// Tests of the fire phase, the delay line, the stimulus and whole steps.
//
// Sections:
//   1. FireNeuron: held neuron, envelope, threshold at exactly vPeak
//   2. Delay line: timing, strict threshold, filtered line
//   3. Regular stimulus: the slab, release, m = 0, guards
//   4. Hand-wired networks: spikes travel with their delays; vector == scalar
//   5. Threads: the two fire sub-phases on several threads equal one thread
//   6. Golden digest of the spike raster of a built network
#include <gtest/gtest.h>

#include <algorithm>
#include <barrier>
#include <cmath>
#include <immintrin.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "engine/dynamics.h"
#include "engine/kernels.h"
#include "engine/random.h"
#include "tiny_network.h"

// ---- 1. FireNeuron ----------------------------------------------------------------------------

TEST(FireNeuron, HeldNeuronKeepsItsPotentialUntilItFires) {
    TestState ts;
    TinyNetwork net({true}, {4});
    ts.Attach(net);
    Neuron& n = net.neurons[0];
    n.v = 20.0f;
    n.u = -5.0f;
    n.vNext = 10.0f;
    n.uNext = -4.0f;
    n.isHeld = 1;
    EXPECT_FALSE(FireNeuron(*ts, n, 7));
    EXPECT_EQ(n.v, 20.0f);
    EXPECT_EQ(n.u, -5.0f);
    n.isHeld = 0;
    EXPECT_FALSE(FireNeuron(*ts, n, 8));
    EXPECT_EQ(n.v, 10.0f);
    EXPECT_EQ(n.u, -4.0f);
    // Clamped at 80 the neuron fires and resets to c, u + d.
    n.isHeld = 1;
    n.v = 80.0f;
    n.vNext = -60.0f;
    EXPECT_TRUE(FireNeuron(*ts, n, 9));
    EXPECT_EQ(n.v, -65.0f);
    EXPECT_EQ(n.u, 4.0f);
    EXPECT_EQ(n.lastSpikeStep, 9);
    EXPECT_EQ(n.spikeCount, 1u);
}

TEST(FireNeuron, EnvelopeRisesFastAndFallsSlowly) {
    TestState ts;
    TinyNetwork net({true}, {1});
    ts.Attach(net);
    Neuron& n = net.neurons[0];
    n.vNext = 10.0f;
    FireNeuron(*ts, n, 0);  // 0 + 0.3 * 10
    EXPECT_FLOAT_EQ(n.vEnvelope, 3.0f);
    EXPECT_FLOAT_EQ(n.vEnvelopeView, 3.0f);
    n.vNext = -7.0f;
    FireNeuron(*ts, n, 1);  // 3 + 0.15 * -10
    EXPECT_FLOAT_EQ(n.vEnvelope, 1.5f);
    EXPECT_FLOAT_EQ(n.vEnvelopeView, 1.5f);
    n.vNext = 1.5f;  // equal: the slow branch, no change
    FireNeuron(*ts, n, 2);
    EXPECT_FLOAT_EQ(n.vEnvelope, 1.5f);
}

TEST(FireNeuron, ThresholdIsReachedAtExactlyVPeak) {
    TestState ts;
    TinyNetwork net({true, true}, {1, 1});
    ts.Attach(net);
    Neuron& n = net.neurons[0];
    n.vNext = std::nextafter(30.0f, 0.0f);
    EXPECT_FALSE(FireNeuron(*ts, n, 0));
    EXPECT_EQ(n.lastSpikeStep, -1);
    n.vNext = 30.0f;
    EXPECT_TRUE(FireNeuron(*ts, n, 1));
    EXPECT_EQ(n.v, -65.0f);
    EXPECT_EQ(n.lastSpikeStep, 1);
    // The delay line holds the potential before the reset.
    EXPECT_EQ(n.delayV[0], 30.0f);
}

// ---- 2. Delay line -------------------------------------------------------------------------------

TEST(DelayLine, SpikeComesOutAfterDelayLengthMinusOneSteps) {
    TinyNetwork net({true}, {3});
    Neuron& n = net.neurons[0];
    n.v = 35.0f;
    EXPECT_FALSE(AdvanceDelayLine(n));  // written at slot 2, index -> 1
    EXPECT_EQ(n.delayIndex, 1u);
    n.v = -65.0f;
    EXPECT_FALSE(AdvanceDelayLine(n));  // index -> 0
    EXPECT_TRUE(AdvanceDelayLine(n));   // wraps to 2, where 35 was written
    EXPECT_EQ(n.delayIndex, 2u);
    // Filtered line: 0 + 0.6 * 35 = 21, then 21 + 0.6 * (-65 - 21) = -30.6, then
    // -30.6 + 0.6 * (-65 + 30.6) = -51.24.
    EXPECT_FLOAT_EQ(n.delayFiltered[2], 21.0f);
    EXPECT_FLOAT_EQ(n.delayFiltered[1], -30.6f);
    EXPECT_FLOAT_EQ(n.delayFiltered[0], -51.24f);
    EXPECT_FLOAT_EQ(n.lastFiltered, -51.24f);
    EXPECT_FALSE(AdvanceDelayLine(n));  // the slot of the spike is overwritten
}

TEST(DelayLine, LengthOneDeliversInTheSameStepAndOnlyAboveVPeak) {
    TestState ts;
    TinyNetwork net({true, true}, {1, 1});
    net.Connect(0, 1, 1.0f);
    net.Finish();
    ts.Attach(net);
    Neuron& pre = net.neurons[0];
    Synapse& syn = net.incoming[1][0];
    pre.v = 30.0f;  // a spike at the neuron, but not delivered (strictly greater)
    DeliverSpikes(*ts, pre, 10);
    EXPECT_EQ(*syn.arrivedFlag, 0);
    EXPECT_EQ(syn.arrivalStep, -1);
    EXPECT_EQ(pre.delayIndex, 0u);
    pre.v = 30.5f;
    DeliverSpikes(*ts, pre, 11);
    EXPECT_EQ(*syn.arrivedFlag, 1);
    EXPECT_EQ(syn.arrivalStep, 12);
}

TEST(DelayLine, NeuronWithoutOutgoingSynapsesStillRecords) {
    TestState ts;
    TinyNetwork net({false}, {2});
    net.Finish();
    ts.Attach(net);
    Neuron& n = net.neurons[0];
    n.v = 50.0f;
    DeliverSpikes(*ts, n, 0);
    n.v = 0.0f;
    DeliverSpikes(*ts, n, 1);  // the 50 comes out with no synapse to mark
    EXPECT_EQ(n.delayV[1], 50.0f);
    EXPECT_FLOAT_EQ(n.delayFiltered[1], 30.0f);
    EXPECT_FLOAT_EQ(n.delayFiltered[0], 12.0f);
}

TEST(DelayLine, RangeReachesEverySynapseOfMoreThanItsPipelineHolds) {
    // Neurons 0 and 1 fire into 600 neurons each: more synapses than one batch of
    // the range's delivery pipeline.
    constexpr uint32_t kPosts = 600;
    TestState ts;
    TinyNetwork net(std::vector<bool>(kPosts + 2, true), std::vector<uint32_t>(kPosts + 2, 1));
    for (uint32_t p = 2; p < kPosts + 2; ++p) {
        net.Connect(0, p, 1.0f);
        net.Connect(1, p, 1.0f);
    }
    net.Finish();
    ts.Attach(net);
    for (uint32_t i = 0; i < 2; ++i) net.neurons[i].vNext = 40.0f;
    EXPECT_EQ(FireApplyRange(*ts, 0, kPosts + 2, 7), 2u);
    for (uint32_t p = 2; p < kPosts + 2; ++p) {
        for (const Synapse& syn : net.incoming[p]) {
            ASSERT_EQ(*syn.arrivedFlag, 1) << "post " << p;
            ASSERT_EQ(syn.arrivalStep, 8) << "post " << p;
        }
    }
}

// ---- 3. Regular stimulus -----------------------------------------------------------------------------

namespace {

// An 8 x 2 x gridZ box network without synapses; not square, so a swapped x and y
// would miss cells.
struct StimulusFixture {
    TestState ts;
    std::unique_ptr<TinyNetwork> net;
    explicit StimulusFixture(uint32_t gridZ) {
        net = std::make_unique<TinyNetwork>(std::vector<bool>(16 * gridZ, true),
                                            std::vector<uint32_t>(16 * gridZ, 1));
        net->Finish();
        ts.Attach(*net);
        ts->params.gridX = 8;
        ts->params.gridY = 2;
        ts->params.gridZ = gridZ;
        ts->stimulusPeriod = 100;
    }
};

}  // namespace

TEST(Stimulus, ClampsTheMiddleSlabForFiveStepsThenReleases) {
    StimulusFixture fx(40);  // m = 2: planes z = 18..21 of 40
    AppState& state = *fx.ts;
    ApplyStimulus(state, 200);
    for (uint32_t z = 0; z < 40; ++z) {
        for (uint32_t i = 0; i < 16; ++i) {
            const Neuron& n = fx.net->neurons[z * 16 + i];
            const bool inSlab = z >= 18 && z < 22;
            EXPECT_EQ(n.isHeld, inSlab ? 1 : 0) << z;
            EXPECT_EQ(n.v, inSlab ? 80.0f : -65.0f) << z;
            // u + 0.5 * 0.02 * (80 * 0.2 - u) with u = -13: -13 + 0.29.
            if (inSlab) {
                EXPECT_FLOAT_EQ(n.u, -12.71f);
            }
        }
    }
    for (uint32_t s : {201u, 202u, 203u, 204u}) ApplyStimulus(state, s);
    EXPECT_EQ(fx.net->neurons[18 * 16].isHeld, 1);
    ApplyStimulus(state, 205);  // released
    for (uint32_t i = 0; i < 640; ++i) EXPECT_EQ(fx.net->neurons[i].isHeld, 0) << i;
    fx.net->neurons[20 * 16].v = -50.0f;
    ApplyStimulus(state, 206);  // nothing outside the first six steps of the period
    ApplyStimulus(state, 299);
    EXPECT_EQ(fx.net->neurons[20 * 16].v, -50.0f);
    ApplyStimulus(state, 304);  // 304 mod 100 = 4
    EXPECT_EQ(fx.net->neurons[20 * 16].v, 80.0f);
}

TEST(Stimulus, FewerThanTwentyPlanesHaveNoEffectAndBadInputsAreSafe) {
    StimulusFixture fx(16);  // m = 0
    ApplyStimulus(*fx.ts, 0);
    for (uint32_t i = 0; i < 256; ++i) {
        EXPECT_EQ(fx.net->neurons[i].isHeld, 0);
        EXPECT_EQ(fx.net->neurons[i].v, -65.0f);
    }
    // A period of 0 does nothing (instead of dividing by zero).
    fx.ts->stimulusPeriod = 0;
    fx.ts->params.gridZ = 40;
    ApplyStimulus(*fx.ts, 0);
    EXPECT_EQ(fx.net->neurons[100].isHeld, 0);
    // A grid edited to be larger than the built network stays inside the array: with
    // gridZ 40 the slab z = 18..21 lies beyond the 256 neurons.
    fx.ts->stimulusPeriod = 100;
    ApplyStimulus(*fx.ts, 0);
    for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(fx.net->neurons[i].isHeld, 0);
}

// ---- 4. Hand-wired networks -------------------------------------------------------------------------------

TEST(StepNetwork, SpikesTravelAlongAChainWithTheirDelays) {
    // 0 -> 1 -> 2, delays 4 and 7 steps; excitatory weights strong enough that one
    // arrival makes the target fire a few steps later. Neuron 0 is clamped
    // at 80 for one step every 100 steps.
    TestState ts;
    TinyNetwork net({true, true, true}, {4, 7, 3});
    net.Connect(0, 1, 6.0f);
    net.Connect(1, 2, 6.0f);
    net.Finish();
    ts.Attach(net);
    std::vector<std::vector<int32_t>> spikes(3), arrivals(3);
    for (int step = 0; step < 300; ++step) {
        Neuron& source = net.neurons[0];
        if (step % 100 == 0) {
            source.isHeld = 1;
            source.v = 80.0f;
        } else {
            source.isHeld = 0;
        }
        std::vector<uint32_t> before = {net.neurons[0].spikeCount, net.neurons[1].spikeCount,
                                        net.neurons[2].spikeCount};
        StepNetwork(*ts);
        for (int i = 0; i < 3; ++i) {
            if (net.neurons[i].spikeCount != before[i]) spikes[i].push_back(step);
        }
        for (int i = 1; i < 3; ++i) {
            Synapse& syn = net.incoming[i][0];
            if (*syn.arrivedFlag != 0) arrivals[i].push_back(syn.arrivalStep);
        }
    }
    EXPECT_EQ(ts->stepCounter.load(), 300u);
    ASSERT_EQ(spikes[0], (std::vector<int32_t>{0, 100, 200}));
    // Each spike of 0 at t acts on 1 in step t + 4; each spike of 1 at t on 2 at t + 7.
    ASSERT_EQ(arrivals[1], (std::vector<int32_t>{4, 104, 204}));
    ASSERT_FALSE(spikes[1].empty());
    for (int32_t t : spikes[1]) {
        EXPECT_GE(t, 4);  // nothing before the first arrival
        if (t + 6 > 299) continue;  // delivered after the last step
        EXPECT_NE(std::find(arrivals[2].begin(), arrivals[2].end(), t + 7), arrivals[2].end()) << t;
    }
    for (int32_t a : arrivals[2]) {  // and every arrival at 2 comes from a spike of 1
        EXPECT_NE(std::find(spikes[1].begin(), spikes[1].end(), a - 7), spikes[1].end()) << a;
    }
    // Neuron 1 answers each arrival within a few steps, and neuron 2 follows neuron 1.
    EXPECT_LE(spikes[1].front(), 4 + 6);
    ASSERT_FALSE(spikes[2].empty());
    EXPECT_GE(spikes[2].front(), spikes[1].front() + 7);
    EXPECT_LE(spikes[2].front(), spikes[1].front() + 7 + 6);
}

namespace {

// A random network of 320 neurons (a 4 x 4 x 20 box for the stimulus), 20% inhibitory,
// 0..40 synapses per neuron so that every remainder size and block shape occurs.
std::unique_ptr<TinyNetwork> RandomNetwork(uint32_t seed) {
    std::mt19937 gen(seed);
    const uint32_t count = 320;
    std::vector<bool> exc(count);
    std::vector<uint32_t> delays(count);
    for (uint32_t i = 0; i < count; ++i) {
        exc[i] = (gen() % 5) != 0;
        delays[i] = 1 + gen() % 12;
    }
    auto net = std::make_unique<TinyNetwork>(exc, delays);
    for (uint32_t post = 0; post < count; ++post) {
        const uint32_t inputs = gen() % 41;
        for (uint32_t k = 0; k < inputs; ++k) {
            const uint32_t pre = gen() % count;
            const float w = 0.5f + static_cast<float>(gen() % 1000) * 0.002f;
            net->Connect(pre, post, w);
        }
    }
    net->Finish();
    for (uint32_t i = 0; i < count; ++i) {
        net->neurons[i].v = -70.0f + static_cast<float>(gen() % 1400) * 0.1f;
    }
    return net;
}

void ConfigureForRandomNetwork(TestState& ts) {
    ts->params.gridX = ts->params.gridY = 4;
    ts->params.gridZ = 20;
    ts->stimulusOn = 1;
    ts->stimulusPeriod = 50;
    for (uint32_t i = 1; i < kStdpWindow; ++i) {
        ts.potentiation[i] = 1e-7f;
        ts.depression[i] = 1.2e-7f;
    }
}

bool SameNeuronState(const Neuron& a, const Neuron& b) {
    return std::memcmp(&a.v, &b.v, sizeof(float)) == 0 && std::memcmp(&a.u, &b.u, sizeof(float)) == 0 &&
           std::memcmp(&a.gAmpa, &b.gAmpa, 4 * sizeof(float)) == 0 &&
           a.lastSpikeStep == b.lastSpikeStep && a.spikeCount == b.spikeCount;
}

bool SameLanes(const TinyNetwork& a, const TinyNetwork& b) {
    for (size_t i = 0; i < a.neurons.size(); ++i) {
        const Neuron& x = a.neurons[i];
        const Neuron& y = b.neurons[i];
        const uint32_t eg = (x.excIncomingCount + 3) / 4, ig = (x.inhIncomingCount + 3) / 4;
        // Neurons without synapses of a kind have no lane blocks (null pointers).
        if (eg != 0 && std::memcmp(x.excLaneState, y.excLaneState, eg * sizeof(SynapseLaneState)) != 0) return false;
        if (eg != 0 && std::memcmp(x.excLaneWeights, y.excLaneWeights, eg * sizeof(SynapseLaneWeights)) != 0) return false;
        if (ig != 0 && std::memcmp(x.inhLaneState, y.inhLaneState, ig * sizeof(SynapseLaneState)) != 0) return false;
        if (ig != 0 && std::memcmp(x.inhLaneWeights, y.inhLaneWeights, ig * sizeof(SynapseLaneWeights)) != 0) return false;
    }
    return true;
}

}  // namespace

TEST(StepNetwork, VectorIntegrationEqualsScalarTwinOverManySteps) {
    TestState tsA, tsB;
    ConfigureForRandomNetwork(tsA);
    ConfigureForRandomNetwork(tsB);
    auto a = RandomNetwork(7), b = RandomNetwork(7);
    tsA.Attach(*a);
    tsB.Attach(*b);
    const KindFactors exc = ExcitatoryFactors(tsB->params), inh = InhibitoryFactors(tsB->params);
    uint64_t spikes = 0;
    for (uint32_t s = 0; s < 200; ++s) {
        tsA->stepCounter = s;
        spikes += StepNetwork(*tsA);
        for (Neuron& n : b->neurons) IntegrateNeuronScalar(n, exc, inh);
        const uint32_t count = tsB->neuronCount;
        FireApplyRange(*tsB, 0, count, static_cast<int32_t>(s));
        FireLearnRange(*tsB, 0, count, static_cast<int32_t>(s));
        ApplyStimulus(*tsB, s);
        for (size_t i = 0; i < a->neurons.size(); ++i) {
            ASSERT_TRUE(SameNeuronState(a->neurons[i], b->neurons[i])) << "step " << s << " neuron " << i;
        }
    }
    EXPECT_TRUE(SameLanes(*a, *b));
    EXPECT_GT(spikes, 200u);  // the network is active, so arrivals were exercised
}

// ---- 5. Threads ---------------------------------------------------------------------------------------------

TEST(StepNetwork, FireSubPhasesOnSeveralThreadsEqualOneThread) {
    const uint32_t steps = 150;
    TestState ts1;
    ConfigureForRandomNetwork(ts1);
    auto single = RandomNetwork(11);
    ts1.Attach(*single);
    std::vector<uint64_t> singleCounts;
    for (uint32_t s = 0; s < steps; ++s) singleCounts.push_back(StepNetwork(*ts1));

    for (uint32_t threads : {2u, 3u}) {
        TestState ts;
        ConfigureForRandomNetwork(ts);
        auto multi = RandomNetwork(11);
        ts.Attach(*multi);
        AppState& state = *ts;
        const uint32_t count = state.neuronCount;
        std::vector<uint64_t> counts(steps, 0);
        std::vector<uint64_t> perThread(threads, 0);
        std::barrier sync(static_cast<std::ptrdiff_t>(threads), []() noexcept {});
        auto worker = [&](uint32_t t) {
            // Deliberately uneven, interleaved ranges: thread t takes every neuron i with
            // i % threads == t in the fire phase, and a contiguous share in integration.
            const uint32_t first = t * count / threads, end = (t + 1) * count / threads;
            for (uint32_t s = 0; s < steps; ++s) {
                UpdateChunk(state, first, end);
                sync.arrive_and_wait();
                uint64_t fired = 0;
                for (uint32_t i = t; i < count; i += threads) {
                    state.spiked[i] = FireApplyAndSpike(state, state.neurons[i], s) ? 1 : 0;
                    fired += state.spiked[i];
                }
                perThread[t] = fired;
                sync.arrive_and_wait();
                for (uint32_t i = t; i < count; i += threads)
                    if (state.spiked[i] != 0) FireLearn(state, state.neurons[i], s);
                sync.arrive_and_wait();
                if (t == 0) {
                    for (uint64_t f : perThread) counts[s] += f;
                    ApplyStimulus(state, s);
                }
                sync.arrive_and_wait();
            }
        };
        std::vector<std::thread> pool;
        for (uint32_t t = 0; t < threads; ++t) pool.emplace_back(worker, t);
        for (std::thread& th : pool) th.join();
        EXPECT_EQ(counts, singleCounts) << threads << " threads";
        for (uint32_t i = 0; i < count; ++i) {
            ASSERT_TRUE(SameNeuronState(single->neurons[i], multi->neurons[i])) << threads << " threads, neuron " << i;
        }
        EXPECT_TRUE(SameLanes(*single, *multi)) << threads << " threads";
    }
}

// ---- 6. Golden digest ---------------------------------------------------------------------------------------

namespace {

// FNV-1a over the spike raster: (step, neuron index) of every spike, in order.
// After an intended change of the dynamics, run with VELLICOR_PRINT_GOLDEN=1 to print
// the new value, and paste it here.
constexpr uint64_t kGoldenRasterDigest = 0xbbedaa6eea1f9c1aull;

void HashWord(uint64_t& hash, uint32_t word) {
    for (int i = 0; i < 4; ++i) {
        hash ^= (word >> (8 * i)) & 0xffu;
        hash *= 0x100000001b3ull;
    }
}

}  // namespace

TEST(StepNetwork, GoldenSpikeRasterOfSeedOneOnTheSmallestCuboid) {
#if defined(__SANITIZE_THREAD__)
    // Single-threaded, so ThreadSanitizer has nothing to check here, and it is slow.
    GTEST_SKIP() << "single-threaded digest; runs in the other builds";
#endif
    const uint32_t savedCsr = _mm_getcsr();
    _mm_setcsr(savedCsr | 0x8040u);  // flush-to-zero and denormals-are-zero, as the program runs
    auto state = std::make_unique<AppState>();
    RestoreDefaults(*state);
    state->random = RandomGeneratorState{};
    state->random.seed = 1;
    ApplyPreset(state->params, 9);
    BuildNetwork(*state);
    ASSERT_EQ(state->neuronCount, 2048u);
    uint64_t hash = 0xcbf29ce484222325ull;
    uint64_t spikes = 0;
    std::vector<uint32_t> before(state->neuronCount);
    for (uint32_t step = 0; step < 2000; ++step) {
        for (uint32_t i = 0; i < state->neuronCount; ++i) before[i] = state->neurons[i].spikeCount;
        spikes += StepNetwork(*state);
        for (uint32_t i = 0; i < state->neuronCount; ++i) {
            if (state->neurons[i].spikeCount != before[i]) {
                HashWord(hash, step);
                HashWord(hash, i);
            }
        }
    }
    ReleaseNetwork(*state);
    _mm_setcsr(savedCsr);
    if (std::getenv("VELLICOR_PRINT_GOLDEN") != nullptr) {
        std::printf("golden raster digest: 0x%016llxull (%llu spikes)\n", static_cast<unsigned long long>(hash),
                    static_cast<unsigned long long>(spikes));
    }
    EXPECT_GT(spikes, 2000u);
    EXPECT_EQ(hash, kGoldenRasterDigest) << std::hex << "new digest 0x" << hash;
}
