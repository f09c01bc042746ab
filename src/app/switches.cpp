// Command-line switches.
//
// Sections: value parsing, the keyword table, usage text.
#include "app/switches.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "app/shell.h"
#include "io/app_state.h"
#include "io/param_file.h"
#include "platform/log.h"
#include "platform/version.h"
#include "vis/view_state.h"

namespace {

// ---- Value parsing ------------------------------------------------------------------------

// The decimal text as an unsigned 32-bit value. Returns false for anything else
// (signs, letters, nothing, overflow).
bool ParseUnsigned(const std::string& text, uint32_t& value) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (errno == ERANGE || *end != '\0' || parsed > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

std::string Lowered(const char* text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// The argument without its leading "/" or "-" characters.
std::string Bare(const std::string& arg) {
    const size_t start = arg.find_first_not_of("/-");
    return start == std::string::npos ? std::string() : arg.substr(start);
}

bool Contains(const std::string& text, const char* keyword) {
    return text.find(keyword) != std::string::npos;
}

bool EndsWith(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// "XxYxZ" as three unsigned 32-bit values.
bool ParseGrid(const std::string& text, uint32_t grid[3]) {
    size_t start = 0;
    for (int a = 0; a < 3; ++a) {
        const size_t end = a < 2 ? text.find('x', start) : text.size();
        if (end == std::string::npos || !ParseUnsigned(text.substr(start, end - start), grid[a])) return false;
        start = end + 1;
    }
    return true;
}

// ---- Keywords --------------------------------------------------------------------------------

// Applies one argument; returns false when it matches no switch. Keywords are
// searched in the switch name only: for "name=value" the part before the first
// '=' (a value such as a capture folder may hold any word).
bool ApplyOne(const char* original, AppState& state, LaunchOptions& out) {
    const std::string arg = Lowered(original);
    const size_t equals = arg.find('=');
    const bool hasValue = equals != std::string::npos;
    const std::string name = arg.substr(0, equals);
    const size_t valueStart = hasValue ? equals + 1 : arg.size();
    const std::string value = arg.substr(valueStart);
    SimParams& p = state.params;
    bool matched = false;

    if (Contains(name, "shortaxondemo")) {
        out.demo = true;
        p.excAxonLengthMin = 0.5f;
        p.excAxonLengthMax = 2.0f;
        p.inhAxonLengthMax = 2.0f;
        p.excSynapseAxonDistance = 2.0f;
        p.randomizeExcWeights = 1;
        p.randomizeInhWeights = 1;
        matched = true;
    }
    if (Contains(name, "demo")) out.demo = matched = true;
    if (Contains(name, "wireframe")) {
        WireframeMode = true;
        state.options.NeuronAlpha = 0.065f;
        matched = true;
    }
    if (Contains(name, "colorbuffer")) ColorBufferMode = matched = true;
    const std::pair<const char*, int32_t> multisample[] = {
        {"msaa2x", 2}, {"msaa4x", 4}, {"msaa8x", 8}, {"msaa16x", 16}};
    for (const auto& [keyword, samples] : multisample) {
        if (Contains(name, keyword)) {
            MsaaSamples = samples;
            matched = true;
        }
    }
    if (Contains(name, "headless")) out.headless = matched = true;

    const std::string bare = Bare(arg);
    if (bare == "help" || bare == "h" || bare == "?") out.help = matched = true;
    if (bare == "version") out.version = matched = true;

    if (!hasValue) return matched;

    if (EndsWith(name, "seed")) {
        matched = true;
        uint32_t seed = 0;
        if (!ParseUnsigned(value, seed) || seed == 0) {
            LogMessage(LogWarning, 0,
                       "Ignoring switch \"%s\": the seed must be a whole number from 1 to 4294967295 "
                       "(0 would make every random draw 0).",
                       original);
        } else {
            out.seedGiven = true;
            out.seed = seed;
        }
    }
    if (EndsWith(name, "preset")) {
        matched = true;
        uint32_t preset = 0;
        if (!ParseUnsigned(value, preset) || preset >= static_cast<uint32_t>(kPresetCount)) {
            LogMessage(LogWarning, 0, "Ignoring switch \"%s\": the preset must be a number from 0 to %d.",
                       original, kPresetCount - 1);
        } else {
            out.preset = static_cast<int>(preset);
            ApplyPreset(p, out.preset);
            state.options.reducedVisualization =
                static_cast<uint8_t>(GeometryPresets[out.preset].reducedVisualization);
        }
    }
    // A shape of any size within the limits: grid=XxYxZ (a box), sphere=D.
    const bool gridSwitch = EndsWith(name, "grid"), sphereSwitch = EndsWith(name, "sphere");
    if (gridSwitch || sphereSwitch) {
        matched = true;
        uint32_t grid[3] = {0, 0, 0};
        const bool parsed = gridSwitch ? ParseGrid(value, grid) : ParseUnsigned(value, grid[0]);
        if (sphereSwitch) grid[1] = grid[2] = grid[0];
        const std::string error = parsed ? SetNetworkShape(p, gridSwitch ? GeometryBox : GeometrySphere,
                                                           grid[0], grid[1], grid[2])
                                         : std::string(gridSwitch ? "expected XxYxZ, as grid=20x20x10"
                                                                  : "expected a whole number, as sphere=24");
        if (!error.empty()) {
            LogMessage(LogWarning, 0, "Ignoring switch \"%s\": %s.", original, error.c_str());
        } else {
            out.shapeGiven = true;
        }
    }
    if (EndsWith(name, "threads")) {
        matched = true;
        uint32_t threads = 0;
        if (!ParseUnsigned(value, threads)) {
            LogMessage(LogWarning, 0,
                       "Ignoring switch \"%s\": the worker-thread count must be a whole number from 1 to 256.",
                       original);
        } else {
            out.threadsGiven = true;
            out.threads = RoundWorkerThreads(threads);
            p.workerThreads = out.threads;
            p.autoManageThreads = 0;
        }
    }
    if (EndsWith(name, "engine")) {
        matched = true;
        if (value == "exact")
            p.engineMode = EngineExact;
        else if (value == "event")
            p.engineMode = EngineEvent;
        else
            LogMessage(LogWarning, 0, "Ignoring switch \"%s\": the engine must be exact or event.", original);
    }
    if (EndsWith(name, "steps")) {
        matched = true;
        uint32_t steps = 0;
        if (!ParseUnsigned(value, steps)) {
            LogMessage(LogWarning, 0,
                       "Ignoring switch \"%s\": the step count must be a whole number from 0 to 4294967295.",
                       original);
        } else {
            out.stepsGiven = true;
            out.steps = steps;
        }
    }
    // File names keep their case: they are taken from the original argument.
    const std::pair<const char*, std::string LaunchOptions::*> files[] = {
        {"save-config", &LaunchOptions::saveConfigPath},
        {"record", &LaunchOptions::recordPath},
        {"export", &LaunchOptions::exportPath},
        {"checkpoint", &LaunchOptions::checkpointPath},
        {"resume", &LaunchOptions::resumePath},
    };
    for (const auto& [keyword, field] : files) {
        if (!EndsWith(name, keyword)) continue;
        matched = true;
        if (original[valueStart] == '\0') {
            LogMessage(LogError, 0, "Unable to use switch \"%s\": a file name must follow '='.", original);
            out.fileNameMissing = true;
        } else {
            out.*field = original + valueStart;
        }
    }
    if (EndsWith(name, "config") && !EndsWith(name, "save-config")) matched = true;  // applied first
    if (EndsWith(name, "capture")) {
        matched = true;
        // The folder keeps its case: take it from the original argument.
        const char* folder = original + valueStart;
        if (*folder == '\0' || std::strlen(folder) >= sizeof state.options.captureFolder) {
            LogMessage(LogWarning, 0, "Ignoring switch \"%s\": the capture folder must be a path.", original);
        } else {
            std::strncpy(state.options.captureFolder, folder, sizeof state.options.captureFolder - 1);
            state.options.captureFolder[sizeof state.options.captureFolder - 1] = '\0';
        }
    }
    return matched;
}

// config=FILE, before the other switches. A file that fails changes nothing.
void ApplyConfigSwitch(const char* original, AppState& state, LaunchOptions& out) {
    const std::string arg = Lowered(original);
    const size_t equals = arg.find('=');
    if (equals == std::string::npos) return;
    const std::string name = arg.substr(0, equals);
    if (!EndsWith(name, "config") || EndsWith(name, "save-config")) return;
    out.configPath = original + equals + 1;
    const ParamFileStatus status = LoadParamFile(out.configPath, state.params, state.options);
    for (const std::string& warning : status.warnings) LogMessage(LogWarning, 0, "%s", warning.c_str());
    if (!status.ok) {
        LogMessage(LogError, 0, "Unable to load the simulation configuration: %s", status.error.c_str());
        out.configFailed = true;
        return;
    }
    LogMessage(LogInfo, 0, "Simulation configuration loaded from \"%s\".", out.configPath.c_str());
}

}  // namespace

LaunchOptions ApplySwitches(int argc, const char* const* argv, AppState& state) {
    LaunchOptions out;
    for (int i = 1; i < argc; ++i)
        if (argv[i]) ApplyConfigSwitch(argv[i], state, out);
    for (int i = 1; i < argc; ++i) {
        if (argv[i] && !ApplyOne(argv[i], state, out))
            LogMessage(LogWarning, 0,
                       "Ignoring argument \"%s\": no switch matches it (values follow '=', as in "
                       "steps=1000; --help lists the switches).",
                       argv[i]);
    }
    return out;
}

// ---- Usage text ---------------------------------------------------------------------------------

const char* ProductLine() { return kVellicorProductLine; }

const char* UsageText() {
    return "Usage: vellicor [switch ...]\n"
           "\n"
           "Switches are case-insensitive; a leading / or - is optional.\n"
           "  demo            start the default simulation at once (and turn the view)\n"
           "  shortaxondemo   demo with short axons and randomised synaptic weights\n"
           "  wireframe       draw neurons as lines (neuron opacity 0.065)\n"
           "  colorbuffer     keep a colour buffer for the line drawing\n"
           "  msaa2x, msaa4x, msaa8x, msaa16x\n"
           "                  multisampling of the visualization window (default 4)\n"
           "  headless        no window and no toolbox, even when a display exists\n"
           "  seed=N          seed the network generator with N (1..4294967295) instead of\n"
           "                  the clock, so that a network can be rebuilt exactly; 0 is\n"
           "                  refused because it makes every draw 0\n"
           "  preset=K        network shape and size K (0..12), as the configuration's list\n"
           "  grid=XxYxZ      a box of X x Y x Z neurons, one per 1 mm cell (at most\n"
           "                  8388608 neurons)\n"
           "  sphere=D        a sphere of D^3 neurons, radius D/2 mm (D 1..203)\n"
           "  threads=N       N worker threads (rounded to a power of two, 1..256);\n"
           "                  turns automatic thread management off\n"
           "  engine=exact    every synapse updated every step (the default; the same\n"
           "                  bits on every machine)\n"
           "  engine=event    event-driven: per-neuron conductances, a synapse updated only\n"
           "                  when a spike reaches it (results differ by rounding)\n"
           "  steps=N         start at once, run N steps, stop, print a summary, exit\n"
           "  capture=DIR     write captured frames (F10) into DIR instead of the\n"
           "                  program's folder\n"
           "  config=FILE     load a parameter file (TOML) before the other switches\n"
           "  save-config=FILE  write the parameters (after the other switches) and exit\n"
           "  record=FILE.h5  record every spike of the run (SONATA spike report)\n"
           "  export=FILE.h5  write the network as it is when the simulation starts (SONATA\n"
           "                  nodes and edges): the built weights, or after resume= the\n"
           "                  weights the checkpoint holds\n"
           "  checkpoint=FILE.h5  with steps=N: write the complete state after the last\n"
           "                  step, to be continued with resume=\n"
           "  resume=FILE.h5  continue a checkpoint: its network, parameters and step\n"
           "                  (with steps=N, N more steps; else interactively); preset=,\n"
           "                  grid=, sphere=, seed= and config= do not apply to it\n"
           "  --help, -h      this text\n"
           "  --version       the product line\n"
           "\n"
           "A file named by save-config=, record=, export= or checkpoint= that exists is\n"
           "overwritten (the log says so first); two of them on one file are refused. Files\n"
           "the program names itself (later runs, O, K, F10) take the next free name and\n"
           "never overwrite one. A symlink is followed; a FIFO or device is written through\n"
           "by save-config= and refused by the others.\n"
           "\n"
           "Distributed: mpirun -np P vellicor steps=N ... runs one network on P processes\n"
           "(headless, steps=N needed), the same spikes as one process; process 0 logs and\n"
           "writes record=, export= and checkpoint= (in builds with MPI).\n"
           "\n"
           "Keys (console, toolbox and window): Esc quits, P or Space pauses and resumes,\n"
           "E toggles the stimulus, K writes a checkpoint, F1 help, F5 analysis charts.\n";
}
