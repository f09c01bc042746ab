// Whether the regular stimulus can act on a grid: read by the E key (which does
// not switch it on where it cannot act, and says why) and by the HUD's tag.
#pragma once

#include <cstdint>
#include <string>

struct SimParams;

// The stimulus (ApplyStimulus of the dynamics) holds gridZ / 20 planes, at most 4,
// on each side of the middle plane for the first steps of every period: with fewer
// than 20 planes in z, or a period of 0, it holds nothing.
bool StimulusCanAct(const SimParams& params, uint32_t period);
// Why it cannot act, for the log and the HUD; empty when it can.
std::string StimulusBlockedText(const SimParams& params, uint32_t period);
