// Input bindings: what each key, button, move and wheel message does to the browsing state.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "browse/browse_state.h"

namespace {

class BindingsTest : public ::testing::Test {
protected:
    void SetUp() override { g_browseState = BrowseState{}; }
};

TEST_F(BindingsTest, StateStartsAtZeroWithCentreOnTheRow) {
    const BrowseState state;
    EXPECT_EQ(state.verticalOffset, 0.0f);
    EXPECT_EQ(state.horizontalOffset, 0.0f);
    EXPECT_FALSE(state.verticalMode);
    EXPECT_EQ(state.viewPitch, 0.0f);
    EXPECT_EQ(state.viewYaw, 0.0f);
    EXPECT_EQ(state.tilt, 0.0f);
    EXPECT_FALSE(state.dragging);
    EXPECT_EQ(state.lastMouseX, 0);
}

struct KeyCase {
    const char* name;
    std::uint32_t key;
    float verticalOffset, horizontalOffset, viewPitch, viewYaw;
    bool verticalMode;
};

TEST_F(BindingsTest, EachKeyAppliesOneStepFromTheStartState) {
    const KeyCase cases[] = {
        {"Down", 0x28, 1.5f, 0, 0, 0, true},       {"Up", 0x26, -1.5f, 0, 0, 0, true},
        {"Right", 0x27, 0, 1.5f, 0, 0, false},     {"Left", 0x25, 0, -1.5f, 0, 0, false},
        {"Home", 0x24, 0, 0, 0.3f, 0, false},      {"End", 0x23, 0, 0, -0.3f, 0, false},
        {"Insert", 0x2D, 0, 0, 0, -0.3f, false},   {"Delete", 0x2E, 0, 0, 0, 0.3f, false},
        {"Escape", 0x1B, 0, 0, 0, 0, false},       {"PageUp", 0x21, 0, 0, 0, 0, false},
        {"PageDown", 0x22, 0, 0, 0, 0, false},     {"A", 'A', 0, 0, 0, 0, false},
        {"Z", 'Z', 0, 0, 0, 0, false},             {"Shift", 0x10, 0, 0, 0, 0, false},
        {"NumpadLeft", 0x64, 0, 0, 0, 0, false},   {"Zero", 0, 0, 0, 0, 0, false},
        {"UnknownCode", 0x10028, 0, 0, 0, 0, false},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        g_browseState = BrowseState{};
        HandleKeyDown(c.key);
        EXPECT_FLOAT_EQ(g_browseState.verticalOffset, c.verticalOffset);
        EXPECT_FLOAT_EQ(g_browseState.horizontalOffset, c.horizontalOffset);
        EXPECT_FLOAT_EQ(g_browseState.viewPitch, c.viewPitch);
        EXPECT_FLOAT_EQ(g_browseState.viewYaw, c.viewYaw);
        EXPECT_EQ(g_browseState.verticalMode, c.verticalMode);
        EXPECT_EQ(g_browseState.tilt, 0.0f);
    }
}

TEST_F(BindingsTest, ViewTurnsAndTiltLeaveTheModeAlone) {
    HandleKeyDown(kKeyDown);
    for (std::uint32_t key : {kKeyHome, kKeyEnd, kKeyInsert, kKeyDelete}) {
        HandleKeyDown(key);
    }
    HandleRightButtonDown();
    EXPECT_TRUE(g_browseState.verticalMode);
    HandleKeyDown(kKeyLeft);
    HandleKeyDown(kKeyHome);
    HandleRightButtonDown();
    EXPECT_FALSE(g_browseState.verticalMode);
}

TEST_F(BindingsTest, RepeatedPressesAccumulate) {
    for (int i = 0; i < 30; ++i) HandleKeyDown(kKeyRight);
    for (int i = 0; i < 20; ++i) HandleKeyDown(kKeyDown);
    EXPECT_FLOAT_EQ(g_browseState.horizontalOffset, 45.0f);
    // Twenty Down presses bring the picture that started first above the centre (base -30) to 0.
    EXPECT_FLOAT_EQ(g_browseState.verticalOffset, 30.0f);
    EXPECT_FLOAT_EQ(g_browseState.verticalOffset + -30.0f, 0.0f);
    EXPECT_TRUE(g_browseState.verticalMode);
}

TEST_F(BindingsTest, OffsetsHaveNoLimits) {
    for (int i = 0; i < 1000; ++i) HandleKeyDown(kKeyLeft);
    EXPECT_NEAR(g_browseState.horizontalOffset, -1500.0f, 0.01f);
}

TEST_F(BindingsTest, FiftyRightPressesTiltTwentyDegrees) {
    for (int i = 0; i < 50; ++i) HandleRightButtonDown();
    EXPECT_NEAR(g_browseState.tilt, 20.0f, 1e-4f);
}

struct MouseCase {
    const char* name;
    std::function<void()> script;
    float horizontalOffset;
    bool verticalMode;
    std::int32_t lastMouseX;
    bool dragging;
};

TEST_F(BindingsTest, MouseMovesAndDrags) {
    const MouseCase cases[] = {
        {"move without button records x only", [] { HandleMouseMove(100); }, 0, true, 100, false},
        {"press then move right one pixel scrolls 3 degrees",
         [] {
             HandleMouseMove(100);
             HandleLeftButton(true);
             HandleMouseMove(101);
         },
         3.0f, false, 101, true},
        {"drag left scrolls back",
         [] {
             HandleLeftButton(true);
             HandleMouseMove(50);
             HandleMouseMove(10);
         },
         0.0f, false, 10, true},
        {"distance does not matter",
         [] {
             HandleLeftButton(true);
             HandleMouseMove(500);
         },
         3.0f, false, 500, true},
        {"unchanged x changes nothing",
         [] {
             HandleMouseMove(40);
             HandleLeftButton(true);
             HandleMouseMove(40);
             HandleMouseMove(40);
         },
         0.0f, true, 40, true},
        {"press compares with the last move before it",
         [] {
             HandleMouseMove(200);
             HandleLeftButton(true);
             HandleLeftButton(false);
             HandleLeftButton(true);
             HandleMouseMove(150);
         },
         -3.0f, false, 150, true},
        {"release ends the drag",
         [] {
             HandleLeftButton(true);
             HandleLeftButton(false);
             HandleMouseMove(300);
         },
         0.0f, true, 300, false},
        {"the x is the unsigned low word",
         [] {
             HandleMouseMove(65535);
             HandleLeftButton(true);
             HandleMouseMove(0x1FFFE);  // high bits ignored: 65534, a move left
         },
         -3.0f, false, 65534, true},
    };
    for (const MouseCase& c : cases) {
        SCOPED_TRACE(c.name);
        g_browseState = BrowseState{};
        g_browseState.verticalMode = true;  // only a move that scrolls switches to the row
        c.script();
        EXPECT_FLOAT_EQ(g_browseState.horizontalOffset, c.horizontalOffset);
        EXPECT_EQ(g_browseState.lastMouseX, c.lastMouseX);
        EXPECT_EQ(g_browseState.dragging, c.dragging);
        EXPECT_EQ(g_browseState.verticalMode, c.verticalMode);
    }
}

TEST_F(BindingsTest, WheelIsOneStepPerMessageWhateverTheDelta) {
    struct WheelCase {
        std::int32_t delta;
        float verticalOffset;
        bool verticalMode;
    };
    const WheelCase cases[] = {
        {120, -1.5f, true}, {240, -1.5f, true}, {1, -1.5f, true},     {-120, 1.5f, true},
        {-360, 1.5f, true}, {0, 0.0f, false},   {32767, -1.5f, true}, {-32768, 1.5f, true},
    };
    for (const WheelCase& c : cases) {
        SCOPED_TRACE(c.delta);
        g_browseState = BrowseState{};
        HandleMouseWheel(c.delta);
        EXPECT_FLOAT_EQ(g_browseState.verticalOffset, c.verticalOffset);
        EXPECT_EQ(g_browseState.verticalMode, c.verticalMode);
    }
}

}  // namespace
