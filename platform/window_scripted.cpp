// The window system with no display and no GL: windows and contexts are records, messages
// come from the test script, and every backend call is logged for the test to read.
#include <deque>
#include <string>
#include <vector>

#include "platform/window_internal.h"

namespace platform {
namespace {

struct ScriptEntry {
    bool idle;      // a pass on which nothing arrives
    UINT message;   // message number, unless idle
    WPARAM wParam;  // first parameter
    LPARAM lParam;  // second parameter
};

std::vector<std::string> g_callLog;  // one line per backend call since the last reset
std::deque<ScriptEntry> g_script;    // passes still to come, first to last
int g_passesAfterScript = 0;         // empty-queue pumps since the script ran out
int g_contextToken = 0;              // address handed out as the one scripted context

bool CreateNative(Window& window, const char* className, const char* title, int x, int y) {
    LogCall("CreateWindow " + std::string(className) + " \"" + title + "\" " + std::to_string(x) +
            "," + std::to_string(y) + " " + std::to_string(window.clientWidth) + "x" +
            std::to_string(window.clientHeight));
    window.native = &window;
    return true;
}

void DrawableSize(const Window& window, int& width, int& height) {
    width = window.clientWidth;
    height = window.clientHeight;
}

void Show(Window&) { LogCall("ShowWindow"); }

void PumpEvents() {
    if (g_script.empty()) {
        if (++g_passesAfterScript > scripted::kScriptGrace) {
            LogCall("script exhausted");
            PostQuitMessage(scripted::kScriptExhaustedCode);
        }
        return;
    }
    const ScriptEntry entry = g_script.front();
    g_script.pop_front();
    if (!entry.idle) {
        QueueMessage(LastWindow(), entry.message, entry.wParam, entry.lParam);
    }
}

void* CreateContext(Window&) {
    LogCall("CreateContext");
    return &g_contextToken;
}

bool MakeCurrent(Window* window, void*) {
    LogCall(window == nullptr ? "MakeCurrent none" : "MakeCurrent");
    return true;
}

void DeleteContext(void*) { LogCall("DeleteContext"); }

bool Swap(Window&) {
    LogCall("SwapBuffers");
    return true;
}

const WindowBackendOps kScriptedOps = {CreateNative,  DrawableSize, Show,          PumpEvents,
                                       CreateContext, MakeCurrent,  DeleteContext, Swap};

}  // namespace

const WindowBackendOps& ScriptedBackendOps() { return kScriptedOps; }

void LogCall(const std::string& line) { g_callLog.push_back(line); }

namespace scripted {

void PostScriptedMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    g_script.push_back(ScriptEntry{false, message, wParam, lParam});
}

void PostScriptedIdle() { g_script.push_back(ScriptEntry{true, WM_NULL, 0, 0}); }

const std::vector<std::string>& CallLog() { return g_callLog; }

void Reset() {
    ResetWindowSystem();
    g_callLog.clear();
    g_script.clear();
    g_passesAfterScript = 0;
}

}  // namespace scripted
}  // namespace platform
