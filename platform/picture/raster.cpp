// The stretch every raster format draws through: a separable resampler. Each target row is first
// formed from the source rows it covers (the vertical pass: whole source rows at a time, in
// integer vector lanes), then each target pixel from the columns of that row it covers (the
// horizontal pass: one pixel's channels as four single-precision lanes, rounded once at the
// end). Along an axis that shrinks, a target pixel is the area average of the source pixels under
// it; along one that grows, the bilinear blend of the two nearest source pixel centres. The
// weights come from integer arithmetic once per call, so the inner loops are multiply-adds only,
// and the scratch memory is reused from call to call.
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

// Weights along one axis sum to exactly 1 << kWeightBits for every target pixel, so a flat colour
// stays flat. Apart from a pixel taken whole (weight 1 << 16), every weight fits 16 bits: a
// partly covered pixel has less, and sides are at most kMaxRasterSide.
constexpr int kWeightBits = 16;

// The vertical pass leaves value × 2^kIntermediateBits.
constexpr int kIntermediateBits = 8;

// Source values the vertical pass forms at a time, held in registers across all its rows.
constexpr std::size_t kBlockValues = 16;

// Scratch larger than this is released after the call instead of kept for the next picture.
constexpr std::size_t kKeptScratchBytes = std::size_t{8} << 20;

// A decode buffer larger than this (a 4000 × 3000 photo at full scale is 36 MB) is released
// after its picture instead of kept for the next one.
constexpr std::size_t kKeptDecodeBytes = std::size_t{64} << 20;

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
    ScratchArray<std::uint32_t> rowWeights;     // weights the row taps index
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
thread_local ScratchArray<std::uint8_t> tDecodeBuffer;

// Fills one tap per target pixel along an axis of sourceSize pixels drawn at targetSize, with
// weights summing to 1 << kWeightBits for each; weights needs room for sourceSize + 2 × targetSize.
void BuildAxis(int sourceSize, int targetSize, AxisTap* taps, std::uint32_t* weights) {
    const std::uint64_t n = static_cast<std::uint64_t>(sourceSize);
    const std::uint64_t m = static_cast<std::uint64_t>(targetSize);
    const std::uint64_t one = std::uint64_t{1} << kWeightBits;
    const std::uint32_t whole = static_cast<std::uint32_t>(one);
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
                weights[used++] = static_cast<std::uint32_t>(cumulative - previous);
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
                weights[used++] = static_cast<std::uint32_t>(one - fraction);
                weights[used++] = static_cast<std::uint32_t>(fraction);
            }
        }
    }
}

// Row counts the vertical pass has a loop of its own for, besides 1, 2 and 3.
constexpr int kShortTaps = 0;  // 4 to kMostShortTaps rows, in 16-bit lanes
constexpr int kLongTaps = -1;  // more, in 32-bit lanes
constexpr int kMostShortTaps = 16;

// The weighted sum of the rows the tap names, for values [start, start + Count) of each row, as
// value × 2^kIntermediateBits. Count is a constant so the compiler keeps the sums in vector
// registers. Taps is the number of rows when it is a positive constant (then taps equals it):
//  - 1: the row taken whole.
//  - 2 to kMostShortTaps (every row of a picture drawn at more than 1/15 of its height):
//    value × 256 times the 16-bit weight, high half, in 16-bit lanes. Each product loses under
//    1/256 of a level, so the sum loses under 1/16 of one, and a flat colour still rounds to
//    itself.
//  - more (kLongTaps): exact sums in 32-bit lanes; there the losses would add up.
template <std::size_t Count, int Taps>
void VerticalBlock(const std::uint8_t* first, std::size_t rowBytes, const std::uint32_t* weights,
                   int taps, std::size_t start, float* __restrict out) {
    const std::uint8_t* row = first + start;
    const int count = Taps > 0 ? Taps : taps;
    if constexpr (Taps == 1) {
        for (std::size_t j = 0; j < Count; ++j) {
            out[start + j] = static_cast<float>(row[j] << kIntermediateBits);
        }
    } else if constexpr (Taps != kLongTaps) {
        // Every tap in the same form (added to a sum that starts at 0), so that each becomes one
        // high-half multiply; a constant number of factors held in an array lets the compiler
        // unroll the rows and keep the sums in registers.
        constexpr std::size_t kFactors = Taps > 0 ? Taps : kMostShortTaps;
        std::uint16_t factors[kFactors];
        for (int k = 0; k < count; ++k) {
            factors[k] = static_cast<std::uint16_t>(weights[k]);
        }
        std::uint16_t sum[Count] = {};
        for (int k = 0; k < count; ++k) {
            for (std::size_t j = 0; j < Count; ++j) {
                const std::uint32_t value = static_cast<std::uint32_t>(row[j]) << kIntermediateBits;
                sum[j] = static_cast<std::uint16_t>(sum[j] + ((value * factors[k]) >> kWeightBits));
            }
            row += rowBytes;
        }
        for (std::size_t j = 0; j < Count; ++j) {
            out[start + j] = static_cast<float>(sum[j]);
        }
    } else {
        // At most 255 × 2^16 in all: exact in 32 bits, and in single precision. 16-bit
        // factors make each product one widening multiply; a signed sum converts directly.
        std::int32_t sum[Count] = {};
        for (int k = 0; k < count; ++k) {
            const std::uint16_t factor = static_cast<std::uint16_t>(weights[k]);
            for (std::size_t j = 0; j < Count; ++j) {
                sum[j] += static_cast<std::int32_t>(static_cast<std::uint16_t>(row[j]) * factor);
            }
            row += rowBytes;
        }
        constexpr float kScale = 1.0f / static_cast<float>(1 << (kWeightBits - kIntermediateBits));
        for (std::size_t j = 0; j < Count; ++j) {
            out[start + j] = static_cast<float>(sum[j]) * kScale;
        }
    }
}

#if defined(__SSE2__)
// VerticalBlock for 16 values in SSE2 registers, with the same arithmetic and so the same
// result: each row's bytes widened to value × 256, then one high-half multiply (pmulhuw) and one
// add per eight values and row. The compiler cannot be relied on to find that multiply in the
// portable form; it widens to 32-bit lanes and multiplies in four steps.
template <int Taps>
void VerticalBlock16(const std::uint8_t* first, std::size_t rowBytes, const std::uint32_t* weights,
                     int taps, std::size_t start, float* __restrict out) {
    const __m128i zero = _mm_setzero_si128();
    const std::uint8_t* row = first + start;
    __m128i low;
    __m128i high;
    if constexpr (Taps == 1) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
        low = _mm_unpacklo_epi8(zero, bytes);
        high = _mm_unpackhi_epi8(zero, bytes);
    } else {
        const int count = Taps > 0 ? Taps : taps;
        low = zero;
        high = zero;
        for (int k = 0; k < count; ++k) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
            const __m128i factor = _mm_set1_epi16(static_cast<short>(weights[k]));
            low = _mm_add_epi16(low, _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, bytes), factor));
            high = _mm_add_epi16(high, _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, bytes), factor));
            row += rowBytes;
        }
    }
    float* to = out + start;
    _mm_storeu_ps(to, _mm_cvtepi32_ps(_mm_unpacklo_epi16(low, zero)));
    _mm_storeu_ps(to + 4, _mm_cvtepi32_ps(_mm_unpackhi_epi16(low, zero)));
    _mm_storeu_ps(to + 8, _mm_cvtepi32_ps(_mm_unpacklo_epi16(high, zero)));
    _mm_storeu_ps(to + 12, _mm_cvtepi32_ps(_mm_unpackhi_epi16(high, zero)));
}
#endif

template <int Taps>
void VerticalPassOf(const std::uint8_t* first, std::size_t rowBytes, const std::uint32_t* factors,
                    int taps, std::size_t values, float* out) {
    std::size_t start = 0;
#if defined(__SSE2__)
    if constexpr (Taps != kLongTaps) {
        for (; start + 16 <= values; start += 16) {
            VerticalBlock16<Taps>(first, rowBytes, factors, taps, start, out);
        }
    }
#endif
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
void VerticalPass(const RasterImage& image, const AxisTap& tap, const std::uint32_t* factors,
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
            if (taps <= kMostShortTaps) {
                VerticalPassOf<kShortTaps>(first, image.rowBytes, factors, taps, values, out);
            } else {
                VerticalPassOf<kLongTaps>(first, image.rowBytes, factors, taps, values, out);
            }
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
// (most per column, scaled to take the vertical pass's value × 2^kIntermediateBits back to 0..255).
void EvenColumns(const AxisTap* taps, const std::uint32_t* weights, int sourceWidth, int width,
                 std::uint32_t most, std::uint32_t* firsts, Float4* factors) {
    const float scale = 1.0f / static_cast<float>(1 << (kWeightBits + kIntermediateBits));
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

std::uint8_t* AcquireDecodeBuffer(std::size_t bytes) {
    if (bytes > tDecodeBuffer.capacity) {
        // Let the old buffer go first, so the two never exist together.
        tDecodeBuffer.Release();
    }
    return tDecodeBuffer.Reserve(bytes);
}

void FinishDecodeBuffer() {
    if (tDecodeBuffer.Bytes() > kKeptDecodeBytes) {
        tDecodeBuffer.Release();
    }
}

void ReleasePictureScratch() {
    tScratch.Release();
    tDecodeBuffer.Release();
}

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
    std::uint32_t* rowWeights = scratch.rowWeights.Reserve(sourceHeight + 2 * targetHeight);
    float* row = scratch.row.Reserve(values + 1);
    if (columnTaps == nullptr || columnWeights == nullptr || columnFirsts == nullptr ||
        rowTaps == nullptr || rowWeights == nullptr || row == nullptr) {
        scratch.Release();
        return PictureResult::OutOfMemory;
    }
    BuildAxis(image.width, width, columnTaps, columnWeights);
    const std::uint32_t taps = MostTaps(columnTaps, width);
    Float4* columnFactors = scratch.columnFactors.Reserve(targetWidth * taps);
    if (columnFactors == nullptr) {
        scratch.Release();
        return PictureResult::OutOfMemory;
    }
    EvenColumns(columnTaps, columnWeights, image.width, width, taps, columnFirsts, columnFactors);
    BuildAxis(image.height, height, rowTaps, rowWeights);
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
