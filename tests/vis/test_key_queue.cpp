// Key presses queued between command passes: each press acts once, a held key
// repeats as before, releases wait until the commands have seen the press.
#include <gtest/gtest.h>

#include <cstring>

#include "vis/key_queue.h"

namespace {

struct Round {
    KeyPressQueue queue{};
    uint8_t table[256]{};
};

// Stands in for a command that acts only while it can, as Up does at the last
// slice: counts the passes that saw 'U' down and clears it only while allowed.
struct Limited {
    int acted = 0;
    bool allowed = true;
};
void LimitedCommand(uint8_t* table, void* context) {
    auto* c = static_cast<Limited*>(context);
    if (table['U'] && c->allowed) {
        ++c->acted;
        table['U'] = 0;
    }
}

}  // namespace

TEST(KeyQueue, HeldKeyRepeatsOncePerRoundAndStopsOnRelease) {
    Limited c;
    Round r;
    QueueKeyPress(r.queue, 'U');
    for (int i = 0; i < 5; ++i) QueueKeyRepeat(r.queue, 'U');  // repeats of one round merge
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(c.acted, 1);
    QueueKeyRepeat(r.queue, 'U');
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(c.acted, 2);
    // Released: the next rounds do nothing.
    QueueKeyRelease(r.queue, 'U');
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(c.acted, 2);
}

TEST(KeyQueue, KeyThatCannotActStaysDownUntilReleased) {
    Limited c;
    c.allowed = false;
    Round r;
    QueueKeyPress(r.queue, 'U');
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(r.table['U'], 1);
    // Later rounds retry it without a new event, and it acts once it can.
    c.allowed = true;
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(c.acted, 1);
    // A key released before it could act is dropped...
    c.allowed = false;
    QueueKeyPress(r.queue, 'U');
    QueueKeyRelease(r.queue, 'U');
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(r.table['U'], 0);
    // ...but a tap followed by a press held down in the same batch stays down.
    QueueKeyPress(r.queue, 'U');
    QueueKeyRelease(r.queue, 'U');
    QueueKeyPress(r.queue, 'U');
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(r.table['U'], 1);
    // Slots outside the table are ignored.
    QueueKeyPress(r.queue, -1);
    QueueKeyPress(r.queue, 256);
    EXPECT_FALSE(TakeKeyPresses(r.queue, r.table));
}
