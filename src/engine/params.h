// Simulation parameters, the geometry preset table and the parameter rules.
//
// Sections:
//   1. SimParams (record order as the configuration pages bind it)
//   2. Geometry presets
//   3. Rules: defaults, worker-thread rounding, normalisation, derivation
//   4. The editable neuron and synapse parameters: kinds and limits
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// ---- 1. SimParams ----------------------------------------------------------------------
// Units: ms, mm, m/s (= mm/ms), mV. The step is 0.5 ms; "Step" factors include it.
struct SimParams {
    float tauAmpa, ampaInvTau, ampaStepDecay;
    float tauNmda, nmdaInvTau, nmdaStepDecay;
    float tauGabaA, gabaAInvTau, gabaAStepDecay;
    float tauGabaB, gabaBInvTau, gabaBStepDecay;
    float excU, excStepU, excF, excInvF, excStepInvF, excUOverF, excStepUOverF;
    float excD, excInvD, excStepInvD;
    float inhU, inhStepU, inhF, inhInvF, inhStepInvF, inhUOverF, inhStepUOverF;
    float inhD, inhInvD, inhStepInvD;
    float stdpAPlus, stdpAMinus, stdpTauPlus, stdpTauMinus;
    int32_t geometryKind;  // 1 sphere, anything else box/cuboid
    uint32_t neuronCount;
    float invNeuronCount;
    uint32_t synapseCount;  // result of the last build
    uint32_t gridX, gridY, gridZ;
    float extentX, extentY, extentZ;
    float halfExtent;
    uint8_t idlePriority;
    uint8_t autoManageThreads;
    uint32_t workerThreads;  // power of two, 1..256
    float inhibitoryFraction;
    float velocityMyelinated;
    float velocityUnmyelinated;  // edited and shown only
    float longAxonProbability;
    float inhAxonLengthMin, inhAxonLengthMax;
    float excAxonLengthMin, excAxonLengthMax;
    float boxInhAxonLengthMin, boxInhAxonLengthMax;
    uint32_t excSynapsesMin, excSynapsesMax;
    uint32_t inhSynapsesMin, inhSynapsesMax;
    float excSynapseAxonDistance, inhSynapseAxonDistance;
    float excWeightMax, excWeightInitial;
    float inhWeightMax, inhWeightInitial;
    uint8_t randomizeExcWeights, randomizeInhWeights;
    uint8_t reentrantLoops;
    uint8_t engineMode;  // EngineMode: how the dynamics are computed
};

// The exact engine updates every synapse every step, bit for bit as specified;
// the event engine computes the same model with per-neuron conductances and
// updates a synapse only when a spike reaches it (results differ by rounding).
enum EngineMode : uint8_t { EngineExact = 0, EngineEvent = 1 };

enum GeometryKind : int32_t { GeometryBox = 0, GeometrySphere = 1 };

// Fixed engine constants.
inline constexpr float kStepMs = 0.5f;
inline constexpr uint32_t kStdpWindow = 192;  // steps (96 ms)
inline constexpr float kSpikeThreshold = 30.0f;
inline constexpr uint32_t kMaxWorkerThreads = 256;

// ---- 2. Geometry presets ----------------------------------------------------------------

struct GeometryPreset {
    const char* label;  // at most 63 characters
    uint32_t gridX, gridY, gridZ;
    float halfExtent;
    int32_t geometryKind;
    uint32_t neuronCount;
    uint32_t reducedVisualization;
};

inline constexpr int kPresetCount = 13;
extern const GeometryPreset GeometryPresets[kPresetCount];
inline constexpr int kDefaultPreset = 6;

// Index of the first preset whose grid and kind equal the parameters', or -1.
int FindPreset(const SimParams& params);
// Copies the preset row's shape into the parameters (what the Simulation page's OK
// does): SetNetworkShape with the row's kind and grid, which reproduces the row's
// neuron count and half extent.
void ApplyPreset(SimParams& params, int presetIndex);

// ---- Network shapes beyond the presets ----------------------------------------------------
// The largest network the layout takes: 2^23 neurons. Below it every count that is
// formed in 32 bits stays exact: the synapse total (at most 255 per neuron) fits in
// a signed 32-bit int, the wireframe's vertex indices (512 per neuron: two per
// outgoing synapse and two for the axon) fit in uint32, the sphere's start draws
// (float(n - 1) * r) hit every index, and the event engine's post-synaptic ids
// (packed << 4 into 32 bits) and the build's cap (2^26) are far above it.
inline constexpr uint32_t kMaxNetworkNeurons = 1u << 23;
// Largest sphere grid edge: 203^3 = 8,365,427 <= 2^23.
inline constexpr uint32_t kMaxSphereGrid = 203;

// Sets a network shape: a box grid x*y*z (GeometryBox) or a sphere in a d*d*d grid
// (GeometrySphere, x = y = z = d). Fills geometryKind, gridX/Y/Z, extentX/Y/Z, halfExtent and
// neuronCount consistently (as ApplyPreset does for presets). Returns "" or an error that
// names the field and the limit, e.g. "gridZ = 0: must be 1..N", "neurons = ...: at most ...".
// The parameters are left unchanged on an error. A box holds one neuron per 1 mm cell;
// a sphere d^3 neurons on the surface of radius d / 2 mm; halfExtent is half the
// shortest edge (the sphere's radius).
std::string SetNetworkShape(SimParams& params, int32_t kind, uint32_t x, uint32_t y, uint32_t z);
// The shape's caption: a preset's label, else e.g. "Custom box 20x20x10 - 4000 neurons"
// or "Custom sphere 24x24x24 - 13824 neurons (sphere radius: 12 mm)".
std::string NetworkShapeCaption(const SimParams& params);

// ---- 3. Rules ------------------------------------------------------------------------------

// Fills every parameter with its default. workerThreads = defaultWorkerThreads.
void SetDefaultParams(SimParams& params, uint32_t defaultWorkerThreads);

// Worker count for a core count: 2 x cores rounded to the nearest power of two,
// halfway values rounding up; 0 gives 1.
uint32_t DefaultWorkerThreadsForCores(uint32_t cores);
// Rounds a typed worker count: below 1 -> 1, nearest power of two (halfway up),
// above 256 -> 256.
uint32_t RoundWorkerThreads(int64_t typed);
// Parses the worker-count edit text; anything that is not a positive number gives 1.
uint32_t ParseWorkerThreads(const char* text);
// One spin step: doubles (up) or halves (down) the rounded value within 1..256.
uint32_t SpinWorkerThreads(uint32_t current, bool up);

// Repairs inconsistent inputs in place (swaps, unlimited lengths, minimum clamps).
void NormalizeParams(SimParams& params);
// Recomputes every derived field from its sources, and invNeuronCount.
void DeriveParams(SimParams& params);

// ---- 4. Editable neuron and synapse parameters ------------------------------------------------
// The Neurons page's items and the parameter files share this table: one row per
// field, in the page's order, with the limits a typed or loaded value is clamped to.

enum ParamKind : uint8_t {
    ParamKindInteger = 0,     // uint32_t field
    ParamKindFloat = 1,       // float field
    ParamKindPercentage = 2,  // float fraction field, edited as a whole percentage
    ParamKindFlag = 3,        // uint8_t field, 0 or 1
};

struct ParamField {
    const char* name;  // the field's name in SimParams
    uint8_t kind;      // ParamKind
    double min, max;   // limits (percent for a percentage)
    size_t offset;     // of the field in SimParams
};

inline constexpr int kNeuronParamCount = 33;
extern const ParamField NeuronParamFields[kNeuronParamCount];
