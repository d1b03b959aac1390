// The Color correction page. The settings live in three places: the
// controls, the PrivateDevMode being edited (through the page's context)
// and the context's copy of the last applied settings.
#include "uiplugin/correction/page/color_page.h"

#include <commctrl.h>
#include <commdlg.h>
#include <prsht.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

#include "uiplugin/correction/picture/col_file.h"
#include "uiplugin/correction/page/picture_open.h"
#include "uiplugin/correction/picture/preview_picture.h"
#include "uiplugin/correction/page/preview_render.h"
#include "uiplugin/frame/boundary.h"
#include "uiplugin/frame/property_sheets.h"
#include "uiplugin/frame/unique_file.h"
#include "uiplugin/frame/working_folder.h"
#include "uiplugin/resources/resource_ids.h"

namespace {

const wchar_t kScratchProperty[] = L"QX748.PreviewScratch";
const wchar_t kScratchBytesProperty[] = L"QX748.PreviewScratchBytes";
const wchar_t kImagesProperty[] = L"QX748.ScaledImages";
constexpr DWORD kFileNameChars = 260;
// WM_DPICHANGED_AFTERPARENT (Windows 10 1703), newer than the headers' target.
constexpr UINT kDpiChangedAfterParent = 0x02E3;
constexpr int kTextChars = 256;

// ---- owners ----------------------------------------------------------------

class HeapBlock {
public:
    explicit HeapBlock(SIZE_T bytes) : p_(HeapAlloc(GetProcessHeap(), 0, bytes)) {}
    ~HeapBlock() {
        if (p_ != nullptr) HeapFree(GetProcessHeap(), 0, p_);
    }
    HeapBlock(const HeapBlock &) = delete;
    HeapBlock &operator=(const HeapBlock &) = delete;
    unsigned char *get() const { return static_cast<unsigned char *>(p_); }

private:
    void *p_;
};

// ---- where the page's data lives ------------------------------------------

ColorPageContext *ContextOf(HWND page) {
    return reinterpret_cast<ColorPageContext *>(GetWindowLongPtrW(page, DWLP_USER));
}

// The PrivateDevMode the page edits (any alignment), or null.
unsigned char *RecordOf(const ColorPageContext *context) {
    if (context == nullptr || context->sheetParam == nullptr) return nullptr;
    return static_cast<unsigned char *>(context->sheetParam->pOEMDM);
}

qx::CorrectionSettings StoredSettings(const unsigned char *record) {
    return qx::ReadCorrectionSettings(record + qx::pdm::kSettings);
}

// ---- controls --------------------------------------------------------------

LRESULT Item(HWND page, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendDlgItemMessageW(page, id, message, wParam, lParam);
}

int16_t SliderPosition(HWND page, int id) { return static_cast<int16_t>(Item(page, id, TBM_GETPOS)); }

void SetSlider(HWND page, int id, LPARAM position) { Item(page, id, TBM_SETPOS, TRUE, position); }

bool Checked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; }

void SetText(HWND page, int id, const wchar_t *format, int a, int b = 0) {
    wchar_t text[32];
    std::swprintf(text, sizeof text / sizeof text[0], format, a, b);
    SetDlgItemTextW(page, id, text);
}

// The Order ID edit box as a signed number; text that is not one gives 0.
int32_t OrderIdFromEdit(HWND page) {
    BOOL ok = FALSE;
    const int value = static_cast<int>(GetDlgItemInt(page, IDC_ORDER_ID, &ok, TRUE));
    return ok ? static_cast<int16_t>(value) : 0;  // cut to 16 bits, sign-extended
}

// Every field but `reserved` from the controls, without touching them.
void ReadControlValues(HWND page, qx::CorrectionSettings *s) {
    s->brightness = SliderPosition(page, IDC_BRIGHTNESS);
    s->contrast = SliderPosition(page, IDC_CONTRAST);
    s->saturation = SliderPosition(page, IDC_SATURATION);
    s->cyanRed = SliderPosition(page, IDC_CYAN_RED);
    s->magentaGreen = SliderPosition(page, IDC_MAGENTA_GREEN);
    s->yellowBlue = SliderPosition(page, IDC_YELLOW_BLUE);
    s->sharpness = static_cast<uint16_t>(SliderPosition(page, IDC_SHARPNESS));
    s->unsharpMask = Checked(page, IDC_UNSHARP_MASK) ? 1 : 0;
    s->unsharpAmount = SliderPosition(page, IDC_UNSHARP_AMOUNT);
    s->unsharpRadius = SliderPosition(page, IDC_UNSHARP_RADIUS);
    s->unsharpThreshold = SliderPosition(page, IDC_UNSHARP_THRESHOLD);
    s->resize = SliderPosition(page, IDC_RESIZE);
    s->naturalColor = Checked(page, IDC_NATURAL_COLOR) ? 1 : 0;
    s->orderId = OrderIdFromEdit(page);
    s->orderIdEnabled = Checked(page, IDC_ORDER_ID_ENABLED) ? 1 : 0;
}

void ShowReadouts(HWND page, const qx::CorrectionSettings &s) {
    SetText(page, IDC_BRIGHTNESS_TEXT, L"%d", s.brightness);
    SetText(page, IDC_CONTRAST_TEXT, L"%d", s.contrast);
    SetText(page, IDC_SATURATION_TEXT, L"%d", s.saturation);
    SetText(page, IDC_CYAN_RED_TEXT, L"%d", s.cyanRed);
    SetText(page, IDC_MAGENTA_GREEN_TEXT, L"%d", s.magentaGreen);
    SetText(page, IDC_YELLOW_BLUE_TEXT, L"%d", s.yellowBlue);
    SetText(page, IDC_SHARPNESS_TEXT, L"%u", s.sharpness);
    SetText(page, IDC_UNSHARP_AMOUNT_TEXT, L"%d", (s.unsharpAmount + 1) * 25);
    SetText(page, IDC_UNSHARP_RADIUS_TEXT, L"%d.%d", s.unsharpRadius / 10, s.unsharpRadius % 10);
    SetText(page, IDC_UNSHARP_THRESHOLD_TEXT, L"%u", static_cast<uint16_t>(s.unsharpThreshold));
    SetText(page, IDC_RESIZE_TEXT, L"%u", static_cast<unsigned>(s.resize + 100));
}

void ReadControlsForPreview(void *, HWND page, qx::CorrectionSettings *settings) { ReadControls(page, settings); }

bool SameBytes(const qx::CorrectionSettings &a, const qx::CorrectionSettings &b) {
    unsigned char x[sizeof(qx::CorrectionSettings)], y[sizeof(qx::CorrectionSettings)];
    qx::WriteCorrectionSettings(a, x);
    qx::WriteCorrectionSettings(b, y);
    return std::memcmp(x, y, sizeof x) == 0;
}

// ---- texts ------------------------------------------------------------------

// The module the page's template came from holds its texts too.
HINSTANCE TextModule(HWND page) { return reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(page, GWLP_HINSTANCE)); }

// A string of the page's table; empty when it is missing.
void LoadText(HWND page, UINT id, wchar_t (&text)[kTextChars]) {
    if (LoadStringW(TextModule(page), id, text, kTextChars) <= 0) text[0] = L'\0';
}

// A file type list is stored with '|' between its parts (a string table
// entry cannot end in the double NUL the dialog needs).
void LoadFilter(HWND page, UINT id, wchar_t (&filter)[kTextChars]) {
    std::memset(filter, 0, sizeof filter);
    const int n = LoadStringW(TextModule(page), id, filter, kTextChars - 1);
    for (int i = 0; i < n; ++i)
        if (filter[i] == L'|') filter[i] = L'\0';
}

void Message(HWND page, UINT id) {
    wchar_t text[kTextChars];
    LoadText(page, id, text);
    MessageBoxW(nullptr, text, nullptr, MB_OK);
}

// ---- file dialogs ------------------------------------------------------------

enum class FileDialog { kSelectPicture, kSaveSettings, kLoadSettings };

// True only when the dialog returned exactly 1; `path` then holds the name.
bool AskForFile(HWND page, FileDialog which, wchar_t (&path)[kFileNameChars]) {
    std::memset(path, 0, sizeof path);
    OPENFILENAMEW ofn;
    std::memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = page;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = kFileNameChars;
    wchar_t filter[kTextChars];
    ofn.lpstrFilter = filter;
    const WorkingFolderKeeper keepFolder;  // chosen or cancelled, the host's folder stays
    switch (which) {
    case FileDialog::kSelectPicture:
        LoadFilter(page, IDS_FILTER_PICTURE, filter);
        ofn.Flags = OFN_READONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
        return GetOpenFileNameW(&ofn) == 1;
    case FileDialog::kSaveSettings:
        LoadFilter(page, IDS_FILTER_SAVE_SETTINGS, filter);
        ofn.lpstrDefExt = L"COL";
        ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
        return GetSaveFileNameW(&ofn) == 1;
    case FileDialog::kLoadSettings:
        LoadFilter(page, IDS_FILTER_LOAD_SETTINGS, filter);
        ofn.Flags = OFN_READONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
        return GetOpenFileNameW(&ofn) == 1;
    }
    return false;
}

HANDLE OpenForReading(const wchar_t *path) {
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Reads up to `bytes`; the count actually read, 0 on failure.
DWORD ReadUpTo(HANDLE file, void *buffer, DWORD bytes) {
    DWORD done = 0;
    if (!ReadFile(file, buffer, bytes, &done, nullptr)) return 0;
    return done;
}

// ---- buttons ---------------------------------------------------------------

void SelectPicture(HWND page, unsigned char *record) {
    wchar_t path[kFileNameChars];
    if (!AskForFile(page, FileDialog::kSelectPicture, path)) return;
    UniqueFile file(OpenForReading(path));
    if (!file.valid()) return Message(page, IDS_CANNOT_OPEN_FILE);

    unsigned char header[14];
    if (ReadUpTo(file.get(), header, sizeof header) != sizeof header || header[0] != 'B' || header[1] != 'M')
        return Message(page, IDS_NOT_A_BITMAP);

    // The information header must reach as far as biBitCount, inside the
    // file: nothing is taken from bytes the file does not hold.
    constexpr uint32_t kBitCountEnd = 16;
    uint32_t offBits;
    std::memcpy(&offBits, header + 10, sizeof offBits);
    LARGE_INTEGER fileSize{};
    if (!GetFileSizeEx(file.get(), &fileSize) || offBits < sizeof header + kBitCountEnd ||
        static_cast<uint64_t>(offBits) > static_cast<uint64_t>(fileSize.QuadPart))
        return Message(page, IDS_SELECT_24_BIT_BITMAP);

    const DWORD infoBytes = offBits - sizeof header;
    HeapBlock info(infoBytes);
    if (info.get() == nullptr) return;  // silently, as the sheet's other allocation failures
    const DWORD got = ReadUpTo(file.get(), info.get(), infoBytes);
    file.close();
    uint16_t bitCount = 0;
    if (got >= kBitCountEnd) std::memcpy(&bitCount, info.get() + 14, sizeof bitCount);
    if (bitCount != 24) return Message(page, IDS_SELECT_24_BIT_BITMAP);

    // The path with its NUL; the name buffer holds at most 260 characters.
    const size_t chars = wcsnlen(path, kFileNameChars - 1) + 1;
    std::memcpy(record + qx::pdm::kPreviewImagePath, path, chars * sizeof(wchar_t));
    RememberPickedPicture(page, path);  // the user's own pick is shown even from the network
    InvalidatePreview(page);
}

void SaveSettings(HWND page) {
    wchar_t path[kFileNameChars];
    if (!AskForFile(page, FileDialog::kSaveSettings, path)) return;
    UniqueFile file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return Message(page, IDS_CANNOT_OPEN_FILE);
    qx::CorrectionSettings settings{};
    ReadControls(page, &settings);
    const auto bytes = qx::EncodeColorCorrectionFile(settings);
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void LoadSettings(HWND page, const unsigned char *record) {
    wchar_t path[kFileNameChars];
    if (!AskForFile(page, FileDialog::kLoadSettings, path)) return;
    UniqueFile file(OpenForReading(path));
    if (!file.valid()) return Message(page, IDS_CANNOT_OPEN_FILE);
    unsigned char bytes[qx::kColorCorrectionFileSize] = {};
    const DWORD got = ReadUpTo(file.get(), bytes, sizeof bytes);
    qx::CorrectionSettings loaded{};
    // A short file is refused like a foreign one: its missing fields would
    // have no values to show.
    if (qx::DecodeColorCorrectionFile(bytes, got, &loaded) != qx::ColError::kNone)
        return Message(page, IDS_NOT_A_COL_FILE);
    ShowSettings(page, loaded);
    UpdateChangedState(page, StoredSettings(record));
    InvalidatePreview(page);
}

void RestoreDefaults(HWND page, unsigned char *record) {
    std::memset(record + qx::pdm::kPreviewImagePath, 0, qx::kPreviewPathChars * sizeof(char16_t));
    ShowSettings(page, qx::DefaultPrivateDevMode().settings);
    UpdateChangedState(page, StoredSettings(record));
    InvalidatePreview(page);
}

// ---- icons and strips at the screen's DPI -------------------------------------

// The page's picture controls in template order. They have no identifiers
// of their own, so they are found by their place among the children.
struct PageImage {
    int resource;
    UINT type;
};
constexpr PageImage kPageImages[] = {
    {IDI_BRIGHTNESS, IMAGE_ICON},        {IDI_CONTRAST, IMAGE_ICON},
    {IDI_SATURATION, IMAGE_ICON},        {IDI_SHARPNESS, IMAGE_ICON},
    {IDB_STRIP_CYAN_RED, IMAGE_BITMAP},  {IDB_STRIP_MAGENTA_GREEN, IMAGE_BITMAP},
    {IDB_STRIP_YELLOW_BLUE, IMAGE_BITMAP}, {IDI_RESIZE, IMAGE_ICON},
};
constexpr size_t kPageImageCount = sizeof kPageImages / sizeof kPageImages[0];

// The larger images the page gave its controls, and what they showed
// before, put back before ours are deleted.
struct ScaledImages {
    HWND control[kPageImageCount] = {};
    HANDLE original[kPageImageCount] = {};
    HANDLE scaled[kPageImageCount] = {};
};

void DeleteImage(UINT type, HANDLE image) {
    if (image == nullptr) return;
    if (type == IMAGE_ICON) {
        DestroyIcon(static_cast<HICON>(image));
    } else {
        DeleteObject(image);
    }
}

// Gives the controls their own images back, then deletes ours and the record.
// The controls outlive the page's WM_DESTROY, so they never show a deleted one.
void PutBackImages(ScaledImages *images) {
    for (size_t i = 0; i < kPageImageCount; ++i) {
        if (images->scaled[i] == nullptr) continue;
        if (IsWindow(images->control[i]))
            SendMessageW(images->control[i], STM_SETIMAGE, kPageImages[i].type,
                         reinterpret_cast<LPARAM>(images->original[i]));
        DeleteImage(kPageImages[i].type, images->scaled[i]);
    }
    delete images;
}

// The resource's own size in pixels, or false.
bool NaturalSize(HINSTANCE module, const PageImage &image, SIZE *size) {
    HANDLE loaded = LoadImageW(module, MAKEINTRESOURCEW(image.resource), image.type, 0, 0, 0);
    if (loaded == nullptr) return false;
    BITMAP bm{};
    bool ok = false;
    if (image.type == IMAGE_BITMAP) {
        ok = GetObjectW(loaded, sizeof bm, &bm) == static_cast<int>(sizeof bm);
        size->cx = bm.bmWidth;
        size->cy = bm.bmHeight;
    } else {
        ICONINFO info{};
        if (GetIconInfo(static_cast<HICON>(loaded), &info)) {
            // Without a colour bitmap the mask holds both halves.
            HBITMAP measured = info.hbmColor != nullptr ? info.hbmColor : info.hbmMask;
            ok = GetObjectW(measured, sizeof bm, &bm) == static_cast<int>(sizeof bm);
            size->cx = bm.bmWidth;
            size->cy = info.hbmColor != nullptr ? bm.bmHeight : bm.bmHeight / 2;
            if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
            if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
        }
    }
    DeleteImage(image.type, loaded);
    return ok && size->cx > 0 && size->cy > 0;
}

bool IsPictureControl(HWND control, UINT type) {
    wchar_t name[16] = {};
    GetClassNameW(control, name, 16);
    if (_wcsicmp(name, L"Static") != 0) return false;
    const LONG_PTR kind = GetWindowLongPtrW(control, GWL_STYLE) & SS_TYPEMASK;
    return kind == (type == IMAGE_ICON ? SS_ICON : SS_BITMAP);
}

// Above 96 DPI the controls grow with the dialog; their images are loaded
// again, stretched by the same factor. At 96 DPI nothing is touched.
void ScaleImages(HWND page) {
    const int dpi = WindowDpi(page);
    if (dpi == kBaseDpi) return;
    HWND controls[kPageImageCount] = {};
    size_t found = 0;
    for (HWND child = GetWindow(page, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        const bool picture = IsPictureControl(child, IMAGE_ICON) || IsPictureControl(child, IMAGE_BITMAP);
        if (!picture) continue;
        if (found == kPageImageCount || !IsPictureControl(child, kPageImages[found].type)) return;  // not our layout
        controls[found++] = child;
    }
    if (found != kPageImageCount) return;

    auto *images = new (std::nothrow) ScaledImages;
    if (images == nullptr) return;  // the controls keep their 96-DPI images
    const HINSTANCE module = TextModule(page);
    for (size_t i = 0; i < kPageImageCount; ++i) {
        const PageImage &image = kPageImages[i];
        SIZE natural{};
        if (!NaturalSize(module, image, &natural)) continue;
        HANDLE scaled = LoadImageW(module, MAKEINTRESOURCEW(image.resource), image.type,
                                   ScaleToDpi(natural.cx, dpi), ScaleToDpi(natural.cy, dpi), 0);
        if (scaled == nullptr) continue;
        images->control[i] = controls[i];
        images->scaled[i] = scaled;
        images->original[i] = reinterpret_cast<HANDLE>(
            SendMessageW(controls[i], STM_SETIMAGE, image.type, reinterpret_cast<LPARAM>(scaled)));
    }
    if (!SetPropW(page, kImagesProperty, images)) PutBackImages(images);
}

void ReleaseImages(HWND page) {
    if (auto *images = static_cast<ScaledImages *>(RemovePropW(page, kImagesProperty))) PutBackImages(images);
}

// ---- the preview's scratch block ------------------------------------------------

PreviewScratch ScratchOf(HWND page) {
    PreviewScratch scratch;
    scratch.block = GetPropW(page, kScratchProperty);
    scratch.bytes = scratch.block != nullptr ? reinterpret_cast<size_t>(GetPropW(page, kScratchBytesProperty)) : 0;
    return scratch;
}

void FreeScratch(HWND page) {
    RemovePropW(page, kScratchBytesProperty);
    if (void *scratch = RemovePropW(page, kScratchProperty)) HeapFree(GetProcessHeap(), 0, scratch);
}

// A block for the preview at the window's DPI; where that much memory cannot
// be had, the 192-pixel one (the preview is then stretched), and without
// even that a large picture falls back to the built-in one. An existing
// block is replaced only by one that serves the new side.
void SizeScratch(HWND page) {
    const size_t want = qx::PreviewScratchBytes(qx::PreviewSideForDpi(WindowDpi(page)));
    const PreviewScratch now = ScratchOf(page);
    if (now.block != nullptr && now.bytes == want) return;
    void *block = HeapAlloc(GetProcessHeap(), 0, want);
    size_t bytes = want;
    if (block == nullptr && now.block != nullptr) return;  // keep what serves at least 192
    if (block == nullptr) {
        bytes = qx::kPreviewScratchSize;
        block = HeapAlloc(GetProcessHeap(), 0, bytes);
        if (block == nullptr) return;
    }
    FreeScratch(page);
    if (!SetPropW(page, kScratchProperty, block) ||
        !SetPropW(page, kScratchBytesProperty, reinterpret_cast<HANDLE>(bytes))) {
        RemovePropW(page, kScratchProperty);
        HeapFree(GetProcessHeap(), 0, block);
    }
}

// The platform has laid the page out again at its window's new DPI (a per-
// monitor aware host moved to a screen of another scale): the art, the
// preview's block and everything the page draws follow.
void OnDpiChanged(HWND page) {
    ReleaseImages(page);
    ScaleImages(page);
    if (RecordOf(ContextOf(page)) != nullptr) SizeScratch(page);
    InvalidateRect(page, nullptr, TRUE);
}

// ---- messages ----------------------------------------------------------------

void InitPage(HWND page, const PROPSHEETPAGEW *pageRecord) {
    ScaleImages(page);
    auto *context = pageRecord != nullptr ? reinterpret_cast<ColorPageContext *>(pageRecord->lParam) : nullptr;
    unsigned char *record = RecordOf(context);
    if (record == nullptr) return;  // a page without settings shows its template only
    const qx::CorrectionSettings stored = StoredSettings(record);

    struct Range {
        int id, low, high;
    };
    constexpr Range kRanges[] = {
        {IDC_BRIGHTNESS, -10, 10},      {IDC_CONTRAST, -10, 10},        {IDC_SATURATION, -10, 10},
        {IDC_CYAN_RED, -10, 10},        {IDC_MAGENTA_GREEN, -10, 10},   {IDC_YELLOW_BLUE, -10, 10},
        {IDC_SHARPNESS, 0, 7},          {IDC_UNSHARP_AMOUNT, 0, 12},    {IDC_UNSHARP_RADIUS, 1, 30},
        {IDC_UNSHARP_THRESHOLD, 0, 20}, {IDC_RESIZE, -10, 10},
    };
    for (const Range &r : kRanges) Item(page, r.id, TBM_SETRANGE, TRUE, MAKELPARAM(r.low, r.high));
    Item(page, IDC_ORDER_ID_SPIN, UDM_SETRANGE32, 0, 999);
    ShowSettings(page, stored);
    SetWindowLongPtrW(page, DWLP_USER, reinterpret_cast<LONG_PTR>(context));
    SetDlgItemInt(page, IDC_ORDER_ID, static_cast<UINT>(stored.orderId), TRUE);
    UpdateChangedState(page, stored);
    SizeScratch(page);
}

void OnCommand(HWND page, WPARAM wParam) {
    if (HIWORD(wParam) != 0) return;
    unsigned char *record = RecordOf(ContextOf(page));
    if (record == nullptr) return;
    switch (LOWORD(wParam)) {
    case IDC_SELECT_FILE: SelectPicture(page, record); break;
    case IDC_SAVE_CONFIG: SaveSettings(page); break;
    case IDC_LOAD_CONFIG: LoadSettings(page, record); break;
    case IDC_DEFAULT_SETTINGS: RestoreDefaults(page, record); break;
    case IDC_UNSHARP_MASK: InvalidatePreview(page); break;
    default: break;
    }
}

void OnNotify(HWND page, const NMHDR *header) {
    ColorPageContext *context = ContextOf(page);
    unsigned char *record = RecordOf(context);
    if (header == nullptr || record == nullptr) return;
    unsigned char *settingsBytes = record + qx::pdm::kSettings;
    switch (header->code) {
    case PSN_SETACTIVE:
        qx::WriteCorrectionSettings(context->appliedSettings, settingsBytes);
        break;
    case PSN_KILLACTIVE: {
        qx::CorrectionSettings settings = StoredSettings(record);  // keeps reserved as stored
        ReadControlValues(page, &settings);
        qx::WriteCorrectionSettings(settings, settingsBytes);
        break;
    }
    case PSN_APPLY:
        context->appliedSettings = StoredSettings(record);
        if (context->pfnComPropSheet != nullptr)
            context->pfnComPropSheet(context->hComPropSheet, CPSFUNC_SET_RESULT,
                                     reinterpret_cast<LPARAM>(context->pageHandle), CPSUI_OK);
        break;
    default:
        break;
    }
}

}  // namespace

void ShowSettings(HWND page, const qx::CorrectionSettings &s) {
    SetSlider(page, IDC_BRIGHTNESS, s.brightness);
    SetSlider(page, IDC_CONTRAST, s.contrast);
    SetSlider(page, IDC_SATURATION, s.saturation);
    SetSlider(page, IDC_CYAN_RED, s.cyanRed);
    SetSlider(page, IDC_MAGENTA_GREEN, s.magentaGreen);
    SetSlider(page, IDC_YELLOW_BLUE, s.yellowBlue);
    SetSlider(page, IDC_SHARPNESS, static_cast<LPARAM>(s.sharpness));
    CheckDlgButton(page, IDC_UNSHARP_MASK, s.unsharpMask == 1 ? BST_CHECKED : BST_UNCHECKED);
    SetSlider(page, IDC_UNSHARP_AMOUNT, s.unsharpAmount);
    SetSlider(page, IDC_UNSHARP_RADIUS, s.unsharpRadius);
    SetSlider(page, IDC_UNSHARP_THRESHOLD, s.unsharpThreshold);
    SetSlider(page, IDC_RESIZE, s.resize);
    CheckDlgButton(page, IDC_NATURAL_COLOR, s.naturalColor != 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, IDC_ORDER_ID_ENABLED, s.orderIdEnabled != 0 ? BST_CHECKED : BST_UNCHECKED);
}

void ReadControls(HWND page, qx::CorrectionSettings *settings) {
    ReadControlValues(page, settings);
    ShowReadouts(page, *settings);
    SetDlgItemInt(page, IDC_ORDER_ID, static_cast<UINT>(settings->orderId), TRUE);
}

int UpdateChangedState(HWND page, const qx::CorrectionSettings &stored) {
    qx::CorrectionSettings shown{};
    ReadControls(page, &shown);
    const bool changed = !SameBytes(shown, stored);
    SendMessageW(GetParent(page), changed ? PSM_CHANGED : PSM_UNCHANGED, reinterpret_cast<WPARAM>(page), 0);
    return changed ? 1 : 0;
}

static INT_PTR ColorPageMessage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitPage(page, reinterpret_cast<const PROPSHEETPAGEW *>(lParam));
        break;
    case WM_COMMAND:
        OnCommand(page, wParam);
        break;
    case WM_HSCROLL:
        if (unsigned char *record = RecordOf(ContextOf(page))) {
            UpdateChangedState(page, StoredSettings(record));
            InvalidatePreview(page);
        }
        break;
    case WM_NOTIFY:
        OnNotify(page, reinterpret_cast<const NMHDR *>(lParam));
        break;
    case WM_PAINT:
        if (unsigned char *record = RecordOf(ContextOf(page)))
            RenderPreview(page, record, ScratchOf(page), ReadControlsFn{ReadControlsForPreview, nullptr});
        break;
    case kDpiChangedAfterParent:
        OnDpiChanged(page);
        break;
    case WM_DESTROY:
        FreeScratch(page);
        ForgetPickedPicture(page);
        ReleaseImages(page);
        break;
    default:
        break;
    }
    return 0;
}

INT_PTR CALLBACK ColorPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return Guarded<INT_PTR>(0, [&] { return ColorPageMessage(page, message, wParam, lParam); });
}
