// .COL files, field by field through the settings codec.
#include "uiplugin/correction/picture/col_file.h"

#include "uiplugin/settings/le_bytes.h"

namespace qx {

const char *DescribeColError(ColError error) {
    switch (error) {
    case ColError::kNone: return "no error";
    case ColError::kTooShort: return "colour correction file shorter than 44 bytes";
    case ColError::kWrongHeader: return "not a colour correction data file (header words are not 44 and 100)";
    }
    return "unknown colour correction file error";
}

ColError DecodeColorCorrectionFile(const unsigned char *data, size_t size, CorrectionSettings *settings) {
    if (size < 4) return ColError::kTooShort;
    if (LoadU16(data) != kColorCorrectionRecordSize || LoadU16(data + 2) != kColorCorrectionFormatVersion)
        return ColError::kWrongHeader;
    if (size < kColorCorrectionFileSize) return ColError::kTooShort;
    CorrectionSettings s = ReadCorrectionSettings(data + 4);
    s.reserved = 0;
    *settings = s;
    return ColError::kNone;
}

std::array<unsigned char, kColorCorrectionFileSize> EncodeColorCorrectionFile(const CorrectionSettings &settings) {
    std::array<unsigned char, kColorCorrectionFileSize> file{};
    StoreU16(file.data(), kColorCorrectionRecordSize);
    StoreU16(file.data() + 2, kColorCorrectionFormatVersion);
    CorrectionSettings s = settings;
    s.reserved = 0;
    WriteCorrectionSettings(s, file.data() + 4);
    return file;
}

}  // namespace qx
