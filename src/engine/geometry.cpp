// Neuron placement and wiring.
//
// Sections:
//   1. Limits and helpers (count ranges, capacities, distances)
//   2. Draw helpers (type, unit vector, axon terminal)
//   3. Link creation
//   4. Sphere: placement, axons, wiring by linear scan
//   5. Box/cuboid: placement, terminals with reentrant loops, wiring by grid lookup
#include "engine/geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/random.h"
#include "engine/simulation.h"
#include "platform/log.h"

// ---- 1. Limits and helpers ----------------------------------------------------------------

SynapseCountRange CountRangeFor(const SimParams& p, bool excitatory) {
    uint32_t lo = excitatory ? p.excSynapsesMin : p.inhSynapsesMin;
    uint32_t hi = excitatory ? p.excSynapsesMax : p.inhSynapsesMax;
    if (lo > hi) std::swap(lo, hi);  // a reversed range is used swapped
    return {std::min(lo, kMaxSynapsesPerNeuron), std::min(hi, kMaxSynapsesPerNeuron)};
}

uint32_t IncomingCapacityFor(const SimParams& p, bool excitatory) {
    return CountRangeFor(p, excitatory).hi;
}

uint32_t OutgoingCapacityFor(const SimParams& p) {
    const uint32_t most = std::max(CountRangeFor(p, true).hi, CountRangeFor(p, false).hi);
    return std::max(most, 1u);
}

uint32_t DrawSynapseCount(RandomGeneratorState& rng, const SimParams& p, bool excitatory) {
    const SynapseCountRange range = CountRangeFor(p, excitatory);
    const uint32_t n = DrawCount(range.lo, range.hi, Random01(rng));
    // A count of 0 or 1 gives 1: every neuron tries at least one synapse.
    return n < 2 ? 1u : std::min(n, range.hi);
}

float DistanceThresholdSquared(float radius) {
    if (!(radius > 0.0f)) return -1.0f;
    if (std::isinf(radius)) return std::numeric_limits<float>::max();
    float t = static_cast<float>(static_cast<double>(radius) * radius);
    if (std::isinf(t)) t = std::numeric_limits<float>::max();
    // sqrtf is correctly rounded, hence monotone: walk to the last x that passes.
    while (t >= 0.0f && !(std::sqrt(t) < radius)) t = std::nextafter(t, -1.0f);
    for (;;) {
        const float up = std::nextafter(t, std::numeric_limits<float>::infinity());
        if (std::isinf(up) || !(std::sqrt(up) < radius)) break;
        t = up;
    }
    return t < 0.0f ? -1.0f : t;
}

static inline float DistanceSquared3(const float a[3], const float b[3]) {
    const float dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return (dx * dx + dy * dy) + dz * dz;
}

float Distance3(const float a[3], const float b[3]) { return std::sqrt(DistanceSquared3(a, b)); }

// ---- 2. Draw helpers -----------------------------------------------------------------------

void AssignNeuronType(RandomGeneratorState& rng, Neuron& n, float inhibitoryFraction) {
    // The draw stays double for the comparison with the float fraction.
    const double r = Random01(rng);
    const float q = static_cast<float>(Random01(rng));
    if (r < static_cast<double>(inhibitoryFraction)) {
        n.a = 0.02f + 0.08f * q;
        n.b = 0.25f - 0.05f * q;
        n.c = -65.0f;
        n.d = 2.0f;
        n.isExcitatory = 0;
        n.neuronClass = q > 0.4f ? NeuronClassLTS : NeuronClassFS;
    } else {
        const float s = q * q;  // single precision throughout
        n.a = 0.02f;
        n.b = 0.2f;
        n.c = -65.0f + 15.0f * s;
        n.d = 8.0f - 6.0f * s;
        n.isExcitatory = 1;
        n.neuronClass = NeuronClassRS;
    }
}

std::array<float, 3> RandomUnitVector(RandomGeneratorState& rng) {
    // z = (r1 - 1) + r1 in double, stored as float; the angle is rounded to float,
    // and cosine and sine are taken in double and rounded before the products.
    const float z = static_cast<float>(SignedUnitDraw(Random01(rng)));
    const float phi = static_cast<float>(Random01(rng) * 6.2831854820251465);
    const float rho = std::sqrt(1.0f - z * z);
    const float c = static_cast<float>(std::cos(static_cast<double>(phi)));
    const float s = static_cast<float>(std::sin(static_cast<double>(phi)));
    return {rho * c, rho * s, z};
}

void PlaceAxonTerminal(RandomGeneratorState& rng, float out[3], const float soma[3], float lengthMin, float lengthMax) {
    // The length is drawn first; the draw becomes a float and the length is formed
    // in single precision.
    const float r = static_cast<float>(Random01(rng));
    const float length = lengthMin + r * (lengthMax - lengthMin);
    const std::array<float, 3> dir = RandomUnitVector(rng);
    for (int k = 0; k < 3; ++k) out[k] = soma[k] + length * dir[k];
}

// ---- 3. Link creation ---------------------------------------------------------------------

// P -> Q as the next entry of Q's incoming array; the callers test Q's room first.
// A process that keeps only its share counts the synapses onto other neurons
// (their room decides later links) without storing them.
static inline void Link(Neuron& pre, Neuron& post) {
    if (post.incoming != nullptr) {
        Synapse& s = post.incoming[post.incomingCount];
        s.pre = &pre;
        s.post = &post;
        ++pre.outgoingCount;  // the list is sized from this count after the wiring
    }
    ++post.incomingCount;
    if (pre.isExcitatory)
        ++post.excIncomingCount;
    else
        ++post.inhIncomingCount;
}

// Scratch arrays of a build, freed when the builder returns.
template <typename T>
struct ScratchArray {
    T* data = nullptr;
    explicit ScratchArray(size_t count) {
        data = static_cast<T*>(plat::AlignedAllocZeroed(count * sizeof(T)));
        if (!data) throw BuildFailure{"Unable to allocate memory for the network geometry!"};
    }
    ~ScratchArray() { plat::AlignedFree(data); }
    ScratchArray(const ScratchArray&) = delete;
    ScratchArray& operator=(const ScratchArray&) = delete;
    T& operator[](size_t i) { return data[i]; }
};

// ---- 4. Sphere -------------------------------------------------------------------------------

void BuildSphereGeometry(Simulation& state) {
    state.Log(LogInfo, "Building spherical geometry...");
    SimParams& p = state.params;
    RandomGeneratorState& rng = state.random;
    Neuron* neurons = state.neurons;
    const uint32_t n = state.neuronCount;

    // 1. Somata on the sphere of radius extentX / 2 about the volume's centre.
    const float radius = p.extentX * 0.5f;
    const float centre[3] = {p.extentX * 0.5f, p.extentY * 0.5f, p.extentZ * 0.5f};
    for (uint32_t i = 0; i < n; ++i) {
        const std::array<float, 3> dir = RandomUnitVector(rng);
        for (int k = 0; k < 3; ++k) neurons[i].somaPos[k] = dir[k] * radius + centre[k];
    }

    // Compact copies of the positions keep the linear scans in cache.
    ScratchArray<float> px(n), py(n), pz(n);
    ScratchArray<uint8_t> room(n);  // 1 while the neuron can take one more link
    for (uint32_t i = 0; i < n; ++i) {
        px[i] = neurons[i].somaPos[0];
        py[i] = neurons[i].somaPos[1];
        pz[i] = neurons[i].somaPos[2];
    }
    // Distances are single-precision differences, ((dx² + dy²) + dz²), sqrtf, and
    // compared strictly with the radius; squared thresholds give the same answers.
    auto within = [&](uint32_t j, const float at[3], float threshold) {
        const float dx = px[j] - at[0], dy = py[j] - at[1], dz = pz[j] - at[2];
        return (dx * dx + dy * dy) + dz * dz <= threshold;
    };

    // 2. Types and axons.
    const uint32_t excCapacity = IncomingCapacityFor(p, true);
    const uint32_t inhCapacity = IncomingCapacityFor(p, false);
    const float axonThreshold = DistanceThresholdSquared(p.excAxonLengthMax);
    for (uint32_t i = 0; i < n; ++i) {
        Neuron& ni = neurons[i];
        AssignNeuronType(rng, ni, p.inhibitoryFraction);
        if (!ni.isExcitatory) {
            for (int k = 0; k < 3; ++k) ni.axonTerminal[k] = ni.somaPos[k];
            InitNeuronStorage(state, ni, inhCapacity, 1.0f);
            continue;
        }
        // The first neuron from a random start whose soma is within reach; neuron i
        // itself always is, and if it were not, the terminal stays at the soma.
        // Start index: the draw stays double, float(n - 1)·r is formed in double,
        // rounded to float, then floored.
        uint32_t k = DrawIndex(n, Random01(rng));
        uint32_t target = i;
        for (uint32_t examined = 0; examined < n; ++examined) {
            if (within(k, ni.somaPos, axonThreshold)) {
                target = k;
                break;
            }
            k = k + 1 == n ? 0 : k + 1;
        }
        const float d = Distance3(ni.somaPos, neurons[target].somaPos);
        const float f = std::max(1.0f, d);
        const float s = f > 1.0f ? (f - 1.0f) / f : 0.0f;  // 1 mm short of the target
        for (int a = 0; a < 3; ++a)
            ni.axonTerminal[a] = ni.somaPos[a] + (neurons[target].somaPos[a] - ni.somaPos[a]) * s;
        InitNeuronStorage(state, ni, excCapacity, std::max(1.0f, Distance3(ni.axonTerminal, ni.somaPos)));
    }

    // 3. Wiring. A target needs room for two more links (count below capacity - 1);
    // written as count + 1 < capacity it cannot wrap for a capacity of 0.
    for (uint32_t j = 0; j < n; ++j) room[j] = neurons[j].incomingCount + 1 < neurons[j].incomingCapacity;
    const float excThreshold = DistanceThresholdSquared(p.excAxonLengthMax);
    const float inhThreshold = DistanceThresholdSquared(p.inhAxonLengthMax);
    for (uint32_t i = 0; i < n; ++i) {
        Neuron& pre = neurons[i];
        const bool exc = pre.isExcitatory != 0;
        const uint32_t count = DrawSynapseCount(rng, p, exc);
        const float threshold = exc ? excThreshold : inhThreshold;
        // One budget of n examinations is shared by all of i's synapses, the
        // accepting examination included; each synapse still draws its start and
        // examines at least one candidate once the budget is spent.
        uint32_t examined = 0;
        for (uint32_t syn = 0; syn < count; ++syn) {
            uint32_t k = DrawIndex(n, Random01(rng));
            do {
                ++examined;
                if (room[k] && within(k, pre.axonTerminal, threshold)) {
                    Neuron& post = neurons[k];
                    Link(pre, post);
                    room[k] = post.incomingCount + 1 < post.incomingCapacity;
                    break;
                }
                k = k + 1 == n ? 0 : k + 1;
            } while (examined < n);
        }
    }
    state.Log(LogInfo, "Spherical geometry successfully generated.");
}

// ---- 5. Box/cuboid ------------------------------------------------------------------------------

namespace {

struct BoxShape {
    uint32_t grid[3];  // cells along X, Y, Z
    float extent[3];   // mm along X, Y, Z
};

BoxShape BoxShapeOf(const SimParams& p) {
    return {{p.gridX, p.gridY, p.gridZ}, {p.extentX, p.extentY, p.extentZ}};
}

// With reentrant loops an excitatory neuron in the first or last layer of an axis
// sends its terminal across the volume along that axis.
bool WrapsAlong(const BoxShape& box, const uint32_t cell[3], bool reentrant, int axis) {
    return reentrant && (cell[axis] == box.grid[axis] - 1 || cell[axis] == 0);
}

// Whether the placement loop below can ever accept a terminal. Each axis is tested
// on the value it holds when its turn comes (Z, then Y, then X): a wrapping axis on
// its fresh reentrant value, an axis after a wrapping one on that one's uniform
// redraw in [0, extent - 1], and the axes before any wrapping one on
// soma + length * direction. For the last kind the margins form a box, which a
// length in [lmin, lmax] reaches iff its nearest point is within lmax and (when all
// three axes are tested that way) its farthest corner is at least lmin away; with
// an axis left free the rest of the length can go along it, so only lmax counts.
bool TerminalCanFit(const SimParams& p, const BoxShape& box, const uint32_t cell[3],
                    const Neuron& neuron, float margin) {
    const bool exc = neuron.isExcitatory != 0;
    const bool reentrant = p.reentrantLoops && exc;
    bool redrawn = false;  // a wrapping axis came earlier and redrew the later ones
    double nearest2 = 0.0, farthest2 = 0.0;
    int shellAxes = 0;
    for (int a = 2; a >= 0; --a) {
        const float gridSize = static_cast<float>(box.grid[a]);
        if (WrapsAlong(box, cell, reentrant, a)) {
            // The last layer's b * r never exceeds the grid; the first layer's
            // extent - b * r is least at r = 1.
            const float b = 0.1f * box.extent[a];
            if (cell[a] != box.grid[a] - 1 && !(box.extent[a] - b <= gridSize)) return false;
            redrawn = true;
            continue;
        }
        const float lo = margin, hi = gridSize - margin;
        if (!(lo <= hi)) return false;
        if (redrawn) {
            const float e = box.extent[a] - 1.0f;
            if (!(std::max(lo, std::min(0.0f, e)) <= std::min(hi, std::max(0.0f, e)))) return false;
            continue;
        }
        const double s = neuron.somaPos[a];
        const double gap = s < lo ? lo - s : (s > hi ? s - hi : 0.0);
        const double far = std::max(std::fabs(s - lo), std::fabs(s - hi));
        nearest2 += gap * gap;
        farthest2 += far * far;
        ++shellAxes;
    }
    if (shellAxes == 0) return true;
    const double nearest = std::sqrt(nearest2), farthest = std::sqrt(farthest2);
    auto reaches = [&](float lengthMin, float lengthMax) {
        // Lengths below zero point the other way: the reach is the range of |length|.
        const double l0 = std::fabs(static_cast<double>(lengthMin));
        const double l1 = std::fabs(static_cast<double>(lengthMax));
        const bool straddles = (lengthMin < 0.0f) != (lengthMax < 0.0f);
        const double shortest = straddles ? 0.0 : std::min(l0, l1), longest = std::max(l0, l1);
        return nearest <= longest && (shellAxes < 3 || farthest >= shortest);
    };
    if (!exc) return reaches(p.boxInhAxonLengthMin, p.boxInhAxonLengthMax);
    return (p.longAxonProbability > 0.0f && reaches(p.excAxonLengthMin, p.excAxonLengthMax)) ||
           (p.longAxonProbability < 1.0f && reaches(p.inhAxonLengthMin, p.inhAxonLengthMax));
}

}  // namespace

bool PlaceBoxTerminal(RandomGeneratorState& rng, const SimParams& p, const uint32_t cell[3], const Neuron& neuron, float terminal[3]) {
    const BoxShape box = BoxShapeOf(p);
    const bool exc = neuron.isExcitatory != 0;
    const bool reentrant = p.reentrantLoops && exc;
    // Margins in single precision.
    const float margin = 0.4f * (exc ? p.excSynapseAxonDistance : p.inhSynapseAxonDistance);
    // A neuron whose terminal can never be accepted gets one attempt and a clamped
    // terminal; any other draws until one is accepted, however unlikely, within a
    // bound that only rounding at the very edge of the reachable region could meet.
    const uint32_t attempts = TerminalCanFit(p, box, cell, neuron, margin) ? kMaxTerminalAttempts : 1;
    for (uint32_t attempt = 0; attempt < attempts; ++attempt) {
        float lengthMin = p.boxInhAxonLengthMin, lengthMax = p.boxInhAxonLengthMax;
        if (exc) {
            // Double draw against the float probability, compared in double.
            if (Random01(rng) <= static_cast<double>(p.longAxonProbability)) {
                lengthMin = p.excAxonLengthMin;
                lengthMax = p.excAxonLengthMax;
            } else {
                lengthMin = p.inhAxonLengthMin;
                lengthMax = p.inhAxonLengthMax;
            }
        }
        PlaceAxonTerminal(rng, terminal, neuron.somaPos, lengthMin, lengthMax);
        // Axes in the order Z, Y, X. Every axis is processed in every attempt, with
        // its draws, even after an earlier one was found out of range; a redraw of
        // another axis uses that axis's own extent and overwrites earlier values.
        bool outOfRange = false;
        for (int a = 2; a >= 0; --a) {
            const float gridSize = static_cast<float>(box.grid[a]);
            const bool last = cell[a] == box.grid[a] - 1;
            if (WrapsAlong(box, cell, reentrant, a)) {
                // Reentrant coordinates in single precision from float draws.
                const float b = 0.1f * box.extent[a];
                const float r = static_cast<float>(Random01(rng));
                // Last layer: into the first tenth; first layer: into the last tenth.
                terminal[a] = last ? b * r : box.extent[a] - b * r;
                for (int o = 2; o >= 0; --o) {  // the other two, Z before Y before X
                    if (o == a) continue;
                    terminal[o] = (box.extent[o] - 1.0f) * static_cast<float>(Random01(rng));
                }
                if (terminal[a] > gridSize) outOfRange = true;
            } else if (terminal[a] < margin || terminal[a] > gridSize - margin) {
                outOfRange = true;
            }
        }
        if (!outOfRange) return true;
    }
    // Gave up: clamp the tested axes into their margins, or to the middle of an
    // axis too short for them.
    for (int a = 0; a < 3; ++a) {
        if (WrapsAlong(box, cell, reentrant, a)) continue;
        const float g = static_cast<float>(box.grid[a]);
        const float lo = std::min(margin, g * 0.5f), hi = std::max(g - margin, g * 0.5f);
        terminal[a] = std::clamp(terminal[a], lo, hi);
    }
    return false;
}

void BuildBoxGeometry(Simulation& state) {
    state.Log(LogInfo, "Building box/cuboid geometry...");
    SimParams& p = state.params;
    RandomGeneratorState& rng = state.random;
    Neuron* neurons = state.neurons;
    const float loopRadius = std::max(3.0f, p.extentZ * 0.0625f);
    const uint32_t excCapacity = IncomingCapacityFor(p, true);
    const uint32_t inhCapacity = IncomingCapacityFor(p, false);

    // 1. Placement, cell by cell: Z outermost, X innermost.
    uint32_t clamped = 0;
    uint32_t index = 0;
    for (uint32_t z = 0; z < p.gridZ; ++z) {
        for (uint32_t y = 0; y < p.gridY; ++y) {
            for (uint32_t x = 0; x < p.gridX; ++x, ++index) {
                Neuron& nr = neurons[index];
                AssignNeuronType(rng, nr, p.inhibitoryFraction);
                const bool exc = nr.isExcitatory != 0;
                const uint32_t capacity = exc ? excCapacity : inhCapacity;
                // Each sum in double, stored as float: the soma lies in its own cell.
                const uint32_t cell[3] = {x, y, z};
                for (int a = 0; a < 3; ++a)
                    nr.somaPos[a] = static_cast<float>((static_cast<double>(cell[a]) - 0.5) + Random01(rng));
                if (!PlaceBoxTerminal(rng, p, cell, nr, nr.axonTerminal)) ++clamped;
                InitNeuronStorage(state, nr, capacity, std::max(1.0f, Distance3(nr.axonTerminal, nr.somaPos)));
            }
        }
    }
    if (clamped)
        state.Log(LogWarning,
                   "%u axon terminals did not fit inside the synapse-axon margins and were clamped.",
                   clamped);

    // 2. Wiring by direct lookup of the cell around a random point of the search ball.
    uint32_t abandoned = 0;
    index = 0;
    for (uint32_t z = 0; z < p.gridZ; ++z) {
        for (uint32_t y = 0; y < p.gridY; ++y) {
            for (uint32_t x = 0; x < p.gridX; ++x, ++index) {
                Neuron& pre = neurons[index];
                const bool exc = pre.isExcitatory != 0;
                const uint32_t count = DrawSynapseCount(rng, p, exc);
                // The loop radius applies at the last Z layer (with reentrant loops),
                // the last Y row and the last X column, for both kinds of neuron.
                const bool edge = (p.reentrantLoops && z == p.gridZ - 1) || y == p.gridY - 1 ||
                                  x == p.gridX - 1;
                const float rho = edge ? loopRadius
                                       : (exc ? p.excSynapseAxonDistance : p.inhSynapseAxonDistance);
                const float* t = pre.axonTerminal;
                bool giveUp = false;
                for (uint32_t syn = 0; syn < count && !giveUp; ++syn) {
                    uint32_t counted = 0, uncounted = 0;
                    while (counted < kBoxAttemptsPerSynapse) {
                        // u, v, w: (r - 1) + r in double, stored as float; the ball
                        // test is in float.
                        float u, v, w;
                        do {
                            u = static_cast<float>(SignedUnitDraw(Random01(rng)));
                            v = static_cast<float>(SignedUnitDraw(Random01(rng)));
                            w = static_cast<float>(SignedUnitDraw(Random01(rng)));
                        } while (!((u * u + v * v) + w * w <= 1.0f));
                        // Cell by truncation toward zero of float(u·ρ) + terminal:
                        // a coordinate in (-1, 0) lands in cell 0.
                        const float fx = u * rho + t[0];
                        const float fy = v * rho + t[1];
                        const float fz = w * rho + t[2];
                        const bool inside = fx > -1.0f && fx < static_cast<float>(p.gridX) &&
                                            fy > -1.0f && fy < static_cast<float>(p.gridY) &&
                                            fz > -1.0f && fz < static_cast<float>(p.gridZ);
                        uint32_t target = index;
                        if (inside) {
                            const uint32_t tx = static_cast<uint32_t>(fx);
                            const uint32_t ty = static_cast<uint32_t>(fy);
                            const uint32_t tz = static_cast<uint32_t>(fz);
                            target = static_cast<uint32_t>(GridCellIndex(p.gridX, p.gridY, tx, ty, tz));
                        }
                        if (target == index) {
                            // Outside the grid or the own cell: not counted, but
                            // bounded, so a ball with no other cell ends.
                            if (++uncounted >= kMaxUncountedDraws) giveUp = true;
                            if (giveUp) break;
                            continue;
                        }
                        ++counted;
                        Neuron& post = neurons[target];
                        if (post.incomingCount < post.incomingCapacity) {
                            Link(pre, post);
                            break;
                        }
                    }
                }
                if (giveUp) ++abandoned;
            }
        }
    }
    if (abandoned)
        state.Log(LogWarning,
                   "%u neurons found no cell around their axon terminal; their remaining synapses were dropped.",
                   abandoned);
    state.Log(LogInfo, "Box/cuboid geometry successfully generated.");
}
