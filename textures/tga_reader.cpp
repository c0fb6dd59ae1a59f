// TextureLoader's TGA reader: uncompressed (type 2) and run-length-encoded (type 10) true-colour
// images of 3 or 4 bytes per pixel, decoded to RGB or RGBA, rescaled to the chosen power-of-two
// size and uploaded. The parser knows nothing of GL so it can be driven from memory.
#include "textures/tga_reader.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "platform/picture/picture.h"
#include "textures/texture_loader.h"

namespace textures {
namespace {

constexpr int kTypeTrueColour = 2;
constexpr int kTypeRunLengthTrueColour = 10;

// Most pixels one packet covers, either kind.
constexpr std::size_t kMaxPacketPixels = 128;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads exactly count bytes; false on a short read (the source is then spent).
bool ReadBytes(TgaSource& source, void* out, std::size_t count) {
    if (source.file != nullptr) {
        return std::fread(out, 1, count, source.file) == count;
    }
    const std::size_t left = source.size - source.offset;
    if (left < count) {
        source.offset = source.size;
        return false;
    }
    if (count != 0) {
        std::memcpy(out, source.data + source.offset, count);
    }
    source.offset += count;
    return true;
}

// Skips count bytes; a skip past the end only makes the reads after it fail.
void SkipBytes(TgaSource& source, std::size_t count) {
    if (source.file != nullptr) {
        std::fseek(source.file, static_cast<long>(count), SEEK_CUR);
        return;
    }
    source.offset += std::min(count, source.size - source.offset);
}

// Bytes left to read when the source knows its length (memory, or a regular file); false when
// it cannot tell, as for a pipe.
bool RemainingBytes(const TgaSource& source, std::uint64_t& remaining) {
    if (source.file == nullptr) {
        remaining = source.size - source.offset;
        return true;
    }
    struct stat info {};
    if (fstat(fileno(source.file), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    const long position = std::ftell(source.file);
    if (position < 0) {
        return false;
    }
    const auto length = static_cast<std::uint64_t>(info.st_size);
    const auto at = static_cast<std::uint64_t>(position);
    remaining = at < length ? length - at : 0;
    return true;
}

// File pixels are blue, green, red (, alpha); textures want red first.
void StorePixel(const std::uint8_t* bgr, std::uint8_t* rgb, std::size_t bytesPerPixel) {
    rgb[0] = bgr[2];
    rgb[1] = bgr[1];
    rgb[2] = bgr[0];
    if (bytesPerPixel == 4) {
        rgb[3] = bgr[3];
    }
}

TgaResult DecodeRunLength(TgaSource& source, std::uint8_t* pixels, std::size_t pixelCount,
                          std::size_t bytesPerPixel) {
    std::uint8_t packet[kMaxPacketPixels * 4];
    std::size_t currentPixel = 0;
    while (currentPixel < pixelCount) {
        std::uint8_t header = 0;
        if (!ReadBytes(source, &header, 1)) {
            return TgaResult::Truncated;
        }
        const bool run = header >= 128;
        const std::size_t count = run ? std::size_t{header} - 127 : std::size_t{header} + 1;
        // Checked before anything is stored, so no packet writes past the last pixel.
        if (count > pixelCount - currentPixel) {
            return TgaResult::PacketOverrun;
        }
        std::uint8_t* out = pixels + currentPixel * bytesPerPixel;
        if (run) {
            if (!ReadBytes(source, packet, bytesPerPixel)) {
                return TgaResult::Truncated;
            }
            std::uint8_t colour[4] = {};
            StorePixel(packet, colour, bytesPerPixel);
            for (std::size_t i = 0; i < count; ++i) {
                std::memcpy(out + i * bytesPerPixel, colour, bytesPerPixel);
            }
        } else {
            if (!ReadBytes(source, packet, count * bytesPerPixel)) {
                return TgaResult::Truncated;
            }
            for (std::size_t i = 0; i < count; ++i) {
                StorePixel(packet + i * bytesPerPixel, out + i * bytesPerPixel, bytesPerPixel);
            }
        }
        currentPixel += count;
    }
    // Whatever follows the last pixel, further packets included, is deliberately not read.
    return TgaResult::Ok;
}

}  // namespace

TgaResult DecodeTga(TgaSource& source, TgaImage& image) {
    std::uint8_t header[kTgaHeaderBytes];
    if (!ReadBytes(source, header, sizeof header)) {
        return TgaResult::ShortHeader;
    }
    const std::size_t idLength = header[0];
    const int imageType = header[2];
    image.width = header[12] | header[13] << 8;
    image.height = header[14] | header[15] << 8;
    image.depth = header[16];
    image.bytesPerPixel = image.depth / 8;
    image.headerRead = true;

    if (imageType != kTypeTrueColour && imageType != kTypeRunLengthTrueColour) {
        return TgaResult::BadType;
    }
    if (image.width == 0 || image.height == 0) {
        return TgaResult::BadSize;
    }
    if (image.bytesPerPixel != 3 && image.bytesPerPixel != 4) {
        return TgaResult::BadDepth;
    }
    // 65535 × 65535 × 4 needs 64 bits; the budget keeps the later size_t products exact too.
    const std::uint64_t pixelCount =
        static_cast<std::uint64_t>(image.width) * static_cast<std::uint64_t>(image.height);
    if (pixelCount > platform::kMaxPicturePixels) {
        return TgaResult::TooLarge;
    }
    const auto bytesPerPixel = static_cast<std::size_t>(image.bytesPerPixel);
    const auto byteCount = static_cast<std::size_t>(pixelCount) * bytesPerPixel;

    SkipBytes(source, idLength);

    // A header that promises far more pixels than the file could hold must not cost a large
    // allocation: raw data needs every byte, and each packet covers at most 128 pixels.
    std::uint64_t remaining = 0;
    if (RemainingBytes(source, remaining)) {
        const std::uint64_t least =
            imageType == kTypeTrueColour
                ? byteCount
                : (pixelCount + kMaxPacketPixels - 1) / kMaxPacketPixels * (1 + bytesPerPixel);
        if (remaining < least) {
            return TgaResult::Truncated;
        }
    }

    // Left uninitialised: every byte is written by the decode or the buffer is dropped.
    std::unique_ptr<std::uint8_t[]> pixels(new (std::nothrow) std::uint8_t[byteCount]);
    if (!pixels) {
        return TgaResult::OutOfMemory;
    }
    if (imageType == kTypeTrueColour) {
        if (!ReadBytes(source, pixels.get(), byteCount)) {
            return TgaResult::Truncated;
        }
        std::uint8_t* p = pixels.get();
        for (std::size_t at = 0; at < byteCount; at += bytesPerPixel) {
            std::swap(p[at], p[at + 2]);
        }
    } else {
        const TgaResult result = DecodeRunLength(
            source, pixels.get(), static_cast<std::size_t>(pixelCount), bytesPerPixel);
        if (result != TgaResult::Ok) {
            return result;
        }
    }
    image.pixels = std::move(pixels);
    return TgaResult::Ok;
}

TgaResult DecodeTgaFromMemory(const std::uint8_t* data, std::size_t size, TgaImage& image) {
    TgaSource source;
    source.data = data;
    source.size = data == nullptr ? 0 : size;
    return DecodeTga(source, image);
}

}  // namespace textures

bool TextureLoader::LoadTgaTexture(const std::string& path, TextureRecord& record) {
    std::unique_ptr<std::FILE, textures::FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return false;
    }
    textures::TgaSource source;
    source.file = file.get();
    textures::TgaImage image;
    const textures::TgaResult result = textures::DecodeTga(source, image);
    // The header's values are kept even when the data behind them turns out unusable.
    if (image.headerRead) {
        record.width = image.width;
        record.height = image.height;
        record.bitsPerPixel = image.depth;
        record.format = image.bytesPerPixel == 3 ? GL_RGB : GL_RGBA;
    }
    file.reset();
    if (result != textures::TgaResult::Ok) {
        return false;
    }

    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    int textureWidth = 0;
    int textureHeight = 0;
    ChooseTextureSize(image.width, image.height, maxSize, textureWidth, textureHeight);
    // The halving can leave a side of 0; a one-pixel side still shows the picture.
    textureWidth = std::max(textureWidth, 1);
    textureHeight = std::max(textureHeight, 1);

    std::unique_ptr<std::uint8_t[]> pixels = std::move(image.pixels);
    if (textureWidth != image.width || textureHeight != image.height) {
        const std::uint64_t texturePixels =
            static_cast<std::uint64_t>(textureWidth) * static_cast<std::uint64_t>(textureHeight);
        if (texturePixels > platform::kMaxPicturePixels) {
            return false;
        }
        const auto bytesPerPixel = static_cast<std::size_t>(image.bytesPerPixel);
        std::unique_ptr<std::uint8_t[]> scaled(new (
            std::nothrow) std::uint8_t[static_cast<std::size_t>(texturePixels) * bytesPerPixel]);
        if (!scaled) {
            return false;
        }
        // Both buffers have tightly packed rows, which the scaler reads and writes only at an
        // alignment of 1; the caller's alignments are put back afterwards.
        GLint unpackAlignment = 4;
        GLint packAlignment = 4;
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &unpackAlignment);
        glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        const GLenum format = image.bytesPerPixel == 3 ? GL_RGB : GL_RGBA;
        gluScaleImage(format, image.width, image.height, GL_UNSIGNED_BYTE, pixels.get(),
                      textureWidth, textureHeight, GL_UNSIGNED_BYTE, scaled.get());
        glPixelStorei(GL_UNPACK_ALIGNMENT, unpackAlignment);
        glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
        pixels = std::move(scaled);
        record.width = textureWidth;
        record.height = textureHeight;
    }

    glGenTextures(1, &record.name);
    UploadTexture(record, pixels.get());
    return true;
}
