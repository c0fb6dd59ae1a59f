// The picture decoder: opens a picture file or an http:// URL, recognising its format by its
// content rather than its name, reports its size in HIMETRIC (hundredths of a millimetre) and
// draws the whole picture stretched to any size into a 32-bit bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

// Why a picture could not be opened or drawn.
enum class PictureResult {
    Ok,
    OpenFailed,     // the file could not be read, or the URL fetched
    UnknownFormat,  // no decoder recognises the content
    Corrupt,        // recognised, but malformed or truncated beyond use
    TooLarge,       // the declared size exceeds what this decoder will allocate
    OutOfMemory,    // an allocation failed
};

// Logical pixels per inch of the surface pictures are drawn on; bitmaps report their size at
// this resolution, so a bitmap's HIMETRIC size converts back to its pixel size.
constexpr int kLogicalPixelsPerInch = 96;
constexpr int kHimetricPerInch = 2540;

// Largest number of pixels any decoder allocates for one picture (or a drawing target).
constexpr std::uint64_t kMaxPicturePixels = std::uint64_t{1} << 26;

// Largest file or download the decoder reads, in bytes.
constexpr std::size_t kMaxPictureBytes = std::size_t{256} << 20;

struct Picture;
struct PictureDeleter {
    void operator()(Picture* picture) const;
};
// Owns an open picture; releasing it frees everything the decoder holds for it.
using PicturePtr = std::unique_ptr<Picture, PictureDeleter>;

// Opens a file path, or an http:// URL when the name starts with "http://".
PictureResult OleLoadPicturePath(const char* pathOrUrl, PicturePtr& picture);

// Opens a picture from bytes in memory; the bytes are copied.
PictureResult LoadPictureFromMemory(const std::uint8_t* data, std::size_t size,
                                    PicturePtr& picture);

// Size of the whole picture in HIMETRIC units.
std::int32_t PictureWidthHimetric(const Picture& picture);
std::int32_t PictureHeightHimetric(const Picture& picture);

// Name of the decoder that recognised the picture ("jpeg", "gif", ...).
const char* PictureFormatName(const Picture& picture);

// Draws the whole picture stretched to width × height into pixels: 4 bytes per pixel in memory
// order blue, green, red, unused; rows bottom-up (row 0 is the picture's bottom row), tightly
// packed. Every pixel of the target is written.
PictureResult RenderPicture(Picture& picture, std::uint8_t* pixels, int width, int height);

// Frees the memory the decoders keep on this thread from one picture to the next (the decoded
// image, the stretch's tables); the next picture allocates afresh.
void ReleasePictureScratch();

}  // namespace platform
