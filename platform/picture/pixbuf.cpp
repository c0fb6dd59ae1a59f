// BMP and PNG through gdk-pixbuf, fed from memory through a GdkPixbufLoader of the one type the
// signature names (so no other loader ever sniffs our bytes). The loader's "size-prepared"
// signal comes after the header and before the loader allocates anything for the pixels: that
// is where pictures beyond the pixel budget are refused, and where opening stops.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstring>

#include "platform/picture/backend.h"
#include "platform/picture/raster.h"

namespace platform {
namespace {

enum class PixbufType { Bmp, Png };

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool IsPng(const std::uint8_t* data, std::size_t size) {
    return size >= sizeof kPngSignature &&
           std::memcmp(data, kPngSignature, sizeof kPngSignature) == 0;
}

// Only "BM": gdk-pixbuf reads no other of the old OS/2 signatures.
bool IsBmp(const std::uint8_t* data, std::size_t size) {
    return size >= 2 && data[0] == 'B' && data[1] == 'M';
}

// The BMP file header, then the info header's own size field.
constexpr std::size_t kBmpFileHeaderBytes = 14;
constexpr std::size_t kBmpSizeFieldBytes = 4;
// bfOffBits, the pixel data's offset from the start of the file.
constexpr std::size_t kBmpPixelOffsetField = 10;
// Info headers of 40 bytes and more carry biClrUsed at this offset; the 12-byte OS/2 header has
// none and stores its palette entries in 3 bytes instead of 4.
constexpr std::size_t kBmpColoursUsedOffset = 32;
constexpr std::size_t kBmpOs2HeaderBytes = 12;

// The BMP loader grows its read buffer to the info header's size, then to the palette the
// header declares, then up to the pixel data's offset (bfOffBits), all straight from the file: a
// biClrUsed of 0xFFFF0002 is a 4 GiB request for a 200-byte file, and so is a bfOffBits of
// 0xABAAAA2A for a 32-byte one. All three must lie within the file before the loader sees it; a
// file that ends inside its own header or palette, or before its pixels begin, is damaged beyond
// showing anyway.
bool BmpHeaderFits(const std::uint8_t* data, std::size_t size) {
    if (size < kBmpFileHeaderBytes + kBmpSizeFieldBytes) {
        return false;
    }
    if (ReadLe32(data + kBmpPixelOffsetField) > size) {
        return false;
    }
    const std::uint64_t headerBytes = ReadLe32(data + kBmpFileHeaderBytes);
    const std::uint64_t left = size - kBmpFileHeaderBytes;
    if (headerBytes < kBmpOs2HeaderBytes || headerBytes > left) {
        return false;
    }
    if (headerBytes < kBmpColoursUsedOffset + 4) {
        return true;  // no biClrUsed: the palette is bounded by the bit depth
    }
    const std::uint64_t coloursUsed = ReadLe32(data + kBmpFileHeaderBytes + kBmpColoursUsedOffset);
    return coloursUsed * 4 <= left - headerBytes;
}

const char* LoaderName(PixbufType type) {
    return type == PixbufType::Bmp ? "bmp" : "png";
}

// What the signal handlers learn and decide during one load.
struct LoadState {
    bool headerOnly = false;  // stop once the size is known (opening)
    bool sized = false;       // the loader reported the picture's size
    bool tooLarge = false;    // the size was refused before any pixel memory was allocated
    int width = 0;            // pixels, as reported
    int height = 0;           // pixels, as reported
};

bool SizeAllowed(int width, int height) {
    return PixelCountAllowed(width, height) && width <= kMaxRasterSide && height <= kMaxRasterSide;
}

void OnSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
    LoadState& state = *static_cast<LoadState*>(data);
    state.sized = true;
    state.width = width;
    state.height = height;
    state.tooLarge = !SizeAllowed(width, height);
    if (state.headerOnly || state.tooLarge) {
        // A size of 0 × 0 makes every loader stop here, before it allocates the pixbuf.
        gdk_pixbuf_loader_set_size(loader, 0, 0);
    }
}

// The loaders allocate the pixbuf uninitialised and write only the rows the file holds; cleared
// here, a truncated picture shows black where its data ends instead of stale memory.
void OnAreaPrepared(GdkPixbufLoader* loader, gpointer) {
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    if (pixbuf != nullptr) {
        gdk_pixbuf_fill(pixbuf, 0);
    }
}

// Releases the loader's reference; gdk-pixbuf complains about a loader finalised unclosed, and
// closing twice is harmless, so it is closed first.
struct LoaderDeleter {
    void operator()(GdkPixbufLoader* loader) const {
        gdk_pixbuf_loader_close(loader, nullptr);
        g_object_unref(loader);
    }
};
using LoaderPtr = std::unique_ptr<GdkPixbufLoader, LoaderDeleter>;

// Runs one loader of the given type over all of data with the handlers above. Errors the loader
// reports are dropped: the state and the pixbuf it leaves say everything the caller needs. Null
// when gdk-pixbuf has no loader of that type.
LoaderPtr Load(PixbufType type, const std::uint8_t* data, std::size_t size, LoadState& state) {
    GError* error = nullptr;
    LoaderPtr loader(gdk_pixbuf_loader_new_with_type(LoaderName(type), &error));
    g_clear_error(&error);
    if (!loader) {
        return loader;
    }
    // GCallback is the generic function type GObject casts handlers to and back.
    g_signal_connect_data(loader.get(), "size-prepared",
                          reinterpret_cast<GCallback>(OnSizePrepared), &state, nullptr,
                          static_cast<GConnectFlags>(0));
    g_signal_connect_data(loader.get(), "area-prepared",
                          reinterpret_cast<GCallback>(OnAreaPrepared), nullptr, nullptr,
                          static_cast<GConnectFlags>(0));
    if (size != 0) {
        gdk_pixbuf_loader_write(loader.get(), data, size, &error);
        g_clear_error(&error);
    }
    gdk_pixbuf_loader_close(loader.get(), &error);
    g_clear_error(&error);
    return loader;
}

PictureResult OpenType(PixbufType type, Picture& picture) {
    if (type == PixbufType::Bmp && !BmpHeaderFits(picture.bytes.get(), picture.size)) {
        return PictureResult::Corrupt;
    }
    LoadState state;
    state.headerOnly = true;
    const LoaderPtr loader = Load(type, picture.bytes.get(), picture.size, state);
    if (!loader) {
        return PictureResult::UnknownFormat;
    }
    if (!state.sized) {
        return PictureResult::Corrupt;
    }
    if (state.tooLarge) {
        return PictureResult::TooLarge;
    }
    SetBitmapSize(picture, state.width, state.height);
    return PictureResult::Ok;
}

// Composes each pixel onto black: colour × alpha, so transparent parts come out black.
void ComposeOnBlack(std::uint8_t* pixels, int width, int height, std::size_t rowBytes) {
    for (int y = 0; y < height; ++y) {
        std::uint8_t* pixel = pixels + static_cast<std::size_t>(y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            const unsigned alpha = pixel[3];
            for (int c = 0; c < 3; ++c) {
                const unsigned product = pixel[c] * alpha + 128;
                pixel[c] = static_cast<std::uint8_t>((product + (product >> 8)) >> 8);
            }
            pixel += 4;
        }
    }
}

PictureResult RenderType(PixbufType type, const std::uint8_t* data, std::size_t size,
                         std::uint8_t* pixels, int width, int height) {
    if (type == PixbufType::Bmp && !BmpHeaderFits(data, size)) {
        return PictureResult::Corrupt;
    }
    LoadState state;
    const LoaderPtr loader = Load(type, data, size, state);
    if (!loader) {
        return PictureResult::UnknownFormat;
    }
    if (state.tooLarge) {
        return PictureResult::TooLarge;
    }
    // A pixbuf exists once the header was sound; what a truncated or damaged file could not
    // fill stays black, so it is drawn like the other formats draw theirs.
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader.get());
    if (pixbuf == nullptr) {
        return PictureResult::Corrupt;
    }
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    if (gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB ||
        gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || (channels != 3 && channels != 4)) {
        return PictureResult::Corrupt;
    }
    RasterImage image;
    image.width = gdk_pixbuf_get_width(pixbuf);
    image.height = gdk_pixbuf_get_height(pixbuf);
    image.rowBytes = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf));
    image.pixelBytes = channels;
    std::uint8_t* bytes = gdk_pixbuf_get_pixels(pixbuf);
    // BMP's fourth byte is drawn as opaque, as GDI draws it: in 32-bit BI_RGB files it is unused
    // and often junk, and gdk-pixbuf reports RLE files' skipped pixels (black) as transparent.
    // PNG transparency is composed onto black.
    if (type == PixbufType::Png && gdk_pixbuf_get_has_alpha(pixbuf)) {
        ComposeOnBlack(bytes, image.width, image.height, image.rowBytes);
    }
    image.pixels = bytes;
    return StretchRaster(image, pixels, width, height);
}

bool Matches(const std::uint8_t* data, std::size_t size) {
    return IsBmp(data, size) || IsPng(data, size);
}

PixbufType TypeOf(const Picture& picture) {
    return IsPng(picture.bytes.get(), picture.size) ? PixbufType::Png : PixbufType::Bmp;
}

PictureResult Open(Picture& picture) {
    return OpenType(TypeOf(picture), picture);
}

PictureResult Render(Picture& picture, std::uint8_t* pixels, int width, int height) {
    return RenderType(TypeOf(picture), picture.bytes.get(), picture.size, pixels, width, height);
}

}  // namespace

PictureResult RenderPngBytes(const std::uint8_t* data, std::size_t size, std::uint8_t* pixels,
                             int width, int height) {
    if (!IsPng(data, size)) {
        return PictureResult::Corrupt;
    }
    return RenderType(PixbufType::Png, data, size, pixels, width, height);
}

const PictureBackend kPixbufBackend = {"pixbuf", Matches, Open, Render};

}  // namespace platform
