// Picture files chosen by the user: the preview's decisions and positioned
// reads (in memory and through the CLI's file reader), the qx748 preview
// path (load, correct, write a BMP), the built-in picture's loader and the
// BMP decoder of qx748 correct, all on the same bytes.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "uiplugin/correction/picture/bmp_image.h"
#include "uiplugin/correction/engine/image_correction.h"
#include "uiplugin/correction/picture/preview_picture.h"
#include "uiplugin/settings/le_bytes.h"

namespace {

using namespace qx;
using qx::fuzz::Exact;

// A picture used whole is allocated at its declared size whatever the
// file's length (the DIB section is); keep the fuzzer's memory bounded.
constexpr size_t kMaxLoadBytes = size_t{1} << 20;
// Corrections are run on pictures up to this many bytes only, for speed
// (not on cut-outs: their 192 x 192 corrections are the same code).
constexpr size_t kMaxCorrectBytes = 64 * 1024;

// Every read stays inside the file; counts what was asked.
class CheckedSource final : public ByteSource {
public:
    CheckedSource(const uint8_t *data, size_t size) : inner_(data, size), size_(size) {}
    uint64_t Size() override { return size_; }
    size_t ReadAt(uint64_t offset, void *dst, size_t count) override {
        const size_t n = inner_.ReadAt(offset, dst, count);
        QX_FUZZ_CHECK(n <= count);
        return n;
    }

private:
    MemorySource inner_;
    size_t size_;
};

std::string TempPath() {
    static const std::string path = [] {
        const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/qx748-fuzz-picture-" + std::to_string(getpid()) + ".bmp";
    }();
    return path;
}

void CheckPlan(const PicturePlan &plan, const uint8_t *file, size_t size) {
    QX_FUZZ_CHECK(plan.pixelOffset >= kBitmapFileHeaderSize + kBitmapInfoHeaderSize && plan.pixelOffset <= size);
    QX_FUZZ_CHECK(LoadU32(plan.header.data()) == kBitmapInfoHeaderSize);
    QX_FUZZ_CHECK(HeaderBitCount(plan.header) == 24);
    const int32_t fileWidth = LoadI32(file + 18);
    const int32_t fileHeight = LoadI32(file + 22);
    const int64_t fileRows = fileHeight < 0 ? -int64_t{fileHeight} : fileHeight;
    QX_FUZZ_CHECK(plan.fileStride == RowStride24(fileWidth));
    if (plan.cutOut) {
        QX_FUZZ_CHECK(fileWidth > 192 && fileRows > 192);
        QX_FUZZ_CHECK(plan.width == 192 && plan.rows == 192 && plan.stride == 576 && plan.pixelBytes == 110592);
        QX_FUZZ_CHECK(plan.height == (fileHeight < 0 ? -192 : 192));
        QX_FUZZ_CHECK(plan.firstColumn == static_cast<uint32_t>(fileWidth / 2 - 96));
        QX_FUZZ_CHECK(plan.firstRow == static_cast<uint32_t>(fileRows / 2 - 96));
        QX_FUZZ_CHECK(uint64_t{plan.firstColumn} + 192 <= static_cast<uint64_t>(fileWidth));
        QX_FUZZ_CHECK(uint64_t{plan.firstRow} + 192 <= static_cast<uint64_t>(fileRows));
    } else {
        QX_FUZZ_CHECK(fileWidth <= 192 || fileRows <= 192);
        QX_FUZZ_CHECK(plan.width == fileWidth && plan.height == fileHeight && plan.rows == fileRows);
        QX_FUZZ_CHECK(plan.pixelBytes == plan.stride * plan.rows);
    }
}

// qx748 preview on a loaded picture: corrected, then written as a BMP that
// decodes back to the same rows.
void PreviewOutput(PreviewImage &image, const uint8_t *data, size_t size) {
    CorrectionSettings s = DefaultPrivateDevMode().settings;
    // Settings within the controls' ranges, picked from the file's last bytes.
    const uint8_t a = size > 0 ? data[size - 1] : 0, b = size > 1 ? data[size - 2] : 0;
    s.brightness = static_cast<int16_t>(a % 21 - 10);
    s.contrast = static_cast<int16_t>(b % 21 - 10);
    s.saturation = static_cast<int16_t>((a ^ b) % 21 - 10);
    s.sharpness = static_cast<uint16_t>(b & 7);
    s.unsharpMask = (a & 0x80) ? 1 : 0;
    s.unsharpRadius = static_cast<int16_t>(1 + b % 30);
    const int32_t rows = image.height < 0 ? -image.height : image.height;
    if (image.pixels.size() <= kMaxCorrectBytes)
        QX_FUZZ_CHECK(CorrectPicture(s, image.pixels.data(), image.width, rows, image.stride));
    BmpImage out;
    out.width = image.width;
    out.height = image.height;
    out.stride = image.stride;
    out.pixels = image.pixels;
    std::vector<unsigned char> bytes;
    QX_FUZZ_CHECK(EncodeBmp(out, &bytes));
    BmpImage back;
    QX_FUZZ_CHECK(DecodeBmp(bytes.data(), bytes.size(), &back) == BmpError::kNone);
    QX_FUZZ_CHECK(back.width == out.width && back.height == out.height && back.pixels == out.pixels);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto file = Exact(data, size, size);

    CheckedSource source(file.get(), size);
    PicturePlan plan;
    const PictureFault fault = PlanPicture(source, plan);
    QX_FUZZ_CHECK(DescribePictureFault(fault) != nullptr);
    if (fault == PictureFault::None) CheckPlan(plan, file.get(), size);

    const bool loadable = fault == PictureFault::None && plan.pixelBytes <= kMaxLoadBytes;
    if (loadable) {
        // Without the page's scratch a cut-out is refused.
        PreviewImage none;
        QX_FUZZ_CHECK((LoadPictureFile(source, nullptr, none) == PictureFault::NoScratch) == plan.cutOut);

        std::unique_ptr<uint8_t[]> scratch(new uint8_t[kPreviewScratchSize]);
        PreviewImage image;
        QX_FUZZ_CHECK(LoadPictureFile(source, scratch.get(), image) == PictureFault::None);
        QX_FUZZ_CHECK(image.pixels.size() == plan.pixelBytes && image.width == plan.width &&
                      image.height == plan.height && image.stride == plan.stride);
        QX_FUZZ_CHECK(image.header == plan.header);

        // The CLI reads the same file through stdio: same picture.
        const std::string path = TempPath();
        std::FILE *f = std::fopen(path.c_str(), "wb");
        QX_FUZZ_CHECK(f != nullptr);
        QX_FUZZ_CHECK(std::fwrite(file.get(), 1, size, f) == size);
        std::fclose(f);
        {
            StdioFileSource disk(path.c_str());
            QX_FUZZ_CHECK(disk.IsOpen() && disk.Size() == size);
            PreviewImage fromDisk;
            QX_FUZZ_CHECK(LoadPictureFile(disk, scratch.get(), fromDisk) == PictureFault::None);
            QX_FUZZ_CHECK(fromDisk.pixels == image.pixels && fromDisk.header == image.header);
        }
        std::remove(path.c_str());

        PreviewOutput(image, file.get(), size);
    }

    // The built-in picture's loader on the same bytes.
    PreviewImage builtin;
    if (LoadBuiltinPicture(file.get(), size, builtin))
        QX_FUZZ_CHECK(builtin.width == 192 && builtin.height == 192 && builtin.pixels.size() == 110592);

    // The preview of a screen above 96 DPI: a side the first byte picks
    // (even, odd, padded rows), its cut-out through a scratch block of the
    // size the page allocates, and the built-in loader at that side.
    if (size > 0) {
        const int32_t side = 193 + static_cast<int32_t>(data[0]) * 3;
        PicturePlan larger;
        if (PlanPicture(source, larger, side) == PictureFault::None && larger.pixelBytes <= kMaxLoadBytes) {
            QX_FUZZ_CHECK(!larger.cutOut || (larger.width == side && larger.pixelBytes <= PreviewScratchBytes(side)));
            std::unique_ptr<uint8_t[]> scratch(new uint8_t[PreviewScratchBytes(side)]);
            PreviewImage image;
            QX_FUZZ_CHECK(LoadPictureFile(source, scratch.get(), image, side) == PictureFault::None);
            QX_FUZZ_CHECK(image.pixels.size() == larger.pixelBytes && image.width == larger.width);
        }
        PreviewImage at;
        if (LoadBuiltinPictureAt(file.get(), size, side, at))
            QX_FUZZ_CHECK(at.width <= side && at.width == at.height && at.pixels.size() == at.stride * static_cast<size_t>(at.width));
    }

    // qx748 correct's decoder, and its writer on what it decoded.
    BmpImage bmp;
    if (DecodeBmp(file.get(), size, &bmp) == BmpError::kNone) {
        QX_FUZZ_CHECK(bmp.width > 0 && bmp.height != 0);
        QX_FUZZ_CHECK(bmp.pixels.size() == bmp.stride * static_cast<size_t>(bmp.rows()));
        std::vector<unsigned char> again;
        QX_FUZZ_CHECK(EncodeBmp(bmp, &again));
        BmpImage back;
        QX_FUZZ_CHECK(DecodeBmp(again.data(), again.size(), &back) == BmpError::kNone);
        QX_FUZZ_CHECK(back.pixels == bmp.pixels && back.width == bmp.width && back.height == bmp.height);
    }
    return 0;
}
