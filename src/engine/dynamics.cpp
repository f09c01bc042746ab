// Placeholder update until the dynamics land: keeps the state as it is.
#include "engine/dynamics.h"

#include "engine/app_state.h"

void UpdateChunk(AppState& state, uint32_t first, uint32_t end) {
    for (uint32_t i = first; i < end; ++i) {
        state.neurons[i].vNext = state.neurons[i].v;
        state.neurons[i].uNext = state.neurons[i].u;
    }
}
