// TextureLoader's path for every format but TGA: the picture decoder opens the file, draws it
// stretched to the chosen power-of-two size into a bottom-up BGRX buffer, and the buffer is
// turned into RGBA with the colour key in place and uploaded.
#include <GL/gl.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/picture/picture.h"
#include "platform/system.h"
#include "textures/texture_loader.h"

namespace {

// Bytes per pixel of the drawing target and of the uploaded texture.
constexpr std::size_t kPixelBytes = 4;

// A HIMETRIC size as pixels at the drawing surface's resolution; a picture too small to cover
// one pixel still gets one.
int PixelsFromHimetric(std::int32_t himetric) {
    const std::int32_t pixels =
        platform::MulDiv(himetric, platform::kLogicalPixelsPerInch, platform::kHimetricPerInch);
    return std::max(pixels, 1);
}

// BGRX → RGBA in one pass, a pixel as one little-endian 32-bit word (blue in bits 0-7, green
// 8-15, red 16-23), which the compiler vectorises. With the key on, a pixel of exactly the key
// colour gets alpha 0 and every other pixel alpha 255; with it off every pixel is opaque.
void ConvertPixels(std::uint8_t* pixels, std::size_t pixelCount, bool alphaMatch,
                   std::uint8_t keyRed, std::uint8_t keyGreen, std::uint8_t keyBlue) {
    static_assert(std::endian::native == std::endian::little,
                  "pixels are read and written as little-endian words");
    const std::uint32_t key = static_cast<std::uint32_t>(keyRed) |
                              static_cast<std::uint32_t>(keyGreen) << 8 |
                              static_cast<std::uint32_t>(keyBlue) << 16;
    std::size_t i = 0;
#if defined(__SSE2__)
    // Four pixels at a time, the same word arithmetic in SSE2 lanes; the shipped build's
    // optimisation level does not vectorise the loop below by itself.
    {
        const __m128i byteMask = _mm_set1_epi32(0xFF);
        const __m128i greenMask = _mm_set1_epi32(0xFF00);
        const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
        const __m128i keyLanes = _mm_set1_epi32(static_cast<int>(key));
        for (; i + 4 <= pixelCount; i += 4) {
            auto* p = reinterpret_cast<__m128i*>(pixels + i * kPixelBytes);
            const __m128i v = _mm_loadu_si128(p);
            const __m128i c =
                _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_srli_epi32(v, 16), byteMask),
                                          _mm_and_si128(v, greenMask)),
                             _mm_slli_epi32(_mm_and_si128(v, byteMask), 16));
            const __m128i alpha =
                alphaMatch ? _mm_andnot_si128(_mm_cmpeq_epi32(c, keyLanes), opaque) : opaque;
            _mm_storeu_si128(p, _mm_or_si128(c, alpha));
        }
    }
#endif
    for (; i < pixelCount; ++i) {
        std::uint8_t* p = pixels + i * kPixelBytes;
        std::uint32_t v = 0;
        std::memcpy(&v, p, sizeof v);
        const std::uint32_t c = ((v >> 16) & 0xFFu) | (v & 0xFF00u) | ((v & 0xFFu) << 16);
        const std::uint32_t out = alphaMatch && c == key ? c : (c | 0xFF000000u);
        std::memcpy(p, &out, sizeof out);
    }
}

}  // namespace

bool TextureLoader::LoadPictureTexture(const std::string& path, TextureRecord& record) {
    platform::PicturePtr picture;
    if (platform::OleLoadPicturePath(path.c_str(), picture) != platform::PictureResult::Ok) {
        return false;
    }

    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    const std::int32_t widthHimetric = platform::PictureWidthHimetric(*picture);
    const std::int32_t heightHimetric = platform::PictureHeightHimetric(*picture);
    int textureWidth = 0;
    int textureHeight = 0;
    ChooseTextureSize(PixelsFromHimetric(widthHimetric), PixelsFromHimetric(heightHimetric),
                      maxSize, textureWidth, textureHeight);
    // The halving can leave a side of 0; a one-pixel side still shows the picture.
    textureWidth = std::max(textureWidth, 1);
    textureHeight = std::max(textureHeight, 1);

    // The drawing target. A texture beyond the decoders' pixel budget is refused here, before
    // the allocation, as a drawing target that cannot be made.
    const std::uint64_t pixelCount =
        static_cast<std::uint64_t>(textureWidth) * static_cast<std::uint64_t>(textureHeight);
    if (pixelCount > platform::kMaxPicturePixels) {
        return false;
    }
    const auto count = static_cast<std::size_t>(pixelCount);
    const std::size_t bytes = count * kPixelBytes;
    // Not zero-filled: the renderer writes every pixel, and this buffer can be 16 MiB.
    if (bytes > drawingTargetBytes) {
        drawingTarget.reset();  // the old and the new target never exist together
        drawingTargetBytes = 0;
        drawingTarget.reset(new (std::nothrow) std::uint8_t[bytes]);
        if (!drawingTarget) {
            return false;
        }
        drawingTargetBytes = bytes;
    }
    std::uint8_t* pixels = drawingTarget.get();
    if (platform::RenderPicture(*picture, pixels, textureWidth, textureHeight) !=
        platform::PictureResult::Ok) {
        // A picture that opened but cannot be drawn still makes a texture, as a blank target
        // would after a failed draw; zeroing here keeps undefined bytes (and the last
        // picture's) out of the upload.
        std::memset(pixels, 0, bytes);
    }
    // The decoded file is no longer needed; letting it go now lowers the peak during upload.
    picture.reset();

    ConvertPixels(pixels, count, alphaMatch, matchRed, matchGreen, matchBlue);

    record.width = textureWidth;
    record.height = textureHeight;
    record.bitsPerPixel = 32;
    record.format = GL_RGBA;
    glGenTextures(1, &record.name);
    UploadTexture(record, pixels);
    return true;
}

void TextureLoader::ReleaseLoadMemory() {
    drawingTarget.reset();
    drawingTargetBytes = 0;
    platform::ReleasePictureScratch();
}
