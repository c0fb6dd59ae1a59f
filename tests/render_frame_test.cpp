// Frames drawn by Mesa into a hidden 540 × 350 window and read back: where the squares land,
// the pitch wrap, back-face culling of tilted pictures, and the projection set on resize.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "browse/browse_state.h"
#include "platform/window.h"
#include "render/render_frame.h"
#include "shell/app.h"

using namespace platform;

namespace {

constexpr int kWidth = 540;
constexpr int kHeight = 350;

LRESULT PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

// Pixels of the back buffer, row 0 at the bottom.
struct Frame {
    std::vector<std::uint8_t> rgba;
    const std::uint8_t* At(int x, int yFromTop) const {
        const int row = kHeight - 1 - yFromTop;
        return &rgba[static_cast<std::size_t>((row * kWidth + x) * 4)];
    }
    bool Lit(int x, int yFromTop) const {
        const std::uint8_t* p = At(x, yFromTop);
        return p[0] + p[1] + p[2] > 60;
    }
};

class RenderFrameTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        UseBackend(Backend::Sdl);
        WNDCLASS windowClass;
        windowClass.className = "RenderTestClass";
        windowClass.windowProc = PlainProc;
        ASSERT_TRUE(RegisterClassA(windowClass));
        HWND window = CreateWindowA("RenderTestClass", "render test", 0, 0, kWidth, kHeight);
        ASSERT_NE(window, nullptr) << "needs a display";
        dc_ = GetDC(window);
        PIXELFORMATDESCRIPTOR request;
        SetPixelFormat(dc_, ChoosePixelFormat(dc_, request), request);
        context_ = wglCreateContext(dc_);
        ASSERT_NE(context_, nullptr);
        ASSERT_TRUE(wglMakeCurrent(dc_, context_));
        GLint depthBits = 0;
        glGetIntegerv(GL_DEPTH_BITS, &depthBits);
        EXPECT_GE(depthBits, 16);
    }

    void SetUp() override {
        if (dc_ == nullptr) GTEST_SKIP() << "no GL window";
        g_browseState = BrowseState{};
        // The shell's size handler sets the viewport and the projection.
        WindowProcedure(nullptr, WM_SIZE, 0, MakeLParam(kWidth, kHeight));
    }

    static Frame Draw() {
        DrawScene();
        Frame frame;
        frame.rgba.resize(static_cast<std::size_t>(kWidth * kHeight * 4));
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.rgba.data());
        return frame;
    }

    // Window position of a scene point under the 50 degree perspective, 6 units in front of the eye.
    static void Project(double x, double y, double z, int& px, int& pyFromTop) {
        const double focal = (kHeight / 2.0) / std::tan(25.0 * 3.14159265358979 / 180.0);
        const double depth = 6.0 - z;
        px = static_cast<int>(std::lround(kWidth / 2.0 + x / depth * focal));
        pyFromTop = static_cast<int>(std::lround(kHeight / 2.0 - y / depth * focal));
    }

    static HDC dc_;
    static HGLRC context_;
};

HDC RenderFrameTest::dc_ = nullptr;
HGLRC RenderFrameTest::context_ = nullptr;

TEST_F(RenderFrameTest, DefaultFrameShowsNineSquaresInTheCross) {
    const Frame frame = Draw();
    const float r = 1.8f;
    struct Centre {
        const char* name;
        float x, y, z;
    };
    const float s30 = r * 0.5f, c30 = r * 0.8660254f, s60 = r * 0.8660254f, c60 = r * 0.5f;
    const Centre centres[] = {
        {"centre", 0, 0, r},          {"first below", 0, -s30, c30}, {"second below", 0, -s60, c60},
        {"first above", 0, s30, c30}, {"second above", 0, s60, c60}, {"first right", s30, 0, c30},
        {"second right", s60, 0, c60}, {"first left", -s30, 0, c30}, {"second left", -s60, 0, c60},
    };
    for (const Centre& c : centres) {
        int x = 0, y = 0;
        Project(c.x, c.y, c.z, x, y);
        EXPECT_TRUE(frame.Lit(x, y)) << c.name << " at " << x << "," << y;
    }
    // Between the arms and outside the cross there is only the black background.
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{
             {5, 5}, {534, 344}, {200, 100}, {340, 250}, {200, 250}, {340, 100}, {270, 5}, {20, 175}}) {
        EXPECT_FALSE(frame.Lit(x, y)) << x << "," << y;
    }
    const std::uint8_t* grey = frame.At(270, 175);
    EXPECT_NEAR(grey[0], grey[2], 60) << "untextured squares are lit grey, not coloured";
}

TEST_F(RenderFrameTest, CentreSquareIsAbout89PixelsTall) {
    // Send the column far down its slide so only the centre square crosses the middle column.
    g_browseState.verticalOffset = 5000.0f;
    const Frame frame = Draw();
    int top = -1, bottom = -1;
    for (int y = 0; y < kHeight; ++y) {
        if (frame.Lit(270, y)) {
            if (top < 0) top = y;
            bottom = y;
        }
    }
    ASSERT_GE(top, 0);
    EXPECT_NEAR(bottom - top + 1, 89, 2);
    EXPECT_NEAR((top + bottom) / 2.0, 175.0, 1.5);
}

TEST_F(RenderFrameTest, ViewPitchWrapsToZeroAtAFullTurnButNeverBelowZero) {
    const Frame level = Draw();
    g_browseState.viewPitch = 359.9f;
    HandleKeyDown(kKeyHome);
    EXPECT_NEAR(g_browseState.viewPitch, 360.2f, 1e-3f);
    const Frame wrapped = Draw();
    EXPECT_EQ(g_browseState.viewPitch, 0.0f);
    EXPECT_EQ(wrapped.rgba, level.rgba);

    g_browseState.viewPitch = 0.0f;
    HandleKeyDown(kKeyEnd);
    Draw();
    EXPECT_FLOAT_EQ(g_browseState.viewPitch, -0.3f);
}

TEST_F(RenderFrameTest, SidePicturesTiltedPastTheirEdgeAreCulled) {
    int belowX = 0, belowY = 0, rightX = 0, rightY = 0;
    Project(0, -0.9f, 1.5588f, belowX, belowY);
    Project(0.9f, 0, 1.5588f, rightX, rightY);
    struct TiltCase {
        float tilt;
        bool shown;
    };
    for (const TiltCase& c : {TiltCase{0.0f, true}, TiltCase{0.4f, true}, TiltCase{60.0f, true},
                              TiltCase{180.0f, false}, TiltCase{360.0f, true}}) {
        SCOPED_TRACE(c.tilt);
        g_browseState.tilt = c.tilt;
        const Frame frame = Draw();
        EXPECT_EQ(frame.Lit(belowX, belowY), c.shown);
        EXPECT_EQ(frame.Lit(rightX, rightY), c.shown);
        EXPECT_TRUE(frame.Lit(270, 175)) << "the centre picture never tilts";
    }
}

// First lit pixel along the middle row (from the left) or the middle column (from the top).
int FirstLitInRow(const Frame& frame) {
    for (int x = 0; x < kWidth; ++x) {
        if (frame.Lit(x, kHeight / 2)) return x;
    }
    return -1;
}
int FirstLitInColumn(const Frame& frame) {
    for (int y = 0; y < kHeight; ++y) {
        if (frame.Lit(kWidth / 2, y)) return y;
    }
    return -1;
}

TEST_F(RenderFrameTest, RightMovesTheRowRightAndDownMovesTheColumnDown) {
    const Frame before = Draw();
    for (int i = 0; i < 10; ++i) HandleKeyDown(kKeyRight);
    const Frame right = Draw();
    EXPECT_GT(FirstLitInRow(right), FirstLitInRow(before) + 10);
    EXPECT_EQ(FirstLitInColumn(right), FirstLitInColumn(before)) << "the column stays";

    g_browseState = BrowseState{};
    for (int i = 0; i < 10; ++i) HandleKeyDown(kKeyDown);
    const Frame down = Draw();
    EXPECT_GT(FirstLitInColumn(down), FirstLitInColumn(before) + 10);
    EXPECT_EQ(FirstLitInRow(down), FirstLitInRow(before)) << "the row stays";
}

TEST_F(RenderFrameTest, SizeMessageSetsViewportAndAspect) {
    struct SizeCase {
        int width, height;
        GLint viewport[4];
        double aspect;  // 0: gluPerspective leaves the projection alone
    };
    const SizeCase cases[] = {
        {540, 350, {0, 0, 540, 350}, 540.0 / 350.0},
        {800, 0, {0, 0, 800, 1}, 800.0},
        {0, 0, {0, 0, 0, 1}, 0.0},
        {1920, 1080, {0, 0, 1920, 1080}, 1920.0 / 1080.0},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.width);
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(std::vector<float>(16, 7.0f).data());  // a marker the handler must replace
        glMatrixMode(GL_MODELVIEW);
        WindowProcedure(nullptr, WM_SIZE, 0, MakeLParam(c.width, c.height));
        GLint viewport[4] = {};
        glGetIntegerv(GL_VIEWPORT, viewport);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(viewport[i], c.viewport[i]) << i;
        GLfloat projection[16] = {};
        glGetFloatv(GL_PROJECTION_MATRIX, projection);
        if (c.aspect == 0.0) {
            EXPECT_FLOAT_EQ(projection[0], 1.0f) << "identity left in place";
            continue;
        }
        const double f = 1.0 / std::tan(25.0 * 3.14159265358979 / 180.0);
        EXPECT_NEAR(projection[5], f, 1e-4);
        EXPECT_NEAR(projection[0], f / c.aspect, 1e-4);
        EXPECT_NEAR(projection[10], -(500.0 + 1.0) / (500.0 - 1.0), 1e-4);
        GLint mode = 0;
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        EXPECT_EQ(mode, GL_MODELVIEW);
    }
}

TEST_F(RenderFrameTest, RenderFramePresentsAndLeavesTheStateItSet) {
    RenderFrame(dc_);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT1));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_COLOR_MATERIAL));
    GLint depth = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1) << "every push is popped";
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
