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

// Pass 2 on one row: row[j] sharpened against blurred[j].
void SharpenLanes(unsigned char *row, const unsigned char *blurred, size_t from, size_t count, int t, double k) {
    for (size_t j = from; j < count; ++j) row[j] = Sharpened(row[j], blurred[j], t, k);
}

// Column sums of the inner rows of the box (the f = 0 case), over the
// padded row length; `rows` are the padded byte rows inside the picture.
void ColumnSumsScalar(const unsigned char *const *rows, int rowCount, size_t length, uint16_t *col) {
    for (size_t jj = 0; jj < length; ++jj) {
        unsigned s = 0;
        for (int i = 0; i < rowCount; ++i) s += rows[i][jj];
        col[jj] = static_cast<uint16_t>(s);
    }
}

// Blurred values of the f = 0 case: the integer sum of `width` column sums,
// 3 bytes apart, from col[j], times the reciprocal, truncated.
void BoxLanes(const uint16_t *col, int width, size_t from, size_t count, double inv, unsigned char *out) {
    for (size_t j = from; j < count; ++j) {
        unsigned s = 0;
        for (int i = 0; i < width; ++i) s += col[j + 3 * static_cast<size_t>(i)];
        out[j] = static_cast<unsigned char>(static_cast<int>(static_cast<double>(s) * inv));
    }
}

#if defined(__SSE2__)
inline __m128i LoadBytes(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }

// Four lanes of pass 2 in double precision, as Sharpened does them; the
// value is kept where |d| <= t.
inline __m128i Sharpen4(__m128i o, __m128i b, __m128i t, __m128i negT, __m128d k) {
    const __m128i d = _mm_sub_epi32(o, b);
    const __m128i beyond = _mm_or_si128(_mm_cmpgt_epi32(d, t), _mm_cmplt_epi32(d, negT));
    auto half = [&](__m128i dd, __m128i oo) {
        return _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(dd), k), _mm_cvtepi32_pd(oo)));
    };
    const __m128i v = _mm_unpacklo_epi64(half(d, o), half(_mm_srli_si128(d, 8), _mm_srli_si128(o, 8)));
    return _mm_or_si128(_mm_and_si128(beyond, v), _mm_andnot_si128(beyond, o));
}

void UnsharpRowSse2(unsigned char *row, const unsigned char *blurred, size_t count, int t, double k) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i tv = _mm_set1_epi32(t), negT = _mm_set1_epi32(-t);
    const __m128d kv = _mm_set1_pd(k);
    size_t j = 0;
    for (; j + 16 <= count; j += 16) {
        const __m128i o = LoadBytes(row + j), b = LoadBytes(blurred + j);
        const __m128i oLo = _mm_unpacklo_epi8(o, zero), oHi = _mm_unpackhi_epi8(o, zero);
        const __m128i bLo = _mm_unpacklo_epi8(b, zero), bHi = _mm_unpackhi_epi8(b, zero);
        const __m128i r0 = Sharpen4(_mm_unpacklo_epi16(oLo, zero), _mm_unpacklo_epi16(bLo, zero), tv, negT, kv);
        const __m128i r1 = Sharpen4(_mm_unpackhi_epi16(oLo, zero), _mm_unpackhi_epi16(bLo, zero), tv, negT, kv);
        const __m128i r2 = Sharpen4(_mm_unpacklo_epi16(oHi, zero), _mm_unpacklo_epi16(bHi, zero), tv, negT, kv);
        const __m128i r3 = Sharpen4(_mm_unpackhi_epi16(oHi, zero), _mm_unpackhi_epi16(bHi, zero), tv, negT, kv);
        // Signed saturation to 16 bits keeps the sign, so the unsigned
        // saturation to bytes is the clamp to 0..255.
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row + j),
                         _mm_packus_epi16(_mm_packs_epi32(r0, r1), _mm_packs_epi32(r2, r3)));
    }
    SharpenLanes(row, blurred, j, count, t, k);
}

void ColumnSumsSse2(const unsigned char *const *rows, int rowCount, size_t length, uint16_t *col) {
    const __m128i zero = _mm_setzero_si128();
    size_t jj = 0;
    for (; jj + 16 <= length; jj += 16) {
        __m128i lo = zero, hi = zero;
        for (int i = 0; i < rowCount; ++i) {
            const __m128i v = LoadBytes(rows[i] + jj);
            lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
            hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(col + jj), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(col + jj + 8), hi);
    }
    for (; jj < length; ++jj) {
        unsigned s = 0;
        for (int i = 0; i < rowCount; ++i) s += rows[i][jj];
        col[jj] = static_cast<uint16_t>(s);
    }
}

// Sums of at most 7 x 7 bytes fit 16 bits (12495).
void BoxRowSse2(const uint16_t *col, int width, size_t count, double inv, unsigned char *out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128d scale = _mm_set1_pd(inv);
    auto four = [&](__m128i s32) {
        const __m128i a = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(s32), scale));
        const __m128i b = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(_mm_srli_si128(s32, 8)), scale));
        return _mm_unpacklo_epi64(a, b);
    };
    size_t j = 0;
    for (; j + 8 <= count; j += 8) {
        __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i *>(col + j));
        for (int i = 1; i < width; ++i)
            s = _mm_add_epi16(s, _mm_loadu_si128(reinterpret_cast<const __m128i *>(col + j + 3 * static_cast<size_t>(i))));
        const __m128i words = _mm_packs_epi32(four(_mm_unpacklo_epi16(s, zero)), four(_mm_unpackhi_epi16(s, zero)));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + j), _mm_packus_epi16(words, zero));
    }
    BoxLanes(col, width, j, count, inv, out);
}
#endif

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
    uint64_t pictureEnd, ringCount;
    // Every size is checked in 64 bits before anything is allocated or
    // touched, so a failure leaves the picture exactly as it came in.
    if (!SizeOf(stride, static_cast<uint64_t>(height), 0, PTRDIFF_MAX, &pictureEnd)) return false;
    if (!SizeOf(padded, integerTerms ? slots : 3 * slots + 1, 0, kBlockLimit, &ringCount)) return false;

    std::unique_ptr<double[]> ring;
    std::unique_ptr<unsigned char[]> byteRing;
    std::unique_ptr<uint16_t[]> colSums;
    if (integerTerms) {
        byteRing = Allocate<unsigned char>(ringCount);
        colSums = Allocate<uint16_t>(padded);
        if (!byteRing || !colSums) return false;
    } else {
        ring = Allocate<double>(ringCount);
        if (!ring) return false;
    }
    std::unique_ptr<unsigned char[]> blurred = Allocate<unsigned char>(rowBytes);
    if (!blurred) return false;

    const size_t L = static_cast<size_t>(padded);
    const size_t count = static_cast<size_t>(rowBytes);
    auto source = [&](int32_t y) { return pixels + static_cast<size_t>(y) * static_cast<size_t>(stride); };
    const bool vector = simd != Simd::kScalar;
    auto sharpenRow = [&](unsigned char *row) {
#if defined(__SSE2__)
        if (vector) return UnsharpRowSse2(row, blurred.get(), count, prm.t, prm.k);
#endif
        SharpenLanes(row, blurred.get(), 0, count, prm.t, prm.k);
    };

    if (integerTerms) {
        // Ring of padded byte rows; the padding stays zero from allocation.
        auto ringRow = [&](int32_t y) { return byteRing.get() + static_cast<size_t>(y % slots) * L; };
        auto load = [&](int32_t y) { std::memcpy(ringRow(y) + pad, source(y), count); };
        const int inner = n - 1;  // the inner box spans dy, dx in -inner..inner
        const int boxWidth = 2 * inner + 1;
        for (int32_t y = 0; y < height && y < n; ++y) load(y);
        uint16_t *col = colSums.get();
        const unsigned char *rows[7];
        for (int32_t y = 0; y < height; ++y) {
            if (y + n - 1 < height && y > 0) load(y + n - 1);
            int rowCount = 0;
            for (int dy = -inner; dy <= inner; ++dy) {
                const int32_t yy = y + dy;
                if (yy >= 0 && yy < height) rows[rowCount++] = ringRow(yy);
            }
            // The box's first column is dx = -inner, 3 bytes into the padding.
#if defined(__SSE2__)
            if (vector) {
                ColumnSumsSse2(rows, rowCount, L, col);
                BoxRowSse2(col + 3, boxWidth, count, prm.inv, blurred.get());
            }
#endif
            if (!vector) {
                ColumnSumsScalar(rows, rowCount, L, col);
                BoxLanes(col + 3, boxWidth, 0, count, prm.inv, blurred.get());
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
