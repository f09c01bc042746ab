// Parameter defaults, presets and rules.
#include "engine/params.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <utility>

const GeometryPreset GeometryPresets[kPresetCount] = {
    {"Sphere (Small) - 4096 neurons (sphere radius: 8 mm)", 16, 16, 16, 8.0f, GeometrySphere, 4096, 0},
    {"Sphere (Medium) - 32768 neurons (sphere radius: 16 mm)", 32, 32, 32, 16.0f, GeometrySphere, 32768, 0},
    {"Sphere (Large) - 110592 neurons (sphere radius: 24 mm)", 48, 48, 48, 24.0f, GeometrySphere, 110592, 0},
    {"Sphere (Largest) - 262144 neurons (sphere radius: 32 mm)", 64, 64, 64, 32.0f, GeometrySphere, 262144, 0},
    {"Cube (Smallest) - 512 neurons (8x8x8 mm)", 8, 8, 8, 4.0f, GeometryBox, 512, 0},
    {"Cube (Small) - 4096 neurons (16x16x16 mm)", 16, 16, 16, 8.0f, GeometryBox, 4096, 0},
    {"Cube (Medium) - 32768 neurons (32x32x32 mm)", 32, 32, 32, 16.0f, GeometryBox, 32768, 0},
    {"Cube (Large) - 110592 neurons (48x48x48 mm)", 48, 48, 48, 24.0f, GeometryBox, 110592, 0},
    {"Cube (Largest) - 262144 neurons (64x64x64 mm)", 64, 64, 64, 32.0f, GeometryBox, 262144, 1},
    {"Cuboid (Smallest) - 2048 neurons (8x8x32 mm)", 8, 8, 32, 4.0f, GeometryBox, 2048, 0},
    {"Cuboid (Small) - 16384 neurons (16x16x64 mm)", 16, 16, 64, 8.0f, GeometryBox, 16384, 0},
    {"Cuboid (Medium) - 131072 neurons (32x32x128 mm)", 32, 32, 128, 16.0f, GeometryBox, 131072, 1},
    {"Cuboid (Large) - 331776 neurons (48x48x144 mm)", 48, 48, 144, 24.0f, GeometryBox, 331776, 1},
};

int FindPreset(const SimParams& p) {
    for (int i = 0; i < kPresetCount; ++i) {
        const GeometryPreset& g = GeometryPresets[i];
        if (g.gridX == p.gridX && g.gridY == p.gridY && g.gridZ == p.gridZ &&
            g.geometryKind == p.geometryKind)
            return i;
    }
    return -1;
}

void ApplyPreset(SimParams& p, int presetIndex) {
    if (presetIndex < 0 || presetIndex >= kPresetCount) return;
    const GeometryPreset& g = GeometryPresets[presetIndex];
    SetNetworkShape(p, g.geometryKind, g.gridX, g.gridY, g.gridZ);  // every row is within the limits
}

std::string SetNetworkShape(SimParams& p, int32_t kind, uint32_t x, uint32_t y, uint32_t z) {
    if (kind != GeometryBox && kind != GeometrySphere)
        return "geometryKind = " + std::to_string(kind) + ": must be 0 (box) or 1 (sphere)";
    const uint32_t edge = kind == GeometrySphere ? kMaxSphereGrid : kMaxNetworkNeurons;
    const std::pair<const char*, uint32_t> axes[] = {{"gridX", x}, {"gridY", y}, {"gridZ", z}};
    for (const auto& [name, value] : axes)
        if (value < 1 || value > edge)
            return std::string(name) + " = " + std::to_string(value) + ": must be 1.." + std::to_string(edge);
    if (kind == GeometrySphere && (y != x || z != x))
        return std::string(y != x ? "gridY" : "gridZ") + " = " + std::to_string(y != x ? y : z) +
               ": a sphere's grid is d x d x d (gridX = " + std::to_string(x) + ")";
    const uint64_t neurons = uint64_t{x} * y * z;
    if (neurons > kMaxNetworkNeurons)
        return "neurons = " + std::to_string(neurons) + " (" + std::to_string(x) + "x" + std::to_string(y) + "x" +
               std::to_string(z) + "): at most " + std::to_string(kMaxNetworkNeurons);
    p.geometryKind = kind;
    p.gridX = x;
    p.gridY = y;
    p.gridZ = z;
    p.neuronCount = static_cast<uint32_t>(neurons);
    p.extentX = static_cast<float>(x);
    p.extentY = static_cast<float>(y);
    p.extentZ = static_cast<float>(z);
    p.halfExtent = static_cast<float>(std::min({x, y, z})) * 0.5f;
    return "";
}

std::string NetworkShapeCaption(const SimParams& p) {
    const int preset = FindPreset(p);
    if (preset >= 0) return GeometryPresets[preset].label;
    const bool sphere = p.geometryKind == GeometrySphere;
    std::string caption = std::string(sphere ? "Custom sphere " : "Custom box ") + std::to_string(p.gridX) + "x" +
                          std::to_string(p.gridY) + "x" + std::to_string(p.gridZ) + " - " +
                          std::to_string(p.neuronCount) + " neurons";
    if (sphere) {
        char radius[32];
        std::snprintf(radius, sizeof radius, "%g", static_cast<double>(p.extentX) * 0.5);
        caption += std::string(" (sphere radius: ") + radius + " mm)";
    }
    return caption;
}

void SetDefaultParams(SimParams& p, uint32_t defaultWorkerThreads) {
    p = SimParams{};
    p.tauAmpa = 5.0f;
    p.tauNmda = 150.0f;
    p.tauGabaA = 6.0f;
    p.tauGabaB = 150.0f;
    p.excU = 0.5f;
    p.excF = 1000.0f;
    p.excD = 800.0f;
    p.inhU = 0.2f;
    p.inhF = 20.0f;
    p.inhD = 700.0f;
    p.stdpAPlus = 0.004f;
    p.stdpAMinus = 0.004f;
    p.stdpTauPlus = 15.0f;
    p.stdpTauMinus = 20.0f;
    ApplyPreset(p, kDefaultPreset);
    p.synapseCount = 0;
    p.idlePriority = 0;
    p.autoManageThreads = 1;
    p.workerThreads = defaultWorkerThreads;
    p.inhibitoryFraction = 0.1f;
    p.velocityMyelinated = 1.0f;
    p.velocityUnmyelinated = 0.15f;
    p.longAxonProbability = 0.05f;
    p.inhAxonLengthMin = 0.5f;
    p.inhAxonLengthMax = 4.0f;
    p.excAxonLengthMin = 4.0f;
    p.excAxonLengthMax = 25.0f;
    p.boxInhAxonLengthMin = 0.5f;
    p.boxInhAxonLengthMax = 1.0f;
    p.excSynapsesMin = 16;
    p.excSynapsesMax = 48;
    p.inhSynapsesMin = 8;
    p.inhSynapsesMax = 32;
    p.excSynapseAxonDistance = 3.5f;
    p.inhSynapseAxonDistance = 0.5f;
    p.excWeightMax = 0.8f;
    p.excWeightInitial = 0.4f;
    p.inhWeightMax = 0.8f;
    p.inhWeightInitial = 0.4f;
    p.randomizeExcWeights = 0;
    p.randomizeInhWeights = 0;
    p.reentrantLoops = 1;
    p.engineMode = EngineExact;
    DeriveParams(p);
}

// Nearest power of two with halfway values rounding up: 2^(h+1) if bit h-1 is set.
static uint32_t NearestPowerOfTwo(uint64_t n) {
    if (n == 0) return 1;
    int h = 63 - __builtin_clzll(n);
    if (h > 0 && ((n >> (h - 1)) & 1u)) ++h;
    return h >= 31 ? 0x80000000u : (1u << h);
}

uint32_t DefaultWorkerThreadsForCores(uint32_t cores) {
    return NearestPowerOfTwo(2ull * cores);
}

uint32_t RoundWorkerThreads(int64_t typed) {
    if (typed < 1) return 1;
    if (typed > static_cast<int64_t>(kMaxWorkerThreads)) return kMaxWorkerThreads;
    const uint32_t rounded = NearestPowerOfTwo(static_cast<uint64_t>(typed));
    return rounded > kMaxWorkerThreads ? kMaxWorkerThreads : rounded;
}

uint32_t ParseWorkerThreads(const char* text) {
    if (!text) return 1;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text || errno == ERANGE) return value > 0 && errno == ERANGE ? kMaxWorkerThreads : 1;
    return RoundWorkerThreads(value);
}

uint32_t SpinWorkerThreads(uint32_t current, bool up) {
    const uint32_t rounded = RoundWorkerThreads(current);
    if (up) return rounded >= kMaxWorkerThreads ? kMaxWorkerThreads : rounded * 2;
    return rounded <= 1 ? 1 : rounded / 2;
}

void NormalizeParams(SimParams& p) {
    if (p.excWeightInitial > p.excWeightMax) std::swap(p.excWeightInitial, p.excWeightMax);
    if (p.inhWeightInitial > p.inhWeightMax) std::swap(p.inhWeightInitial, p.inhWeightMax);
    if (p.excAxonLengthMax < 0.001f) p.excAxonLengthMax = 1e10f;
    if (p.excAxonLengthMin < 0.001f) p.excAxonLengthMin = 1e10f;
    if (p.inhAxonLengthMin > p.inhAxonLengthMax) std::swap(p.inhAxonLengthMin, p.inhAxonLengthMax);
    if (p.excAxonLengthMin > p.excAxonLengthMax) std::swap(p.excAxonLengthMin, p.excAxonLengthMax);
    if (p.boxInhAxonLengthMin > p.boxInhAxonLengthMax)
        std::swap(p.boxInhAxonLengthMin, p.boxInhAxonLengthMax);
    if (p.excSynapseAxonDistance < p.inhAxonLengthMin) p.inhAxonLengthMin = p.excSynapseAxonDistance;
    if (p.excSynapseAxonDistance < p.excAxonLengthMin) p.excAxonLengthMin = p.excSynapseAxonDistance;
    if (p.inhSynapseAxonDistance < p.boxInhAxonLengthMin)
        p.boxInhAxonLengthMin = p.inhSynapseAxonDistance;
}

void DeriveParams(SimParams& p) {
    p.ampaInvTau = 1.0f / p.tauAmpa;
    p.ampaStepDecay = 0.5f / p.tauAmpa;
    p.nmdaInvTau = 1.0f / p.tauNmda;
    p.nmdaStepDecay = 0.5f / p.tauNmda;
    p.gabaAInvTau = 1.0f / p.tauGabaA;
    p.gabaAStepDecay = 0.5f / p.tauGabaA;
    p.gabaBInvTau = 1.0f / p.tauGabaB;
    p.gabaBStepDecay = 0.5f / p.tauGabaB;
    p.excStepU = 0.5f * p.excU;
    p.excInvF = 1.0f / p.excF;
    p.excStepInvF = 0.5f / p.excF;
    p.excUOverF = p.excU / p.excF;
    p.excStepUOverF = 0.5f * p.excU / p.excF;
    p.excInvD = 1.0f / p.excD;
    p.excStepInvD = 0.5f / p.excD;
    p.inhStepU = 0.5f * p.inhU;
    p.inhInvF = 1.0f / p.inhF;
    p.inhStepInvF = 0.5f / p.inhF;
    p.inhUOverF = p.inhU / p.inhF;
    p.inhStepUOverF = 0.5f * p.inhU / p.inhF;
    p.inhInvD = 1.0f / p.inhD;
    p.inhStepInvD = 0.5f / p.inhD;
    p.invNeuronCount = p.neuronCount ? 1.0f / static_cast<float>(p.neuronCount) : 0.0f;
}

// ---- Editable neuron and synapse parameters ---------------------------------------------------------

#define ROW(name, kind, min, max) {#name, kind, min, max, offsetof(SimParams, name)}
namespace {
constexpr uint8_t I = ParamKindInteger, F = ParamKindFloat, P = ParamKindPercentage, B = ParamKindFlag;
}  // namespace

const ParamField NeuronParamFields[kNeuronParamCount] = {
    ROW(inhibitoryFraction, P, 0, 100),
    ROW(excSynapsesMin, I, 0, 255),
    ROW(excSynapsesMax, I, 0, 255),
    ROW(inhSynapsesMin, I, 0, 255),
    ROW(inhSynapsesMax, I, 0, 255),
    ROW(velocityMyelinated, F, 0.01, 100),
    ROW(velocityUnmyelinated, F, 0.01, 100),
    ROW(excAxonLengthMin, F, 0.5, 128),
    ROW(excAxonLengthMax, F, 0, 128),
    ROW(inhAxonLengthMin, F, 0, 128),
    ROW(inhAxonLengthMax, F, 0.5, 128),
    ROW(excSynapseAxonDistance, F, 0.5, 128),
    ROW(inhSynapseAxonDistance, F, 0.5, 128),
    ROW(excWeightInitial, F, 0, 1),
    ROW(excWeightMax, F, 0, 1),
    ROW(inhWeightInitial, F, 0, 1),
    ROW(inhWeightMax, F, 0, 1),
    ROW(randomizeExcWeights, B, 0, 1),
    ROW(randomizeInhWeights, B, 0, 1),
    ROW(tauAmpa, F, 1, 1000),
    ROW(tauNmda, F, 1, 1000),
    ROW(tauGabaA, F, 1, 1000),
    ROW(tauGabaB, F, 1, 1000),
    ROW(excU, F, 0.1, 1),
    ROW(inhU, F, 0.1, 1),
    ROW(excF, F, 1, 10000),
    ROW(inhF, F, 1, 10000),
    ROW(excD, F, 1, 10000),
    ROW(inhD, F, 1, 10000),
    ROW(stdpTauPlus, F, 1, 1000),
    ROW(stdpTauMinus, F, 1, 1000),
    ROW(stdpAPlus, F, 0.00001, 1),
    ROW(stdpAMinus, F, 0.00001, 1),
};

#undef ROW
