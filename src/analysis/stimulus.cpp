// Whether the regular stimulus can act on a grid, and why not.
#include "analysis/stimulus.h"

#include <cstdio>

#include "engine/params.h"

bool StimulusCanAct(const SimParams& params, uint32_t period) {
    return period != 0 && params.gridZ >= 20 && params.gridX != 0 && params.gridY != 0;
}

std::string StimulusBlockedText(const SimParams& params, uint32_t period) {
    if (StimulusCanAct(params, period)) return {};
    char text[160];
    if (period == 0)
        std::snprintf(text, sizeof text, "The regular stimulus cannot act: its period is 0 steps.");
    else if (params.gridZ < 20)
        std::snprintf(text, sizeof text,
                      "The regular stimulus cannot act: it needs at least 20 planes in z, this grid has %u.",
                      static_cast<unsigned>(params.gridZ));
    else
        std::snprintf(text, sizeof text, "The regular stimulus cannot act: the grid is empty.");
    return text;
}
