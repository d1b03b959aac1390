// Tone and colour-balance lookup: integer only, C++ division truncates toward
// zero as the table's rules require (-33 / 2 == -16).
#include <cstring>

#include "uiplugin/correction/engine/image_correction.h"

namespace qx {

namespace {

inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

inline size_t SaturationByte(int k) {
    return static_cast<size_t>(2 * (kToneSaturationZeroElement + k));
}

inline void StoreSaturation(ToneTable &table, int k, int16_t value) {
    std::memcpy(table.bytes + SaturationByte(k), &value, sizeof value);
}

}  // namespace

int16_t SaturationEntry(const ToneTable &table, int k) {
    int16_t value;
    std::memcpy(&value, table.bytes + SaturationByte(k), sizeof value);
    return value;
}

void BuildToneTable(const CorrectionSettings &s, ToneTable &table) {
    const int base = 5 * s.brightness;
    // Each balance slider moves its own channel by 3 and the other two by
    // 1.5 per step, truncated as one sum.
    const int blueOffset = base + (3 * (2 * s.yellowBlue - s.cyanRed - s.magentaGreen)) / 2;
    const int greenOffset = base + (3 * (2 * s.magentaGreen - s.cyanRed - s.yellowBlue)) / 2;
    const int redOffset = base + (3 * (2 * s.cyanRed - s.magentaGreen - s.yellowBlue)) / 2;
    const int contrastShift = 5 * s.contrast;
    const int contrastDivisor = 128 - contrastShift;  // never 0: 128 is no multiple of 5
    for (int i = 0; i < 256; ++i) {
        const int sat = (2 * s.saturation * i) / 30;
        StoreSaturation(table, i, static_cast<int16_t>(sat));
        StoreSaturation(table, -i, static_cast<int16_t>(-sat));
        const int h = ((i - contrastShift) * 128) / contrastDivisor;
        table.bytes[kToneBlueOffset + i] = static_cast<unsigned char>(Clamp255(h + blueOffset));
        table.bytes[kToneGreenOffset + i] = static_cast<unsigned char>(Clamp255(h + greenOffset));
        table.bytes[kToneRedOffset + i] = static_cast<unsigned char>(Clamp255(h + redOffset));
    }
}

void ApplyToneRow(unsigned char *row, int32_t count, const ToneTable &table) {
    const unsigned char *blue = table.bytes + kToneBlueOffset;
    const unsigned char *green = table.bytes + kToneGreenOffset;
    const unsigned char *red = table.bytes + kToneRedOffset;
    for (int32_t i = 0; i < count; ++i, row += 3) {
        const int b = row[0], g = row[1], r = row[2];
        // Each channel moves relative to the mean of the other two incoming
        // values; no channel sees another's new value.
        const int b1 = Clamp255(b + SaturationEntry(table, b - ((g + r) >> 1)));
        const int g1 = Clamp255(g + SaturationEntry(table, g - ((r + b) >> 1)));
        const int r1 = Clamp255(r + SaturationEntry(table, r - ((b + g) >> 1)));
        row[0] = blue[b1];
        row[1] = green[g1];
        row[2] = red[r1];
    }
}

}  // namespace qx
