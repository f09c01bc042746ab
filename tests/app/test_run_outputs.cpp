// Run outputs: names that never overwrite an earlier file, paths checked and
// outputs on one file refused before anything is built.
#include "app/run_outputs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "io/app_state.h"

namespace fs = std::filesystem;

namespace {

fs::path Scratch(const char* name) {
    const fs::path folder = fs::temp_directory_path() / (std::to_string(getpid()) + "-" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

}  // namespace

// O without record=: each report takes the next free name in the capture folder;
// a report an earlier run left there (here, a file of another process) survives.
TEST(RunOutputs, RecordingTogglesTakeFreeNamesAndKeepEarlierFiles) {
    const fs::path folder = Scratch("outputs");
    std::ofstream(folder / "vellicor-spikes.h5") << "an earlier run's report";
    auto state = std::make_unique<AppState>();
    RestoreDefaults(*state);
    std::strcpy(state->options.captureFolder, folder.c_str());
    auto outputs = std::make_unique<RunOutputs>();
    ASSERT_TRUE(InstallRunOutputs(*state, *outputs));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(ToggleRecording(*outputs));
    EXPECT_EQ(state->recordingSpikes, 1);
    EXPECT_FALSE(ToggleRecording(*outputs));
    EXPECT_EQ(state->recordingSpikes, 0);
    EXPECT_TRUE(ToggleRecording(*outputs));
    EXPECT_FALSE(ToggleRecording(*outputs));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(fs::file_size(folder / "vellicor-spikes.h5"), std::string("an earlier run's report").size());
    EXPECT_GT(fs::file_size(folder / "vellicor-spikes-2.h5"), 0u);
    EXPECT_GT(fs::file_size(folder / "vellicor-spikes-3.h5"), 0u);
    EXPECT_NE(log.find((folder / "vellicor-spikes-3.h5").string()), std::string::npos);
    EXPECT_FALSE(outputs->failed);
    fs::remove_all(folder);
}

TEST(RunOutputs, APathIsCheckedBeforeAnythingIsBuilt) {
    const fs::path folder = Scratch("paths");
    std::string error;
    bool exists = true;
    EXPECT_FALSE(CheckOutputPath(folder.string(), error));
    EXPECT_NE(error.find("is a folder"), std::string::npos);
    EXPECT_FALSE(CheckOutputPath("/no-such-folder/x.h5", error));
    // A FIFO is refused at once (opening it for writing would wait for a reader).
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0644), 0);
    EXPECT_FALSE(CheckOutputPath((folder / "fifo").string(), error));
    EXPECT_NE(error.find("is not a regular file"), std::string::npos);
    const fs::path fresh = folder / "new.h5";
    EXPECT_TRUE(CheckOutputPath(fresh.string(), error, &exists)) << error;
    EXPECT_FALSE(exists);
    EXPECT_FALSE(fs::exists(fresh));  // the check leaves nothing behind
    std::ofstream(fresh) << "x";
    EXPECT_TRUE(CheckOutputPath(fresh.string(), error, &exists));
    EXPECT_TRUE(exists);  // the start-up says it will be overwritten
    fs::remove_all(folder);
}

// record=, export=, checkpoint= and resume= on one file, also through a symlink
// or another spelling, are refused; a checkpoint may replace the one it resumes.
TEST(RunOutputs, OutputsOnOneFileAreRefused) {
    const fs::path folder = Scratch("overlap");
    const std::string saved = (folder / "c.h5").string(), link = (folder / "link.h5").string();
    std::ofstream(saved) << "checkpoint";
    fs::create_symlink(saved, link);
    const std::string other = (folder / "spikes.h5").string();
    const std::string respelled = (folder / "." / "spikes.h5").string();
    const NamedFile resumedInto[] = {{"record=", link}, {"resume=", saved}};
    EXPECT_NE(OverlappingOutputs(resumedInto, 2).find("record= and resume= name one file"), std::string::npos);
    const NamedFile twoNew[] = {{"record=", other}, {"export=", ""}, {"checkpoint=", respelled}};
    EXPECT_NE(OverlappingOutputs(twoNew, 3).find("record= and checkpoint="), std::string::npos);
    const NamedFile distinct[] = {{"record=", other}, {"export=", (folder / "n.h5").string()},
                                  {"checkpoint=", saved}, {"resume=", link}};
    EXPECT_EQ(OverlappingOutputs(distinct, 4), "");
    fs::remove_all(folder);
}

TEST(RunOutputs, TheNoticeOfALongPathKeepsItsEnd) {
    const std::string path = "/" + std::string(300, 'd') + "/vellicor-checkpoint-42.h5";
    const std::string notice = FileNotice("Checkpoint written to", path);
    EXPECT_LE(notice.size(), 100u);
    EXPECT_EQ(notice.rfind("Checkpoint written to ...", 0), 0u);
    EXPECT_EQ(notice.substr(notice.size() - 26), "/vellicor-checkpoint-42.h5");
}
