// The metafile backends: the shared corpus file by file (what opens, its size, that it draws or
// is refused), small generated metafiles that show orientation and byte order, and hostile
// files whose record structure lies, each of which must be refused before a library sees it.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "platform/picture/picture.h"
#include "support/test_support.h"

namespace {

using platform::PicturePtr;
using platform::PictureResult;
using Bytes = std::vector<std::uint8_t>;

// A rendered target, bottom-up BGRX as RenderPicture writes it.
struct Target {
    int width = 0;                     // pixels
    int height = 0;                    // pixels
    std::vector<std::uint8_t> pixels;  // width × height × 4 bytes

    const std::uint8_t* At(int x, int row) const {
        return pixels.data() + (static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                                static_cast<std::size_t>(x)) *
                                   4;
    }
    std::size_t NonBlack() const {
        std::size_t count = 0;
        for (std::size_t i = 0; i < pixels.size(); i += 4) {
            if ((pixels[i] | pixels[i + 1] | pixels[i + 2]) != 0) {
                ++count;
            }
        }
        return count;
    }
};

// Renders into a target pre-filled with a pattern, so unwritten pixels would show.
PictureResult RenderInto(platform::Picture& picture, Target& target, int width, int height) {
    target.width = width;
    target.height = height;
    target.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4,
                         0xA5);
    return platform::RenderPicture(picture, target.pixels.data(), width, height);
}

PictureResult OpenBytes(const Bytes& bytes, PicturePtr& picture) {
    return platform::LoadPictureFromMemory(bytes.data(), bytes.size(), picture);
}

void PutU16(Bytes& out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
void PutU32(Bytes& out, std::size_t at, std::uint32_t value) {
    PutU16(out, at, value & 0xFFFF);
    PutU16(out, at + 2, value >> 16);
}
void AppendU16(Bytes& out, std::uint32_t value) {
    out.resize(out.size() + 2);
    PutU16(out, out.size() - 2, value);
}
void AppendU32(Bytes& out, std::uint32_t value) {
    out.resize(out.size() + 4);
    PutU32(out, out.size() - 4, value);
}

// ---------------------------------------------------------------------------------------------
// The corpus.

enum class Expect {
    Drawn,        // opens, renders Ok with some non-black pixel
    Black,        // opens, renders Ok, every pixel black (nothing visible over a zeroed bitmap)
    RenderFails,  // opens from its header, the library refuses to play it
    Refused,      // fails to open
};

struct CorpusCase {
    const char* file;     // under the corpus folder
    Expect expect;        // what the decoder must do with it
    std::int32_t width;   // HIMETRIC, when it opens
    std::int32_t height;  // HIMETRIC, when it opens
    const char* why;      // for the odd and bad ones: why this expectation
};

// Sizes: EMF rclFrame right − left × bottom − top; WMF placeable box × 2540 ÷ units per inch,
// rounded to nearest as MulDiv rounds (MANIFEST.md truncates, so a few differ by one); WMF
// without a placeable header: libwmf's estimate at 96 pixels per inch.
const CorpusCase kCorpus[] = {
    // EMF, good.
    {"emf/EA-test-file-101.emf", Expect::Drawn, 12714, 9526, ""},
    {"emf/drawing.emf", Expect::Drawn, 2899, 2899, ""},
    {"emf/milkmateya01.emf", Expect::Drawn, 19972, 28332, ""},
    {"emf/test-007.emf", Expect::Drawn, 1446, 1429, ""},
    {"emf/test-013.emf", Expect::Drawn, 14649, 17550, ""},
    {"emf/test-027.emf", Expect::Drawn, 1464, 1005, ""},
    {"emf/test-044.emf", Expect::Drawn, 16510, 12383, ""},
    {"emf/test-058.emf", Expect::Drawn, 15752, 10372, ""},
    {"emf/test-068.emf", Expect::Black, 20569, 14629,
     "black text and rules only: over the zeroed bitmap it reads black, as GDI draws it"},
    {"emf/test-092.emf", Expect::Black, 7515, 3040,
     "a black outline and no fill: nothing but black to see"},
    {"emf/test-124.emf", Expect::Drawn, 4166, 2934, ""},
    {"emf/test-132.emf", Expect::Drawn, 1446, 1552, ""},
    {"emf/test-152.emf", Expect::Drawn, 7875, 6125,
     "negative frame coordinates, and a description without its NUL"},
    {"emf/test-166.emf", Expect::Drawn, 25033, 17375, ""},
    {"emf/test-177.emf", Expect::Drawn, 17375, 17375, ""},
    {"emf/test_libuemf_ref.emf", Expect::Drawn, 29699, 20999, ""},
    {"emf/test_mm_lometric_ref.emf", Expect::Drawn, 29699, 20999, ""},
    {"emf/test_mm_twips_ref.emf", Expect::Drawn, 29699, 20999, ""},
    // EMF, odd.
    {"emf/EA-test-file-001.emf", Expect::Black, 16256, 17768,
     "rclBounds with a negative top: libemf2svg 1.1.0 puts the drawing outside its own SVG"},
    {"emf/test-023.emf", Expect::Drawn, 6064, 3569, "frame off the origin: its extent counts"},
    {"emf/test-030.emf", Expect::Black, 16799, 20160, "an empty picture opens and shows nothing"},
    {"emf/test-065.emf", Expect::Black, 2539, 2539, "libemf2svg draws nothing visible of it"},
    {"emf/test-156.emf", Expect::Drawn, 318750, 412500,
     "a frame of metres: drawn at the target size only, never at its own"},
    {"emf/test-186.emf", Expect::Drawn, 3961, 1346, "libemf2svg loses some of it, not all"},
    {"emf/test_mm_anisotropic_ref.emf", Expect::Drawn, 29699, 20999,
     "y up: the frame's top is negative"},
    // EMF, bad.
    {"emf/bad_corrupted_2014-12-02-215400.emf", Expect::Refused, 0, 0,
     "records corrupted inside a valid header"},
    {"emf/bad_corrupted_2014-12-02-215428.emf", Expect::Refused, 0, 0, "header destroyed"},
    {"emf/derived-test044-truncated3000.emf", Expect::Refused, 0, 0,
     "nBytes says 51140, the file holds 3000"},
    // WMF, good.
    {"wmf/2doorvan.wmf", Expect::Drawn, 8415, 3057, ""},
    {"wmf/anim0002.wmf", Expect::Drawn, 10441, 9636, ""},
    {"wmf/cell.wmf", Expect::Drawn, 27918, 21628, ""},
    {"wmf/drawing.wmf", Expect::Drawn, 2898, 2898, ""},
    {"wmf/formula1.wmf", Expect::Drawn, 5874, 1085, ""},
    {"wmf/libwmf-fulltest.wmf", Expect::Drawn, 27940, 21590, ""},
    {"wmf/sample.wmf", Expect::Drawn, 8004, 7183, ""},
    {"wmf/symbol-font-tables.wmf", Expect::Drawn, 15000, 13300, ""},
    {"wmf/telescope_01.wmf", Expect::Drawn, 12977, 17298, "mostly black ink, some grey"},
    // WMF, odd.
    {"wmf/arrow01.wmf", Expect::Drawn, 4481, 4183, "negative window extent"},
    {"wmf/fjftest.wmf", Expect::Drawn, 21001, 29700, "bytes after META_EOF are never read"},
    {"wmf/gdiwmfboundariesbug.wmf", Expect::Drawn, 2328, 2170, "no placeable header"},
    {"wmf/p0000001.wmf", Expect::Drawn, 9313, 2884, "no placeable header"},
    {"wmf/text.wmf", Expect::Drawn, 8916, 11986, "no placeable header, no SetWindowExt"},
    {"wmf/test_libuemf_ref.wmf", Expect::RenderFails, 29699, 20999,
     "libwmf 0.2.12 refuses to play it; its placeable header alone is sound"},
    // WMF, bad.
    {"wmf/Readme.wmf", Expect::Refused, 0, 0, "text, not a metafile"},
    {"wmf/derived-arrow01-headeronly.wmf", Expect::Refused, 0, 0, "headers and no records"},
    {"wmf/derived-fulltest-truncated1000.wmf", Expect::Refused, 0, 0, "a record runs past the end"},
};

void PrintTo(const CorpusCase& entry, std::ostream* out) {
    *out << entry.file;
}

class MetafileCorpus : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(MetafileCorpus, OpensSizesAndDrawsAsClassed) {
    const CorpusCase& entry = GetParam();
    const std::string corpus = testing_support::CorpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "no shared corpus beside the checkout";
    }
    SCOPED_TRACE(std::string(entry.file) + ": " + entry.why);
    PicturePtr picture;
    const PictureResult opened =
        platform::OleLoadPicturePath((corpus + "/" + entry.file).c_str(), picture);
    if (entry.expect == Expect::Refused) {
        EXPECT_NE(opened, PictureResult::Ok);
        EXPECT_EQ(picture, nullptr);
        return;
    }
    ASSERT_EQ(opened, PictureResult::Ok);
    EXPECT_EQ(platform::PictureWidthHimetric(*picture), entry.width);
    EXPECT_EQ(platform::PictureHeightHimetric(*picture), entry.height);

    // Not square, so a width/height mix-up shows.
    Target target;
    const PictureResult rendered = RenderInto(*picture, target, 96, 64);
    if (entry.expect == Expect::RenderFails) {
        EXPECT_NE(rendered, PictureResult::Ok);
        return;
    }
    ASSERT_EQ(rendered, PictureResult::Ok);
    if (entry.expect == Expect::Drawn) {
        EXPECT_GT(target.NonBlack(), 0u);
    } else {
        EXPECT_EQ(target.NonBlack(), 0u);
    }
    for (std::size_t i = 3; i < target.pixels.size(); i += 4) {
        ASSERT_EQ(target.pixels[i], 0) << "the unused byte of pixel " << i / 4;
    }
}

std::string CaseName(const ::testing::TestParamInfo<CorpusCase>& info) {
    std::string name;
    for (const char* c = info.param.file; *c != '\0'; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) != 0 ? *c : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, MetafileCorpus, ::testing::ValuesIn(kCorpus), CaseName);

// A file added to the corpus without a line in the table would go untested.
TEST(MetafileCorpusTable, ListsEveryMetafileInTheCorpus) {
    const std::string corpus = testing_support::CorpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "no shared corpus beside the checkout";
    }
    std::set<std::string> listed;
    for (const CorpusCase& entry : kCorpus) {
        listed.insert(entry.file);
    }
    for (const char* folder : {"emf", "wmf"}) {
        std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir((corpus + "/" + folder).c_str()), closedir);
        ASSERT_NE(dir, nullptr) << folder;
        while (const dirent* item = readdir(dir.get())) {
            const std::string name = item->d_name;
            if (name == "." || name == ".." || name == "MANIFEST.md") {
                continue;
            }
            EXPECT_EQ(listed.count(std::string(folder) + "/" + name), 1u) << folder << "/" << name;
        }
    }
}

// The libraries' diagnostics must not reach the terminal, whatever the file.
TEST(MetafileCorpusTable, LibrariesPrintNothing) {
    const std::string corpus = testing_support::CorpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "no shared corpus beside the checkout";
    }
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    for (const CorpusCase& entry : kCorpus) {
        PicturePtr picture;
        if (platform::OleLoadPicturePath((corpus + "/" + entry.file).c_str(), picture) ==
            PictureResult::Ok) {
            Target target;
            RenderInto(*picture, target, 32, 32);
        }
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
}

// ---------------------------------------------------------------------------------------------
// Generated EMF: a 100 × 100 reference device of 1 pixel per millimetre, a frame of 99 mm, and a
// red rectangle over the top half (y grows downward in EMF device space).

constexpr std::uint32_t kEmrHeader = 1;
constexpr std::uint32_t kEmrEof = 14;
constexpr std::uint32_t kEmrSelectObject = 37;
constexpr std::uint32_t kEmrCreateBrushIndirect = 39;
constexpr std::uint32_t kEmrRectangle = 43;
constexpr std::uint32_t kEmrSaveDc = 33;

struct EmfFixture {
    std::int32_t bounds[4] = {0, 0, 99, 99};     // rclBounds, device pixels
    std::int32_t frame[4] = {0, 0, 9900, 9900};  // rclFrame, HIMETRIC
    std::uint32_t headerBytes = 88;              // nSize of EMR_HEADER
    bool redTopHalf = true;                      // draw the rectangle
};

void AppendRecord(Bytes& out, std::uint32_t type, std::initializer_list<std::uint32_t> params) {
    AppendU32(out, type);
    AppendU32(out, static_cast<std::uint32_t>(8 + 4 * params.size()));
    for (std::uint32_t value : params) {
        AppendU32(out, value);
    }
}

// Fixes up nBytes and nRecords after the records are appended.
void FinishEmf(Bytes& out, std::uint32_t records) {
    PutU32(out, 48, static_cast<std::uint32_t>(out.size()));
    PutU32(out, 52, records);
}

Bytes MakeEmf(const EmfFixture& fixture = EmfFixture()) {
    Bytes out(fixture.headerBytes, 0);
    PutU32(out, 0, kEmrHeader);
    PutU32(out, 4, fixture.headerBytes);
    for (int i = 0; i < 4; ++i) {
        PutU32(out, 8 + 4 * static_cast<std::size_t>(i),
               static_cast<std::uint32_t>(fixture.bounds[i]));
        PutU32(out, 24 + 4 * static_cast<std::size_t>(i),
               static_cast<std::uint32_t>(fixture.frame[i]));
    }
    std::memcpy(out.data() + 40, " EMF", 4);
    PutU32(out, 44, 0x10000);  // nVersion
    PutU16(out, 56, 2);        // nHandles: the stock slot and one brush
    PutU32(out, 72, 100);      // szlDevice
    PutU32(out, 76, 100);
    PutU32(out, 80, 100);  // szlMillimeters
    PutU32(out, 84, 100);
    std::uint32_t records = 1;
    if (fixture.redTopHalf) {
        // Brush 1: solid, COLORREF red (0x000000FF); select it; fill 0,0 .. 100,50.
        AppendRecord(out, kEmrCreateBrushIndirect, {1, 0, 0x000000FF, 0});
        AppendRecord(out, kEmrSelectObject, {1});
        AppendRecord(out, kEmrRectangle, {0, 0, 100, 50});
        records += 3;
    }
    AppendRecord(out, kEmrEof, {0, 16, 20});
    FinishEmf(out, records + 1);
    return out;
}

bool IsRed(const std::uint8_t* bgrx) {
    return bgrx[0] < 40 && bgrx[1] < 40 && bgrx[2] > 200;
}
bool IsBlack(const std::uint8_t* bgrx) {
    return (bgrx[0] | bgrx[1] | bgrx[2]) == 0;
}

TEST(GeneratedEmf, DrawsUprightBottomUpInBlueGreenRedOrder) {
    PicturePtr picture;
    ASSERT_EQ(OpenBytes(MakeEmf(), picture), PictureResult::Ok);
    EXPECT_STREQ(platform::PictureFormatName(*picture), "emf");
    EXPECT_EQ(platform::PictureWidthHimetric(*picture), 9900);
    EXPECT_EQ(platform::PictureHeightHimetric(*picture), 9900);
    Target target;
    ASSERT_EQ(RenderInto(*picture, target, 64, 48), PictureResult::Ok);
    // Row 0 is the picture's bottom: black there, red in the top half (high rows).
    EXPECT_TRUE(IsBlack(target.At(32, 4)));
    EXPECT_TRUE(IsRed(target.At(32, 40))) << int{target.At(32, 40)[2]};
    EXPECT_TRUE(IsRed(target.At(4, 40)));
    EXPECT_TRUE(IsRed(target.At(60, 40)));
}

// The frame, not the SVG's own box, fills the target: a frame twice the drawing's width puts the
// rectangle in the left half only.
TEST(GeneratedEmf, StretchesTheFrameOntoTheTarget) {
    EmfFixture fixture;
    fixture.frame[2] = 19800;
    PicturePtr picture;
    ASSERT_EQ(OpenBytes(MakeEmf(fixture), picture), PictureResult::Ok);
    Target target;
    ASSERT_EQ(RenderInto(*picture, target, 64, 48), PictureResult::Ok);
    EXPECT_TRUE(IsRed(target.At(10, 40)));
    EXPECT_TRUE(IsBlack(target.At(54, 40)));
}

TEST(GeneratedEmf, DrawsNothingWithoutRecordsOrBounds) {
    struct Case {
        const char* name;
        EmfFixture fixture;
    };
    Case cases[3];
    cases[0] = {"no drawing records", EmfFixture()};
    cases[0].fixture.redTopHalf = false;
    cases[1] = {"bounds of zero width", EmfFixture()};
    cases[1].fixture.bounds[2] = 0;
    cases[2] = {"bounds of zero height", EmfFixture()};
    cases[2].fixture.bounds[3] = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PicturePtr picture;
        ASSERT_EQ(OpenBytes(MakeEmf(c.fixture), picture), PictureResult::Ok);
        Target target;
        ASSERT_EQ(RenderInto(*picture, target, 16, 16), PictureResult::Ok);
        EXPECT_EQ(target.NonBlack(), 0u);
    }
}

struct HostileCase {
    const char* name;    // what is wrong with it
    Bytes file;          // the metafile
    PictureResult want;  // what opening it must return
};

std::vector<HostileCase> HostileEmfs() {
    std::vector<HostileCase> cases;
    const Bytes good = MakeEmf();
    const std::size_t firstRecord = 88;  // the brush record, after the header
    auto withFrame = [](std::int32_t left, std::int32_t top, std::int32_t right,
                        std::int32_t bottom) {
        EmfFixture fixture;
        fixture.frame[0] = left;
        fixture.frame[1] = top;
        fixture.frame[2] = right;
        fixture.frame[3] = bottom;
        return MakeEmf(fixture);
    };
    Bytes bytes = good;
    PutU32(bytes, firstRecord + 4, 0);
    cases.push_back({"record size 0", bytes, PictureResult::Corrupt});
    bytes = good;
    PutU32(bytes, firstRecord + 4, 4);
    cases.push_back({"record size below its own header", bytes, PictureResult::Corrupt});
    bytes = good;
    PutU32(bytes, firstRecord + 4, 26);
    cases.push_back({"record size not a multiple of 4", bytes, PictureResult::Corrupt});
    bytes = good;
    PutU32(bytes, firstRecord + 4, 0x7FFFFFF0);
    cases.push_back({"record size past the end", bytes, PictureResult::Corrupt});
    bytes = good;
    PutU32(bytes, 48, static_cast<std::uint32_t>(bytes.size() + 4));
    cases.push_back({"nBytes beyond the file", bytes, PictureResult::Corrupt});
    bytes = good;
    bytes.resize(bytes.size() - 20);
    FinishEmf(bytes, 4);
    cases.push_back({"no EMR_EOF", bytes, PictureResult::Corrupt});
    bytes = good;
    PutU32(bytes, 4, 84);
    cases.push_back({"header record under 88 bytes", bytes, PictureResult::Corrupt});
    bytes = good;
    bytes.resize(60);
    cases.push_back({"file cut inside the header", bytes, PictureResult::Corrupt});
    bytes = good;
    PutU32(bytes, firstRecord, kEmrHeader);
    cases.push_back({"a second header", bytes, PictureResult::Corrupt});
    bytes = good;
    PutU32(bytes, 60, 8);   // nDescription
    PutU32(bytes, 64, 80);  // offDescription, running past the 88-byte header
    cases.push_back({"description outside the header", bytes, PictureResult::Corrupt});
    cases.push_back({"empty frame", withFrame(0, 0, 0, 9900), PictureResult::Corrupt});
    cases.push_back({"frame of no height", withFrame(0, 500, 9900, 500), PictureResult::Corrupt});
    cases.push_back({"inverted frame", withFrame(9900, 0, 0, 9900), PictureResult::Corrupt});
    cases.push_back({"absurd frame", withFrame(0, 0, 1 << 30, 9900), PictureResult::TooLarge});
    cases.push_back({"frame spanning the whole int32 range",
                     withFrame(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX),
                     PictureResult::TooLarge});
    // More records than any drawing has: the smallest record is 8 bytes, so 8 MiB of them.
    bytes = MakeEmf();
    bytes.resize(88);
    for (std::size_t i = 0; i < (std::size_t{1} << 20); ++i) {
        AppendRecord(bytes, kEmrSaveDc, {});
    }
    AppendRecord(bytes, kEmrEof, {0, 16, 20});
    FinishEmf(bytes, (1u << 20) + 2);
    cases.push_back({"a million records", bytes, PictureResult::TooLarge});
    return cases;
}

TEST(HostileEmf, IsRefusedBeforeTheLibrarySeesIt) {
    for (const HostileCase& c : HostileEmfs()) {
        SCOPED_TRACE(c.name);
        PicturePtr picture;
        EXPECT_EQ(OpenBytes(c.file, picture), c.want);
        EXPECT_EQ(picture, nullptr);
    }
}

// ---------------------------------------------------------------------------------------------
// Generated WMF: a placeable box of 0..1000 units at 1000 units per inch, a black rectangle over
// the whole box (so libwmf's drawn extent is the box) and a red one over its top half.

constexpr std::uint16_t kMetaEof = 0x0000;
constexpr std::uint16_t kMetaSaveDc = 0x001E;
constexpr std::uint16_t kMetaSetWindowOrg = 0x020B;
constexpr std::uint16_t kMetaSetWindowExt = 0x020C;
constexpr std::uint16_t kMetaSelectObject = 0x012D;
constexpr std::uint16_t kMetaDeleteObject = 0x01F0;
constexpr std::uint16_t kMetaCreateBrushIndirect = 0x02FC;
constexpr std::uint16_t kMetaRectangle = 0x041B;
constexpr std::uint16_t kMetaPolygon = 0x0324;
constexpr std::uint16_t kMetaPolyPolygon = 0x0538;

Bytes WmfRecord(std::uint16_t function, std::initializer_list<std::int32_t> params) {
    Bytes out;
    AppendU32(out, static_cast<std::uint32_t>(3 + params.size()));
    AppendU16(out, function);
    for (std::int32_t value : params) {
        AppendU16(out, static_cast<std::uint32_t>(value) & 0xFFFF);
    }
    return out;
}

// Window 0..1000 both ways, then brush 0 solid red (COLORREF 0x000000FF, low word first).
std::vector<Bytes> RedBrushSetup() {
    return {WmfRecord(kMetaSetWindowOrg, {0, 0}), WmfRecord(kMetaSetWindowExt, {1000, 1000}),
            WmfRecord(kMetaCreateBrushIndirect, {0, 0x00FF, 0x0000, 0}),
            WmfRecord(kMetaSelectObject, {0})};
}

// A black rectangle over the whole box, so libwmf's drawn extent is the box, and a red one over
// its top half. Rectangle takes bottom, right, top, left.
std::vector<Bytes> HalvesDrawing() {
    return {WmfRecord(kMetaSetWindowOrg, {0, 0}),
            WmfRecord(kMetaSetWindowExt, {1000, 1000}),
            WmfRecord(kMetaCreateBrushIndirect, {0, 0x0000, 0x0000, 0}),
            WmfRecord(kMetaSelectObject, {0}),
            WmfRecord(kMetaRectangle, {1000, 1000, 0, 0}),
            WmfRecord(kMetaDeleteObject, {0}),
            WmfRecord(kMetaCreateBrushIndirect, {0, 0x00FF, 0x0000, 0}),
            WmfRecord(kMetaSelectObject, {0}),
            WmfRecord(kMetaRectangle, {500, 1000, 0, 0})};
}

struct WmfFixture {
    bool placeable = true;                         // put the placeable header in front
    std::int16_t box[4] = {0, 0, 1000, 1000};      // left, top, right, bottom, units
    std::uint16_t unitsPerInch = 1000;             // units
    std::vector<Bytes> drawing = HalvesDrawing();  // the records before any extra ones
    std::vector<Bytes> extraRecords;               // appended before META_EOF
    bool eof = true;                               // end with META_EOF
};

Bytes MakeWmf(const WmfFixture& fixture = WmfFixture()) {
    std::vector<Bytes> records = fixture.drawing;
    records.insert(records.end(), fixture.extraRecords.begin(), fixture.extraRecords.end());
    if (fixture.eof) {
        records.push_back(WmfRecord(kMetaEof, {}));
    }
    Bytes out;
    if (fixture.placeable) {
        AppendU32(out, 0x9AC6CDD7);
        AppendU16(out, 0);
        for (std::int16_t value : fixture.box) {
            AppendU16(out, static_cast<std::uint16_t>(value));
        }
        AppendU16(out, fixture.unitsPerInch);
        AppendU32(out, 0);
        AppendU16(out, 0);  // checksum, unchecked
    }
    std::uint32_t words = 9;
    std::uint32_t largest = 0;
    for (const Bytes& record : records) {
        words += static_cast<std::uint32_t>(record.size() / 2);
        largest = std::max(largest, static_cast<std::uint32_t>(record.size() / 2));
    }
    AppendU16(out, 1);      // memory metafile
    AppendU16(out, 9);      // header words
    AppendU16(out, 0x300);  // version
    AppendU32(out, words);
    AppendU16(out, 1);  // objects
    AppendU32(out, largest);
    AppendU16(out, 0);
    for (const Bytes& record : records) {
        out.insert(out.end(), record.begin(), record.end());
    }
    return out;
}

TEST(GeneratedWmf, DrawsUprightBottomUpInBlueGreenRedOrder) {
    PicturePtr picture;
    ASSERT_EQ(OpenBytes(MakeWmf(), picture), PictureResult::Ok);
    EXPECT_STREQ(platform::PictureFormatName(*picture), "wmf");
    EXPECT_EQ(platform::PictureWidthHimetric(*picture), 2540);
    EXPECT_EQ(platform::PictureHeightHimetric(*picture), 2540);
    Target target;
    ASSERT_EQ(RenderInto(*picture, target, 64, 48), PictureResult::Ok);
    EXPECT_TRUE(IsBlack(target.At(32, 4)));
    EXPECT_TRUE(IsRed(target.At(32, 40)));
    EXPECT_TRUE(IsRed(target.At(4, 40)));
    EXPECT_TRUE(IsRed(target.At(60, 40)));
}

// libwmf's gd device paints its image white before playing; what the file leaves untouched must
// read black, as on a zeroed bitmap. Red in the top-left quadrant and a red corner at the bottom
// right keep the drawn extent the whole box; the top-right quadrant is never drawn.
TEST(GeneratedWmf, LeavesUndrawnAreasBlack) {
    WmfFixture fixture;
    fixture.drawing = RedBrushSetup();
    fixture.drawing.push_back(WmfRecord(kMetaRectangle, {500, 500, 0, 0}));
    fixture.drawing.push_back(WmfRecord(kMetaRectangle, {1000, 1000, 900, 900}));
    PicturePtr picture;
    ASSERT_EQ(OpenBytes(MakeWmf(fixture), picture), PictureResult::Ok);
    Target target;
    ASSERT_EQ(RenderInto(*picture, target, 32, 32), PictureResult::Ok);
    EXPECT_TRUE(IsRed(target.At(8, 24)));
    EXPECT_TRUE(IsBlack(target.At(24, 24)));
    EXPECT_TRUE(IsBlack(target.At(8, 8)));
}

TEST(GeneratedWmf, SizeWithoutAPlaceableHeaderIsLibwmfsEstimate) {
    WmfFixture fixture;
    fixture.placeable = false;
    PicturePtr picture;
    ASSERT_EQ(OpenBytes(MakeWmf(fixture), picture), PictureResult::Ok);
    EXPECT_GT(platform::PictureWidthHimetric(*picture), 0);
    EXPECT_GT(platform::PictureHeightHimetric(*picture), 0);
    Target target;
    ASSERT_EQ(RenderInto(*picture, target, 16, 16), PictureResult::Ok);
    EXPECT_TRUE(IsRed(target.At(8, 12)));
    EXPECT_TRUE(IsBlack(target.At(8, 3)));
}

std::vector<HostileCase> HostileWmfs() {
    std::vector<HostileCase> cases;
    const Bytes good = MakeWmf();
    const std::size_t firstRecord = 22 + 18;
    auto withBox = [](std::int16_t left, std::int16_t top, std::int16_t right, std::int16_t bottom,
                      std::uint16_t unitsPerInch) {
        WmfFixture fixture;
        fixture.box[0] = left;
        fixture.box[1] = top;
        fixture.box[2] = right;
        fixture.box[3] = bottom;
        fixture.unitsPerInch = unitsPerInch;
        return MakeWmf(fixture);
    };
    auto withRecord = [](Bytes record) {
        WmfFixture fixture;
        fixture.extraRecords = {std::move(record)};
        return MakeWmf(fixture);
    };
    Bytes bytes = good;
    PutU32(bytes, firstRecord, 0);
    cases.push_back({"record size 0", bytes, PictureResult::Corrupt});
    bytes = good;
    PutU32(bytes, firstRecord, 2);
    cases.push_back({"record size below its own header", bytes, PictureResult::Corrupt});
    // Within the header's largest-record field, so only the end of the file stops it.
    bytes = good;
    PutU32(bytes, 22 + 12, static_cast<std::uint32_t>(bytes.size() / 2));
    PutU32(bytes, firstRecord, static_cast<std::uint32_t>((bytes.size() - firstRecord) / 2 + 1));
    cases.push_back({"record size past the end", bytes, PictureResult::Corrupt});
    WmfFixture noEof;
    noEof.eof = false;
    cases.push_back({"no META_EOF", MakeWmf(noEof), PictureResult::Corrupt});
    bytes = good;
    PutU32(bytes, 22 + 12, 0x7FFFFFFF);
    cases.push_back({"largest record beyond the file", bytes, PictureResult::Corrupt});
    bytes = good;
    PutU32(bytes, 22 + 12, 2);
    cases.push_back({"a record over the header's largest", bytes, PictureResult::Corrupt});
    cases.push_back({"polygon counting more points than it holds",
                     withRecord(WmfRecord(kMetaPolygon, {40, 0, 0, 10, 10})),
                     PictureResult::Corrupt});
    cases.push_back({"polypolygon counting more points than it holds",
                     withRecord(WmfRecord(kMetaPolyPolygon, {2, 3, 30, 0, 0, 10, 10, 0, 10})),
                     PictureResult::Corrupt});
    cases.push_back({"polypolygon counting more polygons than it holds",
                     withRecord(WmfRecord(kMetaPolyPolygon, {500, 3})), PictureResult::Corrupt});
    cases.push_back({"units per inch 0", withBox(0, 0, 1000, 1000, 0), PictureResult::Corrupt});
    cases.push_back({"empty box", withBox(0, 0, 0, 1000, 1000), PictureResult::Corrupt});
    cases.push_back({"inverted box", withBox(0, 1000, 1000, 0, 1000), PictureResult::Corrupt});
    cases.push_back(
        {"box under a HIMETRIC unit", withBox(0, 0, 1, 1, 65535), PictureResult::Corrupt});
    bytes = good;
    bytes.resize(12);
    cases.push_back({"cut inside the placeable header", bytes, PictureResult::Corrupt});
    bytes = good;
    bytes.resize(30);
    cases.push_back({"cut inside the standard header", bytes, PictureResult::Corrupt});
    bytes = good;
    PutU16(bytes, 22 + 2, 10);
    cases.push_back({"placeable key before no standard header", bytes, PictureResult::Corrupt});
    WmfFixture many;
    many.extraRecords.assign(std::size_t{1} << 20, WmfRecord(kMetaSaveDc, {}));
    cases.push_back({"a million records", MakeWmf(many), PictureResult::TooLarge});
    return cases;
}

TEST(HostileWmf, IsRefusedBeforeTheLibrarySeesIt) {
    for (const HostileCase& c : HostileWmfs()) {
        SCOPED_TRACE(c.name);
        PicturePtr picture;
        EXPECT_EQ(OpenBytes(c.file, picture), c.want);
        EXPECT_EQ(picture, nullptr);
    }
}

// A polygon whose count fits its record is not refused by the array check.
TEST(HostileWmf, PolygonsThatFitTheirRecordsStillDraw) {
    WmfFixture fixture;
    fixture.extraRecords = {WmfRecord(kMetaPolygon, {3, 0, 0, 1000, 0, 500, 500}),
                            WmfRecord(kMetaPolyPolygon, {1, 3, 0, 0, 1000, 0, 500, 500})};
    PicturePtr picture;
    ASSERT_EQ(OpenBytes(MakeWmf(fixture), picture), PictureResult::Ok);
    Target target;
    EXPECT_EQ(RenderInto(*picture, target, 16, 16), PictureResult::Ok);
}

}  // namespace
