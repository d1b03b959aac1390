// The preview's sequence of corrections, and the choice of kernel set.
#include "uiplugin/correction/engine/correction_kernels.h"
#include "uiplugin/correction/engine/image_correction.h"

namespace qx {

namespace detail {

bool SimdAvailable(Simd simd) {
    switch (simd) {
    case Simd::kScalar: return true;
    case Simd::kSse2:
#if defined(__SSE2__)
        return true;
#else
        return false;
#endif
    case Simd::kAvx2:
#if defined(QX_HAVE_AVX2_KERNELS)
        return __builtin_cpu_supports("avx2");
#else
        return false;
#endif
    case Simd::kNeon:
#if defined(QX_NEON_KERNELS)
        return true;
#else
        return false;
#endif
    }
    return false;
}

Simd BestSimd() {
    static const Simd best = SimdAvailable(Simd::kAvx2)   ? Simd::kAvx2
                             : SimdAvailable(Simd::kSse2) ? Simd::kSse2
                             : SimdAvailable(Simd::kNeon) ? Simd::kNeon
                                                          : Simd::kScalar;
    return best;
}

}  // namespace detail

bool CorrectPicture(const CorrectionSettings &settings, unsigned char *pixels, int32_t width, int32_t height,
                    uint64_t stride) {
    ToneTable table;
    BuildToneTable(settings, table);
    bool ok = true;
    if (settings.unsharpMask == 1) ok = ApplyUnsharpMask(settings, width, height, pixels);
    const int level = settings.sharpness & 7;
    if (level != 0 && width > 2 && height > 2) {
        // Without its scratch rows the filter leaves out the lookup too.
        ok = ApplySharpnessFilter(pixels, width, height, stride, level, table) && ok;
    } else {
        for (int32_t y = 0; y < height; ++y) ApplyToneRow(pixels + static_cast<size_t>(y) * stride, width, table);
    }
    return ok;
}

}  // namespace qx
