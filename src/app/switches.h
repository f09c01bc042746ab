// Command-line switches: case-insensitive keyword substrings (a leading "/" or "-"
// is optional), each argument tested against every keyword in order, so a later
// match overwrites an earlier one. In "name=value" only the name is searched. Bad
// values and arguments that match no switch are logged once each and ignored.
#pragma once

#include <cstdint>
#include <string>

struct AppState;

struct LaunchOptions {
    bool demo = false;      // start a simulation at once
    bool headless = false;  // no window and no toolbox
    bool help = false;
    bool version = false;
    bool seedGiven = false;
    uint32_t seed = 0;
    int preset = -1;  // applied preset row, or -1
    bool shapeGiven = false;  // grid=XxYxZ or sphere=D applied (a shape that may be no preset)
    bool threadsGiven = false;
    uint32_t threads = 0;
    bool stepsGiven = false;
    uint32_t steps = 0;
    std::string configPath;      // config=FILE: loaded before the other switches
    bool configFailed = false;   // the file could not be loaded (the error is logged)
    bool fileNameMissing = false;  // a file switch without a name (save-config=): logged, status 1
    std::string saveConfigPath;  // save-config=FILE: write the parameters and exit
    std::string recordPath;      // record=FILE.h5: the spike report of each run
    std::string exportPath;      // export=FILE.h5: the network of each run
    std::string checkpointPath;  // checkpoint=FILE.h5: the state after a steps=N run
    std::string resumePath;      // resume=FILE.h5: continue a checkpoint
};

// Applies the switches in argv[1..argc-1] to the state and the shell flags. A
// config=FILE switch is applied first, wherever it stands, so that the other
// switches refine the file.
LaunchOptions ApplySwitches(int argc, const char* const* argv, AppState& state);

// The usage text of --help, and the product line of --version.
const char* UsageText();
const char* ProductLine();
