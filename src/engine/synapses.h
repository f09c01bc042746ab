// The synapse lists of a built network, whichever engine holds them: the exact
// engine's records and lane blocks, or the event engine's runs. Views, the
// weight histogram and the exports read synapses through these.
//
// Incoming synapses of a neuron are numbered 0 .. incomingCount - 1 in the order
// of their pre-synaptic neurons (then lanes); outgoing ones 0 .. outgoingCount - 1
// in the order of their post-synaptic neurons (then lanes). The counts are the
// neuron's own fields. Weights are those of a network between two steps, after
// step stepCounter - 1, with every potentiation applied (the event engine applies
// some later; see engine/event.h).
#pragma once

#include <cstdint>

struct Simulation;

uint32_t IncomingPre(const Simulation& state, uint32_t post, uint32_t k);
float IncomingWeight(const Simulation& state, uint32_t post, uint32_t k);
uint32_t OutgoingPost(const Simulation& state, uint32_t pre, uint32_t k);
