// SONATA spike reports and network files over the HDF5 C library.
//
// Sections:
//   1. HDF5 helpers (enums, datasets written in blocks or extended)
//   2. Spike report writer
//   3. Network export
#include "io/sonata.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <new>
#include <vector>

#include "engine/simulation.h"
#include "engine/synapses.h"
#include "io/hdf5_util.h"

namespace {

// ---- 1. HDF5 helpers ------------------------------------------------------------------------------

// A uint8 enum type with the given member names (values 0, 1, ...).
hid_t EnumType(std::initializer_list<const char*> names) {
    const hid_t type = H5Tenum_create(H5T_NATIVE_UINT8);
    uint8_t value = 0;
    for (const char* name : names) {
        H5Tenum_insert(type, name, &value);
        ++value;
    }
    return type;
}

// The SONATA file signature on the root group: magic 0x0A7A and version 0.1.
bool WriteSignature(hid_t file) {
    const uint32_t magic = 0x0A7A, version[2] = {0, 1};
    return WriteAttribute(file, "magic", &magic) && WriteAttribute(file, "version", version, 2);
}

// An enumerated column's names, as SONATA keeps them: a dataset of UTF-8
// variable-length strings in the group's @library, named as the column, whose
// integer values index it.
bool WriteLibrary(hid_t group, const char* column, std::initializer_list<const char*> names) {
    Id library(H5Lexists(group, "@library", H5P_DEFAULT) > 0 ? H5Gopen2(group, "@library", H5P_DEFAULT)
                                                              : H5Gcreate2(group, "@library", H5P_DEFAULT,
                                                                           H5P_DEFAULT, H5P_DEFAULT));
    Id type(H5Tcopy(H5T_C_S1));
    H5Tset_size(type, H5T_VARIABLE);
    H5Tset_cset(type, H5T_CSET_UTF8);
    const hsize_t dims[1] = {names.size()};
    Id space(H5Screate_simple(1, dims, nullptr));
    Id set(H5Dcreate2(library, column, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    std::vector<const char*> values(names);
    return library.ok() && set.ok() && H5Dwrite(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) >= 0;
}

// A dataset of rows of two uint64 values (SONATA's index ranges).
bool PairDataset(hid_t group, const char* name, const std::vector<uint64_t>& pairs) {
    const hsize_t dims[2] = {pairs.size() / 2, 2};
    Id space(H5Screate_simple(2, dims, nullptr));
    Id set(H5Dcreate2(group, name, H5T_STD_U64LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    return set.ok() &&
           (pairs.empty() || H5Dwrite(set, H5T_NATIVE_UINT64, H5S_ALL, H5S_ALL, H5P_DEFAULT, pairs.data()) >= 0);
}

// indices/<name>: node_id_to_ranges [nodes][2] gives, per node, the rows of
// range_to_edge_id [ranges][2] that hold the node's edges as [first, end) runs of
// edge ids; a node without edges has [0, 0]. `key(e)` is edge e's node id.
template <typename Key>
bool WriteIndex(hid_t indices, const char* name, uint64_t nodes, uint64_t edges, Key key) {
    // Edge ids grouped by node in increasing order (a counting sort).
    std::vector<uint64_t> start(nodes + 1, 0);
    for (uint64_t e = 0; e < edges; ++e) ++start[key(e) + 1];
    for (uint64_t n = 0; n < nodes; ++n) start[n + 1] += start[n];
    std::vector<uint64_t> order(edges), next(start.begin(), start.end() - 1);
    for (uint64_t e = 0; e < edges; ++e) order[next[key(e)]++] = e;
    std::vector<uint64_t> nodeRanges(2 * nodes, 0), ranges;
    for (uint64_t n = 0; n < nodes; ++n) {
        if (start[n] == start[n + 1]) continue;
        nodeRanges[2 * n] = ranges.size() / 2;
        for (uint64_t k = start[n]; k < start[n + 1]; ++k) {
            if (k > start[n] && order[k] == ranges.back()) {
                ++ranges.back();  // extends the run
            } else {
                ranges.push_back(order[k]);
                ranges.push_back(order[k] + 1);
            }
        }
        nodeRanges[2 * n + 1] = ranges.size() / 2;
    }
    Id group(H5Gcreate2(indices, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    return group.ok() && PairDataset(group, "node_id_to_ranges", nodeRanges) &&
           PairDataset(group, "range_to_edge_id", ranges);
}

// A fixed-size dataset of `count` elements filled block by block by `fill(first,
// n, out)`, so that memory stays bounded on the largest networks.
template <typename T>
bool BlockDataset(hid_t group, const char* name, hid_t fileType, hid_t memType, uint64_t count,
                  const std::function<void(uint64_t, uint64_t, T*)>& fill) {
    const hsize_t dims[1] = {count};
    Id space(H5Screate_simple(1, dims, nullptr));
    Id set(H5Dcreate2(group, name, fileType, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    if (!set.ok()) return false;
    constexpr uint64_t kBlock = 1u << 20;
    std::vector<T> buffer(static_cast<size_t>(std::min<uint64_t>(count, kBlock)));
    for (uint64_t first = 0; first < count; first += kBlock) {
        const uint64_t n = std::min(kBlock, count - first);
        fill(first, n, buffer.data());
        const hsize_t start[1] = {first}, size[1] = {n};
        Id memory(H5Screate_simple(1, size, nullptr));
        Id slab(H5Dget_space(set));
        H5Sselect_hyperslab(slab, H5S_SELECT_SET, start, nullptr, size, nullptr);
        if (H5Dwrite(set, memType, memory, slab, H5P_DEFAULT, buffer.data()) < 0) return false;
    }
    return true;
}

// An extendible, chunked dataset of one dimension, empty at first.
hid_t ExtendibleDataset(hid_t group, const char* name, hid_t type) {
    const hsize_t dims[1] = {0}, maxDims[1] = {H5S_UNLIMITED}, chunk[1] = {16384};
    Id space(H5Screate_simple(1, dims, maxDims));
    Id properties(H5Pcreate(H5P_DATASET_CREATE));
    H5Pset_chunk(properties, 1, chunk);
    return H5Dcreate2(group, name, type, space, H5P_DEFAULT, properties, H5P_DEFAULT);
}

bool AppendTo(hid_t set, hid_t memType, uint64_t oldCount, const void* data, size_t count) {
    const hsize_t newSize[1] = {oldCount + count}, start[1] = {oldCount}, size[1] = {count};
    if (H5Dset_extent(set, newSize) < 0) return false;
    Id slab(H5Dget_space(set));
    Id memory(H5Screate_simple(1, size, nullptr));
    H5Sselect_hyperslab(slab, H5S_SELECT_SET, start, nullptr, size, nullptr);
    return H5Dwrite(set, memType, memory, slab, H5P_DEFAULT, data) >= 0;
}

}  // namespace

// ---- 2. Spike report writer -------------------------------------------------------------------------

SpikeReportWriter::~SpikeReportWriter() {
    std::string ignored;
    Close(ignored);
}

bool SpikeReportWriter::Create(const std::string& path, std::string& error) {
    QuietHdf5();
    if (!CheckWritable(path, error)) return false;
    if (file_ >= 0) {
        error = path_ + ": still open";
        return false;
    }
    path_ = path;
    count_ = flushed_ = 0;
    file_ = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file_ < 0) {
        error = path + ": cannot create an HDF5 file there";
        return false;
    }
    Id spikes(H5Gcreate2(file_, "spikes", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    group_ = H5Gcreate2(spikes, kSonataPopulation, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    timestamps_ = group_ >= 0 ? ExtendibleDataset(group_, "timestamps", H5T_IEEE_F64LE) : -1;
    nodeIds_ = group_ >= 0 ? ExtendibleDataset(group_, "node_ids", H5T_STD_U64LE) : -1;
    bool ok = timestamps_ >= 0 && nodeIds_ >= 0 && WriteSignature(file_) && WriteText(timestamps_, "units", "ms");
    if (ok) {
        Id sorting(EnumType({"none", "by_id", "by_time"}));
        Id space(H5Screate(H5S_SCALAR));
        Id attribute(H5Acreate2(group_, "sorting", sorting, space, H5P_DEFAULT, H5P_DEFAULT));
        const uint8_t byTime = 2;
        ok = attribute.ok() && H5Awrite(attribute, sorting, &byTime) >= 0;
    }
    if (!ok || H5Fflush(file_, H5F_SCOPE_LOCAL) < 0) {
        std::string ignored;
        Close(ignored);
        error = path + ": cannot lay out the spike report";
        return false;
    }
    return true;
}

bool SpikeReportWriter::Append(const double* timestampsMs, const uint64_t* nodeIds, size_t count,
                               std::string& error) {
    if (file_ < 0) {
        error = "the spike report is not open";
        return false;
    }
    if (count == 0) return true;
    QuietHdf5();  // on the recorder's thread too
    if (!AppendTo(timestamps_, H5T_NATIVE_DOUBLE, count_, timestampsMs, count) ||
        !AppendTo(nodeIds_, H5T_NATIVE_UINT64, count_, nodeIds, count)) {
        // Back to the spikes of the last flush, the ones surely on disk (later
        // ones may have stayed in the library's cache), so the file closes as a
        // report of them.
        count_ = flushed_;
        const hsize_t kept[1] = {count_};
        H5Dset_extent(timestamps_, kept);
        H5Dset_extent(nodeIds_, kept);
        error = path_ + ": cannot write spikes (disk full?)";
        return false;
    }
    count_ += count;
    return true;
}

bool SpikeReportWriter::Flush(std::string& error) {
    if (file_ < 0) return true;
    QuietHdf5();
    if (H5Fflush(file_, H5F_SCOPE_LOCAL) < 0) {
        count_ = flushed_;
        const hsize_t kept[1] = {count_};
        H5Dset_extent(timestamps_, kept);
        H5Dset_extent(nodeIds_, kept);
        error = path_ + ": cannot write spikes (disk full?)";
        return false;
    }
    flushed_ = count_;
    return true;
}

bool SpikeReportWriter::Close(std::string& error) {
    if (file_ < 0) return true;
    QuietHdf5();
    bool ok = true;
    for (int64_t* id : {&timestamps_, &nodeIds_}) {
        if (*id >= 0 && H5Dclose(*id) < 0) ok = false;
        *id = -1;
    }
    if (group_ >= 0 && H5Gclose(group_) < 0) ok = false;
    group_ = -1;
    if (H5Fclose(file_) < 0) ok = false;
    file_ = -1;
    if (!ok) error = path_ + ": cannot close the spike report";
    return ok;
}

// ---- 3. Network export --------------------------------------------------------------------------------

namespace {

// Every synapse, by target neuron, then as the target stores them (by source).
struct EdgeLists {
    std::vector<uint32_t> post, pre;
    std::vector<float> weight;
};

// Appends the synapses onto neurons [first, end) that this process holds.
void AddOwnEdges(const Simulation& state, uint32_t first, uint32_t end, EdgeLists& edges) {
    for (uint32_t i = first; i < end; ++i)
        for (uint32_t k = 0; k < state.neurons[i].incomingCount; ++k) {
            edges.post.push_back(i);
            edges.pre.push_back(IncomingPre(state, i, k));
            edges.weight.push_back(IncomingWeight(state, i, k));
        }
}

// Appends another process's part for neurons [first, end): their synapses'
// sources, then their weights. False when it does not hold their counts.
bool AddEdges(const Simulation& state, uint32_t first, uint32_t end, const std::vector<char>& part, EdgeLists& edges) {
    const size_t count = part.size() / (sizeof(uint32_t) + sizeof(float));
    size_t expected = 0;
    for (uint32_t i = first; i < end; ++i) expected += state.neurons[i].incomingCount;
    if (count != expected) return false;
    const size_t at = edges.pre.size();
    edges.pre.resize(at + count);
    edges.weight.resize(at + count);
    std::memcpy(edges.pre.data() + at, part.data(), count * sizeof(uint32_t));
    std::memcpy(edges.weight.data() + at, part.data() + count * sizeof(uint32_t), count * sizeof(float));
    for (uint32_t i = first; i < end; ++i) edges.post.insert(edges.post.end(), state.neurons[i].incomingCount, i);
    return true;
}

// Every process's edges, in process 0 (the others send theirs; their lists stay
// empty). False when a part does not fit the network.
bool CollectEdges(const Simulation& state, const ProcessChannel* channel, EdgeLists& edges) {
    if (channel == nullptr || channel->ranks <= 1) {
        AddOwnEdges(state, 0, state.neuronCount, edges);
        return true;
    }
    if (channel->rank != 0) {
        EdgeLists mine;
        AddOwnEdges(state, state.shareFirst, state.shareEnd, mine);
        const size_t count = mine.pre.size();
        std::vector<char> bytes(count * (sizeof(uint32_t) + sizeof(float)));
        std::memcpy(bytes.data(), mine.pre.data(), count * sizeof(uint32_t));
        std::memcpy(bytes.data() + count * sizeof(uint32_t), mine.weight.data(), count * sizeof(float));
        channel->send(channel->context, bytes.data(), bytes.size());
        return true;
    }
    AddOwnEdges(state, state.shareFirst, state.shareEnd, edges);
    bool ok = true;
    std::vector<char> part;
    for (uint32_t r = 1; r < channel->ranks; ++r) {
        channel->receive(channel->context, r, part);
        uint32_t first = 0, end = 0;
        ShareOfNeurons(state.neuronCount, r, channel->ranks, first, end);
        ok = AddEdges(state, first, end, part, edges) && ok;
    }
    return ok;
}

bool WriteNodes(hid_t file, const Simulation& state) {
    const Neuron* neurons = state.neurons;
    const uint64_t n = state.neuronCount;
    Id nodes(H5Gcreate2(file, "nodes", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    Id population(H5Gcreate2(nodes, kSonataPopulation, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    Id group(H5Gcreate2(population, "0", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    if (!group.ok()) return false;
    using U64 = std::function<void(uint64_t, uint64_t, uint64_t*)>;
    using F32 = std::function<void(uint64_t, uint64_t, float*)>;
    using U8 = std::function<void(uint64_t, uint64_t, uint8_t*)>;
    bool ok = BlockDataset<uint64_t>(population, "node_type_id", H5T_STD_U64LE, H5T_NATIVE_UINT64, n,
                                     U64([&](uint64_t f, uint64_t c, uint64_t* o) {
                                         for (uint64_t i = 0; i < c; ++i) o[i] = neurons[f + i].neuronClass;
                                     })) &&
              BlockDataset<uint64_t>(population, "node_group_id", H5T_STD_U64LE, H5T_NATIVE_UINT64, n,
                                     U64([](uint64_t, uint64_t c, uint64_t* o) { std::fill(o, o + c, 0); })) &&
              BlockDataset<uint64_t>(population, "node_group_index", H5T_STD_U64LE, H5T_NATIVE_UINT64, n,
                                     U64([](uint64_t f, uint64_t c, uint64_t* o) {
                                         for (uint64_t i = 0; i < c; ++i) o[i] = f + i;
                                     }));
    const char* axes[3] = {"x", "y", "z"};
    for (int a = 0; a < 3 && ok; ++a)
        ok = BlockDataset<float>(group, axes[a], H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, n,
                                 F32([&](uint64_t f, uint64_t c, float* o) {
                                     for (uint64_t i = 0; i < c; ++i) o[i] = neurons[f + i].somaPos[a];
                                 }));
    float Neuron::*const parameters[4] = {&Neuron::a, &Neuron::b, &Neuron::c, &Neuron::d};
    const char* names[4] = {"a", "b", "c", "d"};
    for (int k = 0; k < 4 && ok; ++k)
        ok = BlockDataset<float>(group, names[k], H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, n,
                                 F32([&](uint64_t f, uint64_t c, float* o) {
                                     for (uint64_t i = 0; i < c; ++i) o[i] = neurons[f + i].*parameters[k];
                                 }));
    ok = ok &&
         BlockDataset<uint8_t>(group, "kind", H5T_STD_U8LE, H5T_NATIVE_UINT8, n,
                               U8([&](uint64_t f, uint64_t c, uint8_t* o) {
                                   for (uint64_t i = 0; i < c; ++i) o[i] = neurons[f + i].isExcitatory ? 1 : 0;
                               })) &&
         WriteLibrary(group, "kind", {"inhibitory", "excitatory"}) &&
         BlockDataset<uint8_t>(group, "class", H5T_STD_U8LE, H5T_NATIVE_UINT8, n,
                               U8([&](uint64_t f, uint64_t c, uint8_t* o) {
                                   for (uint64_t i = 0; i < c; ++i) o[i] = neurons[f + i].neuronClass;
                               })) &&
         WriteLibrary(group, "class", {"RS", "IB", "CH", "FS", "LTS"}) &&
         BlockDataset<uint8_t>(group, "model_type", H5T_STD_U8LE, H5T_NATIVE_UINT8, n,
                               U8([](uint64_t, uint64_t c, uint8_t* o) { std::fill(o, o + c, 0); })) &&
         WriteLibrary(group, "model_type", {"point_neuron"});
    return ok;
}

bool WriteEdges(hid_t file, const Simulation& state, const EdgeLists& edges) {
    const Neuron* neurons = state.neurons;
    const uint64_t e = edges.pre.size();
    const std::string population = std::string(kSonataPopulation) + "__" + kSonataPopulation;
    Id all(H5Gcreate2(file, "edges", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    Id edgesGroup(H5Gcreate2(all, population.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    Id group(H5Gcreate2(edgesGroup, "0", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    if (!group.ok()) return false;
    using U64 = std::function<void(uint64_t, uint64_t, uint64_t*)>;
    using F32 = std::function<void(uint64_t, uint64_t, float*)>;
    using U8 = std::function<void(uint64_t, uint64_t, uint8_t*)>;
    auto source = [&](uint64_t f, uint64_t c, uint64_t* o) {
        for (uint64_t i = 0; i < c; ++i) o[i] = edges.pre[f + i];
    };
    auto target = [&](uint64_t f, uint64_t c, uint64_t* o) {
        for (uint64_t i = 0; i < c; ++i) o[i] = edges.post[f + i];
    };
    auto inhibitory = [&](uint64_t i) -> uint8_t { return neurons[edges.pre[i]].isExcitatory ? 0 : 1; };
    bool ok = BlockDataset<uint64_t>(edgesGroup, "source_node_id", H5T_STD_U64LE, H5T_NATIVE_UINT64, e, U64(source)) &&
              BlockDataset<uint64_t>(edgesGroup, "target_node_id", H5T_STD_U64LE, H5T_NATIVE_UINT64, e, U64(target)) &&
              BlockDataset<uint64_t>(edgesGroup, "edge_type_id", H5T_STD_U64LE, H5T_NATIVE_UINT64, e,
                                     U64([&](uint64_t f, uint64_t c, uint64_t* o) {
                                         for (uint64_t i = 0; i < c; ++i) o[i] = inhibitory(f + i);
                                     })) &&
              BlockDataset<uint64_t>(edgesGroup, "edge_group_id", H5T_STD_U64LE, H5T_NATIVE_UINT64, e,
                                     U64([](uint64_t, uint64_t c, uint64_t* o) { std::fill(o, o + c, 0); })) &&
              BlockDataset<uint64_t>(edgesGroup, "edge_group_index", H5T_STD_U64LE, H5T_NATIVE_UINT64, e,
                                     U64([](uint64_t f, uint64_t c, uint64_t* o) {
                                         for (uint64_t i = 0; i < c; ++i) o[i] = f + i;
                                     }));
    for (const char* name : {"source_node_id", "target_node_id"}) {
        if (!ok) break;
        Id set(H5Dopen2(edgesGroup, name, H5P_DEFAULT));
        ok = set.ok() && WriteText(set, "node_population", kSonataPopulation);
    }
    ok = ok &&
         BlockDataset<float>(group, "syn_weight", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, e,
                             F32([&](uint64_t f, uint64_t c, float* o) {
                                 std::copy_n(edges.weight.data() + f, c, o);
                             })) &&
         BlockDataset<float>(group, "delay", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, e,
                             F32([&](uint64_t f, uint64_t c, float* o) {
                                 for (uint64_t i = 0; i < c; ++i)
                                     o[i] = static_cast<float>(neurons[edges.pre[f + i]].delayLength) * kStepMs;
                             }));
    ok = ok &&
         BlockDataset<uint8_t>(group, "receptor", H5T_STD_U8LE, H5T_NATIVE_UINT8, e,
                               U8([&](uint64_t f, uint64_t c, uint8_t* o) {
                                   for (uint64_t i = 0; i < c; ++i) o[i] = inhibitory(f + i);
                               })) &&
         WriteLibrary(group, "receptor", {"AMPA_NMDA", "GABAA_GABAB"});
    if (!ok) return false;
    Id indices(H5Gcreate2(edgesGroup, "indices", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    const uint64_t n = state.neuronCount;
    return indices.ok() &&
           WriteIndex(indices, "source_to_target", n, e,
                      [&](uint64_t i) { return uint64_t{edges.pre[i]}; }) &&
           WriteIndex(indices, "target_to_source", n, e,
                      [&](uint64_t i) { return uint64_t{edges.post[i]}; });
}

}  // namespace

bool ExportNetwork(const Simulation& state, const std::string& path, std::string& error,
                   const ProcessChannel* channel) {
    if (!state.neurons || state.neuronCount == 0) {
        error = "no network is built";
        return false;
    }
    // Every process's edges first: the others are sending them whatever happens here.
    EdgeLists edges;
    try {
        if (!CollectEdges(state, channel, edges)) {
            error = path + ": another process's synapses do not fit the network";
            return false;
        }
    } catch (const std::bad_alloc&) {
        error = path + ": not enough memory to write the network";
        return false;
    }
    QuietHdf5();
    if (!CheckWritable(path, error)) return false;
    Id file(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT));
    if (!file.ok()) {
        error = path + ": cannot create an HDF5 file there";
        return false;
    }
    bool ok = false;
    try {
        ok = WriteSignature(file) && WriteNodes(file, state) && WriteEdges(file, state, edges);
    } catch (const std::bad_alloc&) {
        H5Fclose(file.id);
        file.id = -1;
        error = path + ": not enough memory to write the network";
        return false;
    }
    const bool closed = H5Fclose(file.id) >= 0;
    file.id = -1;
    if (!ok || !closed) {
        error = path + ": cannot write the network (disk full?)";
        return false;
    }
    return true;
}

void ExportPartsOnly(const Simulation& state, const ProcessChannel& channel) {
    if (channel.ranks <= 1 || state.neurons == nullptr) return;
    EdgeLists dropped;
    CollectEdges(state, &channel, dropped);
}
