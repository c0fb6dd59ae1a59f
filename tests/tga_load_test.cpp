// LoadTgaTexture end to end in a GL context: the texture size it picks and the rescale to it,
// what lands in the texture, and what a failed load leaves in the record and the process.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "textures/texture_loader.h"
#include "textures_fixtures.h"

namespace {

using textures_test::Bytes;
using textures_test::LevelParameter;
using textures_test::MakeTga;
using textures_test::ReadTexture;
using textures_test::Rgba;
using textures_test::ScratchDir;
using textures_test::WriteBytes;

class TgaLoad : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testing_support::EnsureGlContext());
        GLint maxSize = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
        ASSERT_GE(maxSize, 256);
    }
    void TearDown() override { loader_.FreeTexture(record_); }

    bool Load(const Bytes& file, bool highQuality = true) {
        const std::string path = dir_.File("image.tga");
        WriteBytes(path, file);
        loader_.SetHighQuality(highQuality);
        return loader_.LoadTgaTexture(path, record_);
    }

    ScratchDir dir_;
    TextureLoader loader_;
    TextureRecord record_;
};

// A pattern where every pixel differs from its neighbours, so any shift or flip shows.
std::vector<Rgba> Pattern(int width, int height, bool alpha) {
    std::vector<Rgba> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.push_back({static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                              static_cast<std::uint8_t>(x ^ y),
                              static_cast<std::uint8_t>(alpha ? 255 - x : 255)});
        }
    }
    return pixels;
}

struct SizeCase {
    const char* name;
    int width;          // image pixels
    int height;         // image pixels
    int depth;          // 24 or 32
    bool runLength;     // type 10 rather than 2
    bool highQuality;   // loader setting
    int textureWidth;   // expected
    int textureHeight;  // expected
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const SizeCase& c, std::ostream* out) {
    *out << c.name;
}

class TgaSizes : public TgaLoad, public testing::WithParamInterface<SizeCase> {};

TEST_P(TgaSizes, UploadsAtTheChosenSize) {
    const SizeCase& c = GetParam();
    ASSERT_TRUE(Load(
        MakeTga(c.width, c.height, c.depth, c.runLength, Pattern(c.width, c.height, c.depth == 32)),
        c.highQuality));
    EXPECT_NE(record_.name, 0u);
    EXPECT_EQ(record_.width, c.textureWidth);
    EXPECT_EQ(record_.height, c.textureHeight);
    EXPECT_EQ(record_.format, c.depth == 32 ? GL_RGBA : GL_RGB);
    EXPECT_EQ(record_.bitsPerPixel, c.depth);
    EXPECT_EQ(LevelParameter(record_.name, 0, GL_TEXTURE_WIDTH), c.textureWidth);
    EXPECT_EQ(LevelParameter(record_.name, 0, GL_TEXTURE_HEIGHT), c.textureHeight);
    EXPECT_EQ(LevelParameter(record_.name, 0, GL_TEXTURE_ALPHA_SIZE) > 0, c.depth == 32);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TgaSizes,
    testing::Values(SizeCase{"Exact256HighQuality", 256, 256, 24, false, true, 256, 256},
                    SizeCase{"Exact256Halved", 256, 256, 24, false, false, 128, 128},
                    SizeCase{"RunLength200x100To256x128", 200, 100, 32, true, true, 256, 128},
                    SizeCase{"OnlyHeightDiffers256x200", 256, 200, 24, false, true, 256, 256},
                    // The halving makes the height 0; the texture keeps one row.
                    SizeCase{"HalvedHeightOfOneKeepsOneRow", 256, 1, 24, false, false, 128, 1}),
    [](const testing::TestParamInfo<SizeCase>& test) { return std::string(test.param.name); });

TEST_F(TgaLoad, MatchingSizeUploadsThePixelsUnchanged) {
    const std::vector<Rgba> pixels = Pattern(256, 256, true);
    ASSERT_TRUE(Load(MakeTga(256, 256, 32, true, pixels)));
    int width = 0;
    int height = 0;
    const std::vector<Rgba> texels = ReadTexture(record_.name, width, height);
    ASSERT_EQ(texels.size(), pixels.size());
    EXPECT_TRUE(texels == pixels) << "first texel " << texels[0] << ", texel (1, 1) " << texels[257]
                                  << " expected " << pixels[257];
}

TEST_F(TgaLoad, FirstFileRowBecomesTextureRowZero) {
    const Rgba red{255, 0, 0, 255};
    const Rgba blue{0, 0, 255, 255};
    ASSERT_TRUE(Load(MakeTga(2, 2, 24, false, {red, red, blue, blue})));
    int width = 0;
    int height = 0;
    const std::vector<Rgba> texels = ReadTexture(record_.name, width, height);
    ASSERT_EQ(texels.size(), 4u);
    EXPECT_EQ(texels[0], red);
    EXPECT_EQ(texels[3], blue);
}

// Rows of 3 bytes are not 4-byte aligned on either side of the scaler: read or written at the
// default alignment they would shift, and the colours of the rows would mix up.
TEST_F(TgaLoad, RescaleKeepsRowsApartAtOddRowLengths) {
    const Rgba red{255, 0, 0, 255};
    const Rgba green{0, 255, 0, 255};
    const Rgba blue{0, 0, 255, 255};
    GLint packBefore = 8;
    glPixelStorei(GL_PACK_ALIGNMENT, packBefore);
    ASSERT_TRUE(Load(MakeTga(1, 3, 24, false, {red, green, blue})));
    GLint packAfter = 0;
    glGetIntegerv(GL_PACK_ALIGNMENT, &packAfter);
    EXPECT_EQ(packAfter, packBefore);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);

    int width = 0;
    int height = 0;
    const std::vector<Rgba> texels = ReadTexture(record_.name, width, height);
    ASSERT_EQ(width, 1);
    ASSERT_EQ(height, 4);
    EXPECT_GT(texels[0].r, 200);  // bottom: the red row
    EXPECT_LT(texels[0].b, 55);
    EXPECT_GT(texels[3].b, 200);  // top: the blue row
    EXPECT_LT(texels[3].r, 55);
    for (const Rgba& texel : texels) {
        EXPECT_EQ(texel.a, 255);
    }
}

TEST_F(TgaLoad, RescaledRunLengthKeepsColourAndAlpha) {
    const Rgba colour{200, 100, 50, 128};
    ASSERT_TRUE(Load(MakeTga(200, 100, 32, true, std::vector<Rgba>(200 * 100, colour))));
    int width = 0;
    int height = 0;
    const std::vector<Rgba> texels = ReadTexture(record_.name, width, height);
    ASSERT_EQ(texels.size(), 256u * 128u);
    EXPECT_EQ(texels.front(), colour);
    EXPECT_EQ(texels[64 * 256 + 100], colour);
    EXPECT_EQ(texels.back(), colour);
}

TEST_F(TgaLoad, FailureKeepsHeaderValuesAndLeavesNameAndKind) {
    record_.kind = 6;
    Bytes depth16 = textures_test::TgaHeader(2, 300, 20, 16);
    depth16.resize(depth16.size() + 300 * 20 * 2, 0);
    EXPECT_FALSE(Load(depth16));
    EXPECT_EQ(record_.name, 0u);
    EXPECT_EQ(record_.kind, 6);
    EXPECT_EQ(record_.width, 300);
    EXPECT_EQ(record_.height, 20);
    EXPECT_EQ(record_.bitsPerPixel, 16);
    EXPECT_EQ(record_.format, GL_RGBA);

    TextureRecord untouched;
    EXPECT_FALSE(loader_.LoadTgaTexture(dir_.File("missing.tga"), untouched));
    EXPECT_EQ(untouched.width, 0);
    EXPECT_EQ(untouched.format, 0);
}

TEST_F(TgaLoad, SuccessLeavesKindAlone) {
    record_.kind = 5;
    ASSERT_TRUE(Load(MakeTga(2, 2, 24, false, Pattern(2, 2, false))));
    EXPECT_EQ(record_.kind, 5);
}

int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// Each way of failing after the open must close the file again.
TEST_F(TgaLoad, FailuresCloseTheFile) {
    const Bytes valid = MakeTga(4, 4, 32, true, Pattern(4, 4, true));
    const std::vector<Bytes> failing = {
        Bytes(valid.begin(), valid.begin() + 10),        // short header
        textures_test::TgaHeader(3, 4, 4, 24),           // bad type
        textures_test::TgaHeader(10, 32768, 32768, 32),  // too large
        Bytes(valid.begin(), valid.end() - 1),           // truncated packet
        [] {                                             // run past the last pixel
            Bytes file = textures_test::TgaHeader(10, 1, 1, 24);
            file.insert(file.end(), {0x81, 1, 2, 3});
            return file;
        }(),
    };
    const int before = OpenDescriptors();
    for (const Bytes& file : failing) {
        EXPECT_FALSE(Load(file));
    }
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(record_.name, 0u);
}

}  // namespace
