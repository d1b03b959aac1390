#pragma once
// Inner loops of the unsharp mask and the sharpness filter, one set per
// instruction set, and the choice between them. Every set performs the same
// operations in the same order per byte, so all give the same bytes; the
// tests run each available set against the direct forms.
#include <cstddef>
#include <cstdint>

#include "uiplugin/correction/image_correction.h"

namespace qx::detail {

enum class Simd { kScalar, kSse2, kAvx2 };

// Whether this build has the set and the processor runs it.
bool SimdAvailable(Simd simd);
// The widest available set; what the public operations use.
Simd BestSimd();

bool ApplyUnsharpMaskUsing(Simd simd, const CorrectionSettings &settings, int32_t width, int32_t height,
                           unsigned char *pixels);
bool ApplySharpnessFilterUsing(Simd simd, unsigned char *pixels, int32_t width, int32_t height, uint64_t stride,
                               int level, const ToneTable &table);

// Blur of one row of lanes: out[j] = trunc(s * inv) where s is the sum of
// cells[c][j] for c = 0 .. cellCount - 1, added in that order starting from
// cells[0][j] (the same as starting from 0.0, every term being >= +0.0).
using BlurRowFn = void (*)(const double *const *cells, int cellCount, size_t count, double inv,
                           unsigned char *out);

// Kernel of one row of the sharpness filter: for q in 0 .. count - 1,
// dst[q] = the clamped kernel value of byte q + 3 of `cur`, with `prev` and
// `next` the rows before and after it. `w1` and `shift` are the level's
// neighbour weight and shift reduced by their common powers of two (the
// centre weight being 2^shift + 8 w1), which keeps every term in 16 bits.
using SharpenRowFn = void (*)(const unsigned char *prev, const unsigned char *cur, const unsigned char *next,
                              unsigned char *dst, size_t count, int w1, int shift);

void BlurRowScalar(const double *const *cells, int cellCount, size_t count, double inv, unsigned char *out);
void SharpenRowScalar(const unsigned char *prev, const unsigned char *cur, const unsigned char *next,
                      unsigned char *dst, size_t count, int w1, int shift);
#if defined(__SSE2__)
void BlurRowSse2(const double *const *cells, int cellCount, size_t count, double inv, unsigned char *out);
void SharpenRowSse2(const unsigned char *prev, const unsigned char *cur, const unsigned char *next,
                    unsigned char *dst, size_t count, int w1, int shift);
#endif
#if defined(QX_HAVE_AVX2_KERNELS)
// Compiled with -mavx2 in a file of their own; call only when
// SimdAvailable(Simd::kAvx2).
void BlurRowAvx2(const double *const *cells, int cellCount, size_t count, double inv, unsigned char *out);
void SharpenRowAvx2(const unsigned char *prev, const unsigned char *cur, const unsigned char *next,
                    unsigned char *dst, size_t count, int w1, int shift);
#endif

// The two helpers below have internal linkage on purpose: the AVX2 file
// compiles them with wider instructions, and a shared inline copy could be
// picked by the linker for callers on processors without them.
//
// The kernel value of one byte from its centre x and neighbour sum n, in
// the reduced form above: x + ((w1 (8x - n)) >> shift), clamped. Equal to
// (w0 x - w1' n) >> shift' for the table's weights, because
// w0 x - w1' n = 2^shift' x + w1' (8x - n) and floor((2^s x + y) / 2^s) =
// x + floor(y / 2^s). The shift of a negative value is arithmetic (g++ and
// MinGW guarantee it; C++20 requires it).
static inline int SharpenByte(int x, int n, int w1, int shift) {
    const int v = x + ((w1 * (8 * x - n)) >> shift);
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// Lanes [from, to) of a blur row one at a time, in the cell order above:
// the tail that the vector kernels leave, and the whole row without them.
static inline void BlurLanesScalar(const double *const *cells, int cellCount, size_t from, size_t to,
                                   double inv, unsigned char *out) {
    for (size_t j = from; j < to; ++j) {
        double sum = cells[0][j];
        for (int c = 1; c < cellCount; ++c) sum += cells[c][j];
        out[j] = static_cast<unsigned char>(static_cast<int>(sum * inv));
    }
}

}  // namespace qx::detail
