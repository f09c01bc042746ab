// Tests of spike-timing-dependent plasticity.
//
// Sections:
//   1. Depression at delivery: window edges, accumulator rule, lower bound, "none"
//   2. Potentiation at a spike: window edges, accumulator rule, upper bound, "none"
//   3. The fire-phase schedule: a delivery does not see a spike of the same step
#include <gtest/gtest.h>

#include "engine/dynamics.h"
#include "tiny_network.h"

namespace {

const float kUlp24 = 1.0f / 16777216.0f;  // 2^-24

// Neuron 0 (excitatory) and neuron 1 (inhibitory) each make one synapse on neuron 2.
// Table entries are i * 2^-24 (depression) and i * 2^-23 (potentiation), so every
// result below is exact.
struct StdpFixture {
    TestState ts;
    TinyNetwork net{{true, false, true}, {1, 1, 1}};
    StdpFixture() {
        net.Connect(0, 2, 0.5f);
        net.Connect(1, 2, 0.5f);
        net.Finish();
        ts.Attach(net);
        for (uint32_t i = 0; i < kStdpWindow; ++i) {
            ts.depression[i] = static_cast<float>(i) * kUlp24;
            ts.potentiation[i] = static_cast<float>(i) * 2.0f * kUlp24;
        }
        ts->params.excWeightMax = 1.0f;
        ts->params.inhWeightMax = 0.75f;
    }
    Neuron& Post() { return net.neurons[2]; }
    Synapse& FromExc() { return net.incoming[2][0]; }
    Synapse& FromInh() { return net.incoming[2][1]; }
    // Neuron `pre` delivers a spike at step s (delay line of length 1).
    void Deliver(uint32_t pre, int32_t s) {
        net.neurons[pre].v = 40.0f;
        DeliverSpikes(*ts, net.neurons[pre], s);
    }
    void Reset(Synapse& syn, float w, float d) {
        TinyNetwork::Weight(syn) = w;
        TinyNetwork::Delta(syn) = d;
    }
};

}  // namespace

// ---- 1. Depression -------------------------------------------------------------------------------

TEST(Depression, WindowEdgesZeroOneLastAndOutside) {
    StdpFixture fx;
    Synapse& syn = fx.FromExc();
    struct Case { int32_t lastSpike; float w; float d; };
    // Delivery at s = 500, so dt = 501 - lastSpikeStep.
    const Case cases[] = {
        {501, 0.5f, 0.0f},                       // dt 0: nothing
        {500, 0.5f - kUlp24, -kUlp24},           // dt 1: D = -dep[1], w + D
        {310, 0.5f - 191 * kUlp24, -191 * kUlp24},  // dt 191: last entry
        {309, 0.5f, 0.0f},                       // dt 192: outside
    };
    for (const Case& c : cases) {
        fx.Reset(syn, 0.5f, 0.0f);
        fx.Post().lastSpikeStep = c.lastSpike;
        fx.Deliver(0, 500);
        EXPECT_EQ(TinyNetwork::Weight(syn), c.w) << c.lastSpike;
        EXPECT_EQ(TinyNetwork::Delta(syn), c.d) << c.lastSpike;
        EXPECT_EQ(syn.arrivalStep, 501);
        EXPECT_EQ(*syn.arrivedFlag, 1);
    }
}

TEST(Depression, AccumulatorStopsBeyondMinusFiveMillionthsButKeepsActing) {
    StdpFixture fx;
    Synapse& syn = fx.FromExc();
    fx.Post().lastSpikeStep = 99;  // dt 2 at delivery step 100
    fx.Reset(syn, 0.5f, -0.000004f);
    fx.Deliver(0, 100);
    const float d = -0.000004f - 2 * kUlp24;  // about -4.12e-6: still accumulated
    EXPECT_FLOAT_EQ(TinyNetwork::Delta(syn), d);
    EXPECT_NEAR(TinyNetwork::Weight(syn), 0.5 - 4.119e-6, 5e-8);
    fx.Reset(syn, 0.5f, -0.000006f);  // past the limit: D stays, w still moves by D
    fx.Deliver(0, 100);
    EXPECT_EQ(TinyNetwork::Delta(syn), -0.000006f);
    EXPECT_NEAR(TinyNetwork::Weight(syn), 0.499994, 5e-8);
    // A positive D from earlier potentiation absorbs the amount: no weight change.
    fx.Reset(syn, 0.5f, 4 * kUlp24);
    fx.Deliver(0, 100);
    EXPECT_EQ(TinyNetwork::Delta(syn), 2 * kUlp24);
    EXPECT_EQ(TinyNetwork::Weight(syn), 0.5f);
}

TEST(Depression, WeightNeverFallsBelowZero) {
    StdpFixture fx;
    Synapse& syn = fx.FromExc();
    fx.Post().lastSpikeStep = 99;
    fx.Reset(syn, kUlp24, 0.0f);  // dt 2: t = 2^-24 - 2^-23 < 0, w stays
    fx.Deliver(0, 100);
    EXPECT_EQ(TinyNetwork::Weight(syn), kUlp24);
    EXPECT_EQ(TinyNetwork::Delta(syn), -2 * kUlp24);
    fx.Post().lastSpikeStep = 100;  // dt 1 with D = 0: t = 0 exactly is allowed
    fx.Reset(syn, kUlp24, 0.0f);
    fx.Deliver(0, 100);
    EXPECT_EQ(TinyNetwork::Weight(syn), 0.0f);
}

TEST(Depression, InhibitorySynapsesUseTheirOwnLanesAndNeverFiredPostIsExcluded) {
    StdpFixture fx;
    Synapse& inh = fx.FromInh();
    fx.Post().lastSpikeStep = 40;
    fx.Deliver(1, 40);  // dt 1
    EXPECT_EQ(fx.Post().inhLaneWeights[0].weight[0], 0.5f - kUlp24);
    EXPECT_EQ(fx.Post().excLaneWeights[0].weight[0], 0.5f);
    EXPECT_EQ(inh.arrivalStep, 41);
    // A post-synaptic neuron that never fired (-1) is not depressed, though dt = 8
    // would lie inside the window if -1 counted as a step.
    fx.Post().lastSpikeStep = -1;
    fx.Reset(fx.FromExc(), 0.5f, 0.0f);
    fx.Deliver(0, 6);
    EXPECT_EQ(TinyNetwork::Weight(fx.FromExc()), 0.5f);
    EXPECT_EQ(TinyNetwork::Delta(fx.FromExc()), 0.0f);
    EXPECT_EQ(*fx.FromExc().arrivedFlag, 1);  // the spike is still delivered
}

// ---- 2. Potentiation -----------------------------------------------------------------------------

TEST(Potentiation, WindowEdgesZeroOneLastAndOutside) {
    StdpFixture fx;
    Synapse& syn = fx.FromExc();
    struct Case { int32_t arrival; float w; float d; };
    // The post-synaptic neuron fires at s = 500, so dt = 500 - arrivalStep.
    const Case cases[] = {
        {500, 0.5f, 0.0f},                              // dt 0: nothing
        {499, 0.5f + 2 * kUlp24, 2 * kUlp24},           // dt 1
        {309, 0.5f + 382 * kUlp24, 382 * kUlp24},       // dt 191
        {308, 0.5f, 0.0f},                              // dt 192
        {501, 0.5f, 0.0f},                              // arrival after the spike
    };
    for (const Case& c : cases) {
        fx.Reset(syn, 0.5f, 0.0f);
        syn.arrivalStep = c.arrival;
        Potentiate(*fx.ts, fx.Post(), 500);
        EXPECT_EQ(TinyNetwork::Weight(syn), c.w) << c.arrival;
        EXPECT_EQ(TinyNetwork::Delta(syn), c.d) << c.arrival;
    }
}

TEST(Potentiation, AccumulatorStopsAtFiveMillionthsAndWeightStaysBelowMax) {
    StdpFixture fx;
    Synapse& syn = fx.FromExc();
    syn.arrivalStep = 98;  // dt 2 at s = 100: table 4 * 2^-24
    fx.Reset(syn, 0.5f, 0.000004f);
    Potentiate(*fx.ts, fx.Post(), 100);
    EXPECT_FLOAT_EQ(TinyNetwork::Delta(syn), 0.000004f + 4 * kUlp24);
    fx.Reset(syn, 0.5f, 0.000006f);
    Potentiate(*fx.ts, fx.Post(), 100);
    EXPECT_EQ(TinyNetwork::Delta(syn), 0.000006f);
    EXPECT_NEAR(TinyNetwork::Weight(syn), 0.500006, 5e-8);
    // Bound Wmax = 1 (excitatory): 1 - 2^-22 + 2^-22 reaches 1 exactly and is refused;
    // D keeps its value. One step below the bound is allowed.
    fx.Reset(syn, 1.0f - 4 * kUlp24, 0.0f);
    Potentiate(*fx.ts, fx.Post(), 100);
    EXPECT_EQ(TinyNetwork::Weight(syn), 1.0f - 4 * kUlp24);
    EXPECT_EQ(TinyNetwork::Delta(syn), 4 * kUlp24);
    fx.Reset(syn, 1.0f - 8 * kUlp24, 0.0f);
    Potentiate(*fx.ts, fx.Post(), 100);
    EXPECT_EQ(TinyNetwork::Weight(syn), 1.0f - 4 * kUlp24);
    // Inhibitory synapses use their own bound, 0.75.
    Synapse& inh = fx.FromInh();
    inh.arrivalStep = 98;
    fx.Reset(inh, 0.75f - 4 * kUlp24, 0.0f);
    Potentiate(*fx.ts, fx.Post(), 100);
    EXPECT_EQ(TinyNetwork::Weight(inh), 0.75f - 4 * kUlp24);
    fx.Reset(inh, 0.5f, 0.0f);
    Potentiate(*fx.ts, fx.Post(), 100);
    EXPECT_EQ(TinyNetwork::Weight(inh), 0.5f + 4 * kUlp24);
}

TEST(Potentiation, SynapseThatNeverReceivedASpikeIsExcludedAndSpikeTriggersIt) {
    StdpFixture fx;
    Synapse& syn = fx.FromExc();
    ASSERT_EQ(syn.arrivalStep, -1);
    Potentiate(*fx.ts, fx.Post(), 10);  // dt 11 if -1 counted as a step
    EXPECT_EQ(TinyNetwork::Weight(syn), 0.5f);
    EXPECT_EQ(TinyNetwork::Delta(syn), 0.0f);
    // A spike (v >= vPeak in the fire phase) potentiates at once.
    syn.arrivalStep = 9;
    fx.Post().vNext = 31.0f;
    EXPECT_TRUE(FireNeuron(*fx.ts, fx.Post(), 10));
    EXPECT_EQ(TinyNetwork::Weight(syn), 0.5f + 2 * kUlp24);
}

// ---- 3. Schedule --------------------------------------------------------------------------------------

TEST(FireSchedule, DeliveryDoesNotSeeAPostSynapticSpikeOfTheSameStep) {
    // Neuron 0 (post) has the lower index and fires in the same step in which neuron 1's
    // spike is delivered to it. Deliveries all run before spikes, so the delivery sees
    // the post neuron's previous spike (long ago: no depression), whatever the order of
    // the neurons; and the spike sees the arrival, which acts only in the next step.
    TestState ts;
    TinyNetwork net({true, true}, {1, 1});
    net.Connect(1, 0, 0.5f);
    net.Finish();
    ts.Attach(net);
    for (uint32_t i = 0; i < kStdpWindow; ++i) ts.depression[i] = ts.potentiation[i] = 1e-6f;
    Neuron& post = net.neurons[0];
    Neuron& pre = net.neurons[1];
    post.lastSpikeStep = 0;
    post.isHeld = 1;
    post.v = 80.0f;
    pre.isHeld = 1;
    pre.v = 80.0f;
    ts->stepCounter = 1000;
    EXPECT_EQ(StepNetwork(*ts), 2u);
    Synapse& syn = net.incoming[0][0];
    EXPECT_EQ(syn.arrivalStep, 1001);
    EXPECT_EQ(post.lastSpikeStep, 1000);
    EXPECT_EQ(TinyNetwork::Weight(syn), 0.5f);
    EXPECT_EQ(TinyNetwork::Delta(syn), 0.0f);
}
