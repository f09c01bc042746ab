// Neuron and synapse dynamics of one 0.5 ms step, spike delivery, axonal delays
// and STDP.
//
// A step is: integration (UpdateChunk) over all neurons; barrier; fire phase.
// The fire phase runs as two sub-phases separated by a barrier, on any number of
// threads with the same result:
//   (a) FireApplyAndSpike for every neuron: apply vNext/uNext, feed the delay
//       line, deliver arriving spikes to the outgoing synapses with depression,
//       envelope, spike test and reset;
//   (b) FireLearn for every neuron that fired in (a): lastSpikeStep and
//       potentiation of its own incoming synapses.
// In (a) a synapse is written only by its pre-synaptic neuron's thread, in (b) only
// by its post-synaptic neuron's, so no weight needs a lock or an atomic; and (b)
// touches only the neurons that fired.
#pragma once

#include <cstdint>

#include "engine/network.h"

struct Simulation;
struct Neuron;
struct Synapse;
struct StepKernels;

// Integration phase for neurons [first, end): synapse decay and recovery, arrivals,
// conductance totals, vNext and uNext. Touches only those neurons and their blocks.
void UpdateChunk(Simulation& state, uint32_t first, uint32_t end);

// A neuron's own part of sub-phase (a), around its delay line: apply vNext/uNext
// (not while held), then, after the delay line, envelope, spike test and reset.
inline void ApplyNeuronState(Neuron& n) {
    if (n.isHeld == 0) {
        n.v = n.vNext;
        n.u = n.uNext;
    }
}
inline bool EnvelopeAndSpike(Neuron& n) {
    // Rises faster than it falls; the rate is selected, not branched on (whether v
    // is above the envelope is close to random from one neuron to the next).
    const float v = n.v;
    float f = n.vEnvelope;
    const float rate = v > f ? 0.3f : 0.15f;
    f = f + rate * (v - f);
    n.vEnvelope = f;
    n.vEnvelopeView = f;
    if (!(v >= n.vPeak)) return false;
    n.v = n.c;
    n.u = n.u + n.d;
    n.spikeCount += 1;
    return true;
}

// Fire sub-phase (a) for one neuron at step s; returns whether it fired.
bool FireApplyAndSpike(Simulation& state, Neuron& neuron, int32_t s);
// Fire sub-phase (b) for a neuron that fired at step s.
void FireLearn(Simulation& state, Neuron& neuron, int32_t s);
// Both sub-phases for one neuron, in order; returns whether it fired.
bool FireNeuron(Simulation& state, Neuron& neuron, int32_t s);
// The sub-phases over neurons [first, end) as the phase loops run them: (a) notes
// in state.spiked which neurons fired and returns their number; (b) handles the
// noted ones.
uint32_t FireApplyRange(Simulation& state, uint32_t first, uint32_t end, int32_t s, uint32_t worker = 0);
void FireLearnRange(Simulation& state, uint32_t first, uint32_t end, int32_t s);
// Prefetches the delay-line slots that sub-phase (a) will touch for this neuron;
// the range loop calls it a few neurons ahead, which also fetches their records.
void PrefetchDelaySlots(const Neuron& neuron);
inline constexpr uint32_t kFirePrefetchAhead = 8;

// Delay-line step and delivery (with depression) for one neuron at step s.
void DeliverSpikes(Simulation& state, Neuron& neuron, int32_t s);
// Delay-line step for one neuron; returns true when a spike has reached the terminals.
bool AdvanceDelayLine(Neuron& neuron);
// Depression of one synapse that a spike reaches in the fire phase of step s.
void DepressSynapse(const Simulation& state, const Synapse& synapse, int32_t s);
// Potentiation of the incoming synapses of a neuron that fired at step s.
void Potentiate(Simulation& state, Neuron& neuron, int32_t s);
// Regular stimulus at the end of step s (clamps, then releases, a slab of neurons).
void ApplyStimulus(Simulation& state, uint32_t s);

// The step kernels of the network's engine: the event engine's when the network
// has an event state, else the exact engine's.
StepKernels StepKernelsFor(const Simulation& state);

// One whole step on the calling thread: integration, both fire sub-phases, then
// the end-of-step work of the worker loop (stimulus, step counter, spike history).
// Returns the number of neurons that fired.
uint64_t StepNetwork(Simulation& state);
