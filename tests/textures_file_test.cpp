// LoadTextureFromFile: the decoder and kind chosen by the name's extension, the full path made
// from the current directory, and names holding "http://" passed on unprefixed.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "textures/texture_loader.h"
#include "textures_fixtures.h"

namespace {

using textures_test::Bytes;
using textures_test::CurrentDirGuard;
using textures_test::MakeTga;
using textures_test::Rgba;
using textures_test::ScratchDir;
using textures_test::WriteBytes;

// A TGA of the given width: the TGA reader opens it, the picture decoder does not, and the
// width of the texture tells which of two such files was read.
Bytes Tga(int width) {
    return MakeTga(width, 2, 24, false,
                   std::vector<Rgba>(static_cast<std::size_t>(width) * 2, Rgba{1, 2, 3}));
}

class LoadTextureFromFile : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(testing_support::EnsureGlContext()); }
    void TearDown() override { loader_.FreeTexture(record_); }

    ScratchDir dir_;
    TextureLoader loader_;
    TextureRecord record_;
};

struct KindCase {
    const char* fileName;
    std::int32_t kind;  // expected
};

// Every name here holds TGA data the picture decoder refuses, so each load fails there, but
// only after the kind was set.
TEST_F(LoadTextureFromFile, NonTgaNamesSetTheKindAndGoToThePictureDecoder) {
    const KindCase cases[] = {
        {"a.bmp", ImageKindBmp},
        {"a.BMP", ImageKindBmp},
        {"photo.JPEG", ImageKindJpeg},
        {"a.jpg", ImageKindJpeg},
        {"a.JpG", ImageKindJpeg},
        {"a.gif", ImageKindGif},
        {"a.ico", ImageKindIcon},
        {"a.emf", ImageKindEnhancedMetafile},
        {"a.WMF", ImageKindWindowsMetafile},
        {"archive.tga.gif", ImageKindGif},  // only the last dot counts
        {"readme", ImageKindOther},
        {"a.png", ImageKindOther},
        {"a.", ImageKindOther},
        {"a.jpgx", ImageKindOther},
        {"a.tgax", ImageKindOther},
        {"dir.tga/readme", ImageKindOther},  // the "extension" is "tga/readme"
    };
    CurrentDirGuard inDir(dir_.path());
    for (const KindCase& c : cases) {
        WriteBytes(dir_.File(c.fileName), Tga(2));
        TextureRecord record;
        record.kind = 99;
        EXPECT_FALSE(loader_.LoadTextureFromFile(c.fileName, record)) << c.fileName;
        EXPECT_EQ(record.kind, c.kind) << c.fileName;
        EXPECT_EQ(record.name, 0u) << c.fileName;
    }
}

TEST_F(LoadTextureFromFile, TgaNamesGoToTheTgaReaderAndKeepTheKind) {
    CurrentDirGuard inDir(dir_.path());
    for (const char* name : {"scan.TGA", "scan.tga", "photo.jpg.Tga"}) {
        WriteBytes(dir_.File(name), Tga(2));
        TextureRecord record;
        record.kind = 99;
        EXPECT_TRUE(loader_.LoadTextureFromFile(name, record)) << name;
        EXPECT_EQ(record.kind, 99) << name;
        EXPECT_EQ(record.bitsPerPixel, 24) << name;
        loader_.FreeTexture(record);
    }
}

TEST_F(LoadTextureFromFile, LooksInTheCurrentDirectoryAtLoadTime) {
    const std::filesystem::path with = dir_.path() / "with";
    const std::filesystem::path without = dir_.path() / "without";
    std::filesystem::create_directories(without);
    WriteBytes((with / "scan.tga").string(), Tga(2));
    {
        CurrentDirGuard inDir(without);
        EXPECT_FALSE(loader_.LoadTextureFromFile("scan.tga", record_));
    }
    CurrentDirGuard inDir(with);
    EXPECT_TRUE(loader_.LoadTextureFromFile("scan.tga", record_));
}

// The extension comes from the name, never from a dot in the directory above it.
TEST_F(LoadTextureFromFile, DotsInTheDirectoryDoNotCount) {
    const std::filesystem::path dotted = dir_.path() / "shots.tga";
    WriteBytes((dotted / "readme").string(), Tga(2));
    CurrentDirGuard inDir(dotted);
    record_.kind = 99;
    EXPECT_FALSE(loader_.LoadTextureFromFile("readme", record_));
    EXPECT_EQ(record_.kind, ImageKindOther);
}

TEST_F(LoadTextureFromFile, FullPathLongerThan260CharactersLoads) {
    std::filesystem::path deep = dir_.path();
    while (deep.string().size() < 400) {
        deep /= std::string(50, 'd');
    }
    WriteBytes((deep / "scan.tga").string(), Tga(2));
    CurrentDirGuard inDir(deep);
    EXPECT_TRUE(loader_.LoadTextureFromFile("scan.tga", record_));
}

// Each name is absolute, and a second file sits where the name would point once prefixed with
// the current directory; the texture's width shows which one was opened.
TEST_F(LoadTextureFromFile, OnlyLowerCaseHttpSchemeSkipsThePrefix) {
    const std::filesystem::path cwd = dir_.path() / "cwd";
    struct Case {
        std::string scheme;  // as written in the name
        int width;           // of the file expected to be opened
    };
    const Case cases[] = {{"http://", 2}, {"HTTP://", 4}, {"Http://", 4}};
    for (const Case& c : cases) {
        // "a/http://h/x" names the file a/http:/h/x on this system.
        const std::string name = (dir_.path() / "data").string() + "/" + c.scheme + "host/scan.tga";
        WriteBytes((dir_.path() / "data" / c.scheme.substr(0, 6) / "host/scan.tga").string(),
                   Tga(2));
        WriteBytes(cwd.string() + "/" + (dir_.path() / "data").string() + "/" +
                       c.scheme.substr(0, 6) + "/host/scan.tga",
                   Tga(4));
        CurrentDirGuard inDir(cwd);
        TextureRecord record;
        ASSERT_TRUE(loader_.LoadTextureFromFile(name, record)) << name;
        EXPECT_EQ(record.width, c.width) << name;
        loader_.FreeTexture(record);
    }
}

}  // namespace
