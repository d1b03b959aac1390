#pragma once
// Portable half of the preview: which picture a paint shows and which bytes
// of its file are read, plus the correction pass that every paint runs.
// The Win32 side supplies a file reader and the DIB sections; the CLI and the
// benchmark supply a stdio reader and plain buffers.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace qx {

constexpr int32_t kPreviewSide = 192;
constexpr size_t kPreviewRowBytes = 576;                          // 192 pixels x 3
constexpr size_t kPreviewPixelBytes = kPreviewRowBytes * 192;      // 110,592
constexpr size_t kPreviewScratchSize = kPreviewRowBytes * 256;     // 147,456
constexpr size_t kBitmapFileHeaderSize = 14;
constexpr size_t kBitmapInfoHeaderSize = 40;
constexpr uint16_t kBitmapSignature = 0x4D42;  // "BM"

// Above 96 DPI the preview is 192 x DPI / 96 device pixels square and shows
// them 1:1; these are the sides it can be drawn at (96 to 960 DPI).
constexpr int32_t kLargestPreviewSide = 1920;
// The side of the preview at `dpi`: 192 at 96 DPI and below.
int32_t PreviewSideForDpi(int dpi);
// Bytes of the page's scratch block for a preview of `side` (the cut-out's
// rows), never less than the 192-pixel block; 0 for a side the preview
// does not support.
size_t PreviewScratchBytes(int32_t side);

// The built-in photograph exists whole at these sides (bitmaps 141 to 145).
constexpr int32_t kBuiltinSides[] = {192, 240, 288, 336, 384};
// The one a preview of `side` is cut from: the smallest at least as large,
// else the largest (which is then stretched).
int32_t BuiltinSideFor(int32_t side);

using InfoHeader = std::array<uint8_t, kBitmapInfoHeaderSize>;

// Positioned reads of a picture file. ReadAt returns how many bytes it
// delivered (fewer at the end of the file or on an error, never more).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() = 0;
    virtual size_t ReadAt(uint64_t offset, void *dst, size_t count) = 0;
};

// A file in memory (tests, the built-in photograph embedded in the CLI).
class MemorySource final : public ByteSource {
public:
    MemorySource(const void *data, size_t size) : data_(static_cast<const uint8_t *>(data)), size_(size) {}
    uint64_t Size() override { return size_; }
    size_t ReadAt(uint64_t offset, void *dst, size_t count) override;
    // Number of ReadAt calls and bytes asked for, so tests can see what a load reads.
    size_t reads = 0;
    uint64_t bytesAsked = 0;

private:
    const uint8_t *data_;
    size_t size_;
};

// A file opened with stdio, with 64-bit offsets (CLI, benchmark).
class StdioFileSource final : public ByteSource {
public:
    explicit StdioFileSource(const char *path);
    ~StdioFileSource() override;
    StdioFileSource(const StdioFileSource &) = delete;
    StdioFileSource &operator=(const StdioFileSource &) = delete;
    bool IsOpen() const { return file_ != nullptr; }
    uint64_t Size() override;
    size_t ReadAt(uint64_t offset, void *dst, size_t count) override;

private:
    std::FILE *file_ = nullptr;
};

// Why a picture file cannot be shown; the preview then shows the built-in one.
enum class PictureFault {
    None,
    NoFile,              // could not be opened (decided by the caller)
    ShortFileHeader,     // fewer than 14 bytes
    NotBitmap,           // first two bytes not "BM"
    HeaderAreaTooShort,  // bfOffBits - 14 cannot hold a 40-byte information header
    OffsetBeyondFile,    // bfOffBits past the end of the file
    HeaderUnreadable,    // the information header could not be read in full
    NotTwentyFourBit,    // biBitCount not 24
    EmptyPicture,        // width or height 0, or a negative width
    TooLarge,            // pixel data too large to address or to allocate
    NoScratch,           // a cut-out without the page's PreviewScratch
    NoSection,           // no pixel block / DIB section for the picture
};
const char *DescribePictureFault(PictureFault fault);

// What a paint does with a usable file. For a picture used whole the header
// is the file's 40-byte information header with biSize set to 40 (so the
// platform reads only these bytes and agrees with us on the geometry); for a
// cut-out biWidth is 192 and biHeight +-192, keeping the file's orientation.
struct PicturePlan {
    bool cutOut = false;
    InfoHeader header{};
    int32_t width = 0;   // of the picture drawn: 192 for a cut-out
    int32_t height = 0;  // signed: negative = top-down rows
    uint32_t rows = 0;   // |height|
    size_t stride = 0;   // of the picture drawn
    size_t pixelBytes = 0;  // stride x rows

    // Where the pixels come from.
    uint64_t pixelOffset = 0;    // bfOffBits
    uint64_t declaredBytes = 0;  // bfSize - bfOffBits, 0 when bfSize is smaller
    uint64_t fileStride = 0;     // row stride of the file's picture
    uint32_t firstColumn = 0;    // cut-out: first column taken
    uint32_t firstRow = 0;       // cut-out: first row taken, in stored order
};

// Reads the two headers (at most 54 bytes) and decides. A picture whose
// sides both exceed `side` is cut to its centre `side` x `side`.
PictureFault PlanPicture(ByteSource &file, PicturePlan &plan, int32_t side = kPreviewSide);

// Reads the pixels the plan names into dst: for a picture used whole the
// declared pixel data, at most pixelBytes of it; for a cut-out its rows, one
// positioned read each, into consecutive rows of plan.stride bytes.
// dst holds at least plan.pixelBytes bytes. Bytes the file does not supply
// are zero; padding at the end of each row keeps what the file has there.
void ReadPicturePixels(ByteSource &file, const PicturePlan &plan, uint8_t *dst);

// Header of the built-in picture: 192 x 192, 1 plane, 24 bits, BI_RGB.
InfoHeader BuiltinPictureHeader();

// Little-endian fields of an information header.
int32_t HeaderWidth(const InfoHeader &h);
int32_t HeaderHeight(const InfoHeader &h);
uint16_t HeaderBitCount(const InfoHeader &h);

// A loaded picture in memory, for the CLI and the benchmark.
struct PreviewImage {
    InfoHeader header{};
    int32_t width = 0;
    int32_t height = 0;
    size_t stride = 0;
    std::vector<uint8_t> pixels;
};

// Loads a picture file as a paint would (cut-out through `scratch`, which
// must hold PreviewScratchBytes(side) bytes, or nullptr). Fault::None on success.
PictureFault LoadPictureFile(ByteSource &file, uint8_t *scratch, PreviewImage &image,
                             int32_t side = kPreviewSide);

// The built-in photograph from the bytes of its bitmap file (a complete
// 192 x 192 bottom-up 24-bit file, else false): the pixels as
// the platform hands them out of the resource, under the built-in header.
bool LoadBuiltinPicture(const void *bmpFile, size_t size, PreviewImage &image);

// A built-in photograph as a packed DIB (the 40-byte header, then the pixels,
// as a bitmap resource holds it): N x N, bottom-up, 24 bits, BI_RGB, every
// pixel present. N, or 0 when the block is not such a picture.
int32_t PackedBuiltinSide(const void *dib, size_t size);
// Its picture for a preview of `side` into dst (stride RowStride24 of the
// result's side): whole when side >= N, else its centre side x side, cut by
// the rule of PlanPicture. The result's side, or 0 for an unusable block.
int32_t CutBuiltinPicture(const void *dib, size_t size, int32_t side, uint8_t *dst);
// The same from a complete bitmap file, as a PreviewImage (the CLI).
bool LoadBuiltinPictureAt(const void *bmpFile, size_t size, int32_t side, PreviewImage &image);

}  // namespace qx
