// A network built by BuildNetwork from a preset and a seed, with its build log;
// released when it goes out of scope.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "engine/geometry.h"
#include "io/app_state.h"

struct TestNetwork {
    std::unique_ptr<AppState> state = std::make_unique<AppState>();
    std::string log;

    // `continueFrom`: draw on from that generator state instead of seeding; the
    // warm-up reads `firstStep`.
    TestNetwork(int preset, uint32_t seed, const std::function<void(SimParams&)>& tweak = {},
                const RandomGeneratorState* continueFrom = nullptr, uint32_t firstStep = 0) {
        state->stepCounter.store(firstStep);
        SetDefaultParams(state->params, 1);
        ApplyPreset(state->params, preset);
        if (tweak) tweak(state->params);
        if (continueFrom != nullptr) {
            state->random = *continueFrom;
        } else {
            state->random = RandomGeneratorState{};
            state->random.seed = seed;
        }
        testing::internal::CaptureStdout();
        BuildNetwork(*state);
        log = testing::internal::GetCapturedStdout();
    }
    ~TestNetwork() { ReleaseNetwork(*state); }
    AppState& s() { return *state; }
    const SimParams& p() const { return state->params; }
    uint32_t count() const { return state->neuronCount; }
    Neuron& operator[](uint32_t i) { return state->neurons[i]; }
    uint32_t Index(const Neuron* n) const { return static_cast<uint32_t>(n - state->neurons); }
};
