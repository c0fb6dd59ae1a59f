#include "shell/app.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "browse/browse_state.h"
#include "platform/system.h"
#include "textures/picture_set.h"

using namespace platform;

HDC g_deviceContext = nullptr;
HGLRC g_renderContext = nullptr;

namespace {

bool g_closed = false;  // the close sequence has run

void OnCreate(HWND window) {
    g_deviceContext = GetDC(window);
    PIXELFORMATDESCRIPTOR request;  // double-buffered RGBA, 32 colour bits, 16 depth bits
    // Neither result is tested: the program runs, and handles input, whatever the outcome.
    SetPixelFormat(g_deviceContext, ChoosePixelFormat(g_deviceContext, request), request);
    g_renderContext = wglCreateContext(g_deviceContext);
    wglMakeCurrent(g_deviceContext, g_renderContext);
    const GLubyte* vendor = g_renderContext != nullptr ? glGetString(GL_VENDOR) : nullptr;
    if (vendor != nullptr) {
        OutputDebugStringA(reinterpret_cast<const char*>(vendor));
    }
    LoadPictureSet();
}

void OnSize(LPARAM lParam) {
    const int width = LoWord(static_cast<std::uintptr_t>(lParam));
    int height = HiWord(static_cast<std::uintptr_t>(lParam));
    if (height == 0) {
        height = 1;
    }
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(kFieldOfViewDegrees, static_cast<double>(width) / static_cast<double>(height),
                   kNearPlane, kFarPlane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void OnClose() {
    // The close message may come again (dispatched anew on idle passes, or a second close
    // request): the sequence runs once.
    if (g_closed) {
        return;
    }
    g_closed = true;
    ReleasePictureSet();
    wglMakeCurrent(g_deviceContext, nullptr);
    wglDeleteContext(g_renderContext);
    g_renderContext = nullptr;
    PostQuitMessage(0);
}

}  // namespace

LRESULT WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: OnCreate(window); return 0;
        case WM_SIZE: OnSize(lParam); return 0;
        case WM_CLOSE: OnClose(); return 0;
        case WM_KEYDOWN: HandleKeyDown(static_cast<std::uint32_t>(wParam)); return 0;
        case WM_MOUSEMOVE: HandleMouseMove(LoWord(static_cast<std::uintptr_t>(lParam))); return 0;
        case WM_LBUTTONDOWN: HandleLeftButton(true); return 0;
        case WM_LBUTTONUP: HandleLeftButton(false); return 0;
        case WM_RBUTTONDOWN: HandleRightButtonDown(); return 0;
        case WM_MOUSEWHEEL:
            HandleMouseWheel(static_cast<std::int16_t>(HiWord(wParam)));
            return 0;
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

int RunMainLoop(HWND window, FrameFunction renderFrame) {
    MSG current;             // the message taken last; dispatched again while nothing arrives
    bool haveMessage = false;  // no message has been taken yet
    for (;;) {
        MSG taken;
        if (PeekMessageA(taken, window)) {
            current = taken;
            haveMessage = true;
        }
        if (haveMessage && current.message == WM_QUIT) {
            break;
        }
        if (g_renderContext != nullptr) {
            renderFrame(g_deviceContext);
        }
        if (haveMessage) {
            TranslateMessage(current);
            DispatchMessageA(current);
        }
    }
    return static_cast<int>(current.wParam);
}

int RunVarnolt(FrameFunction renderFrame) {
    g_closed = false;
    WNDCLASS windowClass;
    windowClass.className = kClassName;
    windowClass.windowProc = WindowProcedure;
    if (!RegisterClassA(windowClass)) {
        return 0;
    }
    HWND window = CreateWindowA(kClassName, kWindowTitle, 0, 0, kClientWidth, kClientHeight);
    if (window == nullptr) {
        return 0;
    }
    ShowWindow(window);
    return RunMainLoop(window, renderFrame);
}
