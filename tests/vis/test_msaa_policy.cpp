// Multisample negotiation against a fake window factory.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "vis/msaa_policy.h"

namespace {

struct FakeDisplay {
    const char* extensions = "GLX_ARB_create_context GLX_ARB_multisample GLX_EXT_visual_info";
    std::set<int> offered;     // formats with at least these samples exist
    int upgradeTo = 0;         // the server picks this many samples when > 0
    bool refuseMultisampled = false;
    std::vector<int> created;  // create calls
};

const char* Extensions(void* c) { return static_cast<FakeDisplay*>(c)->extensions; }
bool Offers(void* c, int32_t samples) {
    for (int n : static_cast<FakeDisplay*>(c)->offered)
        if (n >= samples) return true;
    return false;
}
int32_t Create(void* c, int32_t samples) {
    auto* d = static_cast<FakeDisplay*>(c);
    d->created.push_back(samples);
    if (samples > 0 && d->refuseMultisampled) return -1;
    if (samples > 0 && d->upgradeTo > 0) return d->upgradeTo;
    return samples;
}

struct Line {
    int level;
    std::string text;
};
void Collect(void* c, uint8_t level, const char* text) {
    static_cast<std::vector<Line>*>(c)->push_back({level, text});
}

struct Negotiation {
    MsaaOutcome outcome;
    std::vector<Line> lines;
};
Negotiation Negotiate(FakeDisplay& d, int requested) {
    Negotiation r;
    const MsaaWindowFactory factory{&d, Extensions, Offers, Create};
    const MsaaLogSink sink{&r.lines, Collect};
    r.outcome = NegotiateMultisample(requested, factory, sink, "GLX_ARB_multisample");
    return r;
}

// The lines logged, by level: 0 information, 1 warning.
std::vector<int> Levels(const Negotiation& r) {
    std::vector<int> levels;
    for (const Line& line : r.lines) levels.push_back(line.level);
    return levels;
}

TEST(MsaaPolicy, ExtensionMustBeAWholeWord) {
    EXPECT_TRUE(HasExtensionWord("GLX_ARB_multisample_x GLX_ARB_multisample", "GLX_ARB_multisample"));
    EXPECT_FALSE(HasExtensionWord("xGLX_ARB_multisample", "GLX_ARB_multisample"));
    // Without the extension: a single-sampled window, and the fallback is said.
    for (const char* extensions : {"GLX_ARB_multisample_extended GLX_EXT_foo", static_cast<const char*>(nullptr)}) {
        FakeDisplay d;
        d.extensions = extensions;
        d.offered = {4};
        const Negotiation r = Negotiate(d, 4);
        EXPECT_EQ(d.created, std::vector<int>{0});
        EXPECT_EQ(Levels(r), (std::vector<int>{0, 0}));
        EXPECT_NE(r.lines[0].text.find("unavailable"), std::string::npos) << r.lines[0].text;
    }
}

TEST(MsaaPolicy, RequestedThenTwoThenNone) {
    FakeDisplay all;
    all.offered = {16};
    Negotiation r = Negotiate(all, 16);
    EXPECT_EQ(Levels(r), (std::vector<int>{0, 0}));
    EXPECT_EQ(all.created, std::vector<int>{16});

    FakeDisplay onlyTwo;  // 16 asked, only 2 offered: a warning
    onlyTwo.offered = {2};
    r = Negotiate(onlyTwo, 16);
    EXPECT_EQ(Levels(r), std::vector<int>{1});
    EXPECT_EQ(onlyTwo.created, std::vector<int>{2});
    EXPECT_EQ(r.outcome.obtained, 2);

    FakeDisplay single;  // neither 16 nor 2: the single-sampled window stays
    r = Negotiate(single, 16);
    EXPECT_EQ(single.created, std::vector<int>{0});
}

TEST(MsaaPolicy, LogsTheSamplesObtainedAndFallsBack) {
    FakeDisplay xvfb;  // offers only 4: a request for 2 gets 4
    xvfb.offered = {4};
    xvfb.upgradeTo = 4;
    Negotiation r = Negotiate(xvfb, 2);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[1].text, "Enabled MSAA 4x antialiasing.");
    EXPECT_EQ(r.outcome.obtained, 4);

    FakeDisplay broken;  // the format is listed but the window cannot be made with it
    broken.offered = {8};
    broken.refuseMultisampled = true;
    r = Negotiate(broken, 8);
    EXPECT_EQ(broken.created, (std::vector<int>{8, 0}));
    EXPECT_TRUE(r.outcome.windowCreated);
    EXPECT_EQ(r.outcome.requested, 0);
    for (const Line& line : r.lines) EXPECT_NE(line.text.find("Enabled"), 0u) << line.text;
}

}  // namespace
