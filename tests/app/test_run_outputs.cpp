// Run outputs: file names per run, recording switched on and off.
#include "app/run_outputs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "engine/app_state.h"

TEST(RunOutputs, LaterFilesOfAProcessAreNumberedAndRecordingToggles) {
    EXPECT_EQ(RunFileName("/d/spikes.h5", 1), "/d/spikes.h5");
    EXPECT_EQ(RunFileName("/d/spikes.h5", 3), "/d/spikes-3.h5");
    EXPECT_EQ(RunFileName("run", 2), "run-2");

    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / (std::to_string(getpid()) + "-outputs");
    fs::create_directories(folder);
    auto state = std::make_unique<AppState>();
    RestoreDefaults(*state);
    std::strcpy(state->options.captureFolder, folder.c_str());
    auto outputs = std::make_unique<RunOutputs>();
    ASSERT_TRUE(InstallRunOutputs(*state, *outputs));
    // Without record=, the reports go to the capture folder, one file per switch-on.
    EXPECT_TRUE(ToggleRecording(*outputs));
    EXPECT_EQ(state->recordingSpikes, 1);
    EXPECT_FALSE(ToggleRecording(*outputs));
    EXPECT_EQ(state->recordingSpikes, 0);
    EXPECT_TRUE(ToggleRecording(*outputs));
    EXPECT_FALSE(ToggleRecording(*outputs));
    EXPECT_TRUE(fs::exists(folder / "vellicor-spikes.h5"));
    EXPECT_TRUE(fs::exists(folder / "vellicor-spikes-2.h5"));
    EXPECT_FALSE(outputs->failed);
    fs::remove_all(folder);
}

TEST(RunOutputs, APathIsCheckedBeforeAnythingIsBuilt) {
    std::string error;
    EXPECT_FALSE(CheckOutputPath(std::filesystem::temp_directory_path().string(), error));
    EXPECT_NE(error.find("is a folder"), std::string::npos);
    EXPECT_FALSE(CheckOutputPath("/no-such-folder/x.h5", error));
    const std::string fresh = std::filesystem::temp_directory_path() / (std::to_string(getpid()) + "-new.h5");
    EXPECT_TRUE(CheckOutputPath(fresh, error)) << error;
    EXPECT_FALSE(std::filesystem::exists(fresh));  // the check leaves nothing behind
}
