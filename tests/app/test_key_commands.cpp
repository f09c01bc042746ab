// Key command table against a recorded environment: task starts, exit answers,
// capture style and toolbox calls are recorded by a fake host instead of acting.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "analysis/stimulus.h"
#include "app/key_commands.h"
#include "app/lifecycle.h"
#include "app/shell.h"
#include "engine/dynamics.h"
#include "engine/network.h"
#include "io/app_state.h"
#include "platform/platform.h"
#include "vis/key_queue.h"
#include "vis/view_state.h"

namespace {

// Records what the commands ask of the window, the toolbox and the lifecycle.
struct Recorded final : KeyCommandHost {
    std::vector<void (*)(ToolboxTask*)> tasks;
    int questions = 0;
    QuestionAnswer answer = AnswerCancel;
    std::vector<bool> styles;
    int markDirty = 0;
    bool toolbox = false;  // whether there is one
    bool toolboxVisible = true;
    int toolboxShows = 0;

    bool StartTask(void (*task)(ToolboxTask*), AppState&) override {
        tasks.push_back(task);
        return true;
    }
    QuestionAnswer AskExit(void*) override {
        ++questions;
        return answer;
    }
    void ApplyCaptureStyle(void*, bool on) override { styles.push_back(on); }
    void ToggleToolbox() override {
        if (!toolbox) return;
        ++toolboxShows;
        toolboxVisible = !toolboxVisible;
    }
};

class KeyCommands : public ::testing::Test {
protected:
    void SetUp() override {
        SceneOrderDirty.store(false);
        std::memset(keys, 0, sizeof keys);
        state.params.gridX = 32;
        state.params.gridY = 32;
        state.params.gridZ = 32;
        state.SimState = SimStateNone;
        state.stimulusOn = 0;
        state.stimulusPeriod = 100;
        QuitRequested.store(false);
        RenderStop.store(false);
        HelpShown.store(false);
        AnalysisShown.store(false);
        FullView.store(false);
        SynapticStrengthView.store(true);
        AutoRotate.store(false);
        CaptureGate.on.store(0);
        CaptureContextPtr.store(nullptr);
        SelectedSlice.store(0);
        CameraX = TargetX = CameraDistance = TargetZ = 0.0f;
    }
    void TearDown() override {
        CaptureContextPtr.store(nullptr);
        CaptureGate.on.store(0);
        QuitRequested.store(false);
        RenderStop.store(false);
    }
    void Press(int slot) {
        keys[slot] = 1;
        ProcessKeyCommands(keys, state, nullptr, env);
        if (SceneOrderDirty.exchange(false)) ++env.markDirty;  // the render thread's part
    }

    Recorded env;
    AppState state;
    uint8_t keys[256];
};

TEST_F(KeyCommands, SliceKeysForThirtyTwoPlanes) {
    Press(35);  // End
    EXPECT_EQ(SelectedSlice.load(), 31);
    EXPECT_EQ(keys[35], 0);

    SelectedSlice.store(25);
    Press(34);  // Page Down
    EXPECT_EQ(SelectedSlice.load(), 15);
    SelectedSlice.store(5);
    Press(34);
    EXPECT_EQ(SelectedSlice.load(), 0);
    EXPECT_EQ(keys[34], 0);
    Press(34);  // at 0 the key stays set
    EXPECT_EQ(SelectedSlice.load(), 0);
    EXPECT_EQ(keys[34], 1);
    keys[34] = 0;

    SelectedSlice.store(28);
    Press(33);  // Page Up
    EXPECT_EQ(SelectedSlice.load(), 31);
    Press(36);  // Home
    EXPECT_EQ(SelectedSlice.load(), 0);

    Press(40);  // Down at 0: stays set
    EXPECT_EQ(keys[40], 1);
    keys[40] = 0;
    SelectedSlice.store(30);
    Press(38);  // Up
    EXPECT_EQ(SelectedSlice.load(), 31);
    EXPECT_EQ(keys[38], 0);
    Press(38);  // Up at the last plane: stays set and keeps firing once possible
    EXPECT_EQ(keys[38], 1);
    SelectedSlice.store(10);
    ProcessKeyCommands(keys, state, nullptr);
    EXPECT_EQ(SelectedSlice.load(), 11);
    EXPECT_EQ(keys[38], 0);
}

TEST_F(KeyCommands, LowerCaseSlotsAreAliases) {
    Press(101);  // keypad 5 = 'e'
    EXPECT_EQ(state.stimulusOn, 1);
    Press(69);  // E
    EXPECT_EQ(state.stimulusOn, 0);

    Press(114);  // F3 = 'r'
    EXPECT_TRUE(AutoRotate.load());
    keys[82] = 1;
    keys[114] = 1;  // both slots down: one toggle, both cleared
    ProcessKeyCommands(keys, state, nullptr);
    EXPECT_FALSE(AutoRotate.load());
    EXPECT_EQ(keys[82], 0);
    EXPECT_EQ(keys[114], 0);

    Press(108);  // 'l' (keypad separator): synaptic strength view
    EXPECT_FALSE(SynapticStrengthView.load());
    Press('L');
    EXPECT_TRUE(SynapticStrengthView.load());
    Press('W');  // W moves the camera and leaves the view alone
    EXPECT_TRUE(SynapticStrengthView.load());
}

TEST_F(KeyCommands, StimulusIsNotSwitchedOnWhereItCannotAct) {
    char notice[160];
    state.params.gridZ = 16;
    Press('E');
    EXPECT_EQ(state.stimulusOn, 0);
    ASSERT_TRUE(ViewNoticeAt(plat::TimeMs(), notice, sizeof notice));
    EXPECT_NE(std::strstr(notice, "20 planes"), nullptr) << notice;
    EXPECT_NE(std::strstr(notice, "16"), nullptr) << notice;
    EXPECT_FALSE(ViewNoticeAt(plat::TimeMs() + kViewNoticeMs, notice, sizeof notice));
    // Already on (e.g. from a checkpoint): E still switches it off.
    state.stimulusOn = 1;
    Press('E');
    EXPECT_EQ(state.stimulusOn, 0);
    state.stimulusPeriod = 0;
    state.params.gridZ = 32;
    Press('E');
    EXPECT_EQ(state.stimulusOn, 0);
}

TEST(Stimulus, TheRuleAgreesWithTheDynamics) {
    // A 2 x 1 x Z column: the stimulus holds some neuron exactly when the rule says
    // it can act.
    for (uint32_t period : {0u, 100u}) {
        for (uint32_t z = 1; z <= 45; ++z) {
            std::vector<Neuron> neurons(2 * z);
            AppState state;
            state.params.gridX = 2;
            state.params.gridY = 1;
            state.params.gridZ = z;
            state.stimulusPeriod = period;
            state.neurons = neurons.data();
            state.neuronCount = 2 * z;
            ApplyStimulus(state, 0);
            bool held = false;
            for (const Neuron& n : neurons) held = held || n.isHeld;
            EXPECT_EQ(held, StimulusCanAct(state.params, period)) << "z " << z << " period " << period;
            EXPECT_EQ(StimulusBlockedText(state.params, period).empty(), held);
        }
    }
}

TEST_F(KeyCommands, WhichCommandsClearTheirKey) {
    // Nothing active. End puts the slice at the last plane, so Up finds no room.
    const int slots[] = {27, 35, 121, 122, 33, 38, 69, 87, 83, 65, 68, 88, 86, 80, 32, 254, 116, 82, 67, 76};
    for (int s : slots) keys[s] = 1;
    ProcessKeyCommands(keys, state, nullptr);
    for (int s : slots) {
        if (s != 38) {
            EXPECT_EQ(keys[s], 0) << "slot " << s;
        }
    }
    EXPECT_EQ(keys[38], 1);  // Up clears only when it moves
    EXPECT_EQ(SelectedSlice.load(), 31);
    EXPECT_TRUE(env.tasks.empty());  // V, P, Space start nothing without a simulation

    // Home runs before Page Down and Down: at plane 0 both stay set.
    std::memset(keys, 0, sizeof keys);
    keys[36] = keys[34] = keys[40] = 1;
    ProcessKeyCommands(keys, state, nullptr);
    EXPECT_EQ(SelectedSlice.load(), 0);
    EXPECT_EQ(keys[36], 0);
    EXPECT_EQ(keys[34], 1);
    EXPECT_EQ(keys[40], 1);
}

TEST_F(KeyCommands, HelpAndAnalysisNeedASimulation) {
    Press(254);
    EXPECT_FALSE(HelpShown.load());
    EXPECT_EQ(keys[254], 0);
    Press(116);
    EXPECT_FALSE(AnalysisShown.load());
    EXPECT_EQ(keys[116], 0);

    state.SimState = SimStateRunning;
    Press(116);
    EXPECT_TRUE(AnalysisShown.load());
    Press(254);  // help on switches the analysis off
    EXPECT_TRUE(HelpShown.load());
    EXPECT_FALSE(AnalysisShown.load());
    Press(254);  // help off leaves the analysis off
    EXPECT_FALSE(HelpShown.load());
    EXPECT_FALSE(AnalysisShown.load());
    HelpShown.store(true);
    Press(116);
    EXPECT_TRUE(AnalysisShown.load());
    EXPECT_FALSE(HelpShown.load());
    Press(112);  // slot 112 is 'p', never F1
    EXPECT_FALSE(HelpShown.load());
}

TEST_F(KeyCommands, FullViewAndCapture) {
    Press(122);
    EXPECT_TRUE(FullView.load());
    CaptureGate.on.store(1);
    Press(122);  // F11 during capture does nothing but clear the key
    EXPECT_TRUE(FullView.load());
    EXPECT_EQ(keys[122], 0);
    CaptureGate.on.store(0);

    Press(121);  // F10 without a capture context: capture stays off, style still applied
    EXPECT_EQ(CaptureGate.on.load(), 0);
    ASSERT_EQ(env.styles.size(), 1u);
    EXPECT_FALSE(env.styles[0]);
    int context = 0;
    CaptureContextPtr.store(&context);
    Press(121);
    EXPECT_EQ(CaptureGate.on.load(), 1);
    Press(121);
    EXPECT_EQ(CaptureGate.on.load(), 0);
    EXPECT_EQ(env.styles, (std::vector<bool>{false, true, false}));
}

TEST_F(KeyCommands, EscapeAsksOnlyDuringASimulation) {
    Press(27);  // no simulation: quit at once
    EXPECT_EQ(env.questions, 0);
    EXPECT_TRUE(QuitRequested.load());
    EXPECT_TRUE(RenderStop.load());

    QuitRequested.store(false);
    RenderStop.store(false);
    state.SimState = SimStateInitializing;  // being built: quit at once too
    Press(27);
    EXPECT_EQ(env.questions, 0);
    EXPECT_TRUE(QuitRequested.load());

    QuitRequested.store(false);
    RenderStop.store(false);
    state.SimState = SimStateRunning;
    env.answer = AnswerCancel;
    Press(27);
    EXPECT_EQ(env.questions, 1);
    EXPECT_FALSE(QuitRequested.load());
    EXPECT_FALSE(RenderStop.load());
    EXPECT_EQ(keys[27], 0);

    state.SimState = SimStatePaused;
    env.answer = AnswerQuit;
    Press(27);
    EXPECT_EQ(env.questions, 2);
    EXPECT_TRUE(QuitRequested.load());
    EXPECT_TRUE(RenderStop.load());
}

TEST_F(KeyCommands, TasksStartOnlyDuringASimulation) {
    Press('P');
    Press('V');
    Press(32);
    Press('K');
    EXPECT_TRUE(env.tasks.empty());
    state.SimState = SimStatePaused;
    Press('P');
    Press(118);  // F7 = 'v'
    Press(32);
    Press('K');
    Press(107);  // keypad + = 'k': writes no checkpoint
    ASSERT_EQ(env.tasks.size(), 4u);
    EXPECT_EQ(env.tasks[0], &PauseResumeTask);
    EXPECT_EQ(env.tasks[1], &VisualizationToggleTask);
    EXPECT_EQ(env.tasks[2], &PauseResumeTask);
    EXPECT_EQ(env.tasks[3], &CheckpointTask);
}

TEST_F(KeyCommands, CameraMovesAndReset) {
    state.params.extentX = state.params.extentY = state.params.extentZ = 32.0f;
    CameraDistance = 152.0f;
    Zoom = 0.0f;
    Press('W');
    EXPECT_FLOAT_EQ(CameraDistance, 151.0f);
    EXPECT_FLOAT_EQ(TargetZ, -1.0f);
    Press('S');
    Press('S');
    EXPECT_FLOAT_EQ(CameraDistance, 153.0f);
    Press('A');
    EXPECT_FLOAT_EQ(CameraX, 1.0f);
    EXPECT_FLOAT_EQ(TargetX, 1.0f);
    Press('D');
    Press('D');
    EXPECT_FLOAT_EQ(CameraX, -1.0f);
    EXPECT_EQ(env.markDirty, 6);
    CameraPitch = 5.0f;
    Zoom = 12.0f;
    Press('X');
    // 32^3 grid: q = 1, k = 4.75 -> 152; zoom scale 32 * 5 / 160 = 1.
    EXPECT_FLOAT_EQ(CameraDistance, 152.0f);
    EXPECT_FLOAT_EQ(ZoomScale, 1.0f);
    EXPECT_FLOAT_EQ(CameraPitch, 30.0f);
    EXPECT_FLOAT_EQ(CameraYaw, 140.0f);
    EXPECT_FLOAT_EQ(Zoom, 0.0f);
    EXPECT_FLOAT_EQ(CameraX, 0.0f);
    EXPECT_EQ(env.markDirty, 7);

    // W stops before the eye reaches the volume box (half-sides 33, corners up to
    // 33 * sqrt(3) = 57.2 from the centre at z = Zoom); S still backs away.
    Zoom = 10.0f;
    for (int i = 0; i < 200; ++i) Press('W');
    EXPECT_GT(CameraDistance - Zoom, 57.2f);
    EXPECT_LT(CameraDistance - Zoom, 60.0f);
    const float nearest = CameraDistance;
    Press('S');
    EXPECT_FLOAT_EQ(CameraDistance, nearest + 1.0f);
    Zoom = 0.0f;
}

TEST_F(KeyCommands, ToolboxKeyNeedsAToolbox) {
    Press('C');
    EXPECT_EQ(env.toolboxShows, 0);
    EXPECT_EQ(keys['C'], 0);
    env.toolbox = true;
    Press('C');
    EXPECT_FALSE(env.toolboxVisible);
    Press(99);  // keypad 3 = 'c'
    EXPECT_TRUE(env.toolboxVisible);
    EXPECT_EQ(env.toolboxShows, 2);
}

// The window's key queue over the real commands (vis/key_queue.h).
void RealCommands(uint8_t* table, void* context) {
    ProcessKeyCommands(table, *static_cast<AppState*>(context), nullptr);
}

TEST(KeyQueue, EveryTapInOneBatchActsOnceWithTheRealCommands) {
    // Ten taps of A and three of D arrive in one batch of events, as while the
    // main thread waited for a slow frame: the real commands move ten and three steps.
    static AppState state;
    state.SimState = SimStateNone;
    CameraX = TargetX = 0.0f;
    KeyPressQueue queue{};
    uint8_t table[256]{};
    for (int i = 0; i < 10; ++i) {
        QueueKeyPress(queue, 'A');
        QueueKeyRelease(queue, 'A');
    }
    for (int i = 0; i < 3; ++i) {
        QueueKeyPress(queue, 'D');
        QueueKeyRelease(queue, 'D');
    }
    RunKeyPasses(queue, table, RealCommands, &state);
    EXPECT_FLOAT_EQ(CameraX, 7.0f);
    EXPECT_FLOAT_EQ(TargetX, 7.0f);
    // Nothing is left to act in the next round.
    RunKeyPasses(queue, table, RealCommands, &state);
    EXPECT_FLOAT_EQ(CameraX, 7.0f);
    EXPECT_EQ(table['A'], 0);
    CameraX = TargetX = 0.0f;
}

}  // namespace
