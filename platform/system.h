// Process services that need no window: the debugger output, a sleep, the current directory
// and the rounding multiply-divide that size conversions use.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Writes one text to the debugger output (standard error), unchanged, one text per line.
void OutputDebugStringA(const char* text);

// Suspends the thread for the given number of milliseconds.
void Sleep(unsigned milliseconds);

// The process's current directory; empty when it cannot be read.
std::string GetCurrentDirectoryA();

// The separator placed between a directory and a file name.
constexpr char kPathSeparator = '/';

// number × numerator ÷ denominator in 64 bits, rounded half away from zero; -1 when the
// denominator is 0 or the result does not fit in 32 bits.
std::int32_t MulDiv(std::int32_t number, std::int32_t numerator, std::int32_t denominator);

}  // namespace platform
