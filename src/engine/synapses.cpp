#include "engine/synapses.h"

#include "engine/event.h"
#include "engine/simulation.h"

namespace {

inline int32_t LastStep(const Simulation& state) {
    return static_cast<int32_t>(state.stepCounter.load(std::memory_order_acquire)) - 1;
}

}  // namespace

uint32_t IncomingPre(const Simulation& state, uint32_t post, uint32_t k) {
    if (const EventEngine* e = state.eventEngine) return EventPre(*e, EventIncoming(*e, post, k));
    return static_cast<uint32_t>(state.neurons[post].incoming[k].pre - state.neurons);
}

float IncomingWeight(const Simulation& state, uint32_t post, uint32_t k) {
    if (const EventEngine* e = state.eventEngine) return EventWeight(state, EventIncoming(*e, post, k), LastStep(state)).w;
    const Synapse& s = state.neurons[post].incoming[k];
    return LaneWeightsOf(s).weight[s.lane % 4];
}

uint32_t OutgoingPost(const Simulation& state, uint32_t pre, uint32_t k) {
    if (const EventEngine* e = state.eventEngine) return EventPost(e->synapses[e->runStart[pre] + k]);
    return static_cast<uint32_t>(state.neurons[pre].outgoing[k]->post - state.neurons);
}
