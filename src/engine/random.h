// The random generator of network construction: a multiply-with-carry generator
// with two lag-8 recurrences of 16-bit values (carries in element 0). Each
// simulation has its own; only the thread that builds the network draws from it.
#pragma once

#include <cstdint>

struct RandomGeneratorState {
    int16_t firstUse = 1;   // 1 until the histories are filled from the seed
    uint32_t seed = 0;      // the seed before first use, then the last 32-bit output
    int16_t history1[10] = {};
    int16_t history2[10] = {};
};

// A generator seeded with `seed` (0 becomes 1: a zero seed word would make every
// draw 0, the generator's fixed point).
RandomGeneratorState SeededRandom(uint32_t seed);

// Next value, uniform on the closed interval [0, 1].
double Random01(RandomGeneratorState& state);

// Derived draws.
// Signed unit draw 2r - 1, formed as (r - 1) + r in double.
inline double SignedUnitDraw(double r) { return (r - 1.0) + r; }
// Integer in [a, b]: a + r * (b - a) in float (r rounded to float first),
// truncated toward zero.
uint32_t DrawCount(uint32_t a, uint32_t b, double r);
// Index in [0, n - 1]: floor(float(n - 1) * r), the product formed in double and
// rounded to float before the floor.
uint32_t DrawIndex(uint32_t n, double r);
