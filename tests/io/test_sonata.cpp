// SONATA files: spike reports appended in chunks, the network export value for
// value, each read back in the type it has on disk. (The Python tests read the
// program's own files as a user would.)
#include "io/sonata.h"
#include "io/spike_recorder.h"

#include <gtest/gtest.h>
#include <hdf5.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "engine/network.h"
#include "engine/random.h"
#include "io/app_state.h"

namespace {

std::string TempPath(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::to_string(getpid()) + "-" + name)).string();
}

// The whole one-dimensional dataset, which must be stored as `fileType`.
template <typename T>
std::vector<T> ReadAll(hid_t file, const char* path, hid_t fileType, hid_t memType) {
    const hid_t set = H5Dopen2(file, path, H5P_DEFAULT);
    const hid_t type = H5Dget_type(set);
    EXPECT_GT(H5Tequal(type, fileType), 0) << path << " has another type on disk";
    const hid_t space = H5Dget_space(set);
    hsize_t n = 0;
    H5Sget_simple_extent_dims(space, &n, nullptr);
    std::vector<T> out(n);
    H5Dread(set, memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, out.data());
    H5Sclose(space);
    H5Tclose(type);
    H5Dclose(set);
    return out;
}

std::vector<double> Timestamps(hid_t file) {
    return ReadAll<double>(file, "/spikes/vellicor/timestamps", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE);
}

std::vector<uint64_t> NodeIds(hid_t file) {
    return ReadAll<uint64_t>(file, "/spikes/vellicor/node_ids", H5T_STD_U64LE, H5T_NATIVE_UINT64);
}

}  // namespace

TEST(SpikeReport, BatchesAcrossChunksReadBackInOrder) {
    const std::string path = TempPath("spikes.h5");
    std::string error;
    {
        SpikeReportWriter writer;
        ASSERT_TRUE(writer.Create(path, error)) << error;
        std::vector<double> times;
        std::vector<uint64_t> ids;
        for (uint64_t i = 0; i < 40000; ++i) {
            times.push_back(0.5 * static_cast<double>(i / 7));
            ids.push_back(i % 7);
        }
        // Three batches of unequal size, the middle one larger than a chunk.
        const size_t cuts[4] = {0, 100, 30100, 40000};
        for (int b = 0; b < 3; ++b)
            ASSERT_TRUE(writer.Append(times.data() + cuts[b], ids.data() + cuts[b], cuts[b + 1] - cuts[b], error));
        ASSERT_TRUE(writer.Flush(error));
        EXPECT_EQ(writer.SpikeCount(), 40000u);
        ASSERT_TRUE(writer.Close(error)) << error;
    }
    const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    ASSERT_GE(file, 0);
    const auto times = Timestamps(file);
    const auto ids = NodeIds(file);
    ASSERT_EQ(times.size(), 40000u);
    ASSERT_EQ(ids.size(), 40000u);
    EXPECT_EQ(times[30099], 0.5 * (30099 / 7));
    EXPECT_EQ(ids[39999], 39999u % 7);
    H5Fclose(file);
    std::filesystem::remove(path);
}

// A recorder started, stopped and started again writes each report on its own.
TEST(SpikeRecorder, ASecondReportHoldsOnlyItsOwnSpikes) {
    const std::string first = TempPath("first.h5"), second = TempPath("second.h5");
    std::string error;
    SpikeRecorder recorder;
    std::vector<uint32_t> ids(64);
    for (uint32_t i = 0; i < 64; ++i) ids[i] = i;
    ASSERT_TRUE(recorder.Start(first, error)) << error;
    recorder.OnStep(0, ids.data(), 64);
    ASSERT_TRUE(recorder.Stop(error)) << error;
    recorder.OnStep(1, ids.data(), 64);  // not recording: nowhere
    ASSERT_TRUE(recorder.Start(second, error)) << error;
    recorder.OnStep(2, ids.data(), 32);
    ASSERT_TRUE(recorder.Stop(error)) << error;
    const hid_t file = H5Fopen(second.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    ASSERT_GE(file, 0);
    const auto times = Timestamps(file);
    H5Fclose(file);
    std::filesystem::remove(first);
    std::filesystem::remove(second);
    ASSERT_EQ(times.size(), 32u);
    EXPECT_EQ(times.front(), 1.0);
}

TEST(SpikeRecorder, EverySpikeOfEveryStepReachesTheFileEvenWhenTheRingFills) {
    const std::string path = TempPath("recorded.h5");
    std::string error;
    SpikeRecorder recorder(4096);  // far smaller than the spikes of one step
    ASSERT_TRUE(recorder.Start(path, error)) << error;
    // 600 steps of 4096 neurons, every third firing.
    std::vector<uint32_t> ids;
    uint64_t expected = 0;
    for (uint32_t step = 0; step < 600; ++step) {
        ids.clear();
        for (uint32_t i = 0; i < 4096; ++i)
            if ((i + step) % 3 == 0) ids.push_back(i);
        expected += ids.size();
        recorder.OnStep(step, ids.data(), static_cast<uint32_t>(ids.size()));
    }
    ASSERT_TRUE(recorder.Stop(error)) << error;
    EXPECT_EQ(recorder.Recorded(), expected);
    const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    ASSERT_GE(file, 0);
    const auto times = Timestamps(file);
    const auto stored = NodeIds(file);
    H5Fclose(file);
    std::filesystem::remove(path);
    ASSERT_EQ(stored.size(), expected);
    for (size_t k = 1; k < times.size(); ++k) ASSERT_LE(times[k - 1], times[k]) << k;
    EXPECT_EQ(times.back(), 0.5 * 599);
    EXPECT_EQ((stored.back() + 599) % 3, 0u);
}

// Every synapse is one edge, by target: its source, its weight, and its delay in
// ms (the source's delay line in steps of 0.5 ms), in the types the readers expect.
TEST(NetworkExport, EveryEdgeHoldsItsSynapsesValuesInMilliseconds) {
    auto state = std::make_unique<AppState>();
    RestoreDefaults(*state);
    ApplyPreset(state->params, 4);
    state->params.randomizeExcWeights = 1;  // weights that differ from edge to edge
    state->random = SeededRandom(5);
    testing::internal::CaptureStdout();
    ASSERT_EQ(BuildNetwork(*state), "");
    testing::internal::GetCapturedStdout();
    const std::string path = TempPath("network.h5");
    std::string error;
    ASSERT_TRUE(ExportNetwork(*state, path, error)) << error;
    const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    ASSERT_GE(file, 0);
    const char* edges = "/edges/vellicor__vellicor/";
    auto column = [&](const char* name) { return std::string(edges) + name; };
    const auto source = ReadAll<uint64_t>(file, column("source_node_id").c_str(), H5T_STD_U64LE, H5T_NATIVE_UINT64);
    const auto target = ReadAll<uint64_t>(file, column("target_node_id").c_str(), H5T_STD_U64LE, H5T_NATIVE_UINT64);
    const auto delay = ReadAll<float>(file, column("0/delay").c_str(), H5T_IEEE_F32LE, H5T_NATIVE_FLOAT);
    const auto weight = ReadAll<float>(file, column("0/syn_weight").c_str(), H5T_IEEE_F32LE, H5T_NATIVE_FLOAT);
    const auto receptor = ReadAll<uint8_t>(file, column("0/receptor").c_str(), H5T_STD_U8LE, H5T_NATIVE_UINT8);
    const auto kind = ReadAll<uint8_t>(file, "/nodes/vellicor/0/kind", H5T_STD_U8LE, H5T_NATIVE_UINT8);
    H5Fclose(file);
    std::filesystem::remove(path);
    size_t edge = 0;
    bool delaysVary = false;
    for (uint32_t i = 0; i < state->neuronCount; ++i) {
        const Neuron& post = state->neurons[i];
        ASSERT_EQ(kind[i], post.isExcitatory);
        for (uint32_t k = 0; k < post.incomingCount; ++k, ++edge) {
            ASSERT_LT(edge, source.size());
            const Synapse& s = post.incoming[k];
            const SynapseLaneWeights* lanes = s.pre->isExcitatory ? post.excLaneWeights : post.inhLaneWeights;
            ASSERT_EQ(source[edge], static_cast<uint64_t>(s.pre - state->neurons)) << edge;
            ASSERT_EQ(target[edge], i) << edge;
            ASSERT_EQ(delay[edge], 0.5f * static_cast<float>(s.pre->delayLength)) << edge;
            ASSERT_EQ(weight[edge], lanes[s.lane / 4].weight[s.lane % 4]) << edge;
            ASSERT_EQ(receptor[edge], s.pre->isExcitatory ? 0 : 1) << edge;
            delaysVary = delaysVary || delay[edge] != delay[0];
        }
    }
    EXPECT_EQ(edge, source.size());
    EXPECT_TRUE(delaysVary);
    ReleaseNetwork(*state);
}
