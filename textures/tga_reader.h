// The TGA parser behind TextureLoader::LoadTgaTexture, apart from any GL work, so tests and the
// fuzzer can drive it from memory without a rendering context.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace textures {

// Bytes in a TGA file header.
constexpr std::size_t kTgaHeaderBytes = 18;

// Why a TGA file could not be decoded.
enum class TgaResult {
    Ok,
    OpenFailed,     // the file could not be opened
    ShortHeader,    // fewer than 18 bytes
    BadType,        // image type other than 2 (true-colour) or 10 (run-length true-colour)
    BadSize,        // width or height 0
    BadDepth,       // pixel depth not 24 to 39 bits
    TooLarge,       // more pixels than platform::kMaxPicturePixels
    OutOfMemory,    // the image buffer could not be allocated
    Truncated,      // the pixel data ends early
    PacketOverrun,  // a run-length packet reaches past the last pixel
};

// Where the parser reads from: a stdio file when file is set, otherwise size bytes at data.
struct TgaSource {
    std::FILE* file = nullptr;           // read and skipped with fread and fseek
    const std::uint8_t* data = nullptr;  // used when file is null
    std::size_t size = 0;                // bytes at data
    std::size_t offset = 0;              // bytes of data consumed or skipped
};

// A decoded image, or as much of it as the header told before a failure.
struct TgaImage {
    bool headerRead = false;  // true once the header was read; the next four fields hold it
    int width = 0;            // pixels, from the header
    int height = 0;           // pixels, from the header
    int depth = 0;            // bits per pixel, from the header
    int bytesPerPixel = 0;    // depth ÷ 8: 3 for RGB, 4 for RGBA
    // width × height pixels, red, green, blue (and alpha), rows tightly packed in file order;
    // set only when the decode succeeds.
    std::unique_ptr<std::uint8_t[]> pixels;
};

// Reads the header and pixel data from the source's current position into image.
TgaResult DecodeTga(TgaSource& source, TgaImage& image);

// Decodes a whole TGA file held in memory.
TgaResult DecodeTgaFromMemory(const std::uint8_t* data, std::size_t size, TgaImage& image);

}  // namespace textures
