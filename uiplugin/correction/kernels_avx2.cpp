// AVX2 forms of the blur and sharpen row kernels. This file alone is built
// with -mavx2 and is entered only after a run-time check; it holds no inline
// function with external linkage, so no AVX2 code can leak into other paths.
#include <immintrin.h>

#include "uiplugin/correction/correction_kernels.h"

namespace qx::detail {

void BlurRowAvx2(const double *const *cells, int cellCount, size_t count, double inv, unsigned char *out) {
    const __m256d scale = _mm256_set1_pd(inv);
    size_t j = 0;
    for (; j + 32 <= count; j += 32) {
        const double *p = cells[0] + j;
        __m256d a0 = _mm256_loadu_pd(p), a1 = _mm256_loadu_pd(p + 4), a2 = _mm256_loadu_pd(p + 8),
                a3 = _mm256_loadu_pd(p + 12), a4 = _mm256_loadu_pd(p + 16), a5 = _mm256_loadu_pd(p + 20),
                a6 = _mm256_loadu_pd(p + 24), a7 = _mm256_loadu_pd(p + 28);
        for (int c = 1; c < cellCount; ++c) {
            p = cells[c] + j;
            a0 = _mm256_add_pd(a0, _mm256_loadu_pd(p));
            a1 = _mm256_add_pd(a1, _mm256_loadu_pd(p + 4));
            a2 = _mm256_add_pd(a2, _mm256_loadu_pd(p + 8));
            a3 = _mm256_add_pd(a3, _mm256_loadu_pd(p + 12));
            a4 = _mm256_add_pd(a4, _mm256_loadu_pd(p + 16));
            a5 = _mm256_add_pd(a5, _mm256_loadu_pd(p + 20));
            a6 = _mm256_add_pd(a6, _mm256_loadu_pd(p + 24));
            a7 = _mm256_add_pd(a7, _mm256_loadu_pd(p + 28));
        }
        auto cvt = [&](__m256d x) { return _mm256_cvttpd_epi32(_mm256_mul_pd(x, scale)); };
        const __m128i w0 = _mm_packs_epi32(cvt(a0), cvt(a1));
        const __m128i w1 = _mm_packs_epi32(cvt(a2), cvt(a3));
        const __m128i w2 = _mm_packs_epi32(cvt(a4), cvt(a5));
        const __m128i w3 = _mm_packs_epi32(cvt(a6), cvt(a7));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j), _mm_packus_epi16(w0, w1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j + 16), _mm_packus_epi16(w2, w3));
    }
    BlurLanesScalar(cells, cellCount, j, count, inv, out);
}

namespace {

inline __m256i Load(const unsigned char *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }

inline __m256i Sharpen16(__m256i x, __m256i n, __m256i w1, __m128i shift) {
    const __m256i z = _mm256_sub_epi16(_mm256_slli_epi16(x, 3), n);
    return _mm256_add_epi16(x, _mm256_sra_epi16(_mm256_mullo_epi16(z, w1), shift));
}

}  // namespace

void SharpenRowAvx2(const unsigned char *prev, const unsigned char *cur, const unsigned char *next,
                    unsigned char *dst, size_t count, int w1, int shift) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i weight = _mm256_set1_epi16(static_cast<short>(w1));
    const __m128i shiftBy = _mm_cvtsi32_si128(shift);
    size_t q = 0;
    // 32 bytes a step; the last load ends at byte q + 37 < 3 W while
    // q + 32 <= count = 3 W - 6. Unpacking and packing both work within
    // 128-bit halves, so the bytes come back in their order.
    for (; q + 32 <= count; q += 32) {
        const __m256i v[8] = {Load(prev + q), Load(prev + q + 3), Load(prev + q + 6), Load(cur + q),
                              Load(cur + q + 6), Load(next + q), Load(next + q + 3), Load(next + q + 6)};
        __m256i sumLo = _mm256_unpacklo_epi8(v[0], zero), sumHi = _mm256_unpackhi_epi8(v[0], zero);
        for (int i = 1; i < 8; ++i) {
            sumLo = _mm256_add_epi16(sumLo, _mm256_unpacklo_epi8(v[i], zero));
            sumHi = _mm256_add_epi16(sumHi, _mm256_unpackhi_epi8(v[i], zero));
        }
        const __m256i x = Load(cur + q + 3);
        const __m256i lo = Sharpen16(_mm256_unpacklo_epi8(x, zero), sumLo, weight, shiftBy);
        const __m256i hi = Sharpen16(_mm256_unpackhi_epi8(x, zero), sumHi, weight, shiftBy);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + q), _mm256_packus_epi16(lo, hi));
    }
    for (; q < count; ++q) {
        const int n = prev[q] + prev[q + 3] + prev[q + 6] + cur[q] + cur[q + 6] + next[q] + next[q + 3] + next[q + 6];
        dst[q] = static_cast<unsigned char>(SharpenByte(cur[q + 3], n, w1, shift));
    }
}

}  // namespace qx::detail
