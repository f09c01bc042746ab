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
    bool operator==(const Line& o) const { return level == o.level && text == o.text; }
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

const std::vector<Line> kUnavailable = {
    {0, "OpenGL reports that multisample antialiasing is unavailable."},
    {0, "Reverting to legacy GL_SMOOTH smoothing for lines/polygons."}};

TEST(MsaaPolicy, ExtensionMustBeAWholeWord) {
    EXPECT_TRUE(HasExtensionWord("GLX_ARB_multisample", "GLX_ARB_multisample"));
    EXPECT_TRUE(HasExtensionWord("a GLX_ARB_multisample b", "GLX_ARB_multisample"));
    EXPECT_TRUE(HasExtensionWord("GLX_ARB_multisample_x GLX_ARB_multisample", "GLX_ARB_multisample"));
    EXPECT_FALSE(HasExtensionWord("GLX_ARB_multisamplex", "GLX_ARB_multisample"));
    EXPECT_FALSE(HasExtensionWord("xGLX_ARB_multisample", "GLX_ARB_multisample"));
    EXPECT_FALSE(HasExtensionWord(nullptr, "GLX_ARB_multisample"));

    FakeDisplay partial;
    partial.extensions = "GLX_ARB_multisample_extended GLX_EXT_foo";
    partial.offered = {4};
    Negotiation r = Negotiate(partial, 4);
    EXPECT_EQ(r.lines, kUnavailable);
    EXPECT_EQ(partial.created, std::vector<int>{0});
    EXPECT_EQ(r.outcome.requested, 0);

    FakeDisplay none;
    none.extensions = nullptr;
    r = Negotiate(none, 4);
    EXPECT_EQ(r.lines, kUnavailable);
    EXPECT_TRUE(r.outcome.windowCreated);
}

TEST(MsaaPolicy, RequestedThenTwoThenNone) {
    FakeDisplay all;
    all.offered = {16};
    Negotiation r = Negotiate(all, 16);
    EXPECT_EQ(r.lines, (std::vector<Line>{{0, "OpenGL reports MSAA antialiasing as supported."},
                                          {0, "Enabled MSAA 16x antialiasing."}}));
    EXPECT_EQ(all.created, std::vector<int>{16});

    FakeDisplay onlyTwo;  // 16 asked, only 2 offered
    onlyTwo.offered = {2};
    r = Negotiate(onlyTwo, 16);
    EXPECT_EQ(r.lines, (std::vector<Line>{{1, "MSAA 4x request failed, enabled MSAA 2x."}}));
    EXPECT_EQ(onlyTwo.created, std::vector<int>{2});
    EXPECT_EQ(r.outcome.obtained, 2);

    FakeDisplay single;  // neither 16 nor 2: the single-sampled window stays
    r = Negotiate(single, 16);
    EXPECT_EQ(r.lines, (std::vector<Line>{{1, "Trying MSAA 2x antialiasing failed!"},
                                          {1, "Forcing legacy smoothing mode (GL_SMOOTH)"}}));
    EXPECT_EQ(single.created, std::vector<int>{0});
    EXPECT_EQ(r.outcome.requested, 0);
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
