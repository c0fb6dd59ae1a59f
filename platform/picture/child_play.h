// Drawing through a library that may never return: the metafile players can spend minutes in
// one record, allocate gigabytes for one shape or die on a division by zero, and none of it can
// be stopped from outside once it has started.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/picture/picture.h"

namespace platform {

// Longest a drawing may take before its child process is killed.
constexpr std::chrono::milliseconds kMaxChildPlayTime{5000};

// Draws the picture at width × height into pixels (4 bytes per pixel) by calling play in a forked
// child that draws into shared memory; the pixels are copied back only when play returned Ok in a
// child that exited by itself within limit, and are left zeroed otherwise. A child that crashes,
// hangs or runs out of memory costs only the picture.
PictureResult PlayInChild(Picture& picture, std::uint8_t* pixels, int width, int height,
                          PictureResult (*play)(Picture& picture, std::uint8_t* target, int width,
                                                int height),
                          std::chrono::milliseconds limit = kMaxChildPlayTime);

}  // namespace platform
