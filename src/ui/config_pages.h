// The configuration sheet's page logic, without any window: the backup that
// Cancel restores, and what each control of the four pages does to the record.
//
// Sections:
//   1. Backup and restore
//   2. Simulation page (presets, worker threads, flags, Restore Defaults, OK)
//   3. Neurons page (the 33 item bindings, clamps and write-back formats)
//   4. Visualization page (four flags)
//   5. Capture page (quality slider, folder)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/app_state.h"
#include "ui/property_store.h"

// ---- 1. Backup and restore -------------------------------------------------------------------
// Every parameter and option; the lifecycle fields, the lock and the network are
// not part of it.
struct ConfigBackup {
    SimParams params;
    AppOptions options;
};
ConfigBackup TakeConfigBackup(const AppState& state);
void RestoreConfigBackup(AppState& state, const ConfigBackup& backup);

// ---- 2. Simulation page --------------------------------------------------------------------------

inline constexpr const char* kReentrantCaption =
    "Simulate reentrant loops (box/cuboid geometries only, excitatory neurons only)";
inline constexpr const char* kAutoManageCaption = "Auto-manage worker threads";
inline constexpr const char* kWorkerLabelCaption = "Worker threads";
inline constexpr const char* kIdlePriorityCaption = "Run simulation threads with idle priority";
inline constexpr const char* kEngineCaption = "Engine";
// The engine list's entries, by EngineMode.
inline constexpr const char* kEngineModeLabels[] = {"Exact (every synapse every step)",
                                                    "Event-driven (per-neuron conductances)"};

struct SimulationPage {
    int presetSelection;         // preset row, -1 for none (the custom row when there is one)
    bool customShape;            // the record's shape is no preset: listed as a row of its own
    char customCaption[128];     // that row's caption (NetworkShapeCaption)
    char workerText[32];         // the worker-thread edit
    bool workerControlsEnabled;  // edit, spin and label (off while auto-managed)
};

// Initialisation, and again after Restore Defaults: selects the preset row of the
// record, applies auto-management, shows the worker count.
void InitSimulationPage(SimulationPage& page, AppState& state);
// A row chosen in the preset list: the reduced-complexity flag follows the row.
void SimPageChoosePreset(SimulationPage& page, AppState& state, int row);
// The custom row chosen (when there is one): OK keeps the record's shape.
void SimPageChooseCustom(SimulationPage& page);
void SimPageAutoManage(SimulationPage& page, AppState& state, bool checked);
// The edit's text changed: stores the rounded count. With `rewrite` the edit shows
// the stored count (the user has finished typing); otherwise only text below 1 is
// rewritten at once.
void SimPageWorkerEdited(SimulationPage& page, AppState& state, bool rewrite);
// A spin step: up doubles, down halves, within 1..256.
void SimPageWorkerSpin(SimulationPage& page, AppState& state, bool up);
void SimPageIdlePriority(AppState& state, bool checked);
void SimPageReentrantLoops(AppState& state, bool checked);
// An entry chosen in the engine list (an EngineMode; others are ignored). Like the
// page's other settings it is used by the next build.
void SimPageEngineMode(AppState& state, int mode);
// Restore Defaults: every parameter and option, then the page again.
void SimPageRestoreDefaults(SimulationPage& page, AppState& state);
// OK: copies the selected preset row into the record (nothing for the custom row or
// without a selection).
void SimPageApply(const SimulationPage& page, AppState& state);
// Save Simulation Config: writes the parameters and options as the pages show them
// (the selected preset included) to `path`, and logs the outcome. Returns the line
// the page shows afterwards.
std::string SimPageSaveConfig(const SimulationPage& page, const AppState& state, const std::string& path);
// Load Simulation Config: loads `path` into the record (all or nothing), logs each
// clamped value and the outcome, and shows the loaded values on the page (the
// Neurons page is filled again by its owner). Returns the line the page shows.
std::string SimPageLoadConfig(SimulationPage& page, AppState& state, const std::string& path);

// ---- 3. Neurons page ------------------------------------------------------------------------------

inline constexpr int kMaxNeuronBindings = 64;
inline constexpr int kNeuronItemCount = 33;
inline constexpr int kBindingTextSize = 514;

enum NeuronValueKind : uint8_t {
    NeuronKindInteger = ParamKindInteger,
    NeuronKindFloat = ParamKindFloat,
    NeuronKindPercentage = ParamKindPercentage,
    NeuronKindFlag = ParamKindFlag,
};

struct NeuronItemBinding {
    char text[kBindingTextSize];
    uint8_t kind;
    bool storeAsFraction;  // the percentage item: value / 100 is stored
    uint32_t intMin, intMax;
    float floatMin, floatMax;
    void* target;  // uint32_t, float or uint8_t field of the record, by kind
};

// One row of the Neurons page's item table: what the page shows. Row i edits the
// field NeuronParamFields[i], with its kind and limits.
struct NeuronItemRow {
    const char* category;
    const char* label;
};
static_assert(kNeuronItemCount == kNeuronParamCount);
extern const NeuronItemRow NeuronItemRows[kNeuronItemCount];

struct NeuronsPage {
    NeuronItemBinding bindings[kMaxNeuronBindings];
    int bindingCount;
    AppState* state;
    PropStore* grid;
};

// Fills the bindings from the record and the grid with the 33 items, expands all
// categories and selects item 0. The grid's notifications go to NeuronsPageChanged.
void InitNeuronsPage(NeuronsPage& page, AppState& state, PropStore& grid);
// The grid reported a committed value of item `index`: clamp, store, write back.
void NeuronsPageChanged(NeuronsPage& page, PropStore& grid, int index);
// OK: commits a pending in-place edit (its notification stores the value).
void NeuronsPageApply(PropStore& grid);

// ---- 4. Visualization page ----------------------------------------------------------------------

struct VisualizationFlag {
    const char* caption;
    uint8_t AppOptions::*field;
};
inline constexpr int kVisualizationFlagCount = 4;
extern const VisualizationFlag VisualizationFlags[kVisualizationFlagCount];

// ---- 5. Capture page ------------------------------------------------------------------------------

inline constexpr int kCaptureTrackbarMax = 20;
inline constexpr const char* kCaptureFolderCaption = "Location for the captured images:";
inline constexpr const char* kCaptureQualityCaption = "Capture quality (JPEG compression):";
inline constexpr const char* kCaptureNoteCaption =
    "Please note that higher capture quality will produce images of bigger size. If you want to "
    "capture very long simulation please ensure that you have enough space available on the "
    "destination drive.";
inline constexpr const char* kCaptureBrowseTitle = "Select folder for captured images";

// Slider position of a quality (truncated), and the quality a position stores.
int CaptureTrackbarPosition(uint32_t quality);
void CaptureSetPosition(AppState& state, int position);
// "%d %%" of the quality.
void FormatCaptureQuality(uint32_t quality, char (&label)[32]);
// A folder chosen in the browser replaces the capture folder (false: too long, kept).
bool CaptureSetFolder(AppState& state, const char* folder);
