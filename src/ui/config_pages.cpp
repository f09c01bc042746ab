// The configuration sheet's page logic.
//
// Sections:
//   1. Backup and restore
//   2. Simulation page
//   3. Neurons page: item table, initialisation, change notification
//   4. Visualization page
//   5. Capture page
#include "ui/config_pages.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "io/param_file.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "platform/version.h"
#include "vis/view_state.h"

// ---- 1. Backup and restore ---------------------------------------------------------------------

ConfigBackup TakeConfigBackup(const AppState& state) {
    ConfigBackup backup;
    std::memcpy(&backup.params, &state.params, sizeof backup.params);
    std::memcpy(&backup.options, &state.options, sizeof backup.options);
    return backup;
}

void RestoreConfigBackup(AppState& state, const ConfigBackup& backup) {
    std::memcpy(&state.params, &backup.params, sizeof state.params);
    std::memcpy(&state.options, &backup.options, sizeof state.options);
}

// ---- 2. Simulation page ----------------------------------------------------------------------------

namespace {

void ShowWorkerCount(SimulationPage& page, uint32_t count) {
    std::snprintf(page.workerText, sizeof page.workerText, "%u", count);
}

// The edit's text as a decimal integer; nothing numeric reads as 0.
long long ReadWorkerText(const char* text) {
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    return end == text ? 0 : value;
}

}  // namespace

void InitSimulationPage(SimulationPage& page, AppState& state) {
    page.presetSelection = FindPreset(state.params);
    page.customShape = page.presetSelection < 0;
    std::snprintf(page.customCaption, sizeof page.customCaption, "%s",
                  page.customShape ? NetworkShapeCaption(state.params).c_str() : "");
    if (state.params.autoManageThreads) state.params.workerThreads = DefaultWorkerThreads();
    ShowWorkerCount(page, state.params.workerThreads);
    page.workerControlsEnabled = !state.params.autoManageThreads;
}

void SimPageChoosePreset(SimulationPage& page, AppState& state, int row) {
    if (row < 0 || row >= kPresetCount) return;
    page.presetSelection = row;
    plat::AtomicStore(state.options.reducedVisualization,
                      static_cast<uint8_t>(GeometryPresets[row].reducedVisualization ? 1 : 0));
}

void SimPageChooseCustom(SimulationPage& page) {
    if (page.customShape) page.presetSelection = -1;
}

void SimPageAutoManage(SimulationPage& page, AppState& state, bool checked) {
    if (checked) {
        state.params.workerThreads = DefaultWorkerThreads();
        ShowWorkerCount(page, state.params.workerThreads);
        state.params.autoManageThreads = 1;
    } else {
        state.params.autoManageThreads = 0;
    }
    page.workerControlsEnabled = !checked;
}

void SimPageWorkerEdited(SimulationPage& page, AppState& state, bool rewrite) {
    const long long typed = ReadWorkerText(page.workerText);
    const uint32_t stored = ParseWorkerThreads(page.workerText);
    state.params.workerThreads = stored;
    // Below 1 is rewritten at once; other roundings when the typing is done, so that
    // a count of several digits can be typed.
    if (typed < 1 || rewrite) ShowWorkerCount(page, stored);
}

void SimPageWorkerSpin(SimulationPage& page, AppState& state, bool up) {
    const uint32_t current = ParseWorkerThreads(page.workerText);
    const uint32_t next = SpinWorkerThreads(current, up);
    ShowWorkerCount(page, next);
    state.params.workerThreads = next;
}

void SimPageIdlePriority(AppState& state, bool checked) { state.params.idlePriority = checked ? 1 : 0; }

void SimPageReentrantLoops(AppState& state, bool checked) { state.params.reentrantLoops = checked ? 1 : 0; }

void SimPageEngineMode(AppState& state, int mode) {
    if (mode == EngineExact || mode == EngineEvent) state.params.engineMode = static_cast<uint8_t>(mode);
}

void SimPageRestoreDefaults(SimulationPage& page, AppState& state) {
    RestoreDefaults(state, WireframeMode);
    InitSimulationPage(page, state);
}

void SimPageApply(const SimulationPage& page, AppState& state) {
    if (page.presetSelection < 0 || page.presetSelection >= kPresetCount) return;
    ApplyPreset(state.params, page.presetSelection);
}

std::string SimPageSaveConfig(const SimulationPage& page, const AppState& state, const std::string& path) {
    auto params = std::make_unique<SimParams>();
    std::memcpy(params.get(), &state.params, sizeof *params);
    if (page.presetSelection >= 0 && page.presetSelection < kPresetCount) ApplyPreset(*params, page.presetSelection);
    const ParamFileStatus status = SaveParamFile(path, *params, state.options, kVellicorName);
    if (!status.ok) {
        LogMessage(LogError, 0, "Unable to save the simulation configuration: %s", status.error.c_str());
        return "Not saved: " + status.error;
    }
    LogMessage(LogInfo, 0, "Simulation configuration saved to \"%s\".", path.c_str());
    return "Saved to " + path;
}

std::string SimPageLoadConfig(SimulationPage& page, AppState& state, const std::string& path) {
    const ParamFileStatus status = LoadParamFile(path, state.params, state.options);
    for (const std::string& warning : status.warnings) LogMessage(LogWarning, 0, "%s", warning.c_str());
    if (!status.ok) {
        LogMessage(LogError, 0, "Unable to load the simulation configuration: %s", status.error.c_str());
        return "Not loaded (nothing changed): " + status.error;
    }
    LogMessage(LogInfo, 0, "Simulation configuration loaded from \"%s\".", path.c_str());
    InitSimulationPage(page, state);
    if (!status.warnings.empty())
        return "Loaded from " + path + "; " + std::to_string(status.warnings.size()) +
               " value(s) clamped (see the log)";
    return "Loaded from " + path;
}

// ---- 3. Neurons page ----------------------------------------------------------------------------------

namespace {

constexpr const char* kGeneral = "General Neuron Properties";
constexpr const char* kAxon = "Axon Properties";
constexpr const char* kSynapse = "Synapse Properties";
constexpr const char* kKinetics = "Synaptic receptor kinetics";
constexpr const char* kStdp = "Spike Timing Dependent Plasticity (STDP)";

}  // namespace

// Row 29 is the potentiation time constant: it is labelled "τSTDP+" so that it
// can be told apart from row 30.
const NeuronItemRow NeuronItemRows[kNeuronItemCount] = {
    {kGeneral, "Percentage of inhibitory neurons in the network (%):"},  // inhibitoryFraction
    {kGeneral, "Min. number of synapses for excitatory neurons:"},  // excSynapsesMin
    {kGeneral, "Max. number of synapses for excitatory neurons:"},  // excSynapsesMax
    {kGeneral, "Min. number of synapses for inhibitory neurons:"},  // inhSynapsesMin
    {kGeneral, "Max. number of synapses for inhibitory neurons:"},  // inhSynapsesMax
    {kAxon, "Spike propagation velocity for myelinated axons (m/s):"},  // velocityMyelinated
    {kAxon, "Spike propagation velocity for unmyelinated axons (m/s):"},  // velocityUnmyelinated
    {kAxon, "Min. axon length for excitatory neurons (mm):"},  // excAxonLengthMin
    {kAxon, "Max. axon length for excitatory neurons, 0 for infinite (mm):"},  // excAxonLengthMax
    {kAxon, "Min. axon length for inhibitory neurons, 0 for infinite (mm):"},  // inhAxonLengthMin
    {kAxon, "Max. axon length for inhibitory neurons (mm):"},  // inhAxonLengthMax
    {kSynapse, "Max. synapse-axon distance for excitatory neurons (mm):"},  // excSynapseAxonDistance
    {kSynapse, "Max. synapse-axon distance for inhibitory neurons (mm):"},  // inhSynapseAxonDistance
    {kSynapse, "Initial synaptic strength for excitatory pre-synaptic neurons:"},  // excWeightInitial
    {kSynapse, "Max. synaptic strength for excitatory pre-synaptic neurons:"},  // excWeightMax
    {kSynapse, "Initial synaptic strength for inhibitory pre-synaptic neurons:"},  // inhWeightInitial
    {kSynapse, "Max. synaptic strength for inhibitory pre-synaptic neurons:"},  // inhWeightMax
    {kSynapse, "Randomize excitatory synaptic weights (range: initial-max):"},  // randomizeExcWeights
    {kSynapse, "Randomize inhibitory synaptic weights (range: initial-max):"},  // randomizeInhWeights
    {kKinetics, "AMPA receptors - \xCF\x84" "AMPA (ms):"},  // tauAmpa
    {kKinetics, "NMDA receptors - \xCF\x84" "NMDA (ms):"},  // tauNmda
    {kKinetics, "GABAa receptors - \xCF\x84" "GABAa (ms):"},  // tauGabaA
    {kKinetics, "GABAb receptors - \xCF\x84" "GABAb (ms):"},  // tauGabaB
    {kKinetics, "AMPA/NMDA receptors - utilization of synaptic efficacy (U):"},  // excU
    {kKinetics, "GABAa/GABAb receptors - utilization of synaptic efficacy (U):"},  // inhU
    {kKinetics, "AMPA/NMDA receptors - recovery from facilitation (F) (ms):"},  // excF
    {kKinetics, "GABAa/GABAb receptors - recovery from facilitation (F) (ms):"},  // inhF
    {kKinetics, "AMPA/NMDA receptors - recovery from depression (D) (ms):"},  // excD
    {kKinetics, "GABAa/GABAb receptors - recovery from depression (D) (ms):"},  // inhD
    {kStdp, "\xCF\x84" "STDP+ (ms):"},  // stdpTauPlus
    {kStdp, "\xCF\x84" "STDP- (ms):"},  // stdpTauMinus
    {kStdp, "STDP A+ :"},  // stdpAPlus
    {kStdp, "STDP A- :"},  // stdpAMinus
};

namespace {

void WriteInteger(char (&text)[kBindingTextSize], uint32_t value) {
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
}
void WriteFloat(char (&text)[kBindingTextSize], float value) {
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(value));
}

// Decimal integer taken as unsigned 32-bit: "-1" wraps to 4294967295 (and so
// clamps to the maximum), text that is not a number reads as 0. Numbers beyond
// 32 bits saturate instead of wrapping, so 4294967296 cannot turn into 0.
uint32_t ReadUnsigned(const char* text) {
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text) return 0;
    if (value > 0xFFFFFFFFll) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(value);
}

// A float clamped to its limits; text that is not a number (including "nan")
// reads as 0 before clamping, so a field can never hold NaN.
float ReadFloat(const char* text, float min, float max) {
    char* end = nullptr;
    float value = static_cast<float>(std::strtod(text, &end));
    if (end == text || std::isnan(value)) value = 0.0f;
    if (value < min) value = min;
    if (value > max) value = max;
    return value;
}

void GridChanged(void* owner, int index) {
    NeuronsPage* page = static_cast<NeuronsPage*>(owner);
    NeuronsPageChanged(*page, *page->grid, index);
}

}  // namespace

void InitNeuronsPage(NeuronsPage& page, AppState& state, PropStore& grid) {
    std::memset(page.bindings, 0, sizeof page.bindings);
    page.bindingCount = 0;
    page.state = &state;
    page.grid = &grid;
    PropReset(grid);
    grid.changed = GridChanged;
    grid.owner = &page;
    char* base = reinterpret_cast<char*>(&state.params);
    for (int i = 0; i < kNeuronItemCount; ++i) {
        const NeuronItemRow& row = NeuronItemRows[i];
        const ParamField& field = NeuronParamFields[i];
        NeuronItemBinding& b = page.bindings[i];
        b.kind = field.kind;
        b.target = base + field.offset;
        b.intMin = static_cast<uint32_t>(field.min);
        b.intMax = static_cast<uint32_t>(field.max);
        b.floatMin = static_cast<float>(field.min);
        b.floatMax = static_cast<float>(field.max);
        b.storeAsFraction = field.kind == NeuronKindPercentage;
        PropItem item;
        item.category = row.category;
        item.label = row.label;
        switch (field.kind) {
            case NeuronKindInteger:
                WriteInteger(b.text, *static_cast<uint32_t*>(b.target));
                item.type = PropTypeNumber;
                break;
            case NeuronKindPercentage: {
                // Rounded rather than truncated: 0.29f * 100 is 28.99..., and the page
                // must show the 29 that was entered.
                const float fraction = *static_cast<float*>(b.target);
                WriteInteger(b.text, static_cast<uint32_t>(std::lround(fraction * 100.0f)));
                item.type = PropTypeNumber;
                break;
            }
            case NeuronKindFloat:
                WriteFloat(b.text, *static_cast<float*>(b.target));
                item.type = PropTypeText;
                break;
            default:
                item.check = *static_cast<uint8_t*>(b.target) ? 1 : 0;
                item.type = PropTypeCheck;
                break;
        }
        item.text = b.text;
        PropAddItem(grid, item);
        ++page.bindingCount;
    }
    PropExpand(grid, {});
    PropSelectItem(grid, 0);
}

void NeuronsPageChanged(NeuronsPage& page, PropStore& grid, int index) {
    if (index < 0 || index >= page.bindingCount) return;
    NeuronItemBinding& b = page.bindings[index];
    const PropItem* item = PropGetItem(grid, index);
    if (!b.target || !item) return;
    if (b.kind == NeuronKindFlag) {
        *static_cast<uint8_t*>(b.target) = item->check ? 1 : 0;
        return;
    }
    std::snprintf(b.text, sizeof b.text, "%s", item->text.c_str());
    PropItem updated = *item;
    switch (b.kind) {
        case NeuronKindInteger: {
            uint32_t value = ReadUnsigned(b.text);
            if (value < b.intMin) value = b.intMin;
            if (value > b.intMax) value = b.intMax;
            *static_cast<uint32_t*>(b.target) = value;
            WriteInteger(b.text, value);
            break;
        }
        case NeuronKindPercentage: {
            uint32_t value = ReadUnsigned(b.text);
            if (value < b.intMin) value = b.intMin;
            if (value > b.intMax) value = b.intMax;
            if (b.storeAsFraction) *static_cast<float*>(b.target) = static_cast<float>(value) / 100.0f;
            else *static_cast<uint32_t*>(b.target) = value;
            WriteInteger(b.text, value);
            break;
        }
        case NeuronKindFloat: {
            const float value = ReadFloat(b.text, b.floatMin, b.floatMax);
            *static_cast<float*>(b.target) = value;
            WriteFloat(b.text, value);
            break;
        }
        default: return;
    }
    // The grid shows the stored (clamped) value; setting it sends no notification.
    updated.text = b.text;
    PropSetItem(grid, index, updated);
}

void NeuronsPageApply(PropStore& grid) { PropCommitEdit(grid); }

// ---- 4. Visualization page ------------------------------------------------------------------------------

const VisualizationFlag VisualizationFlags[kVisualizationFlagCount] = {
    {"Reduced complexity/quality of 3D visualization (greatly reduces video memory requirements)",
     &AppOptions::reducedVisualization},
    {"Rendering threads have the highest priority (improves render performance on low-end GPUs)",
     &AppOptions::renderHighPriority},
    {"Limit the render thread to maximum 50 frames per second (50 FPS)", &AppOptions::limitFps},
    {"Wait for the vertical sync (VSync) before rendering the next frame", &AppOptions::waitVsync},
};

// ---- 5. Capture page ------------------------------------------------------------------------------------

int CaptureTrackbarPosition(uint32_t quality) {
    const uint32_t position = quality / 5;
    return static_cast<int>(position > kCaptureTrackbarMax ? kCaptureTrackbarMax : position);
}

void CaptureSetPosition(AppState& state, int position) {
    if (position < 0) position = 0;
    if (position > kCaptureTrackbarMax) position = kCaptureTrackbarMax;
    plat::AtomicStore(state.options.captureQuality, static_cast<uint32_t>(position * 5));
}

void FormatCaptureQuality(uint32_t quality, char (&label)[32]) {
    std::snprintf(label, sizeof label, "%d %%", static_cast<int>(quality));
}

bool CaptureSetFolder(AppState& state, const char* folder) {
    if (!folder) return false;
    const size_t length = std::strlen(folder);
    if (length == 0 || length >= sizeof state.options.captureFolder) return false;
    std::memcpy(state.options.captureFolder, folder, length + 1);
    return true;
}
