// The window system on SDL2: the one file that sees SDL events, translated into the message
// model in one switch.
#include <SDL.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/window_internal.h"

namespace platform {
namespace {

bool g_sdlReady = false;                     // SDL's video subsystem is initialised
volatile std::sig_atomic_t g_closeSignal = 0;  // SIGINT or SIGTERM arrived, not yet delivered

void OnCloseSignal(int) { g_closeSignal = 1; }

// Ctrl+C in a terminal, or a polite kill, closes the window as the close button does. SIGINT
// stays ignored where the shell that started the program ignores it (a background job).
void InstallCloseSignals() {
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    struct sigaction previous {};
    if (sigaction(SIGINT, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
        sigaction(SIGINT, &action, nullptr);
    }
}

bool EnsureSdl() {
    if (g_sdlReady) {
        return true;
    }
    // A button released outside the window must not reach it: the browsing code relies on
    // seeing only what happens over the client area, as with an uncaptured desktop window.
    SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "0");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
        return false;
    }
    // Keys are bindings here, not text: no text-input events or input-method windows.
    SDL_StopTextInput();
    InstallCloseSignals();
    g_sdlReady = true;
    return true;
}

SDL_Window* Native(const Window& window) { return static_cast<SDL_Window*>(window.native); }

WPARAM VirtualKeyFor(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z) {
        return static_cast<WPARAM>('A' + (key - SDLK_a));
    }
    if (key >= SDLK_0 && key <= SDLK_9) {
        return static_cast<WPARAM>('0' + (key - SDLK_0));
    }
    if (key >= SDLK_F1 && key <= SDLK_F12) {
        return VK_F1 + static_cast<WPARAM>(key - SDLK_F1);
    }
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9) {
        return VK_NUMPAD0 + 1 + static_cast<WPARAM>(key - SDLK_KP_1);
    }
    switch (key) {
        case SDLK_LEFT: return VK_LEFT;
        case SDLK_UP: return VK_UP;
        case SDLK_RIGHT: return VK_RIGHT;
        case SDLK_DOWN: return VK_DOWN;
        case SDLK_HOME: return VK_HOME;
        case SDLK_END: return VK_END;
        case SDLK_INSERT: return VK_INSERT;
        case SDLK_DELETE: return VK_DELETE;
        case SDLK_PAGEUP: return VK_PRIOR;
        case SDLK_PAGEDOWN: return VK_NEXT;
        case SDLK_ESCAPE: return VK_ESCAPE;
        case SDLK_RETURN: return VK_RETURN;
        case SDLK_KP_ENTER: return VK_RETURN;
        case SDLK_BACKSPACE: return VK_BACK;
        case SDLK_TAB: return VK_TAB;
        case SDLK_SPACE: return VK_SPACE;
        case SDLK_PAUSE: return VK_PAUSE;
        case SDLK_CAPSLOCK: return VK_CAPITAL;
        case SDLK_LSHIFT:
        case SDLK_RSHIFT: return VK_SHIFT;
        case SDLK_LCTRL:
        case SDLK_RCTRL: return VK_CONTROL;
        case SDLK_LALT:
        case SDLK_RALT: return VK_MENU;
        case SDLK_KP_0: return VK_NUMPAD0;
        case SDLK_KP_MULTIPLY: return VK_MULTIPLY;
        case SDLK_KP_PLUS: return VK_ADD;
        case SDLK_KP_MINUS: return VK_SUBTRACT;
        case SDLK_KP_PERIOD: return VK_DECIMAL;
        case SDLK_KP_DIVIDE: return VK_DIVIDE;
        default: return 0;
    }
}

WPARAM ButtonState(Uint32 buttons, SDL_Keymod mods) {
    WPARAM state = 0;
    if ((buttons & SDL_BUTTON_LMASK) != 0) state |= MK_LBUTTON;
    if ((buttons & SDL_BUTTON_RMASK) != 0) state |= MK_RBUTTON;
    if ((buttons & SDL_BUTTON_MMASK) != 0) state |= MK_MBUTTON;
    if ((mods & KMOD_SHIFT) != 0) state |= MK_SHIFT;
    if ((mods & KMOD_CTRL) != 0) state |= MK_CONTROL;
    return state;
}

Window* WindowFor(Uint32 windowId) {
    // There is one window; events that name no window (quit, signals) go to it as well.
    (void)windowId;
    return LastWindow();
}

// Key-down and key-up parameters as the desktop packs them: repeat count 1 in the low word,
// the scan code in bits 16-23, the previous key state in bit 30, the transition in bit 31.
LPARAM KeyParam(const SDL_KeyboardEvent& key, bool down) {
    std::uint32_t value = 1u | ((static_cast<std::uint32_t>(key.keysym.scancode) & 0xFFu) << 16);
    if (!down || key.repeat != 0) value |= 1u << 30;
    if (!down) value |= 1u << 31;
    return static_cast<LPARAM>(static_cast<std::int32_t>(value));
}

void Translate(const SDL_Event& event) {
    switch (event.type) {
        case SDL_QUIT:
            QueueMessage(WindowFor(0), WM_CLOSE, 0, 0);
            break;
        case SDL_WINDOWEVENT: {
            Window* window = WindowFor(event.window.windowID);
            switch (event.window.event) {
                case SDL_WINDOWEVENT_CLOSE: QueueMessage(window, WM_CLOSE, 0, 0); break;
                case SDL_WINDOWEVENT_EXPOSED: QueueMessage(window, WM_PAINT, 0, 0); break;
                case SDL_WINDOWEVENT_SIZE_CHANGED: {
                    int width = 0;
                    int height = 0;
                    SDL_GL_GetDrawableSize(Native(*window), &width, &height);
                    SendMessageA(window, WM_SIZE, 0, MakeLParam(width, height));
                    break;
                }
                case SDL_WINDOWEVENT_FOCUS_GAINED: SendMessageA(window, WM_SETFOCUS, 0, 0); break;
                case SDL_WINDOWEVENT_FOCUS_LOST: SendMessageA(window, WM_KILLFOCUS, 0, 0); break;
                case SDL_WINDOWEVENT_LEAVE: QueueMessage(window, WM_MOUSELEAVE, 0, 0); break;
                default: break;
            }
            break;
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            const bool down = event.type == SDL_KEYDOWN;
            const SDL_Keycode key = event.key.keysym.sym;
            // With Alt held (and for F10) keys are system keys, which the window procedure
            // leaves to the default handler.
            const bool system = (event.key.keysym.mod & KMOD_ALT) != 0 || key == SDLK_F10 ||
                                key == SDLK_LALT || key == SDLK_RALT;
            const UINT message = system ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP)
                                        : (down ? WM_KEYDOWN : WM_KEYUP);
            QueueMessage(WindowFor(event.key.windowID), message, VirtualKeyFor(key),
                         KeyParam(event.key, down));
            break;
        }
        case SDL_MOUSEMOTION:
            QueueMessage(WindowFor(event.motion.windowID), WM_MOUSEMOVE,
                         ButtonState(event.motion.state, SDL_GetModState()),
                         MakeLParam(event.motion.x, event.motion.y));
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            const bool down = event.type == SDL_MOUSEBUTTONDOWN;
            UINT message = 0;
            switch (event.button.button) {
                case SDL_BUTTON_LEFT: message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
                case SDL_BUTTON_RIGHT: message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
                case SDL_BUTTON_MIDDLE: message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
                default: message = down ? WM_XBUTTONDOWN : WM_XBUTTONUP; break;
            }
            QueueMessage(WindowFor(event.button.windowID), message,
                         ButtonState(SDL_GetMouseState(nullptr, nullptr), SDL_GetModState()),
                         MakeLParam(event.button.x, event.button.y));
            break;
        }
        case SDL_MOUSEWHEEL: {
            int notches = event.wheel.y;
            if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) {
                notches = -notches;
            }
            if (notches == 0) {
                break;  // a horizontal scroll: nothing this program listens to
            }
            int x = 0;
            int y = 0;
            SDL_GetGlobalMouseState(&x, &y);
            const WPARAM state = ButtonState(SDL_GetMouseState(nullptr, nullptr), SDL_GetModState());
            QueueMessage(WindowFor(event.wheel.windowID), WM_MOUSEWHEEL,
                         MakeWParam(static_cast<int>(state), notches * WHEEL_DELTA),
                         MakeLParam(x, y));
            break;
        }
        default:
            // Device, clipboard, text and other events have no counterpart in the message
            // model this program is written against.
            break;
    }
}

bool CreateNative(Window& window, const char* className, const char* title, int x, int y) {
    // SDL takes the X11 WM_CLASS and the Wayland app_id from these variables when its video
    // subsystem starts; that is where the window class name is seen on this desktop.
    setenv("SDL_VIDEO_X11_WMCLASS", className, 1);
    setenv("SDL_VIDEO_WAYLAND_WMCLASS", className, 1);
    if (!EnsureSdl()) {
        return false;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window* native = SDL_CreateWindow(
        title, x, y, window.clientWidth, window.clientHeight,
        SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI);
    if (native == nullptr) {
        std::fprintf(stderr, "SDL_CreateWindow: %s\n", SDL_GetError());
        return false;
    }
    window.native = native;
    return true;
}

void DrawableSize(const Window& window, int& width, int& height) {
    SDL_GL_GetDrawableSize(Native(window), &width, &height);
}

void Show(Window& window) {
    SDL_ShowWindow(Native(window));
    // Showing maps the window and may change its size; let those arrive now, before the first
    // frame, as the desktop does when a window is shown and updated.
    SDL_PumpEvents();
}

void PumpEvents() {
    if (g_closeSignal != 0) {
        g_closeSignal = 0;
        QueueMessage(LastWindow(), WM_CLOSE, 0, 0);
    }
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        Translate(event);
    }
}

void* CreateContext(Window& window) {
    SDL_GLContext context = SDL_GL_CreateContext(Native(window));
    if (context == nullptr) {
        std::fprintf(stderr, "SDL_GL_CreateContext: %s\n", SDL_GetError());
        return nullptr;
    }
    // Every scroll step is applied once per frame, so frames are paced by the display where
    // the driver allows it.
    SDL_GL_SetSwapInterval(1);
    return context;
}

bool MakeCurrent(Window* window, void* context) {
    if (window == nullptr) {
        return SDL_GL_MakeCurrent(nullptr, nullptr) == 0;
    }
    return SDL_GL_MakeCurrent(Native(*window), static_cast<SDL_GLContext>(context)) == 0;
}

void DeleteContext(void* context) { SDL_GL_DeleteContext(static_cast<SDL_GLContext>(context)); }

bool Swap(Window& window) {
    SDL_GL_SwapWindow(Native(window));
    return true;
}

const WindowBackendOps kSdlOps = {CreateNative, DrawableSize, Show,          PumpEvents,
                                  CreateContext, MakeCurrent,  DeleteContext, Swap};

}  // namespace

const WindowBackendOps& SdlBackendOps() { return kSdlOps; }

}  // namespace platform
