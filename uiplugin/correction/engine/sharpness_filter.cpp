// Sharpness filter: 3 x 3 integer kernel at seven levels, with the lookup in
// the same pass, two scratch rows instead of a second picture.
#include <cstring>
#include <memory>
#include <new>

#include "uiplugin/correction/engine/correction_kernels.h"
#include "uiplugin/correction/engine/image_correction.h"

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

bool ApplySharpnessFilterUsing(Simd simd, unsigned char *pixels, int32_t width, int32_t height, uint64_t stride,
                               int level, const ToneTable &table) {
    if (level < 1 || level > 7 || width < 3 || height < 3 || stride < 3 * static_cast<uint64_t>(width))
        return false;
    if (stride > PTRDIFF_MAX / 2) return false;
    const SharpenRowFn sharpenRow = KernelsFor(simd).sharpenRow;
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
