// The shared corpus's raster files (bmp/, gif/, ico/, jpg/), file by file: what the decoder does
// with each, decided from the corpus manifest and from what is sound, with the reason where a
// file is odd or bad; then a few files whose look is known.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "platform/picture/picture.h"
#include "support/test_support.h"

namespace {

using platform::PicturePtr;
using platform::PictureResult;

enum class Outcome {
    Draws,  // opens at the given size and draws
    Fails,  // refused at opening or drawing
};

struct CorpusFile {
    const char* path;  // under the corpus folder
    Outcome outcome;
    int width;         // pixels, when it draws
    int height;        // pixels, when it draws
    const char* note;  // why, where the manifest calls the file odd or bad
};

std::ostream& operator<<(std::ostream& out, const CorpusFile& f) {
    return out << f.path;
}

constexpr Outcome kDraws = Outcome::Draws;
constexpr Outcome kFails = Outcome::Fails;

const CorpusFile kFiles[] = {
    {"bmp/Core_1_Bit.bmp", kDraws, 435, 353, "odd: OS/2 1-bit"},
    {"bmp/badbitcount.bmp", kFails, 0, 0, "bad: bit count 30000"},
    {"bmp/badrle.bmp", kDraws, 127, 64, "bad: RLE runs past the image; gdk-pixbuf clips them"},
    {"bmp/pal1.bmp", kDraws, 127, 64, ""},
    {"bmp/pal1bg.bmp", kDraws, 127, 64, ""},
    {"bmp/pal4.bmp", kDraws, 127, 64, ""},
    {"bmp/pal4rle.bmp", kDraws, 127, 64, ""},
    {"bmp/pal8.bmp", kDraws, 127, 64, ""},
    {"bmp/pal8nonsquare.bmp", kDraws, 127, 32, ""},
    {"bmp/pal8os2.bmp", kDraws, 127, 64, ""},
    {"bmp/pal8os2v2.bmp", kDraws, 127, 64, "odd: OS/2 2.x header, which gdk-pixbuf reads"},
    {"bmp/pal8rle.bmp", kDraws, 127, 64, ""},
    {"bmp/pal8rletrns.bmp", kDraws, 127, 64, "odd: skipped RLE pixels come out black"},
    {"bmp/pal8topdown.bmp", kDraws, 127, 64, ""},
    {"bmp/pal8v5.bmp", kDraws, 127, 64, ""},
    {"bmp/reallybig.bmp", kFails, 0, 0, "bad: 3000000 x 2000000, refused at the header"},
    {"bmp/rgb16-565.bmp", kDraws, 127, 64, ""},
    {"bmp/rgb16.bmp", kDraws, 127, 64, ""},
    {"bmp/rgb24.bmp", kDraws, 127, 64, ""},
    {"bmp/rgb24jpeg.bmp", kFails, 0, 0, "odd: BI_JPEG, a printer format no library reads"},
    {"bmp/rgb32.bmp", kDraws, 127, 64, ""},
    {"bmp/rgb32bf.bmp", kDraws, 127, 64, ""},
    {"bmp/rgb32fakealpha.bmp", kDraws, 127, 64, "odd: the unused fourth byte is ignored"},
    {"bmp/rgba32.bmp", kDraws, 127, 64, "odd: drawn opaque, as GDI draws bitmaps"},
    {"bmp/shortfile.bmp", kDraws, 127, 64,
     "bad: truncated pixel data; the rows present are drawn, the rest is black"},

    {"gif/animation.gif", kDraws, 2, 2, ""},
    {"gif/depth1.gif", kDraws, 1, 1, ""},
    {"gif/depth8.gif", kDraws, 1, 1, ""},
    {"gif/dispose-restore-background.gif", kDraws, 2, 2, "odd: first frame only"},
    {"gif/four-colors.gif", kDraws, 2, 2, ""},
    {"gif/hang_114.gif", kDraws, 256, 32,
     "bad: its data fails on the first line; the screen is drawn black"},
    {"gif/high-color.gif", kDraws, 32, 32, "odd: first frame only"},
    {"gif/hopper.gif", kDraws, 128, 128, ""},
    {"gif/image-inside-bg.gif", kDraws, 2, 2, "odd: frame smaller than the screen, over black"},
    {"gif/interlace.gif", kDraws, 16, 16, ""},
    {"gif/invalid-code.gif", kDraws, 2, 2,
     "bad: an invalid LZW code on the first line; drawn black"},
    {"gif/local-color-table.gif", kDraws, 1, 1, ""},
    {"gif/max-codes.gif", kDraws, 100, 100, "minimum code size 11, which giflib refuses"},
    {"gif/missing-pixels.gif", kDraws, 2, 2, "odd: short data; the missing pixels are black"},
    {"gif/nature24bits87.gif", kDraws, 110, 100, ""},
    {"gif/no-data.gif", kFails, 0, 0, "bad: a screen and no frame"},
    {"gif/no-global-color-table.gif", kDraws, 1, 1, "odd: the frame's own table is used"},
    {"gif/text_mono.gif", kDraws, 100, 30, ""},
    {"gif/transparent.gif", kDraws, 2, 2, ""},
    {"gif/zero-width.gif", kFails, 0, 0, "bad: logical screen 0 wide"},

    {"ico/10x16_one_entry_32bit.ico", kDraws, 11, 22,
     "odd: the 11 x 22 entry is the larger, whatever the directory says"},
    {"ico/16x16_one_entry_4bit.ico", kDraws, 16, 16, ""},
    {"ico/256x256_one_entry_32bit.ico", kDraws, 256, 256, "odd: a PNG entry"},
    {"ico/256x256_seven_entries_multiple_bits.ico", kDraws, 256, 256, "the PNG entry is largest"},
    {"ico/48x48_multiple_entries_32bit.ico", kDraws, 48, 48, ""},
    {"ico/48x48_one_entry_1bit.ico", kDraws, 48, 48, ""},
    {"ico/64x64_one_entry_8bit.ico", kDraws, 64, 64, ""},
    {"ico/Bad_smile-incorrect-image-length.ico", kDraws, 32, 32,
     "bad: the directory's byte count is short, but the image is whole in the file"},
    {"ico/black_and_white.ico", kDraws, 16, 16, ""},
    {"ico/bmp-24bpp-mask.ico", kDraws, 32, 32, ""},
    {"ico/bmp-32bpp-alpha.ico", kDraws, 32, 32, ""},
    {"ico/bug778204.ico", kFails, 0, 0, "bad: the directory is cut off"},
    {"ico/empty.ico", kFails, 0, 0, "bad: zero bytes"},
    {"ico/hopper.ico", kDraws, 16, 16, ""},
    {"ico/hopper_unexpected.ico", kDraws, 16, 16,
     "odd: sizes come from the DIB, not the directory"},
    {"ico/multi-size-compressed.ico", kDraws, 256, 256, "odd: nine PNG entries"},
    {"ico/png-32bpp-alpha.ico", kDraws, 32, 32, "odd: a PNG entry with alpha, over black"},
    {"ico/squares.ico", kDraws, 100, 100, ""},
    {"ico/truncated_mask_32bpp.ico", kDraws, 64, 64, "odd: its alpha makes the mask unneeded"},
    {"ico/two-entry-order-test.ico", kDraws, 48, 48, "odd: equal entries, the first wins"},

    {"jpg/flower.jpg", kDraws, 480, 360, ""},
    {"jpg/hopper.jpg", kDraws, 128, 128, ""},
    {"jpg/hopper_gray.jpg", kDraws, 128, 128, ""},
    {"jpg/hopper_orientation_6.jpg", kDraws, 128, 128, "odd: EXIF orientation is not applied"},
    {"jpg/junk_jpeg_header.jpg", kDraws, 1024, 768,
     "odd: libjpeg skips the junk before a marker with a warning"},
    {"jpg/pil_sample_cmyk.jpg", kDraws, 100, 100, "odd: Adobe CMYK, converted here"},
    {"jpg/testimgari.jpg", kDraws, 227, 149, "odd: arithmetic coding"},
    {"jpg/testimgint.jpg", kDraws, 227, 149, ""},
    {"jpg/testorig.jpg", kDraws, 227, 149, ""},
    {"jpg/truncated_jpeg.jpg", kDraws, 100, 100,
     "bad: truncated scan; libjpeg fills the rest and it is drawn"},
};

// A rendered target, bottom-up BGRX.
struct Target {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;

    // Red, green, blue at (x, y) from the picture's top-left.
    std::vector<int> Seen(int x, int y) const {
        const std::size_t at =
            (static_cast<std::size_t>(height - 1 - y) * static_cast<std::size_t>(width) +
             static_cast<std::size_t>(x)) *
            4;
        return {bytes[at + 2], bytes[at + 1], bytes[at]};
    }
};

struct Opened {
    PictureResult open = PictureResult::OpenFailed;
    PictureResult render = PictureResult::OpenFailed;
    int width = 0;   // pixels
    int height = 0;  // pixels
    Target target;   // drawn at the picture's own size
};

Opened OpenAndDraw(const std::string& path) {
    Opened opened;
    PicturePtr picture;
    opened.open = platform::OleLoadPicturePath(path.c_str(), picture);
    if (opened.open != PictureResult::Ok) {
        return opened;
    }
    opened.width = (platform::PictureWidthHimetric(*picture) * 96 + 1270) / 2540;
    opened.height = (platform::PictureHeightHimetric(*picture) * 96 + 1270) / 2540;
    Target& target = opened.target;
    target.width = opened.width;
    target.height = opened.height;
    target.bytes.assign(
        static_cast<std::size_t>(target.width) * static_cast<std::size_t>(target.height) * 4, 0xA5);
    opened.render =
        platform::RenderPicture(*picture, target.bytes.data(), target.width, target.height);
    return opened;
}

class RasterCorpus : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(RasterCorpus, DrawsOrFailsAsDecided) {
    const std::string corpus = testing_support::CorpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "no shared corpus beside the checkout";
    }
    const CorpusFile& file = GetParam();
    SCOPED_TRACE(file.note);
    const Opened opened = OpenAndDraw(corpus + "/" + file.path);
    if (file.outcome == Outcome::Fails) {
        EXPECT_TRUE(opened.open != PictureResult::Ok || opened.render != PictureResult::Ok);
        return;
    }
    ASSERT_EQ(opened.open, PictureResult::Ok);
    EXPECT_EQ(opened.width, file.width);
    EXPECT_EQ(opened.height, file.height);
    ASSERT_EQ(opened.render, PictureResult::Ok);
    std::size_t unwritten = 0;
    for (std::size_t i = 3; i < opened.target.bytes.size(); i += 4) {
        unwritten += opened.target.bytes[i] != 0 ? 1u : 0u;
    }
    EXPECT_EQ(unwritten, 0u);
}

std::string FileCaseName(const ::testing::TestParamInfo<CorpusFile>& param) {
    std::string name;
    for (const char* p = param.param.path; *p != '\0'; ++p) {
        const char c = *p;
        const bool keep =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        name += keep ? c : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Files, RasterCorpus, ::testing::ValuesIn(kFiles), FileCaseName);

TEST(RasterCorpusTable, NamesEveryRasterFileOfTheCorpus) {
    const std::string corpus = testing_support::CorpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "no shared corpus beside the checkout";
    }
    std::set<std::string> listed;
    for (const CorpusFile& file : kFiles) {
        listed.insert(file.path);
    }
    std::set<std::string> present;
    for (const char* folder : {"bmp", "gif", "ico", "jpg"}) {
        DIR* dir = opendir((corpus + "/" + folder).c_str());
        ASSERT_NE(dir, nullptr) << folder;
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                present.insert(std::string(folder) + "/" + entry->d_name);
            }
        }
        closedir(dir);
    }
    EXPECT_EQ(listed, present);
}

// Known looks: the CMYK sample is red lettering and a red bar on black (a negative or a
// YCbCr-as-CMYK misreading would show neither); the unused byte of 32-bit BI_RGB changes
// nothing; of two equal icon entries the first ("Entry 1 Good!", on light green) is drawn.
TEST(RasterCorpusLooks, KnownPixels) {
    const std::string corpus = testing_support::CorpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "no shared corpus beside the checkout";
    }
    const auto isRed = [](const std::vector<int>& c) {
        return c[0] > 200 && c[1] < 60 && c[2] < 60;
    };
    const auto isBlack = [](const std::vector<int>& c) {
        return c[0] < 30 && c[1] < 30 && c[2] < 30;
    };

    const Opened cmyk = OpenAndDraw(corpus + "/jpg/pil_sample_cmyk.jpg");
    ASSERT_EQ(cmyk.render, PictureResult::Ok);
    for (const auto& [x, y] :
         {std::pair{4, 4}, std::pair{14, 48}, std::pair{42, 50}, std::pair{70, 50}}) {
        EXPECT_TRUE(isRed(cmyk.target.Seen(x, y))) << x << ", " << y;
    }
    for (const auto& [x, y] : {std::pair{20, 50}, std::pair{50, 80}, std::pair{90, 10}}) {
        EXPECT_TRUE(isBlack(cmyk.target.Seen(x, y))) << x << ", " << y;
    }

    const Opened plain = OpenAndDraw(corpus + "/bmp/rgb24.bmp");
    const Opened fake = OpenAndDraw(corpus + "/bmp/rgb32fakealpha.bmp");
    ASSERT_EQ(plain.render, PictureResult::Ok);
    ASSERT_EQ(fake.render, PictureResult::Ok);
    EXPECT_EQ(fake.target.bytes, plain.target.bytes);

    const Opened icon = OpenAndDraw(corpus + "/ico/two-entry-order-test.ico");
    ASSERT_EQ(icon.render, PictureResult::Ok);
    EXPECT_EQ(icon.target.Seen(1, 1), (std::vector<int>{193, 255, 193}));
}

}  // namespace
