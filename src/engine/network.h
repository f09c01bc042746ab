// The network's memory layout and its construction.
//
// Sections:
//   1. Synapse lane blocks (four synapses side by side)
//   2. Synapse and Neuron records
//   3. Construction and release
//
// Every array here is allocated once per build, 16-byte aligned and zero-filled,
// and counted in Simulation::MemoryUsage; nothing is allocated while the network runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Simulation;
struct Neuron;

// ---- 1. Lane blocks ---------------------------------------------------------------------
// Synapse i of a kind lives in block i / 4, slot i % 4 of both records.

struct alignas(16) SynapseLaneState {
    float available[4];    // R, recovers towards 1
    float utilization[4];  // u, relaxes towards U
    float gFast[4];        // AMPA or GABAa conductance of the synapse
    float gSlow[4];        // NMDA or GABAb conductance of the synapse
};
static_assert(sizeof(SynapseLaneState) == 64);

struct alignas(16) SynapseLaneWeights {
    union {
        uint8_t arrived[4];      // exact engine: 1 when a spike acts in the coming integration
        int32_t updatedStep[4];  // event engine: the step the slot's lane state is valid at
    };
    float weight[4];        // w
    float weightDelta[4];   // D, the STDP accumulator
};
static_assert(sizeof(SynapseLaneWeights) == 48);

// ---- 2. Synapse and Neuron ----------------------------------------------------------------

// Stored in its post-synaptic neuron's incoming array.
struct Synapse {
    uint8_t* arrivedFlag;  // the synapse's byte in its lane block's `arrived`
    int32_t arrivalStep;   // step whose integration the last spike acted in; -1 none
    int32_t stateOffset;   // bytes from its lane-weights block to its lane-state block
    Neuron* pre;
    Neuron* post;
    uint32_t lane;       // position in post's excIncoming or inhIncoming
    uint8_t remainder;   // 0 in a full group, else the size (1..3) of its remainder block
};
static_assert(sizeof(Synapse) == 40);

// The lane blocks of a synapse, from its flag pointer and offsets: a delivery needs
// no visit to the post-synaptic neuron's lane pointers.
static_assert(offsetof(SynapseLaneWeights, arrived) == 0);  // the flags open the block
inline SynapseLaneWeights& LaneWeightsOf(const Synapse& s) {
    return *reinterpret_cast<SynapseLaneWeights*>(s.arrivedFlag - s.lane % 4);
}
inline SynapseLaneState& LaneStateOf(const Synapse& s) {
    return *reinterpret_cast<SynapseLaneState*>(s.arrivedFlag - s.lane % 4 + s.stateOffset);
}

enum NeuronClass : uint8_t {
    NeuronClassRS = 0,   // "RS (Regular Spiking)"
    NeuronClassIB = 1,   // "IB (Intrinsically Bursting)"
    NeuronClassCH = 2,   // "CH (Chattering)"
    NeuronClassFS = 3,   // "FS (Fast Spiking)"
    NeuronClassLTS = 4,  // "LTS (Low Threshold Spiking)"
};

// The fields are grouped by the phase that reads them, one cache line each, so
// that a phase moves as few lines as it can:
//   line 0: what the fire phase reads for every neuron in every step (and the
//           spike time that deliveries to the neuron read);
//   line 1: the integration's parameters, conductances and lane blocks;
//   line 2: counts, and the lists a spike walks;
//   line 3: construction-time lists and positions.
struct alignas(64) Neuron {
    float v, u;
    float vNext, uNext;
    float vPeak;
    float vEnvelope, vEnvelopeView;
    uint32_t delayLength;   // L >= 1, axonal delay in steps
    uint32_t delayIndex;
    float lastFiltered;
    float* delayV;          // [L] past membrane potentials
    float* delayFiltered;   // [L] low-pass filtered potentials
    int32_t lastSpikeStep;  // -1 none
    uint8_t isHeld;
    uint8_t neuronClass;

    float a, b, c, d;
    float gAmpa, gNmda, gGabaA, gGabaB;
    SynapseLaneState* excLaneState;
    SynapseLaneWeights* excLaneWeights;  // directly after the state blocks
    SynapseLaneState* inhLaneState;
    SynapseLaneWeights* inhLaneWeights;

    uint32_t excBlocks8, excBlocks4, excGroups;
    uint32_t inhBlocks8, inhBlocks4, inhGroups;
    uint32_t incomingCount, outgoingCount, excIncomingCount, inhIncomingCount;
    uint32_t isExcitatory;
    uint32_t spikeCount;
    Synapse* incoming;      // [incomingCapacity], sorted by pre
    Synapse** outgoing;     // [outgoingCapacity], sorted by post, then lane

    Synapse** excIncoming;  // [excIncomingCount], lane order
    Synapse** inhIncoming;  // [inhIncomingCount], lane order
    float somaPos[3];
    float axonTerminal[3];
    uint32_t incomingCapacity;  // room in `incoming`
    uint32_t outgoingCapacity;  // room in `outgoing`
};
static_assert(offsetof(Neuron, a) == 64 && offsetof(Neuron, excBlocks8) == 128 &&
              offsetof(Neuron, excIncoming) == 192 && sizeof(Neuron) == 256);

// Most outgoing synapses and most full groups per kind: the delivery and group
// loops count in 8 bits.
inline constexpr uint32_t kMaxSynapsesPerNeuron = 255;

// ---- 3. Construction and release -------------------------------------------------------------

// Builds the whole network from state.params and state.random. Logs "Created
// simulation with %d neurons and %d synapses". On failure (memory missing, a
// network too large) it releases what it made and returns the message; "" when built.
// A process of a distributed run that keeps only its share agrees with the others
// before the warm-up (Distribution::agree); the caller agrees on the outcome.
std::string BuildNetwork(Simulation& state);
// For a process of a distributed run that cannot even try to build: makes the
// agreements its build would have made, with failure.
void RefuseDistributedBuild(Simulation& state);
inline constexpr const char* kOtherProcessBuildMessage =
    "Another process of the distributed run could not build its network.";
// Frees everything BuildNetwork allocated and clears every pointer to it.
void ReleaseNetwork(Simulation& state);

// Thrown inside a build when it cannot go on; BuildNetwork returns the message.
struct BuildFailure {
    const char* message;
};

// 16-byte aligned, zeroed allocation counted in state.MemoryUsage; throws
// BuildFailure{failureMessage} when memory is missing (only inside BuildNetwork).
void* NetworkAlloc(Simulation& state, uint64_t bytes, const char* failureMessage);

void InitNeuronStorage(Simulation& state, Neuron& neuron, uint32_t incomingCapacity, float axonLength);
void InitExcitatoryLane(Simulation& state, SynapseLaneWeights& weights, SynapseLaneState& lane, uint8_t slot);
void InitInhibitoryLane(Simulation& state, SynapseLaneWeights& weights, SynapseLaneState& lane, uint8_t slot);
void WarmUpNetwork(Simulation& state);

// Orders Synapse records by pre-synaptic neuron (as addresses), then lane, and
// Synapse pointers by the pointee's post-synaptic neuron, then lane: 1 greater,
// -1 smaller, 0 equal.
int CompareSynapseByPre(const Synapse& a, const Synapse& b);
int CompareSynapseRefByPost(const Synapse* a, const Synapse* b);

// Delay-line length in steps for an axon: trunc(length / (0.5 * velocity)), at least 1.
uint32_t DelayLengthForAxon(float axonLength, float velocityMyelinated);
// The two STDP kernel tables (kStdpWindow entries each).
void FillStdpTables(const struct SimParams& params, float* potentiation, float* depression);
