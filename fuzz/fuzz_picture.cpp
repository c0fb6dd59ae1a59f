// The whole picture decoder from memory: recognition by content, then a draw at a small size
// and at the picture's own power-of-two size (bounded), as the texture loader asks for it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "platform/picture/picture.h"

namespace {

int BoundedSide(std::int32_t himetric) {
    const std::int64_t pixels =
        static_cast<std::int64_t>(himetric) * platform::kLogicalPixelsPerInch / platform::kHimetricPerInch;
    if (pixels < 1) return 1;
    return pixels > 512 ? 512 : static_cast<int>(pixels);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::PicturePtr picture;
    if (platform::LoadPictureFromMemory(data, size, picture) != platform::PictureResult::Ok) {
        return 0;
    }
    const int width = BoundedSide(platform::PictureWidthHimetric(*picture));
    const int height = BoundedSide(platform::PictureHeightHimetric(*picture));
    std::unique_ptr<std::uint8_t[]> pixels(new (std::nothrow)
                                               std::uint8_t[static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4]);
    if (pixels) {
        platform::RenderPicture(*picture, pixels.get(), width, height);
    }
    std::uint8_t small[16 * 8 * 4];
    platform::RenderPicture(*picture, small, 16, 8);
    return 0;
}
