// Command-line switches and the processor check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cpu_check.h"
#include "app/shell.h"
#include "app/switches.h"
#include "io/app_state.h"
#include "vis/view_state.h"

namespace {

AppState& Fresh() {
    static AppState state;
    WireframeMode = false;
    ColorBufferMode = false;
    MsaaSamples = 4;
    RestoreDefaults(state);
    return state;
}

LaunchOptions Apply(AppState& state, std::vector<const char*> args) {
    args.insert(args.begin(), "vellicor");
    return ApplySwitches(static_cast<int>(args.size()), args.data(), state);
}

}  // namespace

TEST(Switches, ShortAxonDemoInAnySpelling) {
    for (const char* spelling : {"/ShortAxonDemo", "-shortaxondemo", "SHORTAXONDEMO", "xxshortaxondemoyy"}) {
        AppState& s = Fresh();
        const LaunchOptions o = Apply(s, {spelling});
        EXPECT_TRUE(o.demo) << spelling;
        EXPECT_FLOAT_EQ(s.params.excAxonLengthMax, 2.0f) << spelling;
    }
    AppState& d = Fresh();
    Apply(d, {"/ShortAxonDemo"});
    EXPECT_FLOAT_EQ(d.params.excAxonLengthMin, 0.5f);
    EXPECT_FLOAT_EQ(d.params.inhAxonLengthMax, 2.0f);
    EXPECT_FLOAT_EQ(d.params.excSynapseAxonDistance, 2.0f);
    EXPECT_EQ(d.params.randomizeExcWeights + d.params.randomizeInhWeights, 2);
    EXPECT_FLOAT_EQ(d.params.inhSynapseAxonDistance, 0.5f);  // unchanged
    AppState& s = Fresh();
    EXPECT_TRUE(Apply(s, {"demo"}).demo);
    EXPECT_FLOAT_EQ(s.params.excAxonLengthMax, 25.0f);  // demo changes no parameter
}

TEST(Switches, MultisampleLaterWinsAndOrderWithinOneArgument) {
    AppState& s = Fresh();
    Apply(s, {"msaa16x", "msaa2x"});
    EXPECT_EQ(MsaaSamples, 2);
    Fresh();
    Apply(s, {"msaa8x_msaa2x"});
    EXPECT_EQ(MsaaSamples, 8);  // 8x is tested after 2x within one argument
    Fresh();
    Apply(s, {"nothing", "at-all"});
    EXPECT_EQ(MsaaSamples, 4);
}

TEST(Switches, WireframeAndColourBuffer) {
    AppState& s = Fresh();
    Apply(s, {"/WireFrame", "-colorbuffer"});
    EXPECT_TRUE(WireframeMode);
    EXPECT_TRUE(ColorBufferMode);
    EXPECT_FLOAT_EQ(s.options.NeuronAlpha, 0.065f);
    WireframeMode = false;
}

TEST(Switches, OurSwitchesAndTheirBadValues) {
    AppState& s = Fresh();
    LaunchOptions o = Apply(s, {"headless", "seed=42", "preset=9", "threads=12", "steps=2000", "Engine=Event"});
    EXPECT_TRUE(o.headless);
    EXPECT_TRUE(o.seedGiven);
    EXPECT_EQ(o.seed, 42u);
    EXPECT_EQ(o.preset, 9);
    EXPECT_EQ(s.params.gridZ, 32u);
    EXPECT_EQ(s.params.neuronCount, 2048u);
    EXPECT_EQ(o.threads, 16u);
    EXPECT_EQ(s.params.workerThreads, 16u);
    EXPECT_EQ(s.params.autoManageThreads, 0);
    EXPECT_TRUE(o.stepsGiven);
    EXPECT_EQ(o.steps, 2000u);
    EXPECT_EQ(s.params.engineMode, EngineEvent);

    AppState& t = Fresh();
    const uint32_t threadsBefore = t.params.workerThreads;
    o = Apply(t, {"preset=99", "threads=abc", "seed=-1", "seed=0", "steps=x", "preset=", "seed=99999999999",
                  "engine=fast", "engine="});
    EXPECT_FALSE(o.seedGiven);
    EXPECT_EQ(o.preset, -1);
    EXPECT_FALSE(o.threadsGiven);
    EXPECT_FALSE(o.stepsGiven);
    EXPECT_EQ(t.params.workerThreads, threadsBefore);
    EXPECT_EQ(t.params.gridX, 32u);
    EXPECT_EQ(t.params.autoManageThreads, 1);
    EXPECT_EQ(t.params.engineMode, EngineExact);

    o = Apply(t, {"threads=1000", "preset=12", "steps=0"});
    EXPECT_EQ(t.params.workerThreads, 256u);
    EXPECT_EQ(t.options.reducedVisualization, 1);  // the row's reduced flag
    EXPECT_TRUE(o.stepsGiven);
    EXPECT_EQ(o.steps, 0u);
}

TEST(Switches, GridAndSphereSetAShapeAndBadOnesAreIgnoredWithTheReason) {
    AppState& s = Fresh();
    LaunchOptions o = Apply(s, {"preset=9", "grid=20x20x10"});
    EXPECT_TRUE(o.shapeGiven);
    EXPECT_EQ(s.params.geometryKind, GeometryBox);
    EXPECT_EQ(s.params.neuronCount, 4000u);
    EXPECT_EQ(s.params.gridZ, 10u);
    o = Apply(s, {"-Sphere=24"});
    EXPECT_EQ(s.params.geometryKind, GeometrySphere);
    EXPECT_EQ(s.params.neuronCount, 13824u);

    AppState& t = Fresh();
    testing::internal::CaptureStdout();
    o = Apply(t, {"grid=20x20", "grid=20x0x5", "grid=4096x4096x1", "sphere=300", "sphere=", "grid=1x2x3x4"});
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(o.shapeGiven);
    EXPECT_EQ(t.params.gridX, 32u);  // the default stays
    for (const char* reason : {"\"grid=20x20\": expected XxYxZ", "\"grid=20x0x5\": gridY = 0: must be 1..8388608",
                               "\"grid=4096x4096x1\": neurons = 16777216", "\"sphere=300\": gridX = 300: must be 1..203",
                               "\"sphere=\": expected a whole number", "\"grid=1x2x3x4\": expected XxYxZ"})
        EXPECT_NE(log.find(std::string("Ignoring switch ") + reason), std::string::npos) << reason << "\n" << log;
}

TEST(Switches, ArgumentsThatMatchNoSwitchAreNamedInOneWarningEach) {
    AppState& s = Fresh();
    testing::internal::CaptureStdout();
    const LaunchOptions o = Apply(s, {"--steps", "1000", "step=10", "preset:6", "-Demo", "seed=0", "engine=fast"});
    const std::string log = testing::internal::GetCapturedStdout();
    for (const char* arg : {"--steps", "1000", "step=10", "preset:6"})
        EXPECT_NE(log.find("Ignoring argument \"" + std::string(arg) + "\""), std::string::npos) << arg;
    EXPECT_EQ(log.find("\"-Demo\""), std::string::npos);               // a switch
    EXPECT_EQ(log.find("Ignoring argument \"seed=0\""), std::string::npos);  // a switch with a bad value
    EXPECT_NE(log.find("Ignoring switch \"seed=0\""), std::string::npos);
    EXPECT_NE(log.find("Ignoring switch \"engine=fast\": the engine must be exact or event."), std::string::npos);
    EXPECT_TRUE(o.demo);
    EXPECT_FALSE(o.stepsGiven);
    EXPECT_EQ(o.preset, -1);
}

TEST(Switches, CaptureFolderKeepsItsCaseAndItsWordsAreNoSwitches) {
    AppState& s = Fresh();
    const std::string defaultFolder = s.options.captureFolder;
    Apply(s, {"-capture=/tmp/My Frames"});
    EXPECT_STREQ(s.options.captureFolder, "/tmp/My Frames");
    const LaunchOptions o = Apply(s, {"CAPTURE=/srv/Demo-Headless-msaa2x-seed=5"});
    EXPECT_STREQ(s.options.captureFolder, "/srv/Demo-Headless-msaa2x-seed=5");
    EXPECT_FALSE(o.demo || o.headless || o.seedGiven);
    EXPECT_EQ(MsaaSamples, 4);
    AppState& t = Fresh();
    Apply(t, {"capture="});  // refused: the default stays
    EXPECT_EQ(std::string(t.options.captureFolder), defaultFolder);
}

TEST(Switches, HelpAndVersionAreWholeArguments) {
    AppState& s = Fresh();
    EXPECT_TRUE(Apply(s, {"--help"}).help);
    EXPECT_TRUE(Apply(s, {"-h"}).help);
    EXPECT_TRUE(Apply(s, {"--version"}).version);
    EXPECT_FALSE(Apply(s, {"-headless"}).help);
    EXPECT_TRUE(Apply(s, {"-headless"}).headless);
}

TEST(ProcessorCheck, LevelsStopAtTheFirstMissingFeature) {
    const uint32_t edxAll = (1u << 15) | (1u << 24) | (1u << 25) | (1u << 26);
    const uint32_t ecxAll = (1u << 0) | (1u << 1) | (1u << 9) | (1u << 19) | (1u << 20) | (1u << 23) |
                            (1u << 25) | (1u << 27) | (1u << 28);
    EXPECT_EQ(ProcessorLevel(ecxAll, edxAll, 6), 12);
    EXPECT_EQ(ProcessorLevel(ecxAll, edxAll, 2), 10);              // OS does not save AVX state
    EXPECT_EQ(ProcessorLevel(ecxAll & ~(1u << 25), edxAll, 6), 11);  // no AES
    EXPECT_EQ(ProcessorLevel(ecxAll & ~(1u << 28), edxAll, 6), 10);  // no AVX
    EXPECT_EQ(ProcessorLevel(ecxAll & ~(1u << 19), edxAll, 6), 6);   // no SSE4.1: 7 is skipped
    EXPECT_EQ(ProcessorLevel(ecxAll & ~(1u << 23), edxAll, 6), 8);   // no POPCNT
    EXPECT_EQ(ProcessorLevel(ecxAll, edxAll & ~(1u << 15), 6), 1);
    EXPECT_EQ(ProcessorLevel(0, 0, 0), 1);
    EXPECT_GE(RequireAvx(), 12);  // this machine runs the AVX build
}
