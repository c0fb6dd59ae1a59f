// ICO (and CUR) files: a directory of images, of which the best is drawn: the largest, then the
// deepest, the first of equals. Entries are either a DIB (BITMAPINFOHEADER, colour bits, then a
// 1-bit AND mask; the header's height covers both) or a whole PNG file, which goes to the PNG
// decoder. Every size comes from the entry's own header, as directories are often wrong (a 0 in
// the directory means 256, and some disagree outright), and every read is checked against the
// end of the file rather than against the directory's byte count, which files get wrong too.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/picture/backend.h"
#include "platform/picture/raster.h"

namespace platform {
namespace {

constexpr std::size_t kDirectoryBytes = 6;
constexpr std::size_t kEntryBytes = 16;
constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The PNG signature, then the IHDR chunk's length and type, then its width and height.
constexpr std::size_t kPngHeaderBytes = 8 + 8 + 8;

// One directory entry, as its image data describes it.
struct IconImage {
    const std::uint8_t* data = nullptr;  // the entry's first byte
    std::size_t available = 0;           // bytes from there to the end of the file
    bool png = false;                    // a PNG file rather than a DIB
    int width = 0;                       // pixels
    int height = 0;                      // pixels (of the colour image, not colour and mask)
    int bitCount = 0;                    // bits per pixel, to rank equal-sized entries
    // DIBs only:
    std::size_t paletteOffset = 0;  // bytes from data to the colour table
    std::uint32_t colours = 0;      // entries in the colour table (bit counts up to 8)
    std::size_t colourOffset = 0;   // bytes from data to the bottom row of colour bits
    std::size_t colourStride = 0;   // bytes per row of colour bits
    std::size_t maskOffset = 0;     // bytes from data to the bottom row of the AND mask
    std::size_t maskStride = 0;     // bytes per row of the AND mask
    bool hasMask = false;           // the whole AND mask lies within the file
};

bool SizeAllowed(std::int64_t width, std::int64_t height) {
    return PixelCountAllowed(width, height) && width <= kMaxRasterSide && height <= kMaxRasterSide;
}

// Each Describe… fills image from the entry's own header: Ok when it can be drawn, TooLarge when
// only its size is beyond the budget, Corrupt otherwise.
PictureResult DescribePng(IconImage& image) {
    if (image.available < kPngHeaderBytes + 2 || std::memcmp(image.data + 12, "IHDR", 4) != 0) {
        return PictureResult::Corrupt;
    }
    const std::uint32_t width = ReadBe32(image.data + 16);
    const std::uint32_t height = ReadBe32(image.data + 20);
    if (width == 0 || height == 0) {
        return PictureResult::Corrupt;
    }
    if (!SizeAllowed(width, height)) {
        return PictureResult::TooLarge;
    }
    image.png = true;
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    // Bit depth times channels, by colour type: grey, -, RGB, palette, grey + alpha, -, RGBA.
    static constexpr int kChannels[] = {1, 0, 3, 1, 2, 0, 4};
    const int depth = image.data[24];
    const int colourType = image.data[25];
    image.bitCount = colourType < 7 ? depth * kChannels[colourType] : 0;
    return PictureResult::Ok;
}

PictureResult DescribeDib(IconImage& image) {
    if (image.available < kInfoHeaderBytes) {
        return PictureResult::Corrupt;
    }
    const std::uint32_t headerBytes = ReadLe32(image.data);
    const std::int32_t width = static_cast<std::int32_t>(ReadLe32(image.data + 4));
    const std::int32_t doubledHeight = static_cast<std::int32_t>(ReadLe32(image.data + 8));
    const int bitCount = ReadLe16(image.data + 14);
    const std::uint32_t compression = ReadLe32(image.data + 16);
    const std::uint32_t coloursUsed = ReadLe32(image.data + 32);
    if (headerBytes < kInfoHeaderBytes || headerBytes > image.available || compression != kBiRgb) {
        return PictureResult::Corrupt;
    }
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32) {
        return PictureResult::Corrupt;
    }
    // The header's height counts the colour bits and the mask, one above the other.
    const std::int32_t height = doubledHeight / 2;
    if (width <= 0 || height <= 0) {
        return PictureResult::Corrupt;
    }
    if (!SizeAllowed(width, height)) {
        return PictureResult::TooLarge;
    }
    image.width = width;
    image.height = height;
    image.bitCount = bitCount;
    image.paletteOffset = headerBytes;
    if (bitCount <= 8) {
        const std::uint32_t most = std::uint32_t{1} << bitCount;
        image.colours = coloursUsed == 0 || coloursUsed > most ? most : coloursUsed;
    }
    // Sizes below are at most 2^16 × 2^16 × 4 bytes: no overflow in 64 bits.
    const std::size_t rows = static_cast<std::size_t>(height);
    image.colourOffset = image.paletteOffset + std::size_t{4} * image.colours;
    image.colourStride =
        (static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount) + 31) / 32 * 4;
    image.maskOffset = image.colourOffset + image.colourStride * rows;
    image.maskStride = (static_cast<std::size_t>(width) + 31) / 32 * 4;
    if (image.maskOffset > image.available) {
        return PictureResult::Corrupt;  // the colour bits themselves are cut short
    }
    image.hasMask = image.maskStride * rows <= image.available - image.maskOffset;
    return PictureResult::Ok;
}

// Reads entry index of the directory.
PictureResult DescribeEntry(const Picture& picture, std::size_t index, IconImage& image) {
    const std::uint8_t* entry = picture.bytes.get() + kDirectoryBytes + index * kEntryBytes;
    const std::uint32_t offset = ReadLe32(entry + 12);
    if (offset >= picture.size) {
        return PictureResult::Corrupt;
    }
    image.data = picture.bytes.get() + offset;
    image.available = picture.size - offset;
    if (image.available >= sizeof kPngSignature &&
        std::memcmp(image.data, kPngSignature, sizeof kPngSignature) == 0) {
        return DescribePng(image);
    }
    return DescribeDib(image);
}

// The entry to draw: the largest area, then the deepest, the first of equals. TooLarge when no
// entry can be drawn and one was refused for its size alone.
PictureResult ChooseImage(const Picture& picture, IconImage& best) {
    if (picture.size < kDirectoryBytes) {
        return PictureResult::Corrupt;
    }
    const std::size_t count = ReadLe16(picture.bytes.get() + 4);
    if (count == 0 || kDirectoryBytes + count * kEntryBytes > picture.size) {
        return PictureResult::Corrupt;
    }
    bool found = false;
    bool tooLarge = false;
    std::int64_t bestArea = 0;
    for (std::size_t index = 0; index < count; ++index) {
        IconImage image;
        const PictureResult described = DescribeEntry(picture, index, image);
        tooLarge = tooLarge || described == PictureResult::TooLarge;
        if (described != PictureResult::Ok) {
            continue;
        }
        const std::int64_t area = std::int64_t{image.width} * image.height;
        if (!found || area > bestArea || (area == bestArea && image.bitCount > best.bitCount)) {
            best = image;
            bestArea = area;
            found = true;
        }
    }
    if (found) {
        return PictureResult::Ok;
    }
    return tooLarge ? PictureResult::TooLarge : PictureResult::Corrupt;
}

// Colour index of pixel x in a row of 1, 4 or 8 bits per pixel, most significant bits first.
std::uint32_t IndexAt(const std::uint8_t* row, int x, int bitCount) {
    const std::size_t bit = static_cast<std::size_t>(x) * static_cast<std::size_t>(bitCount);
    const int shift = 8 - bitCount - static_cast<int>(bit % 8);
    return static_cast<std::uint32_t>(row[bit / 8] >> shift) & ((1u << bitCount) - 1);
}

// a × b / 255, rounded, for a and b in 0..255.
std::uint8_t Multiply255(unsigned a, unsigned b) {
    const unsigned product = a * b + 128;
    return static_cast<std::uint8_t>((product + (product >> 8)) >> 8);
}

// True when a 32-bit DIB carries alpha. Old icons leave the fourth byte 0 everywhere and rely
// on the AND mask; drawn with that alpha they would vanish.
bool HasAlpha(const IconImage& image) {
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row =
            image.data + image.colourOffset + static_cast<std::size_t>(y) * image.colourStride;
        for (int x = 0; x < image.width; ++x) {
            if (row[static_cast<std::size_t>(x) * 4 + 3] != 0) {
                return true;
            }
        }
    }
    return false;
}

// Decodes a DIB entry into rgb (top-down, width × 3 bytes a row), as it shows drawn on black:
// pixels the AND mask removes are black, and a 32-bit entry with alpha is composed onto black
// by it (its mask is then not needed). Without a complete mask every pixel is drawn.
void DecodeDib(const IconImage& image, std::uint8_t* rgb) {
    const bool alpha = image.bitCount == 32 && HasAlpha(image);
    const bool masked = image.hasMask && !alpha;
    const std::uint8_t* palette = image.data + image.paletteOffset;
    for (int y = 0; y < image.height; ++y) {
        // DIB rows run bottom-up.
        const std::size_t source = static_cast<std::size_t>(image.height - 1 - y);
        const std::uint8_t* colours = image.data + image.colourOffset + source * image.colourStride;
        const std::uint8_t* mask = image.data + image.maskOffset + source * image.maskStride;
        std::uint8_t* out =
            rgb + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) * 3;
        for (int x = 0; x < image.width; ++x, out += 3) {
            if (masked && IndexAt(mask, x, 1) != 0) {
                out[0] = out[1] = out[2] = 0;
                continue;
            }
            const std::uint8_t* bgr = nullptr;
            if (image.bitCount <= 8) {
                const std::uint32_t index = IndexAt(colours, x, image.bitCount);
                if (index >= image.colours) {
                    out[0] = out[1] = out[2] = 0;
                    continue;
                }
                bgr = palette + std::size_t{4} * index;
            } else {
                bgr = colours +
                      static_cast<std::size_t>(x) * static_cast<std::size_t>(image.bitCount / 8);
            }
            if (alpha) {
                out[0] = Multiply255(bgr[2], bgr[3]);
                out[1] = Multiply255(bgr[1], bgr[3]);
                out[2] = Multiply255(bgr[0], bgr[3]);
            } else {
                out[0] = bgr[2];
                out[1] = bgr[1];
                out[2] = bgr[0];
            }
        }
    }
}

bool Matches(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || ReadLe16(data) != 0) {
        return false;
    }
    const std::uint16_t type = ReadLe16(data + 2);
    return type == 1 || type == 2;  // icon or cursor: the same container
}

PictureResult Open(Picture& picture) {
    IconImage image;
    const PictureResult result = ChooseImage(picture, image);
    if (result != PictureResult::Ok) {
        return result;
    }
    SetBitmapSize(picture, image.width, image.height);
    return PictureResult::Ok;
}

PictureResult Render(Picture& picture, std::uint8_t* pixels, int width, int height) {
    IconImage image;
    const PictureResult result = ChooseImage(picture, image);
    if (result != PictureResult::Ok) {
        return result;
    }
    if (image.png) {
        return RenderPngBytes(image.data, image.available, pixels, width, height);
    }
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
    std::unique_ptr<std::uint8_t[]> rgb(
        new (std::nothrow) std::uint8_t[rowBytes * static_cast<std::size_t>(image.height)]);
    if (!rgb) {
        return PictureResult::OutOfMemory;
    }
    DecodeDib(image, rgb.get());
    const RasterImage raster{rgb.get(), image.width, image.height, rowBytes, 3};
    return StretchRaster(raster, pixels, width, height);
}

}  // namespace

const PictureBackend kIcoBackend = {"ico", Matches, Open, Render};

}  // namespace platform
