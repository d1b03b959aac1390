#pragma once
// CorrectPicture on several threads for large pictures (the CLI's full
// pages). The picture is cut into bands of whole rows, one per worker, and
// every output byte is computed from exactly the values the single pass
// uses, so the result does not depend on the number of threads.
//
// What an output row depends on: an unsharp-masked row y reads the original
// rows y - n .. y + n (n = radius / 10 + 1); a sharpened row reads the
// masked and looked-up rows y - 1 .. y + 1. So a run of rows [c0, c1)
// needs the original rows c0 - n - 1 .. c1 + n (its halo), clipped to the
// picture: rows outside the picture add nothing to the blur, exactly as at
// the picture's edges, and the filter leaves the outer rows looked up only.
#include <cstdint>

#include "uiplugin/correction/engine/image_correction.h"

namespace qx {

// Workers to use when none are asked for: the processor count, at least 1.
int DefaultCorrectionThreads();

// CorrectPicture's bytes and result on up to `threads` workers (1 or less:
// the calling thread alone, which is CorrectPicture itself), with bands of
// at least 20 rows. The calling thread works one band itself. When the
// bands' scratch cannot be had, or a worker cannot be started, the work is
// done on fewer threads, never left out. Returns false where CorrectPicture
// would (a step without its scratch memory, a radius outside 1..30); after
// a failed allocation inside a step, some rows may lack that step where the
// single pass would have left it out of every row.
bool CorrectPictureThreaded(const CorrectionSettings &settings, unsigned char *pixels, int32_t width,
                            int32_t height, uint64_t stride, int threads);

namespace detail {

// The same on exactly `bands` bands (limited to 1..height), each band's
// rows worked through the scratch in `edgeRows` at its top and bottom (at
// least the halo; 0 picks the usual number) and in place between them, or
// in chunks of that many rows when the band is shorter than twice that
// plus the halo. Small values let the tests put every kind of seam into
// small pictures.
bool CorrectPictureInBands(const CorrectionSettings &settings, unsigned char *pixels, int32_t width,
                           int32_t height, uint64_t stride, int bands, int32_t edgeRows);

}  // namespace detail

}  // namespace qx
