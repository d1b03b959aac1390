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

#include "uiplugin/correction/engine/correction_kernels.h"
#include "uiplugin/correction/engine/image_correction.h"

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

}  // namespace

namespace detail {

bool ApplyUnsharpMaskUsing(Simd simd, const CorrectionSettings &settings, int32_t width, int32_t height,
                           unsigned char *pixels) {
    if (width <= 0 || height <= 0) return true;
    UnsharpParams prm;
    if (!MakeParams(settings, &prm)) return false;
    const KernelSet &kernels = KernelsFor(simd);

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
    auto sharpenRow = [&](unsigned char *row) { kernels.unsharpRow(row, blurred.get(), count, prm.t, prm.k); };

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
            kernels.columnSums(rows, rowCount, L, col);
            kernels.boxRow(col + 3, boxWidth, count, prm.inv, blurred.get());
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
        kernels.blurRow(cells, cellCount, count, prm.inv, blurred.get());
        sharpenRow(source(y));
    }
    return true;
}

}  // namespace detail

bool ApplyUnsharpMask(const CorrectionSettings &settings, int32_t width, int32_t height, unsigned char *pixels) {
    return detail::ApplyUnsharpMaskUsing(detail::BestSimd(), settings, width, height, pixels);
}

}  // namespace qx
