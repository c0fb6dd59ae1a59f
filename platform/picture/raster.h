// What the raster formats (JPEG, GIF, BMP and PNG, ICO) share inside the picture decoder: the
// stretch from a decoded image to the drawing target, the JPEG decode-scale rule, and the PNG
// decoder that icon entries are handed to.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/picture/picture.h"

namespace platform {

// Longest side, in pixels, of an image or target the stretch accepts; JPEG and GIF cannot exceed
// it, and it keeps the stretch's per-row and per-column scratch to a few megabytes.
constexpr int kMaxRasterSide = 1 << 16;

// A decoded image in memory, rows top-down. Transparency has already been composed onto black
// by the decoder, so a fourth byte per pixel is never read.
struct RasterImage {
    const std::uint8_t* pixels = nullptr;  // first byte of the top row
    int width = 0;                         // pixels
    int height = 0;                        // pixels
    std::size_t rowBytes = 0;              // bytes from the start of one row to the next
    int pixelBytes = 3;                    // 3: red, green, blue; 4: the same and one unused byte
};

// Draws the whole image stretched to exactly width × height pixels of target (4 bytes per pixel
// in memory order blue, green, red, 0; rows bottom-up, tightly packed), averaging the covered
// area along an axis that shrinks and interpolating bilinearly along one that grows; every
// target pixel is written. Fails on an empty image or target, a side beyond kMaxRasterSide, or
// when scratch memory cannot be had.
PictureResult StretchRaster(const RasterImage& image, std::uint8_t* target, int width, int height);

// Memory for a decoded image of bytes bytes, reused from one picture to the next on this thread
// (a new 9 MB buffer per photo costs more in page faults than the stretch takes), or nullptr
// when it cannot be had. Its contents are not initialised. Pair each call with
// FinishDecodeBuffer once the image has been drawn.
std::uint8_t* AcquireDecodeBuffer(std::size_t bytes);

// Ends the use of the decode buffer: one larger than a few photos' worth is freed at once
// instead of being kept for the next picture.
void FinishDecodeBuffer();

// The DCT scale denominator (1, 2, 4 or 8) at which a JPEG of pictureWidth × pictureHeight pixels
// is decoded when it is to be drawn at targetWidth × targetHeight.
int JpegScaleDenominator(int pictureWidth, int pictureHeight, int targetWidth, int targetHeight);

// Decodes a PNG held in memory (an icon's PNG entry) and draws it as RenderPicture does, its
// transparent parts composed onto black.
PictureResult RenderPngBytes(const std::uint8_t* data, std::size_t size, std::uint8_t* pixels,
                             int width, int height);

}  // namespace platform
