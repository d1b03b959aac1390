// Sharpness filter: 3 x 3 integer kernel at seven levels, with the lookup in
// the same pass, two scratch rows instead of a second picture.
#include <cstring>
#include <memory>
#include <new>

#include "uiplugin/correction/correction_kernels.h"
#include "uiplugin/correction/image_correction.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qx {

namespace {

constexpr SharpnessKernel kKernels[8] = {
    {0, 0, 0},    {224, 12, 7}, {240, 14, 7}, {256, 16, 7},
    {144, 10, 6}, {168, 13, 6}, {208, 18, 6}, {320, 32, 6},
};

struct ReducedKernel {
    int w1;
    int shift;
};

// The neighbour weight and shift without their common powers of two.
constexpr ReducedKernel Reduce(const SharpnessKernel &k) {
    int w1 = k.w1, shift = k.shift;
    while (shift > 0 && w1 % 2 == 0) w1 /= 2, --shift;
    return {w1, shift};
}

// The 16-bit kernels rely on w0 = 2^s + 8 w1 and on w1 (8x - n) staying
// within 16 bits for 8x - n in -2040..2040.
constexpr bool KernelsFit16Bits() {
    for (int level = 1; level < 8; ++level) {
        const SharpnessKernel &k = kKernels[level];
        if (k.w0 != (1 << k.shift) + 8 * k.w1) return false;
        if (Reduce(k).w1 * 2040 > 32767) return false;
    }
    return true;
}
static_assert(KernelsFit16Bits(), "sharpness kernels must fit the 16-bit form");

}  // namespace

const SharpnessKernel SharpnessKernelTable[8] = {
    kKernels[0], kKernels[1], kKernels[2], kKernels[3], kKernels[4], kKernels[5], kKernels[6], kKernels[7],
};

namespace detail {

void SharpenRowScalar(const unsigned char *prev, const unsigned char *cur, const unsigned char *next,
                      unsigned char *dst, size_t count, int w1, int shift) {
    for (size_t q = 0; q < count; ++q) {
        const int n = prev[q] + prev[q + 3] + prev[q + 6] + cur[q] + cur[q + 6] + next[q] + next[q + 3] + next[q + 6];
        dst[q] = static_cast<unsigned char>(SharpenByte(cur[q + 3], n, w1, shift));
    }
}

#if defined(__SSE2__)
namespace {

inline __m128i Load(const unsigned char *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }

// Eight 16-bit kernel values from eight centre values and their neighbour sums.
inline __m128i Sharpen8(__m128i x, __m128i n, __m128i w1, __m128i shift) {
    const __m128i z = _mm_sub_epi16(_mm_slli_epi16(x, 3), n);
    return _mm_add_epi16(x, _mm_sra_epi16(_mm_mullo_epi16(z, w1), shift));
}

}  // namespace

void SharpenRowSse2(const unsigned char *prev, const unsigned char *cur, const unsigned char *next,
                    unsigned char *dst, size_t count, int w1, int shift) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i weight = _mm_set1_epi16(static_cast<short>(w1));
    const __m128i shiftBy = _mm_cvtsi32_si128(shift);
    size_t q = 0;
    // 16 bytes a step; the last load of a step ends at byte q + 21, inside
    // the row's 3 W bytes as long as q + 16 <= count = 3 W - 6.
    for (; q + 16 <= count; q += 16) {
        const __m128i p0 = Load(prev + q), p1 = Load(prev + q + 3), p2 = Load(prev + q + 6);
        const __m128i c0 = Load(cur + q), x = Load(cur + q + 3), c2 = Load(cur + q + 6);
        const __m128i n0 = Load(next + q), n1 = Load(next + q + 3), n2 = Load(next + q + 6);
        __m128i sumLo = _mm_add_epi16(_mm_unpacklo_epi8(p0, zero), _mm_unpacklo_epi8(p1, zero));
        __m128i sumHi = _mm_add_epi16(_mm_unpackhi_epi8(p0, zero), _mm_unpackhi_epi8(p1, zero));
        for (__m128i v : {p2, c0, c2, n0, n1, n2}) {
            sumLo = _mm_add_epi16(sumLo, _mm_unpacklo_epi8(v, zero));
            sumHi = _mm_add_epi16(sumHi, _mm_unpackhi_epi8(v, zero));
        }
        const __m128i lo = Sharpen8(_mm_unpacklo_epi8(x, zero), sumLo, weight, shiftBy);
        const __m128i hi = Sharpen8(_mm_unpackhi_epi8(x, zero), sumHi, weight, shiftBy);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + q), _mm_packus_epi16(lo, hi));
    }
    SharpenRowScalar(prev + q, cur + q, next + q, dst + q, count - q, w1, shift);
}
#endif

bool ApplySharpnessFilterUsing(Simd simd, unsigned char *pixels, int32_t width, int32_t height, uint64_t stride,
                               int level, const ToneTable &table) {
    if (level < 1 || level > 7 || width < 3 || height < 3 || stride < 3 * static_cast<uint64_t>(width))
        return false;
    if (stride > PTRDIFF_MAX / 2) return false;
    SharpenRowFn sharpenRow = SharpenRowScalar;
#if defined(__SSE2__)
    if (simd == Simd::kSse2) sharpenRow = SharpenRowSse2;
#endif
#if defined(QX_HAVE_AVX2_KERNELS)
    if (simd == Simd::kAvx2) sharpenRow = SharpenRowAvx2;
#endif
    (void)simd;
    const size_t rowStride = static_cast<size_t>(stride);
    // Scratch rows A and B as one block; without it the picture stays as it
    // came in, not even looked up.
    std::unique_ptr<unsigned char[]> scratch(new (std::nothrow) unsigned char[2 * rowStride]);
    if (!scratch) return false;
    unsigned char *const rowA = scratch.get();
    unsigned char *const rowB = scratch.get() + rowStride;
    const ReducedKernel k = Reduce(kKernels[level]);
    const size_t count = 3 * static_cast<size_t>(width) - 6;
    auto row = [&](int32_t i) { return pixels + static_cast<size_t>(i) * rowStride; };

    ApplyToneRow(row(0), width, table);
    ApplyToneRow(row(1), width, table);
    unsigned char *dst = rowB;
    for (int32_t j = 0; j + 2 < height; ++j) {
        // The lookup runs one row ahead of the kernel; row j is written back
        // only after it has served as a neighbour of row j + 1.
        ApplyToneRow(row(j + 2), width, table);
        dst = (j % 2 == 0) ? rowB : rowA;
        unsigned char *other = (j % 2 == 0) ? rowA : rowB;
        sharpenRow(row(j), row(j + 1), row(j + 2), dst, count, k.w1, k.shift);
        if (j > 0) std::memcpy(row(j) + 3, other, count);
    }
    std::memcpy(row(height - 2) + 3, dst, count);
    return true;
}

}  // namespace detail

bool ApplySharpnessFilter(unsigned char *pixels, int32_t width, int32_t height, uint64_t stride, int level,
                          const ToneTable &table) {
    return detail::ApplySharpnessFilterUsing(detail::BestSimd(), pixels, width, height, stride, level, table);
}

}  // namespace qx
