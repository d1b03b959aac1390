// CorrectPicture in bands of rows on several threads; see correct_bands.h
// for why the halo is what it is.
#include "uiplugin/correction/correct_bands.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace qx {

namespace {

// Rows a chunk holds at most: about this many bytes of scratch a worker,
// which keeps the rows worked twice (the halo) near 2 % of the rows at the
// widest radius, and the scratch of two workers near a quarter of a page.
constexpr uint64_t kChunkBytes = 8u << 20;
constexpr int32_t kMinChunkRows = 16;

struct Job {
    const CorrectionSettings *settings;
    unsigned char *pixels;
    int32_t width;
    int32_t height;
    size_t stride;
    size_t rowBytes;  // 3 W: the padding is never read or written
    ToneTable table;
    bool unsharp;  // the mask runs (its radius is valid)
    int level;     // sharpness kernel level, 0 when the filter does not run
    int32_t halo;  // original rows needed above and below a chunk
};

struct Band {
    int32_t y0 = 0, y1 = 0;
    int32_t chunkRows = 0;
    // chunkRows + 2 halo rows: a chunk with its halo, corrected in place.
    std::unique_ptr<unsigned char[]> scratch;
    // Original rows c0 - halo .. c0 - 1 above the chunk starting at c0: the
    // band's top halo at first, then the last rows of the previous chunk,
    // which the worker has written back corrected by then.
    std::unique_ptr<unsigned char[]> above;
    // Original rows y1 .. y1 + halo - 1: the next bands may have corrected
    // them by the time this band's last chunk needs them.
    std::unique_ptr<unsigned char[]> below;
    bool ok = true;
    bool runHere = false;  // on the calling thread
};

unsigned char *RowOf(unsigned char *base, size_t stride, int64_t index) {
    return base + static_cast<size_t>(index) * stride;
}

// The rows of one chunk of a band: copied in with the halo, corrected in
// the scratch by the single-pass operations, copied back.
bool CorrectChunk(const Job &job, Band &band, int32_t c0, int32_t c1) {
    const int32_t a = std::max<int32_t>(0, c0 - job.halo);
    const int32_t b = static_cast<int32_t>(std::min<int64_t>(job.height, int64_t{c1} + job.halo));
    unsigned char *const scratch = band.scratch.get();
    auto at = [&](int32_t r) { return RowOf(scratch, job.stride, r - a); };
    for (int32_t r = a; r < b; ++r) {
        const unsigned char *src = r < c0        ? RowOf(band.above.get(), job.stride, int64_t{r} - (c0 - job.halo))
                                   : r < band.y1 ? RowOf(job.pixels, job.stride, r)
                                                 : RowOf(band.below.get(), job.stride, r - band.y1);
        std::memcpy(at(r), src, job.rowBytes);
    }
    if (c1 < band.y1) {
        for (int32_t r = std::max<int32_t>(0, c1 - job.halo); r < c1; ++r)
            std::memcpy(RowOf(band.above.get(), job.stride, int64_t{r} - (c1 - job.halo)), at(r), job.rowBytes);
    }

    bool ok = true;
    if (job.unsharp) ok = ApplyUnsharpMask(*job.settings, job.width, b - a, scratch);
    bool lookedUp = false;
    if (job.level != 0) {
        // Rows c0 - 1 and c1 serve as neighbours only; at the picture's top
        // and bottom the chunk's own first or last row is the filter's edge.
        const int32_t sa = std::max<int32_t>(0, c0 - 1);
        const int32_t sb = std::min<int32_t>(job.height, c1 + 1);
        // Fewer than 3 rows happens only for a one-row chunk at the top or
        // bottom edge, a row the filter only looks up.
        if (sb - sa >= 3) {
            ok = ApplySharpnessFilter(at(sa), job.width, sb - sa, job.stride, job.level, job.table) && ok;
            lookedUp = true;
        }
    }
    if (!lookedUp)
        for (int32_t r = c0; r < c1; ++r) ApplyToneRow(at(r), job.width, job.table);
    for (int32_t r = c0; r < c1; ++r) std::memcpy(RowOf(job.pixels, job.stride, r), at(r), job.rowBytes);
    return ok;
}

void CorrectBand(const Job &job, Band &band) {
    if (job.halo == 0) {
        // The lookup alone: every row by itself, in place.
        for (int32_t r = band.y0; r < band.y1; ++r) ApplyToneRow(RowOf(job.pixels, job.stride, r), job.width, job.table);
        return;
    }
    for (int32_t c0 = band.y0; c0 < band.y1;) {
        const int32_t c1 = static_cast<int32_t>(std::min<int64_t>(band.y1, int64_t{c0} + band.chunkRows));
        band.ok = CorrectChunk(job, band, c0, c1) && band.ok;
        c0 = c1;
    }
}

template <typename T>
std::unique_ptr<T[]> Allocate(size_t count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]());
}

// Halo rows outside the picture are never read; the slots stay zero.
void CopyRows(const Job &job, unsigned char *to, int64_t first, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        const int64_t r = first + i;
        if (r >= 0 && r < job.height) std::memcpy(RowOf(to, job.stride, i), RowOf(job.pixels, job.stride, r), job.rowBytes);
    }
}

// The bands with their scratch and the original halo rows, taken before any
// worker starts; false when the memory cannot be had.
bool PlanBands(const Job &job, int threads, int32_t maxChunkRows, std::vector<Band> *bands) {
    const int32_t count = static_cast<int32_t>(std::min<int64_t>(std::max(threads, 1), job.height));
    const int64_t usual = std::max<int64_t>(kMinChunkRows, static_cast<int64_t>(kChunkBytes / job.stride));
    const int64_t limit = maxChunkRows > 0 ? maxChunkRows : usual;
    try {
        bands->resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc &) {
        return false;
    }
    const size_t haloRows = static_cast<size_t>(job.halo);
    for (int32_t i = 0; i < count; ++i) {
        Band &band = (*bands)[static_cast<size_t>(i)];
        band.y0 = static_cast<int32_t>(int64_t{job.height} * i / count);
        band.y1 = static_cast<int32_t>(int64_t{job.height} * (i + 1) / count);
        band.chunkRows = static_cast<int32_t>(std::min<int64_t>(limit, band.y1 - band.y0));
        if (job.halo == 0) continue;
        const uint64_t rows = static_cast<uint64_t>(band.chunkRows) + 2 * haloRows;
        if (rows > PTRDIFF_MAX / job.stride) return false;
        band.scratch = Allocate<unsigned char>(static_cast<size_t>(rows) * job.stride);
        band.above = Allocate<unsigned char>(haloRows * job.stride);
        band.below = Allocate<unsigned char>(haloRows * job.stride);
        if (!band.scratch || !band.above || !band.below) return false;
        CopyRows(job, band.above.get(), int64_t{band.y0} - job.halo, job.halo);
        CopyRows(job, band.below.get(), band.y1, job.halo);
    }
    return true;
}

}  // namespace

int DefaultCorrectionThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(std::min<unsigned>(n, 1024));
}

namespace detail {

bool CorrectPictureInBands(const CorrectionSettings &settings, unsigned char *pixels, int32_t width,
                           int32_t height, uint64_t stride, int threads, int32_t maxChunkRows) {
    // The unsharp mask knows no stride of its own: other strides (and empty
    // pictures) go the single way, whatever it makes of them.
    if (width <= 0 || height <= 0 || stride != RowStride24(width) || stride > PTRDIFF_MAX / 2)
        return CorrectPicture(settings, pixels, width, height, stride);

    Job job;
    job.settings = &settings;
    job.pixels = pixels;
    job.width = width;
    job.height = height;
    job.stride = static_cast<size_t>(stride);
    job.rowBytes = 3 * static_cast<size_t>(width);
    BuildToneTable(settings, job.table);
    bool ok = true;
    int32_t n = 0;
    job.unsharp = false;
    if (settings.unsharpMask == 1) {
        // Out of range, the mask refuses before touching anything.
        if (settings.unsharpRadius >= 1 && settings.unsharpRadius <= 30) {
            job.unsharp = true;
            n = settings.unsharpRadius / 10 + 1;
        } else {
            ok = false;
        }
    }
    job.level = (width > 2 && height > 2) ? (settings.sharpness & 7) : 0;
    job.halo = n + (job.level != 0 ? 1 : 0);

    std::vector<Band> bands;
    if (!PlanBands(job, threads, maxChunkRows, &bands)) {
        bands.clear();
        return CorrectPicture(settings, pixels, width, height, stride);
    }

    // Band 0 on this thread; a band whose worker cannot start runs here too.
    std::vector<std::thread> workers;
    try {
        workers.reserve(bands.size() - 1);
    } catch (const std::bad_alloc &) {
    }
    bands[0].runHere = true;
    for (size_t i = 1; i < bands.size(); ++i) {
        Band *band = &bands[i];
        try {
            workers.emplace_back([&job, band] { CorrectBand(job, *band); });
        } catch (const std::exception &) {
            // std::system_error when no thread can be had, bad_alloc when
            // the list of workers cannot grow.
            band->runHere = true;
        }
    }
    for (Band &band : bands)
        if (band.runHere) CorrectBand(job, band);
    for (std::thread &t : workers) t.join();
    for (const Band &band : bands) ok = ok && band.ok;
    return ok;
}

}  // namespace detail

bool CorrectPictureThreaded(const CorrectionSettings &settings, unsigned char *pixels, int32_t width,
                            int32_t height, uint64_t stride, int threads) {
    if (threads <= 1) return CorrectPicture(settings, pixels, width, height, stride);
    return detail::CorrectPictureInBands(settings, pixels, width, height, stride, threads, 0);
}

}  // namespace qx
