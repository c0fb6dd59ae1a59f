// Window classes, windows, the message queue and context handles, over whichever backend is
// in use.
#include <deque>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/window_internal.h"

namespace platform {
namespace {

struct WindowSystem {
    const WindowBackendOps* ops = &SdlBackendOps();     // backend serving every call
    std::map<std::string, WNDPROC> classes;             // registered class name → procedure
    std::vector<std::unique_ptr<Window>> windows;       // every window made, kept to the end
    std::deque<MSG> queue;                              // posted messages, oldest first
    bool quitPosted = false;                            // PostQuitMessage called, not yet taken
    int quitCode = 0;                                   // exit code carried by WM_QUIT
};

WindowSystem& System() {
    static WindowSystem system;
    return system;
}

bool TakeQueued(MSG& message, HWND window) {
    std::deque<MSG>& queue = System().queue;
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (window == nullptr || it->window == window) {
            message = *it;
            queue.erase(it);
            return true;
        }
    }
    return false;
}

}  // namespace

void UseBackend(Backend backend) {
    System().ops = backend == Backend::Sdl ? &SdlBackendOps() : &ScriptedBackendOps();
}

bool RegisterClassA(const WNDCLASS& windowClass) {
    if (windowClass.className == nullptr || windowClass.className[0] == '\0' ||
        windowClass.windowProc == nullptr) {
        return false;
    }
    return System().classes.emplace(windowClass.className, windowClass.windowProc).second;
}

HWND CreateWindowA(const char* className, const char* title, int x, int y, int clientWidth,
                   int clientHeight) {
    WindowSystem& system = System();
    if (className == nullptr || clientWidth < 0 || clientHeight < 0) {
        return nullptr;
    }
    const auto found = system.classes.find(className);
    if (found == system.classes.end()) {
        return nullptr;
    }
    std::unique_ptr<Window> window(new (std::nothrow) Window);
    if (!window) {
        return nullptr;
    }
    window->windowProc = found->second;
    window->clientWidth = clientWidth;
    window->clientHeight = clientHeight;
    window->dc.window = window.get();
    if (!system.ops->createNative(*window, className, title == nullptr ? "" : title, x, y)) {
        return nullptr;
    }
    Window* created = window.get();
    system.windows.push_back(std::move(window));
    // As on the desktop this program was designed for, creation delivers WM_CREATE and then a
    // first WM_SIZE before it returns, so the projection is set before the first frame.
    SendMessageA(created, WM_CREATE, 0, 0);
    int width = 0;
    int height = 0;
    system.ops->drawableSize(*created, width, height);
    SendMessageA(created, WM_SIZE, 0, MakeLParam(width, height));
    return created;
}

void ShowWindow(HWND window) {
    if (window != nullptr) {
        System().ops->show(*window);
    }
}

bool PeekMessageA(MSG& message, HWND window) {
    WindowSystem& system = System();
    if (system.quitPosted) {
        system.quitPosted = false;
        message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(system.quitCode), 0};
        return true;
    }
    if (TakeQueued(message, window)) {
        return true;
    }
    system.ops->pumpEvents();
    if (system.quitPosted) {
        system.quitPosted = false;
        message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(system.quitCode), 0};
        return true;
    }
    return TakeQueued(message, window);
}

void TranslateMessage(const MSG&) {}

LRESULT DispatchMessageA(const MSG& message) {
    if (message.window == nullptr) {
        return 0;
    }
    return message.window->windowProc(message.window, message.message, message.wParam,
                                      message.lParam);
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

void PostQuitMessage(int exitCode) {
    System().quitPosted = true;
    System().quitCode = exitCode;
}

HDC GetDC(HWND window) { return window == nullptr ? nullptr : &window->dc; }

int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR& request) {
    // The window's surface is made with the one format this program asks for (the backend has
    // to choose it before the native window exists), so any request that format satisfies
    // gets it.
    if (dc == nullptr || request.colorBits > 32 || request.depthBits > 24 ||
        request.stencilBits > 8 || request.alphaBits > 8) {
        return 0;
    }
    return 1;
}

bool SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR&) {
    if (dc == nullptr || format != 1 || dc->pixelFormat != 0) {
        return false;
    }
    dc->pixelFormat = format;
    return true;
}

HGLRC wglCreateContext(HDC dc) {
    if (dc == nullptr || dc->window == nullptr) {
        return nullptr;
    }
    void* native = System().ops->createContext(*dc->window);
    if (native == nullptr) {
        return nullptr;
    }
    HGLRC context = new (std::nothrow) RenderContext;
    if (context == nullptr) {
        System().ops->deleteContext(native);
        return nullptr;
    }
    context->native = native;
    context->dc = dc;
    return context;
}

bool wglMakeCurrent(HDC dc, HGLRC context) {
    if (context == nullptr) {
        return System().ops->makeCurrent(nullptr, nullptr);
    }
    if (dc == nullptr || dc->window == nullptr) {
        return false;
    }
    return System().ops->makeCurrent(dc->window, context->native);
}

bool wglDeleteContext(HGLRC context) {
    if (context == nullptr) {
        return false;
    }
    System().ops->deleteContext(context->native);
    delete context;
    return true;
}

bool SwapBuffers(HDC dc) {
    if (dc == nullptr || dc->window == nullptr) {
        return false;
    }
    return System().ops->swap(*dc->window);
}

void QueueMessage(Window* window, UINT message, WPARAM wParam, LPARAM lParam) {
    System().queue.push_back(MSG{window, message, wParam, lParam});
}

LRESULT SendMessageA(Window* window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window == nullptr) {
        return 0;
    }
    return window->windowProc(window, message, wParam, lParam);
}

Window* LastWindow() {
    WindowSystem& system = System();
    return system.windows.empty() ? nullptr : system.windows.back().get();
}

void ResetWindowSystem() {
    WindowSystem& system = System();
    system.classes.clear();
    system.windows.clear();
    system.queue.clear();
    system.quitPosted = false;
    system.quitCode = 0;
}

}  // namespace platform
