// The desktop services the shell is written against: a window class and window, a message
// queue with Windows' message numbers and parameter packing, and an OpenGL rendering context
// bound to the window's device context. Two backends
// stand behind it: SDL2 for real windows, and a scripted one with no display and no GL, so the
// main loop can be driven message by message in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

struct Window;
struct DeviceContext;
struct RenderContext;
using HWND = Window*;
using HDC = DeviceContext*;
using HGLRC = RenderContext*;

// Message numbers, with the values Windows gives them.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT WM_XBUTTONDOWN = 0x020B;
constexpr UINT WM_XBUTTONUP = 0x020C;
constexpr UINT WM_MOUSELEAVE = 0x02A3;

// Virtual-key codes, with the values Windows gives them.
constexpr WPARAM VK_BACK = 0x08;
constexpr WPARAM VK_TAB = 0x09;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_SHIFT = 0x10;
constexpr WPARAM VK_CONTROL = 0x11;
constexpr WPARAM VK_MENU = 0x12;
constexpr WPARAM VK_PAUSE = 0x13;
constexpr WPARAM VK_CAPITAL = 0x14;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_SPACE = 0x20;
constexpr WPARAM VK_PRIOR = 0x21;
constexpr WPARAM VK_NEXT = 0x22;
constexpr WPARAM VK_END = 0x23;
constexpr WPARAM VK_HOME = 0x24;
constexpr WPARAM VK_LEFT = 0x25;
constexpr WPARAM VK_UP = 0x26;
constexpr WPARAM VK_RIGHT = 0x27;
constexpr WPARAM VK_DOWN = 0x28;
constexpr WPARAM VK_INSERT = 0x2D;
constexpr WPARAM VK_DELETE = 0x2E;
constexpr WPARAM VK_NUMPAD0 = 0x60;
constexpr WPARAM VK_MULTIPLY = 0x6A;
constexpr WPARAM VK_ADD = 0x6B;
constexpr WPARAM VK_SUBTRACT = 0x6D;
constexpr WPARAM VK_DECIMAL = 0x6E;
constexpr WPARAM VK_DIVIDE = 0x6F;
constexpr WPARAM VK_F1 = 0x70;

// Key state bits carried in the wParam of mouse messages.
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr WPARAM MK_SHIFT = 0x0004;
constexpr WPARAM MK_CONTROL = 0x0008;
constexpr WPARAM MK_MBUTTON = 0x0010;

// One notch of the wheel, as the wheel message reports it.
constexpr int WHEEL_DELTA = 120;

constexpr std::uint16_t LoWord(std::uintptr_t v) { return static_cast<std::uint16_t>(v & 0xFFFF); }
constexpr std::uint16_t HiWord(std::uintptr_t v) {
    return static_cast<std::uint16_t>((v >> 16) & 0xFFFF);
}
// Packs two 16-bit values as Windows packs positions and sizes: low word first.
constexpr LPARAM MakeLParam(int lo, int hi) {
    return static_cast<LPARAM>((static_cast<std::uint32_t>(lo) & 0xFFFF) |
                               ((static_cast<std::uint32_t>(hi) & 0xFFFF) << 16));
}
constexpr WPARAM MakeWParam(int lo, int hi) {
    return static_cast<WPARAM>(static_cast<std::uint32_t>(MakeLParam(lo, hi)));
}

using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// One queued message, as the queue hands it out.
struct MSG {
    HWND window = nullptr;  // target window; null for the thread's quit message
    UINT message = WM_NULL;  // message number
    WPARAM wParam = 0;       // first parameter, packed as Windows packs it
    LPARAM lParam = 0;       // second parameter, packed as Windows packs it
};

// The part of a window class this program fills in.
struct WNDCLASS {
    const char* className = nullptr;  // name windows are created with
    WNDPROC windowProc = nullptr;     // receives every message for the class's windows
};

// The pixel format request of the window's drawing surface.
struct PIXELFORMATDESCRIPTOR {
    bool doubleBuffer = true;  // a back buffer presented by SwapBuffers
    int colorBits = 32;        // bits per pixel of the colour buffer
    int alphaBits = 0;         // bits of destination alpha
    int depthBits = 16;        // bits of the depth buffer
    int stencilBits = 0;       // bits of the stencil buffer
};

// Which implementation serves every call below; chosen before the first window is made.
enum class Backend {
    Sdl,       // real windows, input and GL through SDL2
    Scripted,  // no display and no GL: messages come from PostScriptedMessage
};
void UseBackend(Backend backend);

// Registers a window class; false when the name is empty, taken or the procedure is missing.
bool RegisterClassA(const WNDCLASS& windowClass);

// Creates a hidden window with the given client size at (x, y). Before it returns the class's
// procedure receives WM_CREATE and then WM_SIZE with the drawable size. Null on failure.
HWND CreateWindowA(const char* className, const char* title, int x, int y, int clientWidth,
                   int clientHeight);

// Shows the window on the screen.
void ShowWindow(HWND window);

// Takes at most one pending message for the window, or the quit message once it is posted;
// false when nothing is pending. The taken message is removed from the queue.
bool PeekMessageA(MSG& message, HWND window);

// Nothing to translate: character messages are not produced for this program.
void TranslateMessage(const MSG& message);

// Hands the message to its window's procedure and returns what the procedure returned.
LRESULT DispatchMessageA(const MSG& message);

// Default handling for any message a window procedure does not handle itself: ignored.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Asks the loop to end: the next peek returns WM_QUIT with the exit code as wParam.
void PostQuitMessage(int exitCode);

// The window's drawing surface; lives as long as the window.
HDC GetDC(HWND window);

// Index of the pixel format closest to the request (1-based, 0 if none fits).
int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR& request);
bool SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR& request);

// An OpenGL context offering the fixed-function pipeline; null on failure.
HGLRC wglCreateContext(HDC dc);
// Makes the context current on this thread; a null context unbinds the current one.
bool wglMakeCurrent(HDC dc, HGLRC context);
bool wglDeleteContext(HGLRC context);

// Presents the back buffer, waiting for vertical sync where the driver offers it.
bool SwapBuffers(HDC dc);

// Test hooks of the scripted backend. The script is a list of passes: each time the queue is
// found empty, the next entry is delivered (a message, or nothing for an idle pass). Once the
// script has run out, a pass more than kScriptGrace passes later posts quit with code 99, so a
// loop that never ends fails its test instead of hanging it.
namespace scripted {
constexpr int kScriptGrace = 1000;
constexpr int kScriptExhaustedCode = 99;
// Appends a message for the last created window, as if the window system had posted it.
void PostScriptedMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
// Appends a pass on which nothing arrives.
void PostScriptedIdle();
// Calls to the backend since the last reset, one short line each ("SwapBuffers", ...).
const std::vector<std::string>& CallLog();
// Forgets windows, classes, queued messages, the script, the quit request and the call log.
void Reset();
}  // namespace scripted

}  // namespace platform
