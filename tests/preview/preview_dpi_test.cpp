// The preview's drawing at the screen's DPI, run in a Wine prefix at 96 and
// in one at 144 (QX_WINE_DPI): the picture is still corrected at its own
// size of at most 192 x 192; only the last stretch and its frame grow
// (the repainted area: tests/page/page_dpi_test.cpp).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/preview/bmp_builder.h"
#include "tests/preview/dib_surface.h"
#include "tests/support/run_dpi.h"
#include "uiplugin/correction/engine/image_correction.h"
#include "uiplugin/correction/picture/preview_picture.h"
#include "uiplugin/correction/page/preview_render.h"

HINSTANCE moduleInstance = GetModuleHandleW(nullptr);

namespace {

using qxtest::BmpShape;
using qxtest::Bytes;
using qxtest::ExpectedDpi;
using qxtest::Scaled;

constexpr int kSurface = 320;
constexpr uint8_t kSentinel = qxtest::kSurfaceSentinel;
using Surface = qxtest::DibSurface<kSurface>;

struct Controls {
    qx::CorrectionSettings settings{};
    int calls = 0;
};
void ReadTestControls(void *context, HWND, qx::CorrectionSettings *out) {
    auto *c = static_cast<Controls *>(context);
    ++c->calls;
    *out = c->settings;
}

std::wstring TempFile(const wchar_t *name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + L"qx_preview_dpi_" + name;
}

// 192 x 192, bottom-up, in 16 x 16 blocks of one colour each: a block's
// centre survives the sharpening filters, so it shows the tone correction
// of the picture at its own size.
Bytes BlockPicture() {
    BmpShape shape;
    shape.width = 192;
    shape.height = 192;
    Bytes b = qxtest::BuildBmp(shape);
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 192; ++x) {
            uint8_t *p = b.data() + 54 + static_cast<size_t>(y) * 576 + static_cast<size_t>(x) * 3;
            const int block = (y / 16) * 12 + x / 16;
            p[0] = static_cast<uint8_t>(block * 37);
            p[1] = static_cast<uint8_t>(block * 91 + 40);
            p[2] = static_cast<uint8_t>(255 - block * 13);
        }
    return b;
}

TEST(PreviewDpi, AreaIsTheOld192SquareAt96AndGrowsAbove) {
    const struct {
        int dpi;
        RECT area;
    } cases[] = {
        {96, {5, 5, 197, 197}}, {72, {5, 5, 197, 197}},  {120, {6, 6, 246, 246}},
        {144, {8, 8, 296, 296}}, {192, {10, 10, 394, 394}},
    };
    for (const auto &c : cases) {
        // Below 96 DPI the page keeps its 96-DPI pixels.
        const RECT got = PreviewArea(c.dpi < kBaseDpi ? kBaseDpi : c.dpi);
        EXPECT_TRUE(EqualRect(&got, &c.area)) << c.dpi << " DPI: " << got.left << "," << got.top << " "
                                              << got.right << "," << got.bottom;
    }
}

TEST(PreviewDpi, CorrectedAtItsOwnSizeThenStretchedIntoTheScaledFrame) {
    const Bytes file = BlockPicture();
    const std::wstring path = TempFile(L"blocks.bmp");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD done = 0;
    WriteFile(h, file.data(), static_cast<DWORD>(file.size()), &done, nullptr);
    CloseHandle(h);

    std::vector<uint8_t> rec(qx::kPrivateDevModeSize, 0);
    std::memcpy(rec.data() + qx::pdm::kPreviewImagePath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    std::vector<uint8_t> scratch(qx::kPreviewScratchSize);
    Controls controls;
    controls.settings.brightness = 3;
    controls.settings.contrast = -2;
    controls.settings.sharpness = 4;
    controls.settings.unsharpMask = 1;
    controls.settings.unsharpAmount = 6;
    controls.settings.unsharpRadius = 10;
    Surface surface;
    ASSERT_EQ(ExpectedDpi(), DpiOf(surface.dc())) << "the Wine prefix is not at the DPI this run is for";
    DrawPreview(surface.dc(), nullptr, rec.data(), scratch.data(), ReadControlsFn{ReadTestControls, &controls},
                moduleInstance);
    EXPECT_EQ(1, controls.calls);

    Bytes want(file.begin() + 54, file.end());
    qx::CorrectPicture(controls.settings, want.data(), 192, 192, 576);
    const int origin = Scaled(5), side = Scaled(192);
    for (int by = 0; by < 12; ++by)
        for (int bx = 0; bx < 12; ++bx) {
            const int sx = bx * 16 + 8, sy = by * 16 + 8;
            const uint8_t *expected = want.data() + static_cast<size_t>(191 - sy) * 576 + static_cast<size_t>(sx) * 3;
            const int dx = origin + sx * side / 192, dy = origin + sy * side / 192;
            ASSERT_EQ(0, std::memcmp(expected, surface.At(dx, dy), 3)) << "block " << bx << "," << by;
        }
    // The corners of the picture reach the frame, which is one pixel outside.
    const uint8_t black[3] = {0, 0, 0};
    const uint8_t sentinel[3] = {kSentinel, kSentinel, kSentinel};
    const int last = origin + side - 1;
    for (int i = origin - 1; i <= last + 1; ++i) {
        for (const POINT &p : {POINT{i, origin - 1}, POINT{i, last + 1}, POINT{origin - 1, i}, POINT{last + 1, i}})
            ASSERT_EQ(0, std::memcmp(black, surface.At(p.x, p.y), 3)) << "frame at " << p.x << "," << p.y;
        for (const POINT &p : {POINT{i, origin - 2}, POINT{i, last + 2}, POINT{origin - 2, i}, POINT{last + 2, i}})
            ASSERT_EQ(0, std::memcmp(sentinel, surface.At(p.x, p.y), 3)) << "outside at " << p.x << "," << p.y;
    }
    const uint8_t *corner = want.data() + 191 * 576;  // the top-left pixel of a bottom-up picture
    EXPECT_EQ(0, std::memcmp(corner, surface.At(origin, origin), 3));
    const uint8_t *farCorner = want.data() + 191 * 3;  // the bottom-right one
    EXPECT_EQ(0, std::memcmp(farCorner, surface.At(last, last), 3));
    DeleteFileW(path.c_str());
}

// ---- 1:1 above 96 DPI ----------------------------------------------------------

using BigSurface = qxtest::DibSurface<400>;  // the 384 preview of 192 DPI and its frame

Bytes ResourcePixels(int side) {
    const std::string name = side == 192 ? "builtin-preview.bmp" : "builtin-preview-" + std::to_string(side) + ".bmp";
    const Bytes bmp = qxtest::ReadWholeFile(std::string("Z:") + QX_RESOURCES_DIR + "/" + name);
    return bmp.size() > 54 ? Bytes(bmp.begin() + 54, bmp.end()) : Bytes();
}

std::wstring WriteTemp(const wchar_t *name, const Bytes &file) {
    const std::wstring path = TempFile(name);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD done = 0;
    if (h != INVALID_HANDLE_VALUE) {
        WriteFile(h, file.data(), static_cast<DWORD>(file.size()), &done, nullptr);
        CloseHandle(h);
    }
    return path;
}

std::vector<uint8_t> RecordFor(const std::wstring &path) {
    std::vector<uint8_t> rec(qx::kPrivateDevModeSize, 0);
    std::memcpy(rec.data() + qx::pdm::kPreviewImagePath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    return rec;
}

// Every pixel of the preview area is the corrected picture's, 1:1.
void ExpectOneToOne(BigSurface &surface, const Bytes &want, int side) {
    const int origin = Scaled(5);
    const size_t stride = qxtest::StrideOf(side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const uint8_t *expected = want.data() + static_cast<size_t>(side - 1 - y) * stride + static_cast<size_t>(x) * 3;
            ASSERT_EQ(0, std::memcmp(expected, surface.At(origin + x, origin + y), 3)) << "pixel " << x << "," << y;
        }
    const uint8_t black[3] = {0, 0, 0};
    EXPECT_EQ(0, std::memcmp(black, surface.At(origin - 1, origin + side), 3)) << "frame";
    EXPECT_EQ(0, std::memcmp(black, surface.At(origin + side, origin - 1), 3)) << "frame";
}

TEST(PreviewDpi, BuiltinAndLargePicturesAreCorrectedAtTheScreensSideAndShown1To1) {
    const int side = Scaled(192);
    const int from = side <= 192 ? 192 : side <= 240 ? 240 : side <= 288 ? 288 : side <= 336 ? 336 : 384;
    ASSERT_EQ(from, side) << "this run's DPI has no photograph of its own size";
    Controls controls;
    controls.settings.brightness = 2;
    controls.settings.sharpness = 6;
    controls.settings.unsharpMask = 1;
    controls.settings.unsharpAmount = 4;
    controls.settings.unsharpRadius = 12;
    std::vector<uint8_t> scratch(qx::PreviewScratchBytes(side));
    const PreviewScratch block{scratch.data(), scratch.size()};

    // The built-in photograph made at this size.
    Bytes want = ResourcePixels(side);
    ASSERT_EQ(want.size(), qxtest::StrideOf(side) * static_cast<size_t>(side));
    qx::CorrectPicture(controls.settings, want.data(), side, side, qxtest::StrideOf(side));
    std::vector<uint8_t> none(qx::kPrivateDevModeSize, 0);
    BigSurface builtin;
    DrawPreview(builtin.dc(), nullptr, none.data(), block, ReadControlsFn{ReadTestControls, &controls}, moduleInstance);
    {
        SCOPED_TRACE("built-in");
        ExpectOneToOne(builtin, want, side);
    }

    // A picture larger than the preview: its centre at the screen's side.
    BmpShape shape;
    shape.width = 501;
    shape.height = 450;
    const Bytes file = qxtest::BuildBmp(shape);
    const std::wstring path = WriteTemp(L"large.bmp", file);
    std::vector<uint8_t> rec = RecordFor(path);
    const size_t stride = qxtest::StrideOf(side), fileStride = qxtest::StrideOf(501);
    Bytes cut(stride * static_cast<size_t>(side), 0);
    for (int y = 0; y < side; ++y)
        std::memcpy(&cut[y * stride], &file[54 + (225 - side / 2 + y) * fileStride + (250 - side / 2) * 3], 3 * side);
    qx::CorrectPicture(controls.settings, cut.data(), side, side, stride);
    BigSurface large;
    DrawPreview(large.dc(), nullptr, rec.data(), block, ReadControlsFn{ReadTestControls, &controls}, moduleInstance);
    {
        SCOPED_TRACE("501 x 450 file");
        ExpectOneToOne(large, cut, side);
    }
    DeleteFileW(path.c_str());
}

TEST(PreviewDpi, WithTheSmallScratchBlockThePreviewIsTodays192Stretched) {
    // The page could not have the larger block: what is drawn is exactly what
    // a 192 preview gives, stretched over the screen's side.
    BmpShape shape;
    shape.width = 501;
    shape.height = 450;
    const std::wstring path = WriteTemp(L"large2.bmp", qxtest::BuildBmp(shape));
    Controls controls;
    controls.settings.contrast = 4;
    std::vector<uint8_t> small(qx::kPreviewScratchSize);
    for (const bool picture : {false, true}) {
        SCOPED_TRACE(picture ? "file" : "built-in");
        std::vector<uint8_t> a = RecordFor(picture ? path : std::wstring()), b = a;
        BigSurface viaSize, today;
        DrawPreview(viaSize.dc(), nullptr, a.data(), PreviewScratch{small.data(), small.size()},
                    ReadControlsFn{ReadTestControls, &controls}, moduleInstance);
        DrawPreview(today.dc(), nullptr, b.data(), small.data(), ReadControlsFn{ReadTestControls, &controls},
                    moduleInstance);
        for (int y = 0; y < 400; ++y) ASSERT_EQ(0, std::memcmp(today.At(0, y), viaSize.At(0, y), 1200)) << "row " << y;
        // Stretched: a 192 picture drawn larger repeats pixels, 1:1 would not.
        if (ExpectedDpi() > 96) {
            const int origin = Scaled(5);
            int repeats = 0;
            for (int x = 0; x < Scaled(192) - 1; ++x)
                repeats += std::memcmp(viaSize.At(origin + x, origin + 40), viaSize.At(origin + x + 1, origin + 40), 3) == 0;
            EXPECT_GE(repeats, Scaled(192) - 192 - 2);
        }
    }
    DeleteFileW(path.c_str());
}

TEST(PreviewDpi, AnUnawareWindowsPreviewIsAt96DpiWhateverTheThreadSees) {
    // A host with windows of mixed awareness: the page was created while its
    // thread was DPI unaware (its window is at 96 DPI), and is painted while
    // the thread is system aware again, whose DCs report the screen's DPI.
    using SetContext = HANDLE(WINAPI *)(HANDLE);  // SetThreadDpiAwarenessContext, Windows 10 1607
    auto set = reinterpret_cast<SetContext>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
    ASSERT_NE(nullptr, set);
    const HANDLE old = set(reinterpret_cast<HANDLE>(-1));  // DPI_AWARENESS_CONTEXT_UNAWARE
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 420, 420, nullptr, nullptr, nullptr, nullptr);
    set(old);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(96, WindowDpi(window));

    std::vector<uint8_t> none(qx::kPrivateDevModeSize, 0);
    std::vector<uint8_t> scratch(qx::PreviewScratchBytes(qx::kLargestPreviewSide));
    Controls controls;
    BigSurface surface;
    ASSERT_EQ(ExpectedDpi(), DpiOf(surface.dc()));
    DrawPreview(surface.dc(), window, none.data(), PreviewScratch{scratch.data(), scratch.size()},
                ReadControlsFn{ReadTestControls, &controls}, moduleInstance);
    Bytes want = ResourcePixels(192);
    qx::CorrectPicture(controls.settings, want.data(), 192, 192, 576);
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 192; x += 7)
            ASSERT_EQ(0, std::memcmp(want.data() + (191 - y) * 576 + x * 3, surface.At(5 + x, 5 + y), 3)) << x << "," << y;
    const uint8_t sentinel[3] = {kSentinel, kSentinel, kSentinel};
    EXPECT_EQ(0, std::memcmp(sentinel, surface.At(199, 199), 3)) << "drawn past the 96-DPI frame";
    DestroyWindow(window);
}

}  // namespace
