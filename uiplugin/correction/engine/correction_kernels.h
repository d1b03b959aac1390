#pragma once
// Inner loops of the unsharp mask and the sharpness filter, one set per
// instruction set, and the choice between them. Every set performs the same
// operations in the same order per byte, so all give the same bytes; the
// tests run each available set against the direct forms. The vector sets
// are one source (simd_kernels.h) over the operations of simd_traits.h.
#include <cstddef>
#include <cstdint>

#include "uiplugin/correction/engine/image_correction.h"

// Advanced SIMD is part of every AArch64 processor: where the compiler
// targets one, the NEON set is built with the baseline flags and used
// without a run-time check.
#if defined(__ARM_NEON) && (defined(__aarch64__) || defined(_M_ARM64))
#define QX_NEON_KERNELS 1
#endif

namespace qx::detail {

enum class Simd { kScalar, kSse2, kAvx2, kNeon };

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

// Pass 2 of the unsharp mask on one row: row[j] sharpened against
// blurred[j] (UnsharpByte) for j < count.
using UnsharpRowFn = void (*)(unsigned char *row, const unsigned char *blurred, size_t count, int t, double k);

// The blur when every term is an integer (ring weight 0): col[jj] = the sum
// of rows[i][jj] over the rowCount rows (at most 7, so 16 bits hold it), for
// jj < length; then out[j] = trunc(s inv), s the sum of col[j + 3 i] for
// i < width.
using ColumnSumsFn = void (*)(const unsigned char *const *rows, int rowCount, size_t length, uint16_t *col);
using BoxRowFn = void (*)(const uint16_t *col, int width, size_t count, double inv, unsigned char *out);

// Kernel of one row of the sharpness filter: for q in 0 .. count - 1,
// dst[q] = the clamped kernel value of byte q + 3 of `cur`, with `prev` and
// `next` the rows before and after it. `w1` and `shift` are the level's
// neighbour weight and shift reduced by their common powers of two (the
// centre weight being 2^shift + 8 w1), which keeps every term in 16 bits.
// Reads bytes 0 .. count + 5 of each row.
using SharpenRowFn = void (*)(const unsigned char *prev, const unsigned char *cur, const unsigned char *next,
                              unsigned char *dst, size_t count, int w1, int shift);

struct KernelSet {
    BlurRowFn blurRow;
    UnsharpRowFn unsharpRow;
    ColumnSumsFn columnSums;
    BoxRowFn boxRow;
    SharpenRowFn sharpenRow;
};

// The kernels of a set; call only with a set for which SimdAvailable holds.
const KernelSet &KernelsFor(Simd simd);
#if defined(QX_HAVE_AVX2_KERNELS)
// From the file built with -mavx2.
const KernelSet &Avx2Kernels();
#endif

// The helpers below have internal linkage on purpose: the AVX2 file
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

// Pass 2 of the unsharp mask for one channel value o with blurred value b.
static inline unsigned char UnsharpByte(int o, int b, int t, double k) {
    const int d = o - b;
    if (d < -t || d > t) {
        const int v = static_cast<int>(static_cast<double>(d) * k + static_cast<double>(o));
        return static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
    return static_cast<unsigned char>(o);
}

// Lanes [from, to) of each kernel one at a time, in the order described
// above: the tails that the vector kernels leave, and the scalar set.
static inline void BlurLanesScalar(const double *const *cells, int cellCount, size_t from, size_t to,
                                   double inv, unsigned char *out) {
    for (size_t j = from; j < to; ++j) {
        double sum = cells[0][j];
        for (int c = 1; c < cellCount; ++c) sum += cells[c][j];
        out[j] = static_cast<unsigned char>(static_cast<int>(sum * inv));
    }
}

static inline void UnsharpLanes(unsigned char *row, const unsigned char *blurred, size_t from, size_t to, int t,
                                double k) {
    for (size_t j = from; j < to; ++j) row[j] = UnsharpByte(row[j], blurred[j], t, k);
}

static inline void ColumnSumLanes(const unsigned char *const *rows, int rowCount, size_t from, size_t to,
                                  uint16_t *col) {
    for (size_t jj = from; jj < to; ++jj) {
        unsigned s = 0;
        for (int i = 0; i < rowCount; ++i) s += rows[i][jj];
        col[jj] = static_cast<uint16_t>(s);
    }
}

static inline void BoxLanes(const uint16_t *col, int width, size_t from, size_t to, double inv,
                            unsigned char *out) {
    for (size_t j = from; j < to; ++j) {
        unsigned s = 0;
        for (int i = 0; i < width; ++i) s += col[j + 3 * static_cast<size_t>(i)];
        out[j] = static_cast<unsigned char>(static_cast<int>(static_cast<double>(s) * inv));
    }
}

static inline void SharpenLanes(const unsigned char *prev, const unsigned char *cur, const unsigned char *next,
                                unsigned char *dst, size_t from, size_t to, int w1, int shift) {
    for (size_t q = from; q < to; ++q) {
        const int n = prev[q] + prev[q + 3] + prev[q + 6] + cur[q] + cur[q + 6] + next[q] + next[q + 3] + next[q + 6];
        dst[q] = static_cast<unsigned char>(SharpenByte(cur[q + 3], n, w1, shift));
    }
}

}  // namespace qx::detail
