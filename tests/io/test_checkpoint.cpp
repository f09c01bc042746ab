// Checkpoints: a resumed run is the run it continues, bit for bit, on other
// thread counts; files that cannot be resumed are refused by name.
#include "io/checkpoint.h"

#include <gtest/gtest.h>
#include <hdf5.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "engine/dynamics.h"
#include "engine/event.h"
#include "engine/work_manager.h"

namespace {

std::string TempPath(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::to_string(getpid()) + "-" + name)).string();
}

// Everything a step reads or writes, as bytes: each neuron record (pointers
// cleared), its delay lines, its synapses' arrival steps and its lane blocks whole
// (unused slots too), then the analysis (without a weight histogram the workers
// have yet to count), the stimulus switch and state.stepCounter.
std::vector<uint8_t> StateBytes(const AppState& state) {
    std::vector<uint8_t> out;
    auto add = [&out](const void* p, size_t n) {
        out.insert(out.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    };
    for (uint32_t i = 0; i < state.neuronCount; ++i) {
        const Neuron& n = state.neurons[i];
        alignas(Neuron) uint8_t record[sizeof(Neuron)];
        std::memcpy(record, &n, sizeof record);
        Neuron& copy = *reinterpret_cast<Neuron*>(record);
        copy.delayV = copy.delayFiltered = nullptr;
        copy.excLaneState = copy.inhLaneState = nullptr;
        copy.excLaneWeights = copy.inhLaneWeights = nullptr;
        copy.incoming = nullptr;
        copy.outgoing = copy.excIncoming = copy.inhIncoming = nullptr;
        add(record, sizeof record);
        add(n.delayV, n.delayLength * sizeof(float));
        add(n.delayFiltered, n.delayLength * sizeof(float));
        if (state.eventEngine != nullptr) continue;  // its synapses follow
        for (uint32_t k = 0; k < n.incomingCount; ++k) add(&n.incoming[k].arrivalStep, sizeof(int32_t));
        const uint32_t exc = (n.excIncomingCount + 3) / 4, inh = (n.inhIncomingCount + 3) / 4;
        if (exc) add(n.excLaneState, exc * (sizeof(SynapseLaneState) + sizeof(SynapseLaneWeights)));
        if (inh) add(n.inhLaneState, inh * (sizeof(SynapseLaneState) + sizeof(SynapseLaneWeights)));
    }
    if (const EventEngine* e = state.eventEngine) {  // runs, inputs (the lanes summed), histories, due bitmaps
        const uint64_t n = e->neuronCount;
        for (uint32_t i = 0; i < e->neuronCount; ++i)  // each synapse with its run's state
            for (uint64_t j = e->runStart[i]; j < e->runStart[i + 1]; ++j) {
                const EventStoredSynapse x = EventStored(e->trains[i], e->synapses[j], j - e->runStart[i]);
                add(&x, sizeof x);
            }
        for (uint32_t i = 0; i < e->neuronCount; ++i) {
            const EventInputs sum = e->input[i];
            add(&sum, sizeof sum);
        }
        add(e->history, n * sizeof(EventHistory));
        add(e->due, uint64_t{e->ringSteps} * e->ringWords * sizeof(uint64_t));
        add(e->recent, n * sizeof(EventRecent));
    }
    const ActivityAnalysis& a = state.analysis;
    add(a.SpikeHistory, kHistoryLength * sizeof(float));
    add(a.spectrum, 2 * kSpectrumLength * sizeof(float));
    add(a.power, kSpectrumLength * sizeof(float));
    add(a.peakFlags, sizeof a.peakFlags);
    if (!WeightCountPending(state.stepCounter.load())) {
        add(a.WeightHistogram, sizeof a.WeightHistogram);
        add(&a.weightTotal, sizeof a.weightTotal);
    }
    for (uint32_t value : {a.historyPosition, a.peakCount, uint32_t(state.stimulusOn), state.stepCounter.load()})
        add(&value, sizeof value);
    add(&a.powerMin, sizeof(float));
    add(&a.powerMax, sizeof(float));
    return out;
}

// Builds the network as the start sequence does, from `checkpoint` when given.
void Build(AppState& state, CheckpointReader* checkpoint) {
    state.stepCounter.store(0);
    if (checkpoint) checkpoint->PrepareBuild(state);
    BuildNetwork(state);
    std::string error;
    if (checkpoint) {
        ASSERT_TRUE(checkpoint->Restore(state, error)) << error;
    }
}

// Starts `threads` workers that park after step `target`, and waits for them.
WorkManager* Launch(AppState& state, uint32_t threads, uint32_t target) {
    WorkManager* wm = CreateWorkManager(threads, state.neuronCount);
    wm->kernels = StepKernelsFor(state);
    wm->stepTarget = target;
    EXPECT_TRUE(LaunchWorkers(state, wm, false));
    EXPECT_TRUE(wm->targetEvent.WaitFor(600000));
    EXPECT_TRUE(PauseWorkers(state, *wm));
    return wm;
}

// Parked workers run on to step `target` and park again.
void RunTo(AppState& state, WorkManager& wm, uint32_t target) {
    wm.stepTarget = target;
    ResumeWorkers(wm);
    EXPECT_TRUE(wm.targetEvent.WaitFor(600000));
    EXPECT_TRUE(PauseWorkers(state, wm));
}

void Finish(AppState& state) {
    EXPECT_TRUE(StopWorkers(state));
    ReleaseNetwork(state);
}

// Preset 9 (32 planes, so the stimulus acts) with the stimulus on and randomised
// weights (the build draws them from the generator), seed 1.
void SetUpReference(AppState& state) {
    RestoreDefaults(state);
    ApplyPreset(state.params, 9);
    state.params.randomizeExcWeights = 1;
    state.stimulusOn = 1;
    state.random = RandomGeneratorState{};
    state.random.seed = 1;
}

// Under the sanitizers a step costs some 50 times more: shorter runs there.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr uint32_t kFirst = 40, kSecond = 80, kEnd = 120;
#else
// After 1000 steps; after step 2048, whose weight histogram the workers count only
// when the next step begins; and past the spectrum of steps 0-2047.
constexpr uint32_t kFirst = 1000, kSecond = 2049, kEnd = 2200;
#endif

// One reference run per engine (0 exact, 1 event), with checkpoints at kFirst and kSecond.
class Checkpoint : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (uint8_t engine : {EngineExact, EngineEvent}) {
            AppState state;
            SetUpReference(state);
            state.params.engineMode = engine;
            Build(state, nullptr);
            WorkManager* wm = Launch(state, 1, kFirst);
            std::string error;
            EXPECT_TRUE(WriteCheckpoint(state, first_[engine], error)) << error;
            atFirst_[engine] = StateBytes(state);
            RunTo(state, *wm, kSecond);
            EXPECT_TRUE(WriteCheckpoint(state, second_[engine], error)) << error;
            atSecond_[engine] = StateBytes(state);
            RunTo(state, *wm, kEnd);
            reference_[engine] = StateBytes(state);
            Finish(state);
        }
    }
    static void TearDownTestSuite() {
        for (const std::string& path : {first_[0], first_[1], second_[0], second_[1]}) std::filesystem::remove(path);
    }

    static inline const std::string first_[2] = {TempPath("first.h5"), TempPath("first-event.h5")};
    static inline const std::string second_[2] = {TempPath("second.h5"), TempPath("second-event.h5")};
    static inline std::vector<uint8_t> atFirst_[2], atSecond_[2], reference_[2];  // the run at each point
};

TEST_F(Checkpoint, AResumedRunIsTheRunItContinuesOnOtherThreadCounts) {
    for (uint8_t engine : {EngineExact, EngineEvent}) {
        const std::pair<std::string, uint32_t> resumes[] = {{first_[engine], 2}, {second_[engine], 3}};
        for (const auto& [path, threads] : resumes) {
            AppState state;
            RestoreDefaults(state);  // another network, engine, generator, no stimulus: the file decides
            ApplyPreset(state.params, 5);
            state.params.engineMode = engine == EngineExact ? EngineEvent : EngineExact;
            state.random = RandomGeneratorState{};
            state.random.seed = 99;
            CheckpointReader reader;
            std::string error;
            ASSERT_TRUE(reader.Open(path, error)) << error;
            Build(state, &reader);
            EXPECT_FALSE(reader.IsOpen());
            EXPECT_EQ(state.params.engineMode, engine);
            // Restored exactly (values the run would soon forget too), then run on.
            EXPECT_TRUE(StateBytes(state) == (path == first_[engine] ? atFirst_[engine] : atSecond_[engine])) << path;
            Launch(state, threads, kEnd);
            const std::vector<uint8_t> resumed = StateBytes(state);
            Finish(state);
            ASSERT_EQ(resumed.size(), reference_[engine].size()) << path;
            EXPECT_TRUE(resumed == reference_[engine]) << path << " on " << threads << " threads";
        }
    }
}

// (Files of another version, truncated ones and ones that are no checkpoint are
// the Python tests' cases, damaged values too.)
TEST_F(Checkpoint, FilesThatCannotBeResumedAreRefusedByName) {
    std::string error;
    CheckpointReader reader;
    const std::string other = TempPath("damaged.h5");
    std::filesystem::copy_file(first_[0], other, std::filesystem::copy_options::overwrite_existing);
    // A dataset gone: the header reads (without engineMode too, as in files written
    // before it existed), the restore names what is missing.
    {
        const hid_t file = H5Fopen(other.c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
        H5Ldelete(file, "/synapses/lanes/weight", H5P_DEFAULT);
        H5Adelete_by_name(file, "parameters", "engineMode", H5P_DEFAULT);
        H5Fclose(file);
    }
    AppState state;
    RestoreDefaults(state);
    ASSERT_TRUE(reader.Open(other, error)) << error;
    reader.PrepareBuild(state);
    state.stepCounter.store(0);
    BuildNetwork(state);
    EXPECT_FALSE(reader.Restore(state, error));
    EXPECT_EQ(error, other + ": truncated or damaged checkpoint (cannot read /synapses/lanes/weight)");
    ReleaseNetwork(state);

    // A network other than the saved one (another generator state).
    ASSERT_TRUE(reader.Open(first_[0], error)) << error;
    reader.PrepareBuild(state);
    state.random = RandomGeneratorState{};
    state.random.seed = 2;
    state.stepCounter.store(0);
    BuildNetwork(state);
    EXPECT_FALSE(reader.Restore(state, error));
    EXPECT_EQ(error.rfind(first_[0] + ": the network rebuilt from the checkpoint's parameters is not the saved one", 0),
              0u)
        << error;
    ReleaseNetwork(state);

    // An event run's synapses of one run and slot class, which share R, with
    // different R (the first runs' synapses each get a value of their own).
    std::filesystem::copy_file(first_[1], other, std::filesystem::copy_options::overwrite_existing);
    {
        const hid_t file = H5Fopen(other.c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
        const hid_t set = H5Dopen2(file, "/event/available", H5P_DEFAULT);
        const hsize_t start = 0, count = 64;
        std::vector<float> values(count);
        for (hsize_t k = 0; k < count; ++k) values[k] = 0.1f + 0.001f * static_cast<float>(k);
        const hid_t memory = H5Screate_simple(1, &count, nullptr), space = H5Dget_space(set);
        H5Sselect_hyperslab(space, H5S_SELECT_SET, &start, nullptr, &count, nullptr);
        EXPECT_GE(H5Dwrite(set, H5T_NATIVE_FLOAT, memory, space, H5P_DEFAULT, values.data()), 0);
        H5Sclose(space);
        H5Sclose(memory);
        H5Dclose(set);
        H5Fclose(file);
    }
    AppState event;
    RestoreDefaults(event);
    ASSERT_TRUE(reader.Open(other, error)) << error;
    reader.PrepareBuild(event);
    event.stepCounter.store(0);
    BuildNetwork(event);
    EXPECT_FALSE(reader.Restore(event, error));
    EXPECT_NE(error.find("/event/available"), std::string::npos) << error;
    ReleaseNetwork(event);
    std::filesystem::remove(other);
}

}  // namespace
