#pragma once
// The vector operations the row kernels are written in, once per instruction
// set. Each set has one integer register type I (bytes, 16-bit or 32-bit
// lanes as the operation says) and one double register type D.
//
// Lane order: the AVX2 unpack and pack instructions work within each 128-bit
// half. The kernels only ever unpack and pack again in pairs (Unpack8* with
// Packus16, Unpack16* with Packs32, ToDoubles* with Trunc2), which gives the
// bytes back in their order. Where lanes go to or come from memory in order
// there are explicit forms (LoadWiden8, StoreNarrow16), and the blur, which
// starts from doubles in memory, reads its eight double registers in the
// order kDoubleBlock so that the pack chain puts every byte in its place.
//
// Everything here has internal linkage: the AVX2 file compiles these with
// wider instructions, and a shared inline copy picked by the linker would
// reach callers on processors without them.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace qx::detail {
namespace {

#if defined(__SSE2__)
struct Sse2 {
    using I = __m128i;
    using D = __m128d;
    static constexpr int kBytes = 16;           // byte lanes of I
    static constexpr int kDoubles = 2;          // lanes of D
    static constexpr int kDoubleBlock[8] = {0, 1, 2, 3, 4, 5, 6, 7};

    static I Load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
    static void Store(void *p, I v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }
    // kBytes / 2 bytes to as many 16-bit lanes, and back (saturated), in memory order.
    static I LoadWiden8(const unsigned char *p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), _mm_setzero_si128());
    }
    static void StoreNarrow16(unsigned char *p, I v) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(p), _mm_packus_epi16(v, v));
    }

    static I Zero() { return _mm_setzero_si128(); }
    static I Set16(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
    static I Set32(int v) { return _mm_set1_epi32(v); }
    static I Count(int v) { return _mm_cvtsi32_si128(v); }
    static I Add16(I a, I b) { return _mm_add_epi16(a, b); }
    static I Sub16(I a, I b) { return _mm_sub_epi16(a, b); }
    static I Mullo16(I a, I b) { return _mm_mullo_epi16(a, b); }
    static I Shl3x16(I a) { return _mm_slli_epi16(a, 3); }
    static I Sra16(I a, I count) { return _mm_sra_epi16(a, count); }
    static I Sub32(I a, I b) { return _mm_sub_epi32(a, b); }
    static I Gt32(I a, I b) { return _mm_cmpgt_epi32(a, b); }
    static I And(I a, I b) { return _mm_and_si128(a, b); }
    static I Or(I a, I b) { return _mm_or_si128(a, b); }
    static I AndNot(I a, I b) { return _mm_andnot_si128(a, b); }

    static I Unpack8Lo(I a, I b) { return _mm_unpacklo_epi8(a, b); }
    static I Unpack8Hi(I a, I b) { return _mm_unpackhi_epi8(a, b); }
    static I Unpack16Lo(I a, I b) { return _mm_unpacklo_epi16(a, b); }
    static I Unpack16Hi(I a, I b) { return _mm_unpackhi_epi16(a, b); }
    // Signed saturation keeps the sign, so Packus16 after it clamps to 0..255.
    static I Packs32(I a, I b) { return _mm_packs_epi32(a, b); }
    static I Packus16(I a, I b) { return _mm_packus_epi16(a, b); }

    static D LoadD(const double *p) { return _mm_loadu_pd(p); }
    static D SetD(double v) { return _mm_set1_pd(v); }
    static D AddD(D a, D b) { return _mm_add_pd(a, b); }
    static D MulD(D a, D b) { return _mm_mul_pd(a, b); }
    // The 32-bit lanes of one I as doubles, first and second half.
    static D ToDoublesLo(I v) { return _mm_cvtepi32_pd(v); }
    static D ToDoublesHi(I v) { return _mm_cvtepi32_pd(_mm_srli_si128(v, 8)); }
    // Truncation toward zero, like the scalar conversion; lanes of a then b.
    static I Trunc2(D a, D b) { return _mm_unpacklo_epi64(_mm_cvttpd_epi32(a), _mm_cvttpd_epi32(b)); }
};
#endif

#if defined(__AVX2__)
struct Avx2 {
    using I = __m256i;
    using D = __m256d;
    static constexpr int kBytes = 32;
    static constexpr int kDoubles = 4;
    // Through the pack chain the eight double registers g = 0..7 give the
    // four bytes at 4 kDoubleBlock[g] of the 32, as the in-half packs
    // interleave them; so register g is read from there.
    static constexpr int kDoubleBlock[8] = {0, 4, 1, 5, 2, 6, 3, 7};

    static I Load(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }
    static void Store(void *p, I v) { _mm256_storeu_si256(static_cast<__m256i *>(p), v); }
    static I LoadWiden8(const unsigned char *p) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
    }
    static void StoreNarrow16(unsigned char *p, I v) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p),
                         _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
    }

    static I Zero() { return _mm256_setzero_si256(); }
    static I Set16(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
    static I Set32(int v) { return _mm256_set1_epi32(v); }
    static __m128i Count(int v) { return _mm_cvtsi32_si128(v); }
    static I Add16(I a, I b) { return _mm256_add_epi16(a, b); }
    static I Sub16(I a, I b) { return _mm256_sub_epi16(a, b); }
    static I Mullo16(I a, I b) { return _mm256_mullo_epi16(a, b); }
    static I Shl3x16(I a) { return _mm256_slli_epi16(a, 3); }
    static I Sra16(I a, __m128i count) { return _mm256_sra_epi16(a, count); }
    static I Sub32(I a, I b) { return _mm256_sub_epi32(a, b); }
    static I Gt32(I a, I b) { return _mm256_cmpgt_epi32(a, b); }
    static I And(I a, I b) { return _mm256_and_si256(a, b); }
    static I Or(I a, I b) { return _mm256_or_si256(a, b); }
    static I AndNot(I a, I b) { return _mm256_andnot_si256(a, b); }

    static I Unpack8Lo(I a, I b) { return _mm256_unpacklo_epi8(a, b); }
    static I Unpack8Hi(I a, I b) { return _mm256_unpackhi_epi8(a, b); }
    static I Unpack16Lo(I a, I b) { return _mm256_unpacklo_epi16(a, b); }
    static I Unpack16Hi(I a, I b) { return _mm256_unpackhi_epi16(a, b); }
    static I Packs32(I a, I b) { return _mm256_packs_epi32(a, b); }
    static I Packus16(I a, I b) { return _mm256_packus_epi16(a, b); }

    static D LoadD(const double *p) { return _mm256_loadu_pd(p); }
    static D SetD(double v) { return _mm256_set1_pd(v); }
    static D AddD(D a, D b) { return _mm256_add_pd(a, b); }
    static D MulD(D a, D b) { return _mm256_mul_pd(a, b); }
    static D ToDoublesLo(I v) { return _mm256_cvtepi32_pd(_mm256_castsi256_si128(v)); }
    static D ToDoublesHi(I v) { return _mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1)); }
    static I Trunc2(D a, D b) {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm256_cvttpd_epi32(a)), _mm256_cvttpd_epi32(b), 1);
    }
};
#endif

}  // namespace
}  // namespace qx::detail
