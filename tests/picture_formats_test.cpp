// The raster formats of the picture decoder (JPEG, GIF, BMP and PNG, ICO and CUR), from small
// pictures generated here: known pixels drawn upright in BGRX at any size, recognition by
// content, the pixel budget checked at the header, and each format's own rules (JPEG colour
// spaces and scan limit, GIF frames and transparency, ICO entry choice and masks, PNG alpha,
// truncated files). Every file is built in memory by the encoders here or by libjpeg.
#include <gtest/gtest.h>

#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/picture/picture.h"

namespace {

using platform::PicturePtr;
using platform::PictureResult;
using Bytes = std::vector<std::uint8_t>;

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
    bool operator==(const Rgb& other) const { return r == other.r && g == other.g && b == other.b; }
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// ---------------------------------------------------------------------------------------------
// Drawing and looking at the result.

// A target as RenderPicture writes it: BGRX, rows bottom-up. Pre-filled with a pattern so an
// unwritten pixel shows.
struct Target {
    int width = 0;   // pixels
    int height = 0;  // pixels
    Bytes bytes;     // width × height × 4

    // Pixel (x, y) counted from the picture's top-left, as the viewer sees it.
    Rgb Seen(int x, int y) const {
        const std::size_t row = static_cast<std::size_t>(height - 1 - y);
        const std::uint8_t* p =
            bytes.data() +
            (row * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4;
        return Rgb{p[2], p[1], p[0]};
    }
    // True when every pixel's fourth byte is 0, that is every pixel was written.
    bool AllWritten() const {
        for (std::size_t i = 3; i < bytes.size(); i += 4) {
            if (bytes[i] != 0) {
                return false;
            }
        }
        return true;
    }
};

// The outcome of opening and drawing a picture.
struct Drawn {
    PictureResult open = PictureResult::OpenFailed;    // opening the bytes
    PictureResult render = PictureResult::OpenFailed;  // drawing them, when they opened
    std::string format;                                // the decoder that took them
    int width = 0;                                     // native size in pixels at 96 dpi
    int height = 0;                                    // native size in pixels at 96 dpi
    Target target;                                     // what was drawn
};

int PixelsOf(int himetric) {
    return (himetric * 96 + 1270) / 2540;
}

void DrawPicture(platform::Picture& picture, int width, int height, Drawn& drawn) {
    drawn.format = platform::PictureFormatName(picture);
    drawn.width = PixelsOf(platform::PictureWidthHimetric(picture));
    drawn.height = PixelsOf(platform::PictureHeightHimetric(picture));
    const int w = width > 0 ? width : drawn.width;
    const int h = height > 0 ? height : drawn.height;
    drawn.target.width = w;
    drawn.target.height = h;
    drawn.target.bytes.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4, 0xA5);
    drawn.render = platform::RenderPicture(picture, drawn.target.bytes.data(), w, h);
}

// Opens bytes and draws them at width × height (0: the picture's own size).
Drawn Draw(const Bytes& bytes, int width = 0, int height = 0) {
    Drawn drawn;
    PicturePtr picture;
    drawn.open = platform::LoadPictureFromMemory(bytes.data(), bytes.size(), picture);
    if (drawn.open == PictureResult::Ok) {
        DrawPicture(*picture, width, height, drawn);
    }
    return drawn;
}

Drawn DrawFile(const std::string& path, int width = 0, int height = 0) {
    Drawn drawn;
    PicturePtr picture;
    drawn.open = platform::OleLoadPicturePath(path.c_str(), picture);
    if (drawn.open == PictureResult::Ok) {
        DrawPicture(*picture, width, height, drawn);
    }
    return drawn;
}

bool Near(const Rgb& a, const Rgb& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

// ---------------------------------------------------------------------------------------------
// Little-endian and big-endian byte writing.

void Put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void Put32BigEndian(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}
void Set32(Bytes& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// ---------------------------------------------------------------------------------------------
// A picture: top-down RGBA pixels, from which each format's file is made.

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::array<std::uint8_t, 4>> pixels;  // RGBA, top-down

    Picture(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w * h)) {}
    std::array<std::uint8_t, 4>& At(int x, int y) {
        return pixels[static_cast<std::size_t>(y * width + x)];
    }
    const std::array<std::uint8_t, 4>& At(int x, int y) const {
        return pixels[static_cast<std::size_t>(y * width + x)];
    }
    void Fill(int x0, int y0, int x1, int y1, const Rgb& c, int alpha = 255) {
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                At(x, y) = {static_cast<std::uint8_t>(c.r), static_cast<std::uint8_t>(c.g),
                            static_cast<std::uint8_t>(c.b), static_cast<std::uint8_t>(alpha)};
            }
        }
    }
};

// Four colours, one per quadrant: top-left, top-right, bottom-left, bottom-right.
using Quadrants = std::array<Rgb, 4>;
const Quadrants kColours = {Rgb{220, 30, 40}, Rgb{30, 200, 60}, Rgb{20, 40, 210},
                            Rgb{230, 220, 20}};

// A size × size picture of quadrants (size even; 16 puts each in one JPEG block).
Picture QuadrantPicture(const Quadrants& colours, int size = 16) {
    Picture picture(size, size);
    const int h = size / 2;
    picture.Fill(0, 0, h, h, colours[0]);
    picture.Fill(h, 0, size, h, colours[1]);
    picture.Fill(0, h, h, size, colours[2]);
    picture.Fill(h, h, size, size, colours[3]);
    return picture;
}

// ---------------------------------------------------------------------------------------------
// BMP.

// A BMP of 24 or 32 bits per pixel, BI_RGB, rows bottom-up; a 32-bit file's fourth byte is the
// picture's alpha (which readers must ignore).
Bytes MakeBmp(const Picture& picture, int bitCount = 24) {
    const std::size_t stride =
        (static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(bitCount) / 8 + 3) / 4 *
        4;
    const std::size_t dataBytes = stride * static_cast<std::size_t>(picture.height);
    Bytes out = {'B', 'M'};
    Put32(out, static_cast<std::uint32_t>(54 + dataBytes));
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(picture.width));
    Put32(out, static_cast<std::uint32_t>(picture.height));
    Put16(out, 1);
    Put16(out, static_cast<std::uint32_t>(bitCount));
    Put32(out, 0);  // BI_RGB
    Put32(out, static_cast<std::uint32_t>(dataBytes));
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = picture.height - 1; y >= 0; --y) {
        const std::size_t start = out.size();
        for (int x = 0; x < picture.width; ++x) {
            const auto& p = picture.At(x, y);
            out.insert(out.end(), {p[2], p[1], p[0]});
            if (bitCount == 32) {
                out.push_back(p[3]);
            }
        }
        out.resize(start + stride, 0);
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// PNG, with stored (uncompressed) deflate blocks.

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void PutChunk(Bytes& out, const char* type, const Bytes& data) {
    Put32BigEndian(out, static_cast<std::uint32_t>(data.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    Put32BigEndian(out, Crc32(typed.data(), typed.size()));
}

Bytes PngHeader(std::uint32_t width, std::uint32_t height, int colourType) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    Put32BigEndian(header, width);
    Put32BigEndian(header, height);
    header.insert(header.end(), {8, static_cast<std::uint8_t>(colourType), 0, 0, 0});
    PutChunk(out, "IHDR", header);
    return out;
}

// An 8-bit RGB (colour type 2) or RGBA (6) PNG.
Bytes MakePng(const Picture& picture, bool alpha) {
    Bytes raw;
    for (int y = 0; y < picture.height; ++y) {
        raw.push_back(0);  // no filter
        for (int x = 0; x < picture.width; ++x) {
            const auto& p = picture.At(x, y);
            raw.insert(raw.end(), {p[0], p[1], p[2]});
            if (alpha) {
                raw.push_back(p[3]);
            }
        }
    }
    Bytes zlib = {0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(raw.size() - at, 65535);
        zlib.push_back(at + n == raw.size() ? 1 : 0);
        Put16(zlib, static_cast<std::uint32_t>(n));
        Put16(zlib, static_cast<std::uint32_t>(~n & 0xFFFF));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                    raw.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    } while (at < raw.size());
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    Put32BigEndian(zlib, b << 16 | a);
    Bytes out = PngHeader(static_cast<std::uint32_t>(picture.width),
                          static_cast<std::uint32_t>(picture.height), alpha ? 6 : 2);
    PutChunk(out, "IDAT", zlib);
    PutChunk(out, "IEND", {});
    return out;
}

// ---------------------------------------------------------------------------------------------
// GIF, with an LZW encoder of the kind GIF encoders use (codes least significant bit first, the
// width growing when the next free code no longer fits). When the table is full it stops adding
// strings instead of clearing, which the format allows and decoders must follow.

Bytes LzwEncode(const std::vector<int>& indices, int minimumBits) {
    Bytes out;
    std::uint32_t bits = 0;
    int bitCount = 0;
    const int clear = 1 << minimumBits;
    int width = minimumBits + 1;
    int next = clear + 2;
    const auto output = [&](int code) {
        bits |= static_cast<std::uint32_t>(code) << bitCount;
        bitCount += width;
        while (bitCount >= 8) {
            out.push_back(static_cast<std::uint8_t>(bits));
            bits >>= 8;
            bitCount -= 8;
        }
        if (next >= (1 << width) && width < 12) {
            ++width;
        }
    };
    std::map<std::pair<int, int>, int> table;
    output(clear);
    int current = indices.front();
    for (std::size_t i = 1; i < indices.size(); ++i) {
        const auto found = table.find({current, indices[i]});
        if (found != table.end()) {
            current = found->second;
            continue;
        }
        output(current);
        if (next < 4096) {
            table[{current, indices[i]}] = next++;
        }
        current = indices[i];
    }
    output(current);
    output(clear + 1);
    if (bitCount > 0) {
        out.push_back(static_cast<std::uint8_t>(bits));
    }
    return out;
}

// One frame of a generated GIF.
struct GifFrame {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool interlace = false;
    std::vector<int> indices;  // width × height, rows top-down
    int minimumBits = 0;       // 0: as few as the palette needs (at least 2)
    bool control = false;      // a graphic control block before the frame
    int controlFlags = 0;      // its flags (bit 0: transparency)
    int transparent = 0;       // its transparent index
};

void PutPalette(Bytes& out, const std::vector<Rgb>& palette, int entries) {
    for (int i = 0; i < entries; ++i) {
        const Rgb c =
            i < static_cast<int>(palette.size()) ? palette[static_cast<std::size_t>(i)] : Rgb{};
        out.insert(out.end(), {static_cast<std::uint8_t>(c.r), static_cast<std::uint8_t>(c.g),
                               static_cast<std::uint8_t>(c.b)});
    }
}

// Bits for a table of at least this many colours (1 to 8).
int PaletteBits(std::size_t colours) {
    int bits = 1;
    while ((std::size_t{1} << bits) < colours) {
        ++bits;
    }
    return bits;
}

// Rows of an interlaced frame in file order: every 8th from 0, every 8th from 4, every 4th from
// 2, every 2nd from 1.
std::vector<int> InterlacedOrder(int height) {
    std::vector<int> rows;
    for (int y = 0; y < height; y += 8)
        rows.push_back(y);
    for (int y = 4; y < height; y += 8)
        rows.push_back(y);
    for (int y = 2; y < height; y += 4)
        rows.push_back(y);
    for (int y = 1; y < height; y += 2)
        rows.push_back(y);
    return rows;
}

// A GIF89a with a global palette (none when empty) and the given frames.
Bytes MakeGif(int screenWidth, int screenHeight, const std::vector<Rgb>& palette,
              const std::vector<GifFrame>& frames) {
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(out, static_cast<std::uint32_t>(screenWidth));
    Put16(out, static_cast<std::uint32_t>(screenHeight));
    const int bits = PaletteBits(palette.size());
    out.push_back(static_cast<std::uint8_t>(palette.empty() ? 0x70 : 0xF0 | (bits - 1)));
    out.push_back(0);
    out.push_back(0);
    if (!palette.empty()) {
        PutPalette(out, palette, 1 << bits);
    }
    for (const GifFrame& frame : frames) {
        if (frame.control) {
            out.insert(out.end(), {0x21, 0xF9, 4, static_cast<std::uint8_t>(frame.controlFlags), 0,
                                   0, static_cast<std::uint8_t>(frame.transparent), 0});
        }
        out.push_back(0x2C);
        Put16(out, static_cast<std::uint32_t>(frame.left));
        Put16(out, static_cast<std::uint32_t>(frame.top));
        Put16(out, static_cast<std::uint32_t>(frame.width));
        Put16(out, static_cast<std::uint32_t>(frame.height));
        out.push_back(frame.interlace ? 0x40 : 0);
        std::vector<int> ordered;
        const std::vector<int> rows = frame.interlace ? InterlacedOrder(frame.height) : [&] {
            std::vector<int> all;
            for (int y = 0; y < frame.height; ++y)
                all.push_back(y);
            return all;
        }();
        for (const int y : rows) {
            for (int x = 0; x < frame.width; ++x) {
                ordered.push_back(frame.indices[static_cast<std::size_t>(y * frame.width + x)]);
            }
        }
        const int minimumBits = frame.minimumBits != 0 ? frame.minimumBits : std::max(2, bits);
        out.push_back(static_cast<std::uint8_t>(minimumBits));
        const Bytes codes = LzwEncode(ordered, minimumBits);
        for (std::size_t at = 0; at < codes.size(); at += 255) {
            const std::size_t n = std::min<std::size_t>(255, codes.size() - at);
            out.push_back(static_cast<std::uint8_t>(n));
            out.insert(out.end(), codes.begin() + static_cast<std::ptrdiff_t>(at),
                       codes.begin() + static_cast<std::ptrdiff_t>(at + n));
        }
        out.push_back(0);
    }
    out.push_back(0x3B);
    return out;
}

// A picture's quadrant colours as a 4-colour GIF.
Bytes QuadrantGif(bool interlace) {
    const Picture picture = QuadrantPicture(kColours);
    GifFrame frame;
    frame.width = picture.width;
    frame.height = picture.height;
    frame.interlace = interlace;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            frame.indices.push_back((y < 8 ? 0 : 2) + (x < 8 ? 0 : 1));
        }
    }
    return MakeGif(16, 16, {kColours[0], kColours[1], kColours[2], kColours[3]}, {frame});
}

// ---------------------------------------------------------------------------------------------
// JPEG, through libjpeg's compressor.

struct JpegOptions {
    J_COLOR_SPACE input = JCS_RGB;     // what the pixels are
    J_COLOR_SPACE stored = JCS_YCbCr;  // what the file holds
    bool adobe = true;                 // for CMYK and YCCK: write the Adobe marker
    bool progressive = false;
    bool arithmetic = false;
    bool exifOrientation = false;           // an APP1 Exif block saying "rotate 90°"
    const jpeg_scan_info* scans = nullptr;  // a scan script of its own
    int scanCount = 0;
};

// libjpeg's error manager, made to return to the compressor's caller instead of ending the
// test program.
struct CompressError {
    jpeg_error_mgr manager;  // first: libjpeg hands back a pointer to it
    std::jmp_buf jump;
};

[[noreturn]] void CompressErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<CompressError*>(info->err)->jump, 1);
}

// Runs the compressor; everything with a destructor lives in the caller, so the longjmp of an
// error skips none. False when libjpeg refused the settings.
bool Compress(jpeg_compress_struct& info, CompressError& error, int width, int height,
              const Bytes& pixels, const JpegOptions& options, unsigned char*& buffer,
              unsigned long& size) {
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = CompressErrorExit;
    if (setjmp(error.jump) != 0) {
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.in_color_space = options.input;
    info.input_components = options.input == JCS_GRAYSCALE ? 1 : options.input == JCS_CMYK ? 4 : 3;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, options.stored);
    if (options.stored == JCS_CMYK || options.stored == JCS_YCCK) {
        info.write_Adobe_marker = options.adobe ? TRUE : FALSE;
    }
    jpeg_set_quality(&info, 100, TRUE);
    for (int c = 0; c < info.num_components; ++c) {
        info.comp_info[c].h_samp_factor = 1;
        info.comp_info[c].v_samp_factor = 1;
    }
    if (options.progressive) {
        jpeg_simple_progression(&info);
    }
    if (options.scans != nullptr) {
        info.scan_info = options.scans;
        info.num_scans = options.scanCount;
    }
    info.arith_code = options.arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    if (options.exifOrientation) {
        // "Exif\0\0", a little-endian TIFF header, one IFD entry: Orientation (0x112), SHORT, 6.
        static const std::uint8_t kExif[] = {'E', 'x', 'i', 'f', 0, 0,    'I', 'I', 42, 0, 8,
                                             0,   0,   0,   1,   0, 0x12, 1,   3,   0,  1, 0,
                                             0,   0,   6,   0,   0, 0,    0,   0,   0,  0};
        jpeg_write_marker(&info, JPEG_APP0 + 1, kExif, sizeof kExif);
    }
    const std::size_t rowBytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(info.input_components);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + info.next_scanline * rowBytes);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

// pixels: width × height × components bytes, top-down, components as the input space has them.
// Empty when libjpeg refuses the options.
Bytes MakeJpeg(int width, int height, const Bytes& pixels, const JpegOptions& options) {
    jpeg_compress_struct info{};
    CompressError error{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool made = Compress(info, error, width, height, pixels, options, buffer, size);
    Bytes out;
    if (made) {
        out.assign(buffer, buffer + size);
    }
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

Bytes RgbBytes(const Picture& picture) {
    Bytes out;
    for (const auto& p : picture.pixels) {
        out.insert(out.end(), {p[0], p[1], p[2]});
    }
    return out;
}

Bytes QuadrantJpeg(const JpegOptions& options) {
    return MakeJpeg(16, 16, RgbBytes(QuadrantPicture(kColours)), options);
}

// Quadrants of grey levels 200, 150, 100, 50.
Bytes GreyJpeg() {
    Bytes grey;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            grey.push_back(
                static_cast<std::uint8_t>(200 - 50 * ((y < 8 ? 0 : 2) + (x < 8 ? 0 : 1))));
        }
    }
    JpegOptions options;
    options.input = JCS_GRAYSCALE;
    options.stored = JCS_GRAYSCALE;
    return MakeJpeg(16, 16, grey, options);
}

// Quadrants of pure cyan, magenta and yellow ink and a quarter of black: (0, 255, 255),
// (255, 0, 255), (255, 255, 0) and (191, 191, 191) on screen. Adobe files store 255 − ink.
const Quadrants kInkColours = {Rgb{0, 255, 255}, Rgb{255, 0, 255}, Rgb{255, 255, 0},
                               Rgb{191, 191, 191}};

Bytes InkJpeg(J_COLOR_SPACE stored, bool adobe) {
    const std::array<std::array<int, 4>, 4> inks = {
        {{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {0, 0, 0, 64}}};
    Bytes cmyk;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            for (const int ink :
                 inks[static_cast<std::size_t>((y < 8 ? 0 : 2) + (x < 8 ? 0 : 1))]) {
                cmyk.push_back(static_cast<std::uint8_t>(adobe ? 255 - ink : ink));
            }
        }
    }
    JpegOptions options;
    options.input = JCS_CMYK;
    options.stored = stored;
    options.adobe = adobe;
    return MakeJpeg(16, 16, cmyk, options);
}

// ---------------------------------------------------------------------------------------------
// ICO and CUR.

// One icon image as a DIB: BITMAPINFOHEADER (height doubled), palette, colour bits and AND mask,
// rows bottom-up.
struct Dib {
    int width = 0;
    int height = 0;
    int bitCount = 24;
    std::vector<Rgb> palette;  // bit counts up to 8
    std::vector<int> indices;  // bit counts up to 8: width × height, top-down
    Picture colours{0, 0};     // 24 and 32 bits (32: with alpha)
    std::vector<bool> masked;  // width × height, top-down; empty: nothing masked
    enum class Mask { Whole, Absent, Half } mask = Mask::Whole;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;  // 0: the whole palette
};

Bytes MakeDib(const Dib& dib) {
    Bytes out;
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(dib.width));
    Put32(out, static_cast<std::uint32_t>(dib.height * 2));
    Put16(out, 1);
    Put16(out, static_cast<std::uint32_t>(dib.bitCount));
    Put32(out, dib.compression);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, dib.coloursUsed);
    Put32(out, 0);
    if (dib.bitCount <= 8) {
        const std::size_t entries =
            dib.coloursUsed != 0 ? dib.coloursUsed : std::size_t{1} << dib.bitCount;
        for (std::size_t i = 0; i < entries; ++i) {
            const Rgb c = i < dib.palette.size() ? dib.palette[i] : Rgb{};
            out.insert(out.end(), {static_cast<std::uint8_t>(c.b), static_cast<std::uint8_t>(c.g),
                                   static_cast<std::uint8_t>(c.r), 0});
        }
    }
    const std::size_t stride =
        (static_cast<std::size_t>(dib.width) * static_cast<std::size_t>(dib.bitCount) + 31) / 32 *
        4;
    for (int y = dib.height - 1; y >= 0; --y) {
        Bytes row(stride, 0);
        for (int x = 0; x < dib.width; ++x) {
            if (dib.bitCount <= 8) {
                const int index = dib.indices[static_cast<std::size_t>(y * dib.width + x)];
                const int bit = x * dib.bitCount;
                row[static_cast<std::size_t>(bit / 8)] |=
                    static_cast<std::uint8_t>(index << (8 - dib.bitCount - bit % 8));
            } else if (dib.bitCount >= 24) {
                const auto& p = dib.colours.At(x, y);
                const std::size_t at = static_cast<std::size_t>(x * dib.bitCount / 8);
                row[at] = p[2];
                row[at + 1] = p[1];
                row[at + 2] = p[0];
                if (dib.bitCount == 32) {
                    row[at + 3] = p[3];
                }
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    const std::size_t maskStride = (static_cast<std::size_t>(dib.width) + 31) / 32 * 4;
    Bytes mask;
    for (int y = dib.height - 1; y >= 0; --y) {
        Bytes row(maskStride, 0);
        for (int x = 0; x < dib.width; ++x) {
            if (!dib.masked.empty() && dib.masked[static_cast<std::size_t>(y * dib.width + x)]) {
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
        mask.insert(mask.end(), row.begin(), row.end());
    }
    if (dib.mask == Dib::Mask::Half) {
        mask.resize(mask.size() / 2);
    }
    if (dib.mask != Dib::Mask::Absent) {
        out.insert(out.end(), mask.begin(), mask.end());
    }
    return out;
}

// One directory entry and its image.
struct IcoEntry {
    Bytes image;             // a DIB or a PNG file
    int directoryWidth = 0;  // what the directory claims (0 reads as 256)
    int directoryHeight = 0;
    bool offsetPastEnd = false;  // the directory points beyond the file
};

Bytes MakeIco(const std::vector<IcoEntry>& entries, int type = 1) {
    Bytes out;
    Put16(out, 0);
    Put16(out, static_cast<std::uint32_t>(type));
    Put16(out, static_cast<std::uint32_t>(entries.size()));
    std::size_t offset = 6 + 16 * entries.size();
    for (const IcoEntry& entry : entries) {
        out.push_back(static_cast<std::uint8_t>(entry.directoryWidth));
        out.push_back(static_cast<std::uint8_t>(entry.directoryHeight));
        out.insert(out.end(), {0, 0});
        Put16(out, 1);
        Put16(out, 32);
        Put32(out, static_cast<std::uint32_t>(entry.image.size()));
        Put32(out, static_cast<std::uint32_t>(entry.offsetPastEnd ? 1u << 30 : offset));
        offset += entry.image.size();
    }
    for (const IcoEntry& entry : entries) {
        out.insert(out.end(), entry.image.begin(), entry.image.end());
    }
    return out;
}

// A flat-coloured DIB of the given size and depth (a 1-, 4- or 8-bit one gets a one-colour
// palette).
Bytes FlatDib(int width, int height, int bitCount, const Rgb& colour) {
    Dib dib;
    dib.width = width;
    dib.height = height;
    dib.bitCount = bitCount;
    if (bitCount <= 8) {
        dib.palette = {colour};
        dib.indices.assign(static_cast<std::size_t>(width * height), 0);
    } else {
        dib.colours = Picture(width, height);
        dib.colours.Fill(0, 0, width, height, colour);
    }
    return MakeDib(dib);
}

Dib QuadrantDib(int bitCount) {
    Dib dib;
    dib.width = 16;
    dib.height = 16;
    dib.bitCount = bitCount;
    if (bitCount <= 8) {
        dib.palette = {kColours[0], kColours[1], kColours[2], kColours[3]};
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                dib.indices.push_back((y < 8 ? 0 : 2) + (x < 8 ? 0 : 1));
            }
        }
    } else {
        dib.colours = QuadrantPicture(kColours);
    }
    return dib;
}

Bytes QuadrantIco(int bitCount, int type = 1) {
    return MakeIco({{MakeDib(QuadrantDib(bitCount)), 16, 16}}, type);
}

// Two colours only: the top-left and bottom-right quadrants one, the others the other.
const Quadrants kTwoColours = {Rgb{250, 250, 250}, Rgb{10, 10, 200}, Rgb{10, 10, 200},
                               Rgb{250, 250, 250}};

Bytes TwoColourIco() {
    Dib dib = QuadrantDib(1);
    dib.palette = {kTwoColours[0], kTwoColours[1]};
    for (int& index : dib.indices) {
        index = index == 0 || index == 3 ? 0 : 1;
    }
    return MakeIco({{MakeDib(dib), 16, 16}});
}

// ---------------------------------------------------------------------------------------------
// Every format draws its quadrants upright, in BGRX, at its own size and stretched.

struct QuadrantCase {
    const char* name;
    Bytes (*make)();
    const char* format;
    Quadrants colours;
    int tolerance;  // per channel: 0 for lossless formats
};

std::ostream& operator<<(std::ostream& out, const QuadrantCase& c) {
    return out << c.name;
}

Bytes WithAlpha(int alpha) {
    Picture picture = QuadrantPicture(kColours);
    for (auto& p : picture.pixels) {
        p[3] = static_cast<std::uint8_t>(alpha);
    }
    return MakeBmp(picture, 32);
}

const QuadrantCase kQuadrantCases[] = {
    {"Bmp24", [] { return MakeBmp(QuadrantPicture(kColours)); }, "pixbuf", kColours, 0},
    // 32-bit BI_RGB: the fourth byte is unused, whatever it holds.
    {"Bmp32AlphaZero", [] { return WithAlpha(0); }, "pixbuf", kColours, 0},
    {"Bmp32AlphaJunk", [] { return WithAlpha(77); }, "pixbuf", kColours, 0},
    {"PngRgb", [] { return MakePng(QuadrantPicture(kColours), false); }, "pixbuf", kColours, 0},
    {"PngRgbaOpaque", [] { return MakePng(QuadrantPicture(kColours), true); }, "pixbuf", kColours,
     0},
    {"Gif", [] { return QuadrantGif(false); }, "gif", kColours, 0},
    {"GifInterlaced", [] { return QuadrantGif(true); }, "gif", kColours, 0},
    {"JpegBaseline", [] { return QuadrantJpeg({}); }, "jpeg", kColours, 4},
    {"JpegProgressive",
     [] {
         JpegOptions options;
         options.progressive = true;
         return QuadrantJpeg(options);
     },
     "jpeg", kColours, 4},
    {"JpegArithmetic",
     [] {
         JpegOptions options;
         options.arithmetic = true;
         return QuadrantJpeg(options);
     },
     "jpeg", kColours, 4},
    {"JpegRgbStored",
     [] {
         JpegOptions options;
         options.stored = JCS_RGB;
         return QuadrantJpeg(options);
     },
     "jpeg", kColours, 4},
    // EXIF orientation is not applied: the picture is drawn as stored.
    {"JpegExifOrientationIgnored",
     [] {
         JpegOptions options;
         options.exifOrientation = true;
         return QuadrantJpeg(options);
     },
     "jpeg", kColours, 4},
    {"JpegGrey",
     GreyJpeg,
     "jpeg",
     {Rgb{200, 200, 200}, Rgb{150, 150, 150}, Rgb{100, 100, 100}, Rgb{50, 50, 50}},
     2},
    {"JpegCmykAdobe", [] { return InkJpeg(JCS_CMYK, true); }, "jpeg", kInkColours, 3},
    {"JpegYcckAdobe", [] { return InkJpeg(JCS_YCCK, true); }, "jpeg", kInkColours, 4},
    // Without the Adobe marker the values are ink, not its complement.
    {"JpegCmykPlain", [] { return InkJpeg(JCS_CMYK, false); }, "jpeg", kInkColours, 3},
    {"Ico24", [] { return QuadrantIco(24); }, "ico", kColours, 0},
    {"Ico32",
     [] {
         Dib dib = QuadrantDib(32);
         return MakeIco({{MakeDib(dib), 16, 16}});
     },
     "ico", kColours, 0},
    {"Ico8", [] { return QuadrantIco(8); }, "ico", kColours, 0},
    {"Ico4", [] { return QuadrantIco(4); }, "ico", kColours, 0},
    {"Ico1", TwoColourIco, "ico", kTwoColours, 0},
    {"IcoPngEntry",
     [] {
         return MakeIco({{MakePng(QuadrantPicture(kColours), true), 16, 16}});
     },
     "ico", kColours, 0},
    {"Cursor", [] { return QuadrantIco(24, 2); }, "ico", kColours, 0},
};

class FormatQuadrants : public ::testing::TestWithParam<QuadrantCase> {};

// The colour seen at the centre of each quadrant of a target.
Quadrants SeenQuadrants(const Target& target) {
    const int left = target.width / 4;
    const int right = target.width * 3 / 4;
    const int top = target.height / 4;
    const int bottom = target.height * 3 / 4;
    return {target.Seen(left, top), target.Seen(right, top), target.Seen(left, bottom),
            target.Seen(right, bottom)};
}

TEST_P(FormatQuadrants, DrawnUprightInBgrxAtItsSizeAndStretched) {
    const QuadrantCase& c = GetParam();
    const Bytes bytes = c.make();
    // 16 × 16 is the picture's own size; 2 × 2 and 4 × 4 make JPEG decode at 1/8 and 1/4;
    // 40 × 24 stretches unevenly.
    const int sizes[][2] = {{0, 0}, {2, 2}, {4, 4}, {40, 24}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(testing::Message() << "target " << size[0] << "x" << size[1]);
        const Drawn drawn = Draw(bytes, size[0], size[1]);
        ASSERT_EQ(drawn.open, PictureResult::Ok);
        EXPECT_EQ(drawn.format, c.format);
        EXPECT_EQ(drawn.width, 16);
        EXPECT_EQ(drawn.height, 16);
        ASSERT_EQ(drawn.render, PictureResult::Ok);
        EXPECT_TRUE(drawn.target.AllWritten());
        const Quadrants seen = SeenQuadrants(drawn.target);
        for (std::size_t q = 0; q < 4; ++q) {
            EXPECT_TRUE(Near(seen[q], c.colours[q], c.tolerance))
                << "quadrant " << q << ": " << seen[q] << " for " << c.colours[q];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatQuadrants, ::testing::ValuesIn(kQuadrantCases),
                         [](const ::testing::TestParamInfo<QuadrantCase>& param) {
                             return std::string(param.param.name);
                         });

TEST(FormatRecognition, ByContentNotByName) {
    struct Case {
        const char* fileName;
        Bytes bytes;
        const char* format;
    };
    const Case cases[] = {
        {"png-named.jpg", MakePng(QuadrantPicture(kColours), false), "pixbuf"},
        {"bmp-named.jpg", MakeBmp(QuadrantPicture(kColours)), "pixbuf"},
        {"gif-named.bmp", QuadrantGif(false), "gif"},
        {"jpeg-named.png", QuadrantJpeg({}), "jpeg"},
        {"ico-named.gif", QuadrantIco(24), "ico"},
        {"no-extension", MakePng(QuadrantPicture(kColours), false), "pixbuf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileName);
        const std::string path = testing::TempDir() + c.fileName;
        {
            std::ofstream file(path, std::ios::binary);
            file.write(reinterpret_cast<const char*>(c.bytes.data()),
                       static_cast<std::streamsize>(c.bytes.size()));
        }
        const Drawn drawn = DrawFile(path);
        std::remove(path.c_str());
        ASSERT_EQ(drawn.open, PictureResult::Ok);
        EXPECT_EQ(drawn.format, c.format);
        ASSERT_EQ(drawn.render, PictureResult::Ok);
        EXPECT_TRUE(Near(drawn.target.Seen(2, 2), kColours[0], 4));
    }
}

// ---------------------------------------------------------------------------------------------
// The pixel budget (2^26 pixels) is checked on the header, before anything is allocated for the
// pixels: a few bytes declaring 65535 × 65535 are refused as too large, not run out of memory on.

Bytes BmpHeader(std::uint32_t width, std::uint32_t height) {
    Picture one(1, 1);
    Bytes bytes = MakeBmp(one);
    Set32(bytes, 18, width);
    Set32(bytes, 22, height);
    return bytes;
}

Bytes GifScreen(int width, int height) {
    GifFrame frame;
    frame.width = 1;
    frame.height = 1;
    frame.indices = {0};
    return MakeGif(width, height, {Rgb{1, 2, 3}, Rgb{}}, {frame});
}

Bytes JpegSized(int width, int height) {
    Bytes bytes = QuadrantJpeg({});
    // The baseline frame header: FF C0, length, precision, then height and width, big-endian.
    for (std::size_t i = 0; i + 8 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            bytes[i + 5] = static_cast<std::uint8_t>(height >> 8);
            bytes[i + 6] = static_cast<std::uint8_t>(height);
            bytes[i + 7] = static_cast<std::uint8_t>(width >> 8);
            bytes[i + 8] = static_cast<std::uint8_t>(width);
            break;
        }
    }
    return bytes;
}

// A PNG whose header declares width × height, followed by a few bytes of image data.
Bytes PngDeclaring(std::uint32_t width, std::uint32_t height) {
    Bytes bytes = PngHeader(width, height, 6);
    PutChunk(bytes, "IDAT", {0x78, 0x01, 0x01, 0x01, 0x00, 0xFE, 0xFF, 0x00});
    PutChunk(bytes, "IEND", {});
    return bytes;
}

Bytes IcoDibSized(std::uint32_t width, std::uint32_t height) {
    Bytes dib = FlatDib(1, 1, 24, Rgb{});
    Set32(dib, 4, width);
    Set32(dib, 8, height * 2);
    return MakeIco({{dib, 0, 0}});
}

TEST(FormatBudget, HugeDeclaredSizesAreRefusedAtTheHeader) {
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"BMP 65535 x 65535", BmpHeader(65535, 65535)},
        {"BMP 16384 x 4097, just over the budget", BmpHeader(16384, 4097)},
        {"PNG 65535 x 65535", PngDeclaring(65535, 65535)},
        {"GIF screen 65535 x 65535", GifScreen(65535, 65535)},
        {"JPEG 65500 x 65500", JpegSized(65500, 65500)},
        {"ICO DIB 65535 x 65535", IcoDibSized(65535, 65535)},
        {"ICO PNG entry 65535 x 65535", MakeIco({{PngDeclaring(65535, 65535), 0, 0}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PicturePtr picture;
        EXPECT_EQ(platform::LoadPictureFromMemory(c.bytes.data(), c.bytes.size(), picture),
                  PictureResult::TooLarge);
    }
    // Exactly the budget is still a picture: only its missing pixel data would stop it.
    PicturePtr picture;
    const Bytes atBudget = BmpHeader(8192, 8192);
    EXPECT_EQ(platform::LoadPictureFromMemory(atBudget.data(), atBudget.size(), picture),
              PictureResult::Ok);
}

// gdk-pixbuf's BMP loader sizes its read buffer from the info header's size field and from
// biClrUsed before it reports the picture's size; fields that ask for more than the file holds
// are refused before the loader sees them.
TEST(FormatBudget, BmpHeaderFieldsCannotAskForHugeBuffers) {
    Bytes hugeInfoHeader = BmpHeader(4, 4);
    Set32(hugeInfoHeader, 14, 0x7FFFFFF0);
    Picture picture(8, 8);
    Bytes hugePalette = MakeBmp(picture);
    Set32(hugePalette, 28, 8);  // 8 bits per pixel, so biClrUsed counts palette entries
    Set32(hugePalette, 46, 0xFFFF0002);
    for (const Bytes& bytes : {hugeInfoHeader, hugePalette}) {
        const Drawn drawn = Draw(bytes);
        EXPECT_TRUE(drawn.open != PictureResult::Ok || drawn.render != PictureResult::Ok);
    }
}

// ---------------------------------------------------------------------------------------------
// Each format's own rules.

TEST(PngFormat, TransparencyIsComposedOntoBlack) {
    Picture picture(3, 1);
    picture.Fill(0, 0, 1, 1, Rgb{255, 0, 0}, 255);
    picture.Fill(1, 0, 2, 1, Rgb{0, 255, 0}, 0);
    picture.Fill(2, 0, 3, 1, Rgb{0, 0, 255}, 128);
    const Drawn drawn = Draw(MakePng(picture, true));
    ASSERT_EQ(drawn.render, PictureResult::Ok);
    EXPECT_EQ(drawn.target.Seen(0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(drawn.target.Seen(1, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(drawn.target.Seen(2, 0), (Rgb{0, 0, 128}));
}

// A file cut off inside its pixel data draws what it holds, and black (not stale memory) where
// the data ends.
TEST(Truncation, PixelDataCutShortDrawsWhatItHoldsAndBlackBeyond) {
    struct Case {
        const char* name;
        Bytes whole;
        std::size_t keep;  // bytes kept
        bool topKept;      // the top half survives (else the bottom half)
    };
    const Bytes bmp = MakeBmp(QuadrantPicture(kColours));
    const Bytes png = MakePng(QuadrantPicture(kColours), false);
    const Case cases[] = {
        // BMP rows run bottom-up, 48 bytes each after 54 of headers: 9 rows of 16 survive.
        {"BMP", bmp, 54 + 48 * 9, false},
        // PNG rows run top-down, 1 + 48 bytes each, after the signature and header (8 + 25),
        // IDAT's length and type (8), the zlib header (2) and the stored block's (5).
        {"PNG", png, 8 + 25 + 8 + 2 + 5 + 49 * 10, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes cut(c.whole.begin(), c.whole.begin() + static_cast<std::ptrdiff_t>(c.keep));
        const Drawn drawn = Draw(cut);
        ASSERT_EQ(drawn.open, PictureResult::Ok);
        ASSERT_EQ(drawn.render, PictureResult::Ok);
        EXPECT_TRUE(drawn.target.AllWritten());
        const Quadrants seen = SeenQuadrants(drawn.target);
        const std::size_t kept = c.topKept ? 0 : 2;
        const std::size_t lost = c.topKept ? 2 : 0;
        EXPECT_EQ(seen[kept], kColours[kept]);
        EXPECT_EQ(seen[kept + 1], kColours[kept + 1]);
        EXPECT_EQ(seen[lost], (Rgb{0, 0, 0}));
        EXPECT_EQ(seen[lost + 1], (Rgb{0, 0, 0}));
    }
}

// A GIF frame cut off inside its data keeps the lines decoded before the cut; the rest is black.
TEST(Truncation, GifFrameCutShortKeepsItsFirstLines) {
    // Noise compresses evenly, so half the data holds about half the rows. giflib reads the data
    // a sub-block (255 bytes) at a time and drops one cut short, so the frame spans several.
    GifFrame frame;
    frame.width = 64;
    frame.height = 64;
    std::uint32_t seed = 99;
    for (int i = 0; i < 64 * 64; ++i) {
        seed = seed * 1103515245 + 12345;
        frame.indices.push_back(1 + static_cast<int>(seed >> 16) % 3);
    }
    const std::vector<Rgb> palette = {Rgb{}, Rgb{200, 0, 0}, Rgb{0, 200, 0}, Rgb{0, 0, 200}};
    const Bytes whole = MakeGif(64, 64, palette, {frame});
    // Header 13, palette 12, descriptor 10, code size 1: the rest is data and trailer.
    const std::size_t data = whole.size() - 36;
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(36 + data / 2));
    const Drawn drawn = Draw(cut);
    ASSERT_EQ(drawn.render, PictureResult::Ok);
    EXPECT_TRUE(drawn.target.AllWritten());
    for (int x = 0; x < 64; ++x) {
        for (const int y : {0, 8}) {
            const int index = frame.indices[static_cast<std::size_t>(y * 64 + x)];
            EXPECT_EQ(drawn.target.Seen(x, y), palette[static_cast<std::size_t>(index)])
                << x << ", " << y;
        }
        for (const int y : {48, 63}) {
            EXPECT_EQ(drawn.target.Seen(x, y), (Rgb{0, 0, 0})) << x << ", " << y;
        }
    }
}

// Every prefix of a small file of each format either fails or draws; none reads past its end
// (the sanitizer build checks that) or crashes.
TEST(Truncation, EveryPrefixFailsCleanlyOrDraws) {
    const std::pair<const char*, Bytes> files[] = {
        {"BMP", MakeBmp(QuadrantPicture(kColours, 8))},
        {"PNG", MakePng(QuadrantPicture(kColours, 8), true)},
        {"GIF", QuadrantGif(true)},
        {"JPEG", QuadrantJpeg({})},
        {"ICO", QuadrantIco(4)},
        {"ICO with PNG", MakeIco({{MakePng(QuadrantPicture(kColours, 8), true), 8, 8}})},
    };
    for (const auto& [name, whole] : files) {
        SCOPED_TRACE(name);
        int drawnCount = 0;
        for (std::size_t keep = 0; keep < whole.size(); ++keep) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep));
            const Drawn drawn = Draw(cut, 8, 8);
            if (drawn.open == PictureResult::Ok && drawn.render == PictureResult::Ok) {
                ++drawnCount;
                EXPECT_TRUE(drawn.target.AllWritten()) << keep;
            }
        }
        EXPECT_EQ(Draw(whole, 8, 8).render, PictureResult::Ok);
        EXPECT_GT(drawnCount, 0);
    }
}

// GIF --------------------------------------------------------------------------------------

const std::vector<Rgb> kGreys = [] {
    std::vector<Rgb> greys;
    for (int i = 0; i < 16; ++i) {
        greys.push_back(Rgb{i * 16, i * 16, i * 16});
    }
    return greys;
}();

GifFrame FlatFrame(int left, int top, int width, int height, int index) {
    GifFrame frame;
    frame.left = left;
    frame.top = top;
    frame.width = width;
    frame.height = height;
    frame.indices.assign(static_cast<std::size_t>(width * height), index);
    return frame;
}

TEST(GifFormat, OnlyTheFirstFrameIsDrawn) {
    GifFrame second = FlatFrame(0, 0, 4, 4, 2);
    const Bytes gif = MakeGif(4, 4, {Rgb{200, 0, 0}, Rgb{0, 200, 0}, Rgb{0, 0, 200}},
                              {FlatFrame(0, 0, 4, 4, 1), second});
    const Drawn drawn = Draw(gif);
    ASSERT_EQ(drawn.render, PictureResult::Ok);
    EXPECT_EQ(drawn.target.Seen(0, 0), (Rgb{0, 200, 0}));
    EXPECT_EQ(drawn.target.Seen(3, 3), (Rgb{0, 200, 0}));
}

TEST(GifFormat, TransparentIndexOfTheFirstControlBlockShowsBlack) {
    struct Case {
        const char* name;
        int flags;
        int transparent;
        Rgb left;   // index 1
        Rgb right;  // index 2
    };
    const Rgb one{50, 60, 70};
    const Rgb two{80, 90, 100};
    const Case cases[] = {
        {"index 1 transparent", 1, 1, Rgb{}, two},
        {"index 2 transparent", 1, 2, one, Rgb{}},
        {"flag clear: nothing transparent", 0, 1, one, two},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GifFrame frame;
        frame.width = 2;
        frame.height = 1;
        frame.indices = {1, 2};
        frame.control = true;
        frame.controlFlags = c.flags;
        frame.transparent = c.transparent;
        // A later frame's control block says index 2: it belongs to that frame, never drawn.
        GifFrame later = FlatFrame(0, 0, 2, 1, 0);
        later.control = true;
        later.controlFlags = 1;
        later.transparent = 2;
        const Drawn drawn = Draw(MakeGif(2, 1, {Rgb{9, 9, 9}, one, two}, {frame, later}));
        ASSERT_EQ(drawn.render, PictureResult::Ok);
        EXPECT_EQ(drawn.target.Seen(0, 0), c.left);
        EXPECT_EQ(drawn.target.Seen(1, 0), c.right);
    }
}

TEST(GifFormat, FrameIsPlacedOnTheScreenOverBlackAndClipped) {
    const std::vector<Rgb> palette = {Rgb{}, Rgb{255, 255, 255}};
    struct Case {
        const char* name;
        GifFrame frame;
    };
    const Case cases[] = {
        {"inside", FlatFrame(2, 3, 4, 4, 1)},
        {"past the right and bottom edges", FlatFrame(6, 5, 4, 4, 1)},
        {"entirely off the screen", FlatFrame(9, 9, 2, 2, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Drawn drawn = Draw(MakeGif(8, 8, palette, {c.frame}));
        ASSERT_EQ(drawn.render, PictureResult::Ok);
        EXPECT_TRUE(drawn.target.AllWritten());
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                const bool inFrame = x >= c.frame.left && x < c.frame.left + c.frame.width &&
                                     y >= c.frame.top && y < c.frame.top + c.frame.height;
                EXPECT_EQ(drawn.target.Seen(x, y), inFrame ? palette[1] : palette[0])
                    << x << ", " << y;
            }
        }
    }
}

TEST(GifFormat, InterlacedRowsLandOnTheirRows) {
    for (const bool interlace : {false, true}) {
        for (const int height : {16, 11, 3, 1}) {
            SCOPED_TRACE(testing::Message()
                         << "interlace " << interlace << ", " << height << " rows");
            GifFrame frame;
            frame.width = 3;
            frame.height = height;
            frame.interlace = interlace;
            for (int y = 0; y < height; ++y) {
                frame.indices.insert(frame.indices.end(), 3, y % 16);
            }
            const Drawn drawn = Draw(MakeGif(3, height, kGreys, {frame}));
            ASSERT_EQ(drawn.render, PictureResult::Ok);
            for (int y = 0; y < height; ++y) {
                EXPECT_EQ(drawn.target.Seen(1, y), kGreys[static_cast<std::size_t>(y % 16)]) << y;
            }
        }
    }
}

// Minimum code sizes of 9 to 11 are valid LZW (codes are at most 12 bits) and come from encoders
// that use the whole table; size 8 goes through giflib and checks the encoder here.
TEST(GifFormat, EveryMinimumCodeSizeDecodesExactly) {
    // Long runs (strings of strings, and the code defined by its own use), then noise that
    // fills the 4096-entry table and goes on with it full.
    const int width = 64;
    const int height = 80;
    std::vector<int> indices;
    std::uint32_t seed = 12345;
    for (int i = 0; i < width * height; ++i) {
        seed = seed * 1103515245 + 12345;
        indices.push_back(i < 1000 ? (i / 300) % 16 : static_cast<int>(seed >> 16) % 16);
    }
    for (const int bits : {4, 8, 9, 10, 11}) {
        SCOPED_TRACE(bits);
        GifFrame frame;
        frame.width = width;
        frame.height = height;
        frame.indices = indices;
        frame.minimumBits = bits;
        const Drawn drawn = Draw(MakeGif(width, height, kGreys, {frame}));
        ASSERT_EQ(drawn.render, PictureResult::Ok);
        int wrong = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const Rgb expected = kGreys[static_cast<std::size_t>(
                    indices[static_cast<std::size_t>(y * width + x)])];
                wrong += drawn.target.Seen(x, y) == expected ? 0 : 1;
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(GifFormat, IndicesBeyondThePaletteShowBlack) {
    GifFrame frame;
    frame.width = 3;
    frame.height = 1;
    frame.indices = {0, 5, 700};
    frame.minimumBits = 10;  // room for index 700
    const Drawn drawn = Draw(MakeGif(3, 1, {Rgb{10, 20, 30}, Rgb{}, Rgb{}, Rgb{}}, {frame}));
    ASSERT_EQ(drawn.render, PictureResult::Ok);
    EXPECT_EQ(drawn.target.Seen(0, 0), (Rgb{10, 20, 30}));
    EXPECT_EQ(drawn.target.Seen(1, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(drawn.target.Seen(2, 0), (Rgb{0, 0, 0}));
}

TEST(GifFormat, RefusedFiles) {
    GifFrame frame = FlatFrame(0, 0, 2, 2, 1);
    Bytes codeSizeTwelve = MakeGif(2, 2, {Rgb{}, Rgb{1, 1, 1}}, {frame});
    // Header 13, palette 6, descriptor 10: then the code size byte.
    codeSizeTwelve[13 + 6 + 10] = 12;
    const Bytes headerOnly(codeSizeTwelve.begin(), codeSizeTwelve.begin() + 13 + 6);
    Bytes noFrames = headerOnly;
    noFrames.push_back(0x3B);
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        // Our choice: a frame with no colour table anywhere has no colours to draw.
        {"no colour table at all", MakeGif(2, 2, {}, {frame})},
        {"screen 0 wide", MakeGif(0, 2, {Rgb{}, Rgb{1, 1, 1}}, {frame})},
        {"screen 0 high", MakeGif(2, 0, {Rgb{}, Rgb{1, 1, 1}}, {frame})},
        {"no frame before the trailer", noFrames},
        {"header only", headerOnly},
        {"minimum code size 12", codeSizeTwelve},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Drawn drawn = Draw(c.bytes);
        EXPECT_TRUE(drawn.open != PictureResult::Ok || drawn.render != PictureResult::Ok);
    }
}

// JPEG -------------------------------------------------------------------------------------

// A scan script with every AC coefficient of every component sent bit by bit: 11 scans a
// coefficient (a first at Al 10, the most libjpeg allows, then 10 refinements), all valid.
std::vector<jpeg_scan_info> BitByBitScans(int components) {
    std::vector<jpeg_scan_info> scans;
    jpeg_scan_info dc{};
    dc.comps_in_scan = components;
    for (int c = 0; c < components; ++c) {
        dc.component_index[c] = c;
    }
    scans.push_back(dc);
    for (int c = 0; c < components; ++c) {
        for (int k = 1; k < 64; ++k) {
            for (int al = 10; al >= 0; --al) {
                jpeg_scan_info ac{};
                ac.comps_in_scan = 1;
                ac.component_index[0] = c;
                ac.Ss = k;
                ac.Se = k;
                ac.Ah = al == 10 ? 0 : al + 1;
                ac.Al = al;
                scans.push_back(ac);
            }
        }
    }
    return scans;
}

TEST(JpegFormat, ProgressiveFilesWithMoreThanAThousandScansAreRefused) {
    const Picture picture = QuadrantPicture(kColours, 8);
    // Grey: 1 + 63 × 11 = 694 scans, within the limit.
    const std::vector<jpeg_scan_info> greyScans = BitByBitScans(1);
    JpegOptions grey;
    grey.input = JCS_GRAYSCALE;
    grey.stored = JCS_GRAYSCALE;
    grey.scans = greyScans.data();
    grey.scanCount = static_cast<int>(greyScans.size());
    const Bytes greyBytes = MakeJpeg(8, 8, Bytes(64, 100), grey);
    ASSERT_FALSE(greyBytes.empty());
    EXPECT_EQ(Draw(greyBytes).render, PictureResult::Ok);
    // Colour: 1 + 3 × 63 × 11 = 2080 scans.
    const std::vector<jpeg_scan_info> colourScans = BitByBitScans(3);
    JpegOptions colour;
    colour.scans = colourScans.data();
    colour.scanCount = static_cast<int>(colourScans.size());
    const Bytes colourBytes = MakeJpeg(8, 8, RgbBytes(picture), colour);
    ASSERT_FALSE(colourBytes.empty());
    const Drawn drawn = Draw(colourBytes);
    ASSERT_EQ(drawn.open, PictureResult::Ok);
    EXPECT_EQ(drawn.render, PictureResult::Corrupt);
}

TEST(JpegFormat, DamagedFilesFailOrDraw) {
    const Bytes good = QuadrantJpeg({});
    // Garbage in the entropy-coded data (after the scan header, before the end marker, and with
    // no 0xFF that would read as a marker) is corrupt data libjpeg works around with a warning:
    // the picture still draws.
    std::size_t scan = 0;
    for (std::size_t i = 0; i + 3 < good.size(); ++i) {
        if (good[i] == 0xFF && good[i + 1] == 0xDA) {
            scan = i + 2 + static_cast<std::size_t>(good[i + 2] << 8 | good[i + 3]);
            break;
        }
    }
    ASSERT_GT(scan, 0u);
    Bytes garbled = good;
    for (std::size_t i = scan + 8; i + 2 < garbled.size(); ++i) {
        garbled[i] = static_cast<std::uint8_t>((i * 37) & 0x7F);
    }
    const Drawn drawn = Draw(garbled);
    ASSERT_EQ(drawn.open, PictureResult::Ok);
    EXPECT_EQ(drawn.render, PictureResult::Ok);
    EXPECT_TRUE(drawn.target.AllWritten());
    // No frame at all is not: there is nothing to draw.
    const Bytes onlyMarkers = {0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_NE(Draw(onlyMarkers).open, PictureResult::Ok);
}

// ICO --------------------------------------------------------------------------------------

TEST(IcoFormat, BestEntryIsTheLargestThenTheDeepestThenTheFirst) {
    const Rgb red{200, 0, 0};
    const Rgb green{0, 200, 0};
    const Rgb blue{0, 0, 200};
    struct Case {
        const char* name;
        std::vector<IcoEntry> entries;
        int size;    // of the chosen entry
        Rgb colour;  // of the chosen entry
    };
    const Case cases[] = {
        {"largest, then deepest",
         {{FlatDib(16, 16, 8, red), 16, 16},
          {FlatDib(32, 32, 4, green), 32, 32},
          {FlatDib(32, 32, 24, blue), 32, 32}},
         32,
         blue},
        {"area before depth",
         {{FlatDib(32, 32, 32, red), 32, 32}, {FlatDib(48, 48, 1, green), 48, 48}},
         48,
         green},
        {"the first of equals",
         {{FlatDib(16, 16, 8, red), 16, 16}, {FlatDib(16, 16, 8, green), 16, 16}},
         16,
         red},
        {"sizes from the image, not the directory",
         {{FlatDib(8, 8, 24, red), 64, 64}, {FlatDib(16, 16, 24, green), 16, 16}},
         16,
         green},
        // Directory 0 × 0 reads as 256, but the PNG itself says 32.
        {"a PNG entry's own size",
         {{MakePng(QuadrantPicture({red, red, red, red}, 32), false), 0, 0},
          {FlatDib(48, 48, 8, blue), 48, 48}},
         48,
         blue},
        {"a PNG entry can win",
         {{FlatDib(16, 16, 32, blue), 16, 16},
          {MakePng(QuadrantPicture({green, green, green, green}, 32), true), 32, 32}},
         32,
         green},
        {"entries that cannot be read are passed over",
         {{FlatDib(64, 64, 24, red), 64, 64, true}, {FlatDib(16, 16, 24, green), 16, 16}},
         16,
         green},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Drawn drawn = Draw(MakeIco(c.entries));
        ASSERT_EQ(drawn.open, PictureResult::Ok);
        EXPECT_EQ(drawn.width, c.size);
        EXPECT_EQ(drawn.height, c.size);
        ASSERT_EQ(drawn.render, PictureResult::Ok);
        EXPECT_EQ(drawn.target.Seen(drawn.width / 2, drawn.height / 2), c.colour);
    }
}

TEST(IcoFormat, AndMaskAndAlphaAsDrawnOnBlack) {
    const Rgb colour{100, 150, 200};
    // Four pixels in a row, the first and third masked out.
    const std::vector<bool> masked = {true, false, true, false};
    struct Case {
        const char* name;
        int bitCount;
        std::array<int, 4> alpha;  // 32 bits only
        Dib::Mask mask;
        std::array<Rgb, 4> expected;
    };
    const Rgb half{50, 75, 100};
    const Rgb none{0, 0, 0};
    const Case cases[] = {
        {"mask applies", 24, {}, Dib::Mask::Whole, {none, colour, none, colour}},
        {"no mask: all drawn", 24, {}, Dib::Mask::Absent, {colour, colour, colour, colour}},
        {"mask cut short: all drawn", 24, {}, Dib::Mask::Half, {colour, colour, colour, colour}},
        {"alpha, and the mask no longer matters",
         32,
         {255, 255, 128, 0},
         Dib::Mask::Whole,
         {colour, colour, half, none}},
        {"alpha all 0: an old icon, the mask applies",
         32,
         {0, 0, 0, 0},
         Dib::Mask::Whole,
         {none, colour, none, colour}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dib dib;
        dib.width = 4;
        dib.height = 2;
        dib.bitCount = c.bitCount;
        dib.colours = Picture(4, 2);
        for (int x = 0; x < 4; ++x) {
            dib.colours.Fill(x, 0, x + 1, 2, colour, c.alpha[static_cast<std::size_t>(x)]);
        }
        dib.masked = masked;
        dib.masked.insert(dib.masked.end(), masked.begin(), masked.end());
        dib.mask = c.mask;
        const Drawn drawn = Draw(MakeIco({{MakeDib(dib), 4, 2}}));
        ASSERT_EQ(drawn.render, PictureResult::Ok);
        for (int x = 0; x < 4; ++x) {
            EXPECT_TRUE(Near(drawn.target.Seen(x, 0), c.expected[static_cast<std::size_t>(x)], 1))
                << x << ": " << drawn.target.Seen(x, 0);
        }
    }
}

TEST(IcoFormat, IndicesBeyondAShortPaletteShowBlack) {
    Dib dib;
    dib.width = 3;
    dib.height = 1;
    dib.bitCount = 8;
    dib.coloursUsed = 2;
    dib.palette = {Rgb{1, 2, 3}, Rgb{40, 50, 60}};
    dib.indices = {0, 1, 5};
    const Drawn drawn = Draw(MakeIco({{MakeDib(dib), 3, 1}}));
    ASSERT_EQ(drawn.render, PictureResult::Ok);
    EXPECT_EQ(drawn.target.Seen(0, 0), (Rgb{1, 2, 3}));
    EXPECT_EQ(drawn.target.Seen(1, 0), (Rgb{40, 50, 60}));
    EXPECT_EQ(drawn.target.Seen(2, 0), (Rgb{0, 0, 0}));
}

TEST(IcoFormat, RefusedFiles) {
    const Bytes good = QuadrantIco(24);
    Bytes noEntries = good;
    noEntries[4] = 0;
    Bytes directoryPastEnd = good;
    directoryPastEnd[4] = 200;
    Dib rle = QuadrantDib(8);
    rle.compression = 1;
    Dib sixteen = QuadrantDib(24);
    sixteen.bitCount = 16;
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"no entries", noEntries},
        {"directory longer than the file", directoryPastEnd},
        {"colour bits cut short", Bytes(good.begin(), good.begin() + 22 + 40 + 16 * 48 / 2)},
        {"compressed DIB", MakeIco({{MakeDib(rle), 16, 16}})},
        {"16 bits per pixel", MakeIco({{MakeDib(sixteen), 16, 16}})},
        {"entry offset past the end", MakeIco({{FlatDib(4, 4, 24, Rgb{}), 4, 4, true}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Drawn drawn = Draw(c.bytes);
        EXPECT_TRUE(drawn.open != PictureResult::Ok || drawn.render != PictureResult::Ok);
    }
}

}  // namespace
