// Unsharp mask. The blur sums every cell of its window in double precision,
// in the order dy outer, dx inner, so that truncation gives the same bytes
// as the plain per-pixel loop; the speed comes from elsewhere:
//  - cells outside the picture add +0.0, which leaves a sum of non-negative
//    terms unchanged, so the rows are zero-padded by n on every side and
//    every pixel runs the same code, borders included;
//  - each source row is turned into doubles once (v, v f and (v f) f, the
//    three kinds of term), in a ring of 2n + 1 rows;
//  - the lanes of a row (every channel byte) are summed side by side, each
//    lane doing exactly the scalar sequence;
//  - with f = 0 every term is an integer and every partial sum exact, so the
//    inner box is summed in integers in any order;
//  - sharpening row y needs only row y itself and its blurred values, and
//    later blurs read the ring, so it follows the blur row by row.
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

struct UnsharpParams {
    int n;       // window half-size
    double f;    // outer ring weight
    double inv;  // 1.0 / D
    double k;    // amount factor
    int t;       // threshold
};

bool MakeParams(const CorrectionSettings &s, UnsharpParams *p) {
    const int r = s.unsharpRadius;
    if (r < 1 || r > 30) return false;
    p->n = r / 10 + 1;
    p->f = static_cast<double>(r % 10) * 0.1;
    const double radius = static_cast<double>(r) * 0.1;
    const double side = radius + radius + 1.0;
    const double d = side * side;
    p->inv = 1.0 / d;
    p->k = static_cast<double>((s.unsharpAmount + 1) * 25) * 0.01;
    p->t = s.unsharpThreshold;
    return true;
}

// Pass 2 for one channel value o with blurred value b.
inline unsigned char Sharpened(int o, int b, int t, double k) {
    const int d = o - b;
    if (d < -t || d > t) {
        const int v = static_cast<int>(static_cast<double>(d) * k + static_cast<double>(o));
        return static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
    return static_cast<unsigned char>(o);
}

// a * b + c in 64 bits, false on overflow or beyond what one block may hold.
bool SizeOf(uint64_t a, uint64_t b, uint64_t c, uint64_t limit, uint64_t *out) {
    if (b != 0 && a > (limit - c) / b) return false;
    *out = a * b + c;
    return true;
}

template <typename T>
std::unique_ptr<T[]> Allocate(uint64_t count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]());
}

constexpr uint64_t kBlockLimit = PTRDIFF_MAX / 8;
// Below this many bytes a 65536-entry result table costs more than it saves.
constexpr uint64_t kSharpenTableMinBytes = 2 * 65536;

}  // namespace

namespace detail {

void BlurRowScalar(const double *const *cells, int cellCount, size_t count, double inv, unsigned char *out) {
    BlurLanesScalar(cells, cellCount, 0, count, inv, out);
}

#if defined(__SSE2__)
void BlurRowSse2(const double *const *cells, int cellCount, size_t count, double inv, unsigned char *out) {
    const __m128d scale = _mm_set1_pd(inv);
    size_t j = 0;
    for (; j + 16 <= count; j += 16) {
        const double *p = cells[0] + j;
        __m128d a0 = _mm_loadu_pd(p), a1 = _mm_loadu_pd(p + 2), a2 = _mm_loadu_pd(p + 4),
                a3 = _mm_loadu_pd(p + 6), a4 = _mm_loadu_pd(p + 8), a5 = _mm_loadu_pd(p + 10),
                a6 = _mm_loadu_pd(p + 12), a7 = _mm_loadu_pd(p + 14);
        for (int c = 1; c < cellCount; ++c) {
            p = cells[c] + j;
            a0 = _mm_add_pd(a0, _mm_loadu_pd(p));
            a1 = _mm_add_pd(a1, _mm_loadu_pd(p + 2));
            a2 = _mm_add_pd(a2, _mm_loadu_pd(p + 4));
            a3 = _mm_add_pd(a3, _mm_loadu_pd(p + 6));
            a4 = _mm_add_pd(a4, _mm_loadu_pd(p + 8));
            a5 = _mm_add_pd(a5, _mm_loadu_pd(p + 10));
            a6 = _mm_add_pd(a6, _mm_loadu_pd(p + 12));
            a7 = _mm_add_pd(a7, _mm_loadu_pd(p + 14));
        }
        // cvttpd truncates toward zero like the scalar conversion.
        auto two = [&](__m128d x, __m128d y) {
            return _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_mul_pd(x, scale)), _mm_cvttpd_epi32(_mm_mul_pd(y, scale)));
        };
        const __m128i w0 = _mm_packs_epi32(two(a0, a1), two(a2, a3));
        const __m128i w1 = _mm_packs_epi32(two(a4, a5), two(a6, a7));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + j), _mm_packus_epi16(w0, w1));
    }
    BlurLanesScalar(cells, cellCount, j, count, inv, out);
}
#endif

bool ApplyUnsharpMaskUsing(Simd simd, const CorrectionSettings &settings, int32_t width, int32_t height,
                           unsigned char *pixels) {
    if (width <= 0 || height <= 0) return true;
    UnsharpParams prm;
    if (!MakeParams(settings, &prm)) return false;
    BlurRowFn blurRow = BlurRowScalar;
#if defined(__SSE2__)
    if (simd == Simd::kSse2) blurRow = BlurRowSse2;
#endif
#if defined(QX_HAVE_AVX2_KERNELS)
    if (simd == Simd::kAvx2) blurRow = BlurRowAvx2;
#endif
    (void)simd;

    const int n = prm.n;
    const int slots = 2 * n + 1;
    const bool integerTerms = prm.f == 0.0;
    const uint64_t rowBytes = 3 * static_cast<uint64_t>(width);
    const uint64_t stride = RowStride24(width);
    const uint64_t padded = rowBytes + 6 * static_cast<uint64_t>(n);  // 3 (W + 2n)
    const size_t pad = 3 * static_cast<size_t>(n);
    uint64_t pictureEnd, ringCount, colCount = 0, tableCount = 0;
    // Every size is checked in 64 bits before anything is allocated or
    // touched, so a failure leaves the picture exactly as it came in.
    if (!SizeOf(stride, static_cast<uint64_t>(height), 0, PTRDIFF_MAX, &pictureEnd)) return false;
    if (!SizeOf(padded, integerTerms ? slots : 3 * slots + 1, 0, kBlockLimit, &ringCount)) return false;
    if (integerTerms) colCount = padded;
    if (rowBytes * static_cast<uint64_t>(height) >= kSharpenTableMinBytes) tableCount = 65536;

    std::unique_ptr<double[]> ring;
    std::unique_ptr<unsigned char[]> byteRing;
    std::unique_ptr<uint16_t[]> colSums;
    if (integerTerms) {
        byteRing = Allocate<unsigned char>(ringCount);
        colSums = Allocate<uint16_t>(colCount);
        if (!byteRing || !colSums) return false;
    } else {
        ring = Allocate<double>(ringCount);
        if (!ring) return false;
    }
    std::unique_ptr<unsigned char[]> blurred = Allocate<unsigned char>(rowBytes);
    std::unique_ptr<unsigned char[]> table;
    if (tableCount != 0) table = Allocate<unsigned char>(tableCount);
    if (!blurred || (tableCount != 0 && !table)) return false;

    const size_t L = static_cast<size_t>(padded);
    const size_t count = static_cast<size_t>(rowBytes);
    auto source = [&](int32_t y) { return pixels + static_cast<size_t>(y) * static_cast<size_t>(stride); };

    if (table) {
        for (int o = 0; o < 256; ++o)
            for (int b = 0; b < 256; ++b) table[(o << 8) | b] = Sharpened(o, b, prm.t, prm.k);
    }
    auto sharpenRow = [&](unsigned char *row) {
        if (table) {
            for (size_t j = 0; j < count; ++j) row[j] = table[(row[j] << 8) | blurred[j]];
        } else {
            for (size_t j = 0; j < count; ++j) row[j] = Sharpened(row[j], blurred[j], prm.t, prm.k);
        }
    };

    if (integerTerms) {
        // Ring of padded byte rows; the padding stays zero from allocation.
        auto ringRow = [&](int32_t y) { return byteRing.get() + static_cast<size_t>(y % slots) * L; };
        auto load = [&](int32_t y) { std::memcpy(ringRow(y) + pad, source(y), count); };
        const int inner = n - 1;  // the inner box spans dy, dx in -inner..inner
        for (int32_t y = 0; y < height && y < n; ++y) load(y);
        uint16_t *col = colSums.get();
        for (int32_t y = 0; y < height; ++y) {
            if (y + n - 1 < height && y > 0) load(y + n - 1);
            std::memset(col, 0, L * sizeof(uint16_t));
            for (int dy = -inner; dy <= inner; ++dy) {
                const int32_t yy = y + dy;
                if (yy < 0 || yy >= height) continue;
                const unsigned char *r = ringRow(yy);
                for (size_t jj = 0; jj < L; ++jj) col[jj] = static_cast<uint16_t>(col[jj] + r[jj]);
            }
            for (size_t j = 0; j < count; ++j) {
                unsigned s = 0;
                for (int dx = -inner; dx <= inner; ++dx) s += col[j + 3 * static_cast<size_t>(dx + n)];
                blurred[j] = static_cast<unsigned char>(static_cast<int>(static_cast<double>(s) * prm.inv));
            }
            sharpenRow(source(y));
        }
        return true;
    }

    // Ring of converted rows: slot i holds v, v f and (v f) f of one padded
    // row; the last L doubles stay zero and stand for rows outside.
    const double *const zero = ring.get() + static_cast<size_t>(3 * slots) * L;
    auto slot = [&](int32_t y) { return ring.get() + static_cast<size_t>(y % slots) * 3 * L; };
    auto convert = [&](int32_t y) {
        double *v = slot(y) + pad, *vf = v + L, *vff = vf + L;
        const unsigned char *src = source(y);
        for (size_t j = 0; j < count; ++j) {
            const double x = src[j];
            v[j] = x;
            vf[j] = x * prm.f;
            vff[j] = (x * prm.f) * prm.f;
        }
    };
    for (int32_t y = 0; y < height && y <= n; ++y) convert(y);
    const double *cells[81];
    const int cellCount = slots * slots;
    for (int32_t y = 0; y < height; ++y) {
        // The slot of row y + n last held row y - n - 1, which row y no
        // longer needs; row y + n has not been sharpened yet.
        if (y > 0 && y + n < height) convert(y + n);
        int c = 0;
        for (int dy = -n; dy <= n; ++dy) {
            const int32_t yy = y + dy;
            const bool outside = yy < 0 || yy >= height;
            const double *v = outside ? zero : slot(yy);
            const double *vf = outside ? zero : v + L;
            const double *vff = outside ? zero : vf + L;
            const bool ringRow = dy == -n || dy == n;
            for (int dx = -n; dx <= n; ++dx) {
                const bool ringCol = dx == -n || dx == n;
                const double *terms = ringRow ? (ringCol ? vff : vf) : (ringCol ? vf : v);
                cells[c++] = terms + 3 * static_cast<size_t>(dx + n);
            }
        }
        blurRow(cells, cellCount, count, prm.inv, blurred.get());
        sharpenRow(source(y));
    }
    return true;
}

}  // namespace detail

bool ApplyUnsharpMask(const CorrectionSettings &settings, int32_t width, int32_t height, unsigned char *pixels) {
    return detail::ApplyUnsharpMaskUsing(detail::BestSimd(), settings, width, height, pixels);
}

}  // namespace qx
