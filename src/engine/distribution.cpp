// What one process of a distributed run holds for the others: the per-neuron state
// of its share, region by region (engine/simulation.h, section 3).
#include <cstddef>

#include "engine/event.h"
#include "engine/simulation.h"

void VisitShareState(Simulation& sim, uint32_t first, uint32_t end, ShareStateVisitor visit, void* context) {
    const auto region = [&](void* data, size_t bytes) {
        if (bytes != 0) visit(context, data, bytes);
    };
    for (uint32_t i = first; i < end; ++i) {
        Neuron& n = sim.neurons[i];
        region(&n.v, offsetof(Neuron, delayLength) - offsetof(Neuron, v));  // v .. vEnvelopeView
        region(&n.delayIndex, sizeof n.delayIndex + sizeof n.lastFiltered);
        region(&n.lastSpikeStep, sizeof n.lastSpikeStep);
        region(&n.isHeld, sizeof n.isHeld);
        region(&n.gAmpa, 4 * sizeof(float));  // the four conductances
        region(&n.spikeCount, sizeof n.spikeCount);
    }
    if (EventEngine* e = sim.eventEngine) {
        region(e->input + first, (end - first) * sizeof(EventInputs));
        region(e->history + first, (end - first) * sizeof(EventHistory));
        region(e->recent + first, (end - first) * sizeof(EventRecent));
        const uint32_t firstWord = first / 64, endWord = (end + 63) / 64;
        for (uint32_t r = 0; r < e->ringSteps; ++r)
            region(e->due + uint64_t{r} * e->ringWords + firstWord, (endWord - firstWord) * sizeof(uint64_t));
    }
}
