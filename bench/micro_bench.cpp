// Micro-benchmarks of each stage a picture passes on its way to the screen, built from the
// program's own libraries: the picture decoder per format, the stretch, the TGA reader, the
// upload, loading the whole picture set, and one frame of the scene under Mesa.
//
// Needs a display (xvfb-run) and the pictures of make_pictures.sh; --data=DIR names their folder
// (default: bench/data of the source tree). The GL context is the program's own: the shell's
// window procedure on a hidden 540 × 350 window, which loads the nine large pictures at creation
// just as varnolt does, so the frame benchmarks draw the scene with nine 2048 × 2048 textures.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/picture/picture.h"
#include "platform/picture/raster.h"
#include "platform/window.h"
#include "render/render_frame.h"
#include "shell/app.h"
#include "textures/picture_set.h"
#include "textures/texture_loader.h"
#include "textures/tga_reader.h"

#ifndef VARNOLT_BENCH_DATA_DIR
#define VARNOLT_BENCH_DATA_DIR "bench/data"
#endif

namespace {

std::string g_dataDir = VARNOLT_BENCH_DATA_DIR;

std::string DataPath(const std::string& name) { return g_dataDir + "/" + name; }

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

// --- The picture decoder: open the file and draw it at a size, as LoadPictureTexture does ---

// file, width, height: the program's texture size for the file, or its full size.
void BM_RenderPicture(benchmark::State& state, const char* file, int width, int height) {
    const std::string path = DataPath(file);
    std::vector<std::uint8_t> target(static_cast<std::size_t>(width) * height * 4);
    for (auto _ : state) {
        platform::PicturePtr picture;
        if (platform::OleLoadPicturePath(path.c_str(), picture) != platform::PictureResult::Ok ||
            platform::RenderPicture(*picture, target.data(), width, height) !=
                platform::PictureResult::Ok) {
            state.SkipWithError(("cannot decode " + path).c_str());
            return;
        }
        benchmark::DoNotOptimize(target.data());
    }
    state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
}
BENCHMARK_CAPTURE(BM_RenderPicture, jpeg_large_texture, "formats/large.jpg", 2048, 2048)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_RenderPicture, jpeg_large_full, "formats/large.jpg", 4000, 3000)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_RenderPicture, jpeg_grain_texture, "formats/grain.jpg", 2048, 2048)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_RenderPicture, jpeg_grain_full, "formats/grain.jpg", 4000, 3000)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_RenderPicture, jpeg_small_texture, "formats/small.jpg", 512, 256)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_RenderPicture, jpeg_small_full, "formats/small.jpg", 800, 600)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_RenderPicture, bmp_texture, "formats/picture.bmp", 2048, 2048)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_RenderPicture, png_texture, "formats/picture.png", 2048, 2048)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_RenderPicture, gif_texture, "formats/picture.gif", 2048, 2048)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// --- libjpeg-turbo alone, for reference: what the decode itself costs at each DCT scale ---

// Decodes the file at 1/denominator of its size. With keep, the whole image is kept (RGB, rows
// top-down) and returned; without, every row goes to one reused row buffer, as djpeg writes
// rows out one by one, so only the decode itself is timed.
std::vector<std::uint8_t> DecodeWithLibjpeg(const std::vector<std::uint8_t>& file, int denominator,
                                            bool keep, int& width, int& height) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    info.scale_num = 1;
    info.scale_denom = static_cast<unsigned>(denominator);
    jpeg_start_decompress(&info);
    width = static_cast<int>(info.output_width);
    height = static_cast<int>(info.output_height);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    std::vector<std::uint8_t> pixels(rowBytes * (keep ? static_cast<std::size_t>(height) : 1));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + (keep ? info.output_scanline * rowBytes : 0);
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return pixels;
}

void BM_LibjpegDecode(benchmark::State& state, const char* file) {
    const std::vector<std::uint8_t> bytes = ReadFile(DataPath(file));
    if (bytes.empty()) {
        state.SkipWithError("no picture");
        return;
    }
    const int denominator = static_cast<int>(state.range(0));
    int width = 0;
    int height = 0;
    for (auto _ : state) {
        std::vector<std::uint8_t> row = DecodeWithLibjpeg(bytes, denominator, false, width, height);
        benchmark::DoNotOptimize(row.data());
    }
    state.SetLabel("1/" + std::to_string(denominator) + " -> " + std::to_string(width) + "x" +
                   std::to_string(height) + ", rows only");
}
BENCHMARK_CAPTURE(BM_LibjpegDecode, large, "formats/large.jpg")
    ->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_LibjpegDecode, grain, "formats/grain.jpg")
    ->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- The stretch to the texture size (platform::StretchRaster), on decoded photo pixels ---

void BM_StretchRaster(benchmark::State& state) {
    const int denominator = static_cast<int>(state.range(0));
    const int width = static_cast<int>(state.range(1));
    const int height = static_cast<int>(state.range(2));
    int sourceWidth = 0;
    int sourceHeight = 0;
    const std::vector<std::uint8_t> source = DecodeWithLibjpeg(
        ReadFile(DataPath("formats/grain.jpg")), denominator, true, sourceWidth, sourceHeight);
    const platform::RasterImage image{source.data(), sourceWidth, sourceHeight,
                                      static_cast<std::size_t>(sourceWidth) * 3, 3};
    std::vector<std::uint8_t> target(static_cast<std::size_t>(width) * height * 4);
    for (auto _ : state) {
        if (platform::StretchRaster(image, target.data(), width, height) !=
            platform::PictureResult::Ok) {
            state.SkipWithError("stretch failed");
            return;
        }
        benchmark::DoNotOptimize(target.data());
    }
    state.SetLabel(std::to_string(sourceWidth) + "x" + std::to_string(sourceHeight) + " -> " +
                   std::to_string(width) + "x" + std::to_string(height));
}
// A 12 MP picture at full size, and the half-scale decode the program makes of it.
BENCHMARK(BM_StretchRaster)
    ->Args({1, 2048, 2048})
    ->Args({2, 2048, 2048})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// A 16 MiB drawing target in fresh pages, as a new buffer per picture gets it: what the page
// faults alone cost before a single pixel is drawn.
void BM_FreshTargetPages(benchmark::State& state) {
    const std::size_t bytes = std::size_t{2048} * 2048 * 4;
    for (auto _ : state) {
        void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            state.SkipWithError("mmap failed");
            return;
        }
        auto* bytesOf = static_cast<volatile std::uint8_t*>(memory);
        for (std::size_t i = 0; i < bytes; i += 4096) bytesOf[i] = 1;
        munmap(memory, bytes);
    }
    state.SetLabel("16 MiB, one write per page");
}
BENCHMARK(BM_FreshTargetPages)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- The TGA reader, from memory: image type 2 (plain) and 10 (run-length encoded) ---

void BM_DecodeTga(benchmark::State& state, const char* file) {
    const std::vector<std::uint8_t> bytes = ReadFile(DataPath(file));
    for (auto _ : state) {
        textures::TgaImage image;
        if (textures::DecodeTgaFromMemory(bytes.data(), bytes.size(), image) !=
            textures::TgaResult::Ok) {
            state.SkipWithError(("cannot decode " + std::string(file)).c_str());
            return;
        }
        benchmark::DoNotOptimize(image.pixels.get());
    }
    state.SetLabel("2048x2048x24");
}
BENCHMARK_CAPTURE(BM_DecodeTga, type2_plain, "formats/picture-raw.tga")
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_DecodeTga, type10_rle, "formats/picture-rle.tga")
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// --- GL: everything below runs in the program's context on its hidden window ---

bool g_glReady = false;

// Creates the program's window (hidden) the way RunVarnolt does, with the large pictures in the
// current directory, so WM_CREATE makes the context and loads the picture set.
bool MakeProgramWindow() {
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr) return false;
    if (chdir(DataPath("large").c_str()) != 0) return false;
    platform::UseBackend(platform::Backend::Sdl);
    platform::WNDCLASS windowClass;
    windowClass.className = kClassName;
    windowClass.windowProc = WindowProcedure;
    const bool made = platform::RegisterClassA(windowClass) &&
                      platform::CreateWindowA(kClassName, kWindowTitle, 0, 0, kClientWidth,
                                              kClientHeight) != nullptr &&
                      g_renderContext != nullptr;
    const bool back = chdir(previous) == 0;
    return made && back;
}

#define NEED_GL(state)                                  \
    if (!g_glReady) {                                   \
        (state).SkipWithError("no GL context (display?)"); \
        return;                                         \
    }

// The upload as the program makes it: a new texture name and glTexImage2D of 2048² RGBA with the
// loader's settings; glFinish so the driver's copy is inside the timing.
void BM_UploadNewTexture(benchmark::State& state) {
    NEED_GL(state);
    TextureLoader loader;
    std::vector<std::uint8_t> pixels(std::size_t{2048} * 2048 * 4, 0x80);
    TextureRecord record;
    record.width = 2048;
    record.height = 2048;
    record.format = GL_RGBA;
    record.bitsPerPixel = 32;
    for (auto _ : state) {
        glGenTextures(1, &record.name);
        loader.UploadTexture(record, pixels.data());
        glFinish();
        state.PauseTiming();
        loader.FreeTexture(record);
        glFinish();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(pixels.size()));
}
BENCHMARK(BM_UploadNewTexture)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same upload into a texture that already has its storage.
void BM_UploadSameTexture(benchmark::State& state) {
    NEED_GL(state);
    TextureLoader loader;
    std::vector<std::uint8_t> pixels(std::size_t{2048} * 2048 * 4, 0x80);
    TextureRecord record;
    record.width = 2048;
    record.height = 2048;
    record.format = GL_RGBA;
    glGenTextures(1, &record.name);
    for (auto _ : state) {
        loader.UploadTexture(record, pixels.data());
        glFinish();
    }
    loader.FreeTexture(record);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(pixels.size()));
}
BENCHMARK(BM_UploadSameTexture)->Unit(benchmark::kMillisecond)->UseRealTime();

// The TGA path whole: read the file, decode, upload (LoadTgaTexture).
void BM_LoadTgaTexture(benchmark::State& state, const char* file) {
    NEED_GL(state);
    TextureLoader loader;
    loader.SetHighQuality(false);
    const std::string path = DataPath(file);
    for (auto _ : state) {
        TextureRecord record;
        if (!loader.LoadTgaTexture(path, record)) {
            state.SkipWithError("cannot load the TGA file");
            return;
        }
        glFinish();
        state.PauseTiming();
        loader.FreeTexture(record);
        state.ResumeTiming();
    }
}
BENCHMARK_CAPTURE(BM_LoadTgaTexture, type2_plain, "formats/picture-raw.tga")
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_LoadTgaTexture, type10_rle, "formats/picture-rle.tga")
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// One picture the whole way, LoadPictureTexture: open, decode, stretch, key, upload. In this
// long-running process freed buffers and texture memory are reused; the start-up trace shows
// the same stages in a fresh process, where every buffer is new memory.
void BM_LoadPictureTexture(benchmark::State& state, const char* file) {
    NEED_GL(state);
    TextureLoader loader;
    loader.SetHighQuality(false);
    const std::string path = DataPath(file);
    for (auto _ : state) {
        TextureRecord record;
        if (!loader.LoadPictureTexture(path, record)) {
            state.SkipWithError("cannot load the picture");
            return;
        }
        glFinish();
        state.PauseTiming();
        loader.FreeTexture(record);
        state.ResumeTiming();
    }
}
BENCHMARK_CAPTURE(BM_LoadPictureTexture, jpeg_large, "formats/large.jpg")
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_LoadPictureTexture, jpeg_grain, "formats/grain.jpg")
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole picture set (LoadPictureSet, nine pictures) from one of the benchmark folders, after
// releasing the textures of the previous load; the frame benchmarks below see the large set.
void BM_LoadPictureSet(benchmark::State& state, const char* folder) {
    NEED_GL(state);
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr || chdir(DataPath(folder).c_str()) != 0) {
        state.SkipWithError("no picture folder");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        ReleasePictureSet();
        glFinish();
        state.ResumeTiming();
        LoadPictureSet();
        glFinish();
    }
    if (std::string(folder) != "large") {
        ReleasePictureSet();
        if (chdir(DataPath("large").c_str()) == 0) LoadPictureSet();
    }
    if (chdir(previous) != 0) state.SkipWithError("cannot go back");
}
BENCHMARK_CAPTURE(BM_LoadPictureSet, large, "large")
    ->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_LoadPictureSet, grain, "grain")
    ->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_LoadPictureSet, small, "small")
    ->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

// One frame of the scene without the pause and the present, finished by the rasteriser.
void BM_DrawScene(benchmark::State& state) {
    NEED_GL(state);
    for (auto _ : state) {
        DrawScene();
        glFinish();
    }
}
BENCHMARK(BM_DrawScene)->Unit(benchmark::kMillisecond)->UseRealTime();

// One whole frame as the loop renders it: the 2 ms pause, the scene and the present.
void BM_RenderFrame(benchmark::State& state) {
    NEED_GL(state);
    for (auto _ : state) {
        RenderFrame(g_deviceContext);
    }
}
BENCHMARK(BM_RenderFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--data=", 0) == 0) {
            g_dataDir = arg.substr(7);
        } else {
            rest.push_back(argv[i]);
        }
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) return 1;
    g_glReady = MakeProgramWindow();
    if (!g_glReady) {
        std::fprintf(stderr, "micro_bench: no GL context; the GL benchmarks are skipped\n");
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
