// The TGA parser on in-memory files: what it accepts and how it lays the pixels out, what it
// refuses and why, and that no truncation or lying header gets past it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "textures/tga_reader.h"
#include "textures_fixtures.h"

namespace {

using textures::DecodeTga;
using textures::DecodeTgaFromMemory;
using textures::TgaImage;
using textures::TgaResult;
using textures::TgaSource;
using textures_test::Bytes;
using textures_test::TgaHeader;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes Repeat(const Bytes& bytes, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i) {
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

// 128 distinct stored pixels (B, G, R) and the same pixels as RGB.
Bytes DistinctStored() {
    Bytes out;
    for (int i = 0; i < 128; ++i) {
        out.insert(out.end(), {static_cast<std::uint8_t>(i), 0x11, 0x22});
    }
    return out;
}
Bytes DistinctRgb() {
    Bytes out;
    for (int i = 0; i < 128; ++i) {
        out.insert(out.end(), {0x22, 0x11, static_cast<std::uint8_t>(i)});
    }
    return out;
}

const Bytes kRedStored = {0x00, 0x00, 0xFF};
const Bytes kBlueStored = {0xFF, 0x00, 0x00};
const Bytes kRed = {0xFF, 0x00, 0x00};
const Bytes kBlue = {0x00, 0x00, 0xFF};

struct AcceptCase {
    std::string name;
    Bytes file;
    int width;          // pixels
    int height;         // pixels
    int bytesPerPixel;  // 3 or 4
    Bytes pixels;       // expected RGB(A), rows in file order
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const AcceptCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<AcceptCase> AcceptCases() {
    return {
        {"Raw24RowsInFileOrder",
         Concat({TgaHeader(2, 2, 2, 24),
                 {0x01, 0x02, 0x03, 0x04, 0x05, 0x06},    // first row in the file
                 {0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C}}),  // second row
         2,
         2,
         3,
         {0x03, 0x02, 0x01, 0x06, 0x05, 0x04, 0x09, 0x08, 0x07, 0x0C, 0x0B, 0x0A}},
        {"Raw32KeepsAlpha",
         Concat({TgaHeader(2, 2, 1, 32),
                 {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}}),  // two BGRA pixels
         2,
         1,
         4,
         {0x03, 0x02, 0x01, 0x04, 0x07, 0x06, 0x05, 0x08}},
        {"Depth33IsFourBytes",
         Concat({TgaHeader(2, 1, 1, 33), {0x10, 0x20, 0x30, 0x40}}),
         1,
         1,
         4,
         {0x30, 0x20, 0x10, 0x40}},
        {"Depth39IsFourBytes",
         Concat({TgaHeader(2, 1, 1, 39), {0x10, 0x20, 0x30, 0x40}}),
         1,
         1,
         4,
         {0x30, 0x20, 0x10, 0x40}},
        {"RunCrossesRowBoundary",
         Concat({TgaHeader(10, 2, 2, 24),
                 {0x82},
                 kRedStored,  // run of 3: row 0 and the first pixel of row 1
                 {0x00},
                 kBlueStored}),  // raw of 1: last pixel
         2, 2, 3, Concat({kRed, kRed, kRed, kBlue})},
        {"RunLength32RawThenRun",
         Concat({TgaHeader(10, 3, 1, 32),
                 {0x01, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08},  // raw of 2
                 {0x80, 0x09, 0x0A, 0x0B, 0x0C}}),                        // run of 1
         3,
         1,
         4,
         {0x03, 0x02, 0x01, 0x04, 0x07, 0x06, 0x05, 0x08, 0x0B, 0x0A, 0x09, 0x0C}},
        {"Run0x80IsOnePixel",
         Concat({TgaHeader(10, 2, 1, 24),
                 {0x80},
                 kRedStored,  // run of 1
                 {0x80},
                 kBlueStored}),  // run of 1
         2, 1, 3, Concat({kRed, kBlue})},
        {"Run0xFFIs128Pixels",
         Concat({TgaHeader(10, 129, 1, 24),
                 {0xFF},
                 kRedStored,  // run of 128
                 {0x80},
                 kBlueStored}),  // run of 1: the 129th pixel
         129, 1, 3, Concat({Repeat(kRed, 128), kBlue})},
        {"Raw0x00IsOnePixel",
         Concat({TgaHeader(10, 2, 1, 24),
                 {0x00},
                 kRedStored,  // raw of 1
                 {0x00},
                 kBlueStored}),  // raw of 1
         2, 1, 3, Concat({kRed, kBlue})},
        {"Raw0x7FIs128Pixels",
         Concat({TgaHeader(10, 129, 1, 24),
                 {0x7F},
                 DistinctStored(),  // raw of 128
                 {0x80},
                 kBlueStored}),  // run of 1: the 129th pixel
         129, 1, 3, Concat({DistinctRgb(), kBlue})},
        {"WidthIsLittleEndian",
         Concat({TgaHeader(10, 256, 1, 24),
                 {0xFF},
                 kRedStored,  // run of 128
                 {0xFF},
                 kBlueStored}),  // run of 128
         256, 1, 3, Concat({Repeat(kRed, 128), Repeat(kBlue, 128)})},
        {"LastPacketEndsOnLastPixelJunkAfter",
         Concat({TgaHeader(10, 2, 1, 24),
                 {0x81},
                 kRedStored,    // run of 2: ends exactly on the last pixel
                 {0xFF, 0x01},  // a further, truncated run packet: never read
                 {0x7F}}),      // and a raw packet header with no data
         2, 1, 3, Concat({kRed, kRed})},
        {"ImageIdSkipped",
         Concat({TgaHeader(2, 1, 1, 24, 3),
                 {'i', 'd', '!'},  // image ID
                 kRedStored}),
         1, 1, 3, kRed},
        {"OriginBitsDoNotFlip",
         [] {
             Bytes file = TgaHeader(2, 1, 2, 24);
             file[17] = 0x20;  // descriptor: top-left origin
             return Concat({file, kRedStored, kBlueStored});
         }(),
         1, 2, 3, Concat({kRed, kBlue})},
        {"ColourMapFieldsIgnored",
         [] {
             Bytes file = TgaHeader(2, 1, 1, 24);
             file[1] = 1;   // colour-map type: present
             file[5] = 5;   // colour-map length: 5 entries
             file[7] = 24;  // entry size: 24 bits; none of it is skipped
             return Concat({file, kRedStored});
         }(),
         1, 1, 3, kRed},
    };
}

class TgaAccepts : public testing::TestWithParam<AcceptCase> {};

TEST_P(TgaAccepts, DecodesPixelsToRgbInFileOrder) {
    const AcceptCase& c = GetParam();
    TgaImage image;
    ASSERT_EQ(DecodeTgaFromMemory(c.file.data(), c.file.size(), image), TgaResult::Ok);
    EXPECT_EQ(image.width, c.width);
    EXPECT_EQ(image.height, c.height);
    EXPECT_EQ(image.bytesPerPixel, c.bytesPerPixel);
    ASSERT_NE(image.pixels, nullptr);
    const Bytes decoded(image.pixels.get(), image.pixels.get() + c.pixels.size());
    EXPECT_EQ(decoded, c.pixels);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TgaAccepts, testing::ValuesIn(AcceptCases()),
                         [](const testing::TestParamInfo<AcceptCase>& test) {
                             return test.param.name;
                         });

struct RejectCase {
    std::string name;
    Bytes file;
    TgaResult result;  // the reason expected
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const RejectCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<RejectCase> RejectCases() {
    const Bytes onePixel = kRedStored;
    return {
        {"Empty", {}, TgaResult::ShortHeader},
        {"HeaderOneByteShort", Bytes(17, 0), TgaResult::ShortHeader},
        {"Type0NoImage", Concat({TgaHeader(0, 1, 1, 24), onePixel}), TgaResult::BadType},
        {"Type1ColourMapped", Concat({TgaHeader(1, 1, 1, 24), onePixel}), TgaResult::BadType},
        {"Type3Grey", Concat({TgaHeader(3, 1, 1, 24), onePixel}), TgaResult::BadType},
        {"Type9RunLengthMapped", Concat({TgaHeader(9, 1, 1, 24), onePixel}), TgaResult::BadType},
        {"Type11RunLengthGrey", Concat({TgaHeader(11, 1, 1, 24), onePixel}), TgaResult::BadType},
        {"WidthZero", Concat({TgaHeader(2, 0, 1, 24), onePixel}), TgaResult::BadSize},
        {"HeightZero", Concat({TgaHeader(2, 1, 0, 24), onePixel}), TgaResult::BadSize},
        {"Depth16", Concat({TgaHeader(2, 1, 1, 16), onePixel}), TgaResult::BadDepth},
        {"Depth23", Concat({TgaHeader(2, 1, 1, 23), onePixel}), TgaResult::BadDepth},
        {"Depth40", Concat({TgaHeader(2, 1, 1, 40), onePixel, {0, 0}}), TgaResult::BadDepth},
        {"Depth0", Concat({TgaHeader(2, 1, 1, 0), onePixel}), TgaResult::BadDepth},
        {"RunPastLastPixel",
         Concat({TgaHeader(10, 1, 1, 24), {0x81}, onePixel}),  // run of 2 for a 1-pixel image
         TgaResult::PacketOverrun},
        {"RawPastLastPixel",
         Concat({TgaHeader(10, 1, 1, 24), {0x01}, onePixel, onePixel}),  // raw of 2 for a 1-pixel
                                                                         // image
         TgaResult::PacketOverrun},
        {"SecondPacketPastLastPixel",
         Concat({TgaHeader(10, 3, 1, 24),
                 {0x01},
                 onePixel,
                 onePixel,  // raw of 2
                 {0x81},
                 onePixel}),  // run of 2 with 1 pixel left
         TgaResult::PacketOverrun},
        // 32768 × 32768 × 4 bytes is 0 in 32 bits: a wrapping size would accept no data at all.
        {"SizeWrapsToZero", TgaHeader(2, 32768, 32768, 32), TgaResult::TooLarge},
        // 34179 × 41887 × 3 bytes is 23 in 32 bits, and 23 bytes are there.
        {"SizeWrapsToSmall", Concat({TgaHeader(2, 34179, 41887, 24), Bytes(23, 0x40)}),
         TgaResult::TooLarge},
        {"LargestHeader", Concat({TgaHeader(10, 65535, 65535, 32), {0xFF, 1, 2, 3, 4}}),
         TgaResult::TooLarge},
        // Within the pixel budget, but far more than the bytes present could describe.
        {"RawPromisesMoreThanFileHolds", Concat({TgaHeader(2, 8192, 8192, 32), Bytes(64, 1)}),
         TgaResult::Truncated},
        {"RunLengthPromisesMoreThanFileHolds",
         Concat({TgaHeader(10, 8192, 8192, 32), {0xFF, 1, 2, 3, 4}}), TgaResult::Truncated},
        {"ImageIdLongerThanFile", Concat({TgaHeader(2, 1, 1, 24, 200), onePixel}),
         TgaResult::Truncated},
    };
}

class TgaRejects : public testing::TestWithParam<RejectCase> {};

TEST_P(TgaRejects, FailsForTheRightReasonWithoutPixels) {
    const RejectCase& c = GetParam();
    TgaImage image;
    EXPECT_EQ(DecodeTgaFromMemory(c.file.data(), c.file.size(), image), c.result);
    EXPECT_EQ(image.pixels, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TgaRejects, testing::ValuesIn(RejectCases()),
                         [](const testing::TestParamInfo<RejectCase>& test) {
                             return test.param.name;
                         });

TEST(TgaDecode, RejectedHeaderStillReportsItsValues) {
    const Bytes file = Concat({TgaHeader(2, 300, 2, 16), {0, 0}});
    TgaImage image;
    ASSERT_EQ(DecodeTgaFromMemory(file.data(), file.size(), image), TgaResult::BadDepth);
    EXPECT_TRUE(image.headerRead);
    EXPECT_EQ(image.width, 300);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.depth, 16);
    EXPECT_EQ(image.bytesPerPixel, 2);

    TgaImage none;
    ASSERT_EQ(DecodeTgaFromMemory(file.data(), 10, none), TgaResult::ShortHeader);
    EXPECT_FALSE(none.headerRead);
}

TEST(TgaDecode, StopsReadingAtTheLastPixel) {
    const Bytes file = Concat({TgaHeader(10, 2, 1, 24),
                               {0x81},
                               kRedStored,         // run of 2: the whole image
                               {0x80, 1, 2, 3}});  // a valid packet that must not be read
    TgaSource source;
    source.data = file.data();
    source.size = file.size();
    TgaImage image;
    ASSERT_EQ(DecodeTga(source, image), TgaResult::Ok);
    EXPECT_EQ(source.offset, textures::kTgaHeaderBytes + 4);
}

// Every prefix of a valid file is refused, whichever field or packet the cut falls in.
TEST(TgaDecode, EveryTruncationFails) {
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"raw with image ID", Concat({TgaHeader(2, 2, 2, 32, 2),
                                      {'i', 'd'},  // image ID
                                      Repeat({1, 2, 3, 4}, 4)})},
        {"run-length", Concat({TgaHeader(10, 3, 2, 24),
                               {0x82},
                               kRedStored,  // run of 3
                               {0x01},
                               kBlueStored,
                               kRedStored,  // raw of 2
                               {0x80},
                               kBlueStored})},  // run of 1
    };
    for (const auto& [label, file] : files) {
        TgaImage whole;
        ASSERT_EQ(DecodeTgaFromMemory(file.data(), file.size(), whole), TgaResult::Ok) << label;
        for (std::size_t length = 0; length < file.size(); ++length) {
            TgaImage image;
            const TgaResult result = DecodeTgaFromMemory(file.data(), length, image);
            const TgaResult expected =
                length < textures::kTgaHeaderBytes ? TgaResult::ShortHeader : TgaResult::Truncated;
            EXPECT_EQ(result, expected) << label << ", first " << length << " bytes";
            EXPECT_EQ(image.pixels, nullptr) << label << ", first " << length << " bytes";
        }
    }
}

TEST(TgaDecode, NullMemoryIsAShortHeader) {
    TgaImage image;
    EXPECT_EQ(DecodeTgaFromMemory(nullptr, 100, image), TgaResult::ShortHeader);
}

}  // namespace
