// Key presses queued between command passes: each press acts once, a held camera
// key repeats, a held toggle does not, releases wait until the commands have seen
// the press.
#include <gtest/gtest.h>

#include <cstring>

#include <GLFW/glfw3.h>

#include "vis/key_map.h"
#include "vis/key_queue.h"

namespace {

struct Round {
    KeyPressQueue queue{};
    uint8_t table[256]{};
};

constexpr int kUp = 38;

// Stands in for a command that acts only while it can, as Up does at the last
// slice: counts the passes that saw Up down and clears it only while allowed; and
// for the toggle O, which always acts.
struct Limited {
    int acted = 0;
    int toggled = 0;
    bool allowed = true;
};
void LimitedCommand(uint8_t* table, void* context) {
    auto* c = static_cast<Limited*>(context);
    if (table[kUp] && c->allowed) {
        ++c->acted;
        table[kUp] = 0;
    }
    if (table['O']) {
        ++c->toggled;
        table['O'] = 0;
    }
}

}  // namespace

TEST(KeyQueue, HeldCameraKeyRepeatsOncePerRoundHeldToggleActsOnce) {
    Limited c;
    Round r;
    QueueKeyPress(r.queue, kUp);
    QueueKeyPress(r.queue, 'O');
    for (int i = 0; i < 5; ++i) {  // repeats of one round merge
        QueueKeyRepeat(r.queue, kUp);
        QueueKeyRepeat(r.queue, 'O');
    }
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(c.acted, 1);
    for (int round = 0; round < 3; ++round) {
        QueueKeyRepeat(r.queue, kUp);
        QueueKeyRepeat(r.queue, 'O');
        RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    }
    EXPECT_EQ(c.acted, 4);
    EXPECT_EQ(c.toggled, 1);  // auto-repeat of a toggle is no press
    // Released: the next rounds do nothing; a new press of O acts again.
    QueueKeyRelease(r.queue, kUp);
    QueueKeyRelease(r.queue, 'O');
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(c.acted, 4);
    QueueKeyPress(r.queue, 'O');
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(c.toggled, 2);
}

TEST(KeyQueue, KeyThatCannotActStaysDownUntilReleased) {
    Limited c;
    c.allowed = false;
    Round r;
    QueueKeyPress(r.queue, kUp);
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(r.table[kUp], 1);
    // Later rounds retry it without a new event, and it acts once it can.
    c.allowed = true;
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(c.acted, 1);
    // A key released before it could act is dropped...
    c.allowed = false;
    QueueKeyPress(r.queue, kUp);
    QueueKeyRelease(r.queue, kUp);
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(r.table[kUp], 0);
    // ...but a tap followed by a press held down in the same batch stays down.
    QueueKeyPress(r.queue, kUp);
    QueueKeyRelease(r.queue, kUp);
    QueueKeyPress(r.queue, kUp);
    RunKeyPasses(r.queue, r.table, LimitedCommand, &c);
    EXPECT_EQ(r.table[kUp], 1);
    // Slots outside the table are ignored.
    QueueKeyPress(r.queue, -1);
    QueueKeyPress(r.queue, 256);
    EXPECT_FALSE(TakeKeyPresses(r.queue, r.table));
}

TEST(KeyMap, FunctionKeyOneIsNotTheAliasOfP) {
    EXPECT_EQ(GlfwKeyToVirtualKey(GLFW_KEY_F1), 254);  // never 112, the slot of 'p'
    EXPECT_EQ(GlfwKeyToVirtualKey(GLFW_KEY_WORLD_1), -1);
}
