#pragma once
// Direct forms of the corrections, written plainly from their rules with no
// regard for speed: the reference the tests compare the library with, and
// the "direct" side of the benchmark.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "uiplugin/correction/engine/image_correction.h"

namespace qx::oracle {

void ApplyToneRow(unsigned char *row, int32_t count, const ToneTable &table);

// Pass 1 alone: the packed blurred copy (3 W bytes a row), for the tests of
// the worked blur values.
std::vector<unsigned char> UnsharpBlur(const CorrectionSettings &settings, int32_t width, int32_t height,
                                       const unsigned char *pixels);
void ApplyUnsharpMask(const CorrectionSettings &settings, int32_t width, int32_t height, unsigned char *pixels);

void ApplySharpnessFilter(unsigned char *pixels, int32_t width, int32_t height, size_t stride, int level,
                          const ToneTable &table);

}  // namespace qx::oracle
