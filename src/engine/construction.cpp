// Network construction: memory, STDP tables, per-neuron storage, sorted synapse
// lists, four-synapse lane blocks, the warm-up, and release.
//
// Sections:
//   1. Memory: counted allocations and the arena of per-neuron arrays
//   2. Formulas: delay-line length, STDP tables, comparators
//   3. Per-neuron storage and lane initialisation
//   4. Lists and lanes (after wiring)
//   5. Warm-up
//   6. BuildNetwork and ReleaseNetwork
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "engine/dynamics.h"
#include "engine/event.h"
#include "engine/geometry.h"
#include "engine/random.h"
#include "engine/simulation.h"
#include "platform/log.h"

namespace {

constexpr const char* kNeuronMemoryMessage = "Unable to allocate memory for the neural network!";
constexpr const char* kStdpMemoryMessage = "Unable to allocate memory for the STDP calculation data!";
constexpr const char* kSynapseMemoryMessage = "Unable to allocate memory for synaptic data!\n";
constexpr const char* kNeuronStorageMessage =
    "Unable to allocate memory for the synapses and delay lines of the neurons!";

// Largest network a build accepts: box cell indices are formed in 32 bits.
constexpr uint64_t kMaxNeurons = 1u << 26;
// Longest delay line (steps); only absurd lengths or velocities reach it.
constexpr uint32_t kMaxDelayLength = 1u << 20;

}  // namespace

// ---- 1. Memory ------------------------------------------------------------------------------

void* NetworkAlloc(Simulation& state, uint64_t bytes, const char* failureMessage) {
    void* p = bytes <= SIZE_MAX ? plat::AlignedAllocZeroed(static_cast<size_t>(bytes)) : nullptr;
    if (!p) throw BuildFailure{failureMessage};
    state.MemoryUsage += bytes;
    return p;
}

// The per-neuron arrays are carved, in the order they are requested (neuron order),
// from large zeroed blocks: neighbours in the array are neighbours in memory, and
// a build makes a few hundred allocations instead of millions.
struct ArenaBlock {
    ArenaBlock* next;
    uint32_t pool;
};
// Four pools: the lane blocks, which the integration phase streams through every
// step; the delay lines, which the fire phase reads for every neuron every step;
// the synapse records and lists; and everything else. Each stream then runs
// through memory without gaps, and the event engine frees the exact engine's
// synapses (lanes and records) once it has its own.
enum ArenaPool { PoolGeneral = 0, PoolLanes = 1, PoolDelay = 2, PoolSynapses = 3, PoolCount = 4 };
struct NetworkArena {
    ArenaBlock* blocks = nullptr;
    uint8_t* cursor[PoolCount] = {};
    uint8_t* end[PoolCount] = {};
    uint64_t bytes[PoolCount] = {};  // counted in MemoryUsage
};

namespace {

constexpr size_t kArenaBlockBytes = size_t(16) << 20;
constexpr size_t kArenaHeaderBytes = 64;  // keeps the first carved array on a cache line

uint8_t* NewArenaBlock(NetworkArena& arena, size_t payload, const char* failureMessage, ArenaPool pool) {
    // calloc hands out fresh zero pages for blocks this large without clearing
    // them again; its blocks are 16-byte aligned, and the carving aligns further.
    auto* block = static_cast<ArenaBlock*>(std::calloc(1, kArenaHeaderBytes + payload));
    if (!block) throw BuildFailure{failureMessage};
    block->next = arena.blocks;
    block->pool = pool;
    arena.blocks = block;
    return reinterpret_cast<uint8_t*>(block) + kArenaHeaderBytes;
}

// Zeroed, `alignment`-aligned (16 or 64) and counted; null for 0 bytes.
void* ArenaAlloc(Simulation& state, size_t bytes, size_t alignment, const char* failureMessage,
                 ArenaPool pool = PoolGeneral) {
    if (bytes == 0) return nullptr;
    if (!state.arena) {
        state.arena = static_cast<NetworkArena*>(plat::AlignedAllocZeroed(sizeof(NetworkArena)));
        if (!state.arena) throw BuildFailure{failureMessage};
    }
    NetworkArena& arena = *state.arena;
    const size_t rounded = (bytes + 15) & ~size_t(15);
    state.MemoryUsage += rounded;
    arena.bytes[pool] += rounded;
    if (rounded + alignment > kArenaBlockBytes / 4) {  // large arrays get a block of their own
        return NewArenaBlock(arena, rounded, failureMessage, pool);
    }
    auto align = [&](uint8_t* p) {
        return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + alignment - 1) &
                                          ~(uintptr_t(alignment) - 1));
    };
    uint8_t*& cursor = arena.cursor[pool];
    uint8_t* p = cursor ? align(cursor) : nullptr;
    if (!p || p + rounded > arena.end[pool]) {
        cursor = NewArenaBlock(arena, kArenaBlockBytes, failureMessage, pool);
        arena.end[pool] = cursor + kArenaBlockBytes;
        p = align(cursor);
    }
    cursor = p + rounded;
    return p;
}

// Frees the blocks of one pool; its arrays must no longer be referenced.
void ReleasePool(Simulation& state, ArenaPool pool) {
    if (!state.arena) return;
    NetworkArena& arena = *state.arena;
    for (ArenaBlock** link = &arena.blocks; *link;) {
        ArenaBlock* b = *link;
        if (b->pool == static_cast<uint32_t>(pool)) {
            *link = b->next;
            std::free(b);
        } else {
            link = &b->next;
        }
    }
    arena.cursor[pool] = arena.end[pool] = nullptr;
    state.MemoryUsage -= arena.bytes[pool];
    arena.bytes[pool] = 0;
}

void ReleaseArena(Simulation& state) {
    if (!state.arena) return;
    for (ArenaBlock* b = state.arena->blocks; b;) {
        ArenaBlock* next = b->next;
        std::free(b);
        b = next;
    }
    plat::AlignedFree(state.arena);
    state.arena = nullptr;
}

}  // namespace

// ---- 2. Formulas ---------------------------------------------------------------------------

uint32_t DelayLengthForAxon(float axonLength, float velocityMyelinated) {
    // Length in mm over mm per 0.5 ms step, in float, truncated toward zero.
    const float steps = axonLength / (0.5f * velocityMyelinated);
    if (!(steps >= 1.0f)) return 1;  // also NaN and negative
    if (steps >= static_cast<float>(kMaxDelayLength)) return kMaxDelayLength;
    return static_cast<uint32_t>(steps);
}

void FillStdpTables(const SimParams& p, float* potentiation, float* depression) {
    for (uint32_t i = 0; i < kStdpWindow; ++i) {
        const double t = i * 0.5;
        const double plus = static_cast<double>(p.stdpAPlus) * t * std::exp(-t / static_cast<double>(p.stdpTauPlus));
        const double minus = static_cast<double>(p.stdpAMinus) * t * std::exp(-t / static_cast<double>(p.stdpTauMinus));
        potentiation[i] = static_cast<float>(0.000005 * (0.0000001 + std::fabs(plus)));
        depression[i] = static_cast<float>(0.000005 * (0.0000001 + std::fabs(minus)));
    }
}

// Neuron pointers compare as unsigned addresses, which within one array is index
// order. Equal neurons are ordered by lane both ways (-1 for a smaller lane): with
// 0 there, an unstable sort could swap two synapses of one pair out of lane order.
static int CompareNeuronsThenLanes(const Neuron* a, const Neuron* b, uint32_t laneA, uint32_t laneB) {
    const uintptr_t pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);
    if (pa != pb) return pa > pb ? 1 : -1;
    if (laneA != laneB) return laneA > laneB ? 1 : -1;
    return 0;
}

int CompareSynapseByPre(const Synapse& a, const Synapse& b) {
    return CompareNeuronsThenLanes(a.pre, b.pre, a.lane, b.lane);
}

int CompareSynapseRefByPost(const Synapse* a, const Synapse* b) {
    return CompareNeuronsThenLanes(a->post, b->post, a->lane, b->lane);
}

// ---- 3. Per-neuron storage and lanes -----------------------------------------------------------

void InitNeuronStorage(Simulation& state, Neuron& n, uint32_t incomingCapacity, float axonLength) {
    const SimParams& p = state.params;
    n.vPeak = kSpikeThreshold;
    n.v = -65.0f;
    n.u = -14.0f;
    n.lastSpikeStep = -1;
    n.isHeld = 0;

    // The delivery and group loops count in 8 bits. The outgoing lists are sized
    // once the wiring has counted them (AllocateOutgoingLists).
    n.incomingCapacity = std::min(incomingCapacity, kMaxSynapsesPerNeuron);
    n.incomingCount = n.outgoingCount = n.excIncomingCount = n.inhIncomingCount = 0;
    const uint32_t length = DelayLengthForAxon(axonLength, p.velocityMyelinated);
    n.delayLength = length;
    n.delayIndex = length - 1;
    if (!KeepsNeuron(state, static_cast<uint32_t>(&n - state.neurons))) return;  // counts only
    n.incoming = static_cast<Synapse*>(
        ArenaAlloc(state, n.incomingCapacity * sizeof(Synapse), 16, kNeuronStorageMessage, PoolSynapses));
    for (uint32_t k = 0; k < n.incomingCapacity; ++k) n.incoming[k].arrivalStep = -1;
    n.delayV = static_cast<float*>(
        ArenaAlloc(state, length * sizeof(float), 16, kNeuronStorageMessage, PoolDelay));
    n.delayFiltered = static_cast<float*>(
        ArenaAlloc(state, length * sizeof(float), 16, kNeuronStorageMessage, PoolDelay));
}

// One slot of a lane block; the random draw (one, only when randomising) is in double.
static void InitLane(RandomGeneratorState& rng, SynapseLaneWeights& weights, SynapseLaneState& lane, uint8_t slot, float initial,
                     float maximum, bool randomize) {
    lane.available[slot] = 0.5f;
    lane.utilization[slot] = 0.5f;
    weights.arrived[slot] = 0;
    weights.weightDelta[slot] = 0.0f;
    float w = initial;
    if (randomize) {
        const double r = Random01(rng);
        w = static_cast<float>(static_cast<double>(initial) +
                               (static_cast<double>(maximum) - static_cast<double>(initial)) * r);
        w = std::min(maximum, w);
    }
    weights.weight[slot] = w;
}

void InitExcitatoryLane(Simulation& state, SynapseLaneWeights& weights, SynapseLaneState& lane, uint8_t slot) {
    const SimParams& p = state.params;
    InitLane(state.random, weights, lane, slot, p.excWeightInitial, p.excWeightMax, p.randomizeExcWeights != 0);
}

void InitInhibitoryLane(Simulation& state, SynapseLaneWeights& weights, SynapseLaneState& lane, uint8_t slot) {
    const SimParams& p = state.params;
    InitLane(state.random, weights, lane, slot, p.inhWeightInitial, p.inhWeightMax, p.randomizeInhWeights != 0);
}

// ---- 4. Lists and lanes ---------------------------------------------------------------------------

namespace {

// State blocks followed directly by weight blocks, in one allocation.
void AllocateLanes(Simulation& state, uint32_t count, SynapseLaneState*& laneState,
                   SynapseLaneWeights*& laneWeights) {
    const uint32_t groups = (count + 3) / 4;  // full groups plus one for a remainder
    const size_t bytes = groups * (sizeof(SynapseLaneState) + sizeof(SynapseLaneWeights));
    auto* base = static_cast<uint8_t*>(ArenaAlloc(state, bytes, 64, kSynapseMemoryMessage, PoolLanes));
    laneState = reinterpret_cast<SynapseLaneState*>(base);
    laneWeights = base ? reinterpret_cast<SynapseLaneWeights*>(base + groups * sizeof(SynapseLaneState)) : nullptr;
}

// Lane i of a kind's list: its flag pointer and lane number, and the initial
// values of slot i % 4 of group i / 4, in lane order.
void AssignLanes(Simulation& state, Synapse* const* list, uint32_t count,
                 SynapseLaneWeights* weights, SynapseLaneState* lanes,
                 void (*initLane)(Simulation&, SynapseLaneWeights&, SynapseLaneState&, uint8_t)) {
    for (uint32_t lane = 0; lane < count; ++lane) {
        Synapse& s = *list[lane];
        const uint32_t g = lane / 4;
        const uint8_t slot = static_cast<uint8_t>(lane % 4);
        s.arrivedFlag = &weights[g].arrived[slot];
        s.lane = lane;
        s.stateOffset = static_cast<int32_t>(reinterpret_cast<uint8_t*>(&lanes[g]) -
                                             reinterpret_cast<uint8_t*>(&weights[g]));
        s.remainder = static_cast<uint8_t>(g < count / 4 ? 0 : count % 4);
        initLane(state, weights[g], lanes[g], slot);
    }
}

// Outgoing lists sized by the wiring's counts of the synapses kept; CompleteNeuron
// fills them.
void AllocateOutgoingLists(Simulation& state) {
    for (uint32_t i = 0; i < state.neuronCount; ++i) {
        Neuron& n = state.neurons[i];
        n.outgoingCapacity = n.outgoingCount;
        n.outgoingCount = 0;
        n.outgoing = static_cast<Synapse**>(
            ArenaAlloc(state, n.outgoingCapacity * sizeof(Synapse*), 16, kNeuronStorageMessage, PoolSynapses));
    }
}

void CompleteNeuron(Simulation& state, Neuron& n) {
    // Outgoing lists are appended in neuron order below, so they come out ordered
    // by post-synaptic neuron and lane; sorting what is there keeps that true.
    std::sort(n.outgoing, n.outgoing + n.outgoingCount,
              [](const Synapse* a, const Synapse* b) { return CompareSynapseRefByPost(a, b) < 0; });

    n.excBlocks8 = n.excIncomingCount / 8;
    n.excBlocks4 = (n.excIncomingCount % 8) / 4;
    n.excGroups = n.excIncomingCount / 4;
    n.inhBlocks8 = n.inhIncomingCount / 8;
    n.inhBlocks4 = (n.inhIncomingCount % 8) / 4;
    n.inhGroups = n.inhIncomingCount / 4;
    if (!KeepsNeuron(state, static_cast<uint32_t>(&n - state.neurons))) {
        // Another process's neuron: only the draws of its lanes' initial weights.
        const SimParams& p = state.params;
        const uint32_t draws = (p.randomizeExcWeights != 0 ? n.excIncomingCount : 0) +
                               (p.randomizeInhWeights != 0 ? n.inhIncomingCount : 0);
        for (uint32_t k = 0; k < draws; ++k) Random01(state.random);
        return;
    }
    std::sort(n.incoming, n.incoming + n.incomingCount,
              [](const Synapse& a, const Synapse& b) { return CompareSynapseByPre(a, b) < 0; });

    n.excIncoming = static_cast<Synapse**>(
        ArenaAlloc(state, n.excIncomingCount * sizeof(Synapse*), 16, kSynapseMemoryMessage, PoolSynapses));
    n.inhIncoming = static_cast<Synapse**>(
        ArenaAlloc(state, n.inhIncomingCount * sizeof(Synapse*), 16, kSynapseMemoryMessage, PoolSynapses));
    AllocateLanes(state, n.excIncomingCount, n.excLaneState, n.excLaneWeights);
    AllocateLanes(state, n.inhIncomingCount, n.inhLaneState, n.inhLaneWeights);

    uint32_t exc = 0, inh = 0;
    for (uint32_t k = 0; k < n.incomingCount; ++k) {
        Synapse& s = n.incoming[k];
        Neuron& pre = *s.pre;
        if (pre.outgoingCount >= pre.outgoingCapacity)  // the builders never make more
            throw BuildFailure{"Outgoing synapse list of a neuron overflowed during construction!"};
        pre.outgoing[pre.outgoingCount++] = &s;
        if (pre.isExcitatory)
            n.excIncoming[exc++] = &s;
        else
            n.inhIncoming[inh++] = &s;
    }
    AssignLanes(state, n.excIncoming, n.excIncomingCount, n.excLaneWeights, n.excLaneState,
                &InitExcitatoryLane);
    AssignLanes(state, n.inhIncoming, n.inhIncomingCount, n.inhLaneWeights, n.inhLaneState,
                &InitInhibitoryLane);
}

}  // namespace

// ---- 5. Warm-up ------------------------------------------------------------------------------

namespace {

// The warm-up's spike: it acts in the coming integration, without depression.
void WarmUpDeliver(const Neuron& n, int32_t s) {
    for (uint32_t k = 0; k < n.outgoingCount; ++k) {
        *n.outgoing[k]->arrivedFlag = 1;
        n.outgoing[k]->arrivalStep = s + 1;
    }
}

// One pass over neurons [first, end) in blocks of eight; the ids whose delay line
// let a spike out go to `delivered` when given.
void WarmUpBlocks(Simulation& state, uint32_t first, uint32_t end, int32_t s, std::vector<uint32_t>* delivered) {
    Neuron* neurons = state.neurons;
    // Blocks of eight; the last block is shorter when the count is not a multiple.
    for (uint32_t block = first; block < end; block += 8) {
        const uint32_t blockEnd = std::min(block + 8, end);
        // Computes conductances, vNext and uNext; v and u change here only by resets.
        UpdateChunk(state, block, blockEnd);
        for (uint32_t i = block; i < blockEnd; ++i) {
            Neuron& n = neurons[i];
            // Delay line as in the fire phase.
            if (AdvanceDelayLine(n)) {
                WarmUpDeliver(n, s);
                if (delivered != nullptr) delivered->push_back(i);
            }
            if (n.v >= n.vPeak) {
                n.v = n.c;
                n.lastSpikeStep = s;
                ++n.spikeCount;
                n.u = n.u + n.d;
            }
        }
    }
}

}  // namespace

void WarmUpNetwork(Simulation& state) {
    Neuron* neurons = state.neurons;
    const uint32_t count = state.neuronCount;
    for (uint32_t i = 0; i < count; ++i) {
        const float r = static_cast<float>(Random01(state.random));
        neurons[i].v = 70.0f - 140.0f * r;  // uniform in [-70, 70] mV, single precision
    }
    // The step counter is read, not advanced: the warm-up happens before step S.
    const int32_t s = static_cast<int32_t>(state.stepCounter.load());
    const Distribution& d = state.distribution;
    if (!d.shareOnly || d.ranks <= 1) {
        for (int pass = 0; pass < 20; ++pass) WarmUpBlocks(state, 0, count, s, nullptr);
        return;
    }
    // A process that keeps only its share steps its own blocks when the passes
    // reach them: in every pass the processes take turns in id order, and each
    // hands the others the ids whose spikes it let out. A spike onto a later
    // process's neuron then acts in that pass, one onto an earlier process's in the
    // next, as in one process (the flags it sets are the same whoever sets them).
    std::vector<uint32_t> ids;
    ids.reserve(count);  // a turn's own ids, then every process's
    std::vector<uint64_t> noDue((count + 63) / 64, 0);
    for (int pass = 0; pass < 20; ++pass) {
        for (uint32_t turn = 0; turn < d.ranks; ++turn) {
            ids.clear();
            if (turn == d.rank) WarmUpBlocks(state, state.shareFirst, state.shareEnd, s, &ids);
            const auto mine = static_cast<uint32_t>(ids.size());
            ids.resize(count);  // room for every process's ids (theirs are the turn's only)
            std::fill(noDue.begin(), noDue.end(), 0);
            StepExchange x{static_cast<uint32_t>(s), state.shareFirst, state.shareEnd, ids.data(), mine,
                           noDue.data(), static_cast<uint32_t>(noDue.size()), false};
            d.exchange(d.context, x);
            if (turn != d.rank)
                for (uint32_t k = 0; k < x.firedCount; ++k) WarmUpDeliver(neurons[ids[k]], s);
        }
    }
}

// ---- 6. Build and release -----------------------------------------------------------------------

namespace {

// Whether the warm-up hands spikes between the processes of a distributed run.
bool HandsOffWarmUp(const Simulation& s) {
    const Distribution& d = s.distribution;
    return d.shareOnly && d.ranks > 1 && d.agree != nullptr && d.exchange != nullptr;
}

// The event engine keeps its own synapses: the exact engine's lane blocks,
// records and lists go (the counts stay).
void ReleaseExactSynapses(Simulation& state) {
    for (uint32_t i = 0; i < state.neuronCount; ++i) {
        Neuron& n = state.neurons[i];
        n.excLaneState = n.inhLaneState = nullptr;
        n.excLaneWeights = n.inhLaneWeights = nullptr;
        n.incoming = nullptr;
        n.outgoing = n.excIncoming = n.inhIncoming = nullptr;
    }
    ReleasePool(state, PoolLanes);
    ReleasePool(state, PoolSynapses);
}

void BuildOrThrow(Simulation& state, bool& agreedBeforeWarmUp) {
    SimParams& p = state.params;
    state.buildOrigin = BuildOrigin{p, state.random};  // what a rebuild starts from
    state.MemoryUsage = 0;

    // 1. Analysis buffers and the FFT configuration.
    InitActivityAnalysis(state);

    // 2-3. STDP kernel tables.
    state.stdpPotentiation = static_cast<float*>(NetworkAlloc(state, kStdpWindow * sizeof(float), kStdpMemoryMessage));
    state.stdpDepression = static_cast<float*>(NetworkAlloc(state, kStdpWindow * sizeof(float), kStdpMemoryMessage));
    FillStdpTables(p, state.stdpPotentiation, state.stdpDepression);

    // 4. The neuron array. A box holds one neuron per grid cell, whatever the
    // stored count says.
    uint64_t count = p.neuronCount;
    if (p.geometryKind != GeometrySphere) count = static_cast<uint64_t>(p.gridX) * p.gridY * p.gridZ;
    if (count > kMaxNeurons) throw BuildFailure{kNeuronMemoryMessage};
    p.neuronCount = static_cast<uint32_t>(count);
    state.neurons = static_cast<Neuron*>(NetworkAlloc(state, count * sizeof(Neuron), kNeuronMemoryMessage));
    state.neuronCount = p.neuronCount;
    state.spiked = static_cast<uint8_t*>(NetworkAlloc(state, count, kNeuronMemoryMessage));
    if (state.distribution.ranks > 1)
        state.dueNow = static_cast<uint64_t*>(NetworkAlloc(state, (uint64_t{count} + 63) / 64 * 8, kNeuronMemoryMessage));
    state.firedIds = static_cast<uint32_t*>(NetworkAlloc(state, count * sizeof(uint32_t), kNeuronMemoryMessage));
    state.firedCount = 0;
    DeriveParams(p);
    state.viewNeurons.store(state.neurons);
    ShareOfNeurons(state.neuronCount, state.distribution.rank, state.distribution.ranks, state.shareFirst,
                   state.shareEnd);

    // 5-6. Normalised parameters, then placement and wiring.
    NormalizeParams(p);
    if (p.geometryKind == GeometrySphere)
        BuildSphereGeometry(state);
    else
        BuildBoxGeometry(state);

    // 7. Sorted lists, class lists and lane blocks, in neuron order.
    AllocateOutgoingLists(state);
    uint64_t total = 0;
    for (uint32_t i = 0; i < state.neuronCount; ++i) {
        CompleteNeuron(state, state.neurons[i]);
        total += state.neurons[i].incomingCount;
    }

    // 8-9. The warm-up is the exact engine's in both modes: the same starting state.
    // A process that keeps only its share hands spikes to the others in it: first
    // every process learns whether all of them got this far.
    if (HandsOffWarmUp(state)) {
        agreedBeforeWarmUp = true;
        if (!state.distribution.agree(state.distribution.context, true)) throw BuildFailure{kOtherProcessBuildMessage};
    }
    WarmUpNetwork(state);
    if (p.engineMode == EngineEvent) {
        EnterEventMode(state);
        ReleaseExactSynapses(state);
    }
    p.synapseCount = static_cast<uint32_t>(total);
    state.Log(LogInfo, "Created simulation with %d neurons and %d synapses", static_cast<int>(state.neuronCount),
               static_cast<int>(total));
}

}  // namespace

std::string BuildNetwork(Simulation& state) {
    const plat::FlushToZeroScope flushToZero;  // the warm-up steps the network
    bool agreedBeforeWarmUp = false;
    std::string error;
    try {
        BuildOrThrow(state, agreedBeforeWarmUp);
        return "";
    } catch (const BuildFailure& failure) {
        error = failure.message;
    } catch (const std::bad_alloc&) {
        error = kNeuronMemoryMessage;
    }
    ReleaseNetwork(state);
    // The others wait for this process's word before their warm-up.
    if (HandsOffWarmUp(state) && !agreedBeforeWarmUp) state.distribution.agree(state.distribution.context, false);
    return error;
}

void RefuseDistributedBuild(Simulation& state) {
    const Distribution& d = state.distribution;
    if (d.agree == nullptr) return;
    if (HandsOffWarmUp(state)) d.agree(d.context, false);
    d.agree(d.context, false);
}

void ReleaseNetwork(Simulation& state) {
    ReleaseActivityAnalysis(state);
    ReleaseEventEngine(state);
    state.viewNeurons.store(nullptr);
    Neuron* neurons = state.neurons;
    if (neurons) {
        for (uint32_t i = 0; i < state.neuronCount; ++i) {
            Neuron& n = neurons[i];
            n.excLaneState = n.inhLaneState = nullptr;
            n.excLaneWeights = n.inhLaneWeights = nullptr;
            n.incoming = nullptr;
            n.outgoing = n.excIncoming = n.inhIncoming = nullptr;
            n.delayV = n.delayFiltered = nullptr;
        }
    }
    ReleaseArena(state);
    plat::AlignedFree(neurons);
    plat::AlignedFree(state.stdpPotentiation);
    plat::AlignedFree(state.stdpDepression);
    plat::AlignedFree(state.spiked);
    state.spiked = nullptr;
    plat::AlignedFree(state.dueNow);
    state.dueNow = nullptr;
    plat::AlignedFree(state.firedIds);
    state.firedIds = nullptr;
    state.firedCount = 0;
    state.neurons = nullptr;
    state.neuronCount = 0;
    state.stdpPotentiation = nullptr;
    state.stdpDepression = nullptr;
    state.MemoryUsage = 0;
}
