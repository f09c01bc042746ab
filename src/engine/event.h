// The event engine: the same model as the exact engine, with work only where a
// spike arrives, and its synapses in pre-synaptic order.
//
// Sections:
//   1. The event state of a network
//   2. Creation and release
//   3. Step kernels
//   4. Synapse state and weights on demand
//
// How the model is rearranged:
//   - Outgoing runs. The synapses of neuron i lie contiguous in `synapses`, from
//     runStart[i] to runStart[i + 1], ordered by post-synaptic neuron and lane as
//     the exact engine's outgoing lists. A delivery streams its run; it touches
//     scattered only the post-synaptic neuron's input sums and last spike step (and
//     its spike history when that neuron fired since the synapse's last arrival),
//     all in small per-neuron arrays.
//   - Conductances per neuron. All synapses of one kind of one neuron decay by the
//     same factors, so their summed gFast (gSlow) is one value per neuron, kept in
//     gAmpa/gNmda (excitatory input) and gGabaA/gGabaB (inhibitory): each step
//     G <- G - k*G + the increments that arrive in the step. An increment of a full
//     group is not decayed in its arrival step, one of a remainder slot (1, 2 or 3
//     synapses) is decayed once, as the exact engine orders them.
//   - Short-term plasticity in closed form, once per run and slot class. Between
//     arrivals R relaxes towards 1 by (1 - kD) per step and u towards cF/bF by
//     (1 - bF). The synapses of one run and slot class share R and u (EventTrain,
//     a pair per class in each of two groups), valid after the integration of the
//     run's `step`. A synapse's own conductances are not kept: only their sum per
//     neuron acts, and that is the neuron's. When a spike is due in step s,
//     sub-phase (a) advances its run's pairs to the arrival step s + 1 with a
//     table of powers and applies the spike in the order of each class; the
//     delivery in (b) forms each synapse's increment from its pair and its weight
//     and adds it to the post-synaptic neuron's input for that step.
//   - Eight synapses at a time. Where the processor has AVX2 (`wide`), a slice is
//     delivered in blocks of eight: every lane forms the pending potentiation and
//     the depression, and masks keep the right results (the same operations as
//     one at a time, so the same bits); the increments are then added to the
//     inputs in run order.
//   - Target partitions. The post-synaptic neurons are split into contiguous id
//     ranges, one per worker (up to kEventMaxPartitions). A run is ordered by
//     post-synaptic neuron, so its synapses onto one partition are a contiguous
//     slice of it (`splits`), and worker p delivers, of every run due, only its
//     slice onto partition p. No two threads write one neuron's inputs or read
//     another's spike history, and a neuron's inputs stay in the cache of the
//     thread that integrates it. Every partition walks the due runs in source
//     order, so a neuron's increments are summed in the order (source, run
//     position) on every thread count and partition: float sums, the same bits.
//   - Delivery lists. A neuron whose membrane potential after the apply step of
//     step t exceeds its peak sends a spike that reaches its terminals at step
//     t + L - 1 (L its delay-line length, the exact engine's delay line read L - 1
//     steps later). Sub-phase (a) sets its bit in the due bitmap of that step, a
//     ring of one bitmap per step, and marks the spike in the neuron's history; in
//     sub-phase (b) every partition's worker walks the step's bitmap and delivers
//     its slices, then records the spikes of its own neurons as their recent
//     spikes; the next step's integration clears the bitmap. No delay line is
//     kept, except for the neurons the inspector shows (`tracked`).
//   - Lazy potentiation. The exact engine potentiates every incoming synapse of a
//     neuron that fires at step t (sub-phase b) with potentiation[t - a], a the
//     synapse's last arrival, when 1 <= t - a < kStdpWindow. Between two arrivals of
//     a synapse a is fixed and nothing else changes its w and D, so the same updates
//     in the same order can be applied later: at the synapse's next delivery (before
//     its depression), for the post-synaptic spikes t in [a + 1, a + kStdpWindow - 1]
//     before that step. The spikes come from each neuron's last three spike steps
//     (`recent`) when at most two came since the arrival, else from a 512-step
//     bitmap of its spike steps (`history`). A synapse not delivered again within
//     the window is settled by a sweep, which visits each run every
//     kEventSweepPeriod steps and applies the pending potentiation of every
//     synapse whose window has closed; a settled synapse has no arrival
//     (`arrival` none). Readers of weights (views, histogram,
//     export, checkpoint) use EventWeight, which applies the pending updates to a
//     copy.
// Delays, delivery times, STDP and the stimulus are the exact engine's.
#pragma once

#include <algorithm>
#include <cstdint>

#include "engine/network.h"
#include "engine/params.h"
#include "engine/work_manager.h"

struct Simulation;
struct SimParams;

// ---- 1. Event state ------------------------------------------------------------------------------
inline constexpr uint32_t kEventPowerSteps = 2048;  // gaps up to 1 s come from the tables
inline constexpr uint32_t kEventHistorySteps = 512;  // spike steps a neuron's history holds
inline constexpr uint32_t kEventSweepPeriod = 256;   // steps between two sweeps of one run
static_assert(kEventSweepPeriod + kStdpWindow <= kEventHistorySteps, "the sweep settles within the history");

// (1 - factor)^n of one synapse kind for n in [0, kEventPowerSteps), the two
// factors of one n side by side.
struct EventPowers {
    float recovery;    // R towards 1: (1 - kD)^n
    float relaxation;  // u towards cF/bF: (1 - bF)^n
};

// One synapse in its pre-synaptic neuron's run: 12 bytes. Its R and u are its
// run's (EventTrain), by slot class.
//   target: bits 0-1 the slot class (0 a full group, else the size 1..3 of the
//   remainder block), bits 2-3 the arrival code (0: no arrival to potentiate from;
//   c > 0: the last arrival was at the run's step + c - 1), bits 4.. the
//   post-synaptic neuron.
struct EventSynapse {
    float w, d;  // weight and STDP accumulator (without the pending potentiation)
    uint32_t target;
};
static_assert(sizeof(EventSynapse) == 12);
inline constexpr uint32_t kEventNoArrival = 0;
inline uint32_t EventPost(const EventSynapse& e) { return e.target >> 4; }
inline uint32_t EventSlotClass(const EventSynapse& e) { return e.target & 3u; }
inline uint32_t EventArrivalCode(const EventSynapse& e) { return (e.target >> 2) & 3u; }
// The last arrival of a synapse whose arrival code counts from `step` (-1: none).
inline int32_t EventArrival(const EventSynapse& e, int32_t step) {
    const uint32_t c = EventArrivalCode(e);
    return c == 0 ? -1 : static_cast<int32_t>(static_cast<uint32_t>(step) + c - 1);
}

// The short-term state of a neuron's run. Every synapse of a run sees the same
// arrivals, and those of one slot class take them by the same arithmetic, so
// they share R and u: one pair per class, advanced once per arrival
// (EventAdvanceTrains, in sub-phase a) instead of once per synapse. The build's
// warm-up lets a spike act one pass later on the targets up to the end of its
// source's block of eight than on those after it, so the run (ordered by target)
// has two groups, parted at `split`, each with its own pairs and step. Two lines.
inline constexpr uint32_t kEventTrainPairs = 8;  // [group * 4 + slot class]
struct alignas(64) EventTrain {
    float r[kEventTrainPairs], u[kEventTrainPairs];
    float r1[4], u1[4];   // classes 2 and 3 of each group ([group * 2 + class - 2]): R and u right after
                          // the last spike, which its increment takes
    int32_t step[2];      // per group: R and u are valid after the integration of `step`
    int32_t previous[2];  // the step before the last advance: arrival codes count from it until delivered
    uint32_t split;       // run offset of the first synapse of the second group
};
static_assert(sizeof(EventTrain) == 128);
// The group and the pair of the synapse at run offset j.
inline uint32_t EventGroupOf(const EventTrain& t, uint64_t j) { return j >= t.split ? 1u : 0u; }
inline uint32_t EventPairOf(const EventTrain& t, const EventSynapse& x, uint64_t j) {
    return EventGroupOf(t, j) * 4 + EventSlotClass(x);
}
// A synapse as a file stores it: its run's R and u of its pair, and its run's step.
struct EventStoredSynapse {
    float r, u, w, d;
    int32_t step;
    uint32_t target;
};
inline EventStoredSynapse EventStored(const EventTrain& t, const EventSynapse& x, uint64_t j) {
    const uint32_t pair = EventPairOf(t, x, j);
    return {t.r[pair], t.u[pair], x.w, x.d, t.step[pair / 4], x.target};
}

// A neuron's inputs for its next integration, in nS: per kind the sum of the
// full groups' increments and the sum of the remainder slots' increments, which
// the integration decays once by each receptor's factor. Four neurons per cache
// line.
struct alignas(16) EventInputs {
    float excFull, excRemainder;
    float inhFull, inhRemainder;
};

// Bit t % kEventHistorySteps of a neuron's history is set when it fired at step t,
// for the steps from last - kEventHistorySteps + 1 to last (its last spike).
struct alignas(64) EventHistory {
    uint64_t bits[kEventHistorySteps / 64];
};

// A neuron's last spike step (-1: none) and the gaps back to the two spikes before
// it, as far as its history reaches (kEventFarGap: none there). A delivery finds
// in it every post-synaptic spike since the synapse's last arrival when there are
// at most two, without the history's line; the history is read only for more.
struct EventRecent {
    int32_t last;
    uint16_t gap1;  // last - the spike before it
    uint16_t gap2;  // that spike - the one before it
};
inline constexpr uint16_t kEventFarGap = 0xFFFF;
static_assert(kEventHistorySteps < kEventFarGap);

// The per-neuron state the steps read and write, one array per field (padded to
// a multiple of 8 neurons), so that the integration and the fire phase handle
// eight neurons at a time and stream about 70 bytes a neuron rather than three
// lines of its record. While workers step the network these arrays hold the
// state; whenever none does (parked, ended, between single-thread steps) the
// Neuron records hold it: EventStoreNeurons writes the arrays back where workers
// park or end, EventLoadNeurons takes the records up where they start or go on.
struct EventNeuronState {
    float *v, *u, *vNext, *uNext;
    float *gAmpa, *gNmda, *gGabaA, *gGabaB;
    float* envelope;                // vEnvelope (and vEnvelopeView)
    float *vPeak, *a, *b, *c, *d;   // the neuron's constants
    int32_t* held;                  // -1 while the stimulus clamps the neuron, else 0 (a lane mask)
    uint32_t* delayLength;
    uint32_t* spikeCount;
};

// Deliveries are split among at most this many workers (more wait in sub-phase b).
inline constexpr uint32_t kEventMaxPartitions = 16;
static_assert(kMaxSynapsesPerNeuron <= 255, "a slice's offsets fit in 8 bits");

struct EventEngine {
    EventPowers exc[kEventPowerSteps];
    EventPowers inh[kEventPowerSteps];
    uint32_t neuronCount;
    uint64_t synapseCount;
    EventSynapse* synapses;  // [synapseCount], run after run
    EventTrain* trains;      // [neuronCount] the runs' short-term state
    uint64_t* runStart;      // [neuronCount + 1]
    // Incoming lists: the run indices of neuron i's incoming synapses, ordered by
    // pre-synaptic neuron and lane (the exact engine's incoming order), from
    // inStart[i] to inStart[i + 1].
    uint64_t* inStart;   // [neuronCount + 1]
    uint32_t* incoming;  // [synapseCount]
    EventInputs* input;      // [neuronCount]
    // Partition p holds the post-synaptic neurons [partitionFirst[p], partitionFirst[p + 1]),
    // which together are the neurons this process steps. Neuron i's `splitStride`
    // bytes from splits + i * splitStride hold its run's start (32 bits: runStart[i])
    // and then, at byte 4 + p, the run offset of its slice onto partition p (p up to
    // partitions): a due run's slice costs one line.
    uint32_t partitions;
    uint32_t partitionFirst[kEventMaxPartitions + 1];
    uint8_t* splits;         // [neuronCount * splitStride]
    uint32_t splitStride;    // 4 + partitions + 1, rounded up to a multiple of 4
    EventRecent* recent;     // [neuronCount] the neuron's recent spikes, for deliveries
    EventHistory* history;   // [neuronCount]
    uint32_t ringSteps;      // rows of the due ring: a power of two >= the longest delay line
    uint32_t ringWords;      // 64-bit words per row
    uint64_t* due;           // [ringSteps * ringWords]
    uint8_t* tracked;        // [neuronCount] 1: keep the delay line (the inspector shows it)
    uint8_t* excitatory;     // [neuronCount] the neuron's kind, for its deliveries
    EventNeuronState neuron;  // [neuronCount rounded up to 8] each, one block from neuron.v
    uint8_t stateInArrays;    // 1 from a load of the records to the next store of them all
    uint32_t trackedNeuron;  // the inspected neuron the flags were set for (kNoTracked: none)
    uint8_t wide;            // 1: deliveries eight synapses at a time (the processor has AVX2); same bits
    uint8_t owned;           // 1: lines to be written are fetched owned (the processor has PREFETCHW)
    uint64_t bytes;          // memory of the event state
    // Synapse events delivered since the state was made (atomic adds), on a cache
    // line of its own: the fields above are read by every worker in every step.
    alignas(64) uint64_t delivered;
};
inline constexpr uint32_t kNoTracked = 0xFFFFFFFFu;

// ---- 2. Creation and release ------------------------------------------------------------------------
// Allocates the event state for the network in state (tables from state.params)
// and converts the network's state after construction and warm-up: arrivals that
// the warm-up left flagged for the coming step are applied as deliveries, every
// synapse's state becomes valid at stepCounter - 1, and the spikes that the delay
// lines hold are scheduled. Inside a build a lack of memory throws BuildFailure
// (NetworkAlloc).
void EnterEventMode(Simulation& state);
// Splits the post-synaptic neurons into one partition per worker (up to
// kEventMaxPartitions; without the memory for the splits, one). Before the
// workers start.
void EventSetWorkers(Simulation& state, uint32_t workers);
// The Neuron records from the per-neuron arrays (v, u, vNext, uNext, conductances,
// envelope, isHeld, spikeCount, lastSpikeStep), and the reverse; for one neuron,
// or for all. Only while no worker steps the network.
void EventStoreNeuron(Simulation& state, uint32_t i);
void EventStoreNeurons(Simulation& state);
void EventLoadNeurons(Simulation& state);
// The regular stimulus on neuron i: clamps it at 80 mV (hold) or releases it.
inline void EventHoldNeuron(EventEngine& e, uint32_t i, bool hold) {
    EventNeuronState& n = e.neuron;
    n.held[i] = hold ? -1 : 0;
    if (!hold) return;
    n.v[i] = 80.0f;
    n.u[i] = n.u[i] + 0.5f * n.a[i] * (80.0f * n.b[i] - n.u[i]);
}
// The due bitmap of step s ((neuronCount + 63) / 64 words).
uint64_t* EventDueRow(Simulation& state, uint32_t s);
// Advances the runs of the neurons [first, end) whose spikes are due in step s to
// the arrival s + 1. Sub-phase (a) does it for each range it handles; a
// distributed run does it for the other processes' neurons after the exchange.
void EventAdvanceTrains(Simulation& state, uint32_t first, uint32_t end, int32_t s);
// Every neuron's recent spikes from its record's lastSpikeStep and its history
// (after the history was read from a file).
void EventRecallRecent(Simulation& state);
// Frees the event state (nothing when there is none).
void ReleaseEventEngine(Simulation& state);

// ---- 3. Step kernels -------------------------------------------------------------------------------
// Integration for neurons [first, end): conductance decay plus the step's inputs,
// then the membrane step. Reads and clears only those neurons' inputs, and their
// bits of the previous step's due bitmap.
void EventUpdateChunk(Simulation& state, uint32_t first, uint32_t end);
// Sub-phase (a) for neurons [first, end) at step s: apply, schedule, envelope,
// spike test, and the spikes into the histories. Returns the spikes.
uint32_t EventFireApplyRange(Simulation& state, uint32_t first, uint32_t end, int32_t s, uint32_t worker = 0);
// Both for neurons [first, end) in one pass, eight neurons at a time, for a step
// whose integration needs no barrier before sub-phase (a).
uint32_t EventIntegrateFireRange(Simulation& state, uint32_t first, uint32_t end, int32_t s, uint32_t worker = 0);
// Sub-phase (b) for the post-synaptic neurons [first, end): the deliveries due at
// s onto them, their share of the sweep, then the recent spikes of those that
// fired. EventLearnPartition does the same for worker `worker`'s partition (none
// when the worker has none).
void EventFireLearnRange(Simulation& state, uint32_t first, uint32_t end, int32_t s);
void EventLearnPartition(Simulation& state, uint32_t worker, int32_t s);
StepKernels EventStepKernels();
// Keeps the delay lines of `inspected` and its pre-synaptic neurons from now on
// (kNoTracked: none), for the inspector's axon view, and writes those neurons'
// state to their records, which the view reads. Between steps, one thread.
void EventTrackNeuron(Simulation& state, uint32_t inspected);

// ---- 4. Synapse state on demand ----------------------------------------------------------------------
struct SynapseValues {
    float available, utilization;
};
// R and u of run synapse j after the integration of `step`. A spike
// delivered in the fire phase of `step` has already been applied for step + 1
// (its run's step tells): such a synapse gives its values after that arrival.
SynapseValues EventSynapseValues(const Simulation& state, uint64_t j, int32_t step);
// Weight and D of run synapse j with the potentiation of the post-synaptic
// spikes up to `until` applied (the network between steps: stepCounter - 1).
struct WeightValues {
    float w, d;
};
WeightValues EventWeight(const Simulation& state, uint64_t j, int32_t until);
// The same for a synapse whose pre-synaptic neuron's kind and run step (of its
// group) are known.
WeightValues EventWeightOf(const Simulation& state, const EventSynapse& x, int32_t runStep, bool excitatory,
                           int32_t until);
// The run index of the k-th incoming synapse of neuron i, and the pre-synaptic
// neuron of run synapse j.
inline uint64_t EventIncoming(const EventEngine& e, uint32_t i, uint32_t k) { return e.incoming[e.inStart[i] + k]; }
uint32_t EventPre(const EventEngine& e, uint64_t j);
// The synapses of neuron i's run onto the post-synaptic neurons [first, end): run
// offsets [lo, hi), found by search (a run is ordered by post-synaptic neuron).
struct EventSlice {
    uint32_t lo, hi;
};
inline EventSlice EventSliceOnto(const EventEngine& e, uint32_t i, uint32_t first, uint32_t end) {
    const EventSynapse* run = e.synapses + e.runStart[i];
    const uint32_t count = static_cast<uint32_t>(e.runStart[i + 1] - e.runStart[i]);
    const auto at = [run, count, &e](uint32_t post) {
        if (post == 0) return 0u;
        if (post >= e.neuronCount) return count;
        const auto before = [](const EventSynapse& x, uint32_t v) { return EventPost(x) < v; };
        return static_cast<uint32_t>(std::lower_bound(run, run + count, post, before) - run);
    };
    return {at(first), at(end)};
}
