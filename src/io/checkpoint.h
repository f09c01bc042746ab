// Checkpoints (HDF5): the complete state of a simulation between two steps, from
// which a later run continues bit for bit, on any number of worker threads.
//
// The network's structure is not stored: it is rebuilt from the parameters and
// the generator state its build started from (Simulation::buildOrigin), then checked
// against the stored counts and structure digest, and every value the steps change
// is overwritten from the file. Layout (names as the fields in the code):
//
//   /                  attributes format ("vellicor-checkpoint"), formatVersion,
//                      writer, step (the steps completed)
//   /parameters        one attribute per SimParams field, as the build began
//                      (engineMode is missing in files written before it
//                      existed: exact); toml: the same as a parameter file,
//                      for people to read
//   /options           attributes stimulusOn, stimulusPeriod
//   /random            attributes firstUse, seed, history1[10], history2[10]
//   /network           attributes neuronCount, synapseCount, laneGroups,
//                      delaySlots, structureDigest
//   /neurons           [neuronCount] v, u, vNext, uNext, vPeak, vEnvelope,
//                      vEnvelopeView, gAmpa, gNmda, gGabaA, gGabaB, lastFiltered,
//                      delayIndex, spikeCount, lastSpikeStep, isHeld;
//                      [delaySlots] delayV, delayFiltered (neuron after neuron)
//   The exact engine's synapses:
//   /synapses          [synapseCount] arrivalStep (neuron after neuron, in the
//                      order of its incoming list)
//   /synapses/lanes    [laneGroups][4] available, utilization, gFast, gSlow,
//                      arrived, weight, weightDelta (per neuron its excitatory
//                      groups, then its inhibitory ones; unused slots included)
//   or the event engine's (engine/event.h):
//   /event             [synapseCount] available, utilization, weight,
//                      weightDelta, step, target (run after run);
//                      inputSums [neuronCount][4] (the lanes summed); history
//                      [neuronCount][8]; due [ringSteps][ringWords]
//   /analysis          spikeHistory, spectrum [1025][2], power, peakFlags,
//                      weightHistogram; attributes historyPosition, powerMin,
//                      powerMax, peakCount, weightTotal
//
// Every error names the file.
#pragma once

#include <cstdint>
#include <string>

#include "io/app_state.h"
#include "io/process_channel.h"

inline constexpr const char* kCheckpointFormat = "vellicor-checkpoint";
inline constexpr uint32_t kCheckpointVersion = 1;

// A checkpoint of a distributed run is one file, written by process 0 while the
// others send it, in the order it writes them, their parts: their neurons' delay
// lines and the synapses onto their neurons (the per-neuron values reach process 0
// before). On a resume every process reads its own parts from the file.
// Writes the state of the built network to `path` (through a temporary file beside
// it, renamed over it when complete, so a failed write leaves no half file and the
// old one whole; a symlink's target is replaced, never the link; a FIFO or device
// is refused). The network must be at rest: no worker stepping (not started yet,
// or parked between steps).
bool WriteCheckpoint(const AppState& state, const std::string& path, std::string& error);
// The same for a simulation without the program's record; `options` go into the
// stored parameter file's text.
bool WriteCheckpoint(const Simulation& state, const AppOptions& options, const std::string& path, std::string& error,
                     const ProcessChannel* channel = nullptr);
// The parts of a process other than 0, while process 0 writes the checkpoint.
void SendCheckpointParts(const Simulation& state, const ProcessChannel& channel);

// A checkpoint opened for a resumed run: Open checks the file and reads the
// parameters, PrepareBuild sets them up for BuildNetwork, Restore fills the built
// network and closes the file.
class CheckpointReader {
public:
    CheckpointReader() = default;
    ~CheckpointReader();
    CheckpointReader(const CheckpointReader&) = delete;
    CheckpointReader& operator=(const CheckpointReader&) = delete;

    // Opens the file and reads its header: a missing file, a folder, a file that
    // is not HDF5, a truncated file, a file that is no checkpoint, a checkpoint of
    // another format version and parameters outside the limits a parameter file
    // has (or a seed of 0, or a shape larger than the presets') are refused.
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return file_ >= 0; }
    const std::string& Path() const { return path_; }
    uint32_t Step() const { return step_; }  // the steps the saved run had completed
    uint8_t Engine() const { return origin_.params.engineMode; }  // whose state the file holds

    // The saved parameters (keeping the state's worker-thread settings) and the
    // generator state the saved network's build started from, with the engine
    // whose state the file holds.
    void PrepareBuild(Simulation& state) const;
    // After BuildNetwork: checks that the network is the saved one, overwrites
    // every value the steps change (each checked: finite, flags 0 or 1, weights
    // within 0..1, conductances not negative), the analysis, the stimulus options
    // and the step counter, and closes the file. False, with `error` set, when the network
    // differs or the file cannot be read; the network is then partly overwritten.
    bool Restore(Simulation& state, std::string& error);
    void Close();
    // A distributed run's processes restore together (the structure digest needs
    // every process's synapses).
    void SetChannel(const ProcessChannel* channel) { channel_ = channel; }

private:
    int64_t file_ = -1;  // HDF5 id
    std::string path_;
    uint32_t step_ = 0;
    BuildOrigin origin_{};
    uint8_t stimulusOn_ = 0;
    uint32_t stimulusPeriod_ = 0;
    const ProcessChannel* channel_ = nullptr;
};

// A digest of the network's structure: every neuron's kind, class, parameters a-d,
// delay length and counts, and every incoming synapse's pre-synaptic neuron and
// lane. Two builds agree on it exactly when they wired the same network.
uint64_t NetworkStructureDigest(const Simulation& state);
// The same digest, computed by the processes of a distributed run together (each
// holds the synapses onto its own neurons); every process gets it.
uint64_t NetworkStructureDigest(const Simulation& state, const ProcessChannel& channel);
