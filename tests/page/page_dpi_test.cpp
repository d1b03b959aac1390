// The Color correction page at the screen's DPI: run once in the test
// prefix (96 DPI) and once in one set to 144 (QX_WINE_DPI, which wine-run
// also reads, names the DPI the run must see). Icons, strips and the repainted preview area follow the
// DPI; at 96 they are exactly what they always were.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/frame/plugin_library.h"
#include "tests/page/page_harness.h"
#include "tests/support/heap_busy.h"
#include "tests/support/run_dpi.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

using qxpage::PageSheet;
using qxtest::ExpectedDpi;
using qxtest::Scaled;

int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

std::wstring ClassOf(HWND window) {
    wchar_t buffer[64] = {};
    GetClassNameW(window, buffer, 64);
    return buffer;
}

SIZE BitmapSize(HBITMAP bitmap) {
    BITMAP bm{};
    if (bitmap == nullptr || GetObjectW(bitmap, sizeof bm, &bm) != sizeof bm) return SIZE{0, 0};
    return SIZE{bm.bmWidth, bm.bmHeight};
}

SIZE IconSize(HICON icon) {
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info)) return SIZE{0, 0};
    SIZE size = BitmapSize(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask);
    if (info.hbmColor == nullptr) size.cy /= 2;
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    return size;
}

struct Shown {
    bool icon;
    SIZE size;
};

// The images the page's picture controls show, in template order.
std::vector<Shown> PageImages(HWND page) {
    std::vector<Shown> out;
    for (HWND c = GetWindow(page, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        if (_wcsicmp(ClassOf(c).c_str(), L"Static") != 0) continue;
        const LONG_PTR kind = GetWindowLongPtrW(c, GWL_STYLE) & SS_TYPEMASK;
        if (kind == SS_ICON)
            out.push_back({true, IconSize(reinterpret_cast<HICON>(SendMessageW(c, STM_GETIMAGE, IMAGE_ICON, 0)))});
        if (kind == SS_BITMAP)
            out.push_back(
                {false, BitmapSize(reinterpret_cast<HBITMAP>(SendMessageW(c, STM_GETIMAGE, IMAGE_BITMAP, 0)))});
    }
    return out;
}

class PageDpi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ExpectedDpi(), ScreenDpi()) << "the Wine prefix is not at the DPI this run is for";
        ASSERT_TRUE(qxtest::PluginLibrary::Get().loaded());
        std::memset(record, 0, sizeof record);
        qx::WritePrivateDevModeDefaults(record);
        sheet = std::make_unique<PageSheet>(record);
        ASSERT_TRUE(sheet->ok());
    }
    unsigned char record[576];
    std::unique_ptr<PageSheet> sheet;
};

TEST_F(PageDpi, IconsAndStripsAreShownAtTheScreensScale) {
    // Icons 32 x 32, strips 130 x 8 at 96 DPI.
    const std::vector<Shown> shown = PageImages(sheet->page());
    ASSERT_EQ(8u, shown.size());
    const bool icons[] = {true, true, true, true, false, false, false, true};
    for (size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(icons[i], shown[i].icon);
        const SIZE want = icons[i] ? SIZE{Scaled(32), Scaled(32)} : SIZE{Scaled(130), Scaled(8)};
        EXPECT_EQ(want.cx, shown[i].size.cx);
        EXPECT_EQ(want.cy, shown[i].size.cy);
    }
}

TEST_F(PageDpi, ASliderRepaintsThePreviewAreaAtTheScreensScale) {
    sheet->pump();
    ValidateRect(sheet->page(), nullptr);
    SendMessageW(sheet->item(1004), TBM_SETPOS, TRUE, 2);
    SendMessageW(sheet->page(), WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 2),
                 reinterpret_cast<LPARAM>(sheet->item(1004)));
    RECT dirty{};
    ASSERT_TRUE(GetUpdateRect(sheet->page(), &dirty, FALSE));
    EXPECT_EQ(Scaled(5), dirty.left);
    EXPECT_EQ(Scaled(5), dirty.top);
    EXPECT_EQ(Scaled(5) + Scaled(192), dirty.right);
    EXPECT_EQ(Scaled(5) + Scaled(192), dirty.bottom);
}

TEST_F(PageDpi, TheFramedPreviewStaysClearOfTheControlsBesideAndBelowIt) {
    // The frame's outer edge is one pixel past the picture.
    const int frameEnd = Scaled(5) + Scaled(192) + 1;
    RECT correction{141, 1, 0, 0}, selectFile{6, 145, 0, 0};
    MapDialogRect(sheet->page(), &correction);
    MapDialogRect(sheet->page(), &selectFile);
    EXPECT_LE(frameEnd, correction.left) << "the frame runs into the Correction group";
    EXPECT_LE(frameEnd, selectFile.top) << "the frame runs into Select file";
}

TEST_F(PageDpi, TheLargerImagesAreFreedWithThePage) {
    // Above 96 DPI only (the 96-DPI run leaves it out): at 96 the controls
    // show their own images and the page loads none.
    ASSERT_GT(ExpectedDpi(), 96);
    std::vector<HANDLE> bitmaps, icons;
    for (HWND c = GetWindow(sheet->page(), GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        const LONG_PTR kind = GetWindowLongPtrW(c, GWL_STYLE) & SS_TYPEMASK;
        if (_wcsicmp(ClassOf(c).c_str(), L"Static") != 0) continue;
        if (kind == SS_BITMAP) bitmaps.push_back(reinterpret_cast<HANDLE>(SendMessageW(c, STM_GETIMAGE, IMAGE_BITMAP, 0)));
        if (kind == SS_ICON) icons.push_back(reinterpret_cast<HANDLE>(SendMessageW(c, STM_GETIMAGE, IMAGE_ICON, 0)));
    }
    ASSERT_EQ(3u, bitmaps.size());
    ASSERT_EQ(5u, icons.size());
    sheet.reset();
    for (HANDLE b : bitmaps) EXPECT_EQ(0u, GetObjectType(b)) << "strip bitmap left behind";
    for (HANDLE i : icons) {
        ICONINFO info{};
        EXPECT_FALSE(GetIconInfo(static_cast<HICON>(i), &info)) << "icon left behind";
    }
}

// ---- the page's own window DPI ---------------------------------------------------

// The images the page's picture controls show, in template order.
std::vector<HANDLE> ShownHandles(HWND page) {
    std::vector<HANDLE> out;
    for (HWND c = GetWindow(page, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        if (_wcsicmp(ClassOf(c).c_str(), L"Static") != 0) continue;
        const LONG_PTR kind = GetWindowLongPtrW(c, GWL_STYLE) & SS_TYPEMASK;
        if (kind == SS_ICON || kind == SS_BITMAP)
            out.push_back(reinterpret_cast<HANDLE>(
                SendMessageW(c, STM_GETIMAGE, kind == SS_ICON ? IMAGE_ICON : IMAGE_BITMAP, 0)));
    }
    return out;
}

bool Alive(HANDLE image, bool icon) {
    if (!icon) return GetObjectType(image) == OBJ_BITMAP;
    ICONINFO info{};
    if (!GetIconInfo(static_cast<HICON>(image), &info)) return false;
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    return true;
}

TEST_F(PageDpi, ARescaleByThePlatformRepaintsThePageAndLeaksNothing) {
    // WM_DPICHANGED_AFTERPARENT: the page reloads its art and its preview
    // block for its window's DPI (here the one it has) and repaints all of
    // itself. Wine counts no GDI objects, so each image the page made
    // before must be gone, and the heaps must not grow.
    constexpr UINT kDpiChangedAfterParent = 0x02E3;
    const bool icons[] = {true, true, true, true, false, false, false, true};
    sheet->pump();
    SendMessageW(sheet->page(), kDpiChangedAfterParent, 0, 0);
    sheet->pump();
    const int64_t heap = qxtest::HeapBusyBytes();
    ASSERT_GE(heap, 0);
    for (int i = 0; i < 40; ++i) {
        const std::vector<HANDLE> before = ShownHandles(sheet->page());
        ASSERT_EQ(8u, before.size());
        ValidateRect(sheet->page(), nullptr);
        SendMessageW(sheet->page(), kDpiChangedAfterParent, 0, 0);
        RECT dirty{}, client{};
        ASSERT_TRUE(GetUpdateRect(sheet->page(), &dirty, FALSE));
        GetClientRect(sheet->page(), &client);
        ASSERT_TRUE(EqualRect(&dirty, &client)) << "only part of the page repainted";
        const std::vector<HANDLE> after = ShownHandles(sheet->page());
        for (size_t k = 0; k < before.size(); ++k) {
            ASSERT_TRUE(Alive(after[k], icons[k])) << k;
            // At 96 DPI the controls keep their own images; above, the
            // page's previous ones are deleted.
            if (ExpectedDpi() == 96) {
                ASSERT_EQ(before[k], after[k]) << k;
            } else {
                ASSERT_FALSE(Alive(before[k], icons[k])) << "image " << k << " left behind";
            }
        }
        sheet->pump();
    }
    EXPECT_LT(qxtest::HeapBusyBytes() - heap, 4096) << "the heaps grew";
    const std::vector<Shown> shown = PageImages(sheet->page());
    ASSERT_EQ(8u, shown.size());
    for (size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(shown[i].icon ? Scaled(32) : Scaled(130), shown[i].size.cx) << i;
}

}  // namespace
