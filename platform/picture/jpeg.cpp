// JPEG through libjpeg-turbo's libjpeg API. Pictures are decoded straight at a reduced DCT scale
// when they are drawn smaller than they are (libjpeg-turbo has SIMD code for 1/2, 1/4 and 1/8),
// which saves most of the decoding time of a photo bound for a texture. CMYK and YCCK files
// are converted to RGB here: libjpeg only hands them back as CMYK.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <new>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
// After jpeglib.h: the message codes ErrorExit maps to results.
#include <jerror.h>

#include "platform/picture/backend.h"
#include "platform/picture/raster.h"

namespace platform {
namespace {

// Progressive files may hold any number of scans, and each is a pass over the whole coefficient
// buffer; encoders write about ten, so a file with more than this many is refused rather than
// left to take minutes.
constexpr int kMaxScans = 1000;

// Each scan is a pass over the coefficients of the whole picture at full size, whatever the
// decode scale, so what a scan costs grows with the picture: at the pixel budget a thousand
// empty scans (about 10 bytes each) take tens of seconds. Scans times pixels is held to this,
// sixteen passes at the budget; a 4000 × 3000 photo may still have 89 scans.
constexpr std::uint64_t kMaxScanPixels = kMaxPicturePixels * 16;

// Progressive (and multi-scan) files are decoded from whole-picture coefficient buffers, two bytes
// per coefficient at full size whatever the decode scale: at the pixel budget 128 MiB for grey,
// 192 MiB for 4:2:0 colour, 384 MiB for 4:4:4. libjpeg refuses a file whose buffers would pass
// this (it has no backing store to fall back on), before allocating them.
constexpr long kMaxJpegWorkingBytes = 256L << 20;

// The DCT scale reductions libjpeg-turbo decodes with SIMD, largest first.
constexpr int kScaleDenominators[] = {8, 4, 2};

// libjpeg's error manager with the place its fatal errors return to. libjpeg's own default
// prints and ends the process; ours prints nothing and jumps back to the decoder.
struct JpegErrorManager {
    jpeg_error_mgr manager;  // must come first: libjpeg hands back a pointer to it
    std::jmp_buf jump;       // set by the function that calls into libjpeg
    PictureResult failure;   // why the last fatal error ended decoding
};

// One decompressor with our error and progress handling. Every libjpeg call on it happens
// inside a function that has set error.jump and owns nothing with a destructor, so a fatal
// error's longjmp skips no cleanup; the decompressor and all libjpeg allocated for it are
// destroyed here.
struct JpegDecoder {
    jpeg_decompress_struct info{};  // libjpeg's decompressor
    JpegErrorManager error{};       // its error manager
    jpeg_progress_mgr progress{};   // its progress monitor, which enforces the scan limits

    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;
    JpegDecoder();
    // Safe whether or not the decompressor was created: libjpeg destroys what exists.
    ~JpegDecoder() { jpeg_destroy_decompress(&info); }
};

JpegErrorManager& ErrorManagerOf(j_common_ptr info) {
    return *reinterpret_cast<JpegErrorManager*>(info->err);
}

[[noreturn]] void ErrorExit(j_common_ptr info) {
    JpegErrorManager& error = ErrorManagerOf(info);
    switch (error.manager.msg_code) {
        case JERR_OUT_OF_MEMORY:
            error.failure = PictureResult::OutOfMemory;
            break;
        case JERR_IMAGE_TOO_BIG:
        case JERR_WIDTH_OVERFLOW:
        case JERR_NO_BACKING_STORE:
            error.failure = PictureResult::TooLarge;
            break;
        default:
            error.failure = PictureResult::Corrupt;
            break;
    }
    std::longjmp(error.jump, 1);
}

// Warnings (corrupt data that libjpeg works around, a truncated file) are tolerated silently:
// a damaged photo still shows what could be decoded.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}

// True when the decompressor has reached more scans than kMaxScans or kMaxScanPixels allow.
bool TooManyScans(const jpeg_decompress_struct& info) {
    const auto scans = static_cast<std::uint64_t>(std::max(info.input_scan_number, 0));
    const std::uint64_t pixels = std::uint64_t{info.image_width} * std::uint64_t{info.image_height};
    return info.input_scan_number > kMaxScans || (pixels != 0 && scans > kMaxScanPixels / pixels);
}

void ProgressMonitor(j_common_ptr info) {
    if (info->is_decompressor && TooManyScans(*reinterpret_cast<j_decompress_ptr>(info))) {
        JpegErrorManager& error = ErrorManagerOf(info);
        error.failure = PictureResult::Corrupt;
        std::longjmp(error.jump, 1);
    }
}

JpegDecoder::JpegDecoder() {
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = ErrorExit;
    error.manager.emit_message = EmitMessage;
    error.manager.output_message = OutputMessage;
    error.failure = PictureResult::Corrupt;
    progress.progress_monitor = ProgressMonitor;
}

// What Prepare chose for the decode.
struct JpegOutput {
    int width = 0;       // pixels, after the DCT scaling
    int height = 0;      // pixels, after the DCT scaling
    bool cmyk = false;   // rows come as CMYK and are converted here
    bool adobe = false;  // CMYK values are stored inverted, as Adobe applications write them
};

// Creates the decompressor over the file's bytes and reads the header.
PictureResult ReadHeader(JpegDecoder& decoder, const Picture& picture) {
    if (setjmp(decoder.error.jump) != 0) {
        return decoder.error.failure;
    }
    jpeg_create_decompress(&decoder.info);
    decoder.info.mem->max_memory_to_use = kMaxJpegWorkingBytes;
    decoder.info.progress = &decoder.progress;
    jpeg_mem_src(&decoder.info, picture.bytes.get(), static_cast<unsigned long>(picture.size));
    if (jpeg_read_header(&decoder.info, TRUE) != JPEG_HEADER_OK) {
        return PictureResult::Corrupt;
    }
    return PictureResult::Ok;
}

// Reads the header and sets up the decode for a target of width × height.
PictureResult Prepare(JpegDecoder& decoder, const Picture& picture, int width, int height,
                      JpegOutput& output) {
    const PictureResult header = ReadHeader(decoder, picture);
    if (header != PictureResult::Ok) {
        return header;
    }
    if (setjmp(decoder.error.jump) != 0) {
        return decoder.error.failure;
    }
    jpeg_decompress_struct& info = decoder.info;
    switch (info.jpeg_color_space) {
        case JCS_GRAYSCALE:
        case JCS_YCbCr:
        case JCS_RGB:
            info.out_color_space = JCS_RGB;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            // libjpeg turns YCCK into CMYK; the rest is ours.
            info.out_color_space = JCS_CMYK;
            output.cmyk = true;
            output.adobe = info.saw_Adobe_marker != 0;
            break;
        default:
            return PictureResult::Corrupt;
    }
    info.scale_num = 1;
    info.scale_denom = static_cast<unsigned int>(JpegScaleDenominator(
        static_cast<int>(info.image_width), static_cast<int>(info.image_height), width, height));
    jpeg_calc_output_dimensions(&info);
    output.width = static_cast<int>(info.output_width);
    output.height = static_cast<int>(info.output_height);
    return PictureResult::Ok;
}

// a × b / 255, rounded, for a and b in 0..255.
inline std::uint8_t Multiply255(unsigned a, unsigned b) {
    const unsigned product = a * b + 128;
    return static_cast<std::uint8_t>((product + (product >> 8)) >> 8);
}

// One row of CMYK to RGB. Ink multiplies: red = (1 − cyan)(1 − black), and so on. Adobe files
// store 255 − ink, so there the stored values are the complements already.
void CmykToRgb(const std::uint8_t* cmyk, int width, bool adobe, std::uint8_t* rgb) {
    const unsigned flip = adobe ? 0 : 255;
    for (int x = 0; x < width; ++x) {
        const unsigned white = flip ^ cmyk[3];
        rgb[0] = Multiply255(flip ^ cmyk[0], white);
        rgb[1] = Multiply255(flip ^ cmyk[1], white);
        rgb[2] = Multiply255(flip ^ cmyk[2], white);
        cmyk += 4;
        rgb += 3;
    }
}

// Decodes every row into image (RGB, output.width × 3 bytes a row); cmykRow holds one CMYK row
// when the file is CMYK.
PictureResult Decode(JpegDecoder& decoder, const JpegOutput& output, std::uint8_t* image,
                     std::uint8_t* cmykRow) {
    if (setjmp(decoder.error.jump) != 0) {
        return decoder.error.failure;
    }
    jpeg_decompress_struct& info = decoder.info;
    jpeg_start_decompress(&info);
    const std::size_t rowBytes = static_cast<std::size_t>(output.width) * 3;
    while (info.output_scanline < info.output_height) {
        std::uint8_t* rgb = image + info.output_scanline * rowBytes;
        JSAMPROW row = output.cmyk ? cmykRow : rgb;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) {
            return PictureResult::Corrupt;
        }
        if (output.cmyk) {
            CmykToRgb(cmykRow, output.width, output.adobe, rgb);
        }
    }
    return PictureResult::Ok;
}

bool Matches(const std::uint8_t* data, std::size_t size) {
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

PictureResult Open(Picture& picture) {
    JpegDecoder decoder;
    const PictureResult result = ReadHeader(decoder, picture);
    if (result != PictureResult::Ok) {
        return result;
    }
    const std::int64_t width = decoder.info.image_width;
    const std::int64_t height = decoder.info.image_height;
    if (!PixelCountAllowed(width, height)) {
        return PictureResult::TooLarge;
    }
    SetBitmapSize(picture, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    return PictureResult::Ok;
}

PictureResult Render(Picture& picture, std::uint8_t* pixels, int width, int height) {
    JpegDecoder decoder;
    JpegOutput output;
    PictureResult result = Prepare(decoder, picture, width, height, output);
    if (result != PictureResult::Ok) {
        return result;
    }
    if (!PixelCountAllowed(output.width, output.height)) {
        return PictureResult::TooLarge;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(output.width) * 3;
    std::unique_ptr<std::uint8_t[]> cmykRow;
    if (output.cmyk) {
        cmykRow.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(output.width) * 4]);
    }
    std::uint8_t* image = AcquireDecodeBuffer(rowBytes * static_cast<std::size_t>(output.height));
    if (image == nullptr || (output.cmyk && !cmykRow)) {
        FinishDecodeBuffer();
        return PictureResult::OutOfMemory;
    }
    result = Decode(decoder, output, image, cmykRow.get());
    if (result == PictureResult::Ok) {
        const RasterImage raster{image, output.width, output.height, rowBytes, 3};
        result = StretchRaster(raster, pixels, width, height);
    }
    FinishDecodeBuffer();
    return result;
}

}  // namespace

// The reduction is the largest whose decoded size is still at least the target's divided by √2
// along both axes: the stretch then enlarges it by √2 at most. The texture size rule itself
// stretches pictures that much (a 725-pixel side gets a 1024-pixel texture), so such a decode
// looks no softer than full-size pictures do, and it saves most of the decoding: a 4000 × 3000
// photo bound for 2048 × 2048 decodes at 1/2, as 2000 × 1500. No reduction unless both axes are
// drawn smaller than they are. Compared squared, in integers: 2·scaled² ≥ target².
int JpegScaleDenominator(int pictureWidth, int pictureHeight, int targetWidth, int targetHeight) {
    if (targetWidth >= pictureWidth || targetHeight >= pictureHeight) {
        return 1;
    }
    const auto closeEnough = [](std::int64_t picture, int denominator, std::int64_t target) {
        const std::int64_t scaled = (picture + denominator - 1) / denominator;
        return 2 * scaled * scaled >= target * target;
    };
    for (const int denominator : kScaleDenominators) {
        if (closeEnough(pictureWidth, denominator, targetWidth) &&
            closeEnough(pictureHeight, denominator, targetHeight)) {
            return denominator;
        }
    }
    return 1;
}

const PictureBackend kJpegBackend = {"jpeg", Matches, Open, Render};

}  // namespace platform
