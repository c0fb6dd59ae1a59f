// What every format's decoder provides to the picture decoder, and the helpers they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/picture/picture.h"

namespace platform {

// One picture format: recognition by content, a cheap open that reads only the header, and a
// render that decodes and draws at the requested size.
struct PictureBackend {
    const char* name;  // short format name, for diagnostics
    // True when the bytes begin as this format does; must not read past size.
    bool (*matches)(const std::uint8_t* data, std::size_t size);
    // Reads the header and fills the picture's sizes; no pixel data is decoded.
    PictureResult (*open)(Picture& picture);
    // Decodes and draws the whole picture into the target (see RenderPicture).
    PictureResult (*render)(Picture& picture, std::uint8_t* pixels, int width, int height);
};

struct Picture {
    const PictureBackend* backend = nullptr;  // the format that recognised the bytes
    std::unique_ptr<std::uint8_t[]> bytes;    // the whole file, owned
    std::size_t size = 0;                     // bytes in the file
    std::int32_t widthHimetric = 0;           // HIMETRIC, whole picture
    std::int32_t heightHimetric = 0;          // HIMETRIC, whole picture
    std::int32_t pixelWidth = 0;              // pixels of a bitmap's native size; 0 for vectors
    std::int32_t pixelHeight = 0;             // pixels of a bitmap's native size; 0 for vectors
};

// Field readers for the file formats; the caller has checked the bytes are there.
inline std::uint16_t ReadLe16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}
inline std::uint32_t ReadLe32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}
inline std::uint32_t ReadBe32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

// Sets a bitmap's native pixel size and its HIMETRIC size at kLogicalPixelsPerInch.
void SetBitmapSize(Picture& picture, std::int32_t width, std::int32_t height);

// True when width × height is positive and within kMaxPicturePixels.
bool PixelCountAllowed(std::int64_t width, std::int64_t height);

// True when a metafile of this many records may be drawn at width × height. Any record may draw
// a line across the whole target, so the time a drawing takes grows with records × side, not
// with the file's size: a few thousand records are nothing at 256 × 256 and tens of seconds at
// 8192 × 8192.
bool MetafileDrawingAllowed(std::size_t records, int width, int height);

// Fetches an http:// URL into memory; false on any failure or a response other than 200.
bool FetchHttp(const char* url, std::unique_ptr<std::uint8_t[]>& bytes, std::size_t& size);

extern const PictureBackend kJpegBackend;
extern const PictureBackend kGifBackend;
extern const PictureBackend kPixbufBackend;  // BMP and PNG
extern const PictureBackend kIcoBackend;
extern const PictureBackend kEmfBackend;
extern const PictureBackend kWmfBackend;

}  // namespace platform
