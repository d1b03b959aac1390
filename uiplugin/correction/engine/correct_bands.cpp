// CorrectPicture in bands of rows on several threads; see correct_bands.h
// for why the halo is what it is.
//
// A band [y0, y1) is worked in three parts. Its first and last edge rows
// (E of them, E >= halo) go through the worker's scratch: copied in with
// their halo, corrected there, copied back, so the worker never writes a
// row of another band and never reads one after the other worker may have
// changed it (the neighbours' halo rows are copied before any worker
// starts). The middle, rows [y0 + E, y1 - E), is corrected in the picture
// itself: its halo rows are the band's own, so the worker puts the
// originals back into the halo rows above it for the time of the pass
// (their corrected bytes wait aside) and takes the last edge rows, which
// the pass spoils, into the scratch first. A band too short for
// that (fewer than 2 E + halo rows) goes through the scratch in chunks of
// E rows.
#include "uiplugin/correction/engine/correct_bands.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace qx {

namespace {

// Edge rows of a band: enough that the rows worked twice (three halos a
// band) and the rows copied stay a small share of a band of a large picture.
constexpr int32_t kEdgeRows = 64;
// Rows a band has at least when the public operation picks the bands: four
// times the widest halo (4 + 1 rows), so that the rows a band works twice
// and its scratch stay well below its own.
constexpr int32_t kMinBandRows = 20;

struct Job {
    const CorrectionSettings *settings;
    unsigned char *pixels;
    int32_t width;
    int32_t height;
    size_t stride;
    size_t rowBytes;  // 3 W: the padding is never read or written
    ToneTable table;
    bool unsharp;      // the mask runs (its radius is valid)
    int level;         // sharpness kernel level, 0 when the filter does not run
    int32_t halo;      // original rows needed above and below a run of rows
    int32_t edgeRows;  // E, at least the halo
};

struct Band {
    int32_t y0 = 0, y1 = 0;
    int32_t chunkRows = 0;  // min(E, band height)
    // chunkRows + 2 halo rows: a chunk with its halo, corrected there.
    std::unique_ptr<unsigned char[]> scratch;
    // Original rows c0 - halo .. c0 - 1 above the run of rows starting at
    // c0: the band's top halo at first, then the last rows of the chunk
    // before, which the worker has written back corrected by then.
    std::unique_ptr<unsigned char[]> above;
    // Original rows y1 .. y1 + halo - 1 (other workers may correct them
    // before this band's last chunk needs them); once the last chunk has
    // its input, the corrected rows above the middle wait here.
    std::unique_ptr<unsigned char[]> below;
    bool ok = true;
    bool runHere = false;  // on the calling thread
};

template <typename Byte>
Byte *RowOf(Byte *base, size_t stride, int64_t index) {
    return base + static_cast<size_t>(index) * stride;
}

void CopyRows(const Job &job, unsigned char *to, const unsigned char *from, int64_t count) {
    for (int64_t i = 0; i < count; ++i)
        std::memcpy(RowOf(to, job.stride, i), RowOf(from, job.stride, i), job.rowBytes);
}

// First row of the scratch for the chunk [c0, c1): its halo clipped to the
// picture.
int32_t ScratchTop(const Job &job, int32_t c0) { return std::max<int32_t>(0, c0 - job.halo); }
int32_t ScratchEnd(const Job &job, int32_t c1) {
    return static_cast<int32_t>(std::min<int64_t>(job.height, int64_t{c1} + job.halo));
}

// The chunk [c0, c1) with its halo into the scratch, and the originals
// above c1 into `above` for the rows after it. `carried`: the rows above c0
// are corrected already and their originals wait in `above`.
void FillChunk(const Job &job, Band &band, int32_t c0, int32_t c1, bool carried) {
    const int32_t a = ScratchTop(job, c0), b = ScratchEnd(job, c1);
    unsigned char *const scratch = band.scratch.get();
    for (int32_t r = a; r < b; ++r) {
        const unsigned char *src = r < c0 && carried ? RowOf(band.above.get(), job.stride, int64_t{r} - (c0 - job.halo))
                                   : r < band.y1     ? RowOf(job.pixels, job.stride, r)
                                                     : RowOf(band.below.get(), job.stride, r - band.y1);
        std::memcpy(RowOf(scratch, job.stride, r - a), src, job.rowBytes);
    }
    if (c1 < band.y1) {
        for (int32_t r = std::max<int32_t>(0, c1 - job.halo); r < c1; ++r)
            std::memcpy(RowOf(band.above.get(), job.stride, int64_t{r} - (c1 - job.halo)),
                        RowOf(scratch, job.stride, r - a), job.rowBytes);
    }
}

// The single-pass steps on rows [a, b) of the picture laid out at `first`
// (row a), where rows [c0, c1) get their final bytes: the mask on all of
// [a, b), then the filter on [c0 - 1, c1 + 1) within the picture, or the
// lookup on [c0, c1).
bool CorrectRun(const Job &job, unsigned char *first, int32_t a, int32_t b, int32_t c0, int32_t c1) {
    auto at = [&](int32_t r) { return RowOf(first, job.stride, r - a); };
    bool ok = true;
    if (job.unsharp) ok = ApplyUnsharpMask(*job.settings, job.width, b - a, first);
    bool lookedUp = false;
    if (job.level != 0) {
        // Rows c0 - 1 and c1 serve as neighbours only; at the picture's top
        // and bottom the run's own first or last row is the filter's edge.
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
    return ok;
}

// The filled chunk [c0, c1) corrected in the scratch and copied back.
void FinishChunk(const Job &job, Band &band, int32_t c0, int32_t c1) {
    const int32_t a = ScratchTop(job, c0);
    band.ok = CorrectRun(job, band.scratch.get(), a, ScratchEnd(job, c1), c0, c1) && band.ok;
    CopyRows(job, RowOf(job.pixels, job.stride, c0), RowOf(band.scratch.get(), job.stride, c0 - a), c1 - c0);
}

void CorrectBand(const Job &job, Band &band) {
    if (job.halo == 0) {
        // The lookup alone: every row by itself, in place.
        for (int32_t r = band.y0; r < band.y1; ++r) ApplyToneRow(RowOf(job.pixels, job.stride, r), job.width, job.table);
        return;
    }
    const int32_t e = job.edgeRows, h = job.halo;
    // The middle needs h rows at least: the last chunk's halo above lies in
    // it and must still be original when that chunk is filled.
    if (int64_t{band.y1} - band.y0 < 2 * int64_t{e} + h) {
        for (int32_t c0 = band.y0; c0 < band.y1;) {
            const int32_t c1 = static_cast<int32_t>(std::min<int64_t>(band.y1, int64_t{c0} + band.chunkRows));
            FillChunk(job, band, c0, c1, true);
            FinishChunk(job, band, c0, c1);
            c0 = c1;
        }
        return;
    }
    const int32_t m0 = band.y0 + e, m1 = band.y1 - e;
    FillChunk(job, band, band.y0, m0, true);
    FinishChunk(job, band, band.y0, m0);
    // The last chunk's input before the middle's pass overwrites its rows;
    // its halo above lies in the middle, still original.
    FillChunk(job, band, m1, band.y1, false);
    // Rows m0 - h .. m0 - 1 are final already and hold the middle's top
    // halo for the pass (e >= h keeps them in this band, as m1 .. m1 + h).
    unsigned char *const top = RowOf(job.pixels, job.stride, m0 - h);
    CopyRows(job, band.below.get(), top, h);
    CopyRows(job, top, band.above.get(), h);
    band.ok = CorrectRun(job, top, m0 - h, m1 + h, m0, m1) && band.ok;
    CopyRows(job, top, band.below.get(), h);
    FinishChunk(job, band, m1, band.y1);
}

template <typename T>
std::unique_ptr<T[]> Allocate(size_t count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

// Original rows [first, first + count) of the picture into `to`; rows
// outside the picture are never read, their slots are left as they are.
void CaptureRows(const Job &job, unsigned char *to, int64_t first, int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        const int64_t r = first + i;
        if (r >= 0 && r < job.height) std::memcpy(RowOf(to, job.stride, i), RowOf(job.pixels, job.stride, r), job.rowBytes);
    }
}

// The bands with their scratch and the original halo rows, taken before any
// worker starts; false when the memory cannot be had.
bool PlanBands(const Job &job, int32_t count, std::vector<Band> *bands) {
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
        band.chunkRows = std::min(job.edgeRows, band.y1 - band.y0);
        if (job.halo == 0) continue;
        const uint64_t rows = static_cast<uint64_t>(band.chunkRows) + 2 * haloRows;
        if (rows > PTRDIFF_MAX / job.stride) return false;
        band.scratch = Allocate<unsigned char>(static_cast<size_t>(rows) * job.stride);
        band.above = Allocate<unsigned char>(haloRows * job.stride);
        band.below = Allocate<unsigned char>(haloRows * job.stride);
        if (!band.scratch || !band.above || !band.below) return false;
        CaptureRows(job, band.above.get(), int64_t{band.y0} - job.halo, job.halo);
        CaptureRows(job, band.below.get(), band.y1, job.halo);
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
                           int32_t height, uint64_t stride, int bands, int32_t edgeRows) {
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
    job.edgeRows = std::max(edgeRows > 0 ? edgeRows : kEdgeRows, job.halo);

    std::vector<Band> list;
    if (!PlanBands(job, std::clamp<int32_t>(bands, 1, height), &list)) {
        list.clear();
        return CorrectPicture(settings, pixels, width, height, stride);
    }

    // Band 0 on this thread; a band whose worker cannot start runs here too.
    std::vector<std::thread> workers;
    try {
        workers.reserve(list.size() - 1);
    } catch (const std::bad_alloc &) {
    }
    list[0].runHere = true;
    for (size_t i = 1; i < list.size(); ++i) {
        Band *band = &list[i];
        try {
            workers.emplace_back([&job, band] { CorrectBand(job, *band); });
        } catch (const std::exception &) {
            // std::system_error when no thread can be had, bad_alloc when
            // the list of workers cannot grow.
            band->runHere = true;
        }
    }
    for (Band &band : list)
        if (band.runHere) CorrectBand(job, band);
    for (std::thread &t : workers) t.join();
    for (const Band &band : list) ok = ok && band.ok;
    return ok;
}

}  // namespace detail

bool CorrectPictureThreaded(const CorrectionSettings &settings, unsigned char *pixels, int32_t width,
                            int32_t height, uint64_t stride, int threads) {
    if (threads <= 1 || height <= 1) return CorrectPicture(settings, pixels, width, height, stride);
    const int64_t bands = std::min<int64_t>(threads, std::max<int64_t>(1, height / kMinBandRows));
    if (bands <= 1) return CorrectPicture(settings, pixels, width, height, stride);
    return detail::CorrectPictureInBands(settings, pixels, width, height, stride, static_cast<int>(bands), 0);
}

}  // namespace qx
