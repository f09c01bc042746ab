// The files a run writes when the command line asks for them: the spike report
// (record=FILE.h5) and the built network (export=FILE.h5), both SONATA. They are
// observers of the simulation: each start of a simulation writes its own files
// (the first under the given name, later ones in the same process as name-2.h5,
// name-3.h5, ... so that no run overwrites another's), and every way out closes
// the spike report (the stop of the simulation, or a fatal error through the log's
// fatal hook).
#pragma once

#include <cstdint>
#include <string>

#include "io/spike_recorder.h"

struct AppState;

struct RunOutputs {
    std::string recordPath;  // empty: no spike report
    std::string exportPath;  // empty: no network file
    SpikeRecorder recorder;
    std::string recording;   // the report being written, empty when none
    uint32_t runs = 0;       // simulations started so far
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
