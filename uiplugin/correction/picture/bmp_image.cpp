// 24-bit bitmap files, read and written field by field, little-endian.
#include "uiplugin/correction/picture/bmp_image.h"

#include <cstring>
#include <new>

#include "uiplugin/correction/engine/image_correction.h"
#include "uiplugin/settings/le_bytes.h"

namespace qx {

namespace {

constexpr uint16_t kSignature = 0x4D42;  // "BM"
constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kMinInfoHeaderSize = 40;
constexpr uint64_t kFormatLimit = 0xFFFFFFFFu;  // bfSize and biSizeImage are 32-bit

}  // namespace

const char *DescribeBmpError(BmpError error) {
    switch (error) {
    case BmpError::kNone: return "no error";
    case BmpError::kNotBmp: return "not a BMP file";
    case BmpError::kTruncated: return "truncated BMP file";
    case BmpError::kUnsupportedHeader: return "BMP information header shorter than 40 bytes";
    case BmpError::kNot24Bit: return "not a 24-bit BMP file";
    case BmpError::kCompressed: return "compressed BMP file (only uncompressed 24-bit is supported)";
    case BmpError::kBadDimensions: return "BMP width or height is zero or negative";
    case BmpError::kBadOffset: return "BMP pixel data offset lies inside the headers";
    case BmpError::kSizeOverflow: return "BMP sizes overflow";
    case BmpError::kOutOfMemory: return "not enough memory for the picture";
    }
    return "unknown BMP error";
}

BmpError BmpPixelBytes(int32_t width, int32_t height, uint64_t *stride, uint64_t *bytes) {
    if (width <= 0 || height == 0) return BmpError::kBadDimensions;
    // |INT32_MIN| is no 32-bit row count.
    if (height == INT32_MIN) return BmpError::kSizeOverflow;
    const uint64_t rows = static_cast<uint64_t>(height < 0 ? -static_cast<int64_t>(height) : height);
    *stride = RowStride24(width);
    *bytes = *stride * rows;  // < 2^33 x 2^31, no overflow in 64 bits
    if (*bytes > kFormatLimit - kBmpHeadersSize) return BmpError::kSizeOverflow;
    return BmpError::kNone;
}

BmpError DecodeBmp(const unsigned char *data, size_t size, BmpImage *image) {
    if (size < 2 || LoadU16(data) != kSignature) return BmpError::kNotBmp;
    if (size < kFileHeaderSize + 4) return BmpError::kTruncated;
    const uint32_t offBits = LoadU32(data + 10);
    const unsigned char *info = data + kFileHeaderSize;
    const uint32_t infoSize = LoadU32(info);
    if (infoSize < kMinInfoHeaderSize) return BmpError::kUnsupportedHeader;
    if (size < kFileHeaderSize + kMinInfoHeaderSize) return BmpError::kTruncated;
    const int32_t width = LoadI32(info + 4);
    const int32_t height = LoadI32(info + 8);
    if (LoadU16(info + 14) != 24) return BmpError::kNot24Bit;
    if (LoadU32(info + 16) != 0) return BmpError::kCompressed;
    uint64_t stride = 0, bytes = 0;
    const BmpError geometry = BmpPixelBytes(width, height, &stride, &bytes);
    if (geometry != BmpError::kNone) return geometry;
    if (static_cast<uint64_t>(offBits) < kFileHeaderSize + static_cast<uint64_t>(infoSize)) return BmpError::kBadOffset;
    if (static_cast<uint64_t>(offBits) + bytes > kFormatLimit) return BmpError::kSizeOverflow;
    if (static_cast<uint64_t>(offBits) + bytes > size) return BmpError::kTruncated;

    BmpImage out;
    out.width = width;
    out.height = height;
    out.xPelsPerMeter = LoadI32(info + 24);
    out.yPelsPerMeter = LoadI32(info + 28);
    out.stride = static_cast<size_t>(stride);
    try {
        out.pixels.assign(data + offBits, data + offBits + static_cast<size_t>(bytes));
    } catch (const std::bad_alloc &) {
        return BmpError::kOutOfMemory;
    }
    *image = std::move(out);
    return BmpError::kNone;
}

bool EncodeBmp(const BmpImage &image, std::vector<unsigned char> *file) {
    uint64_t stride = 0, bytes = 0;
    if (BmpPixelBytes(image.width, image.height, &stride, &bytes) != BmpError::kNone) return false;
    if (image.stride != stride || image.pixels.size() != bytes) return false;
    std::vector<unsigned char> out(kBmpHeadersSize + static_cast<size_t>(bytes));
    unsigned char *h = out.data();
    StoreU16(h, kSignature);
    StoreU32(h + 2, static_cast<uint32_t>(kBmpHeadersSize + bytes));
    StoreU32(h + 10, static_cast<uint32_t>(kBmpHeadersSize));
    unsigned char *info = h + kFileHeaderSize;
    StoreU32(info, kMinInfoHeaderSize);
    StoreI32(info + 4, image.width);
    StoreI32(info + 8, image.height);
    StoreU16(info + 12, 1);   // planes
    StoreU16(info + 14, 24);  // bits per pixel
    StoreU32(info + 20, static_cast<uint32_t>(bytes));
    StoreI32(info + 24, image.xPelsPerMeter);
    StoreI32(info + 28, image.yPelsPerMeter);
    if (bytes != 0) std::memcpy(h + kBmpHeadersSize, image.pixels.data(), static_cast<size_t>(bytes));
    *file = std::move(out);
    return true;
}

}  // namespace qx
