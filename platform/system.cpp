#include "platform/system.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

namespace platform {

void OutputDebugStringA(const char* text) {
    if (text == nullptr) {
        return;
    }
    std::fputs(text, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void Sleep(unsigned milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal (SIGTERM arriving as the close message) must not cut the frame's pause short.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

std::string GetCurrentDirectoryA() {
    std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
    return cwd ? std::string(cwd.get()) : std::string();
}

std::int32_t MulDiv(std::int32_t number, std::int32_t numerator, std::int32_t denominator) {
    if (denominator == 0) {
        return -1;
    }
    const std::int64_t product = static_cast<std::int64_t>(number) * numerator;
    const std::int64_t half = (denominator > 0 ? denominator : -static_cast<std::int64_t>(denominator)) / 2;
    const bool negative = (product < 0) != (denominator < 0);
    const std::int64_t magnitude = (product < 0 ? -product : product) + half;
    const std::int64_t absDenominator = denominator < 0 ? -static_cast<std::int64_t>(denominator) : denominator;
    const std::int64_t quotient = magnitude / absDenominator;
    const std::int64_t result = negative ? -quotient : quotient;
    if (result > INT32_MAX || result < INT32_MIN) {
        return -1;
    }
    return static_cast<std::int32_t>(result);
}

}  // namespace platform
