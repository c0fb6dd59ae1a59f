// Small hostile files built in memory for the hostile tests: one tiny valid file of each format
// to cut and bend, bombs that declare far more than they hold, and the guards the tests run
// them under (a wall-clock alarm, a drawing target that tells written pixels from untouched).
#pragma once

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/picture/picture.h"
#include "textures_fixtures.h"

namespace hostile_test {

using textures_test::Bytes;
using textures_test::PutLe16;
using textures_test::PutLe32;

inline void PutBe16(Bytes& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

inline void PutBe32(Bytes& out, std::uint32_t value) {
    PutBe16(out, value >> 16);
    PutBe16(out, value & 0xFFFF);
}

inline void SetLe32(Bytes& out, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

inline void SetLe16(Bytes& out, std::size_t offset, unsigned value) {
    out[offset] = static_cast<std::uint8_t>(value & 0xFF);
    out[offset + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

// ---------------------------------------------------------------------------------------------
// PNG: stored (uncompressed) deflate blocks, so no compressor is needed.

inline std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

inline void PutPngChunk(Bytes& out, const char* type, const Bytes& data) {
    PutBe32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBe32(out, Crc32(out.data() + start, out.size() - start));
}

// An RGB PNG of width × height declared in its header, whose rows are a gradient; rows holds
// how many rows of data the file really carries (the header may declare more).
inline Bytes MakePng(std::uint32_t width, std::uint32_t height, std::uint32_t rows) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    PutBe32(header, width);
    PutBe32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, filter 0, no interlace
    PutPngChunk(out, "IHDR", header);
    Bytes raw;
    for (std::uint32_t y = 0; y < rows; ++y) {
        raw.push_back(0);  // filter: none
        for (std::uint32_t x = 0; x < width; ++x) {
            raw.insert(raw.end(),
                       {static_cast<std::uint8_t>(x * 40), static_cast<std::uint8_t>(y * 40), 90});
        }
    }
    Bytes zlib = {0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t chunk = std::min<std::size_t>(raw.size() - at, 65535);
        zlib.push_back(at + chunk == raw.size() ? 1 : 0);
        PutLe16(zlib, static_cast<unsigned>(chunk));
        PutLe16(zlib, static_cast<unsigned>(~chunk & 0xFFFF));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                    raw.begin() + static_cast<std::ptrdiff_t>(at + chunk));
        at += chunk;
    } while (at < raw.size());
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBe32(zlib, b << 16 | a);
    PutPngChunk(out, "IDAT", zlib);
    PutPngChunk(out, "IEND", {});
    return out;
}

// ---------------------------------------------------------------------------------------------
// GIF: 2-bit minimum code size, a clear code before every second index so codes stay 3 bits.

// The LZW data of one frame (code size byte, sub-blocks, terminator) for the given indices.
inline Bytes GifFrameData(const std::vector<int>& indices) {
    std::vector<int> codes;
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (i % 2 == 0) {
            codes.push_back(4);  // clear
        }
        codes.push_back(indices[i] & 3);
    }
    codes.push_back(5);  // end of information
    Bytes packed;
    std::uint32_t bits = 0;
    int count = 0;
    for (int code : codes) {
        bits |= static_cast<std::uint32_t>(code) << count;
        count += 3;
        while (count >= 8) {
            packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
            bits >>= 8;
            count -= 8;
        }
    }
    if (count > 0) {
        packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
    }
    Bytes out = {2};
    for (std::size_t at = 0; at < packed.size(); at += 255) {
        const std::size_t block = std::min<std::size_t>(255, packed.size() - at);
        out.push_back(static_cast<std::uint8_t>(block));
        out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(at),
                   packed.begin() + static_cast<std::ptrdiff_t>(at + block));
    }
    out.push_back(0);
    return out;
}

// A GIF89a with a 4-colour global palette, a screen of screenWidth × screenHeight, and frames
// copies of one frame of frameWidth × frameHeight (its descriptor declares that size; its data
// holds dataPixels indices).
inline Bytes MakeGif(unsigned screenWidth, unsigned screenHeight, unsigned frameWidth,
                     unsigned frameHeight, std::size_t dataPixels, std::size_t frames = 1) {
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    PutLe16(out, screenWidth);
    PutLe16(out, screenHeight);
    out.insert(out.end(), {0xF1, 0, 0});  // global table of 4 colours
    out.insert(out.end(), {200, 0, 0, 0, 200, 0, 0, 0, 200, 250, 250, 250});
    std::vector<int> indices(dataPixels);
    for (std::size_t i = 0; i < dataPixels; ++i) {
        indices[i] = static_cast<int>(i % 3);
    }
    const Bytes data = GifFrameData(indices);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        out.push_back(0x2C);
        PutLe16(out, 0);
        PutLe16(out, 0);
        PutLe16(out, frameWidth);
        PutLe16(out, frameHeight);
        out.push_back(0);  // no local table, not interlaced
        out.insert(out.end(), data.begin(), data.end());
    }
    out.push_back(0x3B);
    return out;
}

// ---------------------------------------------------------------------------------------------
// JPEG, written by hand: one grey component, one quantisation table, and Huffman tables of a
// single one-bit code each (DC difference category 0, AC end of block), so a block costs one
// bit per scan and the picture is flat mid-grey.

inline void PutJpegTables(Bytes& out) {
    out.insert(out.end(), {0xFF, 0xDB, 0x00, 0x43, 0x00});
    out.insert(out.end(), 64, 1);
    out.insert(out.end(), {0xFF, 0xC4, 0x00, 0x26});
    for (std::uint8_t tableClass : {std::uint8_t{0x00}, std::uint8_t{0x10}}) {
        out.push_back(tableClass);
        out.push_back(1);  // one code of length 1
        out.insert(out.end(), 15, 0);
        out.push_back(0);  // its symbol: category 0, or end of block
    }
}

inline void PutJpegFrame(Bytes& out, std::uint8_t marker, unsigned width, unsigned height) {
    out.insert(out.end(), {0xFF, marker, 0x00, 0x0B, 0x08});
    PutBe16(out, height);
    PutBe16(out, width);
    out.insert(out.end(), {0x01, 0x01, 0x11, 0x00});
}

// A 4:4:4 colour frame (three components, no subsampling).
inline void PutJpegColourFrame(Bytes& out, std::uint8_t marker, unsigned width, unsigned height) {
    out.insert(out.end(), {0xFF, marker, 0x00, 0x11, 0x08});
    PutBe16(out, height);
    PutBe16(out, width);
    out.insert(out.end(), {0x03, 0x01, 0x11, 0x00, 0x02, 0x11, 0x00, 0x03, 0x11, 0x00});
}

inline void PutJpegScan(Bytes& out, std::uint8_t first, std::uint8_t last, std::size_t bits) {
    out.insert(out.end(), {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, first, last, 0x00});
    // Zero bits, padded with ones to the byte; no 0xFF byte can arise.
    out.insert(out.end(), bits / 8, 0);
    if (bits % 8 != 0) {
        out.push_back(static_cast<std::uint8_t>(0xFF >> (bits % 8)));
    }
}

// A baseline grey JPEG of width × height whose one scan carries every block.
inline Bytes MakeJpeg(unsigned width, unsigned height) {
    Bytes out = {0xFF, 0xD8};
    PutJpegTables(out);
    PutJpegFrame(out, 0xC0, width, height);
    const std::size_t blocks = std::size_t{(width + 7) / 8} * ((height + 7) / 8);
    PutJpegScan(out, 0, 63, 2 * blocks);
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

// A progressive grey JPEG of width × height with a DC scan and then scans − 1 AC scans; with
// data false the scans hold no entropy-coded bytes at all, which libjpeg reads as zeros.
inline Bytes MakeProgressiveJpeg(unsigned width, unsigned height, std::size_t scans, bool data) {
    Bytes out = {0xFF, 0xD8};
    PutJpegTables(out);
    PutJpegFrame(out, 0xC2, width, height);
    const std::size_t blocks = std::size_t{(width + 7) / 8} * ((height + 7) / 8);
    for (std::size_t scan = 0; scan < scans; ++scan) {
        PutJpegScan(out, scan == 0 ? 0 : 1, scan == 0 ? 0 : 63, data ? blocks : 0);
    }
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

// A progressive 4:4:4 colour JPEG of width × height with one empty DC scan of the first
// component: what it costs is the coefficient buffers its frame asks for.
inline Bytes MakeProgressiveColourJpeg(unsigned width, unsigned height) {
    Bytes out = {0xFF, 0xD8};
    PutJpegTables(out);
    PutJpegColourFrame(out, 0xC2, width, height);
    PutJpegScan(out, 0, 0, 0);
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

// ---------------------------------------------------------------------------------------------
// ICO: one 24-bit DIB entry with its AND mask.

inline Bytes MakeIco(std::int32_t width, std::int32_t height) {
    Bytes out;
    PutLe16(out, 0);
    PutLe16(out, 1);  // icon
    PutLe16(out, 1);  // one entry
    out.insert(out.end(),
               {static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(height), 0, 0});
    PutLe16(out, 1);
    PutLe16(out, 24);
    const std::size_t rows = height > 0 ? static_cast<std::size_t>(height) : 0;
    const std::size_t columns = width > 0 ? static_cast<std::size_t>(width) : 0;
    const std::size_t stride = (columns * 3 + 3) / 4 * 4;
    const std::size_t maskStride = (columns + 31) / 32 * 4;
    PutLe32(out, static_cast<std::uint32_t>(40 + (stride + maskStride) * rows));
    PutLe32(out, 22);
    PutLe32(out, 40);
    PutLe32(out, static_cast<std::uint32_t>(width));
    PutLe32(out, static_cast<std::uint32_t>(height) * 2);
    PutLe16(out, 1);
    PutLe16(out, 24);
    out.insert(out.end(), 24, 0);  // BI_RGB, sizes and colour counts unused
    for (std::size_t y = 0; y < rows; ++y) {
        for (std::size_t x = 0; x < stride; ++x) {
            out.push_back(static_cast<std::uint8_t>(x * 17 + y * 5));
        }
    }
    out.insert(out.end(), maskStride * rows, 0);
    return out;
}

// ---------------------------------------------------------------------------------------------
// EMF: a header for a 100 × 100 pixel, 100 × 100 mm reference device, then the given records
// (type, parameters) and EMR_EOF.

constexpr std::uint32_t kEmrEof = 14;
constexpr std::uint32_t kEmrSaveDc = 33;
constexpr std::uint32_t kEmrRestoreDc = 34;
constexpr std::uint32_t kEmrCreateBrushIndirect = 39;
constexpr std::uint32_t kEmrSelectObject = 37;
constexpr std::uint32_t kEmrRectangle = 43;
constexpr std::uint32_t kEmrMoveToEx = 27;
constexpr std::uint32_t kEmrLineTo = 54;
constexpr std::uint32_t kEmrCreatePen = 38;
constexpr std::uint32_t kEmrSetWorldTransform = 35;
constexpr std::uint32_t kEmrEllipse = 42;

struct EmfRecord {
    std::uint32_t type = 0;             // EMR_ record type
    std::vector<std::uint32_t> params;  // its parameters, 4 bytes each
};

inline void AppendEmfRecord(Bytes& out, const EmfRecord& record) {
    PutLe32(out, record.type);
    PutLe32(out, static_cast<std::uint32_t>(8 + 4 * record.params.size()));
    for (std::uint32_t value : record.params) {
        PutLe32(out, value);
    }
}

// The drawing: a red brush and a rectangle over the top half.
inline std::vector<EmfRecord> EmfDrawing() {
    return {{kEmrCreateBrushIndirect, {1, 0, 0x000000FF, 0}},
            {kEmrSelectObject, {1}},
            {kEmrRectangle, {0, 0, 100, 50}}};
}

// bounds in device pixels and frame in HIMETRIC, each left, top, right, bottom; repeat copies of
// body are written between the drawing and EMR_EOF.
inline Bytes MakeEmf(const std::int32_t (&bounds)[4], const std::int32_t (&frame)[4],
                     const std::vector<EmfRecord>& body = {}, std::size_t repeat = 0) {
    Bytes out(88, 0);
    SetLe32(out, 0, 1);  // EMR_HEADER
    SetLe32(out, 4, 88);
    for (std::size_t i = 0; i < 4; ++i) {
        SetLe32(out, 8 + 4 * i, static_cast<std::uint32_t>(bounds[i]));
        SetLe32(out, 24 + 4 * i, static_cast<std::uint32_t>(frame[i]));
    }
    std::memcpy(out.data() + 40, " EMF", 4);
    SetLe32(out, 44, 0x10000);
    SetLe16(out, 56, 2);
    SetLe32(out, 72, 100);
    SetLe32(out, 76, 100);
    SetLe32(out, 80, 100);
    SetLe32(out, 84, 100);
    std::size_t records = 1;
    for (const EmfRecord& record : EmfDrawing()) {
        AppendEmfRecord(out, record);
        ++records;
    }
    for (std::size_t i = 0; i < repeat; ++i) {
        for (const EmfRecord& record : body) {
            AppendEmfRecord(out, record);
            ++records;
        }
    }
    AppendEmfRecord(out, {kEmrEof, {0, 16, 20}});
    SetLe32(out, 48, static_cast<std::uint32_t>(out.size()));
    SetLe32(out, 52, static_cast<std::uint32_t>(records + 1));
    return out;
}

inline Bytes MakeEmf() {
    return MakeEmf({0, 0, 99, 99}, {0, 0, 9900, 9900});
}

// ---------------------------------------------------------------------------------------------
// WMF: the placeable header with the given box (left, top, right, bottom) and units per inch,
// the standard header, a window, a red brush, a rectangle, repeat copies of body, META_EOF.

constexpr std::uint16_t kMetaSaveDc = 0x001E;
constexpr std::uint16_t kMetaRestoreDc = 0x0127;
constexpr std::uint16_t kMetaMoveTo = 0x0214;
constexpr std::uint16_t kMetaLineTo = 0x0213;
constexpr std::uint16_t kMetaSetBkColor = 0x0201;
constexpr std::uint16_t kMetaCreatePenIndirect = 0x02FA;

struct WmfRecord {
    std::uint16_t function = 0;         // META_ function
    std::vector<std::uint16_t> params;  // its parameters, 2 bytes each
};

inline void AppendWmfRecord(Bytes& out, const WmfRecord& record) {
    PutLe32(out, static_cast<std::uint32_t>(3 + record.params.size()));
    PutLe16(out, record.function);
    for (std::uint16_t value : record.params) {
        PutLe16(out, value);
    }
}

inline Bytes MakeWmf(const std::int16_t (&box)[4], std::uint16_t unitsPerInch,
                     const std::vector<WmfRecord>& body = {}, std::size_t repeat = 0) {
    Bytes out;
    PutLe32(out, 0x9AC6CDD7);
    PutLe16(out, 0);
    for (std::int16_t value : box) {
        PutLe16(out, static_cast<std::uint16_t>(value));
    }
    PutLe16(out, unitsPerInch);
    PutLe32(out, 0);
    PutLe16(out, 0);
    const std::size_t header = out.size();
    PutLe16(out, 1);       // in memory
    PutLe16(out, 9);       // header words
    PutLe16(out, 0x0300);  // version
    PutLe32(out, 0);       // file size in words, fixed up below
    PutLe16(out, 4);       // object slots
    PutLe32(out, 8);       // largest record's parameter words
    PutLe16(out, 0);
    const std::vector<WmfRecord> drawing = {
        {0x020B, {0, 0}},                  // SetWindowOrg
        {0x020C, {1000, 1000}},            // SetWindowExt
        {0x02FC, {0, 0x00FF, 0x0000, 0}},  // CreateBrushIndirect, red
        {0x012D, {0}},                     // SelectObject
        {0x041B, {500, 1000, 0, 0}},       // Rectangle over the top half
    };
    for (const WmfRecord& record : drawing) {
        AppendWmfRecord(out, record);
    }
    for (std::size_t i = 0; i < repeat; ++i) {
        for (const WmfRecord& record : body) {
            AppendWmfRecord(out, record);
        }
    }
    AppendWmfRecord(out, {0x0000, {}});
    SetLe32(out, header + 6, static_cast<std::uint32_t>((out.size() - header) / 2));
    return out;
}

inline Bytes MakeWmf() {
    return MakeWmf({0, 0, 1000, 1000}, 1000);
}

// ---------------------------------------------------------------------------------------------
// Guards.

// Ends the process with a message when the scope has not ended after the given seconds: a
// decoder stuck in a loop fails its test instead of the whole run's timeout. Sanitizer builds
// run several times slower and get a longer allowance.
class AlarmGuard {
  public:
    explicit AlarmGuard(unsigned seconds) {
        struct sigaction action {};
        action.sa_handler = OnAlarm;
        sigaction(SIGALRM, &action, nullptr);
        alarm(seconds * kSlowdown);
    }
    ~AlarmGuard() { alarm(0); }
    AlarmGuard(const AlarmGuard&) = delete;
    AlarmGuard& operator=(const AlarmGuard&) = delete;

  private:
#if defined(__SANITIZE_ADDRESS__)
    static constexpr unsigned kSlowdown = 8;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    static constexpr unsigned kSlowdown = 8;
#else
    static constexpr unsigned kSlowdown = 1;
#endif
#else
    static constexpr unsigned kSlowdown = 1;
#endif
    static void OnAlarm(int) {
        static const char kMessage[] = "hostile test: a decode ran past its time allowance\n";
        const ssize_t ignored = write(2, kMessage, sizeof kMessage - 1);
        static_cast<void>(ignored);
        _exit(3);
    }
};

// A picture opened and rendered twice, once over a target filled with 0x00 and once over one
// of 0xFF: a pixel the decoder wrote is the same in both, one it left alone is not.
struct TwiceDrawn {
    platform::PictureResult open = platform::PictureResult::OpenFailed;    // LoadPictureFromMemory
    platform::PictureResult render = platform::PictureResult::OpenFailed;  // the first render
    platform::PictureResult second = platform::PictureResult::OpenFailed;  // the second render
    std::size_t unwritten = 0;  // pixels that differ between the two renders
};

inline TwiceDrawn DrawTwice(const Bytes& bytes, int width = 16, int height = 16) {
    TwiceDrawn drawn;
    platform::PicturePtr picture;
    drawn.open = platform::LoadPictureFromMemory(bytes.data(), bytes.size(), picture);
    if (drawn.open != platform::PictureResult::Ok) {
        return drawn;
    }
    const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    std::vector<std::uint8_t> zeros(size, 0x00);
    std::vector<std::uint8_t> ones(size, 0xFF);
    drawn.render = platform::RenderPicture(*picture, zeros.data(), width, height);
    drawn.second = platform::RenderPicture(*picture, ones.data(), width, height);
    // The fourth byte of each pixel is unused by contract; blue, green and red must be written.
    for (std::size_t i = 0; i < size; i += 4) {
        if (std::memcmp(zeros.data() + i, ones.data() + i, 3) != 0) {
            ++drawn.unwritten;
        }
    }
    return drawn;
}

}  // namespace hostile_test
