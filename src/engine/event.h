// The event engine: the same model as the exact engine, with work only where a
// spike arrives.
//
// Sections:
//   1. The event state of a network
//   2. Step kernels
//   3. Synapse state on demand
//
// How the model is rearranged:
//   - Conductances per neuron. All synapses of one kind of one neuron decay by the
//     same factors, so their summed gFast (gSlow) is one value per neuron, kept in
//     gAmpa/gNmda (excitatory input) and gGabaA/gGabaB (inhibitory): each step
//     G <- G - k*G + the increments that arrive in the step. An increment of a full
//     group is not decayed in its arrival step, one of a remainder slot (1, 2 or 3
//     synapses) is decayed once, as the exact engine orders them.
//   - Short-term plasticity in closed form. Between arrivals R relaxes towards 1 by
//     (1 - kD) per step and u towards cF/bF by (1 - bF), and g decays by (1 - k). A
//     synapse's lane state (R, u, gFast, gSlow) is valid after the integration of
//     the step in its block's `updatedStep` slot. The delivery that sends a spike
//     (fire phase of step s, on the pre-synaptic neuron's thread, after the
//     depression that may change w) advances the state to the arrival step s + 1
//     with a table of powers, applies the spike in the order of the slot's class,
//     stores the state as of s + 1, and adds the increment to the post-synaptic
//     neuron's input for that step.
//   - The inputs are sums of 64-bit fixed-point amounts (2^-40 nS) added with
//     atomic adds (EventInputs). Integer addition does not depend on order, so the result is the
//     same on any number of threads; the fixed point loses about 1e-12 nS.
// Delay lines, delivery times, STDP and the stimulus are the exact engine's.
#pragma once

#include <cstdint>

#include "engine/network.h"
#include "engine/work_manager.h"

struct Simulation;
struct SimParams;

// ---- 1. Event state ------------------------------------------------------------------------------
inline constexpr uint32_t kEventPowerSteps = 2048;  // gaps up to 1 s come from the tables

// (1 - factor)^n of one synapse kind for n in [0, kEventPowerSteps), the four
// factors of one n side by side (one cache line serves a whole advance).
struct EventPowers {
    float recovery;    // R towards 1: (1 - kD)^n
    float relaxation;  // u towards cF/bF: (1 - bF)^n
    float fastDecay;   // gFast: (1 - kFast)^n
    float slowDecay;   // gSlow: (1 - kSlow)^n
};

// A neuron's inputs for its next integration, in 2^-40 nS: per kind the sum of
// the full groups' increments and the sum of the remainder slots' increments,
// which the integration decays once by each receptor's factor. Two neurons per
// cache line.
struct alignas(32) EventInputs {
    int64_t excFull, excRemainder;
    int64_t inhFull, inhRemainder;
};

struct EventEngine {
    EventPowers exc[kEventPowerSteps];
    EventPowers inh[kEventPowerSteps];
    EventInputs* input;  // [neuronCount]
};

// Allocates the event state for the network in state (tables from state.params)
// and converts the network's state after construction and warm-up: arrivals that
// the warm-up left flagged for the coming step are applied as deliveries, and
// every synapse's lane state becomes valid at stepCounter - 1. Inside a build a
// lack of memory throws BuildFailure (NetworkAlloc).
void EnterEventMode(Simulation& state);
// Frees the event state (nothing when there is none).
void ReleaseEventEngine(Simulation& state);

// ---- 2. Step kernels -------------------------------------------------------------------------------
// Integration for neurons [first, end): conductance decay plus the step's inputs,
// then the membrane step. Reads and clears only those neurons' inputs.
void EventUpdateChunk(Simulation& state, uint32_t first, uint32_t end);
// The delivery of a spike to one outgoing synapse in the fire phase of step s:
// depression, then the arrival, its increment added to the post-synaptic input;
// and the lines it touches (the phase loop fetches them a few deliveries ahead).
// EventFireApplyRange is the exact engine's sub-phase (a) with these deliveries.
void EventDeliverSynapse(Simulation& state, Synapse& synapse, int32_t s);
void EventPrefetchDelivery(const Simulation& state, const Synapse& synapse);
uint32_t EventFireApplyRange(Simulation& state, uint32_t first, uint32_t end, int32_t s);
StepKernels EventStepKernels();

// ---- 3. Synapse state on demand ----------------------------------------------------------------------
struct SynapseValues {
    float available, utilization, gFast, gSlow;
};
// R, u, gFast and gSlow of lane `lane` of the post-synaptic neuron's synapses of
// one kind, after the integration of `step`. A spike delivered in the fire phase
// of `step` has already been applied for step + 1 (EventSlotStep tells): such a
// slot gives its values after that arrival.
SynapseValues EventSynapseValues(const Simulation& state, const Neuron& post, bool excitatory,
                                 uint32_t lane, int32_t step);
// The step the slot's stored state is valid at.
int32_t EventSlotStep(const Neuron& post, bool excitatory, uint32_t lane);
