// View snapshot tests: frames read on another thread while the network steps on
// worker threads hold exactly the values of one completed step, and the inspected
// neuron's trace holds one sample per step up to it (and ThreadSanitizer sees no
// race between the reader and the workers); a frame filled while the workers are
// parked carries the inspected neuron's details.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "engine/dynamics.h"
#include "engine/random.h"
#include "engine/view_snapshot.h"
#include "engine/work_manager.h"
#include "io/app_state.h"

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr uint32_t kSteps = 80;
#else
constexpr uint32_t kSteps = 400;
#endif

// Preset 9 (2048 neurons), seed 1, stimulus on: the network of the determinism test.
std::unique_ptr<AppState> BuildPreset9() {
    auto state = std::make_unique<AppState>();
    RestoreDefaults(*state);
    ApplyPreset(state->params, 9);
    state->stimulusOn = 1;
    state->random = RandomGeneratorState{};
    state->random.seed = 1;
    state->stepCounter.store(0);
    BuildNetwork(*state);
    return state;
}

// v and vEnvelopeView of every neuron, and the traced values of one, after each
// step count 0..kSteps, one thread.
struct Reference {
    std::vector<std::vector<float>> v, envelope;
    std::vector<TraceSample> traced;
};
Reference RunReference(uint32_t inspected) {
    auto state = BuildPreset9();
    Reference r;
    for (uint32_t s = 0;; ++s) {
        const Neuron& n = state->neurons[inspected];
        r.traced.push_back(TraceSample{{n.v, n.u, n.gAmpa, n.gNmda, n.gGabaA, n.gGabaB}});
        std::vector<float> v(state->neuronCount), e(state->neuronCount);
        for (uint32_t i = 0; i < state->neuronCount; ++i) {
            v[i] = state->neurons[i].v;
            e[i] = state->neurons[i].vEnvelopeView;
        }
        r.v.push_back(std::move(v));
        r.envelope.push_back(std::move(e));
        if (s == kSteps) break;
        StepNetwork(*state);
    }
    ReleaseNetwork(*state);
    return r;
}

bool SameBits(const float* a, const std::vector<float>& b) {
    return std::memcmp(a, b.data(), b.size() * sizeof(float)) == 0;
}

TEST(ViewSnapshot, FramesTakenWhileTwoWorkersStepHoldOneCompletedStep) {
    const uint32_t inspected = 1000;
    const Reference reference = RunReference(inspected);
    auto state = BuildPreset9();
    WorkManager* wm = CreateWorkManager(2, state->neuronCount);
    wm->stepTarget = kSteps;
    ASSERT_TRUE(LaunchWorkers(*state, wm, false));
    ViewSnapshot& snapshot = *state->viewSnapshot;
    constexpr uint32_t kTraceWanted = 40;
    SetViewTraceLength(snapshot, kTraceWanted);

    // The reader asks and takes, as the render thread does, until the workers park.
    // The trace's last sample is the frame's step, each one before it the step before.
    std::atomic<bool> done{false};
    uint32_t frames = 0, wrong = 0, lastStep = 0xFFFFFFFFu, wrongTraces = 0, longestTrace = 0;
    std::thread reader([&] {
        while (!done.load()) {
            RequestViewFrame(snapshot, inspected);
            const ViewFrame& f = AcquireViewFrame(snapshot);
            if (f.step == lastStep) continue;
            lastStep = f.step;
            ++frames;
            if (f.step > kSteps || !SameBits(f.v, reference.v[f.step]) ||
                !SameBits(f.envelope, reference.envelope[f.step]))
                ++wrong;
            else if (f.inspected == inspected && f.record.v != f.v[inspected])
                ++wrong;
            if (f.step > kSteps || f.traceCount > kTraceWanted || f.traceCount > f.step) {
                ++wrongTraces;
                continue;
            }
            if (f.traceCount > longestTrace) longestTrace = f.traceCount;
            for (uint32_t i = 0; i < f.traceCount; ++i)
                wrongTraces += std::memcmp(&f.trace[i], &reference.traced[f.step - (f.traceCount - 1 - i)],
                                           sizeof(TraceSample)) != 0;
        }
    });
    ASSERT_TRUE(wm->targetEvent.WaitFor(600000));
    ASSERT_TRUE(PauseWorkers(*state, *wm));
    done.store(true);
    reader.join();
    EXPECT_GT(frames, 1u);
    EXPECT_EQ(wrong, 0u) << "of " << frames << " frames";
    EXPECT_EQ(wrongTraces, 0u);
    EXPECT_EQ(longestTrace, kTraceWanted);

    // Parked: the reader may fill a frame itself, with the inspected neuron's details.
    ASSERT_TRUE(WorkersParked(*wm));
    ParkedViewFrame(*state, *wm, inspected);
    const ViewFrame& f = AcquireViewFrame(snapshot);
    EXPECT_EQ(f.step, kSteps);
    ASSERT_EQ(f.traceCount, kTraceWanted);
    EXPECT_EQ(0, std::memcmp(&f.trace[kTraceWanted - 1], &reference.traced[kSteps], sizeof(TraceSample)));
    EXPECT_TRUE(SameBits(f.v, reference.v[kSteps]));
    const Neuron& n = state->neurons[inspected];
    ASSERT_EQ(f.inspected, inspected);
    EXPECT_EQ(f.record.spikeCount, n.spikeCount);
    EXPECT_EQ(f.record.lastSpikeStep, n.lastSpikeStep);
    EXPECT_EQ(f.record.delayIndex, n.delayIndex);
    EXPECT_EQ(0, std::memcmp(f.record.delayFiltered, n.delayFiltered, n.delayLength * sizeof(float)));
    EXPECT_EQ(f.record.excLaneWeights, nullptr);  // nothing live to read by mistake
    ASSERT_GT(n.incomingCount, 0u);
    uint32_t wrongIncoming = 0;
    for (uint32_t i = 0; i < n.incomingCount; ++i) {
        const Synapse& syn = n.incoming[i];
        const Neuron& pre = *syn.pre;
        const SynapseLaneWeights* lanes = pre.isExcitatory ? n.excLaneWeights : n.inhLaneWeights;
        const ViewIncoming& in = f.incoming[i];
        wrongIncoming += in.preV != pre.v || in.preDelayIndex != pre.delayIndex ||
                         in.weight != lanes[syn.lane / 4].weight[syn.lane % 4] ||
                         std::memcmp(f.filtered + in.filteredOffset, pre.delayFiltered,
                                     pre.delayLength * sizeof(float)) != 0;
    }
    EXPECT_EQ(wrongIncoming, 0u);
    // The history copy is the live one.
    EXPECT_EQ(f.analysis.historyPosition, state->analysis.historyPosition);
    EXPECT_EQ(0, std::memcmp(f.analysis.SpikeHistory, state->analysis.SpikeHistory, kHistoryLength * sizeof(float)));

    // Another neuron, or a reset, starts its trace afresh at the next step.
    ParkedViewFrame(*state, *wm, inspected + 1);
    EXPECT_EQ(AcquireViewFrame(snapshot).traceCount, 0u);
    RecordViewTrace(*state, snapshot);
    ParkedViewFrame(*state, *wm, inspected + 1);
    EXPECT_EQ(AcquireViewFrame(snapshot).traceCount, 1u);
    ResetViewTrace(snapshot);
    RecordViewTrace(*state, snapshot);
    ParkedViewFrame(*state, *wm, inspected + 1);
    EXPECT_EQ(AcquireViewFrame(snapshot).traceCount, 1u);

    EXPECT_TRUE(StopWorkers(*state));
    EXPECT_EQ(state->viewSnapshot, nullptr);
    ReleaseNetwork(*state);
}

}  // namespace
