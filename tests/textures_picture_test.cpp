// LoadPictureTexture over the picture decoder: the texture size, the colour key, the byte and
// row order of what is uploaded, and failures. Fixtures are small BMP files written per test.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "textures/texture_loader.h"
#include "textures_fixtures.h"

namespace {

using textures_test::Bytes;
using textures_test::LevelParameter;
using textures_test::MakeBmp;
using textures_test::MakeSolidBmp;
using textures_test::ReadTexture;
using textures_test::Rgba;
using textures_test::ScratchDir;
using textures_test::WriteBytes;

class PictureTexture : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(testing_support::EnsureGlContext()); }
    void TearDown() override { loader_.FreeTexture(record_); }

    bool Load(const Bytes& file) {
        const std::string path = dir_.File("picture.bmp");
        WriteBytes(path, file);
        return loader_.LoadPictureTexture(path, record_);
    }

    std::vector<Rgba> Texels() {
        int width = 0;
        int height = 0;
        return ReadTexture(record_.name, width, height);
    }

    ScratchDir dir_;
    TextureLoader loader_;
    TextureRecord record_;
};

struct KeyCase {
    const char* name;
    bool alphaMatch;
    Rgba key;                   // match colour; its alpha is unused
    std::vector<Rgba> picture;  // one row, left to right
    std::vector<Rgba> expected;
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const KeyCase& c, std::ostream* out) {
    *out << c.name;
}

class PictureColourKey : public PictureTexture, public testing::WithParamInterface<KeyCase> {};

TEST_P(PictureColourKey, KeyColourAloneGetsAlphaZero) {
    const KeyCase& c = GetParam();
    loader_.alphaMatch = c.alphaMatch;
    loader_.matchRed = c.key.r;
    loader_.matchGreen = c.key.g;
    loader_.matchBlue = c.key.b;
    const int width = static_cast<int>(c.picture.size());
    ASSERT_TRUE(Load(MakeBmp(width, 1, c.picture)));
    EXPECT_EQ(record_.format, GL_RGBA);
    EXPECT_EQ(record_.bitsPerPixel, 32);
    EXPECT_EQ(Texels(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PictureColourKey,
    testing::Values(KeyCase{"BlackKeyedNearBlackNot",
                            true,
                            {0, 0, 0},
                            {{0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {1, 0, 0}},
                            {{0, 0, 0, 0}, {0, 0, 1, 255}, {0, 1, 0, 255}, {1, 0, 0, 255}}},
                    // A key whose channels differ shows the key is compared channel for channel,
                    // not with red and blue exchanged.
                    KeyCase{
                        "OtherKeyColour",
                        true,
                        {10, 20, 30},
                        {{10, 20, 30}, {30, 20, 10}, {0, 0, 0}, {200, 100, 50}},
                        {{10, 20, 30, 0}, {30, 20, 10, 255}, {0, 0, 0, 255}, {200, 100, 50, 255}}},
                    KeyCase{"KeyOffEverythingOpaque",
                            false,
                            {0, 0, 0},
                            {{0, 0, 0}, {200, 100, 50}},
                            {{0, 0, 0, 255}, {200, 100, 50, 255}}}),
    [](const testing::TestParamInfo<KeyCase>& test) { return std::string(test.param.name); });

// Distinct corners catch both a vertical flip and a mirror.
TEST_F(PictureTexture, TextureRowZeroIsThePicturesBottomRow) {
    const Rgba bottomLeft{255, 0, 0};
    const Rgba bottomRight{0, 255, 0};
    const Rgba topLeft{0, 0, 255};
    const Rgba topRight{255, 255, 255};
    ASSERT_TRUE(Load(MakeBmp(2, 2, {bottomLeft, bottomRight, topLeft, topRight})));
    EXPECT_EQ(Texels(), (std::vector<Rgba>{bottomLeft, bottomRight, topLeft, topRight}));
}

struct SizeCase {
    const char* name;
    int width;          // picture pixels
    int height;         // picture pixels
    bool highQuality;   // loader setting
    int textureWidth;   // expected
    int textureHeight;  // expected
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const SizeCase& c, std::ostream* out) {
    *out << c.name;
}

class PictureSizes : public PictureTexture, public testing::WithParamInterface<SizeCase> {};

TEST_P(PictureSizes, DrawsTheWholePictureAtTheChosenSize) {
    const SizeCase& c = GetParam();
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    ASSERT_GE(maxSize, 1024);
    const Rgba colour{40, 80, 120};
    loader_.SetHighQuality(c.highQuality);
    ASSERT_TRUE(Load(MakeSolidBmp(c.width, c.height, colour)));
    EXPECT_EQ(record_.width, c.textureWidth);
    EXPECT_EQ(record_.height, c.textureHeight);
    EXPECT_EQ(LevelParameter(record_.name, 0, GL_TEXTURE_WIDTH), c.textureWidth);
    EXPECT_EQ(LevelParameter(record_.name, 0, GL_TEXTURE_HEIGHT), c.textureHeight);
    const std::vector<Rgba> texels = Texels();
    ASSERT_FALSE(texels.empty());
    EXPECT_EQ(texels.front(), colour);
    EXPECT_EQ(texels.back(), colour);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PictureSizes,
    testing::Values(SizeCase{"Photo800x600", 800, 600, true, 1024, 512},
                    SizeCase{"Photo800x600Halved", 800, 600, false, 512, 256},
                    // The halving makes the height 0; the texture keeps one row.
                    SizeCase{"HalvedHeightOfOneKeepsOneRow", 256, 1, false, 128, 1}),
    [](const testing::TestParamInfo<SizeCase>& test) { return std::string(test.param.name); });

// One loader draws every picture into the same kept target: a picture that opens but cannot be
// drawn (a GIF with a screen but no image) must upload a blank texture, not the last picture.
TEST_F(PictureTexture, APictureThatCannotBeDrawnUploadsBlankNotTheLastPicture) {
    ASSERT_TRUE(Load(MakeSolidBmp(8, 8, Rgba{255, 255, 255})));
    ASSERT_EQ(Texels().front(), (Rgba{255, 255, 255}));
    loader_.FreeTexture(record_);
    record_ = TextureRecord{};
    const Bytes screenOnly = {'G', 'I', 'F', '8', '9', 'a', 8, 0, 8, 0,  // logical screen 8 × 8
                              0,   0,   0,  // no colour table, background 0, no aspect
                              ';'};         // trailer: no image at all
    ASSERT_TRUE(Load(screenOnly));
    EXPECT_EQ(record_.width, 8);
    const std::vector<Rgba> texels = Texels();
    ASSERT_EQ(texels.size(), 64u);
    for (const Rgba& texel : texels) {
        ASSERT_EQ(texel, (Rgba{0, 0, 0, 0}));
    }
    // After the kept memory is released, loading still works.
    loader_.ReleaseLoadMemory();
    loader_.FreeTexture(record_);
    record_ = TextureRecord{};
    ASSERT_TRUE(Load(MakeSolidBmp(8, 8, Rgba{10, 20, 30})));
    EXPECT_EQ(Texels().back(), (Rgba{10, 20, 30}));
}

TEST_F(PictureTexture, RefusedFilesLeaveTheRecordAlone) {
    record_.kind = 2;
    EXPECT_FALSE(loader_.LoadPictureTexture(dir_.File("missing.jpg"), record_));
    const Bytes notAPicture = {'h', 'e', 'l', 'l', 'o', '\n'};
    EXPECT_FALSE(Load(notAPicture));
    EXPECT_EQ(record_.name, 0u);
    EXPECT_EQ(record_.kind, 2);
    EXPECT_EQ(record_.width, 0);
    EXPECT_EQ(record_.format, 0);
}

}  // namespace
