// The capture=DIR switch: the folder keeps its case and replaces the default.
#include <gtest/gtest.h>

#include <string>

#include "app/shell.h"
#include "app/switches.h"
#include "engine/app_state.h"
#include "vis/view_state.h"

namespace {

TEST(CaptureSwitch, SetsTheFolderKeepingItsCase) {
    static AppState state;
    RestoreDefaults(state);
    const std::string defaultFolder = state.options.captureFolder;
    {
        const char* argv[] = {"vellicor", "-capture=/tmp/My Frames"};
        ApplySwitches(2, argv, state);
        EXPECT_STREQ(state.options.captureFolder, "/tmp/My Frames");
    }
    {
        RestoreDefaults(state);
        const char* argv[] = {"vellicor", "CAPTURE=/tmp/Upper"};
        ApplySwitches(2, argv, state);
        EXPECT_STREQ(state.options.captureFolder, "/tmp/Upper");
    }
    {
        // Words inside the folder are no switches.
        RestoreDefaults(state);
        const char* argv[] = {"vellicor", "capture=/srv/Demo-Headless-msaa2x-seed=5"};
        const LaunchOptions o = ApplySwitches(2, argv, state);
        EXPECT_STREQ(state.options.captureFolder, "/srv/Demo-Headless-msaa2x-seed=5");
        EXPECT_FALSE(o.demo);
        EXPECT_FALSE(o.headless);
        EXPECT_FALSE(o.seedGiven);
        EXPECT_EQ(MsaaSamples, 4);
    }
    {
        // An empty folder is refused and the default stays.
        RestoreDefaults(state);
        const char* argv[] = {"vellicor", "capture="};
        ApplySwitches(2, argv, state);
        EXPECT_EQ(std::string(state.options.captureFolder), defaultFolder);
    }
}

}  // namespace
