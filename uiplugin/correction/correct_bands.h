#pragma once
// CorrectPicture on several threads for large pictures (the CLI's full
// pages). The picture is cut into bands of whole rows, one per worker; each
// worker streams its band through a scratch block of its own in chunks of
// rows, together with the original rows around the chunk that its outputs
// depend on (the halo), so every output byte is computed from exactly the
// values the single pass uses: the result does not depend on the number of
// threads or on the chunk size.
//
// Halo of a chunk of rows [c0, c1): an unsharp-masked row y reads the
// original rows y - n .. y + n (n = radius / 10 + 1); a sharpened row reads
// the masked and looked-up rows y - 1 .. y + 1. So [c0, c1) needs the
// original rows c0 - n - 1 .. c1 + n, clipped to the picture (rows outside
// the picture add nothing to the blur, exactly as at the picture's edges).
#include <cstdint>

#include "uiplugin/correction/image_correction.h"

namespace qx {

// Workers to use when none are asked for: the processor count, at least 1.
int DefaultCorrectionThreads();

// CorrectPicture's bytes and result on `threads` workers (1 or less: the
// calling thread alone, which is CorrectPicture itself). The calling thread
// works one band itself. When the bands' scratch cannot be had, or a worker
// cannot be started, the work is done on fewer threads, never left out.
// Returns false where CorrectPicture would (a step without its scratch
// memory, a radius outside 1..30); after a failed allocation inside a step
// the bands may differ in which steps they received.
bool CorrectPictureThreaded(const CorrectionSettings &settings, unsigned char *pixels, int32_t width,
                            int32_t height, uint64_t stride, int threads);

namespace detail {

// The same with the chunk height bounded by `maxChunkRows` (at least 1), so
// tests can put chunk seams anywhere; 0 picks the usual height.
bool CorrectPictureInBands(const CorrectionSettings &settings, unsigned char *pixels, int32_t width,
                           int32_t height, uint64_t stride, int threads, int32_t maxChunkRows);

}  // namespace detail

}  // namespace qx
