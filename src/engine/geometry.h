// Neuron placement and wiring: neurons on a sphere's surface or one per cell of a
// 1 mm grid, their types, axon terminals, and the synapses found around them.
//
// Sections:
//   1. Draw helpers (type, unit vector, axon terminal)
//   2. Builders
//   3. Limits and helpers shared with construction (capacities, count ranges)
//
// Every random number comes from the simulation's generator in a fixed order, so a network built
// from the same seed is the same on every run and machine.
#pragma once

#include <array>
#include <cstdint>

struct Neuron;
struct RandomGeneratorState;
struct Simulation;
struct SimParams;

// ---- 1. Draw helpers -----------------------------------------------------------------------

// Draws the neuron's kind and Izhikevich parameters (two draws).
void AssignNeuronType(RandomGeneratorState& rng, Neuron& neuron, float inhibitoryFraction);
// A direction uniform on the unit sphere's surface (two draws).
std::array<float, 3> RandomUnitVector(RandomGeneratorState& rng);
// Terminal at a random length in [lengthMin, lengthMax] in a random direction
// from the soma (three draws: length, then direction).
void PlaceAxonTerminal(RandomGeneratorState& rng, float out[3], const float soma[3], float lengthMin, float lengthMax);

// Index of the neuron in grid cell (x, y, z) of a box network: cells are numbered
// with X innermost, then Y, then Z. 64-bit, so a grid edited beyond the built
// network can be tested against the neuron count without wrapping.
inline uint64_t GridCellIndex(uint32_t gridX, uint32_t gridY, uint32_t x, uint32_t y, uint32_t z) {
    return (static_cast<uint64_t>(z) * gridY + y) * gridX + x;
}

// ---- 2. Builders ---------------------------------------------------------------------------
// Both expect state.neurons allocated (state.neuronCount records, zeroed) and the
// parameters normalised (a box: one record per grid cell). They log one line at
// start and one at the end.

void BuildSphereGeometry(Simulation& state);
void BuildBoxGeometry(Simulation& state);

// The axon terminal of the box neuron at `cell` (soma and type already set): drawn
// until it lies inside the margins, or across the volume for a reentrant loop.
// Returns false when no terminal could be accepted and it was clamped instead.
bool PlaceBoxTerminal(RandomGeneratorState& rng, const SimParams& params, const uint32_t cell[3], const Neuron& neuron,
                      float terminal[3]);

// ---- 3. Limits and helpers ----------------------------------------------------------------

// Attempts at placing a box terminal that can be accepted before it is clamped
// anyway; rare acceptances take thousands, so this only ends degenerate cases.
inline constexpr uint32_t kMaxTerminalAttempts = 10000000;
// Draws per box synapse that land outside the grid or in the neuron's own cell
// before the neuron's remaining synapses are dropped.
inline constexpr uint32_t kMaxUncountedDraws = 10000;
// Counted attempts per box synapse.
inline constexpr uint32_t kBoxAttemptsPerSynapse = 100;

struct SynapseCountRange {
    uint32_t lo, hi;  // lo <= hi <= 255
};
// The kind's synapse count range; a minimum above the maximum is used swapped,
// and both ends are limited to 255 (the delivery loop counts in 8 bits).
SynapseCountRange CountRangeFor(const SimParams& params, bool excitatory);
// Room in a neuron's incoming array: the upper end of its kind's count range.
uint32_t IncomingCapacityFor(const SimParams& params, bool excitatory);
// Room in every neuron's outgoing list: enough for any drawn count of either
// kind, at least 1 (a drawn count below 2 becomes 1).
uint32_t OutgoingCapacityFor(const SimParams& params);
// Synapses a pre-synaptic neuron of the kind tries to make: one draw in the
// range, truncated; 0 and 1 both give 1.
uint32_t DrawSynapseCount(RandomGeneratorState& rng, const SimParams& params, bool excitatory);

// Largest float x with sqrtf(x) < radius (-1 when no x >= 0 qualifies), so that
// "sqrtf(d2) < radius" can be tested as "d2 <= threshold" with the same result.
float DistanceThresholdSquared(float radius);
// Single-precision distance ((dx² + dy²) + dz²) then sqrtf.
float Distance3(const float a[3], const float b[3]);
