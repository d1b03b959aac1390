#pragma once
// The 44-byte colour correction data file (.COL): the words 44 and 100,
// then one CorrectionSettings block exactly as the private record holds it.
#include <array>
#include <cstddef>
#include <cstdint>

#include "uiplugin/settings/private_devmode.h"

namespace qx {

constexpr size_t kColorCorrectionFileSize = 44;
constexpr uint16_t kColorCorrectionRecordSize = 44;
constexpr uint16_t kColorCorrectionFormatVersion = 100;

enum class ColError {
    kNone,
    kTooShort,     // fewer than 44 bytes
    kWrongHeader,  // the first two words are not 44 and 100
};
const char *DescribeColError(ColError error);

// Only the two header words are checked, not the field values; bytes after
// the 44th are not read. `reserved` is ignored and comes back as 0.
ColError DecodeColorCorrectionFile(const unsigned char *data, size_t size, CorrectionSettings *settings);

// `reserved` is written as 0.
std::array<unsigned char, kColorCorrectionFileSize> EncodeColorCorrectionFile(const CorrectionSettings &settings);

}  // namespace qx
