// Hostile files through the whole picture decoder (LoadPictureFromMemory, then RenderPicture):
// bombs that declare huge sizes over a few bytes, zero and negative sizes, metafiles cut at
// every byte, files built to take forever, and JPEGs that hit libjpeg's fatal errors. Each must
// either fail or draw every pixel of its target, within a few seconds, and leave the process
// running. The ctest entry hostile.memory_limited runs these under an address-space limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hostile_fixtures.h"
#include "platform/picture/picture.h"
#include "support/test_support.h"
#include "textures_fixtures.h"

namespace {

using hostile_test::AlarmGuard;
using hostile_test::Bytes;
using hostile_test::DrawTwice;
using hostile_test::TwiceDrawn;
using platform::PictureResult;

// A case is fine when it fails, or when it draws every pixel of the target.
void ExpectFailsOrDrawsEverything(const TwiceDrawn& drawn) {
    if (drawn.open != PictureResult::Ok) {
        return;
    }
    EXPECT_EQ(drawn.render, drawn.second) << "the same picture drew differently twice";
    if (drawn.render == PictureResult::Ok) {
        EXPECT_EQ(drawn.unwritten, 0u) << "pixels left as they were";
    }
}

struct HostileCase {
    const char* name;
    std::function<Bytes()> make;  // built inside the test, so a slow builder is timed too
    PictureResult open;           // what opening gives
    // What drawing gives when that is checked; either way a drawing must be complete.
    std::optional<PictureResult> render = std::nullopt;
};

void PrintTo(const HostileCase& c, std::ostream* out) {
    *out << c.name;
}

std::string CaseName(const testing::TestParamInfo<HostileCase>& info) {
    return info.param.name;
}

// ---------------------------------------------------------------------------------------------
// Bombs: a small file declaring 65535 × 65535 (or as much as the format's fields hold), and
// files of exactly the pixel budget (8192 × 8192) with almost no data, which are accepted and
// must cost no more than the budget allows.

std::vector<HostileCase> Bombs() {
    using namespace hostile_test;
    return {
        {"BmpDeclares65535Squared",
         [] {
             Bytes bmp = textures_test::MakeSolidBmp(1, 1, {});
             SetLe32(bmp, 18, 65535);
             SetLe32(bmp, 22, 65535);
             return bmp;
         },
         PictureResult::TooLarge},
        // gdk-pixbuf reads up to the pixel data's offset into one growing buffer.
        {"BmpPixelDataAt2GibPastTheFile",
         [] {
             Bytes bmp = textures_test::MakeSolidBmp(1, 1, {});
             SetLe32(bmp, 10, 0xABAAAA2Au);
             return bmp;
         },
         PictureResult::Corrupt},
        {"PngDeclares65535Squared", [] { return MakePng(65535, 65535, 0); },
         PictureResult::TooLarge},
        {"GifScreen65535Squared", [] { return MakeGif(65535, 65535, 1, 1, 1); },
         PictureResult::TooLarge},
        // The screen is small; only the frame's own descriptor is huge.
        {"GifFrame65535Squared", [] { return MakeGif(16, 16, 65535, 65535, 64); },
         PictureResult::Ok},
        {"JpegBaselineSof65535Squared", [] { return MakeJpeg(65535, 65535); },
         PictureResult::TooLarge},
        {"JpegProgressiveSof65535Squared",
         [] { return MakeProgressiveJpeg(65535, 65535, 2, false); }, PictureResult::TooLarge},
        {"IcoEntry65535Squared",
         [] {
             Bytes ico = MakeIco(1, 1);
             SetLe32(ico, 22 + 4, 65535);
             SetLe32(ico, 22 + 8, 2 * 65535u);
             return ico;
         },
         PictureResult::TooLarge},
        // Metafiles are drawn at the target's size whatever they declare, so these open.
        {"EmfBounds65535SquaredAndFrameToMatch",
         [] {
             return MakeEmf({0, 0, 65535, 65535}, {0, 0, 6553500, 6553500});
         },
         PictureResult::Ok},
        {"EmfFrameAtItsLimit",
         [] {
             return MakeEmf({0, 0, 99, 99}, {0, 0, 1 << 24, 1 << 24});
         },
         PictureResult::Ok},
        {"WmfPlaceableBox65535UnitsAtOnePerInch",
         [] {
             return MakeWmf({-32768, -32768, 32767, 32767}, 1);
         },
         PictureResult::Ok},
        {"BmpAtTheBudgetWithNoPixels",
         [] {
             Bytes bmp = textures_test::MakeSolidBmp(1, 1, {});
             SetLe32(bmp, 18, 8192);
             SetLe32(bmp, 22, 8192);
             return bmp;
         },
         PictureResult::Ok},
        {"PngAtTheBudgetWithOneRow", [] { return MakePng(8192, 8192, 1); }, PictureResult::Ok},
        {"GifScreenAtTheBudget", [] { return MakeGif(8192, 8192, 8, 8, 64); }, PictureResult::Ok},
        {"JpegBaselineAtTheBudgetWithNoData",
         [] {
             Bytes jpeg = MakeJpeg(8, 8);
             Bytes big = MakeJpeg(8192, 8192);
             big.resize(jpeg.size() - 2);  // keep the headers, drop the scan's data
             big.insert(big.end(), {0xFF, 0xD9});
             return big;
         },
         PictureResult::Ok},
        {"JpegProgressiveAtTheBudgetWithEmptyScans",
         [] { return MakeProgressiveJpeg(8192, 8192, 64, false); }, PictureResult::Ok},
        // Coefficient buffers of 3 × 2 bytes per pixel: 384 MiB at the budget is refused before
        // libjpeg allocates it; a 24-megapixel one (144 MiB) is drawn.
        {"JpegProgressiveColourAtTheBudget", [] { return MakeProgressiveColourJpeg(8192, 8192); },
         PictureResult::Ok, PictureResult::TooLarge},
        {"JpegProgressiveColour24Megapixels", [] { return MakeProgressiveColourJpeg(6000, 4000); },
         PictureResult::Ok, PictureResult::Ok},
    };
}

class HostileBombs : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileBombs, AreRefusedAtTheHeaderOrDrawnInFull) {
    const HostileCase& c = GetParam();
    AlarmGuard guard(10);
    const TwiceDrawn drawn = DrawTwice(c.make(), 64, 64);
    EXPECT_EQ(drawn.open, c.open);
    if (c.render) {
        EXPECT_EQ(drawn.render, *c.render);
    }
    ExpectFailsOrDrawsEverything(drawn);
}

INSTANTIATE_TEST_SUITE_P(Formats, HostileBombs, testing::ValuesIn(Bombs()), CaseName);

// ---------------------------------------------------------------------------------------------
// Zero and negative sizes in every field that holds one. None may draw less than its target;
// most are refused.

std::vector<HostileCase> EmptySizes() {
    using namespace hostile_test;
    auto bmp = [](std::uint32_t width, std::uint32_t height) {
        return [width, height] {
            Bytes bytes = textures_test::MakeSolidBmp(2, 2, {10, 20, 30});
            SetLe32(bytes, 18, width);
            SetLe32(bytes, 22, height);
            return bytes;
        };
    };
    auto icoDib = [](std::uint32_t width, std::uint32_t doubledHeight) {
        return [width, doubledHeight] {
            Bytes ico = MakeIco(2, 2);
            SetLe32(ico, 22 + 4, width);
            SetLe32(ico, 22 + 8, doubledHeight);
            return ico;
        };
    };
    const std::uint32_t minusTwo = 0xFFFFFFFEu;
    return {
        {"BmpZeroWidth", bmp(0, 2), PictureResult::Corrupt},
        {"BmpZeroHeight", bmp(2, 0), PictureResult::Corrupt},
        {"BmpNegativeWidth", bmp(minusTwo, 2), PictureResult::Corrupt},
        // A negative height is a top-down BMP, which is legitimate.
        {"BmpNegativeHeight", bmp(2, minusTwo), PictureResult::Ok},
        {"BmpMostNegativeHeight", bmp(2, 0x80000000u), PictureResult::Corrupt},
        {"PngZeroWidth", [] { return MakePng(0, 4, 4); }, PictureResult::Corrupt},
        {"PngZeroHeight", [] { return MakePng(4, 0, 0); }, PictureResult::Corrupt},
        {"PngWidthAbove31Bits", [] { return MakePng(0x80000001u, 1, 0); }, PictureResult::Corrupt},
        {"GifZeroScreen", [] { return MakeGif(0, 0, 2, 2, 4); }, PictureResult::Corrupt},
        // An empty first frame leaves the screen black; that is still a picture.
        {"GifZeroFrame", [] { return MakeGif(4, 4, 0, 0, 0); }, PictureResult::Ok},
        {"GifFrameOfZeroWidth", [] { return MakeGif(4, 4, 0, 4, 4); }, PictureResult::Ok},
        {"JpegZeroWidth", [] { return MakeJpeg(0, 8); }, PictureResult::Corrupt},
        {"JpegZeroHeight", [] { return MakeJpeg(8, 0); }, PictureResult::Corrupt},
        {"IcoZeroWidth", icoDib(0, 4), PictureResult::Corrupt},
        {"IcoZeroHeight", icoDib(2, 0), PictureResult::Corrupt},
        {"IcoHeightOfOneRowAndNoMask", icoDib(2, 1), PictureResult::Corrupt},
        {"IcoNegativeWidth", icoDib(minusTwo, 4), PictureResult::Corrupt},
        {"IcoNegativeHeight", icoDib(2, 0xFFFFFFFCu), PictureResult::Corrupt},
        {"IcoNoEntries",
         [] {
             Bytes ico = MakeIco(2, 2);
             SetLe16(ico, 4, 0);
             return ico;
         },
         PictureResult::Corrupt},
        {"EmfZeroFrame",
         [] {
             return MakeEmf({0, 0, 99, 99}, {0, 0, 0, 0});
         },
         PictureResult::Corrupt},
        {"EmfNegativeFrame",
         [] {
             return MakeEmf({0, 0, 99, 99}, {0, 0, -9900, -9900});
         },
         PictureResult::Corrupt},
        // Bounds that enclose nothing draw nothing: black, but every pixel written.
        {"EmfZeroBounds",
         [] {
             return MakeEmf({0, 0, 0, 0}, {0, 0, 9900, 9900});
         },
         PictureResult::Ok},
        {"EmfNegativeBounds",
         [] {
             return MakeEmf({0, 0, -99, -99}, {0, 0, 9900, 9900});
         },
         PictureResult::Ok},
        {"EmfNoReferenceDevice",
         [] {
             Bytes emf = MakeEmf();
             for (std::size_t offset = 72; offset < 88; offset += 4) {
                 SetLe32(emf, offset, 0);
             }
             return emf;
         },
         PictureResult::Ok},
        {"WmfZeroBox",
         [] {
             return MakeWmf({0, 0, 0, 0}, 1000);
         },
         PictureResult::Corrupt},
        {"WmfNegativeBox",
         [] {
             return MakeWmf({0, 0, -1000, -1000}, 1000);
         },
         PictureResult::Corrupt},
        {"WmfNoUnitsPerInch",
         [] {
             return MakeWmf({0, 0, 1000, 1000}, 0);
         },
         PictureResult::Corrupt},
        // libwmf divides by a pattern brush's width (SIGFPE) and allocates by its size.
        {"WmfPatternBrushOfWidthZero",
         [] {
             return MakeWmf({0, 0, 1000, 1000}, 1000,
                            {{0x0142, {3, 0, 40, 0, 0, 0, 8, 0, 1, 1,      0,      0, 0,
                                       0, 0, 0,  0, 0, 0, 0, 0, 0, 0xFFFF, 0xFFFF, 0, 0}},
                             {0x012D, {1}},
                             {0x041B, {1000, 1000, 0, 0}}},
                            1);
         },
         PictureResult::Corrupt},
        {"WmfZeroWindow",
         [] {
             return MakeWmf({0, 0, 1000, 1000}, 1000, {{0x020C, {0, 0}}}, 1);
         },
         PictureResult::Ok},
    };
}

class HostileSizes : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileSizes, AreRefusedOrDrawnInFull) {
    const HostileCase& c = GetParam();
    AlarmGuard guard(10);
    const TwiceDrawn drawn = DrawTwice(c.make());
    EXPECT_EQ(drawn.open, c.open);
    ExpectFailsOrDrawsEverything(drawn);
}

INSTANTIATE_TEST_SUITE_P(Formats, HostileSizes, testing::ValuesIn(EmptySizes()), CaseName);

// ---------------------------------------------------------------------------------------------
// Metafiles cut at every byte: the record walk must stop at the end of what is there, and
// whatever opens must draw its whole target. (The raster formats' prefixes are covered with
// their own fixtures in the picture tests.)

TEST(HostileTruncation, EveryPrefixOfAMetafileFailsOrDrawsInFull) {
    const std::pair<const char*, Bytes> files[] = {
        {"EMF", hostile_test::MakeEmf()},
        {"WMF", hostile_test::MakeWmf()},
        {"WMF without the placeable header",
         [] {
             Bytes wmf = hostile_test::MakeWmf();
             return Bytes(wmf.begin() + 22, wmf.end());
         }()},
    };
    for (const auto& [name, whole] : files) {
        SCOPED_TRACE(name);
        AlarmGuard guard(60);
        ASSERT_EQ(DrawTwice(whole).render, PictureResult::Ok);
        for (std::size_t keep = 0; keep < whole.size(); ++keep) {
            SCOPED_TRACE(keep);
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep));
            ExpectFailsOrDrawsEverything(DrawTwice(cut));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Files built to take forever. Each must end within a few seconds (the alarm ends the process
// otherwise), with a failure or a full drawing.

std::vector<HostileCase> SlowFiles() {
    using namespace hostile_test;
    constexpr std::size_t kMillion = 1000000;
    // At 1024 × 1024 a metafile may have 2^25 / 2048 = 16384 records; these are just inside.
    constexpr std::size_t kPairsWithin = 8000;
    const std::vector<EmfRecord> emfLine = {{kEmrMoveToEx, {0, 0}}, {kEmrLineTo, {99, 99}}};
    const std::vector<WmfRecord> wmfLine = {{kMetaMoveTo, {0, 0}}, {kMetaLineTo, {1000, 1000}}};
    auto emf = [](std::vector<EmfRecord> body, std::size_t repeat) {
        return [=] { return MakeEmf({0, 0, 99, 99}, {0, 0, 9900, 9900}, body, repeat); };
    };
    auto wmf = [](std::vector<WmfRecord> body, std::size_t repeat) {
        return [=] { return MakeWmf({0, 0, 1000, 1000}, 1000, body, repeat); };
    };
    return {
        {"JpegTwentyThousandScans", [] { return MakeProgressiveJpeg(256, 256, 20000, true); },
         PictureResult::Ok, PictureResult::Corrupt},
        {"JpegTwentyThousandEmptyScansAtTheBudget",
         [] { return MakeProgressiveJpeg(8192, 8192, 20000, false); }, PictureResult::Ok,
         PictureResult::Corrupt},
        {"JpegSixteenEmptyScansAtTheBudget",
         [] { return MakeProgressiveJpeg(8192, 8192, 16, false); }, PictureResult::Ok,
         PictureResult::Ok},
        // librsvg flattens curves into segments by their transformed size.
        {"EmfWorldTransformWithAHugeShear",
         emf({{kEmrSetWorldTransform, {0x3F800000u, 0x5E000000u, 0, 0x3F800000u, 0, 0}},
              {kEmrEllipse, {10, 10, 40, 40}}},
             1),
         PictureResult::Corrupt},
        {"GifFiveThousandFrames", [] { return MakeGif(64, 64, 64, 64, 64 * 64, 5000); },
         PictureResult::Ok, PictureResult::Ok},
        // Refused by the record walk when opened.
        {"EmfTwoMillionRecords", emf({{kEmrSaveDc, {}}}, 2 * kMillion), PictureResult::TooLarge},
        {"EmfHalfAMillionLines", emf(emfLine, kMillion / 2 - 8), PictureResult::TooLarge},
        {"WmfTwoMillionRecords", wmf({{kMetaSetBkColor, {0, 0}}}, 2 * kMillion),
         PictureResult::TooLarge},
        // Opened, and refused for the drawing they would cost at this size.
        {"EmfThirtyTwoThousandLines", emf(emfLine, 32760), PictureResult::Ok,
         PictureResult::TooLarge},
        {"WmfHalfAMillionLines", wmf(wmfLine, kMillion / 2 - 8), PictureResult::Ok,
         PictureResult::TooLarge},
        // The most that is drawn at this size.
        {"EmfLinesWithinTheDrawingLimit", emf(emfLine, kPairsWithin), PictureResult::Ok,
         PictureResult::Ok},
        {"EmfSaveRestoreWithinTheDrawingLimit",
         emf({{kEmrSaveDc, {}}, {kEmrRestoreDc, {0xFFFFFFFFu}}}, kPairsWithin), PictureResult::Ok,
         PictureResult::Ok},
        // Drawn ten times the picture's size, where libwmf stamps a 10-pixel brush at every
        // pixel of every line: the play is abandoned at its deadline.
        {"WmfLinesWithinTheDrawingLimit", wmf(wmfLine, kPairsWithin), PictureResult::Ok},
        // One pen as wide as the picture, then lines with it.
        {"EmfFatPenLines",
         emf({{kEmrCreatePen, {2, 0, 5000, 0, 0x000000FF}},
              {kEmrSelectObject, {2}},
              {kEmrMoveToEx, {0, 0}},
              {kEmrLineTo, {99, 99}}},
             kPairsWithin / 2),
         PictureResult::Ok},
        {"WmfFatPenLines",
         wmf({{kMetaCreatePenIndirect, {0, 1000, 0, 0x00FF, 0x0000}},
              {0x012D, {1}},
              {kMetaMoveTo, {0, 0}},
              {kMetaLineTo, {1000, 1000}}},
             kPairsWithin / 2),
         PictureResult::Ok},
        // A real fuzzer find: libwmf never returns from one of its text records, so only
        // the child process the play runs in, killed at its deadline, ends it.
        {"WmfTextRecordThatNeverReturns",
         [] {
             const std::string file = testing_support::ReadFileBytes(
                 testing_support::SourceDir() + "/fuzz/crashes/wmf/exttextout-hang-c.wmf");
             return Bytes(file.begin(), file.end());
         },
         PictureResult::Ok, PictureResult::Corrupt},
        {"WmfSaveRestoreWithinTheDrawingLimit",
         wmf({{kMetaSaveDc, {}}, {kMetaRestoreDc, {0xFFFF}}}, kPairsWithin), PictureResult::Ok,
         PictureResult::Ok},
    };
}

class HostileTime : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileTime, EndsWithinSecondsFailedOrDrawnInFull) {
    const HostileCase& c = GetParam();
    // Each case takes at most about 10 s here (two draws of a WMF play killed at 5 s); the
    // allowance leaves room for a loaded CI machine. Before the limits, several took minutes.
    AlarmGuard guard(30);
    // At a texture's size, where drawing each record costs the most.
    const TwiceDrawn drawn = DrawTwice(c.make(), 1024, 1024);
    EXPECT_EQ(drawn.open, c.open);
    if (c.render) {
        EXPECT_EQ(drawn.render, *c.render);
    }
    ExpectFailsOrDrawsEverything(drawn);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileTime, testing::ValuesIn(SlowFiles()), CaseName);

// ---------------------------------------------------------------------------------------------
// libjpeg's fatal errors, at the header and during the decode. Its default handler prints and
// ends the process; ours must turn each into a failed result, and the process carries on.

// The small JPEG with the byte at the offset of marker + field replaced.
Bytes PatchedJpeg(std::uint8_t marker, std::size_t field, std::uint8_t value) {
    Bytes jpeg = hostile_test::MakeJpeg(16, 16);
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == marker) {
            jpeg[i + field] = value;
            return jpeg;
        }
    }
    ADD_FAILURE() << "no marker " << int{marker};
    return jpeg;
}

TEST(HostileJpeg, FatalErrorsFailTheLoadAndTheProcessCarriesOn) {
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Bytes good = hostile_test::MakeJpeg(16, 16);
    Bytes sosFirst = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08, 0x01,
                      0x01, 0x00, 0x00, 0x3F, 0x00, 0xFF, 0xD9};
    const Case cases[] = {
        // SOF: length, precision, height, width, components, id, sampling, table.
        {"twelve-bit precision", PatchedJpeg(0xC0, 4, 12)},
        {"no components", PatchedJpeg(0xC0, 9, 0)},
        {"frame length too short", PatchedJpeg(0xC0, 3, 5)},
        {"sampling factor 0", PatchedJpeg(0xC0, 11, 0x00)},
        {"sampling factor 5", PatchedJpeg(0xC0, 11, 0x55)},
        {"missing quantisation table", PatchedJpeg(0xC0, 12, 3)},
        {"quantisation table index 5", PatchedJpeg(0xDB, 4, 5)},
        {"Huffman table index 7", PatchedJpeg(0xC4, 4, 0x07)},
        {"Huffman code counts overflowing", PatchedJpeg(0xC4, 5, 0xFF)},
        // SOS: length, count, component id, tables, Ss, Se, Ah/Al.
        {"scan names a missing Huffman table", PatchedJpeg(0xDA, 6, 0x33)},
        {"scan names a missing component", PatchedJpeg(0xDA, 5, 9)},
        {"scan with no components", PatchedJpeg(0xDA, 4, 0)},
        {"scan before the frame", sosFirst},
        {"unknown frame type", PatchedJpeg(0xC0, 1, 0xC3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlarmGuard guard(10);
        const TwiceDrawn drawn = DrawTwice(c.bytes);
        // Either the header or the decode fails; reaching the next case is the point.
        EXPECT_TRUE(drawn.open != PictureResult::Ok || drawn.render != PictureResult::Ok)
            << "opened " << static_cast<int>(drawn.open) << ", drew "
            << static_cast<int>(drawn.render);
    }
    // And a sound file still decodes afterwards: no state is left behind by the jumps.
    const TwiceDrawn after = DrawTwice(good);
    EXPECT_EQ(after.render, PictureResult::Ok);
    EXPECT_EQ(after.unwritten, 0u);
}

}  // namespace
