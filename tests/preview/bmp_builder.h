#pragma once
// Crafted 24-bit bitmap files for the preview tests: every header field can
// be set to a lie, and each pixel byte is a known function of its position.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qxtest {

using Bytes = std::vector<uint8_t>;

// Value of byte `b` (0..2) of stored row `row`, column `col`; the padding
// bytes get their own value so a test can tell them apart.
inline uint8_t PixelByte(uint64_t row, uint64_t col, int b) {
    return static_cast<uint8_t>(row * 7 + col * 13 + static_cast<uint64_t>(b) * 101 + 1);
}
inline uint8_t PaddingByte(uint64_t row, uint64_t k) { return static_cast<uint8_t>(0xA0 + row + k); }

struct BmpShape {
    int32_t width = 4;
    int32_t height = 4;  // negative: top-down
    uint16_t bitCount = 24;
    uint32_t biSize = 40;
    uint32_t headerGap = 0;        // bytes between the information header and the pixels
    int64_t bfSizeDelta = 0;       // added to the true bfSize
    int64_t bfOffBitsOverride = -1;
    uint64_t pixelRowsWritten = UINT64_MAX;  // rows actually present (for short files)
    uint16_t type = 0x4D42;
    uint16_t planes = 1;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPels = 2835;
};

inline void Put16(Bytes &b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint64_t StrideOf(int64_t w) { return (static_cast<uint64_t>(w) * 3 + 3) & ~uint64_t{3}; }

inline Bytes BuildBmp(const BmpShape &s) {
    const uint64_t rows = s.height < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(s.height))
                                       : static_cast<uint64_t>(s.height);
    const uint64_t w = s.width > 0 ? static_cast<uint64_t>(s.width) : 0;
    const uint64_t stride = StrideOf(static_cast<int64_t>(w));
    const uint64_t written = rows < s.pixelRowsWritten ? rows : s.pixelRowsWritten;
    const size_t off = 14 + 40 + s.headerGap;
    Bytes b(off + stride * written, 0);
    Put16(b, 0, s.type);
    Put32(b, 2, static_cast<uint32_t>(static_cast<int64_t>(off + stride * rows) + s.bfSizeDelta));
    Put32(b, 10, s.bfOffBitsOverride >= 0 ? static_cast<uint32_t>(s.bfOffBitsOverride) : static_cast<uint32_t>(off));
    Put32(b, 14, s.biSize);
    Put32(b, 18, static_cast<uint32_t>(s.width));
    Put32(b, 22, static_cast<uint32_t>(s.height));
    Put16(b, 26, s.planes);
    Put16(b, 28, s.bitCount);
    Put32(b, 30, s.compression);
    Put32(b, 34, s.sizeImage);
    Put32(b, 38, static_cast<uint32_t>(s.xPels));
    for (size_t i = 0; i < s.headerGap; ++i) b[54 + i] = 0xEE;
    for (uint64_t r = 0; r < written; ++r) {
        uint8_t *row = b.data() + off + r * stride;
        for (uint64_t c = 0; c < w; ++c)
            for (int k = 0; k < 3; ++k) row[c * 3 + k] = PixelByte(r, c, k);
        for (uint64_t k = w * 3; k < stride; ++k) row[k] = PaddingByte(r, k);
    }
    return b;
}

inline bool WriteFile(const std::string &path, const Bytes &bytes) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

inline Bytes ReadWholeFile(const std::string &path) {
    Bytes out;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

}  // namespace qxtest
