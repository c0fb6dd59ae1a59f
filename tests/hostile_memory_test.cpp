// The whole picture set made of hostile files: nine small files that each declare as much as
// their format lets through (or far more), loaded by LoadPictureSet through the texture loader
// with a real GL context. Nothing may crash, every refused picture stays untextured, and the
// process's peak resident size is reported (test property peak_rss_kib) so the bound can be
// stated; the ctest entry hostile.memory_limited runs it under an address-space limit.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hostile_fixtures.h"
#include "support/test_support.h"
#include "textures/picture_set.h"
#include "textures_fixtures.h"

namespace {

using hostile_test::Bytes;

// The process's largest address-space size so far, from /proc, in KiB; 0 when unreadable.
long PeakAddressSpaceKib() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return 0;
    }
    long peak = 0;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmPeak: %ld", &peak) == 1) {
            break;
        }
    }
    std::fclose(status);
    return peak;
}

// The process's largest resident size so far, in KiB.
long PeakRssKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The nine pictures, in set order.
std::vector<Bytes> NineHostileFiles() {
    using namespace hostile_test;
    Bytes bmp = textures_test::MakeSolidBmp(1, 1, {});
    SetLe32(bmp, 18, 8192);  // exactly the pixel budget, and no pixels behind it
    SetLe32(bmp, 22, 8192);
    Bytes jpeg = MakeJpeg(8192, 8192);
    jpeg.resize(MakeJpeg(8, 8).size() - 2);
    jpeg.insert(jpeg.end(), {0xFF, 0xD9});
    Bytes ico = MakeIco(1, 1);
    SetLe32(ico, 22 + 4, 65535);
    SetLe32(ico, 22 + 8, 2 * 65535u);
    return {
        bmp,
        MakePng(8192, 8192, 1),
        MakeGif(8192, 8192, 65535, 65535, 64),
        jpeg,
        MakeProgressiveJpeg(8192, 8192, 20000, false),
        ico,
        MakeEmf({0, 0, 65535, 65535}, {0, 0, 1 << 24, 1 << 24}),
        MakeWmf({-32768, -32768, 32767, 32767}, 1),
        MakeGif(65535, 65535, 1, 1, 1),
    };
}

TEST(HostilePictureSet, NineHostilePicturesLoadWithoutHarm) {
    ASSERT_TRUE(testing_support::EnsureGlContext());
    textures_test::ScratchDir dir;
    const std::vector<Bytes> files = NineHostileFiles();
    for (std::size_t i = 0; i < files.size(); ++i) {
        textures_test::WriteBytes(dir.File("picture" + std::to_string(i + 1) + ".jpg"), files[i]);
    }
    const long before = PeakRssKib();
    {
        hostile_test::AlarmGuard guard(60);
        textures_test::CurrentDirGuard inDir(dir.path());
        testing::internal::CaptureStderr();
        LoadPictureSet();
        testing::internal::GetCapturedStderr();
    }
    const long after = PeakRssKib();
    std::printf(
        "peak resident size: %ld KiB before the set, %ld KiB after; peak address space "
        "%ld KiB\n",
        before, after, PeakAddressSpaceKib());
    RecordProperty("peak_rss_kib", std::to_string(after));

    // Refused at the header: the ICO entry and the GIF screen beyond the budget.
    EXPECT_EQ(g_pictureSet.records[5].name, 0u);
    EXPECT_EQ(g_pictureSet.records[8].name, 0u);
    // The rest open and become textures no larger than the budget.
    for (int i : {0, 1, 2, 3, 4, 6, 7}) {
        SCOPED_TRACE(i + 1);
        const TextureRecord& record = g_pictureSet.records[i];
        EXPECT_NE(record.name, 0u);
        EXPECT_LE(
            static_cast<std::uint64_t>(record.width) * static_cast<std::uint64_t>(record.height),
            platform::kMaxPicturePixels);
    }
    ReleasePictureSet();
    for (TextureRecord& record : g_pictureSet.records) {
        record = TextureRecord{};
    }
}

}  // namespace
