// The event engine.
//
// Sections:
//   1. Powers and the closed-form advance
//   2. One arrival, by slot class
//   3. Creation, conversion after warm-up, release
//   4. Integration phase
//   5. Delivery
//   6. Synapse state on demand
#include "engine/event.h"

#include <immintrin.h>

#include <atomic>
#include <cmath>

#include "engine/dynamics.h"
#include "engine/kernels.h"
#include "engine/simulation.h"
#include "platform/platform.h"

namespace {

// ---- 1. Powers and the closed-form advance ----------------------------------------------------------

constexpr double kInputScale = 1099511627776.0;  // 2^40 fixed-point units per nS

void FillPowers(EventPowers* table, const KindFactors& f) {
    for (uint32_t n = 0; n < kEventPowerSteps; ++n) {
        const auto power = [n](float factor) {
            return static_cast<float>(std::pow(1.0 - static_cast<double>(factor), static_cast<double>(n)));
        };
        table[n] = {power(f.kD), power(f.bF), power(f.kFast), power(f.kSlow)};
    }
}

inline EventPowers Powers(const EventPowers* table, const KindFactors& f, uint32_t n) {
    if (n < kEventPowerSteps) return table[n];
    const auto power = [n](float factor) {
        return static_cast<float>(std::pow(1.0 - static_cast<double>(factor), static_cast<double>(n)));
    };
    return {power(f.kD), power(f.bF), power(f.kFast), power(f.kSlow)};
}

// A slot's lane state advanced by n steps without arrivals: R and u relax, g decays.
struct SlotState {
    float r, u, gFast, gSlow;
};

inline SlotState Advance(const SlotState& x, uint32_t n, const EventPowers* table, const KindFactors& f) {
    if (n == 0) return x;
    const EventPowers p = Powers(table, f, n);
    // u relaxes towards the fixed point of u <- u + (cF - bF*u), which is cF / bF.
    const double uRest = static_cast<double>(f.cF) / static_cast<double>(f.bF);
    SlotState y;
    y.r = static_cast<float>(1.0 - (1.0 - static_cast<double>(x.r)) * p.recovery);
    y.u = static_cast<float>(uRest + (static_cast<double>(x.u) - uRest) * p.relaxation);
    y.gFast = x.gFast * p.fastDecay;
    y.gSlow = x.gSlow * p.slowDecay;
    return y;
}

inline SlotState LoadSlot(const SynapseLaneState& b, uint32_t k) {
    return {b.available[k], b.utilization[k], b.gFast[k], b.gSlow[k]};
}

inline void StoreSlot(SynapseLaneState& b, uint32_t k, const SlotState& x) {
    b.available[k] = x.r;
    b.utilization[k] = x.u;
    b.gFast[k] = x.gFast;
    b.gSlow[k] = x.gSlow;
}

// ---- 2. One arrival ----------------------------------------------------------------------------------
// Applies a spike arriving at step `arrival` to slot k, whose state is valid at an
// earlier step (updatedStep[k]), in the per-slot order of the slot's class
// (remainder 0: a full group), and leaves the slot valid at `arrival`. Returns the
// increment for the post-synaptic neuron's full or remainder sum.
float Arrive(SynapseLaneState& block, SynapseLaneWeights& weights, uint32_t k, uint32_t remainder,
             int32_t arrival, const EventPowers* p, const KindFactors& f) {
    const uint32_t gap = static_cast<uint32_t>(arrival) - static_cast<uint32_t>(weights.updatedStep[k]);
    const float w = weights.weight[k];
    SlotState x = LoadSlot(block, k);
    float out;
    if (remainder == 0) {
        // Recovery and decay of the arrival step first, then the spike; the
        // increment is not decayed in this step.
        x = Advance(x, gap, p, f);
        const float r = x.r, u = x.u;
        x.r = r - 0.5f * r * u;
        x.u = u + f.hU - f.hU * u;
        const float inc = x.r * w * x.u;
        x.gFast += inc;
        x.gSlow += inc;
        out = inc;
    } else {
        x = Advance(x, gap - 1, p, f);  // to the step before the arrival
        const float r = x.r, u = x.u;
        float inc;
        if (remainder == 1) {
            // Recovery and spike terms together, from the old values.
            x.r = r + (f.kD - f.kD * r - 0.5f * r * u);
            x.u = u + ((f.hU - f.hU * u) + (f.cF - f.bF * u));
            inc = x.r * w * x.u;
        } else {
            // Spike, then recovery from the post-spike values.
            const float r1 = r - 0.5f * r * u;
            const float u1 = u + f.hU - f.hU * u;
            inc = r1 * w * u1;
            x.r = r1 + (f.kD - f.kD * r1);
            x.u = u1 + (f.cF - f.bF * u1);
        }
        // The increment is added before the step's decay, so it decays once.
        const float fast = x.gFast + inc, slow = x.gSlow + inc;
        x.gFast = fast - f.kFast * fast;
        x.gSlow = slow - f.kSlow * slow;
        out = inc;
    }
    StoreSlot(block, k, x);
    weights.updatedStep[k] = arrival;
    return out;
}

inline int64_t ToInput(float amount) {
    return static_cast<int64_t>(std::llrint(static_cast<double>(amount) * kInputScale));
}

inline float FromInput(int64_t amount) { return static_cast<float>(static_cast<double>(amount) / kInputScale); }

// Adds a spike's increment to one kind's sums (full, remainder).
inline void AddInput(int64_t* sums, float inc, uint32_t remainder) {
    std::atomic_ref<int64_t>(sums[remainder == 0 ? 0 : 1]).fetch_add(ToInput(inc), std::memory_order_relaxed);
}

inline int64_t* KindSums(EventInputs& in, bool excitatory) { return excitatory ? &in.excFull : &in.inhFull; }

// The lane blocks and slot class of lane `lane` of post's synapses of one kind.
struct LaneRef {
    SynapseLaneState* state;
    SynapseLaneWeights* weights;
    uint32_t remainder;  // 0 for a full group, else the size of the remainder block
};

inline LaneRef LaneOf(const Neuron& post, bool excitatory, uint32_t lane) {
    const uint32_t count = excitatory ? post.excIncomingCount : post.inhIncomingCount;
    const uint32_t groups = count / 4;
    SynapseLaneState* st = excitatory ? post.excLaneState : post.inhLaneState;
    SynapseLaneWeights* wt = excitatory ? post.excLaneWeights : post.inhLaneWeights;
    const uint32_t b = lane / 4;
    return {st + b, wt + b, b < groups ? 0u : (count & 3u)};
}

}  // namespace

// ---- 3. Creation, conversion, release -------------------------------------------------------------------

void EnterEventMode(Simulation& state) {
    ReleaseEventEngine(state);
    auto* engine = static_cast<EventEngine*>(
        NetworkAlloc(state, sizeof(EventEngine), "Unable to allocate memory for the event engine!"));
    state.eventEngine = engine;
    engine->input = static_cast<EventInputs*>(NetworkAlloc(
        state, uint64_t{state.neuronCount} * sizeof(EventInputs), "Unable to allocate memory for the event engine!"));
    const KindFactors exc = ExcitatoryFactors(state.params), inh = InhibitoryFactors(state.params);
    FillPowers(engine->exc, exc);
    FillPowers(engine->inh, inh);

    const int32_t s = static_cast<int32_t>(state.stepCounter.load(std::memory_order_relaxed));
    for (uint32_t i = 0; i < state.neuronCount; ++i) {
        Neuron& n = state.neurons[i];
        for (int kind = 0; kind < 2; ++kind) {
            const bool excitatory = kind == 0;
            const uint32_t count = excitatory ? n.excIncomingCount : n.inhIncomingCount;
            const EventPowers* powers = excitatory ? engine->exc : engine->inh;
            const KindFactors& f = excitatory ? exc : inh;
            int64_t* input = KindSums(engine->input[i], excitatory);
            for (uint32_t g = 0; g < (count + 3) / 4; ++g) {
                const LaneRef ref = LaneOf(n, excitatory, 4 * g);
                // The flags share their bytes with the steps: read all four first.
                uint8_t flags[4];
                for (uint32_t k = 0; k < 4; ++k) flags[k] = ref.weights->arrived[k];
                for (uint32_t k = 0; k < 4; ++k) ref.weights->updatedStep[k] = s - 1;
                for (uint32_t k = 0; k < 4 && 4 * g + k < count; ++k)
                    if (flags[k] != 0)
                        AddInput(input, Arrive(*ref.state, *ref.weights, k, ref.remainder, s, powers, f), ref.remainder);
            }
        }
    }
}

void ReleaseEventEngine(Simulation& state) {
    EventEngine* engine = state.eventEngine;
    if (engine == nullptr) return;
    plat::AlignedFree(engine->input);
    plat::AlignedFree(engine);
    state.eventEngine = nullptr;
}

// ---- 4. Integration phase ---------------------------------------------------------------------------------

void EventUpdateChunk(Simulation& state, uint32_t first, uint32_t end) {
    const SimParams& p = state.params;
    const float kAmpa = p.ampaStepDecay, kNmda = p.nmdaStepDecay;
    const float kGabaA = p.gabaAStepDecay, kGabaB = p.gabaBStepDecay;
    Neuron* const neurons = state.neurons;
    EventInputs* const inputs = state.eventEngine->input;
    for (uint32_t i = first; i < end; ++i) {
        Neuron& n = neurons[i];
        // The deliveries that wrote the inputs ran before the phase barrier.
        EventInputs& in = inputs[i];
        const float eFull = FromInput(in.excFull), eRest = FromInput(in.excRemainder);
        const float iFull = FromInput(in.inhFull), iRest = FromInput(in.inhRemainder);
        in.excFull = in.excRemainder = in.inhFull = in.inhRemainder = 0;
        // A remainder slot's increment decays once in its arrival step.
        const float eFast = eFull + (eRest - kAmpa * eRest), eSlow = eFull + (eRest - kNmda * eRest);
        const float iFast = iFull + (iRest - kGabaA * iRest), iSlow = iFull + (iRest - kGabaB * iRest);
        n.gAmpa = (n.gAmpa - kAmpa * n.gAmpa) + eFast;
        n.gNmda = (n.gNmda - kNmda * n.gNmda) + eSlow;
        n.gGabaA = (n.gGabaA - kGabaA * n.gGabaA) + iFast;
        n.gGabaB = (n.gGabaB - kGabaB * n.gGabaB) + iSlow;
        MembraneStep(n);
    }
}

// ---- 5. Delivery ---------------------------------------------------------------------------------------------

void EventPrefetchDelivery(const Simulation& state, const Synapse& syn) {
    _mm_prefetch(reinterpret_cast<const char*>(&LaneWeightsOf(syn)), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(&LaneStateOf(syn)), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(&syn.post->lastSpikeStep), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(&state.eventEngine->input[syn.post - state.neurons]), _MM_HINT_T0);
}

void EventDeliverSynapse(Simulation& state, Synapse& syn, int32_t s) {
    const bool excitatory = syn.pre->isExcitatory != 0;  // the delivering neuron: in cache
    EventEngine& engine = *state.eventEngine;
    const EventPowers* powers = excitatory ? engine.exc : engine.inh;
    const KindFactors f = excitatory ? ExcitatoryFactors(state.params) : InhibitoryFactors(state.params);
    syn.arrivalStep = s + 1;
    DepressSynapse(state, syn, s);  // before the arrival: the increment uses the new w
    const float inc = Arrive(LaneStateOf(syn), LaneWeightsOf(syn), syn.lane % 4, syn.remainder, s + 1, powers, f);
    AddInput(KindSums(engine.input[syn.post - state.neurons], excitatory), inc, syn.remainder);
}

StepKernels EventStepKernels() {
    return StepKernels{&EventUpdateChunk, &EventFireApplyRange, &FireLearnRange, &ApplyStimulus};
}

// ---- 6. Synapse state on demand -------------------------------------------------------------------------------

SynapseValues EventSynapseValues(const Simulation& state, const Neuron& post, bool excitatory, uint32_t lane,
                                 int32_t step) {
    const LaneRef ref = LaneOf(post, excitatory, lane);
    const uint32_t k = lane % 4;
    const int32_t gapSigned = static_cast<int32_t>(static_cast<uint32_t>(step) -
                                                   static_cast<uint32_t>(ref.weights->updatedStep[k]));
    const uint32_t gap = gapSigned > 0 ? static_cast<uint32_t>(gapSigned) : 0u;
    const KindFactors f = excitatory ? ExcitatoryFactors(state.params) : InhibitoryFactors(state.params);
    const SlotState x =
        Advance(LoadSlot(*ref.state, k), gap, excitatory ? state.eventEngine->exc : state.eventEngine->inh, f);
    return {x.r, x.u, x.gFast, x.gSlow};
}

int32_t EventSlotStep(const Neuron& post, bool excitatory, uint32_t lane) {
    return LaneOf(post, excitatory, lane).weights->updatedStep[lane % 4];
}
