// Hand-wired networks for the dynamics tests.
//
// Sections:
//   1. TinyNetwork: neurons, synapses, lane blocks and delay lines built by hand
//   2. Test state: an AppState with default parameters and hand-set STDP tables
//
// The layout follows the network records exactly (incoming sorted by pre, outgoing
// by post and lane, lanes in incoming order per kind, lane blocks 16-byte aligned),
// so the dynamics cannot tell these networks from built ones.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/network.h"
#include "engine/params.h"
#include "io/app_state.h"
#include "platform/platform.h"

// ---- 1. TinyNetwork ----------------------------------------------------------------------------
struct TinyNetwork {
    std::vector<Neuron> neurons;
    std::vector<std::vector<Synapse>> incoming;
    std::vector<std::vector<Synapse*>> outgoing, excIn, inhIn;
    std::vector<std::vector<float>> delayV, delayFiltered;
    std::vector<void*> allocations;
    std::vector<std::vector<float>> pendingWeights;  // per neuron, per incoming (before Finish)

    // `excitatory[i]` gives the kind of neuron i, `delays[i]` its delay-line length.
    TinyNetwork(const std::vector<bool>& excitatory, const std::vector<uint32_t>& delays)
        : neurons(excitatory.size()), incoming(excitatory.size()), outgoing(excitatory.size()),
          excIn(excitatory.size()), inhIn(excitatory.size()), delayV(excitatory.size()),
          delayFiltered(excitatory.size()), pendingWeights(excitatory.size()) {
        for (size_t i = 0; i < neurons.size(); ++i) {
            Neuron& n = neurons[i];
            n = Neuron{};
            n.isExcitatory = excitatory[i] ? 1 : 0;
            n.a = excitatory[i] ? 0.02f : 0.1f;
            n.b = 0.2f;
            n.c = -65.0f;
            n.d = excitatory[i] ? 8.0f : 2.0f;
            n.v = -65.0f;
            n.u = -13.0f;
            n.vPeak = 30.0f;
            n.lastSpikeStep = -1;
            n.delayLength = delays[i];
            n.delayIndex = delays[i] - 1;
            delayV[i].assign(delays[i], 0.0f);
            delayFiltered[i].assign(delays[i], 0.0f);
            n.delayV = delayV[i].data();
            n.delayFiltered = delayFiltered[i].data();
        }
    }
    TinyNetwork(const TinyNetwork&) = delete;
    TinyNetwork& operator=(const TinyNetwork&) = delete;
    ~TinyNetwork() {
        for (void* p : allocations) plat::AlignedFree(p);
    }

    // A synapse from pre onto post with the given initial weight (call before Finish).
    void Connect(uint32_t pre, uint32_t post, float weight) {
        Synapse s{};
        s.arrivalStep = -1;
        s.pre = &neurons[pre];
        s.post = &neurons[post];
        incoming[post].push_back(s);
        pendingWeights[post].push_back(weight);
    }

    // Sorts the lists, lays out the lanes and fills the counters.
    void Finish() {
        for (size_t p = 0; p < neurons.size(); ++p) {
            std::vector<size_t> order(incoming[p].size());
            for (size_t i = 0; i < order.size(); ++i) order[i] = i;
            std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
                return incoming[p][x].pre < incoming[p][y].pre;
            });
            std::vector<Synapse> sorted;
            std::vector<float> weights;
            for (size_t i : order) {
                sorted.push_back(incoming[p][i]);
                weights.push_back(pendingWeights[p][i]);
            }
            incoming[p] = sorted;
            pendingWeights[p] = weights;
        }
        // Outgoing lists fill in post order because posts are visited in index order.
        for (size_t p = 0; p < neurons.size(); ++p) {
            Neuron& n = neurons[p];
            for (Synapse& s : incoming[p]) {
                outgoing[s.pre - neurons.data()].push_back(&s);
                (s.pre->isExcitatory ? excIn[p] : inhIn[p]).push_back(&s);
            }
            n.incoming = incoming[p].data();
            n.incomingCount = static_cast<uint32_t>(incoming[p].size());
            n.excIncoming = excIn[p].data();
            n.inhIncoming = inhIn[p].data();
            n.excIncomingCount = static_cast<uint32_t>(excIn[p].size());
            n.inhIncomingCount = static_cast<uint32_t>(inhIn[p].size());
            n.excBlocks8 = n.excIncomingCount / 8;
            n.excBlocks4 = (n.excIncomingCount % 8) / 4;
            n.excGroups = n.excIncomingCount / 4;
            n.inhBlocks8 = n.inhIncomingCount / 8;
            n.inhBlocks4 = (n.inhIncomingCount % 8) / 4;
            n.inhGroups = n.inhIncomingCount / 4;
            AllocateLanes(n.excIncomingCount, n.excLaneState, n.excLaneWeights);
            AllocateLanes(n.inhIncomingCount, n.inhLaneState, n.inhLaneWeights);
            LayOut(p, excIn[p], n.excLaneState, n.excLaneWeights);
            LayOut(p, inhIn[p], n.inhLaneState, n.inhLaneWeights);
        }
        for (size_t p = 0; p < neurons.size(); ++p) {
            neurons[p].outgoing = outgoing[p].data();
            neurons[p].outgoingCount = static_cast<uint32_t>(outgoing[p].size());
        }
    }

    // The lane-weight block and slot of a synapse.
    static float& Weight(Synapse& s) { return LaneWeights(s).weight[s.lane % 4]; }
    static float& Delta(Synapse& s) { return LaneWeights(s).weightDelta[s.lane % 4]; }
    static SynapseLaneWeights& LaneWeights(Synapse& s) {
        SynapseLaneWeights* blocks = s.pre->isExcitatory ? s.post->excLaneWeights : s.post->inhLaneWeights;
        return blocks[s.lane / 4];
    }

private:
    void AllocateLanes(uint32_t count, SynapseLaneState*& state, SynapseLaneWeights*& weights) {
        const uint32_t groups = count / 4 + ((count % 4) != 0 ? 1 : 0);
        if (groups == 0) {
            state = nullptr;
            weights = nullptr;
            return;
        }
        void* p = plat::AlignedAllocZeroed(groups * (sizeof(SynapseLaneState) + sizeof(SynapseLaneWeights)));
        allocations.push_back(p);
        state = static_cast<SynapseLaneState*>(p);
        weights = reinterpret_cast<SynapseLaneWeights*>(state + groups);
    }

    void LayOut(size_t post, std::vector<Synapse*>& list, SynapseLaneState* state,
                SynapseLaneWeights* weights) {
        for (size_t i = 0; i < list.size(); ++i) {
            Synapse& s = *list[i];
            s.lane = static_cast<uint32_t>(i);
            s.arrivedFlag = &weights[i / 4].arrived[i % 4];
            s.stateOffset = static_cast<int32_t>(reinterpret_cast<uint8_t*>(&state[i / 4]) -
                                                 reinterpret_cast<uint8_t*>(&weights[i / 4]));
            s.remainder = static_cast<uint8_t>(i / 4 < list.size() / 4 ? 0 : list.size() % 4);
            state[i / 4].available[i % 4] = 0.5f;
            state[i / 4].utilization[i % 4] = 0.5f;
            weights[i / 4].weight[i % 4] = pendingWeights[post][&s - incoming[post].data()];
        }
    }
};

// ---- 2. Test state ---------------------------------------------------------------------------------
struct TestState {
    std::unique_ptr<AppState> state = std::make_unique<AppState>();
    std::vector<float> potentiation = std::vector<float>(kStdpWindow, 0.0f);
    std::vector<float> depression = std::vector<float>(kStdpWindow, 0.0f);

    TestState() {
        RestoreDefaults(*state);
        DeriveParams(state->params);
        state->stdpPotentiation = potentiation.data();
        state->stdpDepression = depression.data();
        state->stimulusOn = 0;
    }
    std::vector<uint8_t> spiked;
    std::vector<uint32_t> firedIds;
    void Attach(TinyNetwork& net) {
        state->neurons = net.neurons.data();
        state->neuronCount = static_cast<uint32_t>(net.neurons.size());
        spiked.assign(net.neurons.size(), 0);
        state->spiked = spiked.data();
        firedIds.assign(net.neurons.size(), 0);
        state->firedIds = firedIds.data();
    }
    AppState& operator*() { return *state; }
    AppState* operator->() { return state.get(); }
};
