// Windows metafiles (WMF), with or without the placeable header. We walk the records ourselves
// first, because libwmf trusts the sizes it reads; then libwmf's gd device plays the file
// straight at the target size, and its image is copied out bottom-up.
#include <libwmf/api.h>
#include <libwmf/gd.h>
#include <libwmf/ipa.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/picture/backend.h"
#include "platform/picture/child_play.h"

namespace platform {
namespace {

// D7 CD C6 9A as a little-endian 32-bit value.
constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;

// The placeable header in front of the standard one, bytes.
constexpr std::size_t kPlaceableBytes = 22;

// The standard header, bytes; its own size field counts 16-bit words.
constexpr std::size_t kHeaderBytes = 18;
constexpr std::uint16_t kHeaderWords = 9;

// Record header: size in words (4 bytes) and function (2 bytes), words.
constexpr std::uint32_t kRecordMinWords = 3;

constexpr std::uint16_t kMetaEof = 0x0000;
constexpr std::uint16_t kMetaPolygon = 0x0324;
constexpr std::uint16_t kMetaPolyline = 0x0325;
constexpr std::uint16_t kMetaPolyPolygon = 0x0538;
constexpr std::uint16_t kMetaDibCreatePatternBrush = 0x0142;
constexpr std::uint16_t kMetaDibBitBlt = 0x0940;
constexpr std::uint16_t kMetaDibStretchBlt = 0x0B41;
constexpr std::uint16_t kMetaStretchDib = 0x0F43;

// The pattern-brush style whose bitmap some writers store as a Bitmap16 rather than a DIB.
constexpr std::uint16_t kBsPattern = 3;

// True for the sizes a DIB's info header has (core, info, the V2 to V5 headers).
bool IsDibHeaderSize(std::uint32_t bytes) {
    return bytes == 12 || bytes == 40 || bytes == 52 || bytes == 56 || bytes == 64 ||
           bytes == 108 || bytes == 124;
}

// A DIB's BITMAPINFOHEADER up to and including biBitCount, bytes.
constexpr std::uint64_t kDibHeaderBytes = 16;

// Real drawings stay far below this many records; a file claiming more is built to make the
// player grind, and is refused before it starts.
constexpr std::size_t kMaxRecords = std::size_t{1} << 20;

// Without a placeable header the size is the one libwmf estimates at this resolution.
constexpr double kEstimateDotsPerInch = kLogicalPixelsPerInch;

// Little-endian field readers; the caller has checked the bytes are there.
std::uint16_t ReadU16(const std::uint8_t* data, std::size_t offset) {
    return ReadLe16(data + offset);
}

std::int16_t ReadI16(const std::uint8_t* data, std::size_t offset) {
    return static_cast<std::int16_t>(ReadU16(data, offset));
}

std::uint32_t ReadU32(const std::uint8_t* data, std::size_t offset) {
    return ReadLe32(data + offset);
}

// True when a standard WMF header (type 1 or 2, 9 words, version 1.0 or 3.0) starts at offset.
bool StandardHeaderAt(const std::uint8_t* data, std::size_t size, std::size_t offset) {
    if (size < offset + 6) {
        return false;
    }
    const std::uint16_t type = ReadU16(data, offset);
    const std::uint16_t version = ReadU16(data, offset + 4);
    return (type == 1 || type == 2) && ReadU16(data, offset + 2) == kHeaderWords &&
           (version == 0x0100 || version == 0x0300);
}

// True when the file starts with the placeable header's key.
bool IsPlaceable(const std::uint8_t* data, std::size_t size) {
    return size >= 4 && ReadU32(data, 0) == kPlaceableKey;
}

// A WMF starts with the placeable key or a standard header.
bool Matches(const std::uint8_t* data, std::size_t size) {
    return IsPlaceable(data, size) || StandardHeaderAt(data, size, 0);
}

// Bytes from a bitmap record's parameters to its DIB, or 0 for a record that carries none.
std::uint64_t DibOffset(std::uint16_t function, std::uint64_t paramWords) {
    switch (function) {
        case kMetaDibCreatePatternBrush:
            return 4;  // brush style, colour usage
        case kMetaDibBitBlt:
            // Without a bitmap (a plain raster operation) the blits have 9 and 11 parameter
            // words; with one, fewer fixed words and then the DIB.
            return paramWords > 9 ? 16 : 0;
        case kMetaDibStretchBlt:
            return paramWords > 11 ? 20 : 0;
        case kMetaStretchDib:
            return 22;
        default:
            return 0;
    }
}

// libwmf tiles and scales a record's DIB by its header's width and height without checking
// them: a pattern brush of width 0 divides by zero (SIGFPE ends the process) and a huge one is
// allocated. The header must be in the record, with a positive width, a height other than 0,
// and no more pixels than the budget.
bool DibSane(const std::uint8_t* params, std::uint64_t paramWords, std::uint64_t offset) {
    if (offset + kDibHeaderBytes > 2 * paramWords) {
        return false;
    }
    const std::uint8_t* header = params + offset;
    const auto width = static_cast<std::int32_t>(ReadU32(header, 4));
    const auto height = static_cast<std::int32_t>(ReadU32(header, 8));
    const std::int64_t rows = height < 0 ? -std::int64_t{height} : height;
    return PixelCountAllowed(width, rows);
}

// The arrays inside the drawing records libwmf reads by their own counts must fit the record.
bool RecordArraysFit(const std::uint8_t* record, std::uint16_t function, std::uint64_t words) {
    const std::uint64_t paramWords = words - kRecordMinWords;
    const std::uint8_t* params = record + 6;
    if (function == kMetaDibCreatePatternBrush && paramWords >= 5 &&
        ReadU16(params, 0) == kBsPattern && !IsDibHeaderSize(ReadU32(params, 4))) {
        // BS_PATTERN may carry an old Bitmap16 instead: type, then 16-bit width and height.
        return PixelCountAllowed(ReadI16(params, 6), ReadI16(params, 8));
    }
    const std::uint64_t dib = DibOffset(function, paramWords);
    if (dib != 0 && !DibSane(params, paramWords, dib)) {
        return false;
    }
    if (function == kMetaPolygon || function == kMetaPolyline) {
        return paramWords >= 1 && 1 + 2 * std::uint64_t{ReadU16(params, 0)} <= paramWords;
    }
    if (function == kMetaPolyPolygon) {
        if (paramWords < 1) {
            return false;
        }
        const std::uint64_t polygons = ReadU16(params, 0);
        if (1 + polygons > paramWords) {
            return false;
        }
        std::uint64_t points = 0;
        for (std::uint64_t i = 0; i < polygons; ++i) {
            points += ReadU16(params, 2 + 2 * i);
        }
        return 1 + polygons + 2 * points <= paramWords;
    }
    return true;
}

// Walks every record after the standard header up to META_EOF: sizes at least a record header,
// inside the file and within the header's largest-record field (which libwmf allocates by), the
// polygon arrays inside their records, a bounded count, which is left in records.
PictureResult ValidateRecords(const std::uint8_t* data, std::size_t size, std::size_t start,
                              std::size_t& records) {
    if (size < start + kHeaderBytes || !StandardHeaderAt(data, size, start)) {
        return PictureResult::Corrupt;
    }
    const std::uint64_t maxRecordWords = ReadU32(data, start + 12);
    if (maxRecordWords > size / 2) {
        return PictureResult::Corrupt;
    }
    std::size_t offset = start + kHeaderBytes;
    for (std::size_t count = 0; count < kMaxRecords; ++count) {
        if (size - offset < 2 * std::size_t{kRecordMinWords}) {
            return PictureResult::Corrupt;
        }
        const std::uint64_t words = ReadU32(data, offset);
        const std::uint16_t function = ReadU16(data, offset + 4);
        if (words < kRecordMinWords || words > (size - offset) / 2 ||
            words - kRecordMinWords > maxRecordWords) {
            return PictureResult::Corrupt;
        }
        // libwmf stops at the first three-word function 0; bytes after it are never read.
        if (function == kMetaEof && words == kRecordMinWords) {
            records = count + 1;
            return PictureResult::Ok;
        }
        if (!RecordArraysFit(data + offset, function, words)) {
            return PictureResult::Corrupt;
        }
        offset += static_cast<std::size_t>(words * 2);
    }
    return PictureResult::TooLarge;
}

// The device's private state begins with its gdImage pointer; the hooks below reach the image
// through it while a play is under way.
void* DeviceImage(const wmfAPI* api) {
    const auto* device = static_cast<const wmf_gd_t*>(api->device_data);
    return device->gd_data != nullptr ? *static_cast<void**>(device->gd_data) : nullptr;
}

// The render under way and where its pixels go; the program has one thread.
struct Capture {
    std::uint8_t* pixels = nullptr;  // the caller's target, bottom-up BGRX
    int width = 0;                   // pixels
    int height = 0;                  // pixels
    bool taken = false;              // the image was copied out
};
Capture* capture = nullptr;

// libwmf's gd device draws a pen wider than a pixel by stamping a pen-sized brush at every pixel
// along the line, so one record's cost grows with its length times the pen's area, which the
// record count cannot bound: a few thousand lines drawn ten times their size take a minute. A
// play that runs past this is abandoned.
constexpr std::chrono::milliseconds kMaxPlayTime{2000};

// Called by libwmf between records with the deadline as context; non-zero ends the play.
int PastDeadline(void* context, float) {
    const auto& deadline = *static_cast<const std::chrono::steady_clock::time_point*>(context);
    return std::chrono::steady_clock::now() > deadline ? 1 : 0;
}

// The gd device's own begin and end; the same functions for every instance.
void (*gdDeviceBegin)(wmfAPI*) = nullptr;
void (*gdDeviceEnd)(wmfAPI*) = nullptr;

// The gd device starts every play by painting its image white. The original platform draws over
// a zeroed bitmap, so what the metafile leaves untouched must read black (and become transparent
// through the colour key): this runs the device's own begin and then clears the image.
void BlackDeviceBegin(wmfAPI* api) {
    gdDeviceBegin(api);
    if (api->err != wmf_E_None) {
        return;
    }
    void* image = DeviceImage(api);
    int* gdPixels = image != nullptr ? wmf_gd_image_pixels(image) : nullptr;
    if (gdPixels == nullptr || capture == nullptr) {
        api->err = wmf_E_DeviceError;
        return;
    }
    std::memset(gdPixels, 0,
                sizeof(int) * static_cast<std::size_t>(capture->width) *
                    static_cast<std::size_t>(capture->height));
}

// Copies the finished drawing out, then lets the device end. The device is set to PNG output
// with neither output flag, so its end encodes nothing and frees the image itself; its image
// output type would hand the image over with no public way to free it.
void CapturingDeviceEnd(wmfAPI* api) {
    void* image = DeviceImage(api);
    const int* gdPixels = image != nullptr ? wmf_gd_image_pixels(image) : nullptr;
    if (api->err == wmf_E_None && gdPixels != nullptr && capture != nullptr) {
        // gd stores the top row first, each pixel an int of 0x00RRGGBB (the top bits are gd's
        // alpha, which nothing here sets); the target wants the bottom row first, bytes blue,
        // green, red, 0.
        const auto rowPixels = static_cast<std::size_t>(capture->width);
        for (int row = 0; row < capture->height; ++row) {
            const int* from =
                gdPixels + rowPixels * static_cast<std::size_t>(capture->height - 1 - row);
            std::uint8_t* to = capture->pixels + rowPixels * 4 * static_cast<std::size_t>(row);
            for (std::size_t x = 0; x < rowPixels; ++x) {
                const auto value = static_cast<std::uint32_t>(from[x]);
                to[4 * x] = static_cast<std::uint8_t>(value);
                to[4 * x + 1] = static_cast<std::uint8_t>(value >> 8);
                to[4 * x + 2] = static_cast<std::uint8_t>(value >> 16);
                to[4 * x + 3] = 0;
            }
        }
        capture->taken = true;
    }
    gdDeviceEnd(api);
}

// Closes the memory source and frees everything the instance allocated.
struct ApiDestroy {
    void operator()(wmfAPI* api) const {
        wmf_mem_close(api);
        wmf_api_destroy(api);
    }
};
using ApiPtr = std::unique_ptr<wmfAPI, ApiDestroy>;

// Opens a libwmf instance on the picture's bytes with the gd device and scans the file; its
// reports stay off the terminal (no error or debug stream) and what it can step over it does.
PictureResult OpenScanned(Picture& picture, ApiPtr& api, wmfD_Rect& bounds) {
    wmfAPI_Options options{};
    options.function = wmf_gd_function;
    const unsigned long flags =
        WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    wmfAPI* created = nullptr;
    if (wmf_api_create(&created, flags, &options) != wmf_E_None || created == nullptr) {
        return PictureResult::OutOfMemory;
    }
    if (wmf_mem_open(created, picture.bytes.get(), static_cast<long>(picture.size)) != wmf_E_None) {
        wmf_api_destroy(created);
        return PictureResult::Corrupt;
    }
    api.reset(created);
    if (wmf_scan(api.get(), 0, &bounds) != wmf_E_None) {
        return PictureResult::Corrupt;
    }
    return PictureResult::Ok;
}

// Validates the records and takes the size from the placeable box, or from libwmf's estimate
// when there is none.
PictureResult Open(Picture& picture) {
    const std::uint8_t* data = picture.bytes.get();
    const bool placeable = IsPlaceable(data, picture.size);
    if (placeable && picture.size < kPlaceableBytes) {
        return PictureResult::Corrupt;
    }
    std::size_t records = 0;
    const PictureResult walk =
        ValidateRecords(data, picture.size, placeable ? kPlaceableBytes : 0, records);
    if (walk != PictureResult::Ok) {
        return walk;
    }
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (placeable) {
        const std::int64_t left = ReadI16(data, 6);
        const std::int64_t top = ReadI16(data, 8);
        const std::int64_t right = ReadI16(data, 10);
        const std::int64_t bottom = ReadI16(data, 12);
        const std::int64_t unitsPerInch = ReadU16(data, 14);
        // An empty or inverted box, or no unit, gives no size to stretch from.
        if (unitsPerInch == 0 || right <= left || bottom <= top) {
            return PictureResult::Corrupt;
        }
        width = ((right - left) * kHimetricPerInch + unitsPerInch / 2) / unitsPerInch;
        height = ((bottom - top) * kHimetricPerInch + unitsPerInch / 2) / unitsPerInch;
    } else {
        // No header says how big the picture is: take libwmf's estimate from what it draws.
        ApiPtr api;
        wmfD_Rect bounds{};
        const PictureResult scanned = OpenScanned(picture, api, bounds);
        if (scanned != PictureResult::Ok) {
            return scanned;
        }
        unsigned int pixelsWide = 0;
        unsigned int pixelsHigh = 0;
        if (wmf_display_size(api.get(), &pixelsWide, &pixelsHigh, kEstimateDotsPerInch,
                             kEstimateDotsPerInch) != wmf_E_None) {
            return PictureResult::Corrupt;
        }
        width = (std::int64_t{pixelsWide} * kHimetricPerInch + kLogicalPixelsPerInch / 2) /
                kLogicalPixelsPerInch;
        height = (std::int64_t{pixelsHigh} * kHimetricPerInch + kLogicalPixelsPerInch / 2) /
                 kLogicalPixelsPerInch;
    }
    // 16-bit boxes keep a placeable size far inside 32 bits; the estimate is bounded here.
    if (width <= 0 || height <= 0) {
        return PictureResult::Corrupt;
    }
    if (width > INT32_MAX || height > INT32_MAX) {
        return PictureResult::TooLarge;
    }
    picture.widthHimetric = static_cast<std::int32_t>(width);
    picture.heightHimetric = static_cast<std::int32_t>(height);
    return PictureResult::Ok;
}

// Plays the file with the gd device straight at the target size (see RenderPicture).
PictureResult PlayInThisProcess(Picture& picture, std::uint8_t* pixels, int width, int height) {
    std::memset(pixels, 0, static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height));
    // The file passed the walk when it was opened; it is walked again for its record count.
    const std::uint8_t* data = picture.bytes.get();
    std::size_t records = 0;
    if (ValidateRecords(data, picture.size, IsPlaceable(data, picture.size) ? kPlaceableBytes : 0,
                        records) != PictureResult::Ok) {
        return PictureResult::Corrupt;
    }
    if (!MetafileDrawingAllowed(records, width, height)) {
        return PictureResult::TooLarge;
    }
    ApiPtr api;
    wmfD_Rect bounds{};
    const PictureResult scanned = OpenScanned(picture, api, bounds);
    if (scanned != PictureResult::Ok) {
        return scanned;
    }
    // The device maps these bounds onto its image by dividing by their extent; bounds that
    // enclose nothing mean nothing is drawn.
    if (!std::isfinite(bounds.TL.x) || !std::isfinite(bounds.TL.y) || !std::isfinite(bounds.BR.x) ||
        !std::isfinite(bounds.BR.y) || !(bounds.BR.x > bounds.TL.x) ||
        !(bounds.BR.y > bounds.TL.y)) {
        return PictureResult::Ok;
    }
    auto* device = static_cast<wmf_gd_t*>(api->device_data);
    if ((device->flags & WMF_GD_SUPPORTS_PNG) == 0) {
        return PictureResult::Corrupt;
    }
    auto* functions = static_cast<wmfFunctionReference*>(api->function_reference);
    gdDeviceBegin = functions->device_begin;
    gdDeviceEnd = functions->device_end;
    functions->device_begin = BlackDeviceBegin;
    functions->device_end = CapturingDeviceEnd;
    device->type = wmf_gd_png;
    device->flags &= ~static_cast<unsigned long>(WMF_GD_OUTPUT_FILE | WMF_GD_OUTPUT_MEMORY);
    device->bbox = bounds;
    device->width = static_cast<unsigned int>(width);
    device->height = static_cast<unsigned int>(height);
    Capture target;
    target.pixels = pixels;
    target.width = width;
    target.height = height;
    capture = &target;
    auto deadline = std::chrono::steady_clock::now() + kMaxPlayTime;
    wmf_status_function(api.get(), &deadline, PastDeadline);
    const wmf_error_t played = wmf_play(api.get(), 0, &bounds);
    capture = nullptr;
    if (played == wmf_E_UserExit) {
        return PictureResult::TooLarge;
    }
    if (played != wmf_E_None || !target.taken) {
        return PictureResult::Corrupt;
    }
    return PictureResult::Ok;
}

// libwmf can spend minutes inside a single record (some text records never return), allocate
// gigabytes for one arc, or die on a division by zero, so the play runs in a child process.
PictureResult Render(Picture& picture, std::uint8_t* pixels, int width, int height) {
    return PlayInChild(picture, pixels, width, height, PlayInThisProcess);
}

}  // namespace

const PictureBackend kWmfBackend = {"wmf", Matches, Open, Render};

}  // namespace platform
