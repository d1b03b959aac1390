#include "uiplugin/correction/picture/preview_picture.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <new>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "uiplugin/correction/engine/image_correction.h"
#include "uiplugin/settings/le_bytes.h"

namespace qx {
namespace {

// Offsets inside BITMAPFILEHEADER and BITMAPINFOHEADER.
constexpr size_t kBfType = 0, kBfSize = 2, kBfOffBits = 10;
constexpr size_t kBiSize = 0, kBiWidth = 4, kBiHeight = 8, kBiPlanes = 12, kBiBitCount = 14;

// A picture used whole becomes one DIB section; the platform refuses larger
// ones, and nothing beyond this fits a 32-bit process either.
constexpr uint64_t kMaxWholePixelBytes = std::min<uint64_t>(
    static_cast<uint64_t>(std::numeric_limits<int32_t>::max()), std::numeric_limits<size_t>::max());

}  // namespace

size_t MemorySource::ReadAt(uint64_t offset, void *dst, size_t count) {
    ++reads;
    bytesAsked += count;
    if (offset >= size_) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, size_ - offset));
    std::memcpy(dst, data_ + offset, n);
    return n;
}

StdioFileSource::StdioFileSource(const char *path) {
    file_ = std::fopen(path, "rb");
    // Positioned reads of one row each: stdio's buffer would only add a copy.
    if (file_ != nullptr) std::setvbuf(file_, nullptr, _IONBF, 0);
}

StdioFileSource::~StdioFileSource() {
    if (file_ != nullptr) std::fclose(file_);
}

#ifdef _WIN32
namespace {
bool Seek(std::FILE *f, uint64_t offset, int whence) {
    if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
    return _fseeki64(f, static_cast<int64_t>(offset), whence) == 0;
}
int64_t Tell(std::FILE *f) { return _ftelli64(f); }
}  // namespace
#endif

uint64_t StdioFileSource::Size() {
    if (file_ == nullptr) return 0;
#ifdef _WIN32
    if (!Seek(file_, 0, SEEK_END)) return 0;
    const int64_t end = Tell(file_);
    return end < 0 ? 0 : static_cast<uint64_t>(end);
#else
    struct stat st {};
    return fstat(fileno(file_), &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
#endif
}

size_t StdioFileSource::ReadAt(uint64_t offset, void *dst, size_t count) {
    if (file_ == nullptr) return 0;
#ifdef _WIN32
    if (!Seek(file_, offset, SEEK_SET)) return 0;
    return std::fread(dst, 1, count, file_);
#else
    // One system call per row read: the cut-out's cost is these 192 calls.
    size_t done = 0;
    while (done < count) {
        if (offset + done > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) break;
        const ssize_t n = pread(fileno(file_), static_cast<char *>(dst) + done, count - done,
                                static_cast<off_t>(offset + done));
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
#endif
}

const char *DescribePictureFault(PictureFault fault) {
    switch (fault) {
    case PictureFault::None: return "usable";
    case PictureFault::NoFile: return "the file cannot be opened";
    case PictureFault::ShortFileHeader: return "the file is shorter than its 14-byte file header";
    case PictureFault::NotBitmap: return "the file does not start with \"BM\"";
    case PictureFault::HeaderAreaTooShort:
        return "the header area before the pixels cannot hold a 40-byte information header";
    case PictureFault::OffsetBeyondFile: return "the pixel data offset lies beyond the end of the file";
    case PictureFault::HeaderUnreadable: return "the information header cannot be read";
    case PictureFault::NotTwentyFourBit: return "the picture is not 24 bits per pixel";
    case PictureFault::EmptyPicture: return "the picture's width or height is 0 (or the width negative)";
    case PictureFault::TooLarge: return "the picture is too large to load whole";
    case PictureFault::NoScratch: return "no cut-out buffer";
    case PictureFault::NoSection: return "no memory for the picture";
    }
    return "unknown fault";
}

int32_t HeaderWidth(const InfoHeader &h) { return LoadI32(h.data() + kBiWidth); }
int32_t HeaderHeight(const InfoHeader &h) { return LoadI32(h.data() + kBiHeight); }
uint16_t HeaderBitCount(const InfoHeader &h) { return LoadU16(h.data() + kBiBitCount); }

InfoHeader BuiltinPictureHeader() {
    InfoHeader h{};
    StoreU32(h.data() + kBiSize, kBitmapInfoHeaderSize);
    StoreI32(h.data() + kBiWidth, kPreviewSide);
    StoreI32(h.data() + kBiHeight, kPreviewSide);
    StoreU16(h.data() + kBiPlanes, 1);
    StoreU16(h.data() + kBiBitCount, 24);
    return h;
}

int32_t PreviewSideForDpi(int dpi) {
    if (dpi <= 96) return kPreviewSide;
    const int64_t side = int64_t{kPreviewSide} * dpi / 96;
    return side > kLargestPreviewSide ? kLargestPreviewSide : static_cast<int32_t>(side);
}

size_t PreviewScratchBytes(int32_t side) {
    if (side < kPreviewSide || side > kLargestPreviewSide) return 0;
    return std::max<size_t>(kPreviewScratchSize, static_cast<size_t>(RowStride24(side)) * static_cast<size_t>(side));
}

int32_t BuiltinSideFor(int32_t side) {
    for (int32_t n : kBuiltinSides)
        if (n >= side) return n;
    return kBuiltinSides[sizeof kBuiltinSides / sizeof kBuiltinSides[0] - 1];
}

PictureFault PlanPicture(ByteSource &file, PicturePlan &plan, int32_t side) {
    plan = PicturePlan{};
    if (side < kPreviewSide || side > kLargestPreviewSide) side = kPreviewSide;
    const uint64_t fileSize = file.Size();

    uint8_t fh[kBitmapFileHeaderSize];
    if (file.ReadAt(0, fh, sizeof fh) != sizeof fh) return PictureFault::ShortFileHeader;
    if (LoadU16(fh + kBfType) != kBitmapSignature) return PictureFault::NotBitmap;
    const uint64_t bfSize = LoadU32(fh + kBfSize);
    const uint64_t bfOffBits = LoadU32(fh + kBfOffBits);
    if (bfOffBits < kBitmapFileHeaderSize + kBitmapInfoHeaderSize) return PictureFault::HeaderAreaTooShort;
    if (bfOffBits > fileSize) return PictureFault::OffsetBeyondFile;

    // Only the 40-byte information header matters: the colour table and
    // whatever else lies before the pixels is not used for 24-bit pictures.
    InfoHeader ih{};
    if (file.ReadAt(kBitmapFileHeaderSize, ih.data(), ih.size()) != ih.size()) return PictureFault::HeaderUnreadable;
    if (HeaderBitCount(ih) != 24) return PictureFault::NotTwentyFourBit;

    const int32_t width = HeaderWidth(ih);
    const int32_t height = HeaderHeight(ih);
    if (width <= 0 || height == 0) return PictureFault::EmptyPicture;
    const uint64_t rows = height < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(height))
                                     : static_cast<uint64_t>(height);

    plan.pixelOffset = bfOffBits;
    plan.declaredBytes = bfSize > bfOffBits ? bfSize - bfOffBits : 0;
    plan.fileStride = RowStride24(width);
    plan.header = ih;
    StoreU32(plan.header.data() + kBiSize, kBitmapInfoHeaderSize);

    if (width > side && rows > static_cast<uint64_t>(side)) {
        plan.cutOut = true;
        plan.width = side;
        plan.height = height < 0 ? -side : side;
        plan.rows = static_cast<uint32_t>(side);
        plan.stride = static_cast<size_t>(RowStride24(side));
        plan.pixelBytes = plan.stride * plan.rows;
        plan.firstColumn = static_cast<uint32_t>(width / 2 - side / 2);
        plan.firstRow = static_cast<uint32_t>(rows / 2 - side / 2);
        StoreI32(plan.header.data() + kBiWidth, plan.width);
        StoreI32(plan.header.data() + kBiHeight, plan.height);
        return PictureFault::None;
    }

    const uint64_t pixelBytes = plan.fileStride * rows;  // < 2^33 x 2^31: no overflow in 64 bits
    if (pixelBytes > kMaxWholePixelBytes) return PictureFault::TooLarge;
    plan.width = width;
    plan.height = height;
    plan.rows = static_cast<uint32_t>(rows);
    plan.stride = static_cast<size_t>(plan.fileStride);
    plan.pixelBytes = static_cast<size_t>(pixelBytes);
    return PictureFault::None;
}

void ReadPicturePixels(ByteSource &file, const PicturePlan &plan, uint8_t *dst) {
    if (!plan.cutOut) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(plan.declaredBytes, plan.pixelBytes));
        const size_t got = want == 0 ? 0 : std::min(want, file.ReadAt(plan.pixelOffset, dst, want));
        std::memset(dst + got, 0, plan.pixelBytes - got);
        return;
    }
    const uint64_t columnByte = uint64_t{3} * plan.firstColumn;
    const size_t rowBytes = size_t{3} * static_cast<size_t>(plan.width);  // padding, if any, stays zero
    for (uint32_t i = 0; i < plan.rows; ++i) {
        uint8_t *row = dst + static_cast<size_t>(i) * plan.stride;
        // Offset inside the pixel data; row and column fit 64 bits with room.
        const uint64_t at = (uint64_t{plan.firstRow} + i) * plan.fileStride + columnByte;
        const size_t want =
            at < plan.declaredBytes ? static_cast<size_t>(std::min<uint64_t>(rowBytes, plan.declaredBytes - at)) : 0;
        const size_t got = want == 0 ? 0 : std::min(want, file.ReadAt(plan.pixelOffset + at, row, want));
        std::memset(row + got, 0, plan.stride - got);
    }
}

PictureFault LoadPictureFile(ByteSource &file, uint8_t *scratch, PreviewImage &image, int32_t side) {
    PicturePlan plan;
    const PictureFault fault = PlanPicture(file, plan, side);
    if (fault != PictureFault::None) return fault;
    if (plan.cutOut && scratch == nullptr) return PictureFault::NoScratch;
    try {
        image.pixels.assign(plan.pixelBytes, 0);
    } catch (const std::bad_alloc &) {
        return PictureFault::NoSection;
    }
    if (plan.cutOut) {
        ReadPicturePixels(file, plan, scratch);
        std::memcpy(image.pixels.data(), scratch, plan.pixelBytes);
    } else {
        ReadPicturePixels(file, plan, image.pixels.data());
    }
    image.header = plan.header;
    image.width = plan.width;
    image.height = plan.height;
    image.stride = plan.stride;
    return PictureFault::None;
}

bool LoadBuiltinPicture(const void *bmpFile, size_t size, PreviewImage &image) {
    MemorySource source(bmpFile, size);
    PicturePlan plan;
    if (PlanPicture(source, plan) != PictureFault::None || plan.cutOut || plan.width != kPreviewSide ||
        plan.height != kPreviewSide || size - plan.pixelOffset < plan.pixelBytes)
        return false;
    image.pixels.assign(plan.pixelBytes, 0);
    ReadPicturePixels(source, plan, image.pixels.data());
    image.header = BuiltinPictureHeader();
    image.width = kPreviewSide;
    image.height = kPreviewSide;
    image.stride = kPreviewRowBytes;
    return true;
}

int32_t PackedBuiltinSide(const void *dib, size_t size) {
    if (dib == nullptr || size < kBitmapInfoHeaderSize) return 0;
    InfoHeader h{};
    std::memcpy(h.data(), dib, h.size());
    const int32_t side = HeaderWidth(h);
    constexpr size_t kBiCompression = 16;
    const bool known = std::find(std::begin(kBuiltinSides), std::end(kBuiltinSides), side) != std::end(kBuiltinSides);
    if (!known || LoadU32(h.data() + kBiSize) != kBitmapInfoHeaderSize || HeaderHeight(h) != side ||
        HeaderBitCount(h) != 24 || LoadU32(h.data() + kBiCompression) != 0)
        return 0;
    const uint64_t pixelBytes = RowStride24(side) * static_cast<uint64_t>(side);
    return size - kBitmapInfoHeaderSize >= pixelBytes ? side : 0;
}

int32_t CutBuiltinPicture(const void *dib, size_t size, int32_t side, uint8_t *dst) {
    const int32_t n = PackedBuiltinSide(dib, size);
    if (n == 0 || side < kPreviewSide) return 0;
    const uint8_t *pixels = static_cast<const uint8_t *>(dib) + kBitmapInfoHeaderSize;
    const size_t from = static_cast<size_t>(RowStride24(n));
    if (side >= n) {
        std::memcpy(dst, pixels, from * static_cast<size_t>(n));
        return n;
    }
    // The centre, as a picture file larger than the preview is cut.
    const size_t to = static_cast<size_t>(RowStride24(side));
    const size_t firstColumn = static_cast<size_t>(n / 2 - side / 2), firstRow = firstColumn;
    for (size_t i = 0; i < static_cast<size_t>(side); ++i) {
        uint8_t *row = dst + i * to;
        std::memcpy(row, pixels + (firstRow + i) * from + 3 * firstColumn, size_t{3} * static_cast<size_t>(side));
        std::memset(row + size_t{3} * static_cast<size_t>(side), 0, to - size_t{3} * static_cast<size_t>(side));
    }
    return side;
}

bool LoadBuiltinPictureAt(const void *bmpFile, size_t size, int32_t side, PreviewImage &image) {
    if (bmpFile == nullptr || size < kBitmapFileHeaderSize) return false;
    const auto *bytes = static_cast<const uint8_t *>(bmpFile);
    if (LoadU16(bytes + kBfType) != kBitmapSignature ||
        LoadU32(bytes + kBfOffBits) != kBitmapFileHeaderSize + kBitmapInfoHeaderSize)
        return false;
    const void *dib = bytes + kBitmapFileHeaderSize;
    const size_t dibSize = size - kBitmapFileHeaderSize;
    const int32_t n = PackedBuiltinSide(dib, dibSize);
    if (n == 0) return false;
    const int32_t out = side < n ? side : n;
    image.pixels.assign(static_cast<size_t>(RowStride24(out)) * static_cast<size_t>(out), 0);
    if (CutBuiltinPicture(dib, dibSize, side, image.pixels.data()) != out) return false;
    image.header = BuiltinPictureHeader();
    StoreI32(image.header.data() + kBiWidth, out);
    StoreI32(image.header.data() + kBiHeight, out);
    image.width = out;
    image.height = out;
    image.stride = static_cast<size_t>(RowStride24(out));
    return true;
}

}  // namespace qx
