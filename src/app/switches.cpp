// Command-line switches.
//
// Sections: value parsing, the keyword table, usage text.
#include "app/switches.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/shell.h"
#include "engine/app_state.h"
#include "platform/log.h"

namespace {

// ---- Value parsing ------------------------------------------------------------------------

// The decimal number after `key` in the argument, as an unsigned 32-bit value.
// Returns false for anything else (signs, letters, nothing, overflow).
bool ParseUnsignedAfter(const std::string& arg, size_t valueStart, uint32_t& value) {
    const char* text = arg.c_str() + valueStart;
    if (*text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno == ERANGE || *end != '\0' || parsed > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

// Position right after `key` in the argument, or npos.
size_t ValueStart(const std::string& arg, const char* key) {
    const size_t at = arg.find(key);
    return at == std::string::npos ? at : at + std::strlen(key);
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

// ---- Keywords --------------------------------------------------------------------------------

void ApplyOne(const char* original, AppState& state, LaunchOptions& out) {
    const std::string arg = Lowered(original);
    SimParams& p = state.params;

    if (arg.find("shortaxondemo") != std::string::npos) {
        out.demo = true;
        p.excAxonLengthMin = 0.5f;
        p.excAxonLengthMax = 2.0f;
        p.inhAxonLengthMax = 2.0f;
        p.excSynapseAxonDistance = 2.0f;
        p.randomizeExcWeights = 1;
        p.randomizeInhWeights = 1;
    }
    if (arg.find("demo") != std::string::npos) out.demo = true;
    if (arg.find("wireframe") != std::string::npos) {
        WireframeMode = true;
        state.options.NeuronAlpha = 0.065f;
    }
    if (arg.find("colorbuffer") != std::string::npos) ColorBufferMode = true;
    if (arg.find("msaa2x") != std::string::npos) MsaaSamples = 2;
    if (arg.find("msaa4x") != std::string::npos) MsaaSamples = 4;
    if (arg.find("msaa8x") != std::string::npos) MsaaSamples = 8;
    if (arg.find("msaa16x") != std::string::npos) MsaaSamples = 16;

    if (arg.find("headless") != std::string::npos) out.headless = true;

    size_t at = ValueStart(arg, "seed=");
    if (at != std::string::npos) {
        uint32_t seed = 0;
        if (!ParseUnsignedAfter(arg, at, seed) || seed == 0) {
            LogMessage(LogWarning, 0,
                       "Ignoring switch \"%s\": the seed must be a whole number from 1 to 4294967295 "
                       "(0 would make every random draw 0).",
                       original);
        } else {
            out.seedGiven = true;
            out.seed = seed;
        }
    }
    at = ValueStart(arg, "preset=");
    if (at != std::string::npos) {
        uint32_t preset = 0;
        if (!ParseUnsignedAfter(arg, at, preset) || preset >= static_cast<uint32_t>(kPresetCount)) {
            LogMessage(LogWarning, 0, "Ignoring switch \"%s\": the preset must be a number from 0 to %d.",
                       original, kPresetCount - 1);
        } else {
            out.preset = static_cast<int>(preset);
            ApplyPreset(p, out.preset);
            state.options.reducedVisualization =
                static_cast<uint8_t>(GeometryPresets[out.preset].reducedVisualization);
        }
    }
    at = ValueStart(arg, "threads=");
    if (at != std::string::npos) {
        uint32_t threads = 0;
        if (!ParseUnsignedAfter(arg, at, threads)) {
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
    at = ValueStart(arg, "steps=");
    if (at != std::string::npos) {
        uint32_t steps = 0;
        if (!ParseUnsignedAfter(arg, at, steps)) {
            LogMessage(LogWarning, 0,
                       "Ignoring switch \"%s\": the step count must be a whole number from 0 to 4294967295.",
                       original);
        } else {
            out.stepsGiven = true;
            out.steps = steps;
        }
    }

    at = ValueStart(arg, "capture=");
    if (at != std::string::npos) {
        // The folder keeps its case: take it from the original argument.
        const char* folder = original + at;
        if (*folder == '\0' || std::strlen(folder) >= sizeof state.options.captureFolder) {
            LogMessage(LogWarning, 0, "Ignoring switch \"%s\": the capture folder must be a path.", original);
        } else {
            std::strncpy(state.options.captureFolder, folder, sizeof state.options.captureFolder - 1);
            state.options.captureFolder[sizeof state.options.captureFolder - 1] = '\0';
        }
    }

    const std::string bare = Bare(arg);
    if (bare == "help" || bare == "h" || bare == "?") out.help = true;
    if (bare == "version") out.version = true;
}

}  // namespace

LaunchOptions ApplySwitches(int argc, const char* const* argv, AppState& state) {
    LaunchOptions out;
    for (int i = 1; i < argc; ++i)
        if (argv[i]) ApplyOne(argv[i], state, out);
    return out;
}

// ---- Usage text ---------------------------------------------------------------------------------

const char* ProductLine() { return "Vellicor v0.40 - Cortical Neural Network Simulator"; }

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
           "  threads=N       N worker threads (rounded to a power of two, 1..256);\n"
           "                  turns automatic thread management off\n"
           "  steps=N         start at once, run N steps, stop, print a summary, exit\n"
           "  capture=DIR     write captured frames (F10) into DIR instead of the\n"
           "                  program's folder\n"
           "  --help, -h      this text\n"
           "  --version       the product line\n"
           "\n"
           "Keys (console, toolbox and window): Esc quits, P or Space pauses and resumes,\n"
           "E toggles the stimulus, F1 help, F5 analysis charts.\n";
}
