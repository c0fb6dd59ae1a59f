// GIF through giflib's low-level reader: records are read until the first image, that frame is
// decoded line by line onto the logical screen, and reading stops. Later frames of an animation
// are never decoded (the still picture is the first frame), so a long animation costs no more
// than its first frame.
//
// giflib 5.2 refuses frames whose LZW minimum code size is above 8. GIF's codes are 12 bits
// wide, so sizes up to 11 are valid LZW, and encoders that use the whole 4096-entry table write
// them; those frames, and only those, are decoded by the small LZW reader below.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/picture/backend.h"
#include "platform/picture/raster.h"

namespace platform {
namespace {

// The file's bytes as giflib reads them, through ReadBytes.
struct GifSource {
    const std::uint8_t* data = nullptr;  // the whole file
    std::size_t size = 0;                // bytes in the file
    std::size_t offset = 0;              // bytes already handed to giflib
};

int ReadBytes(GifFileType* gif, GifByteType* buffer, int count) {
    GifSource& source = *static_cast<GifSource*>(gif->UserData);
    const std::size_t wanted = count > 0 ? static_cast<std::size_t>(count) : 0;
    const std::size_t given = std::min(wanted, source.size - source.offset);
    std::memcpy(buffer, source.data + source.offset, given);
    source.offset += given;
    return static_cast<int>(given);
}

struct GifCloser {
    void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

// Opens giflib over the picture's bytes and reads the screen descriptor and global colour table.
GifPtr OpenReader(const Picture& picture, GifSource& source) {
    source.data = picture.bytes.get();
    source.size = picture.size;
    source.offset = 0;
    int error = 0;
    return GifPtr(DGifOpen(&source, ReadBytes, &error));
}

PictureResult CheckScreen(const GifFileType& gif) {
    if (gif.SWidth <= 0 || gif.SHeight <= 0) {
        return PictureResult::Corrupt;
    }
    if (!PixelCountAllowed(gif.SWidth, gif.SHeight)) {
        return PictureResult::TooLarge;
    }
    return PictureResult::Ok;
}

// The largest minimum code size of a 12-bit LZW stream.
constexpr int kMaxMinimumCodeBits = 11;

// Where the first frame's pixel data is, once its descriptor has been read.
struct FirstFrame {
    int transparent = -1;   // index drawn as black, from the first graphic control block
    int wideCodeBits = 0;   // the minimum code size when giflib refused it, else 0
    std::size_t codes = 0;  // offset of the LZW data after that code size byte
};

// Reads records up to and including the first image descriptor.
PictureResult ReadToFirstFrame(GifFileType* gif, const GifSource& source, FirstFrame& first) {
    bool sawControl = false;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
            return PictureResult::Corrupt;
        }
        if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif) != GIF_ERROR) {
                return PictureResult::Ok;
            }
            // giflib has read the descriptor, any local colour table and the code size byte,
            // each through ReadBytes in exact amounts, and refused that byte. (A read cut short
            // by the file's end leaves the offset at the end.)
            const bool readAll = source.offset > 0 && source.offset < source.size;
            const int codeBits = readAll ? source.data[source.offset - 1] : 0;
            if (gif->Error != D_GIF_ERR_READ_FAILED || codeBits <= 8 ||
                codeBits > kMaxMinimumCodeBits) {
                return PictureResult::Corrupt;
            }
            first.wideCodeBits = codeBits;
            first.codes = source.offset;
            return PictureResult::Ok;
        }
        if (type != EXTENSION_RECORD_TYPE) {
            // The trailer (or anything else) before any image: there is no picture.
            return PictureResult::Corrupt;
        }
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) {
            return PictureResult::Corrupt;
        }
        // A graphic control block is its length (4), flags (bit 0: transparency), a 16-bit
        // delay and the transparent index.
        if (code == GRAPHICS_EXT_FUNC_CODE && !sawControl && block != nullptr && block[0] >= 4) {
            sawControl = true;
            if ((block[1] & 1) != 0) {
                first.transparent = block[4];
            }
        }
        while (block != nullptr) {
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
                return PictureResult::Corrupt;
            }
        }
    }
}

// The frame row that line (counted in file order) belongs on. Interlaced frames hold every 8th
// row from 0, then every 8th from 4, every 4th from 2 and every 2nd from 1.
int FrameRow(const GifImageDesc& frame, int line) {
    if (!frame.Interlace) {
        return line;
    }
    static constexpr int kPassStart[] = {0, 4, 2, 1};
    static constexpr int kPassStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const int start = kPassStart[pass];
        const int step = kPassStep[pass];
        const int rows = start < frame.Height ? (frame.Height - start + step - 1) / step : 0;
        if (line < rows) {
            return start + line * step;
        }
        line -= rows;
    }
    return frame.Height;  // past the frame's last line
}

// Everything drawing one frame's lines needs.
struct FrameTarget {
    const GifImageDesc* frame = nullptr;      // the frame's place and size on the screen
    const ColorMapObject* colours = nullptr;  // its colour table
    int transparent = -1;                     // index left black
    int screenWidth = 0;                      // pixels
    int screenHeight = 0;                     // pixels
    std::uint8_t* screen = nullptr;           // RGB, screenWidth × 3 bytes a row, top-down
};

// Puts one decoded line of the frame on the screen, clipped to it; transparent and
// out-of-palette indices stay black.
template <typename Index>
void PlaceLine(const FrameTarget& target, const Index* line, int row) {
    const GifImageDesc& frame = *target.frame;
    const int y = frame.Top + row;
    if (row >= frame.Height || y >= target.screenHeight || frame.Left >= target.screenWidth) {
        return;
    }
    const int visible = std::min(frame.Width, target.screenWidth - frame.Left);
    std::uint8_t* out = target.screen + (static_cast<std::size_t>(y) *
                                             static_cast<std::size_t>(target.screenWidth) +
                                         static_cast<std::size_t>(frame.Left)) *
                                            3;
    for (int x = 0; x < visible; ++x, out += 3) {
        const int index = line[x];
        if (index == target.transparent || index >= target.colours->ColorCount) {
            continue;
        }
        const GifColorType& colour = target.colours->Colors[index];
        out[0] = colour.Red;
        out[1] = colour.Green;
        out[2] = colour.Blue;
    }
}

// Decodes the frame through giflib. A frame whose data ends early (or turns bad) keeps the
// lines decoded so far.
PictureResult DecodeFrame(GifFileType* gif, const FrameTarget& target) {
    const GifImageDesc& frame = *target.frame;
    const std::size_t lineBytes = static_cast<std::size_t>(frame.Width);
    std::unique_ptr<GifPixelType[]> line(new (std::nothrow) GifPixelType[lineBytes]);
    if (!line) {
        return PictureResult::OutOfMemory;
    }
    for (int index = 0; index < frame.Height; ++index) {
        const int row = FrameRow(frame, index);
        if (!frame.Interlace && frame.Top + row >= target.screenHeight) {
            break;  // the rest of the frame lies below the screen
        }
        if (DGifGetLine(gif, line.get(), frame.Width) == GIF_ERROR) {
            break;
        }
        PlaceLine(target, line.get(), row);
    }
    return PictureResult::Ok;
}

// Reads LZW codes from a frame's data sub-blocks, least significant bit first.
struct CodeReader {
    const std::uint8_t* data = nullptr;  // the file
    std::size_t size = 0;                // bytes in the file
    std::size_t next = 0;                // offset of the next byte to read
    std::size_t blockLeft = 0;           // bytes left in the current sub-block
    std::uint32_t bits = 0;              // bits read but not yet used, lowest first
    int bitCount = 0;                    // how many of them

    // The next code of width bits, or -1 at the empty sub-block that ends the data or at the
    // end of the file.
    int Read(int width) {
        while (bitCount < width) {
            if (next >= size) {
                return -1;
            }
            if (blockLeft == 0) {
                blockLeft = data[next++];
                if (blockLeft == 0) {
                    return -1;
                }
                continue;
            }
            bits |= static_cast<std::uint32_t>(data[next++]) << bitCount;
            bitCount += 8;
            --blockLeft;
        }
        const int code = static_cast<int>(bits & ((1u << width) - 1));
        bits >>= width;
        bitCount -= width;
        return code;
    }
};

constexpr int kMaxCodeBits = 12;
constexpr int kTableSize = 1 << kMaxCodeBits;

// Decodes a frame with a minimum code size giflib refuses (9 to 11), starting at the LZW data.
// Decoding stops at the end code, the end of the data, a code that cannot occur yet, or the
// frame's last pixel, whichever comes first; lines not reached stay black.
PictureResult DecodeWideFrame(const GifSource& source, const FirstFrame& first,
                              const FrameTarget& target) {
    const GifImageDesc& frame = *target.frame;
    // The string table (each code's prefix code and last index), one string being output, and
    // one line of indices, which here may exceed 255 (and then lie outside every palette).
    const std::size_t lineLength = static_cast<std::size_t>(frame.Width);
    std::unique_ptr<std::uint16_t[]> storage(
        new (std::nothrow) std::uint16_t[3 * std::size_t{kTableSize} + lineLength]);
    if (!storage) {
        return PictureResult::OutOfMemory;
    }
    std::uint16_t* prefix = storage.get();
    std::uint16_t* suffix = prefix + kTableSize;
    std::uint16_t* string = suffix + kTableSize;
    std::uint16_t* line = string + kTableSize;
    CodeReader reader;
    reader.data = source.data;
    reader.size = source.size;
    reader.next = first.codes;
    const int clear = 1 << first.wideCodeBits;
    const int end = clear + 1;
    int width = first.wideCodeBits + 1;
    int nextCode = clear + 2;
    int previous = -1;     // the code before, or -1 just after a clear
    int previousHead = 0;  // the first index of the previous code's string
    int column = 0;
    int lineIndex = 0;
    for (;;) {
        const int code = reader.Read(width);
        if (code < 0 || code == end) {
            break;
        }
        if (code == clear) {
            width = first.wideCodeBits + 1;
            nextCode = clear + 2;
            previous = -1;
            continue;
        }
        if ((previous < 0 && code >= clear) || code > nextCode) {
            break;  // a code not defined yet: the data is damaged
        }
        // Spell the code's string backwards; the code being defined right now is the previous
        // string followed by its own first index.
        int length = 0;
        int walk = code;
        if (code == nextCode) {
            string[length++] = static_cast<std::uint16_t>(previousHead);
            walk = previous;
        }
        while (walk >= clear) {
            string[length++] = suffix[walk];
            walk = prefix[walk];
        }
        string[length++] = static_cast<std::uint16_t>(walk);
        const int head = walk;
        while (length > 0 && lineIndex < frame.Height) {
            line[column++] = string[--length];
            if (column == frame.Width) {
                PlaceLine(target, line, FrameRow(frame, lineIndex));
                column = 0;
                ++lineIndex;
            }
        }
        if (lineIndex == frame.Height) {
            break;
        }
        if (previous >= 0 && nextCode < kTableSize) {
            prefix[nextCode] = static_cast<std::uint16_t>(previous);
            suffix[nextCode] = static_cast<std::uint16_t>(head);
            ++nextCode;
            if (nextCode == 1 << width && width < kMaxCodeBits) {
                ++width;
            }
        }
        previous = code;
        previousHead = head;
    }
    return PictureResult::Ok;
}

bool Matches(const std::uint8_t* data, std::size_t size) {
    return size >= 6 &&
           (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

PictureResult Open(Picture& picture) {
    GifSource source;
    const GifPtr gif = OpenReader(picture, source);
    if (!gif) {
        return PictureResult::Corrupt;
    }
    const PictureResult screen = CheckScreen(*gif);
    if (screen != PictureResult::Ok) {
        return screen;
    }
    SetBitmapSize(picture, gif->SWidth, gif->SHeight);
    return PictureResult::Ok;
}

PictureResult Render(Picture& picture, std::uint8_t* pixels, int width, int height) {
    GifSource source;
    const GifPtr gif = OpenReader(picture, source);
    if (!gif) {
        return PictureResult::Corrupt;
    }
    PictureResult result = CheckScreen(*gif);
    if (result != PictureResult::Ok) {
        return result;
    }
    FirstFrame first;
    result = ReadToFirstFrame(gif.get(), source, first);
    if (result != PictureResult::Ok) {
        return result;
    }
    const GifImageDesc& frame = gif->Image;
    if (frame.Width > 0 && frame.Height > 0 && !PixelCountAllowed(frame.Width, frame.Height)) {
        return PictureResult::TooLarge;
    }
    // A frame with no colour table of its own nor a global one has no colours to show; it is
    // refused rather than drawn in invented ones.
    FrameTarget target;
    target.frame = &frame;
    target.colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (target.colours == nullptr) {
        return PictureResult::Corrupt;
    }
    target.transparent = first.transparent;
    target.screenWidth = gif->SWidth;
    target.screenHeight = gif->SHeight;
    // The frame is composed over black; giflib writes only what it decodes, so the screen is
    // cleared here.
    const std::size_t rowBytes = static_cast<std::size_t>(gif->SWidth) * 3;
    std::unique_ptr<std::uint8_t[]> screen(
        new (std::nothrow) std::uint8_t[rowBytes * static_cast<std::size_t>(gif->SHeight)]());
    if (!screen) {
        return PictureResult::OutOfMemory;
    }
    target.screen = screen.get();
    if (frame.Width > 0 && frame.Height > 0) {
        result = first.wideCodeBits != 0 ? DecodeWideFrame(source, first, target)
                                         : DecodeFrame(gif.get(), target);
        if (result != PictureResult::Ok) {
            return result;
        }
    }
    const RasterImage image{screen.get(), gif->SWidth, gif->SHeight, rowBytes, 3};
    return StretchRaster(image, pixels, width, height);
}

}  // namespace

const PictureBackend kGifBackend = {"gif", Matches, Open, Render};

}  // namespace platform
