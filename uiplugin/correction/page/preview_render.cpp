// Win32 side of the preview: file, DIB sections, bitmap 141, drawing. The
// decisions about the file and the corrections are portable code.
#include "uiplugin/correction/page/preview_render.h"

#include <algorithm>
#include <cstring>

#include "uiplugin/correction/engine/image_correction.h"
#include "uiplugin/correction/page/picture_open.h"
#include "uiplugin/correction/picture/preview_picture.h"
#include "uiplugin/frame/gdi_owners.h"
#include "uiplugin/frame/module.h"
#include "uiplugin/frame/unique_file.h"
#include "uiplugin/resources/resource_ids.h"

namespace {

// ---- owners ----------------------------------------------------------------

using qxgdi::Bitmap;
using qxgdi::MemoryDc;
using qxgdi::PaintScope;
using qxgdi::Selection;

// ---- the file as a positioned byte source ---------------------------------

class HandleSource final : public qx::ByteSource {
public:
    explicit HandleSource(HANDLE h) : h_(h) {}
    uint64_t Size() override {
        LARGE_INTEGER size{};
        return GetFileSizeEx(h_, &size) && size.QuadPart > 0 ? static_cast<uint64_t>(size.QuadPart) : 0;
    }
    size_t ReadAt(uint64_t offset, void *dst, size_t count) override {
        size_t done = 0;
        while (done < count) {
            OVERLAPPED at{};
            const uint64_t pos = offset + done;
            at.Offset = static_cast<DWORD>(pos);
            at.OffsetHigh = static_cast<DWORD>(pos >> 32);
            const DWORD want = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
            DWORD got = 0;
            if (!ReadFile(h_, static_cast<char *>(dst) + done, want, &got, &at) || got == 0) break;
            done += got;
        }
        return done;
    }

private:
    HANDLE h_;
};

// ---- the picture of one paint ----------------------------------------------

struct Picture {
    Bitmap section;
    unsigned char *bits = nullptr;
    int32_t width = 0;
    uint32_t rows = 0;
    size_t stride = 0;
};

BITMAPINFO InfoFrom(const qx::InfoHeader &header) {
    BITMAPINFO info{};
    static_assert(sizeof(info.bmiHeader) == qx::kBitmapInfoHeaderSize, "BITMAPINFOHEADER is 40 bytes");
    std::memcpy(&info.bmiHeader, header.data(), header.size());
    return info;
}

// The section must be what we computed: the platform could read a header
// differently from us, and the pixels are written by our geometry.
bool SectionIs(HBITMAP section, int32_t width, uint32_t rows, size_t stride) {
    DIBSECTION ds{};
    if (GetObjectW(section, sizeof ds, &ds) != static_cast<int>(sizeof ds)) return false;
    const LONG height = ds.dsBm.bmHeight < 0 ? -ds.dsBm.bmHeight : ds.dsBm.bmHeight;
    return ds.dsBm.bmBits != nullptr && ds.dsBm.bmWidth == width && static_cast<uint32_t>(height) == rows &&
           ds.dsBm.bmBitsPixel == 24 && static_cast<size_t>(ds.dsBm.bmWidthBytes) == stride;
}

bool CreateSection(HDC dc, const qx::InfoHeader &header, int32_t width, uint32_t rows, size_t stride,
                   Picture &pic) {
    const BITMAPINFO info = InfoFrom(header);
    void *bits = nullptr;
    pic.section.reset(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (pic.section.get() == nullptr || bits == nullptr || !SectionIs(pic.section.get(), width, rows, stride)) {
        pic.section.reset();
        return false;
    }
    pic.bits = static_cast<unsigned char *>(bits);
    pic.width = width;
    pic.rows = rows;
    pic.stride = stride;
    return true;
}

bool LoadFilePicture(HWND page, const wchar_t *path, unsigned char *scratch, Picture &pic, bool &keepPath) {
    UniqueFile file(OpenStoredPicture(page, path, &keepPath));
    if (!file.valid()) return false;
    HandleSource source(file.get());
    qx::PicturePlan plan;
    if (qx::PlanPicture(source, plan) != qx::PictureFault::None) return false;
    if (plan.cutOut) {
        if (scratch == nullptr) return false;
        qx::ReadPicturePixels(source, plan, scratch);
    }
    if (!CreateSection(nullptr, plan.header, plan.width, plan.rows, plan.stride, pic)) return false;
    if (plan.cutOut) {
        std::memcpy(pic.bits, scratch, qx::kPreviewPixelBytes);
    } else {
        qx::ReadPicturePixels(source, plan, pic.bits);
    }
    return true;
}

// Bitmap 141 as 24-bit bottom-up rows, fetched through the paint DC. The
// loaded bitmap is our own (not a shared one) and deleted right after, so
// no paint leaves a GDI object behind.
bool LoadBuiltinPicture(HDC paintDc, HINSTANCE module, Picture &pic) {
    Bitmap loaded(static_cast<HBITMAP>(
        LoadImageW(module, MAKEINTRESOURCEW(IDB_BUILTIN_PREVIEW), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (loaded.get() == nullptr) return false;
    const qx::InfoHeader header = qx::BuiltinPictureHeader();
    if (!CreateSection(paintDc, header, qx::kPreviewSide, qx::kPreviewSide, qx::kPreviewRowBytes, pic)) return false;
    BITMAPINFO info = InfoFrom(header);
    if (GetDIBits(paintDc, loaded.get(), 0, qx::kPreviewSide, pic.bits, &info, DIB_RGB_COLORS) !=
        qx::kPreviewSide) {
        pic.section.reset();
        return false;
    }
    return true;
}

}  // namespace

void DrawPreview(HDC paintDc, HWND page, void *privateDevMode, void *previewScratch, ReadControlsFn readControls,
                 HINSTANCE module) {
    auto *record = static_cast<unsigned char *>(privateDevMode);
    constexpr size_t kPathBytes = qx::kPreviewPathChars * sizeof(char16_t);
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 paths");

    // The stored path may lack its NUL; the copy always has one.
    wchar_t path[qx::kPreviewPathChars + 1] = {};
    if (record != nullptr) std::memcpy(path, record + qx::pdm::kPreviewImagePath, kPathBytes);

    Picture pic;
    bool keepPath = false;  // a network path left unopened stays the user's choice
    bool havePicture = path[0] != L'\0' &&
                       LoadFilePicture(page, path, static_cast<unsigned char *>(previewScratch), pic, keepPath);
    if (!havePicture) {
        // An unusable picture is forgotten in the record itself.
        if (record != nullptr && !keepPath) std::memset(record + qx::pdm::kPreviewImagePath, 0, kPathBytes);
        havePicture = LoadBuiltinPicture(paintDc, module, pic);
    }
    if (!havePicture) return;  // nothing at all, not even the frame

    qx::CorrectionSettings settings{};
    if (readControls.read != nullptr) readControls.read(readControls.context, page, &settings);
    GdiFlush();  // GDI may batch work on the section; finish it before we write its memory
    // Without its scratch memory a step is left out; the rest is still drawn.
    qx::CorrectPicture(settings, pic.bits, pic.width, static_cast<int32_t>(pic.rows), pic.stride);

    MemoryDc memory(paintDc);
    Selection selected(memory.get(), pic.section.get());
    const RECT area = PreviewArea(DpiOf(paintDc));
    Rectangle(paintDc, area.left - 1, area.top - 1, area.right + 1, area.bottom + 1);
    SetStretchBltMode(paintDc, COLORONCOLOR);
    // |height| rows: a top-down section is addressed top row first, so the
    // picture is never drawn upside down.
    if (selected.ok())
        StretchBlt(paintDc, area.left, area.top, area.right - area.left, area.bottom - area.top, memory.get(), 0, 0,
                   pic.width, static_cast<int>(pic.rows), SRCCOPY);
}

void RenderPreview(HWND page, void *privateDevMode, void *previewScratch, ReadControlsFn readControls) {
    PaintScope paint(page);
    if (paint.dc() != nullptr) DrawPreview(paint.dc(), page, privateDevMode, previewScratch, readControls, moduleInstance);
}

void InvalidatePreview(HWND page) {
    const RECT area = PreviewArea(WindowDpi(page));
    InvalidateRect(page, &area, FALSE);
}

int DpiOf(HDC dc) {
    const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    // At or below 96 DPI, and for a value no screen has, the page keeps its
    // 96-DPI pixels.
    return dpi > kBaseDpi && dpi <= kMaxDpi ? dpi : kBaseDpi;
}

int WindowDpi(HWND window) {
    HDC dc = GetDC(window);
    if (dc == nullptr) return kBaseDpi;
    const int dpi = DpiOf(dc);
    ReleaseDC(window, dc);
    return dpi;
}

int ScaleToDpi(int pixels, int dpi) { return MulDiv(pixels, dpi, kBaseDpi); }

RECT PreviewArea(int dpi) {
    const int origin = ScaleToDpi(kPreviewOrigin, dpi);
    const int side = ScaleToDpi(qx::kPreviewSide, dpi);
    return RECT{origin, origin, origin + side, origin + side};
}
