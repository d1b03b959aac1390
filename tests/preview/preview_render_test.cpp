// The real preview drawing code under Wine. With the null graphics driver a
// window's own surface is never painted, so the pixel checks hand DrawPreview
// a memory DC over a DIB section and read its bytes; the paint-message path
// (RenderPreview, InvalidatePreview) is checked on a real window.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/preview/bmp_builder.h"
#include "tests/preview/dib_surface.h"
#include "tests/support/wine_network.h"
#include "uiplugin/correction/engine/image_correction.h"
#include "uiplugin/correction/page/picture_open.h"
#include "uiplugin/correction/picture/preview_picture.h"
#include "uiplugin/correction/page/preview_render.h"

// The module RenderPreview loads bitmap 141 from: this test program, which
// links the same resource script as the DLL.
HINSTANCE moduleInstance = GetModuleHandleW(nullptr);

namespace {

using qxtest::Bytes;
using qxtest::BmpShape;

constexpr int kTarget = 208;  // drawing surface, square
constexpr uint8_t kSentinel = qxtest::kSurfaceSentinel;

using Surface = qxtest::DibSurface<kTarget>;

struct Controls {
    qx::CorrectionSettings settings{};
    int calls = 0;
    HWND page = nullptr;
};
void ReadTestControls(void *context, HWND page, qx::CorrectionSettings *out) {
    auto *c = static_cast<Controls *>(context);
    ++c->calls;
    c->page = page;
    *out = c->settings;
}
ReadControlsFn FnFor(Controls &c) { return ReadControlsFn{ReadTestControls, &c}; }

// A record whose path is `path` (and whose bytes after the NUL are not zero,
// so clearing all 520 bytes shows).
std::vector<uint8_t> RecordWithPath(const std::wstring &path) {
    std::vector<uint8_t> rec(qx::kPrivateDevModeSize, 0);
    uint8_t *p = rec.data() + qx::pdm::kPreviewImagePath;
    std::memset(p, 0x3C, 520);
    std::memcpy(p, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    return rec;
}
bool PathCleared(const std::vector<uint8_t> &rec) {
    for (size_t i = 0; i < 520; ++i)
        if (rec[qx::pdm::kPreviewImagePath + i] != 0) return false;
    return true;
}
std::wstring StoredPath(const std::vector<uint8_t> &rec) {
    return std::wstring(reinterpret_cast<const wchar_t *>(rec.data() + qx::pdm::kPreviewImagePath));
}

std::wstring TempFile(const wchar_t *name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + L"qx_preview_" + name;
}
void WriteBytes(const std::wstring &path, const Bytes &bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
    CloseHandle(h);
}

// A 24-bit file with pseudo-random pixels, so every correction changes bytes.
Bytes NoisyBmp(int32_t w, int32_t h) {
    BmpShape s;
    s.width = w;
    s.height = h;
    Bytes b = qxtest::BuildBmp(s);
    uint32_t x = 2463534242u;
    for (size_t i = 54; i < b.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = static_cast<uint8_t>(x >> 24);
    }
    return b;
}

// The preview's corrections written out in their order, as the oracle.
void CorrectDirect(const qx::CorrectionSettings &s, uint8_t *px, int32_t w, int32_t rows, size_t stride) {
    qx::ToneTable table;
    qx::BuildToneTable(s, table);
    if (s.unsharpMask == 1) qx::ApplyUnsharpMask(s, w, rows, px);
    const int level = s.sharpness & 7;
    if (level != 0 && w > 2 && rows > 2) {
        qx::ApplySharpnessFilter(px, w, rows, stride, level, table);
    } else {
        for (int32_t y = 0; y < rows; ++y) qx::ApplyToneRow(px + static_cast<size_t>(y) * stride, w, table);
    }
}

qx::CorrectionSettings Busy() {
    qx::CorrectionSettings s{};
    s.brightness = 2;
    s.contrast = 3;
    s.saturation = 4;
    s.cyanRed = -1;
    s.magentaGreen = 2;
    s.yellowBlue = -3;
    s.sharpness = 3;
    s.unsharpMask = 1;
    s.unsharpAmount = 5;
    s.unsharpRadius = 15;
    s.unsharpThreshold = 2;
    return s;
}

// The 192 x 192 pixels at (5, 5) against a 192 x 192 picture (stride 576)
// whose rows are bottom-up unless `topDown`.
void ExpectDrawn(Surface &surface, const uint8_t *picture, bool topDown) {
    for (int y = 0; y < 192; ++y) {
        const uint8_t *row = picture + static_cast<size_t>(topDown ? y : 191 - y) * 576;
        for (int x = 0; x < 192; ++x) {
            const uint8_t *got = surface.At(5 + x, 5 + y);
            ASSERT_EQ(0, std::memcmp(got, row + x * 3, 3)) << "pixel (" << x << ", " << y << ")";
        }
    }
}

// The one-pixel frame (4, 4)-(198, 198) in the DC's default black pen,
// nothing drawn outside it.
void ExpectFrame(Surface &surface) {
    const uint8_t black[3] = {0, 0, 0};
    const uint8_t sentinel[3] = {kSentinel, kSentinel, kSentinel};
    for (int i = 4; i <= 197; ++i) {
        for (const auto &xy : {std::make_pair(i, 4), std::make_pair(i, 197), std::make_pair(4, i), std::make_pair(197, i)})
            ASSERT_EQ(0, std::memcmp(surface.At(xy.first, xy.second), black, 3)) << xy.first << "," << xy.second;
        for (const auto &xy : {std::make_pair(i, 3), std::make_pair(i, 198), std::make_pair(3, i), std::make_pair(198, i)})
            ASSERT_EQ(0, std::memcmp(surface.At(xy.first, xy.second), sentinel, 3)) << xy.first << "," << xy.second;
    }
}

Bytes BuiltinFilePixels() {
    const Bytes bmp = qxtest::ReadWholeFile(std::string("Z:") + QX_BUILTIN_PREVIEW_BMP);
    return bmp.size() == 110646 ? Bytes(bmp.begin() + 54, bmp.end()) : Bytes{};
}

// ---- pictures drawn -------------------------------------------------------------

TEST(PreviewDraw, A192FileIsDrawnOneToOneAsCorrectedInBothOrientations) {
    for (int32_t h : {192, -192}) {
        const Bytes file = NoisyBmp(192, h);
        const std::wstring path = TempFile(h > 0 ? L"192.bmp" : L"192td.bmp");
        WriteBytes(path, file);
        auto rec = RecordWithPath(path);
        std::vector<uint8_t> scratch(qx::kPreviewScratchSize);
        Controls controls;
        controls.settings = Busy();
        Surface surface;
        HWND page = reinterpret_cast<HWND>(0x1234);
        DrawPreview(surface.dc(), page, rec.data(), scratch.data(), FnFor(controls), moduleInstance);

        Bytes want(file.begin() + 54, file.end());
        CorrectDirect(controls.settings, want.data(), 192, 192, 576);
        ExpectDrawn(surface, want.data(), h < 0);
        ExpectFrame(surface);
        EXPECT_EQ(controls.calls, 1);
        EXPECT_EQ(controls.page, page);
        EXPECT_EQ(StoredPath(rec), path) << "a usable path stays";
        DeleteFileW(path.c_str());
    }
}

TEST(PreviewDraw, LargePictureShowsItsCorrectedCentre) {
    for (int32_t h : {480, -480}) {
        const Bytes file = NoisyBmp(640, h);
        const std::wstring path = TempFile(L"640x480.bmp");
        WriteBytes(path, file);
        auto rec = RecordWithPath(path);
        std::vector<uint8_t> scratch(qx::kPreviewScratchSize);
        Controls controls;
        controls.settings = Busy();
        Surface surface;
        DrawPreview(surface.dc(), nullptr, rec.data(), scratch.data(), FnFor(controls), moduleInstance);

        Bytes want(qx::kPreviewPixelBytes);
        const size_t stride = 640 * 3;
        for (size_t r = 0; r < 192; ++r)
            std::memcpy(want.data() + r * 576, file.data() + 54 + (144 + r) * stride + 224 * 3, 576);
        CorrectDirect(controls.settings, want.data(), 192, 192, 576);
        ExpectDrawn(surface, want.data(), h < 0);
        DeleteFileW(path.c_str());
    }
}

TEST(PreviewDraw, TinyPictureIsStretchedAndOnlyLookedUp) {
    // 2 x 2 with sharpness 5: too narrow for the filter, only the lookup runs.
    const Bytes file = NoisyBmp(2, 2);
    const std::wstring path = TempFile(L"2x2.bmp");
    WriteBytes(path, file);
    auto rec = RecordWithPath(path);
    Controls controls;
    controls.settings.sharpness = 5;
    controls.settings.brightness = -4;
    Surface surface;
    DrawPreview(surface.dc(), nullptr, rec.data(), nullptr, FnFor(controls), moduleInstance);

    Bytes want(file.begin() + 54, file.end());  // stride 8
    qx::ToneTable table;
    qx::BuildToneTable(controls.settings, table);
    qx::ApplyToneRow(want.data(), 2, table);
    qx::ApplyToneRow(want.data() + 8, 2, table);
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 192; ++x) {
            const uint8_t *src = want.data() + (y < 96 ? 8 : 0) + (x < 96 ? 0 : 3);
            ASSERT_EQ(0, std::memcmp(surface.At(5 + x, 5 + y), src, 3)) << x << "," << y;
        }
    ExpectFrame(surface);
    DeleteFileW(path.c_str());
}

TEST(PreviewDraw, NoPictureShowsTheBuiltinPhotographCorrected) {
    const Bytes builtin = BuiltinFilePixels();
    ASSERT_EQ(builtin.size(), qx::kPreviewPixelBytes);
    auto rec = RecordWithPath(L"");
    Controls controls;
    controls.settings = Busy();
    Surface surface;
    DrawPreview(surface.dc(), nullptr, rec.data(), nullptr, FnFor(controls), moduleInstance);

    Bytes want = builtin;
    CorrectDirect(controls.settings, want.data(), 192, 192, 576);
    ExpectDrawn(surface, want.data(), false);
    ExpectFrame(surface);
    EXPECT_TRUE(PathCleared(rec));
}

TEST(PreviewDraw, UnusableFilesFallBackToTheBuiltinAndForgetThePath) {
    BmpShape eightBit;
    eightBit.bitCount = 8;
    BmpShape notBm;
    notBm.type = 0x5A4D;
    BmpShape bitfields;  // usable to us, refused by the platform for 24 bits
    bitfields.compression = 3;
    BmpShape bigNoScratch;  // a cut-out, but the page has no scratch block
    bigNoScratch.width = 300;
    bigNoScratch.height = 300;
    const struct {
        const wchar_t *name;
        Bytes file;
    } cases[] = {
        {L"8bit.bmp", qxtest::BuildBmp(eightBit)},
        {L"notbm.bmp", qxtest::BuildBmp(notBm)},
        {L"bitfields.bmp", qxtest::BuildBmp(bitfields)},
        {L"noscratch.bmp", qxtest::BuildBmp(bigNoScratch)},
        {L"short.bmp", Bytes{'B', 'M', 1, 2}},
        {L"missing.bmp", Bytes{}},  // not written: the file does not exist
    };
    const Bytes builtin = BuiltinFilePixels();
    for (const auto &c : cases) {
        const std::wstring path = TempFile(c.name);
        DeleteFileW(path.c_str());
        if (!c.file.empty()) WriteBytes(path, c.file);
        auto rec = RecordWithPath(path);
        Controls controls;  // all zero: the lookup is the identity
        Surface surface;
        DrawPreview(surface.dc(), nullptr, rec.data(), nullptr, FnFor(controls), moduleInstance);
        EXPECT_TRUE(PathCleared(rec)) << std::string(c.name, c.name + wcslen(c.name));
        ExpectDrawn(surface, builtin.data(), false);
        DeleteFileW(path.c_str());
    }
}

TEST(PreviewDraw, DeletedFileLeavesThePathAllZeros) {
    const std::wstring path = TempFile(L"deleted.bmp");
    WriteBytes(path, NoisyBmp(192, 192));
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    auto rec = RecordWithPath(path);
    Controls controls;
    Surface surface;
    DrawPreview(surface.dc(), nullptr, rec.data(), nullptr, FnFor(controls), moduleInstance);
    EXPECT_TRUE(PathCleared(rec));
    ExpectFrame(surface);
}

TEST(PreviewDraw, WithoutAnyDibSectionNothingIsDrawnNotEvenTheFrame) {
    // A module without bitmap 141, and first a file the platform refuses.
    HMODULE noBitmap = GetModuleHandleW(L"kernel32.dll");
    BmpShape bitfields;
    bitfields.compression = 3;
    const std::wstring path = TempFile(L"refused.bmp");
    WriteBytes(path, qxtest::BuildBmp(bitfields));
    for (const std::wstring &p : {path, std::wstring()}) {
        auto rec = RecordWithPath(p);
        Controls controls;
        Surface surface;
        DrawPreview(surface.dc(), nullptr, rec.data(), nullptr, FnFor(controls), noBitmap);
        EXPECT_TRUE(surface.Untouched());
        EXPECT_EQ(controls.calls, 0) << "the controls are read only for a picture";
        EXPECT_TRUE(PathCleared(rec));
    }
    DeleteFileW(path.c_str());
}

TEST(PreviewDraw, TheDllCarriesBitmap141) {
    HMODULE dll = LoadLibraryExW(L"" QX748UI_PATH_W, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(dll, nullptr);
    auto rec = RecordWithPath(L"");
    Controls controls;
    Surface surface;
    DrawPreview(surface.dc(), nullptr, rec.data(), nullptr, FnFor(controls), dll);
    const Bytes builtin = BuiltinFilePixels();
    ExpectDrawn(surface, builtin.data(), false);
    FreeLibrary(dll);
}

// ---- stored paths: only local disk files are opened ------------------------------

// Where one picture file can be reached from: a local folder, a UNC share
// and a remote drive (both faked under Wine over folders of their own), with
// the current folder set to the local one for the relative forms.
class Places {
public:
    Places() {
        wchar_t dir[MAX_PATH];
        GetTempPathW(MAX_PATH, dir);
        temp_ = dir;
        local = temp_ + L"qx_preview_good.bmp";
        remoteFolder_ = temp_ + L"qx_preview_remote\\";
        CreateDirectoryW(remoteFolder_.c_str(), nullptr);
        share = qxtest::WineUncShare(L"qxpreview", L"pictures");
        drive = std::make_unique<qxtest::RemoteDrive>(L'R', remoteFolder_);
        picture = NoisyBmp(192, 192);
        for (const std::wstring &p : {local, remoteFolder_ + L"good.bmp", share + L"good.bmp"})
            if (!p.empty()) WriteBytes(p, picture);
        GetCurrentDirectoryW(MAX_PATH, dir);
        oldCurrent_ = dir;
        SetCurrentDirectoryW(temp_.c_str());
    }
    ~Places() {
        SetCurrentDirectoryW(oldCurrent_.c_str());
        drive.reset();
        DeleteFileW(local.c_str());
        DeleteFileW((remoteFolder_ + L"good.bmp").c_str());
        RemoveDirectoryW(remoteFolder_.c_str());
        if (!share.empty()) DeleteFileW((share + L"good.bmp").c_str());
    }
    bool ok() const { return !share.empty() && drive->ok(); }

    std::wstring local;  // C:\...\qx_preview_good.bmp
    std::wstring share;  // \\qxpreview\pictures\ (empty if it could not be made)
    std::unique_ptr<qxtest::RemoteDrive> drive;
    Bytes picture;

private:
    std::wstring temp_, remoteFolder_, oldCurrent_;
};

std::wstring Slashed(std::wstring path) {
    for (wchar_t &c : path)
        if (c == L'\\') c = L'/';
    return path;
}

// What one paint of `path` drew and left in the record.
struct PaintResult {
    bool showedFile = false;
    bool showedBuiltin = false;
    bool kept = false;     // the path is still in the record
    bool cleared = false;  // all 520 bytes are zero
};
PaintResult PaintStored(HWND page, const std::wstring &path, const Bytes &file) {
    auto rec = RecordWithPath(path);
    Controls controls;  // all zero: the picture is drawn as stored
    Surface surface;
    DrawPreview(surface.dc(), page, rec.data(), nullptr, FnFor(controls), moduleInstance);
    const Bytes builtin = BuiltinFilePixels();
    const auto drawn = [&](const uint8_t *picture) {
        for (int y = 0; y < 192; ++y)
            if (std::memcmp(surface.At(5, 5 + y), picture + static_cast<size_t>(191 - y) * 576, 576) != 0)
                return false;
        return true;
    };
    PaintResult r;
    r.showedFile = drawn(file.data() + 54);
    r.showedBuiltin = drawn(builtin.data());
    r.kept = StoredPath(rec) == path;
    r.cleared = PathCleared(rec);
    return r;
}

TEST(PreviewStoredPath, OnlyFullPathsOnLocalDrivesToDiskFilesAreOpened) {
    Places places;
    ASSERT_TRUE(places.ok()) << "network places under Wine: " << places.drive->error();
    // The character device has to open as one for its row to mean anything.
    HANDLE null = CreateFileW(L"Z:\\dev\\null", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, null);
    EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_CHAR), GetFileType(null));
    CloseHandle(null);

    const std::wstring local = places.local;
    const std::wstring name = L"qx_preview_good.bmp";
    enum Outcome { kShown, kKeptUnopened, kForgotten };
    const struct {
        const char *what;
        std::wstring path;
        Outcome outcome;
    } cases[] = {
        {"local file", local, kShown},
        {"local file, forward slashes", Slashed(local), kShown},
        {"UNC path", places.share + L"good.bmp", kKeptUnopened},
        {"UNC path, forward slashes", Slashed(places.share + L"good.bmp"), kKeptUnopened},
        {"remote drive", places.drive->root() + L"good.bmp", kKeptUnopened},
        {"\\\\?\\ namespace", L"\\\\?\\" + local, kForgotten},
        {"\\\\.\\ namespace", L"\\\\.\\" + local, kForgotten},
        {"\\??\\ namespace", L"\\??\\" + local, kForgotten},
        {"pipe", L"\\\\.\\pipe\\qx748-preview", kForgotten},
        {"drive-relative", L"C:" + name, kForgotten},
        {"relative", name, kForgotten},
        {"root-relative", local.substr(2), kForgotten},
        {"CON", L"CON", kForgotten},
        {"COM1", L"COM1", kForgotten},
        {"NUL", L"NUL", kForgotten},
        {"device name in a local folder", local.substr(0, local.size() - name.size()) + L"nul.bmp", kForgotten},
        {"character device on a local drive", L"Z:\\dev\\null", kForgotten},
        {"missing local file", local + L".gone", kForgotten},
    };
    const HANDLE process = GetCurrentProcess();
    DWORD handlesBefore = 0, handlesAfter = 0;
    GetProcessHandleCount(process, &handlesBefore);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const PaintResult r = PaintStored(nullptr, c.path, places.picture);
        EXPECT_EQ(c.outcome == kShown, r.showedFile);
        EXPECT_EQ(c.outcome != kShown, r.showedBuiltin);
        EXPECT_EQ(c.outcome != kForgotten, r.kept);
        EXPECT_EQ(c.outcome == kForgotten, r.cleared);
    }
    GetProcessHandleCount(process, &handlesAfter);
    EXPECT_EQ(handlesBefore, handlesAfter) << "a refused handle was left open";
}

TEST(PreviewStoredPath, OnlyDiskFileHandlesAreHandedOut) {
    Places places;
    ASSERT_TRUE(places.ok()) << "network places under Wine: " << places.drive->error();
    const struct {
        std::wstring path;
        bool opened;
        bool keep;
    } cases[] = {
        {places.local, true, false},
        {L"Z:\\dev\\null", false, false},  // opens as a character device
        {L"Z:\\dev\\zero", false, false},
        {places.share + L"good.bmp", false, true},
        {places.drive->root() + L"good.bmp", false, true},
        {L"\\\\?\\" + places.local, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        bool keep = !c.keep;
        const HANDLE file = OpenStoredPicture(nullptr, c.path.c_str(), &keep);
        EXPECT_EQ(c.opened, file != INVALID_HANDLE_VALUE);
        EXPECT_EQ(c.keep, keep);
        if (file != INVALID_HANDLE_VALUE) {
            EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_DISK), GetFileType(file));
            CloseHandle(file);
        }
    }
}

TEST(PreviewStoredPath, APicturePickedInThePageIsShownFromTheNetworkWhileThePageLives) {
    Places places;
    ASSERT_TRUE(places.ok()) << "network places under Wine: " << places.drive->error();
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QxPreviewPickPage";
    RegisterClassW(&wc);
    HWND page = CreateWindowExW(0, wc.lpszClassName, L"page", 0, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    HWND otherPage =
        CreateWindowExW(0, wc.lpszClassName, L"other", 0, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(page, nullptr);
    ASSERT_NE(otherPage, nullptr);

    for (const std::wstring &path : {places.share + L"good.bmp", places.drive->root() + L"good.bmp"}) {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        RememberPickedPicture(page, path.c_str());
        PaintResult r = PaintStored(page, path, places.picture);
        EXPECT_TRUE(r.showedFile) << "the picked picture is shown";
        EXPECT_TRUE(r.kept);
        r = PaintStored(otherPage, path, places.picture);
        EXPECT_TRUE(r.showedBuiltin) << "another page did not pick it";
        EXPECT_TRUE(r.kept);
        r = PaintStored(page, Slashed(path), places.picture);
        EXPECT_TRUE(r.showedBuiltin) << "only the very path picked";
        ForgetPickedPicture(page);
        r = PaintStored(page, path, places.picture);
        EXPECT_TRUE(r.showedBuiltin) << "the page's memory is gone";
        EXPECT_TRUE(r.kept);
    }

    // A later pick replaces the earlier one, and a pick lifts only the
    // network rule.
    RememberPickedPicture(page, (places.share + L"good.bmp").c_str());
    RememberPickedPicture(page, (L"\\\\?\\" + places.local).c_str());
    EXPECT_TRUE(PaintStored(page, places.share + L"good.bmp", places.picture).showedBuiltin);
    const PaintResult r = PaintStored(page, L"\\\\?\\" + places.local, places.picture);
    EXPECT_TRUE(r.showedBuiltin);
    EXPECT_TRUE(r.cleared);

    ForgetPickedPicture(page);  // the page's WM_DESTROY does this
    DestroyWindow(page);
    DestroyWindow(otherPage);
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

// ---- the paint message on a real window -------------------------------------------

struct PageState {
    std::vector<uint8_t> record;
    Controls controls;
    int paints = 0;
    int erases = 0;
};
PageState *g_page = nullptr;

LRESULT CALLBACK PageProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (g_page != nullptr) {
        if (msg == WM_PAINT) {
            ++g_page->paints;
            RenderPreview(w, g_page->record.data(), nullptr, FnFor(g_page->controls));
            return 0;
        }
        if (msg == WM_ERASEBKGND) ++g_page->erases;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

TEST(PreviewPaint, InvalidatePreviewRepaintsOnlyThePictureAreaWithoutErasing) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = PageProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QxPreviewTestPage";
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&wc);
    PageState state;
    const std::wstring path = TempFile(L"gone.bmp");
    DeleteFileW(path.c_str());
    state.record = RecordWithPath(path);
    HWND page = CreateWindowExW(0, wc.lpszClassName, L"page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 400,
                                nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(page, nullptr);
    g_page = &state;
    ValidateRect(page, nullptr);

    InvalidatePreview(page);
    RECT update{};
    ASSERT_TRUE(GetUpdateRect(page, &update, FALSE));
    EXPECT_EQ(update.left, 5);
    EXPECT_EQ(update.top, 5);
    EXPECT_EQ(update.right, 197);
    EXPECT_EQ(update.bottom, 197);

    UpdateWindow(page);
    EXPECT_EQ(state.paints, 1);
    EXPECT_EQ(state.erases, 0);
    EXPECT_FALSE(GetUpdateRect(page, &update, FALSE)) << "the paint was begun and ended";
    EXPECT_EQ(state.controls.calls, 1);
    EXPECT_EQ(state.controls.page, page);
    EXPECT_TRUE(PathCleared(state.record)) << "the missing file was forgotten";

    g_page = nullptr;
    DestroyWindow(page);
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

}  // namespace
