#include "support/test_support.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/window.h"

namespace testing_support {
namespace {

platform::LRESULT TestWindowProc(platform::HWND window, platform::UINT message,
                                 platform::WPARAM wParam, platform::LPARAM lParam) {
    return platform::DefWindowProcA(window, message, wParam, lParam);
}

platform::HGLRC g_testContext = nullptr;  // kept for the whole test process

bool MakeContext() {
    platform::UseBackend(platform::Backend::Sdl);
    platform::WNDCLASS windowClass;
    windowClass.className = "VarnoltTestClass";
    windowClass.windowProc = TestWindowProc;
    if (!platform::RegisterClassA(windowClass)) {
        return false;
    }
    platform::HWND window = platform::CreateWindowA("VarnoltTestClass", "test", 0, 0, 64, 64);
    if (window == nullptr) {
        return false;
    }
    platform::HDC dc = platform::GetDC(window);
    platform::PIXELFORMATDESCRIPTOR request;
    platform::SetPixelFormat(dc, platform::ChoosePixelFormat(dc, request), request);
    g_testContext = platform::wglCreateContext(dc);
    return g_testContext != nullptr && platform::wglMakeCurrent(dc, g_testContext);
}

}  // namespace

bool EnsureGlContext() {
    static const bool ready = MakeContext();
    return ready;
}

std::string SourceDir() { return VARNOLT_SOURCE_DIR; }

std::string CorpusDir() {
    const std::string dir = SourceDir() + "/../shared/corpus";
    struct stat info {};
    return stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? dir : std::string();
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testing_support
