// The stretch every raster format draws through, and the JPEG decode-scale rule: row and byte
// order of the target, exact area averages and bilinear blends along each axis, flat colours
// staying flat at any pair of sizes, extreme aspect ratios, and refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/picture/raster.h"

namespace {

using platform::PictureResult;
using platform::RasterImage;
using Bytes = std::vector<std::uint8_t>;

// A source image, top-down, pixelBytes per pixel, rowBytes per row.
struct Source {
    int width = 0;             // pixels
    int height = 0;            // pixels
    int pixelBytes = 3;        // 3 or 4
    std::size_t rowBytes = 0;  // bytes a row, at least width × pixelBytes
    Bytes bytes;               // rowBytes × height

    Source(int w, int h, int bytesPerPixel = 3, std::size_t padding = 0)
        : width(w), height(h), pixelBytes(bytesPerPixel) {
        rowBytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(bytesPerPixel) + padding;
        bytes.assign(rowBytes * static_cast<std::size_t>(h), 0);
    }
    std::uint8_t* At(int x, int y) {
        return bytes.data() + static_cast<std::size_t>(y) * rowBytes +
               static_cast<std::size_t>(x) * static_cast<std::size_t>(pixelBytes);
    }
    void Set(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        std::uint8_t* p = At(x, y);
        p[0] = r;
        p[1] = g;
        p[2] = b;
    }
    RasterImage View() const {
        return RasterImage{bytes.data(), width, height, rowBytes, pixelBytes};
    }
};

// A target as StretchRaster writes it: BGRX, rows bottom-up. Pre-filled with a pattern so an
// unwritten pixel shows.
struct Target {
    int width = 0;   // pixels
    int height = 0;  // pixels
    Bytes bytes;     // width × height × 4

    Target(int w, int h) : width(w), height(h) {
        bytes.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4, 0xA5);
    }
    // Pixel (x, y) counted from the picture's top-left, as the viewer sees it.
    const std::uint8_t* Seen(int x, int y) const {
        const std::size_t row = static_cast<std::size_t>(height - 1 - y);
        return bytes.data() +
               (row * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4;
    }
};

PictureResult Stretch(const Source& source, Target& target) {
    return platform::StretchRaster(source.View(), target.bytes.data(), target.width, target.height);
}

// Red, green, blue as seen at (x, y) of the target.
std::vector<int> SeenRgb(const Target& target, int x, int y) {
    const std::uint8_t* p = target.Seen(x, y);
    return {p[2], p[1], p[0]};
}

TEST(RasterStretch, SameSizeCopiesPixelsIntoBottomUpBgrxRows) {
    Source source(3, 2);
    source.Set(0, 0, 10, 20, 30);
    source.Set(1, 0, 40, 50, 60);
    source.Set(2, 0, 70, 80, 90);
    source.Set(0, 1, 100, 110, 120);
    source.Set(1, 1, 130, 140, 150);
    source.Set(2, 1, 160, 170, 180);
    Target target(3, 2);
    ASSERT_EQ(Stretch(source, target), PictureResult::Ok);
    // Memory row 0 is the picture's bottom row, each pixel blue, green, red, 0.
    const Bytes expected = {120, 110, 100, 0, 150, 140, 130, 0, 180, 170, 160, 0,
                            30,  20,  10,  0, 60,  50,  40,  0, 90,  80,  70,  0};
    EXPECT_EQ(target.bytes, expected);
}

TEST(RasterStretch, FourthByteAndRowPaddingAreNeverRead) {
    Source plain(2, 2);
    Source padded(2, 2, 4, 5);
    for (std::uint8_t& byte : padded.bytes) {
        byte = 0xEE;  // junk in the fourth bytes and the padding
    }
    const std::uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 99, 199}};
    for (int i = 0; i < 4; ++i) {
        plain.Set(i % 2, i / 2, colours[i][0], colours[i][1], colours[i][2]);
        padded.Set(i % 2, i / 2, colours[i][0], colours[i][1], colours[i][2]);
    }
    for (const int size : {2, 1, 5}) {
        SCOPED_TRACE(size);
        Target fromPlain(size, size);
        Target fromPadded(size, size);
        ASSERT_EQ(Stretch(plain, fromPlain), PictureResult::Ok);
        ASSERT_EQ(Stretch(padded, fromPadded), PictureResult::Ok);
        EXPECT_EQ(fromPadded.bytes, fromPlain.bytes);
    }
}

// One line of grey values stretched along one axis; the expected values are the exact area
// average (shrinking) or bilinear blend between pixel centres (growing), rounded.
struct LineCase {
    const char* name;
    std::vector<int> source;
    std::vector<int> expected;
};

std::ostream& operator<<(std::ostream& out, const LineCase& c) {
    return out << c.name;
}

const LineCase kLineCases[] = {
    {"same size", {1, 2, 3}, {1, 2, 3}},
    {"halve: pairs", {0, 100, 200, 40}, {50, 120}},
    // Target pixel 0 covers source 0 and half of 1: (0 + 45) / 1.5.
    {"two thirds: fractional cover", {0, 90, 180}, {30, 150}},
    {"to one: the mean", {10, 20, 30, 40, 50}, {30}},
    // Centres at -0.25 (clamped), 0.25, 0.75, 1.25 (clamped) source pixels.
    {"double: bilinear", {0, 255}, {0, 64, 191, 255}},
    // Centres at -1/6 (clamped), 0.5 and 7/6 (clamped).
    {"one and a half: bilinear", {0, 200}, {0, 100, 200}},
    {"one pixel to many", {7}, {7, 7, 7, 7, 7}},
};

class RasterLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(RasterLine, HorizontallyAndVertically) {
    const LineCase& c = GetParam();
    const int n = static_cast<int>(c.source.size());
    const int m = static_cast<int>(c.expected.size());
    Source row(n, 1);
    Source column(1, n);
    for (int i = 0; i < n; ++i) {
        const auto v = static_cast<std::uint8_t>(c.source[static_cast<std::size_t>(i)]);
        // Different values per channel show that channels are not mixed up.
        row.Set(i, 0, v, static_cast<std::uint8_t>(255 - v), v);
        column.Set(0, i, v, static_cast<std::uint8_t>(255 - v), v);
    }
    Target wide(m, 1);
    Target tall(1, m);
    ASSERT_EQ(Stretch(row, wide), PictureResult::Ok);
    ASSERT_EQ(Stretch(column, tall), PictureResult::Ok);
    for (int i = 0; i < m; ++i) {
        SCOPED_TRACE(i);
        const int v = c.expected[static_cast<std::size_t>(i)];
        EXPECT_EQ(SeenRgb(wide, i, 0), (std::vector<int>{v, 255 - v, v}));
        EXPECT_EQ(SeenRgb(tall, 0, i), (std::vector<int>{v, 255 - v, v}));
    }
}

// "two thirds: fractional cover" → "twothirdsfractionalcover".
std::string LineCaseName(const ::testing::TestParamInfo<LineCase>& param) {
    std::string name;
    for (const char* p = param.param.name; *p != '\0'; ++p) {
        if ((*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9')) {
            name += *p;
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, RasterLine, ::testing::ValuesIn(kLineCases), LineCaseName);

TEST(RasterStretch, CheckerboardShrinksToItsAreaAverageNotASample) {
    // 1-pixel black and white squares, 6 × 6 to 2 × 2: each target pixel covers 3 × 3 source
    // pixels, five of one colour and four of the other.
    Source source(6, 6);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 6; ++x) {
            const auto v = static_cast<std::uint8_t>((x + y) % 2 == 0 ? 255 : 0);
            source.Set(x, y, v, v, v);
        }
    }
    Target target(2, 2);
    ASSERT_EQ(Stretch(source, target), PictureResult::Ok);
    EXPECT_EQ(SeenRgb(target, 0, 0), (std::vector<int>{142, 142, 142}));  // 5 × 255 / 9
    EXPECT_EQ(SeenRgb(target, 1, 0), (std::vector<int>{113, 113, 113}));  // 4 × 255 / 9
    EXPECT_EQ(SeenRgb(target, 0, 1), (std::vector<int>{113, 113, 113}));
    EXPECT_EQ(SeenRgb(target, 1, 1), (std::vector<int>{142, 142, 142}));
}

// Source and target sizes, each axis shrinking, growing or staying.
struct SizeCase {
    int sourceWidth, sourceHeight, targetWidth, targetHeight, pixelBytes;
};

std::ostream& operator<<(std::ostream& out, const SizeCase& c) {
    return out << c.sourceWidth << "x" << c.sourceHeight << "/" << c.pixelBytes << " -> "
               << c.targetWidth << "x" << c.targetHeight;
}

class RasterFlat : public ::testing::TestWithParam<SizeCase> {};

TEST_P(RasterFlat, FlatColourStaysExactAndEveryPixelIsWritten) {
    const SizeCase& c = GetParam();
    Source source(c.sourceWidth, c.sourceHeight, c.pixelBytes);
    for (int y = 0; y < c.sourceHeight; ++y) {
        for (int x = 0; x < c.sourceWidth; ++x) {
            source.Set(x, y, 1, 128, 255);
        }
    }
    Target target(c.targetWidth, c.targetHeight);
    ASSERT_EQ(Stretch(source, target), PictureResult::Ok);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < target.bytes.size(); i += 4) {
        if (target.bytes[i] != 255 || target.bytes[i + 1] != 128 || target.bytes[i + 2] != 1 ||
            target.bytes[i + 3] != 0) {
            ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RasterFlat,
                         ::testing::Values(SizeCase{1, 1, 1, 1, 3}, SizeCase{1, 1, 5, 3, 4},
                                           SizeCase{7, 5, 3, 2, 3}, SizeCase{3, 2, 1000, 3, 4},
                                           SizeCase{1000, 1, 1, 1, 3}, SizeCase{1, 999, 1, 1, 4},
                                           SizeCase{640, 480, 1024, 512, 3},
                                           SizeCase{5, 3000, 2, 7, 3},
                                           SizeCase{4096, 2, 3, 4096, 4},
                                           SizeCase{65536, 1, 16, 1, 3}));

TEST(RasterStretch, ExtremeShrinkAveragesTheWholeLine) {
    // A ramp of 0..255 repeated 16 times, to one pixel: its mean, 127.5.
    Source row(4096, 1);
    Source column(1, 4096);
    for (int i = 0; i < 4096; ++i) {
        const auto v = static_cast<std::uint8_t>(i % 256);
        row.Set(i, 0, v, v, v);
        column.Set(0, i, v, v, v);
    }
    Target fromRow(1, 1);
    Target fromColumn(1, 1);
    ASSERT_EQ(Stretch(row, fromRow), PictureResult::Ok);
    ASSERT_EQ(Stretch(column, fromColumn), PictureResult::Ok);
    EXPECT_NEAR(SeenRgb(fromRow, 0, 0)[0], 127.5, 1.0);
    EXPECT_NEAR(SeenRgb(fromColumn, 0, 0)[0], 127.5, 1.0);
}

TEST(RasterStretch, RefusesEmptyOrOversizedImagesAndTargets) {
    Source good(2, 2);
    Target target(2, 2);
    struct Bad {
        const char* name;
        RasterImage image;
        int width;
        int height;
        PictureResult expected;
    };
    const RasterImage view = good.View();
    const Bad cases[] = {
        {"no pixels", {nullptr, 2, 2, 6, 3}, 2, 2, PictureResult::Corrupt},
        {"zero width", {view.pixels, 0, 2, 6, 3}, 2, 2, PictureResult::Corrupt},
        {"negative height", {view.pixels, 2, -1, 6, 3}, 2, 2, PictureResult::Corrupt},
        {"two bytes a pixel", {view.pixels, 2, 2, 6, 2}, 2, 2, PictureResult::Corrupt},
        {"rows shorter than pixels", {view.pixels, 2, 2, 5, 3}, 2, 2, PictureResult::Corrupt},
        {"image side beyond the limit",
         {view.pixels, platform::kMaxRasterSide + 1, 1,
          static_cast<std::size_t>(platform::kMaxRasterSide) * 3 + 3, 3},
         2,
         2,
         PictureResult::TooLarge},
        {"zero-width target", view, 0, 2, PictureResult::TooLarge},
        {"target side beyond the limit", view, platform::kMaxRasterSide + 1, 1,
         PictureResult::TooLarge},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::StretchRaster(c.image, target.bytes.data(), c.width, c.height),
                  c.expected);
    }
    EXPECT_EQ(platform::StretchRaster(view, nullptr, 2, 2), PictureResult::TooLarge);
}

// The decode scale is the largest reduction whose decoded size stays within √2 of the target
// along both axes, and none unless both axes shrink.
TEST(JpegScale, LargestReductionWithinRootTwoOfTheTarget) {
    struct Case {
        int pictureWidth, pictureHeight, targetWidth, targetHeight, denominator;
    };
    const Case cases[] = {
        {4000, 3000, 2048, 2048, 2},  // 2000 × 1500: height 1500 ≥ 2048/√2
        {4000, 3000, 4096, 4096, 1},  // drawn larger than it is
        {4000, 3000, 1024, 1024, 4},  // 1000 × 750; 1/8 would be 500 × 375
        {4000, 3000, 512, 512, 8},    // 500 × 375 ≥ 362
        {800, 600, 512, 256, 2},      // the program's 800 × 600 picture at 512 × 256
        {800, 600, 1024, 512, 1},     // ... and at 1024 × 512 (high quality)
        {8000, 100, 1024, 128, 1},    // the thin axis rules: 100 px for 128
        {100, 100, 100, 100, 1},
        {1, 1, 1, 1, 1},
        {9, 9, 4, 4, 4},            // scaled sizes round up: 9/4 → 3 ≥ 4/√2, 9/8 → 2 is not
        {2896, 2896, 512, 512, 4},  // 1/8 gives 362: 2·362² < 512²
        {2904, 2904, 512, 512, 8},  // 1/8 gives 363: 2·363² ≥ 512²
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pictureWidth << "x" << c.pictureHeight << " -> "
                                        << c.targetWidth << "x" << c.targetHeight);
        EXPECT_EQ(platform::JpegScaleDenominator(c.pictureWidth, c.pictureHeight, c.targetWidth,
                                                 c.targetHeight),
                  c.denominator);
    }
}

}  // namespace
