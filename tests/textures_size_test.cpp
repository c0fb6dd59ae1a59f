// The power-of-two size rule and the halving at lower quality; no GL needed.
#include <gtest/gtest.h>

#include <cstdint>

#include "textures/texture_loader.h"

namespace {

struct SizeCase {
    int imageSize;  // pixels
    int maxSize;    // GL_MAX_TEXTURE_SIZE
    int expected;   // texture pixels
};

TEST(TextureSizeFor, NearestPowerOfTwoOnALogScale) {
    const SizeCase cases[] = {
        {1, 4096, 1},
        {2, 4096, 2},
        {3, 4096, 4},
        {5, 4096, 4},
        {6, 4096, 8},
        {90, 4096, 64},
        {91, 4096, 128},
        {181, 4096, 128},
        {182, 4096, 256},
        {724, 4096, 512},
        {725, 4096, 1024},
        {1024, 4096, 1024},
        {2896, 4096, 2048},
        {2897, 4096, 4096},
        {4096, 4096, 4096},
        // Above the limit the limit itself, not a power of two near the size.
        {4097, 4096, 4096},
        {65535, 4096, 4096},
        {725, 600, 600},
        // The limit decides only when exceeded: a size below it may still round up past it.
        {600, 600, 512},
        {500, 600, 512},
        // ln 0 has no value; a size below 1 gets a single pixel.
        {0, 4096, 1},
        {-3, 4096, 1},
    };
    for (const SizeCase& c : cases) {
        EXPECT_EQ(TextureLoader::TextureSizeFor(c.imageSize, c.maxSize), c.expected)
            << "size " << c.imageSize << ", limit " << c.maxSize;
    }
}

// Against an integer reference: 2^k rounds up to 2^(k+1) exactly when n² ≥ 2 · 4^k, so no size
// near a boundary is misplaced by the floating-point logarithm.
TEST(TextureSizeFor, AgreesWithExactRoundingForEverySixteenBitSize) {
    for (int n = 1; n <= 65535; ++n) {
        int power = 1;
        while (power * 2 <= n) {
            power *= 2;
        }
        const auto square = static_cast<std::int64_t>(n) * n;
        const int expected =
            square >= 2 * static_cast<std::int64_t>(power) * power ? power * 2 : power;
        ASSERT_EQ(TextureLoader::TextureSizeFor(n, 1 << 20), expected) << "size " << n;
    }
}

struct ChooseCase {
    bool highQuality;
    int imageWidth;     // pixels
    int imageHeight;    // pixels
    int maxSize;        // GL_MAX_TEXTURE_SIZE
    int textureWidth;   // expected
    int textureHeight;  // expected
};

TEST(ChooseTextureSize, HalvesBothSidesOnlyWhenTheWidthIsAbove64) {
    const ChooseCase cases[] = {
        {false, 1024, 768, 4096, 512, 512},
        {false, 100, 100, 4096, 64, 64},
        {false, 256, 1, 4096, 128, 0},  // the rule's own result; decoders raise it to 1
        {false, 64, 64, 4096, 64, 64},
        {false, 64, 512, 4096, 64, 512},  // only the width is tested
        {false, 128, 32, 4096, 64, 16},
        {false, 90, 90, 4096, 64, 64},     // 64: not halved
        {false, 91, 91, 4096, 64, 64},     // 128: halved
        {false, 5000, 10, 4096, 2048, 4},  // the limit comes before the halving
        {true, 1024, 768, 4096, 1024, 1024},
        {true, 256, 1, 4096, 256, 1},
        {true, 5000, 2000, 4096, 4096, 2048},
        {true, 800, 600, 4096, 1024, 512},
        {false, 800, 600, 4096, 512, 256},
    };
    for (const ChooseCase& c : cases) {
        TextureLoader loader;
        loader.SetHighQuality(c.highQuality);
        int width = -1;
        int height = -1;
        loader.ChooseTextureSize(c.imageWidth, c.imageHeight, c.maxSize, width, height);
        EXPECT_EQ(width, c.textureWidth) << c.imageWidth << " x " << c.imageHeight
                                         << (c.highQuality ? ", high quality" : ", halved");
        EXPECT_EQ(height, c.textureHeight) << c.imageWidth << " x " << c.imageHeight
                                           << (c.highQuality ? ", high quality" : ", halved");
    }
}

TEST(TextureLoaderDefaults, MatchWhatThePictureSetRelies) {
    const TextureLoader loader;
    EXPECT_TRUE(loader.alphaMatch);
    EXPECT_TRUE(loader.highQuality);
    EXPECT_FALSE(loader.mipmapping);
    EXPECT_EQ(loader.filter, TextureFilter::None);
    EXPECT_EQ(loader.matchRed, 0);
    EXPECT_EQ(loader.matchGreen, 0);
    EXPECT_EQ(loader.matchBlue, 0);
}

}  // namespace
