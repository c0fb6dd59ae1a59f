// The main loop and window procedure, driven message by message through the scripted window
// system (no display, no GL).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "browse/browse_state.h"
#include "platform/window.h"
#include "shell/app.h"

using namespace platform;

namespace {

std::vector<float> g_framesOffset;  // horizontalOffset seen by each frame, in order

void LogFrame(HDC dc) {
    g_framesOffset.push_back(g_browseState.horizontalOffset);
    SwapBuffers(dc);
}

class ShellLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseBackend(Backend::Scripted);
        scripted::Reset();
        g_browseState = BrowseState{};
        g_framesOffset.clear();
    }
    void TearDown() override {
        scripted::Reset();
        UseBackend(Backend::Sdl);
    }
    static long Count(const std::string& line) {
        const auto& log = scripted::CallLog();
        return std::count(log.begin(), log.end(), line);
    }
};

TEST_F(ShellLoopTest, CreatesTheWindowWithItsConstantsAndShowsIt) {
    scripted::PostScriptedMessage(WM_CLOSE);
    EXPECT_EQ(RunVarnolt(LogFrame), 0);
    const auto& log = scripted::CallLog();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0], "CreateWindow MyClass \"OpenGL Varnolt\" 0,0 540x350");
    EXPECT_EQ(log[1], "CreateContext");
    EXPECT_EQ(log[2], "MakeCurrent");
    EXPECT_EQ(log[3], "ShowWindow");
}

TEST_F(ShellLoopTest, RendersBeforeDispatchingAndRepeatsTheLastMessageOnIdlePasses) {
    scripted::PostScriptedIdle();  // before any message: the pass only renders
    scripted::PostScriptedMessage(WM_KEYDOWN, VK_RIGHT, 1);
    scripted::PostScriptedIdle();
    scripted::PostScriptedIdle();
    scripted::PostScriptedMessage(WM_KEYUP, VK_RIGHT, static_cast<LPARAM>(0xC0000001u));
    scripted::PostScriptedIdle();
    scripted::PostScriptedMessage(WM_CLOSE);
    EXPECT_EQ(RunVarnolt(LogFrame), 0);
    // Each frame sees the state before its pass's dispatch; the key-down acts once per pass
    // until the key-up replaces it.
    const std::vector<float> expected = {0.0f, 0.0f, 1.5f, 3.0f, 4.5f, 4.5f, 4.5f};
    EXPECT_EQ(g_framesOffset, expected);
    EXPECT_FLOAT_EQ(g_browseState.horizontalOffset, 4.5f);
}

TEST_F(ShellLoopTest, AWheelNotchKeepsScrollingUntilAMouseMoveReplacesIt) {
    g_browseState.lastMouseX = 10;
    scripted::PostScriptedMessage(WM_MOUSEWHEEL, MakeWParam(0, -WHEEL_DELTA), MakeLParam(5, 5));
    scripted::PostScriptedIdle();
    scripted::PostScriptedIdle();
    scripted::PostScriptedMessage(WM_MOUSEMOVE, 0, MakeLParam(10, 20));
    scripted::PostScriptedIdle();
    scripted::PostScriptedIdle();
    scripted::PostScriptedMessage(WM_CLOSE);
    EXPECT_EQ(RunVarnolt(LogFrame), 0);
    // Three wheel dispatches; the repeated move has the same x as lastMouseX and changes nothing.
    EXPECT_FLOAT_EQ(g_browseState.verticalOffset, 4.5f);
    EXPECT_TRUE(g_browseState.verticalMode);
    EXPECT_EQ(g_browseState.lastMouseX, 10);
}

TEST_F(ShellLoopTest, CloseReleasesOnceThenTheQuitMessageEndsTheLoop) {
    scripted::PostScriptedMessage(WM_KEYDOWN, VK_LEFT, 1);
    scripted::PostScriptedMessage(WM_CLOSE);
    EXPECT_EQ(RunVarnolt(LogFrame), 0);
    const auto& log = scripted::CallLog();
    const auto unbind = std::find(log.begin(), log.end(), "MakeCurrent none");
    ASSERT_NE(unbind, log.end());
    ASSERT_NE(unbind + 1, log.end());
    EXPECT_EQ(*(unbind + 1), "DeleteContext");
    // No frame is drawn once the context is gone.
    EXPECT_EQ(std::find(unbind, log.end(), "SwapBuffers"), log.end());
    EXPECT_EQ(Count("DeleteContext"), 1);
    EXPECT_EQ(Count("script exhausted"), 0);
    EXPECT_EQ(g_renderContext, nullptr);

    // A close arriving after the sequence has run does nothing.
    EXPECT_EQ(WindowProcedure(nullptr, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(Count("DeleteContext"), 1);
    MSG message;
    EXPECT_FALSE(PeekMessageA(message, nullptr) && message.message == WM_QUIT);
}

LRESULT QuitWithSeven(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN) {
        PostQuitMessage(7);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(ShellLoopTest, TheLoopReturnsTheQuitCode) {
    WNDCLASS windowClass;
    windowClass.className = "QuitClass";
    windowClass.windowProc = QuitWithSeven;
    ASSERT_TRUE(RegisterClassA(windowClass));
    EXPECT_FALSE(RegisterClassA(windowClass));  // a class name is registered once
    HWND window = CreateWindowA("QuitClass", "", 0, 0, 10, 10);
    ASSERT_NE(window, nullptr);
    scripted::PostScriptedIdle();
    scripted::PostScriptedMessage(WM_KEYDOWN, 'Q', 1);
    g_renderContext = nullptr;  // nothing to draw with: passes only dispatch
    EXPECT_EQ(RunMainLoop(window, LogFrame), 7);
    EXPECT_TRUE(g_framesOffset.empty());
}

TEST_F(ShellLoopTest, FailedRegistrationOrCreationEndsWithZero) {
    WNDCLASS taken;
    taken.className = kClassName;
    taken.windowProc = QuitWithSeven;
    ASSERT_TRUE(RegisterClassA(taken));
    EXPECT_EQ(RunVarnolt(LogFrame), 0);
    EXPECT_TRUE(scripted::CallLog().empty());
    EXPECT_EQ(CreateWindowA("NoSuchClass", "", 0, 0, 1, 1), nullptr);
}

struct MessageCase {
    const char* name;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    float verticalOffset, horizontalOffset, viewPitch, tilt;
    bool dragging;
};

TEST_F(ShellLoopTest, WindowProcedureRoutesEachMessageToItsBinding) {
    const MessageCase cases[] = {
        {"key down", WM_KEYDOWN, VK_DOWN, 1, 1.5f, 0, 0, 0, false},
        {"repeat count 5 is one step", WM_KEYDOWN, VK_RIGHT, 5, 0, 1.5f, 0, 0, false},
        {"system key (Alt held)", WM_SYSKEYDOWN, VK_RIGHT, 0x20000001, 0, 0, 0, 0, false},
        {"key up", WM_KEYUP, VK_HOME, static_cast<LPARAM>(0xC0000001u), 0, 0, 0, 0, false},
        {"home", WM_KEYDOWN, VK_HOME, 1, 0, 0, 0.3f, 0, false},
        {"character", WM_CHAR, 'a', 1, 0, 0, 0, 0, false},
        {"wheel away", WM_MOUSEWHEEL, MakeWParam(MK_SHIFT, WHEEL_DELTA), 0, -1.5f, 0, 0, 0, false},
        {"wheel toward", WM_MOUSEWHEEL, MakeWParam(0, -2 * WHEEL_DELTA), 0, 1.5f, 0, 0, 0, false},
        {"right button", WM_RBUTTONDOWN, MK_RBUTTON, 0, 0, 0, 0, 0.4f, false},
        {"right button up", WM_RBUTTONUP, 0, 0, 0, 0, 0, 0, false},
        {"middle button", WM_MBUTTONDOWN, MK_MBUTTON, 0, 0, 0, 0, 0, false},
        {"left button", WM_LBUTTONDOWN, MK_LBUTTON, 0, 0, 0, 0, 0, true},
        {"paint", WM_PAINT, 0, 0, 0, 0, 0, 0, false},
    };
    for (const MessageCase& c : cases) {
        SCOPED_TRACE(c.name);
        g_browseState = BrowseState{};
        EXPECT_EQ(WindowProcedure(nullptr, c.message, c.wParam, c.lParam), 0);
        EXPECT_FLOAT_EQ(g_browseState.verticalOffset, c.verticalOffset);
        EXPECT_FLOAT_EQ(g_browseState.horizontalOffset, c.horizontalOffset);
        EXPECT_FLOAT_EQ(g_browseState.viewPitch, c.viewPitch);
        EXPECT_FLOAT_EQ(g_browseState.tilt, c.tilt);
        EXPECT_EQ(g_browseState.dragging, c.dragging);
    }
}

TEST_F(ShellLoopTest, MouseMoveTakesTheLowWordOfThePosition) {
    g_browseState.dragging = true;
    g_browseState.lastMouseX = 100;
    WindowProcedure(nullptr, WM_MOUSEMOVE, MK_LBUTTON, MakeLParam(101, 999));
    EXPECT_FLOAT_EQ(g_browseState.horizontalOffset, 3.0f);
    EXPECT_EQ(g_browseState.lastMouseX, 101);
    WindowProcedure(nullptr, WM_LBUTTONUP, 0, MakeLParam(101, 999));
    EXPECT_FALSE(g_browseState.dragging);
}

}  // namespace
