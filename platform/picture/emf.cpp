// Enhanced metafiles (EMF). We walk the record structure ourselves before anything else sees the
// file, because the converter trusts the sizes it reads; then libemf2svg turns the records into
// SVG in memory and librsvg draws that with cairo straight into the caller's bitmap at the target
// size, so the vectors are drawn once at the resolution they are shown at.
#include <cairo.h>
#include <emf2svg.h>
#include <librsvg/rsvg.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/picture/backend.h"
#include "platform/picture/child_play.h"

namespace platform {
namespace {

constexpr std::uint32_t kEmrHeader = 1;
constexpr std::uint32_t kEmrEof = 14;
constexpr std::uint32_t kEmrSetWorldTransform = 35;
constexpr std::uint32_t kEmrModifyWorldTransform = 36;

// " EMF" as the little-endian dSignature field reads it.
constexpr std::uint32_t kEmfSignature = 0x464D4520;

// The fixed part of EMR_HEADER every EMF carries (up to and including szlMillimeters), bytes.
constexpr std::size_t kHeaderMinBytes = 88;

// Smallest record: type and size, bytes.
constexpr std::uint32_t kRecordMinBytes = 8;

// Real drawings stay far below this many records (the largest in our corpus has under 3000); a
// file with more is built to make the converter grind, and is refused before it starts. Every
// record becomes SVG text and then a librsvg node, about 15 µs and 1.5 KB each, so this keeps a
// file to about a second and 100 MB.
constexpr std::size_t kMaxRecords = std::size_t{1} << 16;

// Largest frame side accepted, HIMETRIC (about 168 m). The picture is drawn at texture size
// whatever its frame, so this only keeps every later size computation far from overflow.
constexpr std::int64_t kMaxFrameHimetric = std::int64_t{1} << 24;

// An XFORM: eM11, eM12, eM21, eM22, eDx, eDy as 32-bit floats, bytes.
constexpr std::uint32_t kTransformBytes = 24;

// Largest magnitude of a world transform's four matrix elements. Real files scale by fractions
// or a few hundred at most; librsvg flattens curves into segments in proportion to their
// transformed size, so a shear of 1e18 on a small ellipse takes gigabytes and seconds.
constexpr float kMaxTransformScale = 65536.0f;

// Fields at an offset; the caller has checked the bytes are there.
std::uint32_t ReadU32(const std::uint8_t* data, std::size_t offset) {
    return ReadLe32(data + offset);
}

std::int32_t ReadI32(const std::uint8_t* data, std::size_t offset) {
    return static_cast<std::int32_t>(ReadU32(data, offset));
}

// A rectangle as EMF stores it: left, top, right, bottom, each inclusive.
struct EmfRect {
    std::int64_t left = 0;    // units of the field it was read from
    std::int64_t top = 0;     // units of the field it was read from
    std::int64_t right = 0;   // units of the field it was read from
    std::int64_t bottom = 0;  // units of the field it was read from
};

// The rectangle at offset (16 bytes).
EmfRect ReadRect(const std::uint8_t* data, std::size_t offset) {
    return {ReadI32(data, offset), ReadI32(data, offset + 4), ReadI32(data, offset + 8),
            ReadI32(data, offset + 12)};
}

// The header fields the backend uses, read from EMR_HEADER.
struct EmfHeader {
    EmfRect bounds;                  // rclBounds, reference-device pixels
    EmfRect frame;                   // rclFrame, HIMETRIC
    std::uint32_t bytes = 0;         // nBytes: the metafile's length, bytes
    std::int32_t devicePixelsX = 0;  // szlDevice.cx, pixels
    std::int32_t devicePixelsY = 0;  // szlDevice.cy, pixels
    std::int32_t deviceMmX = 0;      // szlMillimeters.cx, millimetres
    std::int32_t deviceMmY = 0;      // szlMillimeters.cy, millimetres
};

// Reads the header of a file that passed ValidateRecords.
EmfHeader ReadHeader(const std::uint8_t* data) {
    EmfHeader header;
    header.bounds = ReadRect(data, 8);
    header.frame = ReadRect(data, 24);
    header.bytes = ReadU32(data, 48);
    header.devicePixelsX = ReadI32(data, 72);
    header.devicePixelsY = ReadI32(data, 76);
    header.deviceMmX = ReadI32(data, 80);
    header.deviceMmY = ReadI32(data, 84);
    return header;
}

// An EMF begins with EMR_HEADER and carries " EMF" at byte 40.
bool Matches(const std::uint8_t* data, std::size_t size) {
    return size >= 44 && ReadU32(data, 0) == kEmrHeader && ReadU32(data, 40) == kEmfSignature;
}

// True when the record's XFORM (at its first parameter) is finite with matrix elements within
// kMaxTransformScale; a record too short to hold one is refused too.
bool TransformSane(const std::uint8_t* record, std::uint32_t recordBytes) {
    if (recordBytes < kRecordMinBytes + kTransformBytes) {
        return false;
    }
    for (std::size_t i = 0; i < 6; ++i) {
        const std::uint32_t bits = ReadU32(record, kRecordMinBytes + 4 * i);
        float value = 0;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value) || (i < 4 && std::fabs(value) > kMaxTransformScale)) {
            return false;
        }
    }
    return true;
}

// The description (UTF-16 text) must lie inside the header record. The converter measures its
// first string by scanning for a NUL, which real files do not always store; the scan still ends
// inside the metafile, at the latest in the zero high half of EMR_EOF's type, which the walk
// requires after the header.
bool DescriptionInHeader(const std::uint8_t* data, std::uint32_t headerBytes) {
    const std::uint32_t chars = ReadU32(data, 60);
    const std::uint32_t offset = ReadU32(data, 64);
    if (chars == 0) {
        return true;
    }
    return offset >= kHeaderMinBytes && offset <= headerBytes &&
           chars <= (headerBytes - offset) / 2;
}

// Walks every record from the header to EMR_EOF within nBytes: sizes at least a record header,
// multiples of 4, inside the metafile, one header only, a bounded count, which is left in records.
PictureResult ValidateRecords(const std::uint8_t* data, std::size_t size, std::size_t& records) {
    if (size < kHeaderMinBytes) {
        return PictureResult::Corrupt;
    }
    const std::uint32_t headerBytes = ReadU32(data, 4);
    const std::uint32_t metafileBytes = ReadU32(data, 48);
    if (headerBytes < kHeaderMinBytes || headerBytes % 4 != 0 || metafileBytes > size ||
        headerBytes > metafileBytes || !DescriptionInHeader(data, headerBytes)) {
        return PictureResult::Corrupt;
    }
    std::size_t offset = 0;
    for (std::size_t count = 0; count < kMaxRecords; ++count) {
        if (metafileBytes - offset < kRecordMinBytes) {
            return PictureResult::Corrupt;
        }
        const std::uint32_t type = ReadU32(data, offset);
        const std::uint32_t recordBytes = ReadU32(data, offset + 4);
        if (recordBytes < kRecordMinBytes || recordBytes % 4 != 0 ||
            recordBytes > metafileBytes - offset) {
            return PictureResult::Corrupt;
        }
        if ((count == 0) != (type == kEmrHeader)) {
            return PictureResult::Corrupt;
        }
        if ((type == kEmrSetWorldTransform || type == kEmrModifyWorldTransform) &&
            !TransformSane(data + offset, recordBytes)) {
            return PictureResult::Corrupt;
        }
        if (type == kEmrEof) {
            records = count + 1;
            return PictureResult::Ok;
        }
        offset += recordBytes;
    }
    return PictureResult::TooLarge;
}

// Validates the records and takes the size from rclFrame; nothing is converted yet.
PictureResult Open(Picture& picture) {
    std::size_t records = 0;
    const PictureResult walk = ValidateRecords(picture.bytes.get(), picture.size, records);
    if (walk != PictureResult::Ok) {
        return walk;
    }
    const EmfHeader header = ReadHeader(picture.bytes.get());
    const std::int64_t width = header.frame.right - header.frame.left;
    const std::int64_t height = header.frame.bottom - header.frame.top;
    // An empty or inverted frame gives no size to stretch from.
    if (width <= 0 || height <= 0) {
        return PictureResult::Corrupt;
    }
    if (width > kMaxFrameHimetric || height > kMaxFrameHimetric) {
        return PictureResult::TooLarge;
    }
    picture.widthHimetric = static_cast<std::int32_t>(width);
    picture.heightHimetric = static_cast<std::int32_t>(height);
    return PictureResult::Ok;
}

// Deleters for what the libraries hand out.
struct MallocFree {
    void operator()(char* text) const { std::free(text); }
};
struct GObjectUnref {
    void operator()(RsvgHandle* handle) const { g_object_unref(handle); }
};
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct CairoSurfaceDestroy {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoDestroy {
    void operator()(cairo_t* cairo) const { cairo_destroy(cairo); }
};

// Where the EMF's frame lies in the SVG's user space: libemf2svg puts rclBounds' top-left at the
// SVG origin and scales reference-device pixels uniformly so that rclBounds' width becomes the
// SVG's width. False when the header lacks what this needs (no device size, say).
bool FrameInSvg(const EmfHeader& header, double svgWidth, double& left, double& top, double& right,
                double& bottom) {
    if (header.devicePixelsX <= 0 || header.devicePixelsY <= 0 || header.deviceMmX <= 0 ||
        header.deviceMmY <= 0) {
        return false;
    }
    const double boundsWidth =
        std::fabs(static_cast<double>(header.bounds.right - header.bounds.left));
    const double scale = svgWidth / boundsWidth;
    // HIMETRIC is hundredths of a millimetre.
    const double pixelsPerHimetricX =
        static_cast<double>(header.devicePixelsX) / (100.0 * header.deviceMmX);
    const double pixelsPerHimetricY =
        static_cast<double>(header.devicePixelsY) / (100.0 * header.deviceMmY);
    const auto bl = static_cast<double>(header.bounds.left);
    const auto bt = static_cast<double>(header.bounds.top);
    left = (static_cast<double>(header.frame.left) * pixelsPerHimetricX - bl) * scale;
    top = (static_cast<double>(header.frame.top) * pixelsPerHimetricY - bt) * scale;
    right = (static_cast<double>(header.frame.right) * pixelsPerHimetricX - bl) * scale;
    bottom = (static_cast<double>(header.frame.bottom) * pixelsPerHimetricY - bt) * scale;
    return std::isfinite(left) && std::isfinite(top) && std::isfinite(right) &&
           std::isfinite(bottom) && right > left && bottom > top;
}

// cairo leaves premultiplied ARGB (blue, green, red, alpha in memory) with row 0 at the top. The
// premultiplied colour is the colour composed over black, which is exactly what drawing onto a
// zeroed bitmap gives on the original platform: antialiased edges fade into the black that the
// colour key later makes transparent. So the colour bytes stay, the fourth byte is cleared and
// the rows are flipped to bottom-up.
void ToBottomUpBgrx(std::uint8_t* pixels, int width, int height) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    for (std::size_t i = 3; i < rowBytes * static_cast<std::size_t>(height); i += 4) {
        pixels[i] = 0;
    }
    for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
        std::uint8_t* upper = pixels + rowBytes * static_cast<std::size_t>(top);
        std::swap_ranges(upper, upper + rowBytes,
                         pixels + rowBytes * static_cast<std::size_t>(bottom));
    }
}

// Converts to SVG and draws it stretched over the whole target (see RenderPicture).
PictureResult DrawInThisProcess(Picture& picture, std::uint8_t* pixels, int width, int height) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    std::memset(pixels, 0, rowBytes * static_cast<std::size_t>(height));
    // The file passed the walk when it was opened; it is walked again for its record count.
    std::size_t records = 0;
    if (ValidateRecords(picture.bytes.get(), picture.size, records) != PictureResult::Ok) {
        return PictureResult::Corrupt;
    }
    if (!MetafileDrawingAllowed(records, width, height)) {
        return PictureResult::TooLarge;
    }
    const EmfHeader header = ReadHeader(picture.bytes.get());
    // libemf2svg divides by rclBounds' extent; a file whose bounds enclose nothing has nothing
    // it could draw, and stays black.
    if (header.bounds.right == header.bounds.left || header.bounds.bottom == header.bounds.top) {
        return PictureResult::Ok;
    }

    generatorOptions options{};
    options.nameSpace = nullptr;  // a prefix makes 1.1.0 write mismatched tags
    options.verbose = false;
    options.emfplus = false;  // dual files carry plain records too, as GDI playback draws them
    options.svgDelimiter = true;
    options.imgWidth = 0;  // natural size: one SVG unit per reference-device pixel
    options.imgHeight = 0;
    char* svgText = nullptr;
    std::size_t svgLength = 0;
    const int converted = emf2svg(reinterpret_cast<char*>(picture.bytes.get()), header.bytes,
                                  &svgText, &svgLength, &options);
    const std::unique_ptr<char, MallocFree> svg(svgText);
    if (converted == 0 || !svg || svgLength == 0) {
        return PictureResult::Corrupt;
    }

    // From memory with no base file, librsvg resolves no external references, so the SVG cannot
    // make it read files; only data: URLs (the embedded bitmaps) load.
    GError* errorOut = nullptr;
    const std::unique_ptr<RsvgHandle, GObjectUnref> handle(rsvg_handle_new_from_data(
        reinterpret_cast<const guint8*>(svg.get()), svgLength, &errorOut));
    std::unique_ptr<GError, GErrorFree> error(errorOut);
    if (!handle) {
        return PictureResult::Corrupt;
    }
    double svgWidth = 0;
    double svgHeight = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle.get(), &svgWidth, &svgHeight) ||
        !std::isfinite(svgWidth) || !std::isfinite(svgHeight) || svgWidth <= 0 || svgHeight <= 0) {
        return PictureResult::Corrupt;
    }

    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width);
    if (stride < 0 || static_cast<std::size_t>(stride) != rowBytes) {
        return PictureResult::TooLarge;
    }
    const std::unique_ptr<cairo_surface_t, CairoSurfaceDestroy> surface(
        cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, width, height, stride));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        return PictureResult::OutOfMemory;
    }
    PictureResult result = PictureResult::Ok;
    {
        const std::unique_ptr<cairo_t, CairoDestroy> cairo(cairo_create(surface.get()));
        if (cairo_status(cairo.get()) != CAIRO_STATUS_SUCCESS) {
            return PictureResult::OutOfMemory;
        }
        // The SVG has no viewBox, so librsvg draws it at its natural size; the matrix stretches
        // the EMF's frame onto the target, as GDI's playback does, or the whole SVG when the
        // frame cannot be placed.
        double left = 0;
        double top = 0;
        double right = svgWidth;
        double bottom = svgHeight;
        if (!FrameInSvg(header, svgWidth, left, top, right, bottom)) {
            left = 0;
            top = 0;
            right = svgWidth;
            bottom = svgHeight;
        }
        cairo_scale(cairo.get(), width / (right - left), height / (bottom - top));
        cairo_translate(cairo.get(), -left, -top);
        const RsvgRectangle viewport = {0, 0, svgWidth, svgHeight};
        errorOut = nullptr;
        if (!rsvg_handle_render_document(handle.get(), cairo.get(), &viewport, &errorOut)) {
            result = PictureResult::Corrupt;
        }
        error.reset(errorOut);
        if (cairo_status(cairo.get()) != CAIRO_STATUS_SUCCESS) {
            result = PictureResult::Corrupt;
        }
    }
    cairo_surface_flush(surface.get());
    ToBottomUpBgrx(pixels, width, height);
    return result;
}

// librsvg and cairo take unbounded time on some converted drawings (a text run at a font size
// of millions, paths whose extents take seconds to fill) and cannot be interrupted, so the
// drawing runs in a child process, as the WMF play does.
PictureResult Render(Picture& picture, std::uint8_t* pixels, int width, int height) {
    return PlayInChild(picture, pixels, width, height, DrawInThisProcess);
}

}  // namespace

const PictureBackend kEmfBackend = {"emf", Matches, Open, Render};

}  // namespace platform
