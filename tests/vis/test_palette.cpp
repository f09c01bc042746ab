// Palette entries and the palette index rule.
#include <gtest/gtest.h>

#include "vis/palette.h"
#include "vis/scene_data.h"

namespace {

struct Tables {
    Palette activity, inhibitory, axon;
};

void ExpectEntry(const uint8_t* e, int r, int g, int b, int a) {
    EXPECT_EQ(e[0], r);
    EXPECT_EQ(e[1], g);
    EXPECT_EQ(e[2], b);
    EXPECT_EQ(e[3], a);
}

}  // namespace

TEST(Palette, EntriesOpacityClampAndWireframeFloor) {
    Tables t;
    FillPalettes(0.2f, false, t.activity, t.inhibitory, t.axon);
    // Entry 0: transparent pure blue / pure red, opaque blue axon; entry 511 (t =
    // 0.998046875): c = 0.9481 * 255 -> 242, a = 0.1996 * 255 -> 51, w -> 229.
    ExpectEntry(t.activity[0], 0, 0, 255, 0);
    ExpectEntry(t.inhibitory[0], 255, 0, 0, 0);
    ExpectEntry(t.axon[0], 0, 0, 255, 255);
    ExpectEntry(t.activity[511], 242, 242, 255, 51);
    ExpectEntry(t.inhibitory[511], 255, 242, 242, 51);
    ExpectEntry(t.axon[511], 229, 229, 255, 255);
    // alpha * t reaches 1 at i = 256 and stays clamped after it; 0 is transparent.
    FillPalettes(2.0f, false, t.activity, t.inhibitory, t.axon);
    EXPECT_EQ(t.activity[255][3], 254);  // 0.99609375 * 255 + 0.5 = 254.5
    for (int i = 256; i < kPaletteSize; ++i) EXPECT_EQ(t.inhibitory[i][3], 255) << i;
    FillPalettes(0.0f, false, t.activity, t.inhibitory, t.axon);
    for (int i = 0; i < kPaletteSize; ++i) EXPECT_EQ(t.activity[i][3] + t.axon[i][3], 255) << i;
    // Wireframe: the floor 0.25 gives byte 64 up to t * 0.75 = 0.25, then the ramp.
    FillPalettes(0.065f, true, t.activity, t.inhibitory, t.axon);
    ExpectEntry(t.inhibitory[0], 255, 64, 64, 0);
    EXPECT_EQ(t.activity[170][0], 64);
    EXPECT_EQ(t.activity[200][0], 75);  // 0.29296875 * 255 = 74.7
    EXPECT_EQ(t.axon[511][0], 229);     // the axon palette does not depend on the mode
}

TEST(Palette, IndexRule) {
    EXPECT_EQ(PaletteIndex(0.5f), 256u);
    EXPECT_EQ(PaletteIndex(0.998f), 510u);  // 510.98
    EXPECT_EQ(PaletteIndex(1.0f), 511u);
    EXPECT_EQ(PaletteIndex(1.0e9f), 511u);  // no 16-bit wrap-around
    // Neurons: s <= 0 is not drawn.
    EXPECT_EQ(NeuronPaletteEntry(0.0f), -1);
    EXPECT_EQ(NeuronPaletteEntry(0.001f), 0);
    // An envelope of -35 mV is exactly s = 0 for the cubes; lines still draw it
    // down to -80 mV.
    EXPECT_EQ(NeuronPaletteEntry(CubeActivityScale(-35.0f)), -1);
    EXPECT_EQ(NeuronPaletteEntry(CubeActivityScale(-34.0f)), 7);  // 0.0142857 * 512 = 7.3
    EXPECT_GE(NeuronPaletteEntry(LineActivityScale(-35.0f)), 0);
    EXPECT_EQ(NeuronPaletteEntry(LineActivityScale(-80.0f)), -1);
    EXPECT_EQ(NeuronPaletteEntry(CubeActivityScale(40.0f)), 511);
}

TEST(Palette, LineNeuronsWithoutOpacityAreLeftOut) {
    Tables t;
    FillPalettes(0.065f, true, t.activity, t.inhibitory, t.axon);
    // At the wireframe opacity a neuron near rest has alpha 0: its lines would
    // change no pixel, so they are not drawn; a resting or active one is.
    EXPECT_EQ(LineNeuronColour(-77.0f, t.activity), nullptr);  // entry 9, alpha 0
    EXPECT_EQ(LineNeuronColour(-80.0f, t.activity), nullptr);  // s = 0
    const uint8_t* resting = LineNeuronColour(-65.0f, t.activity);
    ASSERT_NE(resting, nullptr);
    EXPECT_GT(resting[3], 0);
    EXPECT_EQ(LineNeuronColour(-65.0f, t.inhibitory), t.inhibitory[48]);
    // At the cube opacity the same neuron near rest is drawn.
    FillPalettes(0.2f, true, t.activity, t.inhibitory, t.axon);
    EXPECT_NE(LineNeuronColour(-77.0f, t.activity), nullptr);
}
