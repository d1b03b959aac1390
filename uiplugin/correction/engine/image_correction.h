#pragma once
// The colour corrections the preview applies to 24-bit pictures: the tone and
// colour-balance lookup, the unsharp mask and the sharpness filter.
//
// Pixel buffers: 3 bytes a pixel (blue, green, red), rows one stride apart,
// the stride being 3 x width rounded up to a multiple of 4. The bytes between
// a row's last pixel and the next row (the padding) are never read or written.
// Every output byte is fixed by the integer and double rules written beside
// each operation; the fast forms here produce exactly those bytes.
#include <cstddef>
#include <cstdint>

#include "uiplugin/settings/private_devmode.h"

namespace qx {

// The lookup block: 1799 bytes, laid out as the print-time components expect.
//   0..255     blue table      (offset from yellowBlue)
//   256..511   green table     (offset from magentaGreen)
//   512..767   red table       (offset from cyanRed)
//   768..769   never written or read
//   770..1791  saturation table: 511 signed 16-bit values in host order; the
//              entry for a difference k (-255..255) is 16-bit element 640 + k
//              of the block, i.e. bytes 1280 + 2k
//   1792..1798 never written or read
constexpr size_t kToneTableSize = 1799;
constexpr size_t kToneBlueOffset = 0;
constexpr size_t kToneGreenOffset = 256;
constexpr size_t kToneRedOffset = 512;
constexpr size_t kToneSaturationOffset = 770;
constexpr int kToneSaturationZeroElement = 640;

struct ToneTable {
    unsigned char bytes[kToneTableSize];
};
static_assert(sizeof(ToneTable) == kToneTableSize, "ToneTable is 1799 bytes");

// Saturation entry for difference k (-255..255). The block is byte-aligned,
// so entries are read and written through memcpy.
int16_t SaturationEntry(const ToneTable &table, int k);

// Fills the three channel tables and the 511 saturation entries from
// brightness, contrast, saturation and the three balance fields (all integer,
// truncating division). The unwritten stretches keep their bytes.
void BuildToneTable(const CorrectionSettings &settings, ToneTable &table);

// Corrects `count` pixels in place: saturation from the incoming values
// first, then the channel tables. A count of 0 or less changes nothing.
void ApplyToneRow(unsigned char *row, int32_t count, const ToneTable &table);

// Row stride of a 24-bit picture in 64-bit arithmetic (width >= 0).
constexpr uint64_t RowStride24(int64_t width) { return (static_cast<uint64_t>(width) * 3 + 3) & ~uint64_t{3}; }

// Sharpens the width x height picture in place (unsharpAmount,
// unsharpRadius, unsharpThreshold; the caller tests unsharpMask). The blur
// sums the full window in double precision in the fixed order dy outer,
// dx inner, with y the row index in memory (row 0 first); top-down pictures
// must not be flipped around it. Returns false, leaving the picture exactly
// as it came in, when the scratch memory cannot be had (or its size would
// overflow) or the radius is outside 1..30; true otherwise, including for a
// width or height of 0 or less, which leaves the picture unchanged.
bool ApplyUnsharpMask(const CorrectionSettings &settings, int32_t width, int32_t height, unsigned char *pixels);

// Row i = level: centre weight w0, neighbour weight w1, shift. Row 0 unused.
struct SharpnessKernel {
    int16_t w0;
    int16_t w1;
    int16_t shift;
};
extern const SharpnessKernel SharpnessKernelTable[8];

// One pass that applies ApplyToneRow to every row and the level's 3 x 3
// kernel to every byte but those of the outer rows and outer pixels, always
// on looked-up, not yet sharpened values. Needs level 1..7, width >= 3,
// height >= 3 and stride >= 3 x width. Returns false, leaving the picture
// exactly as it came in (no lookup either), when these do not hold or the two
// scratch rows cannot be allocated.
bool ApplySharpnessFilter(unsigned char *pixels, int32_t width, int32_t height, uint64_t stride, int level,
                          const ToneTable &table);

// What the preview does to its pixels: the unsharp mask when unsharpMask is
// 1, then the sharpness filter with the lookup when (sharpness & 7) != 0 and
// the picture is at least 3 x 3, else the lookup on every row. Returns false
// when a step could not get its scratch memory (the picture then holds what
// the steps before it left; the preview draws it so).
bool CorrectPicture(const CorrectionSettings &settings, unsigned char *pixels, int32_t width, int32_t height,
                    uint64_t stride);

}  // namespace qx
