// What the window, message and context services share with the backends behind them.
#pragma once

#include <string>

#include "platform/window.h"

namespace platform {

struct DeviceContext {
    Window* window = nullptr;  // the window this surface belongs to
    int pixelFormat = 0;       // 1-based index set by SetPixelFormat; 0 until then
};

struct Window {
    WNDPROC windowProc = nullptr;  // the class's procedure
    void* native = nullptr;        // the backend's window object
    int clientWidth = 0;           // pixels, as created
    int clientHeight = 0;          // pixels, as created
    DeviceContext dc;              // the window's one drawing surface
};

struct RenderContext {
    void* native = nullptr;  // the backend's context object
    HDC dc = nullptr;        // the surface it was created for
};

// One implementation of the window system: SDL2, or the scripted stand-in for tests.
struct WindowBackendOps {
    // Creates the native window, hidden, with the client size of the window record.
    bool (*createNative)(Window& window, const char* className, const char* title, int x, int y);
    // Size of the window's drawable in pixels (larger than the client size on HiDPI screens).
    void (*drawableSize)(const Window& window, int& width, int& height);
    void (*show)(Window& window);
    // Turns pending native events into queued or sent messages.
    void (*pumpEvents)();
    void* (*createContext)(Window& window);
    bool (*makeCurrent)(Window* window, void* context);
    void (*deleteContext)(void* context);
    bool (*swap)(Window& window);
};

const WindowBackendOps& SdlBackendOps();
const WindowBackendOps& ScriptedBackendOps();

// Appends a message to the queue, as a window system posts input.
void QueueMessage(Window* window, UINT message, WPARAM wParam, LPARAM lParam);

// Delivers a message straight to the window's procedure, as a window system sends
// notifications (size, focus) without going through the queue.
LRESULT SendMessageA(Window* window, UINT message, WPARAM wParam, LPARAM lParam);

// The window most recently created, or null.
Window* LastWindow();

// Appends a line to the scripted backend's call log.
void LogCall(const std::string& line);

// Forgets every window, class and queued message (scripted tests start afresh).
void ResetWindowSystem();

}  // namespace platform
