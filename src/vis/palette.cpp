// Neuron colouring.
//
// Sections:
//   1. Tables
//   2. Building
//   3. Index rule
#include "vis/palette.h"

#include "io/app_state.h"
#include "vis/view_state.h"

// ---- 1. Tables ------------------------------------------------------------------------------
// The scene's colours: one set for the one window, rebuilt under StateLock (new
// simulation, transparency task) and read by the render thread under it.
Palette ActivityPalette;
Palette InhibitoryPalette;
Palette AxonPalette;

// ---- 2. Building ----------------------------------------------------------------------------
uint8_t ColourByte(float v) {
    if (v <= 0.0f) return 0;
    if (v >= 1.0f) return 255;
    return static_cast<uint8_t>(static_cast<int>(v * 255.0f + 0.5f));
}

void FillPalettes(float alpha, bool wireframe, Palette activity, Palette inhibitory, Palette axon) {
    constexpr int kLanes = 8;
    constexpr double kLaneStep = static_cast<double>(kLanes) / kPaletteSize;  // 0.015625
    // Eight lanes advance together; t stays exact in binary (multiples of 1/512), so
    // each lane equals the per-entry formula t = i / 512.
    double t[kLanes];
    for (int j = 0; j < kLanes; ++j) t[j] = static_cast<double>(j) / kPaletteSize;
    for (int i = 0; i < kPaletteSize; i += kLanes) {
        uint8_t c[kLanes], a[kLanes], w[kLanes];
        for (int j = 0; j < kLanes; ++j) {
            const double brightness = wireframe ? (t[j] * 0.75 > 0.25 ? t[j] * 0.75 : 0.25) : t[j] * 0.95;
            c[j] = ColourByte(static_cast<float>(brightness));
            a[j] = ColourByte(static_cast<float>(static_cast<double>(alpha) * t[j]));
            w[j] = ColourByte(static_cast<float>(t[j] * 0.9));
        }
        for (int j = 0; j < kLanes; ++j) {
            uint8_t* e = activity[i + j];
            e[0] = c[j], e[1] = c[j], e[2] = 255, e[3] = a[j];
            uint8_t* r = inhibitory[i + j];
            r[0] = 255, r[1] = c[j], r[2] = c[j], r[3] = a[j];
            uint8_t* x = axon[i + j];
            x[0] = w[j], x[1] = w[j], x[2] = 255, x[3] = 255;
            t[j] += kLaneStep;
        }
    }
}

void BuildPalettes(AppState* state) {
    FillPalettes(state->options.NeuronAlpha, WireframeMode, ActivityPalette, InhibitoryPalette,
                 AxonPalette);
}

// ---- 3. Index rule --------------------------------------------------------------------------
uint32_t PaletteIndex(float s) {
    // The 16-bit truncation keeps huge values from overflowing the cast; anything past
    // 511 (including the wrap of a negative or enormous value) is clamped below.
    if (!(s > 0.0f)) return 0;
    const float scaled = s * 512.0f;
    if (scaled >= 511.0f) return 511;
    const uint32_t index = static_cast<uint16_t>(static_cast<int32_t>(scaled));
    return index > 511 ? 511 : index;
}
