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
//
// The NEON set has no pack or unpack of its own shape: each operation below
// is the one of the SSE2 column rebuilt from NEON instructions, with the
// same lanes, the same wrap-around, saturation and truncation, so that the
// kernels give the same bytes on every set.
#include <cstdint>

#include "uiplugin/correction/engine/correction_kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__AVX2__)
#include <immintrin.h>
#endif
#if defined(QX_NEON_KERNELS)
#include <arm_neon.h>
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

    static void Prefetch(const void *p) { _mm_prefetch(static_cast<const char *>(p), _MM_HINT_T0); }
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

    static void Prefetch(const void *p) { _mm_prefetch(static_cast<const char *>(p), _MM_HINT_T0); }
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

#if defined(QX_NEON_KERNELS)
// Advanced SIMD, part of every AArch64 processor. I holds 16 bytes seen as
// bytes, 16-bit or 32-bit lanes as the operation says (lane i at byte
// offsets as on x86: both are little-endian); D holds two doubles.
struct Neon {
    using I = uint8x16_t;
    using D = float64x2_t;
    static constexpr int kBytes = 16;
    static constexpr int kDoubles = 2;
    static constexpr int kDoubleBlock[8] = {0, 1, 2, 3, 4, 5, 6, 7};

    static int16x8_t S16(I v) { return vreinterpretq_s16_u8(v); }
    static int32x4_t S32(I v) { return vreinterpretq_s32_u8(v); }
    static I B(int16x8_t v) { return vreinterpretq_u8_s16(v); }
    static I B(uint16x8_t v) { return vreinterpretq_u8_u16(v); }
    static I B(int32x4_t v) { return vreinterpretq_u8_s32(v); }
    static I B(uint32x4_t v) { return vreinterpretq_u8_u32(v); }

    // PRFM PLDL1KEEP, the counterpart of prefetcht0.
    static void Prefetch(const void *p) { __builtin_prefetch(p, 0, 3); }
    static I Load(const void *p) { return vld1q_u8(static_cast<const uint8_t *>(p)); }
    static void Store(void *p, I v) { vst1q_u8(static_cast<uint8_t *>(p), v); }
    static I LoadWiden8(const unsigned char *p) { return B(vmovl_u8(vld1_u8(p))); }
    // Signed 16-bit lanes to bytes saturated to 0..255, as packus.
    static void StoreNarrow16(unsigned char *p, I v) { vst1_u8(p, vqmovun_s16(S16(v))); }

    static I Zero() { return vdupq_n_u8(0); }
    static I Set16(int v) { return B(vdupq_n_s16(static_cast<int16_t>(v))); }
    static I Set32(int v) { return B(vdupq_n_s32(v)); }
    // psraw takes its count unsigned and fills with the sign from 16 on (a
    // negative int is a huge count); a shift by 15 fills the same. NEON
    // shifts right by a negative count.
    static int16x8_t Count(int v) { return vdupq_n_s16(static_cast<int16_t>(-(v < 0 || v > 15 ? 15 : v))); }
    static I Add16(I a, I b) { return B(vaddq_s16(S16(a), S16(b))); }
    static I Sub16(I a, I b) { return B(vsubq_s16(S16(a), S16(b))); }
    static I Mullo16(I a, I b) { return B(vmulq_s16(S16(a), S16(b))); }
    static I Shl3x16(I a) { return B(vshlq_n_s16(S16(a), 3)); }
    static I Sra16(I a, int16x8_t count) { return B(vshlq_s16(S16(a), count)); }
    static I Sub32(I a, I b) { return B(vsubq_s32(S32(a), S32(b))); }
    static I Gt32(I a, I b) { return B(vcgtq_s32(S32(a), S32(b))); }
    static I And(I a, I b) { return vandq_u8(a, b); }
    static I Or(I a, I b) { return vorrq_u8(a, b); }
    // (~a) & b, as pandn; BIC clears in its first operand the bits of its second.
    static I AndNot(I a, I b) { return vbicq_u8(b, a); }

    // zip1/zip2 interleave the low/high halves exactly as punpckl/punpckh.
    static I Unpack8Lo(I a, I b) { return vzip1q_u8(a, b); }
    static I Unpack8Hi(I a, I b) { return vzip2q_u8(a, b); }
    static I Unpack16Lo(I a, I b) { return B(vzip1q_u16(vreinterpretq_u16_u8(a), vreinterpretq_u16_u8(b))); }
    static I Unpack16Hi(I a, I b) { return B(vzip2q_u16(vreinterpretq_u16_u8(a), vreinterpretq_u16_u8(b))); }
    static I Packs32(I a, I b) { return B(vcombine_s16(vqmovn_s32(S32(a)), vqmovn_s32(S32(b)))); }
    static I Packus16(I a, I b) { return vcombine_u8(vqmovun_s16(S16(a)), vqmovun_s16(S16(b))); }

    static D LoadD(const double *p) { return vld1q_f64(p); }
    static D SetD(double v) { return vdupq_n_f64(v); }
    // Separate multiply and add (no fused form): each rounds, as the scalar code.
    static D AddD(D a, D b) { return vaddq_f64(a, b); }
    static D MulD(D a, D b) { return vmulq_f64(a, b); }
    // Every int32 is exact as a double; widened through 64 bits.
    static D ToDoublesLo(I v) { return vcvtq_f64_s64(vmovl_s32(vget_low_s32(S32(v)))); }
    static D ToDoublesHi(I v) { return vcvtq_f64_s64(vmovl_s32(vget_high_s32(S32(v)))); }
    // cvttpd2dq: truncation toward zero, and 0x80000000 for NaN and for
    // values whose truncation leaves the int32 range. FCVTZS truncates too
    // but saturates (NaN to 0), so those lanes are replaced.
    static int32x2_t TruncOne(D a) {
        const int64x2_t wide = vcvtq_s64_f64(a);
        const int32x2_t narrow = vmovn_s64(wide);
        const uint64x2_t fits = vandq_u64(vceqq_s64(vmovl_s32(narrow), wide), vceqq_f64(a, a));
        return vbsl_s32(vmovn_u64(fits), narrow, vdup_n_s32(INT32_MIN));
    }
    static I Trunc2(D a, D b) { return B(vcombine_s32(TruncOne(a), TruncOne(b))); }
};
#endif

}  // namespace
}  // namespace qx::detail
