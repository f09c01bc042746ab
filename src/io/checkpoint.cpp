// Checkpoint files over the HDF5 C library.
//
// Sections:
//   1. HDF5 helpers: ids, attributes, datasets streamed block by block
//   2. What is stored: the parameter list, the neuron values
//   3. Structure digest
//   4. Writing
//   5. Reading and restoring
#include "io/checkpoint.h"

#include <hdf5.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#include "engine/event.h"
#include "engine/synapses.h"
#include "io/hdf5_util.h"
#include "io/output_file.h"
#include "io/param_file.h"
#include "platform/version.h"

namespace {

// ---- 1. HDF5 helpers ------------------------------------------------------------------------------

// Values are gathered and written (or read and handed out) this many at a time, so
// that memory stays bounded on the largest networks.
constexpr size_t kBlockValues = size_t(1) << 18;

// A dataset of `rows` values (or rows of `columns` values) written front to back.
template <typename T>
class DatasetWriter {
public:
    DatasetWriter(hid_t group, const char* name, uint64_t rows, hsize_t columns = 1)
        : columns_(columns), total_(rows * columns) {
        const hsize_t dims[2] = {rows, columns};
        Id space(H5Screate_simple(columns == 1 ? 1 : 2, dims, nullptr));
        set_.id = H5Dcreate2(group, name, H5Types<T>::File(), space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        ok_ = set_.ok();
        buffer_.reserve(static_cast<size_t>(std::min<uint64_t>(total_, kBlockValues)));
    }
    // Whole rows at a time.
    void Put(const T* values, size_t count) {
        buffer_.insert(buffer_.end(), values, values + count);
        if (buffer_.size() >= kBlockValues) Flush();
    }
    void Put(T value) { Put(&value, 1); }
    bool Finish() {
        Flush();
        return ok_ && written_ == total_;
    }

private:
    void Flush() {
        if (ok_ && !buffer_.empty() && written_ + buffer_.size() <= total_) {
            const hsize_t start[2] = {written_ / columns_, 0};
            const hsize_t count[2] = {buffer_.size() / columns_, columns_};
            const int rank = columns_ == 1 ? 1 : 2;
            Id file(H5Dget_space(set_));
            Id memory(H5Screate_simple(rank, count, nullptr));
            ok_ = H5Sselect_hyperslab(file, H5S_SELECT_SET, start, nullptr, count, nullptr) >= 0 &&
                  H5Dwrite(set_, H5Types<T>::Memory(), memory, file, H5P_DEFAULT, buffer_.data()) >= 0;
        } else if (!buffer_.empty()) {
            ok_ = false;  // more values than the dataset holds
        }
        written_ += buffer_.size();
        buffer_.clear();
    }

    Id set_;
    hsize_t columns_;
    uint64_t total_;
    uint64_t written_ = 0;
    bool ok_ = false;
    std::vector<T> buffer_;
};

// A dataset of exactly `rows` values (or rows of `columns` values) read front to
// back. Any other shape, a missing dataset or a failed read makes it fail.
template <typename T>
class DatasetReader {
public:
    DatasetReader(hid_t group, const char* name, uint64_t rows, hsize_t columns = 1)
        : columns_(columns), total_(rows * columns) {
        if (H5Lexists(group, name, H5P_DEFAULT) <= 0) return;
        set_.id = H5Dopen2(group, name, H5P_DEFAULT);
        Id space(set_.ok() ? H5Dget_space(set_) : -1);
        const int rank = columns == 1 ? 1 : 2;
        hsize_t dims[2] = {0, 0};
        ok_ = space.ok() && H5Sget_simple_extent_ndims(space) == rank &&
              H5Sget_simple_extent_dims(space, dims, nullptr) == rank && dims[0] == rows &&
              (rank == 1 || dims[1] == columns);
    }
    bool Get(T* out, size_t count) {
        while (count > 0 && ok_) {
            if (next_ == buffer_.size() && !Fill()) break;
            const size_t take = std::min(count, buffer_.size() - next_);
            std::memcpy(out, buffer_.data() + next_, take * sizeof(T));
            next_ += take;
            out += take;
            count -= take;
        }
        return ok_;
    }
    bool Get(T& out) { return Get(&out, 1); }
    // Values another process keeps (a distributed run's).
    bool Skip(uint64_t count) {
        T scratch[256];
        while (count > 0 && ok_) {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(count, std::size(scratch)));
            Get(scratch, take);
            count -= take;
        }
        return ok_;
    }
    bool Finish() const { return ok_ && read_ == total_ && next_ == buffer_.size(); }

private:
    bool Fill() {
        const uint64_t left = total_ - read_;
        if (left == 0) return ok_ = false;  // asked for more than the dataset holds
        const uint64_t rows = std::min<uint64_t>(left, kBlockValues) / columns_;
        const hsize_t start[2] = {read_ / columns_, 0}, count[2] = {rows, columns_};
        const int rank = columns_ == 1 ? 1 : 2;
        buffer_.resize(static_cast<size_t>(rows * columns_));
        Id file(H5Dget_space(set_));
        Id memory(H5Screate_simple(rank, count, nullptr));
        ok_ = H5Sselect_hyperslab(file, H5S_SELECT_SET, start, nullptr, count, nullptr) >= 0 &&
              H5Dread(set_, H5Types<T>::Memory(), memory, file, H5P_DEFAULT, buffer_.data()) >= 0;
        read_ += buffer_.size();
        next_ = 0;
        return ok_;
    }

    Id set_;
    hsize_t columns_;
    uint64_t total_;
    uint64_t read_ = 0;
    size_t next_ = 0;
    bool ok_ = false;
    std::vector<T> buffer_;
};

// ---- 2. What is stored ----------------------------------------------------------------------------

// Every SimParams field, in record order (checked below).
#define VELLICOR_SIM_PARAMS(X)                                                                          \
    X(tauAmpa) X(ampaInvTau) X(ampaStepDecay) X(tauNmda) X(nmdaInvTau) X(nmdaStepDecay) X(tauGabaA)    \
    X(gabaAInvTau) X(gabaAStepDecay) X(tauGabaB) X(gabaBInvTau) X(gabaBStepDecay) X(excU) X(excStepU)   \
    X(excF) X(excInvF) X(excStepInvF) X(excUOverF) X(excStepUOverF) X(excD) X(excInvD) X(excStepInvD)   \
    X(inhU) X(inhStepU) X(inhF) X(inhInvF) X(inhStepInvF) X(inhUOverF) X(inhStepUOverF) X(inhD)         \
    X(inhInvD) X(inhStepInvD) X(stdpAPlus) X(stdpAMinus) X(stdpTauPlus) X(stdpTauMinus)                 \
    X(geometryKind) X(neuronCount) X(invNeuronCount) X(synapseCount) X(gridX) X(gridY) X(gridZ)         \
    X(extentX) X(extentY) X(extentZ) X(halfExtent) X(idlePriority) X(autoManageThreads)                 \
    X(workerThreads) X(inhibitoryFraction) X(velocityMyelinated) X(velocityUnmyelinated)                \
    X(longAxonProbability) X(inhAxonLengthMin) X(inhAxonLengthMax) X(excAxonLengthMin)                  \
    X(excAxonLengthMax) X(boxInhAxonLengthMin) X(boxInhAxonLengthMax) X(excSynapsesMin)                 \
    X(excSynapsesMax) X(inhSynapsesMin) X(inhSynapsesMax) X(excSynapseAxonDistance)                     \
    X(inhSynapseAxonDistance) X(excWeightMax) X(excWeightInitial) X(inhWeightMax) X(inhWeightInitial)   \
    X(randomizeExcWeights) X(randomizeInhWeights) X(reentrantLoops) X(engineMode)

struct FieldSpan {
    size_t offset, size, align;
};
#define VELLICOR_SPAN(field) \
    FieldSpan{offsetof(SimParams, field), sizeof(SimParams::field), alignof(decltype(SimParams::field))},
constexpr FieldSpan kParamSpans[] = {VELLICOR_SIM_PARAMS(VELLICOR_SPAN)};
#undef VELLICOR_SPAN

// The list leaves no field out: each field starts where the one before ended
// (after alignment), and the last one ends the record.
constexpr bool ListCoversSimParams() {
    size_t end = 0;
    for (const FieldSpan& f : kParamSpans) {
        if (f.offset != (end + f.align - 1) / f.align * f.align) return false;
        end = f.offset + f.size;
    }
    return (end + alignof(SimParams) - 1) / alignof(SimParams) * alignof(SimParams) == sizeof(SimParams);
}
static_assert(ListCoversSimParams(), "a SimParams field is missing from the checkpoint's list");

bool WriteParams(hid_t group, const SimParams& p) {
    bool ok = true;
#define VELLICOR_WRITE(field) ok = ok && WriteAttribute(group, #field, &p.field);
    VELLICOR_SIM_PARAMS(VELLICOR_WRITE)
#undef VELLICOR_WRITE
    return ok;
}

// Names the first field that is missing or unreadable; "" when all were read.
// engineMode may be missing: files written before the engine choice existed hold
// the exact engine's state.
std::string ReadParams(hid_t group, SimParams& p) {
    p.engineMode = EngineExact;
#define VELLICOR_READ(field) \
    if (!ReadAttribute(group, #field, &p.field) && std::strcmp(#field, "engineMode") != 0) return #field;
    VELLICOR_SIM_PARAMS(VELLICOR_READ)
#undef VELLICOR_READ
    return "";
}

// The per-neuron values the steps change, one dataset each.
template <typename T>
struct NeuronField {
    const char* name;
    T Neuron::*member;
};
constexpr NeuronField<float> kNeuronFloats[] = {
    {"v", &Neuron::v},
    {"u", &Neuron::u},
    {"vNext", &Neuron::vNext},
    {"uNext", &Neuron::uNext},
    {"vPeak", &Neuron::vPeak},
    {"vEnvelope", &Neuron::vEnvelope},
    {"vEnvelopeView", &Neuron::vEnvelopeView},
    {"gAmpa", &Neuron::gAmpa},
    {"gNmda", &Neuron::gNmda},
    {"gGabaA", &Neuron::gGabaA},
    {"gGabaB", &Neuron::gGabaB},
    {"lastFiltered", &Neuron::lastFiltered},
};
constexpr NeuronField<uint32_t> kNeuronCounters[] = {
    {"delayIndex", &Neuron::delayIndex},
    {"spikeCount", &Neuron::spikeCount},
};
constexpr NeuronField<int32_t> kNeuronSteps[] = {{"lastSpikeStep", &Neuron::lastSpikeStep}};
constexpr NeuronField<uint8_t> kNeuronFlags[] = {{"isHeld", &Neuron::isHeld}};

// The lane vectors: four values per group, for the state and the weights blocks.
constexpr const char* kLaneFloatNames[] = {"available", "utilization", "gFast", "gSlow", "weight", "weightDelta"};
constexpr int kLaneFloats = 6;

template <typename State, typename Weights>
auto LaneFloats(State& s, Weights& w, int which) -> decltype(&s.available[0]) {
    switch (which) {
        case 0: return s.available;
        case 1: return s.utilization;
        case 2: return s.gFast;
        case 3: return s.gSlow;
        case 4: return w.weight;
        default: return w.weightDelta;
    }
}

// The event engine's per-synapse floats, stored one dataset each.
struct EventFloatField {
    const char* name;
    float EventStoredSynapse::*member;
};
constexpr EventFloatField kEventFloats[] = {{"available", &EventStoredSynapse::r},
                                            {"utilization", &EventStoredSynapse::u},
                                            {"weight", &EventStoredSynapse::w},
                                            {"weightDelta", &EventStoredSynapse::d}};

// Lane groups of one kind: the full groups and the one holding a remainder.
uint32_t GroupsFor(uint32_t count) { return (count + 3) / 4; }

// Calls visit(state, weights) for each lane group of the neuron: excitatory, then inhibitory.
template <typename N, typename Visit>
void ForEachGroup(N& n, Visit visit) {
    for (uint32_t g = 0, e = GroupsFor(n.excIncomingCount); g < e; ++g) visit(n.excLaneState[g], n.excLaneWeights[g]);
    for (uint32_t g = 0, e = GroupsFor(n.inhIncomingCount); g < e; ++g) visit(n.inhLaneState[g], n.inhLaneWeights[g]);
}

// Totals that size the datasets.
struct NetworkCounts {
    uint64_t synapses = 0, laneGroups = 0, delaySlots = 0;
};
NetworkCounts CountNetwork(const Simulation& state) {
    NetworkCounts c;
    for (uint32_t i = 0; i < state.neuronCount; ++i) {
        const Neuron& n = state.neurons[i];
        c.synapses += n.incomingCount;
        c.laneGroups += GroupsFor(n.excIncomingCount) + GroupsFor(n.inhIncomingCount);
        c.delaySlots += n.delayLength;
    }
    return c;
}


}  // namespace

// ---- 3. Structure digest ------------------------------------------------------------------------------

namespace {

// FNV-1a over 64-bit words.
struct Digest {
    uint64_t h = 14695981039346656037ull;
    void Add(uint64_t word) { h = (h ^ word) * 1099511628211ull; }
};

// Neuron i's words: its outgoing total and its incoming synapses' pre-synaptic
// neurons (`pres`, incomingCount of them) given.
void DigestNeuron(Digest& d, const Neuron* neurons, uint32_t i, uint64_t outgoing, const uint32_t* pres) {
    const Neuron& n = neurons[i];
    d.Add(uint64_t(n.isExcitatory) | uint64_t(n.neuronClass) << 8 | uint64_t(n.delayLength) << 32);
    d.Add(uint64_t(std::bit_cast<uint32_t>(n.a)) | uint64_t(std::bit_cast<uint32_t>(n.b)) << 32);
    d.Add(uint64_t(std::bit_cast<uint32_t>(n.c)) | uint64_t(std::bit_cast<uint32_t>(n.d)) << 32);
    d.Add(uint64_t(n.excIncomingCount) | uint64_t(n.inhIncomingCount) << 32);
    d.Add(outgoing);
    // A synapse's lane is its place among the incoming synapses of its kind.
    uint32_t lanes[2] = {0, 0};
    for (uint32_t k = 0; k < n.incomingCount; ++k)
        d.Add(uint64_t{pres[k]} | uint64_t(lanes[neurons[pres[k]].isExcitatory != 0 ? 1 : 0]++) << 32);
}

// The pre-synaptic neurons of the incoming synapses of neurons [first, end), into `pres`.
void IncomingPres(const Simulation& state, uint32_t first, uint32_t end, std::vector<uint32_t>& pres) {
    pres.clear();
    for (uint32_t i = first; i < end; ++i)
        for (uint32_t k = 0; k < state.neurons[i].incomingCount; ++k) pres.push_back(IncomingPre(state, i, k));
}

// How many of neuron i's outgoing synapses end on neurons [first, end) (lists
// are ordered by post-synaptic neuron).
uint32_t OutgoingOnto(const Simulation& state, uint32_t i, uint32_t first, uint32_t end) {
    if (const EventEngine* e = state.eventEngine) {
        const EventSlice slice = EventSliceOnto(*e, i, first, end);
        return slice.hi - slice.lo;
    }
    const Neuron& n = state.neurons[i];
    const Neuron* lo = state.neurons + first;
    const Neuron* hi = state.neurons + end;
    uint32_t count = 0;
    for (uint32_t k = 0; k < n.outgoingCount; ++k) count += n.outgoing[k]->post >= lo && n.outgoing[k]->post < hi;
    return count;
}

template <typename T>
const T* PartValues(const std::vector<char>& bytes) {
    return reinterpret_cast<const T*>(bytes.data());
}

}  // namespace

uint64_t NetworkStructureDigest(const Simulation& state) {
    Digest d;
    d.Add(state.neuronCount);
    std::vector<uint32_t> pres;
    for (uint32_t i = 0; i < state.neuronCount; ++i) {
        IncomingPres(state, i, i + 1, pres);
        DigestNeuron(d, state.neurons, i, state.neurons[i].outgoingCount, pres.data());
    }
    return d.h;
}

uint64_t NetworkStructureDigest(const Simulation& state, const ProcessChannel& channel) {
    if (channel.ranks <= 1) return NetworkStructureDigest(state);
    // Every process holds the synapses onto its own neurons: the outgoing totals
    // are summed, and process 0 walks every process's incoming lists in turn.
    const uint32_t n = state.neuronCount;
    std::vector<uint64_t> outgoing(n);
    for (uint32_t i = 0; i < n; ++i) outgoing[i] = OutgoingOnto(state, i, state.shareFirst, state.shareEnd);
    channel.sum(channel.context, outgoing.data(), n);
    std::vector<uint32_t> mine;
    IncomingPres(state, state.shareFirst, state.shareEnd, mine);
    uint64_t h = 0;
    if (channel.rank != 0) {
        channel.send(channel.context, mine.data(), mine.size() * sizeof(uint32_t));
    } else {
        Digest d;
        d.Add(n);
        std::vector<char> part;
        for (uint32_t r = 0; r < channel.ranks; ++r) {
            uint32_t first = 0, end = 0;
            ShareOfNeurons(n, r, channel.ranks, first, end);
            if (r != 0) channel.receive(channel.context, r, part);
            const uint32_t* pres = r == 0 ? mine.data() : PartValues<uint32_t>(part);
            const size_t available = r == 0 ? mine.size() : part.size() / sizeof(uint32_t);
            size_t at = 0;
            for (uint32_t i = first; i < end; ++i) {
                if (at + state.neurons[i].incomingCount > available) {
                    d.Add(~uint64_t{0});  // a part short of the counts: no saved digest matches
                    break;
                }
                DigestNeuron(d, state.neurons, i, outgoing[i], pres + at);
                at += state.neurons[i].incomingCount;
            }
        }
        h = d.h;
    }
    channel.broadcast(channel.context, h);
    return h;
}

// ---- 4. Writing -------------------------------------------------------------------------------------

namespace {

// Where a process's part of a dataset goes before it is sent.
template <typename T>
struct PartSink {
    std::vector<T> values;
    void Put(const T* v, size_t count) { values.insert(values.end(), v, v + count); }
    void Put(T value) { values.push_back(value); }
};

// A dataset whose values run neuron after neuron: produce(first, end, sink) puts
// those of neurons [first, end). In a distributed run process 0 puts its own and
// then every other process's part, received in turn; the others send theirs.
template <typename T, typename Produce>
void PutParts(DatasetWriter<T>& out, const Simulation& state, const ProcessChannel* channel, Produce produce) {
    if (channel == nullptr || channel->ranks <= 1) {
        produce(0, state.neuronCount, out);
        return;
    }
    produce(state.shareFirst, state.shareEnd, out);
    std::vector<char> part;
    for (uint32_t r = 1; r < channel->ranks; ++r) {
        channel->receive(channel->context, r, part);
        out.Put(PartValues<T>(part), part.size() / sizeof(T));
    }
}
template <typename T, typename Produce>
void SendPart(const Simulation& state, const ProcessChannel& channel, Produce produce) {
    PartSink<T> sink;
    produce(state.shareFirst, state.shareEnd, sink);
    channel.send(channel.context, sink.values.data(), sink.values.size() * sizeof(T));
}

// The parts that run neuron after neuron, each as produce(first, end, sink).
template <typename Sink>
void DelayLines(const Simulation& state, uint32_t first, uint32_t end, bool filtered, Sink& out) {
    for (uint32_t i = first; i < end; ++i) {
        const Neuron& n = state.neurons[i];
        out.Put(filtered ? n.delayFiltered : n.delayV, n.delayLength);
    }
}
template <typename Sink>
void ArrivalSteps(const Simulation& state, uint32_t first, uint32_t end, Sink& out) {
    for (uint32_t i = first; i < end; ++i) {
        const Neuron& n = state.neurons[i];
        for (uint32_t k = 0; k < n.incomingCount; ++k) out.Put(n.incoming[k].arrivalStep);
    }
}
// Lane field f (0 .. kLaneFloats - 1), or the arrival flags (kLaneFloats).
template <typename Sink>
void LaneField(const Simulation& state, uint32_t first, uint32_t end, int f, Sink& out) {
    for (uint32_t i = first; i < end; ++i)
        ForEachGroup(state.neurons[i], [&](const SynapseLaneState& s, const SynapseLaneWeights& w) {
            if constexpr (std::is_same_v<Sink, DatasetWriter<uint8_t>> || std::is_same_v<Sink, PartSink<uint8_t>>)
                out.Put(w.arrived, 4);
            else
                out.Put(LaneFloats(s, w, f), 4);
        });
}

// The event engine's runs, in blocks of sources: a process's part of a block is
// the length of its slice of every run, then those slices.
constexpr uint32_t kSourcesPerBlock = 1u << 14;
std::vector<char> EventBlock(const Simulation& state, uint32_t a, uint32_t b) {
    const EventEngine& e = *state.eventEngine;
    std::vector<char> bytes((b - a) * sizeof(uint32_t));
    for (uint32_t j = a; j < b; ++j) {
        const EventSlice slice = EventSliceOnto(e, j, state.shareFirst, state.shareEnd);
        const uint32_t count = slice.hi - slice.lo;
        std::memcpy(bytes.data() + (j - a) * sizeof(uint32_t), &count, sizeof count);
        for (uint32_t k = slice.lo; k < slice.hi; ++k) {
            const EventStoredSynapse x = EventStored(e.trains[j], e.synapses[e.runStart[j] + k], k);
            const auto* from = reinterpret_cast<const char*>(&x);
            bytes.insert(bytes.end(), from, from + sizeof x);
        }
    }
    return bytes;
}

bool WriteNeurons(hid_t file, const Simulation& state, const NetworkCounts& counts, const ProcessChannel* channel) {
    Id group(NewGroup(file, "neurons"));
    const uint32_t n = state.neuronCount;
    const Neuron* neurons = state.neurons;
    auto fields = [&](const auto& list) {
        for (const auto& field : list) {
            using T = std::remove_cvref_t<decltype(neurons[0].*field.member)>;
            DatasetWriter<T> out(group, field.name, n);
            for (uint32_t i = 0; i < n; ++i) out.Put(neurons[i].*field.member);
            if (!out.Finish()) return false;
        }
        return true;
    };
    const bool ok = group.ok() && fields(kNeuronFloats) && fields(kNeuronCounters) && fields(kNeuronSteps) &&
                    fields(kNeuronFlags);
    // The delay lines whatever happened: the other processes are sending theirs.
    DatasetWriter<float> delayV(group, "delayV", counts.delaySlots);
    DatasetWriter<float> delayFiltered(group, "delayFiltered", counts.delaySlots);
    PutParts(delayV, state, channel, [&](uint32_t f, uint32_t e, auto& out) { DelayLines(state, f, e, false, out); });
    PutParts(delayFiltered, state, channel, [&](uint32_t f, uint32_t e, auto& out) { DelayLines(state, f, e, true, out); });
    return delayV.Finish() && delayFiltered.Finish() && ok;
}

bool WriteSynapses(hid_t file, const Simulation& state, const NetworkCounts& counts, const ProcessChannel* channel) {
    Id group(NewGroup(file, "synapses"));
    Id lanes(group.ok() ? NewGroup(group, "lanes") : -1);
    DatasetWriter<int32_t> arrival(group, "arrivalStep", counts.synapses);
    PutParts(arrival, state, channel, [&](uint32_t f, uint32_t e, auto& out) { ArrivalSteps(state, f, e, out); });
    bool ok = lanes.ok() && arrival.Finish();
    for (int f = 0; f < kLaneFloats; ++f) {
        DatasetWriter<float> out(lanes, kLaneFloatNames[f], counts.laneGroups, 4);
        PutParts(out, state, channel, [&](uint32_t a, uint32_t b, auto& sink) { LaneField(state, a, b, f, sink); });
        ok = out.Finish() && ok;
    }
    DatasetWriter<uint8_t> arrived(lanes, "arrived", counts.laneGroups, 4);
    PutParts(arrived, state, channel,
             [&](uint32_t a, uint32_t b, auto& sink) { LaneField(state, a, b, kLaneFloats, sink); });
    return arrived.Finish() && ok;
}

// The event engine's state: its runs, inputs, spike histories and due bitmaps.
bool WriteEventState(hid_t file, const Simulation& state, const NetworkCounts& counts,
                     const ProcessChannel* channel) {
    const EventEngine& e = *state.eventEngine;
    Id group(NewGroup(file, "event"));
    const uint64_t s = counts.synapses, n = e.neuronCount;
    std::vector<DatasetWriter<float>> floats;
    floats.reserve(std::size(kEventFloats));
    for (const auto& field : kEventFloats) floats.emplace_back(group, field.name, s);
    DatasetWriter<int32_t> step(group, "step", s);
    DatasetWriter<uint32_t> target(group, "target", s);
    const auto put = [&](const EventStoredSynapse& x) {
        for (size_t f = 0; f < floats.size(); ++f) floats[f].Put(x.*kEventFloats[f].member);
        step.Put(x.step);
        target.Put(x.target);
    };
    if (channel == nullptr || channel->ranks <= 1) {
        for (uint32_t i = 0; i < n; ++i)
            for (uint64_t j = e.runStart[i]; j < e.runStart[i + 1]; ++j)
                put(EventStored(e.trains[i], e.synapses[j], j - e.runStart[i]));
    } else {
        // Every run is the processes' slices in turn (runs are ordered by target).
        std::vector<std::vector<char>> parts(channel->ranks);
        for (uint32_t a = 0; a < n; a += kSourcesPerBlock) {
            const uint32_t b = std::min<uint32_t>(n, a + kSourcesPerBlock);
            parts[0] = EventBlock(state, a, b);
            for (uint32_t r = 1; r < channel->ranks; ++r) channel->receive(channel->context, r, parts[r]);
            std::vector<size_t> at(channel->ranks);
            for (uint32_t r = 0; r < channel->ranks; ++r) at[r] = (b - a) * sizeof(uint32_t);
            for (uint32_t j = a; j < b; ++j) {
                for (uint32_t r = 0; r < channel->ranks; ++r) {
                    uint32_t count = 0;
                    if (parts[r].size() < (b - a) * sizeof(uint32_t)) continue;  // a short part: the write fails
                    std::memcpy(&count, parts[r].data() + (j - a) * sizeof(uint32_t), sizeof count);
                    for (uint32_t k = 0; k < count && at[r] + sizeof(EventStoredSynapse) <= parts[r].size(); ++k) {
                        EventStoredSynapse x;
                        std::memcpy(&x, parts[r].data() + at[r], sizeof x);
                        at[r] += sizeof x;
                        put(x);
                    }
                }
            }
        }
    }
    DatasetWriter<float> inputs(group, "inputSums", n, 4);
    for (uint32_t i = 0; i < e.neuronCount; ++i) {
        const EventInputs sum = e.input[i];
        const float sums[4] = {sum.excFull, sum.excRemainder, sum.inhFull, sum.inhRemainder};
        inputs.Put(sums, 4);
    }
    DatasetWriter<uint64_t> history(group, "history", n, kEventHistorySteps / 64);
    history.Put(e.history[0].bits, n * (kEventHistorySteps / 64));
    DatasetWriter<uint64_t> due(group, "due", e.ringSteps, e.ringWords);
    due.Put(e.due, uint64_t{e.ringSteps} * e.ringWords);
    bool ok = group.ok() && step.Finish() && target.Finish() && inputs.Finish() && history.Finish() && due.Finish();
    for (auto& f : floats) ok = f.Finish() && ok;
    return ok;
}

// `binsFinal`: the histogram is complete as it is (a distributed run's, summed
// over its processes).
bool WriteAnalysis(hid_t file, const Simulation& state, uint32_t step, bool binsFinal) {
    const ActivityAnalysis& a = state.analysis;
    Id group(NewGroup(file, "analysis"));
    if (!group.ok() || a.SpikeHistory == nullptr) return false;
    // A histogram the workers have cleared but not yet counted is stored as they
    // will count it: the weights do not change before they do.
    uint32_t bins[kWeightBins];
    uint32_t total = 0;
    std::memcpy(bins, a.WeightHistogram, sizeof bins);
    if (!binsFinal && WeightCountPending(step)) {
        std::fill(bins, bins + kWeightBins, 0u);
        CountWeightBins(state, 0, state.neuronCount, bins);
        for (uint32_t b : bins) total += b;
    } else {
        total = a.weightTotal;
    }
    DatasetWriter<float> history(group, "spikeHistory", kHistoryLength);
    history.Put(a.SpikeHistory, kHistoryLength);
    DatasetWriter<float> spectrum(group, "spectrum", kSpectrumLength, 2);
    spectrum.Put(a.spectrum, 2 * kSpectrumLength);
    DatasetWriter<float> power(group, "power", kSpectrumLength);
    power.Put(a.power, kSpectrumLength);
    DatasetWriter<uint8_t> peaks(group, "peakFlags", kBinCount);
    peaks.Put(a.peakFlags, kBinCount);
    DatasetWriter<uint32_t> histogram(group, "weightHistogram", kWeightBins);
    histogram.Put(bins, kWeightBins);
    return history.Finish() && spectrum.Finish() && power.Finish() && peaks.Finish() && histogram.Finish() &&
           WriteAttribute(group, "historyPosition", &a.historyPosition) &&
           WriteAttribute(group, "powerMin", &a.powerMin) && WriteAttribute(group, "powerMax", &a.powerMax) &&
           WriteAttribute(group, "peakCount", &a.peakCount) && WriteAttribute(group, "weightTotal", &total);
}

// In a distributed run, process 0 receives every part whatever fails (even with no
// file at all), in the order SendCheckpointParts sends them.
bool WriteFile(hid_t file, const Simulation& state, const AppOptions& options, const ProcessChannel* channel) {
    const uint32_t step = state.stepCounter.load(std::memory_order_acquire);
    const BuildOrigin& origin = state.buildOrigin;
    const NetworkCounts counts = CountNetwork(state);
    const uint64_t digest = channel != nullptr ? NetworkStructureDigest(state, *channel) : NetworkStructureDigest(state);
    const uint32_t version = kCheckpointVersion;
    bool ok = WriteString(file, "format", kCheckpointFormat) && WriteAttribute(file, "formatVersion", &version) &&
              WriteString(file, "writer", kVellicorProductLine) && WriteAttribute(file, "step", &step);

    Id parameters(NewGroup(file, "parameters"));
    ok = ok && parameters.ok() && WriteParams(parameters, origin.params) &&
         WriteString(parameters, "toml", FormatParamFile(origin.params, options, kVellicorName));

    Id stimulus(NewGroup(file, "options"));
    const uint8_t stimulusOn = plat::AtomicLoad(state.stimulusOn);
    ok = ok && stimulus.ok() && WriteAttribute(stimulus, "stimulusOn", &stimulusOn) &&
         WriteAttribute(stimulus, "stimulusPeriod", &state.stimulusPeriod);

    Id random(NewGroup(file, "random"));
    const RandomGeneratorState& r = origin.random;
    ok = ok && random.ok() && WriteAttribute(random, "firstUse", &r.firstUse) &&
         WriteAttribute(random, "seed", &r.seed) && WriteAttribute(random, "history1", r.history1, 10) &&
         WriteAttribute(random, "history2", r.history2, 10);

    Id network(NewGroup(file, "network"));
    ok = ok && network.ok() && WriteAttribute(network, "neuronCount", &state.neuronCount) &&
         WriteAttribute(network, "synapseCount", &counts.synapses) &&
         WriteAttribute(network, "laneGroups", &counts.laneGroups) &&
         WriteAttribute(network, "delaySlots", &counts.delaySlots) &&
         WriteAttribute(network, "structureDigest", &digest);

    const bool synapses = state.eventEngine != nullptr ? WriteEventState(file, state, counts, channel)
                                                       : WriteSynapses(file, state, counts, channel);
    const bool neurons = WriteNeurons(file, state, counts, channel);
    return ok && synapses && neurons && WriteAnalysis(file, state, step, channel != nullptr);
}

}  // namespace

bool WriteCheckpoint(const AppState& state, const std::string& path, std::string& error) {
    return WriteCheckpoint(state, state.options, path, error);
}

bool WriteCheckpoint(const Simulation& state, const AppOptions& options, const std::string& path, std::string& error,
                     const ProcessChannel* channel) {
    if (state.neurons == nullptr || state.neuronCount == 0) {
        error = path + ": no network is built";
        return false;
    }
    if (channel != nullptr && channel->ranks <= 1) channel = nullptr;
    QuietHdf5();
    // A file that cannot even be made still takes the other processes' parts.
    const auto refuse = [&] {
        if (channel != nullptr) WriteFile(H5I_INVALID_HID, state, options, channel);
        return false;
    };
    // Written under a temporary name beside the file (a symlink's target) and
    // renamed over it when complete, so a failed write leaves the old file whole.
    OutputTarget target;
    if (!ResolveOutput(path, target, error)) return refuse();
    if (!target.regular) {
        error = path + kNotRegularForHdf5;
        return refuse();
    }
    std::string temporary;
    if (!CreateTemporaryBeside(target.path, temporary, error)) return refuse();
    bool ok = false;
    try {
        Id file(H5Fcreate(temporary.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT));
        ok = (file.ok() || channel != nullptr) && WriteFile(file.ok() ? file.id : H5I_INVALID_HID, state, options, channel);
        ok = file.ok() && H5Fclose(file.id) >= 0 && ok;
        file.id = -1;
    } catch (const std::bad_alloc&) {
        std::remove(temporary.c_str());
        error = path + ": not enough memory to write the checkpoint";
        return false;
    }
    if (!ok) {
        std::remove(temporary.c_str());
        error = path + ": cannot write the checkpoint (disk full?)";
        return false;
    }
    return ReplaceWith(temporary, target, error);
}

void SendCheckpointParts(const Simulation& state, const ProcessChannel& channel) {
    if (channel.ranks <= 1 || channel.rank == 0 || state.neurons == nullptr) return;
    // As WriteFile takes them: the digest's, the synapses', the delay lines'.
    NetworkStructureDigest(state, channel);
    if (state.eventEngine != nullptr) {
        for (uint32_t a = 0; a < state.neuronCount; a += kSourcesPerBlock) {
            const std::vector<char> block = EventBlock(state, a, std::min<uint32_t>(state.neuronCount, a + kSourcesPerBlock));
            channel.send(channel.context, block.data(), block.size());
        }
    } else {
        SendPart<int32_t>(state, channel, [&](uint32_t f, uint32_t e, auto& out) { ArrivalSteps(state, f, e, out); });
        for (int f = 0; f < kLaneFloats; ++f)
            SendPart<float>(state, channel, [&](uint32_t a, uint32_t b, auto& out) { LaneField(state, a, b, f, out); });
        SendPart<uint8_t>(state, channel, [&](uint32_t a, uint32_t b, auto& out) { LaneField(state, a, b, kLaneFloats, out); });
    }
    SendPart<float>(state, channel, [&](uint32_t f, uint32_t e, auto& out) { DelayLines(state, f, e, false, out); });
    SendPart<float>(state, channel, [&](uint32_t f, uint32_t e, auto& out) { DelayLines(state, f, e, true, out); });
}

// ---- 5. Reading and restoring ----------------------------------------------------------------------------

namespace {

// Restored values are checked as a parameter file's are, and refused rather than
// clamped: a damaged or edited file must not reach the build (a seed of 0 makes
// it draw zeros for ever, a huge grid exhausts memory) or the kernels (a flag
// above 1 indexes their tables, NaN spreads through every conductance).

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string CheckHeader(const BuildOrigin& origin, uint8_t stimulusOn) {
    const SimParams& p = origin.params;
    const std::string outside = ParamOutsideLimits(p);
    if (!outside.empty()) return "/parameters/" + outside;
    if (p.engineMode > EngineEvent) return "/parameters/engineMode: " + std::to_string(p.engineMode) + " is not an engine";
    if (p.reentrantLoops > 1) return "/parameters/reentrantLoops: " + std::to_string(p.reentrantLoops) + " is not true or false";
    // The shape: within the limits a parameter file's shape is held to. A sphere's
    // count is taken as stored (the build uses it), within the same limit.
    SimParams shape = p;
    const std::string badShape = SetNetworkShape(shape, p.geometryKind, p.gridX, p.gridY, p.gridZ);
    if (!badShape.empty()) return "/parameters/" + badShape;
    if (p.geometryKind == GeometrySphere && (p.neuronCount == 0 || p.neuronCount > kMaxNetworkNeurons))
        return "/parameters/neuronCount: " + std::to_string(p.neuronCount) + " is outside 1.." +
               std::to_string(kMaxNetworkNeurons);
    const std::pair<const char*, float> extents[] = {{"halfExtent", p.halfExtent}, {"extentX", p.extentX},
                                                     {"extentY", p.extentY},       {"extentZ", p.extentZ},
                                                     {"boxInhAxonLengthMin", p.boxInhAxonLengthMin},
                                                     {"boxInhAxonLengthMax", p.boxInhAxonLengthMax}};
    for (const auto& [name, value] : extents)
        if (!(value >= 0.0f && value <= 1e10f))
            return std::string("/parameters/") + name + ": " + Number(value) + " is outside 0..1e10";
    if (origin.random.seed == 0) return "/random/seed: 0 (the generator would draw only zeros)";
    if (stimulusOn > 1) return "/options/stimulusOn: " + std::to_string(stimulusOn) + " is not true or false";
    return "";
}

std::string At(const char* dataset, uint64_t index) { return std::string(dataset) + "[" + std::to_string(index) + "]: "; }

// Every restored neuron and synapse value; "" when all are sound.
std::string CheckRestored(const Simulation& state) {
    for (uint32_t i = 0; i < state.neuronCount; ++i) {
        const Neuron& n = state.neurons[i];
        for (const auto& field : kNeuronFloats) {
            const float value = n.*field.member;
            if (!std::isfinite(value)) return At((std::string("/neurons/") + field.name).c_str(), i) + Number(value) + " is not a finite number";
        }
        for (const float g : {n.gAmpa, n.gNmda, n.gGabaA, n.gGabaB})
            if (g < 0.0f) return At("/neurons/g", i) + Number(g) + ": a conductance is below 0";
        if (n.isHeld > 1) return At("/neurons/isHeld", i) + std::to_string(n.isHeld) + " is not 0 or 1";
        for (uint32_t k = 0; n.delayV != nullptr && k < n.delayLength; ++k)  // the lines kept
            if (!std::isfinite(n.delayV[k]) || !std::isfinite(n.delayFiltered[k]))
                return At("/neurons/delayV, delayFiltered of neuron", i) + "not a finite number";
    }
    if (const EventEngine* e = state.eventEngine) {
        for (uint64_t j = 0, i = 0; j < e->synapseCount; ++j) {
            while (e->runStart[i + 1] <= j) ++i;
            const EventStoredSynapse x = EventStored(e->trains[i], e->synapses[j], j - e->runStart[i]);
            for (const auto& field : kEventFloats)
                if (!std::isfinite(x.*field.member))
                    return At((std::string("/event/") + field.name).c_str(), j) + Number(x.*field.member) +
                           " is not a finite number";
            if (!(x.w >= 0.0f && x.w <= 1.0f)) return At("/event/weight", j) + Number(x.w) + " is outside 0..1";
        }
        for (uint32_t i = 0; i < e->neuronCount; ++i) {
            const EventInputs& in = e->input[i];
            for (const float sum : {in.excFull, in.excRemainder, in.inhFull, in.inhRemainder})
                if (!(sum >= 0.0f && std::isfinite(sum)))
                    return At("/event/inputSums", i) + Number(sum) + " is not a finite sum of 0 or more";
        }
        // A spike due for a neuron the network does not have.
        const uint32_t tail = e->neuronCount % 64;
        for (uint32_t r = 0; r < e->ringSteps && tail != 0; ++r)
            if ((e->due[uint64_t{r} * e->ringWords + e->ringWords - 1] >> tail) != 0)
                return At("/event/due", r) + "a spike for a neuron past the network's " +
                       std::to_string(e->neuronCount);
        return "";
    }
    uint64_t group = 0;
    std::string failed;
    for (uint32_t i = 0; i < state.neuronCount && failed.empty(); ++i) {
        const Neuron& n = state.neurons[i];
        if (!KeepsNeuron(state, i)) {  // another process's
            group += GroupsFor(n.excIncomingCount) + GroupsFor(n.inhIncomingCount);
            continue;
        }
        ForEachGroup(n, [&](const SynapseLaneState& s, const SynapseLaneWeights& w) {
            for (int f = 0; f < kLaneFloats && failed.empty(); ++f)
                for (int k = 0; k < 4; ++k)
                    if (!std::isfinite(LaneFloats(s, w, f)[k]))
                        failed = At((std::string("/synapses/lanes/") + kLaneFloatNames[f]).c_str(), group) +
                                 Number(LaneFloats(s, w, f)[k]) + " is not a finite number";
            for (int k = 0; k < 4 && failed.empty(); ++k) {
                if (!(w.weight[k] >= 0.0f && w.weight[k] <= 1.0f))
                    failed = At("/synapses/lanes/weight", group) + Number(w.weight[k]) + " is outside 0..1";
                else if (w.arrived[k] > 1)
                    failed = At("/synapses/lanes/arrived", group) + std::to_string(w.arrived[k]) + " is not 0 or 1";
            }
            ++group;
        });
    }
    return failed;
}

}  // namespace

CheckpointReader::~CheckpointReader() { Close(); }

void CheckpointReader::Close() {
    if (file_ >= 0) H5Fclose(file_);
    file_ = -1;
}

bool CheckpointReader::Open(const std::string& path, std::string& error) {
    Close();
    path_ = path;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = path + ": is a folder, not a checkpoint";
        return false;
    }
    QuietHdf5();
    if (H5Fis_hdf5(path.c_str()) <= 0) {
        error = path + ": not a checkpoint (not an HDF5 file)";
        return false;
    }
    Id file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    if (!file.ok()) {
        error = path + ": truncated or damaged HDF5 file";
        return false;
    }
    std::string format;
    if (!ReadString(file, "format", format) || format != kCheckpointFormat) {
        error = path + ": not a Vellicor checkpoint";
        return false;
    }
    uint32_t version = 0;
    if (!ReadAttribute(file, "formatVersion", &version)) {
        error = path + ": damaged checkpoint (no format version)";
        return false;
    }
    if (version != kCheckpointVersion) {
        error = path + ": checkpoint format version " + std::to_string(version) + "; this program reads version " +
                std::to_string(kCheckpointVersion);
        return false;
    }
    const auto damaged = [&](const std::string& what) {
        error = path + ": damaged checkpoint (" + what + " missing or unreadable)";
        return false;
    };
    if (!ReadAttribute(file, "step", &step_)) return damaged("step");
    Id parameters(OpenGroup(file, "parameters"));
    if (!parameters.ok()) return damaged("/parameters");
    const std::string missing = ReadParams(parameters, origin_.params);
    if (!missing.empty()) return damaged("parameter " + missing);
    Id options(OpenGroup(file, "options"));
    if (!options.ok() || !ReadAttribute(options, "stimulusOn", &stimulusOn_) ||
        !ReadAttribute(options, "stimulusPeriod", &stimulusPeriod_))
        return damaged("/options");
    Id random(OpenGroup(file, "random"));
    RandomGeneratorState& r = origin_.random;
    if (!random.ok() || !ReadAttribute(random, "firstUse", &r.firstUse) || !ReadAttribute(random, "seed", &r.seed) ||
        !ReadAttribute(random, "history1", r.history1, 10) || !ReadAttribute(random, "history2", r.history2, 10))
        return damaged("/random");
    const std::string invalid = CheckHeader(origin_, stimulusOn_);
    if (!invalid.empty()) {
        error = path + ": damaged checkpoint (" + invalid + ")";
        return false;
    }
    file_ = file.id;
    file.id = -1;
    return true;
}

void CheckpointReader::PrepareBuild(Simulation& state) const {
    // The thread settings are the run's own: the results do not depend on them.
    const SimParams& current = state.params;
    SimParams p = origin_.params;
    p.workerThreads = current.workerThreads;
    p.autoManageThreads = current.autoManageThreads;
    p.idlePriority = current.idlePriority;
    state.params = p;  // with the engine whose state the file holds
    state.random = origin_.random;
}

namespace {

// The saved values into the built network; "" on success, else what failed.
std::string ReadNeurons(hid_t file, Simulation& state, uint64_t delaySlots) {
    Id group(OpenGroup(file, "neurons"));
    if (!group.ok()) return "cannot read /neurons";
    const uint32_t n = state.neuronCount;
    Neuron* neurons = state.neurons;
    std::string failed;
    auto fields = [&](const auto& list) {
        for (const auto& field : list) {
            using T = std::remove_cvref_t<decltype(neurons[0].*field.member)>;
            DatasetReader<T> in(group, field.name, n);
            for (uint32_t i = 0; i < n; ++i) in.Get(neurons[i].*field.member);
            if (!in.Finish()) {
                failed = std::string("cannot read /neurons/") + field.name;
                return false;
            }
        }
        return true;
    };
    if (!fields(kNeuronFloats) || !fields(kNeuronCounters) || !fields(kNeuronSteps) || !fields(kNeuronFlags))
        return failed;
    DatasetReader<float> delayV(group, "delayV", delaySlots);
    DatasetReader<float> delayFiltered(group, "delayFiltered", delaySlots);
    for (uint32_t i = 0; i < n; ++i) {
        Neuron& neuron = neurons[i];
        if (neuron.delayV != nullptr) {
            delayV.Get(neuron.delayV, neuron.delayLength);
            delayFiltered.Get(neuron.delayFiltered, neuron.delayLength);
        } else {  // another process's neuron
            delayV.Skip(neuron.delayLength);
            delayFiltered.Skip(neuron.delayLength);
        }
        if (neuron.delayIndex >= neuron.delayLength) return "a delay-line index is out of range";
    }
    if (!delayV.Finish() || !delayFiltered.Finish()) return "cannot read the delay lines";
    return "";
}

std::string ReadSynapses(hid_t file, Simulation& state, const NetworkCounts& counts) {
    Id group(OpenGroup(file, "synapses"));
    Id lanes(group.ok() ? OpenGroup(group, "lanes") : -1);
    if (!lanes.ok()) return "cannot read /synapses/lanes";
    DatasetReader<int32_t> arrival(group, "arrivalStep", counts.synapses);
    for (uint32_t i = 0; i < state.neuronCount; ++i) {
        Neuron& n = state.neurons[i];
        if (n.incoming == nullptr) {  // another process's neuron
            arrival.Skip(n.incomingCount);
            continue;
        }
        for (uint32_t k = 0; k < n.incomingCount; ++k) arrival.Get(n.incoming[k].arrivalStep);
    }
    if (!arrival.Finish()) return "cannot read /synapses/arrivalStep";
    std::vector<DatasetReader<float>> floats;
    floats.reserve(kLaneFloats);
    for (const char* name : kLaneFloatNames) floats.emplace_back(lanes, name, counts.laneGroups, 4);
    DatasetReader<uint8_t> arrived(lanes, "arrived", counts.laneGroups, 4);
    for (uint32_t i = 0; i < state.neuronCount; ++i) {
        Neuron& n = state.neurons[i];
        if (!KeepsNeuron(state, i)) {
            const uint64_t values = 4 * uint64_t{GroupsFor(n.excIncomingCount) + GroupsFor(n.inhIncomingCount)};
            for (auto& f : floats) f.Skip(values);
            arrived.Skip(values);
            continue;
        }
        ForEachGroup(n, [&](SynapseLaneState& s, SynapseLaneWeights& w) {
            for (int f = 0; f < kLaneFloats; ++f) floats[f].Get(LaneFloats(s, w, f), 4);
            arrived.Get(w.arrived, 4);
        });
    }
    for (int f = 0; f < kLaneFloats; ++f)
        if (!floats[f].Finish()) return std::string("cannot read /synapses/lanes/") + kLaneFloatNames[f];
    if (!arrived.Finish()) return "cannot read /synapses/lanes/arrived";
    return "";
}

std::string ReadEventState(hid_t file, Simulation& state, const NetworkCounts& counts) {
    EventEngine& e = *state.eventEngine;
    Id group(OpenGroup(file, "event"));
    if (!group.ok()) return "cannot read /event";
    const uint64_t s = counts.synapses, n = e.neuronCount;
    std::vector<DatasetReader<float>> floats;
    floats.reserve(std::size(kEventFloats));
    for (const auto& field : kEventFloats) floats.emplace_back(group, field.name, s);
    DatasetReader<int32_t> step(group, "step", s);
    DatasetReader<uint32_t> target(group, "target", s);
    // The file's runs are whole; a process that keeps only its share takes the
    // synapses onto its own neurons, which come in the order it keeps them.
    // A run's synapses of one slot class and group share R and u, and those of a
    // group one step: each pair is taken from its first synapse (the groups are
    // the built network's); a file where the others differ is not one this
    // program wrote.
    uint64_t kept = 0;
    uint32_t run = 0;
    bool seen[kEventTrainPairs] = {};
    for (uint64_t j = 0; j < s; ++j) {
        EventStoredSynapse read;
        for (size_t f = 0; f < floats.size(); ++f) floats[f].Get(read.*kEventFloats[f].member);
        step.Get(read.step);
        target.Get(read.target);
        if (!KeepsNeuron(state, read.target >> 4)) continue;
        if (kept == e.synapseCount) return "/event/target is not the built network's";
        for (; e.runStart[run + 1] <= kept; ++run) std::fill(std::begin(seen), std::end(seen), false);
        EventSynapse& x = e.synapses[kept];
        // The post-synaptic neuron and slot class are the built network's.
        if ((read.target & ~uint32_t{12}) != (x.target & ~uint32_t{12})) return "/event/target is not the built network's";
        x = EventSynapse{read.w, read.d, read.target};
        EventTrain& t = e.trains[run];
        const uint32_t pair = EventPairOf(t, x, kept - e.runStart[run]), g = pair / 4;
        if (!seen[g * 4] && !seen[g * 4 + 1] && !seen[g * 4 + 2] && !seen[g * 4 + 3])
            t.step[g] = t.previous[g] = read.step;
        if (!seen[pair]) {
            seen[pair] = true;
            t.r[pair] = read.r;
            t.u[pair] = read.u;
        } else if (std::memcmp(&t.r[pair], &read.r, sizeof read.r) != 0 ||
                   std::memcmp(&t.u[pair], &read.u, sizeof read.u) != 0) {
            return At("/event/available, utilization", j) + "not the state of its run's other synapses of its class";
        }
        if (read.step != t.step[g]) return At("/event/step", j) + std::to_string(read.step) + " is not its run's step";
        ++kept;
    }
    if (kept != e.synapseCount) return "/event/target is not the built network's";
    for (size_t f = 0; f < floats.size(); ++f)
        if (!floats[f].Finish()) return std::string("cannot read /event/") + kEventFloats[f].name;
    if (!step.Finish() || !target.Finish()) return "cannot read /event/step or /event/target";
    // The inputs as float sums; a file of an earlier version holds them as
    // 64-bit fixed point in 2^-40 nS (`inputs`).
    bool inputsRead = false;
    if (H5Lexists(group, "inputSums", H5P_DEFAULT) > 0) {
        DatasetReader<float> inputs(group, "inputSums", n, 4);
        for (uint64_t i = 0; i < n; ++i) {
            float sums[4] = {};
            inputs.Get(sums, 4);
            e.input[i] = EventInputs{sums[0], sums[1], sums[2], sums[3]};
        }
        inputsRead = inputs.Finish();
    } else {
        DatasetReader<int64_t> inputs(group, "inputs", n, 4);
        for (uint64_t i = 0; i < n; ++i) {
            int64_t sums[4] = {};
            inputs.Get(sums, 4);
            const auto nS = [](int64_t units) { return static_cast<float>(static_cast<double>(units) / 1099511627776.0); };
            e.input[i] = EventInputs{nS(sums[0]), nS(sums[1]), nS(sums[2]), nS(sums[3])};
        }
        inputsRead = inputs.Finish();
    }
    DatasetReader<uint64_t> history(group, "history", n, kEventHistorySteps / 64);
    history.Get(e.history[0].bits, n * (kEventHistorySteps / 64));
    DatasetReader<uint64_t> due(group, "due", e.ringSteps, e.ringWords);
    due.Get(e.due, uint64_t{e.ringSteps} * e.ringWords);
    if (!inputsRead || !history.Finish() || !due.Finish()) return "cannot read /event/inputSums, history or due";
    EventRecallRecent(state);
    return "";
}

std::string ReadAnalysis(hid_t file, Simulation& state) {
    ActivityAnalysis& a = state.analysis;
    Id group(OpenGroup(file, "analysis"));
    if (!group.ok() || a.SpikeHistory == nullptr) return "cannot read /analysis";
    DatasetReader<float> history(group, "spikeHistory", kHistoryLength);
    DatasetReader<float> spectrum(group, "spectrum", kSpectrumLength, 2);
    DatasetReader<float> power(group, "power", kSpectrumLength);
    DatasetReader<uint8_t> peaks(group, "peakFlags", kBinCount);
    DatasetReader<uint32_t> histogram(group, "weightHistogram", kWeightBins);
    history.Get(a.SpikeHistory, kHistoryLength);
    spectrum.Get(a.spectrum, 2 * kSpectrumLength);
    power.Get(a.power, kSpectrumLength);
    peaks.Get(a.peakFlags, kBinCount);
    histogram.Get(a.WeightHistogram, kWeightBins);
    uint32_t position = 0;
    const bool ok = history.Finish() && spectrum.Finish() && power.Finish() && peaks.Finish() &&
                    histogram.Finish() && ReadAttribute(group, "historyPosition", &position) &&
                    ReadAttribute(group, "powerMin", &a.powerMin) && ReadAttribute(group, "powerMax", &a.powerMax) &&
                    ReadAttribute(group, "peakCount", &a.peakCount) &&
                    ReadAttribute(group, "weightTotal", &a.weightTotal);
    if (!ok || position >= kHistoryLength) return "cannot read /analysis";
    a.historyPosition = position;
    return "";
}

}  // namespace

bool CheckpointReader::Restore(Simulation& state, std::string& error) {
    // The processes of a distributed run compute the digest together, before
    // anything may end one's restore early.
    const bool together = channel_ != nullptr && channel_->ranks > 1;
    uint64_t builtDigest = 0;
    if (state.neurons != nullptr)
        builtDigest = together ? NetworkStructureDigest(state, *channel_) : NetworkStructureDigest(state);
    if (file_ < 0) {
        error = path_ + ": the checkpoint is not open";
        return false;
    }
    Id file(file_);  // closed on every way out
    file_ = -1;
    if (state.neurons == nullptr) {
        error = path_ + ": no network is built";
        return false;
    }
    uint32_t neuronCount = 0;
    uint64_t digest = 0;
    NetworkCounts saved;
    Id network(OpenGroup(file, "network"));
    if (!network.ok() || !ReadAttribute(network, "neuronCount", &neuronCount) ||
        !ReadAttribute(network, "synapseCount", &saved.synapses) ||
        !ReadAttribute(network, "laneGroups", &saved.laneGroups) ||
        !ReadAttribute(network, "delaySlots", &saved.delaySlots) ||
        !ReadAttribute(network, "structureDigest", &digest)) {
        error = path_ + ": damaged checkpoint (/network missing or unreadable)";
        return false;
    }
    const NetworkCounts built = CountNetwork(state);
    if (neuronCount != state.neuronCount || saved.synapses != built.synapses ||
        saved.laneGroups != built.laneGroups || saved.delaySlots != built.delaySlots ||
        digest != builtDigest) {
        char text[256];
        std::snprintf(text, sizeof text,
                      ": the network rebuilt from the checkpoint's parameters is not the saved one "
                      "(%u neurons and %llu synapses saved, %u and %llu built)",
                      neuronCount, static_cast<unsigned long long>(saved.synapses), state.neuronCount,
                      static_cast<unsigned long long>(built.synapses));
        error = path_ + text;
        return false;
    }
    std::string failed = ReadNeurons(file, state, saved.delaySlots);
    if (failed.empty())
        failed = state.eventEngine != nullptr ? ReadEventState(file, state, saved) : ReadSynapses(file, state, saved);
    if (failed.empty()) failed = ReadAnalysis(file, state);
    if (!failed.empty()) {
        error = path_ + ": truncated or damaged checkpoint (" + failed + ")";
        return false;
    }
    failed = CheckRestored(state);
    if (!failed.empty()) {
        error = path_ + ": damaged checkpoint (" + failed + ")";
        return false;
    }
    plat::AtomicStore(state.stimulusOn, stimulusOn_);
    state.stimulusPeriod = stimulusPeriod_;
    state.stepCounter.store(step_, std::memory_order_release);
    return true;
}
