// Parameter files: round trip, old files, bad input.
#include "io/param_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

// Records on zeroed storage, so that memcmp compares values, not padding.
struct Settings {
    SimParams params;
    AppOptions options;
    Settings() {
        std::memset(this, 0, sizeof *this);
        SetDefaultParams(params, 4);
        SetDefaultOptions(options);
    }
    bool operator==(const Settings& other) const {
        return std::memcmp(&params, &other.params, sizeof params) == 0 &&
               std::memcmp(&options, &other.options, sizeof options) == 0;
    }
};

ParamFileStatus Parse(const std::string& text, Settings& s) {
    return ParseParamText(text, "test.toml", s.params, s.options);
}

std::string TempPath(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::to_string(getpid()) + "-" + name)).string();
}

}  // namespace

TEST(ParamFile, SaveThenLoadGivesTheSameRecordsBitForBit) {
    auto saved = std::make_unique<Settings>();
    ApplyPreset(saved->params, 9);
    saved->params.inhibitoryFraction = 0.123456789f;  // not a whole percentage
    saved->params.tauAmpa = std::nextafter(5.0f, 6.0f);
    saved->params.stdpAPlus = 0.00001f;
    saved->params.excSynapsesMax = 200;
    saved->params.randomizeInhWeights = 1;
    saved->params.reentrantLoops = 0;
    saved->params.engineMode = EngineEvent;
    saved->params.workerThreads = 8;
    saved->options.waitVsync = 1;
    saved->options.captureQuality = 35;
    std::strcpy(saved->options.captureFolder, "/tmp/frames \"quoted\" \\ \xC3\xA9t\xC3\xA9\t");
    DeriveParams(saved->params);

    const std::string path = TempPath("roundtrip.toml");
    ASSERT_TRUE(SaveParamFile(path, saved->params, saved->options, "Vellicor test").ok);
    auto loaded = std::make_unique<Settings>();
    const ParamFileStatus status = LoadParamFile(path, loaded->params, loaded->options);
    std::filesystem::remove(path);
    ASSERT_TRUE(status.ok) << status.error;
    EXPECT_TRUE(status.warnings.empty());
    EXPECT_TRUE(*loaded == *saved);
}

TEST(ParamFile, ACustomShapeIsSavedAndLoadedAndRefusedBeyondItsLimits) {
    for (const int32_t kind : {GeometryBox, GeometrySphere}) {
        auto saved = std::make_unique<Settings>();
        const uint32_t z = kind == GeometrySphere ? 24 : 10;
        ASSERT_EQ(SetNetworkShape(saved->params, kind, 24, 24, z), "");
        DeriveParams(saved->params);
        const std::string text = FormatParamFile(saved->params, saved->options, "Vellicor test");
        auto loaded = std::make_unique<Settings>();
        const ParamFileStatus status = Parse(text, *loaded);
        ASSERT_TRUE(status.ok) << status.error;
        EXPECT_TRUE(*loaded == *saved) << text;
    }
    // After a preset: the shape keys refine it; either alone keeps the other's value.
    Settings s;
    ASSERT_TRUE(Parse("[simulation]\npreset = 4\ngrid = [8, 8, 3]\n", s).ok);
    EXPECT_EQ(s.params.neuronCount, 192u);
    ASSERT_TRUE(Parse("[simulation]\nshape = \"sphere\"\ngrid = [9, 9, 9]\n", s).ok);
    EXPECT_EQ(s.params.geometryKind, GeometrySphere);
    EXPECT_EQ(s.params.neuronCount, 729u);
    const std::pair<const char*, const char*> bad[] = {
        {"grid = [20, 20, 0]\n", "test.toml:2: grid: gridZ = 0: must be 1..8388608"},
        {"grid = [4096, 4096, 1]\n", "test.toml:2: grid: neurons = 16777216 (4096x4096x1): at most 8388608"},
        {"shape = \"sphere\"\n", "test.toml:2: shape: gridZ = 3: a sphere's grid is d x d x d"},
        {"grid = [20, 20]\n", "test.toml:2: grid: expected three whole numbers, as [x, y, z]"},
        {"grid = [20, -1, 5000000000]\n", "test.toml:2: grid: gridY = -1: must be 1..8388608"},
        {"shape = \"torus\"\n", "test.toml:2: shape: \"torus\" is not a shape (\"box\" or \"sphere\")"},
    };
    for (const auto& [text, expected] : bad) {
        const std::string custom = "[simulation]\nshape = \"box\"\ngrid = [8, 8, 3]\n";
        Settings t, before;
        ASSERT_TRUE(Parse(custom, t).ok && Parse(custom, before).ok);
        const ParamFileStatus status = Parse(std::string("[simulation]\n") + text, t);
        EXPECT_FALSE(status.ok) << text;
        EXPECT_NE(status.error.find(expected), std::string::npos) << text << " gave " << status.error;
        EXPECT_TRUE(t == before) << text;
    }
}

TEST(ParamFile, AFileSavedByAnEarlierVersionStillLoads) {
    auto defaults = std::make_unique<Settings>();
    auto loaded = std::make_unique<Settings>();
    loaded->params.tauAmpa = 77.0f;  // overwritten by the file
    const ParamFileStatus status =
        LoadParamFile(VELLICOR_TEST_DATA "/params-0.40.toml", loaded->params, loaded->options);
    ASSERT_TRUE(status.ok) << status.error;
    EXPECT_TRUE(status.warnings.empty());
    EXPECT_TRUE(*loaded == *defaults);
}

TEST(ParamFile, KeysLeftOutKeepTheirValuesAndWholePercentagesStoreAsThePageDoes) {
    Settings s;
    s.params.excD = 123.0f;
    ASSERT_TRUE(Parse("[neurons]\ninhibitoryFraction = 29\ntauNmda = 150\n", s).ok);
    EXPECT_EQ(s.params.inhibitoryFraction, 29.0f / 100.0f);
    EXPECT_EQ(s.params.tauNmda, 150.0f);
    EXPECT_EQ(s.params.nmdaStepDecay, 0.5f / 150.0f);  // derived values follow
    EXPECT_EQ(s.params.excD, 123.0f);
}

TEST(ParamFile, OutOfRangeValuesAreClampedWithAWarningNamingFileLineAndKey) {
    Settings s;
    const ParamFileStatus status =
        Parse("[neurons]\ntauAmpa = 1e300\nexcSynapsesMax = -4\n[simulation]\nworkerThreads = 6\n"
              "[capture]\ncaptureQuality = 250\n", s);
    ASSERT_TRUE(status.ok) << status.error;
    ASSERT_EQ(status.warnings.size(), 4u);
    EXPECT_EQ(s.options.captureQuality, 100u);
    EXPECT_EQ(s.params.tauAmpa, 1000.0f);
    EXPECT_EQ(s.params.excSynapsesMax, 0u);
    EXPECT_EQ(s.params.workerThreads, 8u);  // rounded as the page rounds a typed count
    std::string all;
    for (const std::string& w : status.warnings) all += w + "\n";
    EXPECT_NE(all.find("test.toml:5: workerThreads: 6 is not a power of two"), std::string::npos) << all;
    EXPECT_NE(all.find("test.toml:2: tauAmpa: "), std::string::npos) << all;
    EXPECT_NE(all.find("test.toml:3: excSynapsesMax: -4 is outside 0..255; using 0"), std::string::npos) << all;
    // A checkpoint's parameters meet the same limits, refused in the same words.
    EXPECT_EQ(ParamOutsideLimits(s.params), "");
    s.params.tauAmpa = std::nextafter(1000.0f, 2000.0f);
    EXPECT_EQ(ParamOutsideLimits(s.params), "tauAmpa: 1000.00006 is outside 1.0..1000.0");
    EXPECT_NE(all.find("test.toml:7: captureQuality: 250 is outside 0..100; using 100"), std::string::npos) << all;
}

TEST(ParamFile, ABadFileNamesFileLineAndKeyAndChangesNothing) {
    struct Case {
        const char* text;
        const char* expected;  // part of the error
    };
    const Case cases[] = {
        {"[neurons]\ntauAmpa = 5.0\ntauNmda = = 3\n", "test.toml:5"},
        {"[neurons]\ntauAmpa = 5.0\ntauAmpx = 3.0\n", "test.toml:5: [neurons] tauAmpx: unknown key"},
        {"[neurons]\ntauAmpa = \"fast\"\n", "test.toml:4: tauAmpa: expected a number"},
        {"[neurons]\ntauAmpa = nan\n", "tauAmpa: expected a number, not nan"},
        {"[neurons]\nrandomizeExcWeights = 1\n", "expected true or false"},
        {"preset = 13\n", "preset: 13 is not a network shape"},
        {"engine = \"fast\"\n", "test.toml:3: engine: \"fast\" is not an engine (\"exact\" or \"event\")"},
        {"engine = 1\n", "engine: expected \"exact\" or \"event\""},
        {"[capture]\ncaptureFolder = \"\"\n", "captureFolder: the folder name is empty"},
        {"[display]\nx = 1\n", "display: unknown table"},
    };
    for (const Case& c : cases) {
        auto before = std::make_unique<Settings>();
        auto s = std::make_unique<Settings>();
        // A good key first ([simulation] is read first): it must not be stored when a
        // later one fails.
        const ParamFileStatus status = Parse(std::string("[simulation]\nidlePriority = true\n") + c.text, *s);
        EXPECT_FALSE(status.ok) << c.text;
        EXPECT_NE(status.error.find(c.expected), std::string::npos) << c.text << " gave " << status.error;
        EXPECT_TRUE(*s == *before) << c.text;
    }
}
