// UploadTexture's filter paths and FreeTexture, read back from GL.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "textures/texture_loader.h"
#include "textures_fixtures.h"

namespace {

using textures_test::LevelParameter;
using textures_test::ReadTexture;
using textures_test::Rgba;
using textures_test::TexParameter;

struct FilterCase {
    const char* name;
    TextureFilter filter;
    bool mipmapping;
    GLint magFilter;       // expected
    GLint minFilter;       // expected
    bool mipmaps;          // level 1 expected to exist
    GLint alignmentAfter;  // expected GL_UNPACK_ALIGNMENT after an upload begun at 4
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const FilterCase& c, std::ostream* out) {
    *out << c.name;
}

class UploadTexture : public testing::TestWithParam<FilterCase> {
  protected:
    void SetUp() override { ASSERT_TRUE(testing_support::EnsureGlContext()); }
};

// A 2 × 2 RGB texture has 6-byte rows: read at the default alignment of 4 its second row would
// start two bytes late, so the texel check catches any path that does not read tightly.
TEST_P(UploadTexture, SetsFiltersClampAndReadsTightRows) {
    const FilterCase& c = GetParam();
    TextureLoader loader;
    loader.filter = c.filter;
    loader.mipmapping = c.mipmapping;
    TextureRecord record;
    record.width = 2;
    record.height = 2;
    record.format = GL_RGB;
    glGenTextures(1, &record.name);
    const std::uint8_t pixels[] = {
        10, 20, 30, 40,  50,  60,   // row 0
        70, 80, 90, 100, 110, 120,  // row 1
    };
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    loader.UploadTexture(record, pixels);

    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, c.alignmentAfter);
    EXPECT_EQ(TexParameter(record.name, GL_TEXTURE_MAG_FILTER), c.magFilter);
    EXPECT_EQ(TexParameter(record.name, GL_TEXTURE_MIN_FILTER), c.minFilter);
    EXPECT_EQ(TexParameter(record.name, GL_TEXTURE_WRAP_S), GL_CLAMP);
    EXPECT_EQ(TexParameter(record.name, GL_TEXTURE_WRAP_T), GL_CLAMP);
    EXPECT_EQ(LevelParameter(record.name, 1, GL_TEXTURE_WIDTH), c.mipmaps ? 1 : 0);
    EXPECT_EQ(LevelParameter(record.name, 0, GL_TEXTURE_ALPHA_SIZE), 0);

    int width = 0;
    int height = 0;
    const std::vector<Rgba> texels = ReadTexture(record.name, width, height);
    ASSERT_EQ(width, 2);
    ASSERT_EQ(height, 2);
    EXPECT_EQ(texels[0], (Rgba{10, 20, 30, 255}));
    EXPECT_EQ(texels[2], (Rgba{70, 80, 90, 255}));
    EXPECT_EQ(texels[3], (Rgba{100, 110, 120, 255}));
    loader.FreeTexture(record);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, UploadTexture,
    testing::Values(
        FilterCase{"None", TextureFilter::None, false, GL_NEAREST, GL_NEAREST, false, 1},
        FilterCase{"NoneIgnoresMipmapping", TextureFilter::None, true, GL_NEAREST, GL_NEAREST,
                   false, 1},
        FilterCase{"UnknownFilterActsAsNone", static_cast<TextureFilter>(7), true, GL_NEAREST,
                   GL_NEAREST, false, 1},
        FilterCase{"Bilinear", TextureFilter::Bilinear, false, GL_LINEAR, GL_LINEAR, false, 4},
        FilterCase{"BilinearMipmapped", TextureFilter::Bilinear, true, GL_LINEAR,
                   GL_LINEAR_MIPMAP_NEAREST, true, 4},
        FilterCase{"Trilinear", TextureFilter::Trilinear, false, GL_LINEAR, GL_LINEAR_MIPMAP_LINEAR,
                   true, 4}),
    [](const testing::TestParamInfo<FilterCase>& test) { return std::string(test.param.name); });

TEST(UploadTextureFormat, RgbaKeepsItsAlpha) {
    ASSERT_TRUE(testing_support::EnsureGlContext());
    TextureLoader loader;
    TextureRecord record;
    record.width = 1;
    record.height = 1;
    record.format = GL_RGBA;
    glGenTextures(1, &record.name);
    const std::uint8_t pixel[] = {1, 2, 3, 4};
    loader.UploadTexture(record, pixel);
    EXPECT_EQ(LevelParameter(record.name, 0, GL_TEXTURE_ALPHA_SIZE), 8);
    int width = 0;
    int height = 0;
    EXPECT_EQ(ReadTexture(record.name, width, height).at(0), (Rgba{1, 2, 3, 4}));
    loader.FreeTexture(record);
}

TEST(FreeTexture, DeletesTheNamedTextureAndLeavesTheRecord) {
    ASSERT_TRUE(testing_support::EnsureGlContext());
    TextureLoader loader;
    TextureRecord record;
    record.width = 1;
    record.height = 1;
    record.format = GL_RGBA;
    glGenTextures(1, &record.name);
    const std::uint8_t pixel[] = {1, 2, 3, 4};
    loader.UploadTexture(record, pixel);
    ASSERT_TRUE(glIsTexture(record.name));

    // A record that never loaded names nothing: freeing it must not touch a live texture.
    loader.FreeTexture(TextureRecord{});
    EXPECT_TRUE(glIsTexture(record.name));

    const TextureRecord before = record;
    loader.FreeTexture(record);
    EXPECT_FALSE(glIsTexture(before.name));
    EXPECT_EQ(record.name, before.name);
    EXPECT_EQ(record.width, 1);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
