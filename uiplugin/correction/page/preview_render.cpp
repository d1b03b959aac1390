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
#include "uiplugin/settings/le_bytes.h"

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

bool LoadFilePicture(HWND page, const wchar_t *path, unsigned char *scratch, int32_t side, Picture &pic,
                     bool &keepPath) {
    UniqueFile file(OpenStoredPicture(page, path, &keepPath));
    if (!file.valid()) return false;
    HandleSource source(file.get());
    qx::PicturePlan plan;
    if (qx::PlanPicture(source, plan, side) != qx::PictureFault::None) return false;
    if (plan.cutOut) {
        if (scratch == nullptr) return false;
        qx::ReadPicturePixels(source, plan, scratch);
    }
    if (!CreateSection(nullptr, plan.header, plan.width, plan.rows, plan.stride, pic)) return false;
    if (plan.cutOut) {
        std::memcpy(pic.bits, scratch, plan.pixelBytes);
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

// The photograph made at the size a larger preview asks for (bitmaps 142 to
// 145), read straight from the module's resource: its centre when the
// preview is smaller, whole when larger (the last stretch grows it).
bool LoadLargerBuiltinPicture(HDC paintDc, HINSTANCE module, int32_t side, Picture &pic) {
    const int32_t n = qx::BuiltinSideFor(side);
    int index = 0;
    while (qx::kBuiltinSides[index] != n) ++index;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDB_BUILTIN_PREVIEW + index), MAKEINTRESOURCEW(2));
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void *dib = loaded != nullptr ? LockResource(loaded) : nullptr;
    const size_t size = found != nullptr ? SizeofResource(module, found) : 0;
    if (qx::PackedBuiltinSide(dib, size) != n) return false;
    const int32_t out = side < n ? side : n;
    qx::InfoHeader header = qx::BuiltinPictureHeader();
    qx::StoreI32(header.data() + 4, out);  // biWidth
    qx::StoreI32(header.data() + 8, out);  // biHeight
    if (!CreateSection(paintDc, header, out, static_cast<uint32_t>(out), static_cast<size_t>(qx::RowStride24(out)),
                       pic))
        return false;
    if (qx::CutBuiltinPicture(dib, size, side, pic.bits) != out) {
        pic.section.reset();
        return false;
    }
    return true;
}

// The side the picture is prepared at: the screen's (1:1 above 96 DPI)
// when the page's scratch block can hold its cut-out, else 192, stretched.
int32_t PreparedSide(int dpi, const PreviewScratch &scratch) {
    const int32_t side = qx::PreviewSideForDpi(dpi);
    return scratch.bytes >= qx::PreviewScratchBytes(side) ? side : qx::kPreviewSide;
}

}  // namespace

void DrawPreview(HDC paintDc, HWND page, void *privateDevMode, void *previewScratch, ReadControlsFn readControls,
                 HINSTANCE module) {
    DrawPreview(paintDc, page, privateDevMode, PreviewScratch{previewScratch, qx::kPreviewScratchSize}, readControls,
                module);
}

void DrawPreview(HDC paintDc, HWND page, void *privateDevMode, PreviewScratch previewScratch,
                 ReadControlsFn readControls, HINSTANCE module) {
    auto *record = static_cast<unsigned char *>(privateDevMode);
    constexpr size_t kPathBytes = qx::kPreviewPathChars * sizeof(char16_t);
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 paths");

    // The stored path may lack its NUL; the copy always has one.
    wchar_t path[qx::kPreviewPathChars + 1] = {};
    if (record != nullptr) std::memcpy(path, record + qx::pdm::kPreviewImagePath, kPathBytes);

    const int dpi = WindowDpi(page);
    if (previewScratch.block == nullptr) previewScratch.bytes = 0;
    const int32_t side = PreparedSide(dpi, previewScratch);

    Picture pic;
    bool keepPath = false;  // a network path left unopened stays the user's choice
    bool havePicture = path[0] != L'\0' && LoadFilePicture(page, path, static_cast<unsigned char *>(previewScratch.block),
                                                           side, pic, keepPath);
    if (!havePicture) {
        // An unusable picture is forgotten in the record itself.
        if (record != nullptr && !keepPath) std::memset(record + qx::pdm::kPreviewImagePath, 0, kPathBytes);
        havePicture = side > qx::kPreviewSide && LoadLargerBuiltinPicture(paintDc, module, side, pic);
        if (!havePicture) havePicture = LoadBuiltinPicture(paintDc, module, pic);
    }
    if (!havePicture) return;  // nothing at all, not even the frame

    qx::CorrectionSettings settings{};
    if (readControls.read != nullptr) readControls.read(readControls.context, page, &settings);
    GdiFlush();  // GDI may batch work on the section; finish it before we write its memory
    // Without its scratch memory a step is left out; the rest is still drawn.
    qx::CorrectPicture(settings, pic.bits, pic.width, static_cast<int32_t>(pic.rows), pic.stride);

    MemoryDc memory(paintDc);
    Selection selected(memory.get(), pic.section.get());
    const RECT area = PreviewArea(dpi);
    Rectangle(paintDc, area.left - 1, area.top - 1, area.right + 1, area.bottom + 1);
    SetStretchBltMode(paintDc, COLORONCOLOR);
    // |height| rows: a top-down section is addressed top row first, so the
    // picture is never drawn upside down.
    if (selected.ok())
        StretchBlt(paintDc, area.left, area.top, area.right - area.left, area.bottom - area.top, memory.get(), 0, 0,
                   pic.width, static_cast<int>(pic.rows), SRCCOPY);
}

void RenderPreview(HWND page, void *privateDevMode, PreviewScratch previewScratch, ReadControlsFn readControls) {
    PaintScope paint(page);
    if (paint.dc() != nullptr) DrawPreview(paint.dc(), page, privateDevMode, previewScratch, readControls, moduleInstance);
}

void RenderPreview(HWND page, void *privateDevMode, void *previewScratch, ReadControlsFn readControls) {
    RenderPreview(page, privateDevMode, PreviewScratch{previewScratch, qx::kPreviewScratchSize}, readControls);
}

void InvalidatePreview(HWND page) {
    const RECT area = PreviewArea(WindowDpi(page));
    InvalidateRect(page, &area, FALSE);
}

namespace {
using DpiForWindowFn = UINT(WINAPI *)(HWND);

// Windows 10 1607 and later; looked up once, since older systems lack it.
DpiForWindowFn DpiForWindow() {
    static const DpiForWindowFn fn = [] {
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        return user32 != nullptr ? reinterpret_cast<DpiForWindowFn>(
                                       reinterpret_cast<void *>(GetProcAddress(user32, "GetDpiForWindow")))
                                 : nullptr;
    }();
    return fn;
}

int Sane(int dpi) { return dpi > kBaseDpi && dpi <= kMaxDpi ? dpi : kBaseDpi; }
}  // namespace

int DpiOf(HDC dc) {
    const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    // At or below 96 DPI, and for a value no screen has, the page keeps its
    // 96-DPI pixels.
    return Sane(dpi);
}


int WindowDpi(HWND window) {
    // A per-monitor aware host lays the page out at its monitor's DPI,
    // which the system DPI need not be.
    if (const DpiForWindowFn fn = window != nullptr ? DpiForWindow() : nullptr) {
        if (const UINT dpi = fn(window)) return Sane(static_cast<int>(dpi));
    }
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
