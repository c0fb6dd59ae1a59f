// The description of one texture as loaded from an image file.
#pragma once

#include <cstdint>

// Which kind of image file a texture came from, by the file name's extension.
enum ImageKind : std::int32_t {
    ImageKindOther = 0,
    ImageKindBmp = 1,
    ImageKindJpeg = 2,
    ImageKindGif = 5,
    ImageKindIcon = 6,
    ImageKindEnhancedMetafile = 7,
    ImageKindWindowsMetafile = 8,
};

// One texture as loaded; every field is 0 until a load attempt writes it.
struct TextureRecord {
    std::uint32_t name = 0;         // GL texture name; 0 = no texture
    std::int32_t kind = 0;          // ImageKind code of the file it came from
    std::int32_t width = 0;         // pixels, as uploaded
    std::int32_t height = 0;        // pixels, as uploaded
    std::int32_t format = 0;        // GL_RGB or GL_RGBA
    std::int32_t bitsPerPixel = 0;  // 32 for decoded pictures; the header's depth for TGA files
};
