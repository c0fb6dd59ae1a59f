// The stretch every raster format draws through: a separable resampler. Each target row is first
// formed from the source rows it covers (the vertical pass: whole source rows in 16-bit integer
// lanes, exact), then each target pixel from the columns of that row it covers (the horizontal
// pass: one pixel's channels as four single-precision lanes, rounded once at the end). Along an
// axis that shrinks, a target pixel is the area average of the source pixels under it; along one
// that grows, the bilinear blend of the two nearest source pixel centres. The weights come from
// integer arithmetic once per call, so the inner loops are multiply-adds only.
#include "platform/picture/raster.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform {
namespace {

// Weights along one axis sum to exactly 1 << bits for every target pixel, so a flat colour stays
// exactly flat. Row weights have 8 bits so the vertical pass can accumulate in 16-bit lanes
// (255 × 256 still fits); column weights have 16 bits and are applied in single precision.
constexpr int kRowWeightBits = 8;
constexpr int kColumnWeightBits = 16;

// Source values the vertical pass forms at a time, held in registers across all its rows.
constexpr std::size_t kBlockValues = 16;

// Scratch larger than this is released after the call instead of kept for the next picture.
constexpr std::size_t kKeptScratchBytes = std::size_t{8} << 20;

// Four lanes of single precision: one pixel's channels in the horizontal pass.
using Float4 = float __attribute__((vector_size(16)));
using Int4 = std::int32_t __attribute__((vector_size(16)));

// The source pixels one target pixel is made of along one axis.
struct AxisTap {
    std::uint32_t first;    // index of the first source pixel
    std::uint32_t count;    // number of source pixels, at least 1
    std::uint32_t weights;  // index of the first pixel's weight in the axis's weight table
};

// A buffer that grows to the largest request and is reused by later calls on the same thread;
// its contents are not initialised.
template <typename T>
struct ScratchArray {
    std::unique_ptr<T[]> data;  // owned storage, capacity elements
    std::size_t capacity = 0;   // elements

    // The storage for at least count elements, or nullptr when it cannot be allocated.
    T* Reserve(std::size_t count) {
        if (count > capacity) {
            data.reset(new (std::nothrow) T[count]);
            capacity = data ? count : 0;
        }
        return data.get();
    }
    std::size_t Bytes() const { return capacity * sizeof(T); }
    void Release() {
        data.reset();
        capacity = 0;
    }
};

struct Scratch {
    ScratchArray<AxisTap> columnTaps;           // one per target column
    ScratchArray<std::uint32_t> columnWeights;  // integer weights the column taps index
    ScratchArray<std::uint32_t> columnFirsts;   // first source column of each target column
    ScratchArray<Float4> columnFactors;         // the weights of each column, evened and scaled
    ScratchArray<AxisTap> rowTaps;              // one per target row
    ScratchArray<std::uint16_t> rowWeights;     // weights the row taps index
    ScratchArray<float> row;                    // one target row's worth of source values

    std::size_t Bytes() const {
        return columnTaps.Bytes() + columnWeights.Bytes() + columnFirsts.Bytes() +
               columnFactors.Bytes() + rowTaps.Bytes() + rowWeights.Bytes() + row.Bytes();
    }
    void Release() {
        columnTaps.Release();
        columnWeights.Release();
        columnFirsts.Release();
        columnFactors.Release();
        rowTaps.Release();
        rowWeights.Release();
        row.Release();
    }
};

thread_local Scratch tScratch;

// Fills one tap per target pixel along an axis of sourceSize pixels drawn at targetSize, with
// weights summing to 1 << bits for each; weights needs room for sourceSize + 2 × targetSize.
template <typename Weight>
void BuildAxis(int sourceSize, int targetSize, int bits, AxisTap* taps, Weight* weights) {
    const std::uint64_t n = static_cast<std::uint64_t>(sourceSize);
    const std::uint64_t m = static_cast<std::uint64_t>(targetSize);
    const std::uint64_t one = std::uint64_t{1} << bits;
    const Weight whole = static_cast<Weight>(one);
    std::uint32_t used = 0;
    for (std::uint64_t x = 0; x < m; ++x) {
        AxisTap& tap = taps[x];
        tap.weights = used;
        if (n == m) {
            tap.first = static_cast<std::uint32_t>(x);
            tap.count = 1;
            weights[used++] = whole;
        } else if (m < n) {
            // Area average. Measured in units of 1/m of a source pixel, target pixel x covers
            // [x·n, x·n + n) and source pixel i covers [i·m, i·m + m). Each weight is the
            // difference of the rounded covered fraction at its two ends, so rounding never
            // accumulates and the weights add up to exactly `one`.
            const std::uint64_t begin = x * n;
            const std::uint64_t end = begin + n;
            const std::uint64_t first = begin / m;
            const std::uint64_t last = (end - 1) / m;
            tap.first = static_cast<std::uint32_t>(first);
            tap.count = static_cast<std::uint32_t>(last - first + 1);
            std::uint64_t previous = 0;
            for (std::uint64_t i = first; i <= last; ++i) {
                const std::uint64_t covered = std::min((i + 1) * m, end) - begin;
                const std::uint64_t cumulative = (covered * one + n / 2) / n;
                weights[used++] = static_cast<Weight>(cumulative - previous);
                previous = cumulative;
            }
        } else {
            // Bilinear. The centre of target pixel x lies at (x + 0.5)·n/m − 0.5 source pixels,
            // that is ((2x + 1)·n − m) / 2m, clamped to the first and last source centres.
            const std::int64_t numerator =
                static_cast<std::int64_t>((2 * x + 1) * n) - static_cast<std::int64_t>(m);
            std::uint64_t left = 0;
            std::uint64_t fraction = 0;
            if (numerator > 0) {
                const std::uint64_t positive = static_cast<std::uint64_t>(numerator);
                left = positive / (2 * m);
                fraction = (positive % (2 * m)) * one / (2 * m);
            }
            if (left >= n - 1) {
                left = n - 1;
                fraction = 0;
            }
            tap.first = static_cast<std::uint32_t>(left);
            if (fraction == 0) {
                tap.count = 1;
                weights[used++] = whole;
            } else {
                tap.count = 2;
                weights[used++] = static_cast<Weight>(one - fraction);
                weights[used++] = static_cast<Weight>(fraction);
            }
        }
    }
}

// Weighted sum of the rows the tap names, for values [start, start + Count) of each row, as
// value × 2^kRowWeightBits. Count is a constant so the compiler keeps the sums in vector
// registers; Taps is the number of rows when it is a constant, 0 when it is taps.
template <std::size_t Count, int Taps>
void VerticalBlock(const std::uint8_t* first, std::size_t rowBytes, const std::uint16_t* factors,
                   int taps, std::size_t start, float* __restrict out) {
    const int count = Taps == 0 ? taps : Taps;
    std::uint16_t sum[Count];
    const std::uint8_t* row = first + start;
    for (std::size_t j = 0; j < Count; ++j) {
        sum[j] = static_cast<std::uint16_t>(factors[0] * row[j]);
    }
    for (int k = 1; k < count; ++k) {
        row += rowBytes;
        for (std::size_t j = 0; j < Count; ++j) {
            sum[j] = static_cast<std::uint16_t>(sum[j] + factors[k] * row[j]);
        }
    }
    for (std::size_t j = 0; j < Count; ++j) {
        out[start + j] = static_cast<float>(sum[j]);
    }
}

template <int Taps>
void VerticalPassOf(const std::uint8_t* first, std::size_t rowBytes, const std::uint16_t* factors,
                    int taps, std::size_t values, float* out) {
    std::size_t start = 0;
    for (; start + kBlockValues <= values; start += kBlockValues) {
        VerticalBlock<kBlockValues, Taps>(first, rowBytes, factors, taps, start, out);
    }
    for (; start < values; ++start) {
        VerticalBlock<1, Taps>(first, rowBytes, factors, taps, start, out);
    }
}

// Forms one target row's worth of source values (every byte of every source pixel) from the
// source rows the tap names. The usual row counts get a loop of their own, with the weights
// held in registers.
void VerticalPass(const RasterImage& image, const AxisTap& tap, const std::uint16_t* factors,
                  float* out) {
    const std::size_t values =
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.pixelBytes);
    const std::uint8_t* first = image.pixels + static_cast<std::size_t>(tap.first) * image.rowBytes;
    const int taps = static_cast<int>(tap.count);
    switch (taps) {
        case 1:
            VerticalPassOf<1>(first, image.rowBytes, factors, taps, values, out);
            break;
        case 2:
            VerticalPassOf<2>(first, image.rowBytes, factors, taps, values, out);
            break;
        case 3:
            VerticalPassOf<3>(first, image.rowBytes, factors, taps, values, out);
            break;
        default:
            VerticalPassOf<0>(first, image.rowBytes, factors, taps, values, out);
            break;
    }
}

// Writes one pixel's red, green and blue lanes (already rounded by the half added to them, and
// within 0..255) as blue, green, red, 0.
inline void StoreBgrx(Float4 sum, std::uint8_t* out) {
#if defined(__SSE2__)
    // Truncate, then narrow with saturation: two packs instead of four lane extractions.
    const __m128i lanes = _mm_cvttps_epi32(__builtin_shufflevector(sum, sum, 2, 1, 0, 3));
    const __m128i words = _mm_packs_epi32(lanes, lanes);
    const std::int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
    std::memcpy(out, &bytes, sizeof bytes);
#else
    const Int4 lanes = __builtin_convertvector(sum, Int4);
    out[0] = static_cast<std::uint8_t>(lanes[2]);
    out[1] = static_cast<std::uint8_t>(lanes[1]);
    out[2] = static_cast<std::uint8_t>(lanes[0]);
    out[3] = 0;
#endif
}

// Forms one target row (BGRX) from the vertically combined source row. Every column has the
// same number of taps (Taps, or taps when Taps is 0), so the loop over them is a constant one
// the compiler unrolls and the branch predictor never misses. Channels is the source's bytes
// per pixel; four lanes are read from each, so the row needs one value of padding at its end,
// and the factors' fourth lane is 0 so the padding never counts.
template <int Channels, int Taps>
void HorizontalPass(const float* __restrict row, const std::uint32_t* firsts, const Float4* factors,
                    int taps, int width, std::uint8_t* __restrict out) {
    const int count = Taps == 0 ? taps : Taps;
    for (int x = 0; x < width; ++x) {
        const float* in = row + static_cast<std::size_t>(firsts[x]) * Channels;
        // Starting at one half makes the truncating conversion round to nearest.
        Float4 sum = {0.5f, 0.5f, 0.5f, 0.0f};
        for (int k = 0; k < count; ++k) {
            Float4 pixel;
            std::memcpy(&pixel, in + k * Channels, sizeof pixel);
            sum += pixel * factors[k];
        }
        StoreBgrx(sum, out);
        factors += count;
        out += 4;
    }
}

template <int Channels>
void HorizontalPassFor(const float* row, const std::uint32_t* firsts, const Float4* factors,
                       int taps, int width, std::uint8_t* out) {
    switch (taps) {
        case 1:
            HorizontalPass<Channels, 1>(row, firsts, factors, taps, width, out);
            break;
        case 2:
            HorizontalPass<Channels, 2>(row, firsts, factors, taps, width, out);
            break;
        case 3:
            HorizontalPass<Channels, 3>(row, firsts, factors, taps, width, out);
            break;
        case 4:
            HorizontalPass<Channels, 4>(row, firsts, factors, taps, width, out);
            break;
        default:
            HorizontalPass<Channels, 0>(row, firsts, factors, taps, width, out);
            break;
    }
}

// The most taps any column has.
std::uint32_t MostTaps(const AxisTap* taps, int width) {
    std::uint32_t most = 1;
    for (int x = 0; x < width; ++x) {
        most = std::max(most, taps[x].count);
    }
    return most;
}

// Gives every column `most` taps: a column with fewer gets zero weights after its own, or before
// them when that would run past the last source pixel. Fills firsts (one per column) and factors
// (most per column, scaled to take the vertical pass's value × 2^kRowWeightBits back to 0..255).
void EvenColumns(const AxisTap* taps, const std::uint32_t* weights, int sourceWidth, int width,
                 std::uint32_t most, std::uint32_t* firsts, Float4* factors) {
    const float scale = 1.0f / static_cast<float>(1 << (kColumnWeightBits + kRowWeightBits));
    const std::uint32_t lastStart = static_cast<std::uint32_t>(sourceWidth) - most;
    for (int x = 0; x < width; ++x) {
        const AxisTap& tap = taps[x];
        const std::uint32_t first = std::min(tap.first, lastStart);
        const std::uint32_t lead = tap.first - first;
        firsts[x] = first;
        Float4* out = factors + static_cast<std::size_t>(x) * most;
        for (std::uint32_t k = 0; k < most; ++k) {
            float factor = 0.0f;
            if (k >= lead && k - lead < tap.count) {
                factor = static_cast<float>(weights[tap.weights + k - lead]) * scale;
            }
            out[k] = Float4{factor, factor, factor, 0.0f};
        }
    }
}

}  // namespace

PictureResult StretchRaster(const RasterImage& image, std::uint8_t* target, int width, int height) {
    if (image.pixels == nullptr || image.width <= 0 || image.height <= 0 ||
        (image.pixelBytes != 3 && image.pixelBytes != 4) ||
        image.rowBytes <
            static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.pixelBytes)) {
        return PictureResult::Corrupt;
    }
    if (image.width > kMaxRasterSide || image.height > kMaxRasterSide) {
        return PictureResult::TooLarge;
    }
    if (target == nullptr || width <= 0 || height <= 0 || width > kMaxRasterSide ||
        height > kMaxRasterSide) {
        return PictureResult::TooLarge;
    }
    const std::size_t sourceWidth = static_cast<std::size_t>(image.width);
    const std::size_t sourceHeight = static_cast<std::size_t>(image.height);
    const std::size_t targetWidth = static_cast<std::size_t>(width);
    const std::size_t targetHeight = static_cast<std::size_t>(height);

    const std::size_t values = sourceWidth * static_cast<std::size_t>(image.pixelBytes);
    Scratch& scratch = tScratch;
    AxisTap* columnTaps = scratch.columnTaps.Reserve(targetWidth);
    std::uint32_t* columnWeights = scratch.columnWeights.Reserve(sourceWidth + 2 * targetWidth);
    std::uint32_t* columnFirsts = scratch.columnFirsts.Reserve(targetWidth);
    AxisTap* rowTaps = scratch.rowTaps.Reserve(targetHeight);
    std::uint16_t* rowWeights = scratch.rowWeights.Reserve(sourceHeight + 2 * targetHeight);
    float* row = scratch.row.Reserve(values + 1);
    if (columnTaps == nullptr || columnWeights == nullptr || columnFirsts == nullptr ||
        rowTaps == nullptr || rowWeights == nullptr || row == nullptr) {
        scratch.Release();
        return PictureResult::OutOfMemory;
    }
    BuildAxis(image.width, width, kColumnWeightBits, columnTaps, columnWeights);
    const std::uint32_t taps = MostTaps(columnTaps, width);
    Float4* columnFactors = scratch.columnFactors.Reserve(targetWidth * taps);
    if (columnFactors == nullptr) {
        scratch.Release();
        return PictureResult::OutOfMemory;
    }
    EvenColumns(columnTaps, columnWeights, image.width, width, taps, columnFirsts, columnFactors);
    BuildAxis(image.height, height, kRowWeightBits, rowTaps, rowWeights);
    row[values] = 0.0f;

    const std::size_t targetRowBytes = targetWidth * 4;
    for (std::size_t y = 0; y < targetHeight; ++y) {
        const AxisTap& tap = rowTaps[y];
        VerticalPass(image, tap, rowWeights + tap.weights, row);
        // Target rows run bottom-up: the picture's top row is the last one in memory.
        std::uint8_t* out = target + (targetHeight - 1 - y) * targetRowBytes;
        if (image.pixelBytes == 3) {
            HorizontalPassFor<3>(row, columnFirsts, columnFactors, static_cast<int>(taps), width,
                                 out);
        } else {
            HorizontalPassFor<4>(row, columnFirsts, columnFactors, static_cast<int>(taps), width,
                                 out);
        }
    }
    if (scratch.Bytes() > kKeptScratchBytes) {
        scratch.Release();
    }
    return PictureResult::Ok;
}

}  // namespace platform
