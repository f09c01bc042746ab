// The files a run writes: the spike report (record=FILE.h5, or switched on and off
// during a run) and the built network (export=FILE.h5), both SONATA. They are
// observers of the simulation: each start of a simulation exports its network and,
// with record=, opens a report; every way out closes the report (the stop of the
// simulation, or a fatal error through the log's fatal hook). Each file gets its
// own name (the first as given, later ones of the process as name-2.h5,
// name-3.h5, ...), so that nothing overwrites an earlier file.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

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
    bool failed = false;     // a file could not be written (the run's status says so)
    AppState* state = nullptr;  // whose simulations these are (set when installed)
};

// The file of the run-th simulation (1-based) for the path given.
std::string RunFileName(const std::string& path, uint32_t run);
// Whether a file can be written at `path` (not a folder; the folder exists and is
// writable). Checked before a long build, so a typing error costs nothing.
bool CheckOutputPath(const std::string& path, std::string& error);
// Registers the outputs as an observer of the state's simulations, and the fatal
// hook that closes a report in progress. One RunOutputs per process.
bool InstallRunOutputs(AppState& state, RunOutputs& outputs);
// Spike recording on or off during a run (the key and the toolbox): closes the
// report being written, or opens the next one (named by record=, else
// vellicor-spikes.h5 in the capture folder). Returns whether it now records.
bool ToggleRecording(RunOutputs& outputs);
