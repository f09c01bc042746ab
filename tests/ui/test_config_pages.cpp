// Configuration pages: worker-thread edit and spin, auto-management, presets and
// Cancel, Restore Defaults, the Neurons page's clamps and formats, capture quality.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "ui/config_pages.h"
#include "ui/property_grid.h"

namespace {

// A fresh record with the defaults and 8 worker threads.
struct PagesFixture : ::testing::Test {
    AppState state;
    void SetUp() override {
        RestoreDefaults(state);
        state.params.workerThreads = 8;
    }
};

void Type(SimulationPage& page, AppState& state, const char* text) {
    std::snprintf(page.workerText, sizeof page.workerText, "%s", text);
    SimPageWorkerEdited(page, state, true);
}

// Commits `text` into Neurons-page item `index` as a user would.
void Enter(PropStore& grid, int index, const char* text) {
    ASSERT_TRUE(PropOpenEditor(grid, index));
    grid.editText = text;
    ASSERT_TRUE(PropCommitEdit(grid));
}

}  // namespace

// The rounding and limits themselves are WorkerThreads' (engine); here the page's
// text follows the value.
TEST_F(PagesFixture, WorkerEditRoundsAndLimits) {
    state.params.autoManageThreads = 0;
    SimulationPage page;
    InitSimulationPage(page, state);
    Type(page, state, "12");
    EXPECT_STREQ(page.workerText, "16");
    EXPECT_EQ(state.params.workerThreads, 16u);
    // While typing, "0" is rewritten at once but "12" waits for the end of typing.
    std::strcpy(page.workerText, "0");
    SimPageWorkerEdited(page, state, false);
    EXPECT_STREQ(page.workerText, "1");
    std::strcpy(page.workerText, "12");
    SimPageWorkerEdited(page, state, false);
    EXPECT_STREQ(page.workerText, "12");
    EXPECT_EQ(state.params.workerThreads, 16u);
}

TEST_F(PagesFixture, WorkerSpinDoublesAndHalves) {
    state.params.autoManageThreads = 0;
    SimulationPage page;
    InitSimulationPage(page, state);
    Type(page, state, "4");
    SimPageWorkerSpin(page, state, true);
    EXPECT_STREQ(page.workerText, "8");
    EXPECT_EQ(state.params.workerThreads, 8u);
    SimPageWorkerSpin(page, state, false);
    SimPageWorkerSpin(page, state, false);
    EXPECT_STREQ(page.workerText, "2");
}

TEST_F(PagesFixture, AutoManageRestoresDefaultCountAndGreysControls) {
    state.params.autoManageThreads = 0;
    state.params.workerThreads = 2;
    SimulationPage page;
    InitSimulationPage(page, state);
    SimPageAutoManage(page, state, true);
    EXPECT_EQ(std::string(page.workerText), std::to_string(DefaultWorkerThreads()));
    EXPECT_EQ(state.params.autoManageThreads, 1);
    EXPECT_FALSE(page.workerControlsEnabled);
    SimPageAutoManage(page, state, false);
    EXPECT_EQ(state.params.autoManageThreads, 0);
    EXPECT_TRUE(page.workerControlsEnabled);
    // Opening the page with auto-management on resets a stale count.
    state.params.autoManageThreads = 1;
    state.params.workerThreads = 64;
    InitSimulationPage(page, state);
    EXPECT_EQ(state.params.workerThreads, DefaultWorkerThreads());
}

TEST_F(PagesFixture, PresetChoiceSetsReducedFlagOkAppliesCancelRestores) {
    SimulationPage page;
    InitSimulationPage(page, state);
    EXPECT_EQ(page.presetSelection, 6);  // "Cube (Medium)", the default
    const ConfigBackup backup = TakeConfigBackup(state);
    SimPageChoosePreset(page, state, 8);  // "Cube (Largest)": reduced at once
    EXPECT_EQ(state.options.reducedVisualization, 1);
    EXPECT_EQ(state.params.gridX, 32u);  // the row is copied only by OK
    RestoreConfigBackup(state, backup);  // Cancel
    EXPECT_EQ(state.options.reducedVisualization, 0);

    SimPageChoosePreset(page, state, 9);  // "Cuboid (Smallest)": 8 x 8 x 32 box
    SimPageApply(page, state);
    EXPECT_EQ(state.params.gridX, 8u);
    EXPECT_EQ(state.params.gridZ, 32u);
    EXPECT_EQ(state.params.neuronCount, 2048u);
    // A custom shape is a row of its own, chosen again after a preset: OK keeps it.
    ASSERT_EQ(SetNetworkShape(state.params, GeometryBox, 20, 20, 10), "");
    InitSimulationPage(page, state);
    EXPECT_EQ(page.presetSelection, -1);
    EXPECT_TRUE(page.customShape);
    EXPECT_STREQ(page.customCaption, "Custom box 20x20x10 - 4000 neurons");
    SimPageChoosePreset(page, state, 4);
    SimPageChooseCustom(page);
    SimPageApply(page, state);
    EXPECT_EQ(state.params.neuronCount, 4000u);
    EXPECT_EQ(state.params.gridZ, 10u);
}

TEST_F(PagesFixture, CancelRestoresEveryParameterAndOptionButNotLifecycle) {
    const ConfigBackup backup = TakeConfigBackup(state);
    state.params.tauAmpa = 77.0f;
    SimPageEngineMode(state, EngineEvent);
    EXPECT_EQ(state.params.engineMode, EngineEvent);
    SimPageEngineMode(state, 2);  // no such entry
    EXPECT_EQ(state.params.engineMode, EngineEvent);
    state.options.NeuronAlpha = 0.01f;
    std::strcpy(state.options.captureFolder, "/elsewhere");
    state.SimState = SimStateRunning;  // lifecycle: not part of the backup
    RestoreConfigBackup(state, backup);
    EXPECT_EQ(state.params.tauAmpa, 5.0f);
    EXPECT_EQ(state.params.engineMode, EngineExact);
    EXPECT_EQ(state.options.NeuronAlpha, 0.2f);
    EXPECT_STRNE(state.options.captureFolder, "/elsewhere");
    EXPECT_EQ(state.SimState, static_cast<uint32_t>(SimStateRunning));
}

TEST_F(PagesFixture, RestoreDefaultsKeepsLifecycleFields) {
    SimulationPage page;
    state.params.tauNmda = 3.0f;
    state.options.reducedVisualization = 1;
    state.SimState = SimStatePaused;
    state.workerCount = 3;
    state.stopRequest = 1;
    SimPageRestoreDefaults(page, state);
    EXPECT_EQ(state.params.tauNmda, 150.0f);
    EXPECT_EQ(state.options.reducedVisualization, 0);
    EXPECT_EQ(page.presetSelection, 6);
    EXPECT_EQ(state.SimState, static_cast<uint32_t>(SimStatePaused));
    EXPECT_EQ(state.workerCount, 3u);
    EXPECT_EQ(state.stopRequest, 1);
}

TEST_F(PagesFixture, NeuronsPageClampsAndWritesBack) {
    PropStore grid;
    NeuronsPage page;
    InitNeuronsPage(page, state, grid);
    Enter(grid, 5, "0.001");
    EXPECT_EQ(state.params.velocityMyelinated, 0.01f);
    EXPECT_EQ(PropGetItem(grid, 5)->text, "0.010");
    Enter(grid, 5, "500");
    EXPECT_EQ(state.params.velocityMyelinated, 100.0f);
    Enter(grid, 5, "nan");  // never stored as NaN: reads as 0, clamps to 0.01
    EXPECT_EQ(state.params.velocityMyelinated, 0.01f);

    Enter(grid, 0, "130");
    EXPECT_EQ(state.params.inhibitoryFraction, 1.0f);
    EXPECT_EQ(PropGetItem(grid, 0)->text, "100");

    Enter(grid, 2, "4294967296");  // beyond 32 bits: saturates, not wraps to 0
    EXPECT_EQ(state.params.excSynapsesMax, 255u);

    Enter(grid, 31, "0");
    EXPECT_EQ(state.params.stdpAPlus, 0.00001f);
    EXPECT_EQ(PropGetItem(grid, 31)->text, "0.000");
    Enter(grid, 29, "40");
    EXPECT_EQ(state.params.stdpTauPlus, 40.0f);
    EXPECT_EQ(state.params.stdpTauMinus, 20.0f);
}

TEST_F(PagesFixture, NeuronsPageFlagsAndPendingEditOnOk) {
    state.params.randomizeExcWeights = 1;
    PropStore grid;
    NeuronsPage page;
    InitNeuronsPage(page, state, grid);
    EXPECT_EQ(PropGetItem(grid, 17)->check, 1);
    PropToggleCheck(grid, 17);
    EXPECT_EQ(state.params.randomizeExcWeights, 0);
    PropToggleCheck(grid, 18);
    EXPECT_EQ(state.params.randomizeInhWeights, 1);
    // An edit still open when OK is pressed is committed by the page.
    ASSERT_TRUE(PropOpenEditor(grid, 19));
    grid.editText = "7.5";
    NeuronsPageApply(grid);
    EXPECT_EQ(state.params.tauAmpa, 7.5f);
    EXPECT_FALSE(grid.editorOpen);
}

TEST_F(PagesFixture, PercentageShownAsEnteredAfterReopening) {
    PropStore grid;
    NeuronsPage page;
    InitNeuronsPage(page, state, grid);
    Enter(grid, 0, "29");  // 0.29f * 100 is just below 29
    NeuronsPage again;
    PropStore grid2;
    InitNeuronsPage(again, state, grid2);
    EXPECT_EQ(PropGetItem(grid2, 0)->text, "29");
}

TEST_F(PagesFixture, CaptureQualitySlider) {
    CaptureSetPosition(state, 17);
    EXPECT_EQ(state.options.captureQuality, 85u);
    EXPECT_EQ(CaptureTrackbarPosition(84), 16);  // rounded down to the step below
    EXPECT_TRUE(CaptureSetFolder(state, "/tmp/frames"));
    EXPECT_STREQ(state.options.captureFolder, "/tmp/frames");
    EXPECT_FALSE(CaptureSetFolder(state, ""));
    EXPECT_STREQ(state.options.captureFolder, "/tmp/frames");
}

TEST_F(PagesFixture, SaveAndLoadConfigKeepTheSheetsValuesAndABadFileChangesNothing) {
    const std::string path = std::filesystem::temp_directory_path() / (std::to_string(getpid()) + "-sheet.toml");
    SimulationPage page;
    InitSimulationPage(page, state);
    SimPageChoosePreset(page, state, 9);  // selected, not yet applied by OK
    state.params.tauAmpa = 7.25f;
    EXPECT_EQ(SimPageSaveConfig(page, state, path).rfind("Saved to ", 0), 0u);

    auto loaded = std::make_unique<AppState>();
    RestoreDefaults(*loaded);
    SimulationPage loadedPage;
    InitSimulationPage(loadedPage, *loaded);
    EXPECT_EQ(SimPageLoadConfig(loadedPage, *loaded, path).rfind("Loaded from ", 0), 0u);
    EXPECT_EQ(loaded->params.tauAmpa, 7.25f);
    EXPECT_EQ(loaded->params.gridZ, GeometryPresets[9].gridZ);
    EXPECT_EQ(loadedPage.presetSelection, 9);

    // A file that fails leaves the record as it was.
    { std::ofstream(path) << "[neurons]\ntauAmpa = 9.0\ntauNmda = \"slow\"\n"; }
    const std::string message = SimPageLoadConfig(loadedPage, *loaded, path);
    std::filesystem::remove(path);
    EXPECT_NE(message.find(path + ":3: tauNmda"), std::string::npos) << message;
    EXPECT_EQ(loaded->params.tauAmpa, 7.25f);
}

TEST(FileBrowser, ThePathBoxGoesToFoldersAndTakesWhatTheModeAccepts) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / (std::to_string(getpid()) + "-browser");
    fs::create_directories(root / "sub");
    { std::ofstream(root / "a.toml") << "x"; }
    FileBrowser b;
    OpenFileBrowser(b, "t", (root / "new.toml").string(), FileBrowserSave);
    EXPECT_EQ(b.folder, root.string());
    b.extension = ".toml";
    EXPECT_EQ(BrowserSubmitPath(b, "sub"), 0);  // a folder is gone to
    EXPECT_EQ(b.folder, (root / "sub").string());
    EXPECT_EQ(BrowserSubmitPath(b, "run2"), 1);  // saving: a new name, extension added
    EXPECT_EQ(b.result, (root / "sub" / "run2.toml").string());
    EXPECT_EQ(BrowserSubmitPath(b, (root / "missing" / "x.toml").string()), 0);
    EXPECT_NE(b.error.find("No such folder"), std::string::npos);

    { std::ofstream(root / "notes.txt") << "x"; }
    OpenFileBrowser(b, "t", root.string(), FileBrowserOpen);
    ASSERT_EQ(b.entries.size(), 3u);  // "..", [sub] and a.toml: not notes.txt
    EXPECT_EQ(b.entries[2].name, "a.toml");
    EXPECT_EQ(BrowserSubmitPath(b, "b.toml"), 0);  // opening: the file must exist
    EXPECT_NE(b.error.find("No such file"), std::string::npos);
    BrowserEditPath(b, (root / "a.toml").string());  // corrected: the error goes
    EXPECT_TRUE(b.error.empty());
    EXPECT_EQ(BrowserSubmitPath(b, "a.toml"), 1);
    // One click on a folder chooses it, a double click opens it: [..] goes up one.
    EXPECT_EQ(BrowserClickEntry(b, b.entries[1], false), 0);
    EXPECT_EQ(b.folder, root.string());
    EXPECT_EQ(BrowserClickEntry(b, b.entries[1], true), 0);
    EXPECT_EQ(b.folder, (root / "sub").string());
    EXPECT_EQ(BrowserClickEntry(b, b.entries[0], true), 0);
    EXPECT_EQ(b.folder, root.string());
    EXPECT_EQ(BrowserClickEntry(b, b.entries[2], true), 1);  // a file: double click opens it
    EXPECT_EQ(b.result, (root / "a.toml").string());

    OpenFileBrowser(b, "t", root.string(), FileBrowserFolder);
    EXPECT_EQ(BrowserSubmitPath(b, b.pathText), 1);  // the folder shown, confirmed
    EXPECT_EQ(b.result, root.string());
    fs::remove_all(root);
}
