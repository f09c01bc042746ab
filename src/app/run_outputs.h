// The files a run writes: the spike report (record=FILE.h5, or switched on and off
// during a run) and the built network (export=FILE.h5), both SONATA. They are
// observers of the simulation: each start of a simulation exports its network and,
// with record=, opens a report; every way out closes the report (the stop of the
// simulation, or a fatal error through the log's fatal hook).
//
// Names: a file named on the command line is written as given (an existing file
// is overwritten, and the log says so at the start). Every other file takes the
// first free name of its series (name-2.h5, name-3.h5, ...; vellicor-spikes.h5,
// vellicor-spikes-2.h5, ...), claimed with O_EXCL, so nothing overwrites the file
// of an earlier run of this process or another. Each file written is named in
// the log and in a notice in the window.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "io/process_channel.h"
#include "io/spike_recorder.h"

struct AppState;

struct RunOutputs {
    ~RunOutputs();  // no longer the fatal hook's
    std::string recordPath;  // empty: no spike report
    std::string exportPath;  // empty: no network file
    SpikeRecorder recorder;
    std::string recording;   // the report being written, empty when none
    uint32_t runs = 0;       // simulations started so far
    uint32_t reports = 0;    // spike reports opened so far
    std::mutex mutex;        // recording, reports: the key, the start and the stop
    std::atomic<bool> failed{false};  // a file could not be written (the run's status says so)
    AppState* state = nullptr;  // whose simulations these are (set when installed)
    // A distributed run's export: process 0 writes it with every process's
    // synapses, which the others send (sendExportParts).
    const ProcessChannel* channel = nullptr;
    bool sendExportParts = false;
};

// Whether a file can be written at `path` (not a folder, not a FIFO or device; the
// folder exists and is writable). Checked before a long build, so a typing error
// costs nothing. `exists` says whether a file is there now (it will be replaced).
bool CheckOutputPath(const std::string& path, std::string& error, bool* exists = nullptr);
// The files named on the command line, as (switch, path) pairs: two outputs on
// one file, or an output on the checkpoint being resumed, are refused before
// anything is written. A checkpoint may replace the one it resumes (it is read
// whole first). "" when they are distinct, else the reason.
struct NamedFile {
    const char* switchName;  // "record=", "export=", "checkpoint=", "resume="
    std::string path;
};
std::string OverlappingOutputs(const NamedFile* files, size_t count);
// The text of the window's notice for a file written ("Checkpoint written: PATH"),
// short enough for the notice line: a long path keeps its end.
std::string FileNotice(const char* what, const std::string& path);
// The log line and the window's notice for a file written (any thread).
void AnnounceFile(const char* what, const std::string& path);
// Registers the outputs as an observer of the state's simulations, and the fatal
// hook that closes a report in progress. One RunOutputs per process.
bool InstallRunOutputs(AppState& state, RunOutputs& outputs);
// Spike recording on or off during a run (the key and the toolbox): closes the
// report being written, or opens the next one (named by record=, else
// vellicor-spikes.h5 in the capture folder). Returns whether it now records.
bool ToggleRecording(RunOutputs& outputs);
