// SONATA files (HDF5): the spike report of a run and the built network.
//
// Sections:
//   1. Spike report: /spikes/vellicor/{timestamps, node_ids}, written in chunks
//   2. Network: /nodes/vellicor and /edges/vellicor__vellicor in one file
//
// Node ids are neuron indices, as the picker, the inspector and the spike report
// use them. The population is named "vellicor".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/process_channel.h"

struct Simulation;

inline constexpr const char* kSonataPopulation = "vellicor";

// ---- 1. Spike report ----------------------------------------------------------------------
// Timestamps in ms (float64), node ids (uint64), both extendible and chunked; the
// population group carries the `sorting` attribute (SONATA's enum: none, by_id,
// by_time) as "by_time", since spikes arrive step by step. After Flush the file on
// disk is complete up to the last spike appended; Close flushes too. A failed
// append or flush (a full disk) cuts the report back to the last flush.
class SpikeReportWriter {
public:
    SpikeReportWriter() = default;
    ~SpikeReportWriter();
    SpikeReportWriter(const SpikeReportWriter&) = delete;
    SpikeReportWriter& operator=(const SpikeReportWriter&) = delete;

    // Creates (or replaces) `path`. False with `error` set when it cannot.
    bool Create(const std::string& path, std::string& error);
    bool Append(const double* timestampsMs, const uint64_t* nodeIds, size_t count, std::string& error);
    bool Flush(std::string& error);
    bool Close(std::string& error);
    bool IsOpen() const { return file_ >= 0; }
    uint64_t SpikeCount() const { return count_; }
    const std::string& Path() const { return path_; }

private:
    int64_t file_ = -1, group_ = -1, timestamps_ = -1, nodeIds_ = -1;  // HDF5 ids
    uint64_t count_ = 0;
    uint64_t flushed_ = 0;  // spikes on disk at the last flush
    std::string path_;
};

// ---- 2. Network -------------------------------------------------------------------------------
// Nodes: node_type_id (the neuron class), node_group_id (0), node_group_index
// (0..N-1), and in group 0: x, y, z (mm), kind (enum inhibitory/excitatory), class
// (enum RS, IB, CH, FS, LTS), a, b, c, d. Edges, one per synapse, by target then
// source: source_node_id and target_node_id (uint64, attribute node_population),
// edge_type_id (the receptor kind), edge_group_id (0), edge_group_index, and in
// group 0: syn_weight, delay (ms) and receptor (enum AMPA_NMDA, GABAA_GABAB).
// The network must be built and not stepping (paused or not started).
// In a distributed run, process 0 writes the file with every process's synapses
// (`channel`), which the others send with ExportPartsOnly at the same point.
bool ExportNetwork(const Simulation& state, const std::string& path, std::string& error,
                   const ProcessChannel* channel = nullptr);
// A process of a distributed run that writes no export: sends its synapses to
// process 0 (or, on process 0, takes and drops every other process's).
void ExportPartsOnly(const Simulation& state, const ProcessChannel& channel);
