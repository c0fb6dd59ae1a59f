// The picture set: which of picture1.jpg … picture9.jpg end up in which record, the one
// debugger text and what decides it, and the release at close.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "textures/picture_set.h"
#include "textures_fixtures.h"

namespace {

using textures_test::CurrentDirGuard;
using textures_test::MakeSolidBmp;
using textures_test::ReadTexture;
using textures_test::Rgba;
using textures_test::ScratchDir;
using textures_test::WriteBytes;

// Picture n is a BMP (named .jpg, as the decoder goes by content) of its own colour.
Rgba ColourOf(int number) {
    return {static_cast<std::uint8_t>(number * 20), 7, 9};
}

class PictureSetTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testing_support::EnsureGlContext());
        Clear();
    }
    void TearDown() override {
        ReleasePictureSet();
        Clear();
    }

    static void Clear() {
        for (TextureRecord& record : g_pictureSet.records) {
            record = TextureRecord{};
        }
    }

    void WritePictures(const std::vector<int>& missing) {
        for (int number = 1; number <= kPictureCount; ++number) {
            if (std::find(missing.begin(), missing.end(), number) != missing.end()) {
                continue;
            }
            char name[32];
            std::snprintf(name, sizeof name, "picture%d.jpg", number);
            WriteBytes(dir_.File(name), MakeSolidBmp(8, 8, ColourOf(number)));
        }
    }

    // Loads the set from the scratch folder and returns what went to standard error.
    std::string LoadCapturingStderr() {
        CurrentDirGuard inDir(dir_.path());
        testing::internal::CaptureStderr();
        LoadPictureSet();
        return testing::internal::GetCapturedStderr();
    }

    ScratchDir dir_;
};

struct SetCase {
    const char* name;
    std::vector<int> missing;  // picture numbers left out
    const char* text;          // the debugger text expected
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const SetCase& c, std::ostream* out) {
    *out << c.name;
}

class PictureSetLoads : public PictureSetTest, public testing::WithParamInterface<SetCase> {};

TEST_P(PictureSetLoads, EachPresentPictureFillsItsRecordAndTheNinthDecidesTheText) {
    const SetCase& c = GetParam();
    WritePictures(c.missing);
    const std::string output = LoadCapturingStderr();
    EXPECT_NE(output.find(c.text), std::string::npos) << output;
    const char* other = std::string(c.text).find("failed") == std::string::npos
                            ? "Loded texture failed..."
                            : "Loded texture successfully...";
    EXPECT_EQ(output.find(other), std::string::npos) << output;

    for (int index = 0; index < kPictureCount; ++index) {
        const TextureRecord& record = g_pictureSet.records[index];
        const bool isMissing =
            std::find(c.missing.begin(), c.missing.end(), index + 1) != c.missing.end();
        if (isMissing) {
            EXPECT_EQ(record.name, 0u) << "record " << index;
            continue;
        }
        ASSERT_NE(record.name, 0u) << "record " << index;
        EXPECT_EQ(record.kind, ImageKindJpeg) << "record " << index;
        int width = 0;
        int height = 0;
        const std::vector<Rgba> texels = ReadTexture(record.name, width, height);
        ASSERT_FALSE(texels.empty()) << "record " << index;
        EXPECT_EQ(texels[0], ColourOf(index + 1)) << "record " << index;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PictureSetLoads,
    testing::Values(
        SetCase{"AllNine", {}, "Loded texture successfully..."},
        SetCase{"NinthMissing", {9}, "Loded texture failed..."},
        SetCase{"ThirdMissing", {3}, "Loded texture successfully..."},
        SetCase{"OnlyNinthPresent", {1, 2, 3, 4, 5, 6, 7, 8}, "Loded texture successfully..."},
        SetCase{"NoneThere", {1, 2, 3, 4, 5, 6, 7, 8, 9}, "Loded texture failed..."}),
    [](const testing::TestParamInfo<SetCase>& test) { return std::string(test.param.name); });

TEST_F(PictureSetTest, OneLoaderAtLowerQualityForTheWholeRun) {
    WritePictures({});
    LoadCapturingStderr();
    ASSERT_NE(g_pictureSet.loader, nullptr);
    const TextureLoader* first = g_pictureSet.loader.get();
    EXPECT_FALSE(first->highQuality);
    ReleasePictureSet();
    Clear();
    LoadCapturingStderr();
    EXPECT_EQ(g_pictureSet.loader.get(), first);
}

TEST_F(PictureSetTest, ReleaseDeletesEveryTexture) {
    WritePictures({4});
    LoadCapturingStderr();
    std::vector<GLuint> names;
    for (const TextureRecord& record : g_pictureSet.records) {
        if (record.name != 0) {
            ASSERT_TRUE(glIsTexture(record.name));
            names.push_back(record.name);
        }
    }
    ASSERT_EQ(names.size(), 8u);
    ReleasePictureSet();
    for (GLuint name : names) {
        EXPECT_FALSE(glIsTexture(name)) << "texture " << name;
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
