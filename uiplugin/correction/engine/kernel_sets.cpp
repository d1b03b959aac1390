// The scalar, SSE2 and NEON kernel sets (this file has the build's
// baseline flags, which include SSE2 on x86-64 and NEON on AArch64), and
// the set for each Simd value.
#include "uiplugin/correction/engine/correction_kernels.h"
#include "uiplugin/correction/engine/simd_kernels.h"

namespace qx::detail {

namespace {

void BlurRowScalar(const double *const *cells, int cellCount, size_t count, double inv, unsigned char *out) {
    BlurLanesScalar(cells, cellCount, 0, count, inv, out);
}
void UnsharpRowScalar(unsigned char *row, const unsigned char *blurred, size_t count, int t, double k) {
    UnsharpLanes(row, blurred, 0, count, t, k);
}
void ColumnSumsScalar(const unsigned char *const *rows, int rowCount, size_t length, uint16_t *col) {
    ColumnSumLanes(rows, rowCount, 0, length, col);
}
void BoxRowScalar(const uint16_t *col, int width, size_t count, double inv, unsigned char *out) {
    BoxLanes(col, width, 0, count, inv, out);
}
void SharpenRowScalar(const unsigned char *prev, const unsigned char *cur, const unsigned char *next,
                      unsigned char *dst, size_t count, int w1, int shift) {
    SharpenLanes(prev, cur, next, dst, 0, count, w1, shift);
}

constexpr KernelSet kScalar = {BlurRowScalar, UnsharpRowScalar, ColumnSumsScalar, BoxRowScalar, SharpenRowScalar};
#if defined(__SSE2__)
constexpr KernelSet kSse2 = MakeKernelSet<Sse2>();
#endif
#if defined(QX_NEON_KERNELS)
constexpr KernelSet kNeon = MakeKernelSet<Neon>();
#endif

}  // namespace

const KernelSet &KernelsFor(Simd simd) {
#if defined(QX_HAVE_AVX2_KERNELS)
    if (simd == Simd::kAvx2) return Avx2Kernels();
#endif
#if defined(QX_NEON_KERNELS)
    if (simd == Simd::kNeon) return kNeon;
#endif
#if defined(__SSE2__)
    if (simd != Simd::kScalar) return kSse2;
#endif
    (void)simd;
    return kScalar;
}

}  // namespace qx::detail
