// What several test executables share: a hidden window with a current GL context, and the
// places where fixture files live.
#pragma once

#include <string>

namespace testing_support {

// Makes a hidden 64 × 64 window with a current GL context the first time it is called (the
// SDL backend; needs a display). False when no context can be had.
bool EnsureGlContext();

// The shared corpus folder beside the checkout, or "" when it is not there.
std::string CorpusDir();

// The repository's source folder.
std::string SourceDir();

// Reads a whole file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

}  // namespace testing_support
