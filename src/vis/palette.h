// Neuron colouring: the three 512-entry RGBA palettes and the index rule.
//
// Sections:
//   1. Palette tables
//   2. Building (eight entries at a time)
//   3. Index rule
#pragma once

#include <cstdint>

struct AppState;

// ---- 1. Tables ------------------------------------------------------------------------------
inline constexpr int kPaletteSize = 512;
using Palette = uint8_t[kPaletteSize][4];  // red, green, blue, alpha

extern Palette ActivityPalette;    // (c, c, 255, a): all cubes, excitatory lines, picker
extern Palette InhibitoryPalette;  // (255, c, c, a): inhibitory lines
extern Palette AxonPalette;        // (w, w, 255, 255): inspector axons

// ---- 2. Building ----------------------------------------------------------------------------
// 0 when v <= 0, 255 when v >= 1, else the integer part of v * 255 + 0.5.
uint8_t ColourByte(float v);

// Fills the three tables for an opacity alpha and the wireframe flag.
void FillPalettes(float alpha, bool wireframe, Palette activity, Palette inhibitory, Palette axon);
// Recomputes the process-wide tables from NeuronAlpha and WireframeMode. Call under
// StateLock (the render thread's frame and the transparency task both hold it).
void BuildPalettes(AppState* state);

// ---- 3. Index rule --------------------------------------------------------------------------
// Integer part of s * 512 as a 16-bit value, at most 511. Callers deal with s <= 0.
uint32_t PaletteIndex(float s);
