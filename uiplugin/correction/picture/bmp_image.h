#pragma once
// Uncompressed 24-bit bitmap files in memory: the pictures the qx748 CLI
// corrects. Any information header of 40 bytes or more is accepted, rows
// bottom-up or top-down; the rows stay in their stored order.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qx {

enum class BmpError {
    kNone,
    kNotBmp,             // no "BM" signature
    kTruncated,          // the file ends before its headers or pixel data do
    kUnsupportedHeader,  // information header shorter than 40 bytes
    kNot24Bit,
    kCompressed,         // biCompression other than BI_RGB
    kBadDimensions,      // width 0 or less, or height 0
    kBadOffset,          // pixel data said to start inside the headers
    kSizeOverflow,       // sizes beyond what the format's 32-bit fields hold
    kOutOfMemory,
};
const char *DescribeBmpError(BmpError error);

struct BmpImage {
    int32_t width = 0;
    int32_t height = 0;  // as stored: negative for top-down rows
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    size_t stride = 0;                  // 3 x width rounded up to 4
    std::vector<unsigned char> pixels;  // rows() rows, stride apart, in stored order

    int32_t rows() const { return height < 0 ? -height : height; }
};

constexpr size_t kBmpHeadersSize = 54;  // file header 14 + information header 40

// The rows of a 24-bit picture with these dimensions, or kSizeOverflow /
// kBadDimensions; `bytes` receives stride x rows.
BmpError BmpPixelBytes(int32_t width, int32_t height, uint64_t *stride, uint64_t *bytes);

BmpError DecodeBmp(const unsigned char *data, size_t size, BmpImage *image);

// A 24-bit file with 54 bytes of headers and the rows as stored. False when
// the picture's dimensions are invalid or its size does not fit the format.
bool EncodeBmp(const BmpImage &image, std::vector<unsigned char> *file);

}  // namespace qx
