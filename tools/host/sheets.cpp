#include "tools/host/sheets.h"

#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <cstring>

#include "tools/host/capture.h"
#include "uiplugin/frame/property_sheets.h"
#include "uiplugin/resources/resource_ids.h"
#include "uiplugin/settings/private_devmode.h"

namespace qxhost {

using SheetSlot = HRESULT (STDMETHODCALLTYPE IPrintOemUI::*)(PPROPSHEETUI_INFO, LPARAM);

// What differs between the two sheets; everything else is one routine.
struct SheetPlan {
    SheetKind kind;
    const char *section;
    const char *name;
    DWORD commonUiMode;
    const char *commonUiName;
    SheetSlot slot;
    const char *slotName;
    const char *pageName;  // the page INIT must add
    const wchar_t *screenshot;
    const wchar_t *fallbackTitle;  // when the plug-in names none
};

// One run of the platform's CommonPropertySheetUIW: what its callback and
// the scripted run's timer need.
struct PlatformCall {
    const SheetPlan *plan = nullptr;
    const SheetRun *run = nullptr;
    HostSheet *sheet = nullptr;
    void *sheetParam = nullptr;
    HANDLE heap = nullptr;
    std::wstring title;
    UINT_PTR timer = 0, watchdog = 0;
    int ticks = 0;
    bool scripted = false;   // the script ran on the platform's sheet
    bool sawInit = false, sawHeader = false, sawDestroy = false;
};

namespace {

// The sheets' Apply button (the common controls' own identifier).
constexpr int kApplyButton = 0x3021;
constexpr DWORD kMaxOptionItems = 256;
constexpr ULONG_PTR kUntouched = static_cast<ULONG_PTR>(0xDEADBEEF);
// Not in the MinGW headers: the reason the platform sends before INIT.
constexpr WORD kReasonBeforeInit = 5;
// The platform's sheet is looked for this often, for at most this long.
constexpr UINT kFinderMs = 50;
constexpr int kFinderTicks = 600;

const SheetPlan kPlans[] = {
    {SheetKind::kDocument, "Document properties sheet", "document", OEMCUIP_DOCPROP, "OEMCUIP_DOCPROP",
     &IPrintOemUI::DocumentPropertySheets, "DocumentPropertySheets", "the Color correction page",
     L"color-correction.png", L"QX748 Document Properties"},
    {SheetKind::kPrinter, "Printer properties sheet", "printer", OEMCUIP_PRNPROP, "OEMCUIP_PRNPROP",
     &IPrintOemUI::DevicePropertySheets, "DevicePropertySheets", "the Version page", L"version.png",
     L"QX748 Printer Properties"},
};

// One sheet runs at a time, on this thread; the callbacks find it here.
SheetScenes *activeScenes = nullptr;
HostSheet *activeSheet = nullptr;
Transcript *activeLog = nullptr;
PlatformCall *activeCall = nullptr;
WNDPROC sheetProcedure = nullptr;

std::string HandleText(const void *h) { return Format("%p", h); }

std::string PageTemplate(const PROPSHEETPAGEW *page) {
    if (IS_INTRESOURCE(page->pszTemplate)) return Format("template %u", static_cast<unsigned>(reinterpret_cast<uintptr_t>(page->pszTemplate)));
    return "named template";
}

std::string ReasonName(WORD reason) {
    switch (reason) {
    case PROPSHEETUI_REASON_INIT: return "PROPSHEETUI_REASON_INIT";
    case PROPSHEETUI_REASON_GET_INFO_HEADER: return "PROPSHEETUI_REASON_GET_INFO_HEADER";
    case PROPSHEETUI_REASON_DESTROY: return "PROPSHEETUI_REASON_DESTROY";
    case PROPSHEETUI_REASON_SET_RESULT: return "PROPSHEETUI_REASON_SET_RESULT";
    case PROPSHEETUI_REASON_GET_ICON: return "PROPSHEETUI_REASON_GET_ICON";
    case kReasonBeforeInit: return "PROPSHEETUI_REASON_BEFORE_INIT";
    default: return Format("reason %u", static_cast<unsigned>(reason));
    }
}

// Both frames record an added page the same way, whoever made it.
void RecordAddedPage(HostSheet &sheet, Transcript &log, const PROPSHEETPAGEW *record, LONG_PTR page,
                     const char *where) {
    log.Call("  <- pfnComPropSheet(CPSFUNC_ADD_PROPSHEETPAGEW)", page ? HandleText(reinterpret_cast<void *>(page)) : "0",
             Format("%s, record %u bytes, lParam %p%s", PageTemplate(record).c_str(),
                    static_cast<unsigned>(record->dwSize), reinterpret_cast<void *>(record->lParam), where));
    if (page == 0) return;
    sheet.pages.push_back(reinterpret_cast<HPROPSHEETPAGE>(page));
    sheet.pageRecordParams.push_back(record->lParam);
}

// The common property sheet function the host gives the plug-in.
LONG_PTR CALLBACK HostComPropSheet(HANDLE sheetHandle, UINT function, LPARAM lParam1, LPARAM lParam2) {
    HostSheet *sheet = activeSheet;
    Transcript &log = *activeLog;
    if (sheet == nullptr || sheetHandle != static_cast<HANDLE>(sheet)) {
        log.Call("  <- pfnComPropSheet", "0", Format("function %u on a handle that is no open sheet's", function));
        log.Violation("the plug-in must use the sheet handle it was given");
        return 0;
    }
    switch (function) {
    case CPSFUNC_ADD_PROPSHEETPAGEW: {
        const auto *record = reinterpret_cast<const PROPSHEETPAGEW *>(lParam1);
        if (record == nullptr) {
            log.Call("  <- pfnComPropSheet(CPSFUNC_ADD_PROPSHEETPAGEW, null)", "0");
            log.Violation("an added page needs its record");
            return 0;
        }
        HPROPSHEETPAGE page = CreatePropertySheetPageW(record);
        RecordAddedPage(*sheet, log, record, reinterpret_cast<LONG_PTR>(page), "");
        return reinterpret_cast<LONG_PTR>(page);
    }
    case CPSFUNC_GET_PAGECOUNT:
        sheet->lastPageCount = static_cast<LONG_PTR>(sheet->pages.size());
        log.Call("  <- pfnComPropSheet(CPSFUNC_GET_PAGECOUNT)", Format("%u", static_cast<unsigned>(sheet->pages.size())));
        return sheet->lastPageCount;
    case CPSFUNC_SET_RESULT:
        sheet->setResults.push_back({lParam1, lParam2});
        log.Call("  <- pfnComPropSheet(CPSFUNC_SET_RESULT)", "1",
                 Format("sheet %p, page %p, result %ld", sheetHandle, reinterpret_cast<void *>(lParam1),
                        static_cast<long>(lParam2)));
        return 1;
    default:
        log.Call("  <- pfnComPropSheet", "0", Format("function %u, not one the host offers", function));
        return 0;
    }
}

// Under the platform's frame the plug-in gets this function: each call goes
// on to the platform's own, unchanged, and is recorded with its answer.
LONG_PTR CALLBACK PlatformComPropSheet(HANDLE sheetHandle, UINT function, LPARAM lParam1, LPARAM lParam2) {
    HostSheet *sheet = activeSheet;
    Transcript &log = *activeLog;
    if (sheet == nullptr || sheet->platformFunction == nullptr || sheetHandle != sheet->platformSheet) {
        log.Call("  <- pfnComPropSheet", "0", Format("function %u on a handle that is no open sheet's", function));
        log.Violation("the plug-in must use the sheet handle it was given");
        return 0;
    }
    if (function == CPSFUNC_ADD_PROPSHEETPAGEW && lParam1 == 0) {
        log.Call("  <- pfnComPropSheet(CPSFUNC_ADD_PROPSHEETPAGEW, null)", "0", "not passed on");
        log.Violation("an added page needs its record");
        return 0;
    }
    const LONG_PTR answer = sheet->platformFunction(sheetHandle, function, lParam1, lParam2);
    switch (function) {
    case CPSFUNC_ADD_PROPSHEETPAGEW:
        RecordAddedPage(*sheet, log, reinterpret_cast<const PROPSHEETPAGEW *>(lParam1), answer, ", the platform's page");
        break;
    case CPSFUNC_GET_PAGECOUNT:
        sheet->lastPageCount = answer;
        log.Call("  <- pfnComPropSheet(CPSFUNC_GET_PAGECOUNT)", Format("%ld", static_cast<long>(answer)),
                 "the platform's answer");
        break;
    case CPSFUNC_SET_RESULT:
        sheet->setResults.push_back({lParam1, lParam2});
        log.Call("  <- pfnComPropSheet(CPSFUNC_SET_RESULT)", Format("%ld", static_cast<long>(answer)),
                 Format("sheet %p, page %p, result %ld, the platform's answer", sheetHandle,
                        reinterpret_cast<void *>(lParam1), static_cast<long>(lParam2)));
        break;
    default:
        log.Call("  <- pfnComPropSheet", Format("%ld", static_cast<long>(answer)),
                 Format("function %u, the platform's answer", function));
        break;
    }
    return answer;
}

// The common UI sees Apply and OK through the sheet window itself.
LRESULT CALLBACK SheetSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC original = sheetProcedure;
    if (original == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // The window goes: it keeps its own procedure, the host lets go.
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        sheetProcedure = nullptr;
        return CallWindowProcW(original, window, message, wParam, lParam);
    }
    if (message == PSM_APPLY) {
        LRESULT applied = CallWindowProcW(original, window, message, wParam, lParam);
        if (applied && activeScenes != nullptr) activeScenes->OnApplied();
        return applied;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED &&
        (LOWORD(wParam) == IDOK || LOWORD(wParam) == kApplyButton)) {
        // OK and Apply apply the pages as PSM_APPLY does; the common UI's
        // callback follows either way.
        LRESULT r = CallWindowProcW(original, window, message, wParam, lParam);
        if (activeScenes != nullptr) activeScenes->OnApplied();
        return r;
    }
    return CallWindowProcW(original, window, message, wParam, lParam);
}

void Subclass(HWND window) {
    if (sheetProcedure != nullptr) return;
    sheetProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SheetSubclass)));
}

int CALLBACK SheetCreated(HWND window, UINT message, LPARAM) {
    if (message == PSCB_INITIALIZED && activeSheet != nullptr) {
        activeSheet->window = window;
        Subclass(window);
    }
    return 0;
}

void Pump(HWND sheet) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (sheet != nullptr && IsWindow(sheet) && PropSheet_IsDialogMessage(sheet, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Lets everything paint, the preview included, before a picture is taken.
void Settle(HWND sheet) {
    for (int i = 0; i < 5; ++i) {
        RedrawWindow(sheet, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
        Pump(sheet);
        Sleep(100);
    }
    Pump(sheet);
}

class Heap {
public:
    Heap() : h_(HeapCreate(0, 0, 0)) {}
    ~Heap() {
        if (h_ != nullptr) HeapDestroy(h_);
    }
    Heap(const Heap &) = delete;
    Heap &operator=(const Heap &) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

class Library {
public:
    explicit Library(const wchar_t *name) : h_(LoadLibraryW(name)) {}
    ~Library() {
        if (h_ != nullptr) FreeLibrary(h_);
    }
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;
    HMODULE get() const { return h_; }

private:
    HMODULE h_;
};

struct Active {
    Active(SheetScenes *scenes, HostSheet *sheet, Transcript *log) {
        activeScenes = scenes;
        activeSheet = sheet;
        activeLog = log;
    }
    ~Active() {
        activeScenes = nullptr;
        activeSheet = nullptr;
        activeLog = nullptr;
        activeCall = nullptr;
        sheetProcedure = nullptr;
    }
};

PROPSHEETUI_INFO SheetInfo(HostSheet &sheet, WORD reason, LPARAM lParamInit) {
    PROPSHEETUI_INFO info = {};
    info.cbSize = sizeof info;
    info.Version = PROPSHEETUI_INFO_VERSION;
    info.Reason = reason;
    info.hComPropSheet = static_cast<HANDLE>(&sheet);
    info.pfnComPropSheet = HostComPropSheet;
    info.lParamInit = lParamInit;
    info.Result = kUntouched;
    return info;
}

std::wstring JoinPath(const std::wstring &dir, const wchar_t *name) {
    if (dir.empty()) return name;
    wchar_t last = dir.back();
    return dir + (last == L'\\' || last == L'/' ? L"" : L"\\") + name;
}

void SaveScreenshot(Transcript &log, HWND window, const std::wstring &dir, const wchar_t *name) {
    std::wstring path = JoinPath(dir, name);
    std::string error = CaptureWindowPng(window, path);
    log.Call("screenshot", error.empty() ? "written" : "failed", error.empty() ? Utf8(path.c_str()) : error);
    if (!error.empty()) log.Violation("the screenshot could not be written");
}

// Where the sheet lands on the screen: fully on it, for the copy.
void PlaceSheet(HWND window) {
    SetWindowPos(window, HWND_TOP, 16, 16, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    SetForegroundWindow(window);
}

// A modeless sheet's window, or null: PropertySheetW answers -1 on failure.
HWND ShowModeless(const PROPSHEETHEADERW &header) {
    SetLastError(0);
    const INT_PTR r = PropertySheetW(&header);
    return r == 0 || r == -1 || !IsWindow(reinterpret_cast<HWND>(r)) ? nullptr : reinterpret_cast<HWND>(r);
}

void MoveSlider(HWND page, int id, int position) {
    HWND slider = GetDlgItem(page, id);
    SendMessageW(slider, TBM_SETPOS, TRUE, position);
    SendMessageW(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position), reinterpret_cast<LPARAM>(slider));
}

std::wstring WindowText(HWND window) {
    wchar_t text[256] = L"";
    GetWindowTextW(window, text, 256);
    return text;
}

// Every control of the sheet's current page must lie where it can be seen:
// inside the page's client area and the tab control's display area. A page
// measured in another font than the one it is laid out in reaches past
// them, and the sheet cuts its last rows off.
void CheckPageInView(Transcript &log, HWND sheet, const char *pageName) {
    HWND page = PropSheet_GetCurrentPageHwnd(sheet);
    HWND tab = PropSheet_GetTabControl(sheet);
    RECT pageArea, tabArea, sheetArea, visible;
    if (page == nullptr || tab == nullptr || !GetClientRect(page, &pageArea) || !GetClientRect(tab, &tabArea) ||
        !GetClientRect(sheet, &sheetArea)) {
        log.Violation("%s and the sheet's tab control must be there to be seen", pageName);
        return;
    }
    TabCtrl_AdjustRect(tab, FALSE, &tabArea);
    MapWindowPoints(page, nullptr, reinterpret_cast<POINT *>(&pageArea), 2);
    MapWindowPoints(tab, nullptr, reinterpret_cast<POINT *>(&tabArea), 2);
    MapWindowPoints(sheet, nullptr, reinterpret_cast<POINT *>(&sheetArea), 2);
    IntersectRect(&visible, &pageArea, &tabArea);
    IntersectRect(&visible, &visible, &sheetArea);
    int controls = 0;
    std::vector<std::string> outside;
    for (HWND child = GetWindow(page, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        ++controls;
        RECT r;
        GetWindowRect(child, &r);
        if (r.left >= visible.left && r.top >= visible.top && r.right <= visible.right && r.bottom <= visible.bottom)
            continue;
        outside.push_back(Format("control %d \"%s\" at (%ld,%ld)-(%ld,%ld) lies outside", GetDlgCtrlID(child),
                                 Utf8(WindowText(child).c_str()).c_str(), r.left - visible.left, r.top - visible.top,
                                 r.right - visible.left, r.bottom - visible.top));
    }
    const long width = visible.right - visible.left, height = visible.bottom - visible.top;
    if (outside.empty())
        log.Call(Format("%s in view", pageName).c_str(), "yes",
                 Format("all %d controls inside the visible %ld x %ld pixels", controls, width, height));
    else
        log.Call(Format("%s in view", pageName).c_str(), "no",
                 Format("%u of %d controls outside the visible %ld x %ld pixels",
                        static_cast<unsigned>(outside.size()), controls, width, height));
    for (const std::string &line : outside) log.Note("%s", line.c_str());
    if (controls == 0) log.Violation("%s shows no controls", pageName);
    if (!outside.empty()) log.Violation("every control of %s lies in its visible area", pageName);
}

// The screen's DPI, as the pages are laid out for it.
int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi;
}

// How much of a control's client width its text may take, or -1 for a
// control whose text is not checked here. A push button keeps its frame,
// a check box or radio button its box and the gap after it, a group box
// the indent of its caption on both sides.
int TextRoom(HWND control, const TEXTMETRICW &metrics, bool *singleLine, UINT *format) {
    wchar_t cls[32] = L"";
    GetClassNameW(control, cls, 32);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    RECT client;
    GetClientRect(control, &client);
    const int width = client.right - client.left, height = client.bottom - client.top;
    *format = DT_CALCRECT;
    if (_wcsicmp(cls, L"Static") == 0) {
        const LONG type = style & SS_TYPEMASK;
        // Ellipsis styles shorten their text on purpose.
        if ((type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_SIMPLE &&
             type != SS_LEFTNOWORDWRAP) || (style & SS_ELLIPSISMASK) != 0)
            return -1;
        if (style & SS_NOPREFIX) *format |= DT_NOPREFIX;
        // A wrapping static with room for one line only shows one.
        *singleLine = type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP || height < 2 * metrics.tmHeight;
        return width;
    }
    if (_wcsicmp(cls, L"Button") != 0 || (style & (BS_BITMAP | BS_ICON)) != 0) return -1;
    *singleLine = (style & BS_MULTILINE) == 0;
    const int edge = GetSystemMetrics(SM_CXEDGE);
    switch (style & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON:
        return width - 2 * edge;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE:
        if (style & BS_PUSHLIKE) return width - 2 * edge;
        return width - GetSystemMetrics(SM_CXMENUCHECK) - metrics.tmAveCharWidth / 2;
    case BS_GROUPBOX:
        *singleLine = true;
        return width - 2 * metrics.tmAveCharWidth;
    default:
        return -1;
    }
}

// Every text of the sheet's current page must show whole in its control,
// in the control's own font: where the font grows faster than the dialog
// units the page is measured in, a label or a caption loses its last
// letters. One-line texts against the room their control gives them;
// wrapping ones against its height.
void CheckTextsWhole(Transcript &log, HWND sheet, const char *pageName) {
    HWND page = PropSheet_GetCurrentPageHwnd(sheet);
    if (page == nullptr) {
        log.Violation("%s must be there for its texts to be measured", pageName);
        return;
    }
    int texts = 0;
    std::vector<std::string> cut;
    for (HWND child = GetWindow(page, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::wstring text = WindowText(child);
        if (text.empty()) continue;
        HDC dc = GetDC(child);
        if (dc == nullptr) continue;
        auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(child, WM_GETFONT, 0, 0));
        HGDIOBJ old = SelectObject(dc, font != nullptr ? font : GetStockObject(SYSTEM_FONT));
        TEXTMETRICW metrics = {};
        GetTextMetricsW(dc, &metrics);
        bool singleLine = true;
        UINT format = 0;
        const int room = TextRoom(child, metrics, &singleLine, &format);
        RECT client;
        GetClientRect(child, &client);
        RECT extent = {0, 0, singleLine ? 0 : room, 0};
        if (room >= 0)
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &extent,
                      format | (singleLine ? DT_SINGLELINE : DT_WORDBREAK));
        SelectObject(dc, old);
        ReleaseDC(child, dc);
        if (room < 0) continue;
        ++texts;
        const char *hidden = IsWindowVisible(child) ? "" : " (hidden now)";
        if (singleLine && extent.right - extent.left > room)
            cut.push_back(Format("control %d \"%s\"%s: text %ld px wide, control %ld px wide (room for the text %d px)",
                                 GetDlgCtrlID(child), Utf8(text.c_str()).c_str(), hidden, extent.right - extent.left,
                                 client.right - client.left, room));
        else if (!singleLine && extent.bottom - extent.top > client.bottom - client.top)
            cut.push_back(Format("control %d \"%s\"%s: text %ld px high in %d px wide lines, control %ld px high",
                                 GetDlgCtrlID(child), Utf8(text.c_str()).c_str(), hidden, extent.bottom - extent.top,
                                 room, client.bottom - client.top));
    }
    const int dpi = ScreenDpi();
    if (cut.empty())
        log.Call(Format("%s texts whole", pageName).c_str(), "yes",
                 Format("all %d texts fit their controls at %d DPI", texts, dpi));
    else
        log.Call(Format("%s texts whole", pageName).c_str(), "no",
                 Format("%u of %d texts do not fit their controls at %d DPI", static_cast<unsigned>(cut.size()), texts,
                        dpi));
    for (const std::string &line : cut) log.Note("%s", line.c_str());
    if (texts == 0) log.Violation("%s shows no texts", pageName);
    if (!cut.empty()) log.Violation("every text of %s fits its control", pageName);
}

// The platform's sheet: a top-level dialog of this thread that answers as
// a property sheet does.
BOOL CALLBACK FindSheetWindow(HWND window, LPARAM found) {
    wchar_t cls[16] = L"";
    GetClassNameW(window, cls, 16);
    if (std::wcscmp(cls, L"#32770") != 0 || PropSheet_GetCurrentPageHwnd(window) == nullptr) return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

VOID CALLBACK PlatformSheetTick(HWND, UINT, UINT_PTR id, DWORD) {
    PlatformCall *call = activeCall;
    if (call == nullptr || activeScenes == nullptr || call->sheet == nullptr) {
        KillTimer(nullptr, id);
        return;
    }
    HWND window = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindSheetWindow, reinterpret_cast<LPARAM>(&window));
    if (window == nullptr) {
        if (++call->ticks >= kFinderTicks) {
            KillTimer(nullptr, id);
            call->timer = 0;
        }
        return;
    }
    // Once: the script pumps messages itself and must not meet this again.
    KillTimer(nullptr, id);
    call->timer = 0;
    call->sheet->window = window;
    activeScenes->DriveSheet(*call);
}

VOID CALLBACK PlatformWatchdog(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (activeCall != nullptr) activeCall->watchdog = 0;
    HostSheet *sheet = activeSheet;
    if (sheet == nullptr || sheet->window == nullptr || !IsWindow(sheet->window) || activeLog == nullptr) return;
    activeLog->Violation("the platform's sheet did not close on OK; cancelled");
    PropSheet_PressButton(sheet->window, PSBTN_CANCEL);
}

// The platform calls the driver UI's sheet function with each reason.
LONG CALLBACK PlatformSheetFunction(PPROPSHEETUI_INFO info, LPARAM lParam) {
    if (info == nullptr || activeScenes == nullptr || activeCall == nullptr) return -1;
    return activeScenes->OnPlatformReason(*activeCall, info, lParam);
}

// The platform calls its sheet functions CALLBACK (the MinGW header's
// PFNPROPSHEETUI names no convention, which would be wrong on x86).
using CommonPropertySheetUIWFn = LONG(APIENTRY *)(HWND, LONG(CALLBACK *)(PPROPSHEETUI_INFO, LPARAM), LPARAM, LPDWORD);

}  // namespace

void SheetScenes::OnApplied() {
    if (commonUi_ == nullptr || sheet_ == nullptr) return;
    ++sheet_->applies;
    if (commonUi_->OEMCUIPCallback == nullptr) {
        log_.Call("Apply", "no OEMCUIPCallback installed");
        return;
    }
    CPSUICBPARAM cb = {};
    cb.cbSize = sizeof cb;
    cb.Reason = CPSUICB_REASON_APPLYNOW;
    cb.hDlg = sheet_->window;
    cb.pOptItem = items_ != nullptr && !items_->empty() ? items_->data() : nullptr;
    cb.cOptItem = items_ != nullptr ? static_cast<WORD>(items_->size()) : 0;
    cb.Result = CPSUI_OK;
    LONG action = commonUi_->OEMCUIPCallback(&cb, commonUi_);
    const void *record = commonUi_->pOEMDM;
    const unsigned long applied = record ? qx::ReadPrivateDevMode(record).appliedFlag : 0;
    log_.Call("OEMCUIPCallback(CPSUICB_REASON_APPLYNOW)", Format("%ld", static_cast<long>(action)),
              record ? Format("appliedFlag %lu", applied) : "no private record");
    if (action != CPSUICB_ACTION_NONE) log_.Violation("Apply asks for no action");
    if (record != nullptr && applied != 1) log_.Violation("an Apply must mark the record applied");
}

bool SheetScenes::CheckInit(const SheetPlan &plan, HostSheet &sheet, HANDLE heap, HRESULT hr, LONG_PTR result) {
    if (plan.kind == SheetKind::kDocument)
        log_.Call(Format("%s(PROPSHEETUI_REASON_INIT)", plan.slotName).c_str(), HresultText(hr),
                  Format("Result %ld, pages %u", static_cast<long>(result), static_cast<unsigned>(sheet.pages.size())));
    else
        log_.Call(Format("%s(PROPSHEETUI_REASON_INIT)", plan.slotName).c_str(), HresultText(hr),
                  Format("Result %p, pages %u", reinterpret_cast<void *>(result), static_cast<unsigned>(sheet.pages.size())));
    if (hr != S_OK || sheet.pages.empty()) {
        log_.Violation("INIT must add %s", plan.pageName);
        return false;
    }
    if (plan.kind == SheetKind::kPrinter) {
        if (result != reinterpret_cast<LONG_PTR>(sheet.pages.back()))
            log_.Violation("the printer sheet's INIT Result is the added page's handle");
        return true;
    }
    if (result != sheet.lastPageCount) log_.Violation("INIT's Result is the page count the sheet reported");
    HANDLE colorPage = sheet.pages[0];
    const HANDLE sheetHandle = sheet.platformSheet != nullptr ? sheet.platformSheet : static_cast<HANDLE>(&sheet);
    const auto *context = reinterpret_cast<const ColorPageContext *>(sheet.pageRecordParams[0]);
    if (context != nullptr) {
        log_.Note("page context: pageHandle %p, hComPropSheet %p, heap block %lu bytes", context->pageHandle,
                  context->hComPropSheet, static_cast<unsigned long>(HeapSize(heap, 0, context)));
        if (context->pageHandle != colorPage) log_.Violation("the context must keep the handle the add call returned");
        if (context->hComPropSheet != sheetHandle) log_.Violation("the context keeps the sheet handle");
    } else {
        log_.Violation("the Color correction page needs its context");
    }
    return true;
}

// The document's script, on either frame: two sliders and the unsharp mask
// set as a person would, a picture, then Apply.
void SheetScenes::ScriptDocument(HWND window, HostSheet &sheet, const SheetRun &run, LPARAM &outcome) {
    void *record = session_.privateDevMode();
    Pump(window);
    HWND page = PropSheet_GetCurrentPageHwnd(window);
    MoveSlider(page, IDC_BRIGHTNESS, 3);
    MoveSlider(page, IDC_SATURATION, 5);
    if (IsDlgButtonChecked(page, IDC_UNSHARP_MASK) != BST_CHECKED)
        SendDlgItemMessageW(page, IDC_UNSHARP_MASK, BM_CLICK, 0, 0);
    Pump(window);
    log_.Call("script: brightness 3, saturation 5, unsharp mask on", "done");
    Settle(window);
    CheckPageInView(log_, window, "the Color correction page");
    CheckTextsWhole(log_, window, "the Color correction page");
    if (!run.screenshotDir.empty()) SaveScreenshot(log_, window, run.screenshotDir, L"color-correction.png");
    const size_t before = sheet.setResults.size();
    LRESULT applied = PropSheet_Apply(window);
    Pump(window);
    log_.Call("PSM_APPLY", Format("%ld", static_cast<long>(applied)),
              Format("%d Appl%s reached the common UI", sheet.applies, sheet.applies == 1 ? "y" : "ies"));
    bool reported = false;
    for (size_t i = before; i < sheet.setResults.size(); ++i)
        reported |= sheet.setResults[i].page == reinterpret_cast<LPARAM>(sheet.pages[0]) &&
                    sheet.setResults[i].result == CPSUI_OK;
    if (!reported) log_.Violation("the page must report CPSUI_OK for its own handle on Apply");
    const qx::CorrectionSettings stored = qx::ReadPrivateDevMode(record).settings;
    log_.Note("record after Apply: brightness %d, saturation %d, unsharp mask %ld", stored.brightness,
              stored.saturation, static_cast<long>(stored.unsharpMask));
    if (stored.brightness != 3 || stored.saturation != 5 || stored.unsharpMask != 1)
        log_.Violation("Apply must leave the page's settings in the record");
    if (applied) outcome = CPSUI_OK;
}

void SheetScenes::RunSheet(SheetKind kind, const SheetRun &run) {
    const SheetPlan &plan = kPlans[kind == SheetKind::kDocument ? 0 : 1];
    const bool document = kind == SheetKind::kDocument;
    log_.Section(plan.section);
    IPrintOemUI *plugin = session_.plugin();
    void *record = document ? session_.privateDevMode() : nullptr;
    if (plugin == nullptr || (document && record == nullptr)) {
        log_.Violation("the %s sheet needs the plug-in%s", plan.name, document ? " and its private block" : "");
        return;
    }
    if (document) {
        // The document as stored before anyone applied this sheet: the flag
        // that only an Apply sets starts clear, so the run shows who sets it.
        qx::PrivateDevMode opened = qx::ReadPrivateDevMode(record);
        opened.appliedFlag = 0;
        qx::WritePrivateDevMode(opened, record);
        log_.Note("the document opens with appliedFlag 0");
    }
    HostSheet sheet;
    sheet.name = plan.name;
    Active active(this, &sheet, &log_);
    Heap heap;
    wchar_t printerName[] = L"QX748 Color";

    // Option items: how many, then the items.
    OEMCUIPPARAM commonUi = {};
    commonUi.cbSize = sizeof commonUi;
    commonUi.pPrinterName = printerName;
    commonUi.hModule = session_.module();
    commonUi.hOEMHeap = heap.get();
    commonUi.pPublicDM = document ? session_.publicDevMode() : nullptr;
    commonUi.pOEMDM = record;
    HRESULT hr = plugin->CommonUIProp(plan.commonUiMode, &commonUi);
    log_.Call(Format("CommonUIProp(%s, no items)", plan.commonUiName).c_str(), HresultText(hr),
              Format("cOEMOptItems %lu", static_cast<unsigned long>(commonUi.cOEMOptItems)));
    if (hr != S_OK || commonUi.cOEMOptItems > kMaxOptionItems) {
        log_.Violation("the item count must be given and usable");
        return;
    }
    std::vector<OPTITEM> items(commonUi.cOEMOptItems);
    std::memset(items.data(), 0, items.size() * sizeof(OPTITEM));
    OPTITEM none;  // a count of 0 still hands over a place for items
    commonUi.pOEMOptItems = items.empty() ? &none : items.data();
    hr = plugin->CommonUIProp(plan.commonUiMode, &commonUi);
    int sized = 0;
    for (const OPTITEM &item : items) sized += item.cbSize == sizeof(OPTITEM) ? 1 : 0;
    log_.Call(Format("CommonUIProp(%s, items)", plan.commonUiName).c_str(), HresultText(hr),
              Format("%d of %u items sized %u, callback %s", sized, static_cast<unsigned>(items.size()),
                     static_cast<unsigned>(sizeof(OPTITEM)), commonUi.OEMCUIPCallback ? "installed" : "none"));
    if (hr != S_OK) log_.Violation("the items call must succeed");
    if (document && sized != static_cast<int>(items.size())) log_.Violation("every item must carry its size");
    commonUi_ = &commonUi;
    items_ = &items;
    sheet_ = &sheet;

    // The plug-in's pages get these parameters whichever frame runs them.
    OEMUIPSPARAM sheetParam = {};
    sheetParam.cbSize = sizeof sheetParam;
    sheetParam.pPrinterName = printerName;
    sheetParam.hModule = session_.module();
    sheetParam.hOEMHeap = heap.get();
    sheetParam.pPublicDM = document ? session_.publicDevMode() : nullptr;
    sheetParam.pOEMDM = record;
    if (run.frame == SheetFrame::kPlatform)
        RunPlatformFrame(plan, run, sheet, &sheetParam, heap.get());
    else
        RunHostFrame(plan, run, sheet, &sheetParam, heap.get());
    commonUi_ = nullptr;
    items_ = nullptr;
    sheet_ = nullptr;
}

void SheetScenes::RunHostFrame(const SheetPlan &plan, const SheetRun &run, HostSheet &sheet, void *sheetParam,
                               HANDLE heap) {
    IPrintOemUI *plugin = session_.plugin();
    PROPSHEETUI_INFO info = SheetInfo(sheet, PROPSHEETUI_REASON_INIT, reinterpret_cast<LPARAM>(sheetParam));
    HRESULT hr = (plugin->*plan.slot)(&info, 0);
    if (!CheckInit(plan, sheet, heap, hr, static_cast<LONG_PTR>(info.Result))) return;

    PROPSHEETUI_INFO_HEADER header = {};
    header.cbSize = sizeof header;
    header.pTitle = const_cast<LPWSTR>(L"(host)");
    info = SheetInfo(sheet, PROPSHEETUI_REASON_GET_INFO_HEADER, 0);
    hr = (plugin->*plan.slot)(&info, reinterpret_cast<LPARAM>(&header));
    const bool named = header.pTitle != nullptr && std::wcscmp(header.pTitle, L"(host)") != 0;
    log_.Call(Format("%s(PROPSHEETUI_REASON_GET_INFO_HEADER)", plan.slotName).c_str(), HresultText(hr),
              Format("Result %ld, title %s", static_cast<long>(info.Result),
                     header.pTitle ? ("\"" + Utf8(header.pTitle) + "\"").c_str() : "none"));
    if (hr != S_OK || info.Result != 1) log_.Violation("GET_INFO_HEADER answers S_OK and 1");
    if (plan.kind == SheetKind::kPrinter && header.pTitle == nullptr)
        log_.Violation("the printer sheet's header carries the plug-in's title");
    const std::wstring caption = named ? header.pTitle : plan.fallbackTitle;

    PROPSHEETHEADERW sheetHeader = {};
    sheetHeader.dwSize = sizeof sheetHeader;
    sheetHeader.dwFlags = PSH_NOCONTEXTHELP | PSH_USECALLBACK | (run.show == SheetShow::kScripted ? PSH_MODELESS : 0);
    sheetHeader.pszCaption = caption.c_str();
    sheetHeader.nPages = static_cast<UINT>(sheet.pages.size());
    sheetHeader.phpage = sheet.pages.data();
    sheetHeader.pfnCallback = SheetCreated;

    LPARAM outcome = CPSUI_CANCEL;
    if (run.show == SheetShow::kInteractive) {
        INT_PTR r = PropertySheetW(&sheetHeader);
        log_.Call("PropertySheetW(modal)", Format("%ld", static_cast<long>(r)),
                  Format("%d Appl%s", sheet.applies, sheet.applies == 1 ? "y" : "ies"));
        if (r < 0) log_.Violation("the sheet could not be shown");
        // The document counts its Applies; the printer sheet, with nothing
        // to apply, goes by what PropertySheetW answered.
        if (plan.kind == SheetKind::kDocument ? sheet.applies > 0 : r > 0) outcome = CPSUI_OK;
    } else {
        HWND window = ShowModeless(sheetHeader);
        log_.Call("PropertySheetW(modeless)", window ? "shown" : Format("failed, error %lu", GetLastError()));
        if (window == nullptr) {
            log_.Violation("the sheet could not be created");
        } else {
            PlaceSheet(window);
            if (plan.kind == SheetKind::kDocument) {
                ScriptDocument(window, sheet, run, outcome);
            } else {
                Settle(window);
                CheckPageInView(log_, window, plan.pageName);
                CheckTextsWhole(log_, window, plan.pageName);
                if (!run.screenshotDir.empty()) SaveScreenshot(log_, window, run.screenshotDir, plan.screenshot);
            }
            DestroyWindow(window);
            Pump(nullptr);
        }
    }

    // After the sheet has closed: its result, then its end, as the driver
    // UI reports them to the plug-in.
    SETRESULT_INFO setResult = {};
    setResult.cbSize = sizeof setResult;
    setResult.hSetResult = static_cast<HANDLE>(&sheet);
    setResult.Result = outcome;
    info = SheetInfo(sheet, PROPSHEETUI_REASON_SET_RESULT, 0);
    hr = (plugin->*plan.slot)(&info, reinterpret_cast<LPARAM>(&setResult));
    log_.Call(Format("%s(PROPSHEETUI_REASON_SET_RESULT)", plan.slotName).c_str(), HresultText(hr),
              Format("Result %ld for sheet result %ld", static_cast<long>(info.Result), static_cast<long>(outcome)));
    if (hr != S_OK || static_cast<LPARAM>(info.Result) != outcome) log_.Violation("SET_RESULT passes the sheet's result on");
    info = SheetInfo(sheet, PROPSHEETUI_REASON_DESTROY, 0);
    hr = (plugin->*plan.slot)(&info, 0);
    log_.Call(Format("%s(PROPSHEETUI_REASON_DESTROY)", plan.slotName).c_str(), HresultText(hr),
              Format("Result %ld", static_cast<long>(info.Result)));
    if (hr != S_OK) log_.Violation("DESTROY must succeed");
}

void SheetScenes::RunPlatformFrame(const SheetPlan &plan, const SheetRun &run, HostSheet &sheet, void *sheetParam,
                                   HANDLE heap) {
    Library compstui(L"compstui.dll");
    log_.Call("LoadLibraryW", compstui.get() ? "loaded" : Format("failed, error %lu", GetLastError()), "compstui.dll");
    auto commonPropertySheetUI = compstui.get() == nullptr
                                     ? nullptr
                                     : reinterpret_cast<CommonPropertySheetUIWFn>(reinterpret_cast<void *>(
                                           GetProcAddress(compstui.get(), "CommonPropertySheetUIW")));
    log_.Call("GetProcAddress CommonPropertySheetUIW", commonPropertySheetUI ? "found" : "missing");
    if (commonPropertySheetUI == nullptr) {
        log_.Violation("the platform's sheet needs compstui.dll's CommonPropertySheetUIW");
        return;
    }
    PlatformCall call;
    call.plan = &plan;
    call.run = &run;
    call.sheet = &sheet;
    call.sheetParam = sheetParam;
    call.heap = heap;
    call.title = plan.fallbackTitle;
    activeCall = &call;
    // The platform's sheet is modal: the host finds it from a timer the
    // sheet's own message loop runs, to hook Apply and drive the script.
    call.timer = SetTimer(nullptr, 0, kFinderMs, PlatformSheetTick);
    DWORD result = 0xDEADBEEF;
    const LONG r = commonPropertySheetUI(nullptr, PlatformSheetFunction, reinterpret_cast<LPARAM>(&call), &result);
    // Neither timer may reach a later sheet.
    if (call.timer != 0) KillTimer(nullptr, call.timer);
    if (call.watchdog != 0) KillTimer(nullptr, call.watchdog);
    call.timer = call.watchdog = 0;
    log_.Call("CommonPropertySheetUIW", Format("%ld", static_cast<long>(r)),
              Format("*pResult %ld, %d Appl%s reached the common UI", static_cast<long>(result), sheet.applies,
                     sheet.applies == 1 ? "y" : "ies"));
    if (r < 0) log_.Violation("the platform could not run the sheet");
    if (!call.sawInit || !call.sawHeader || !call.sawDestroy)
        log_.Violation("the platform's sheet goes through INIT, GET_INFO_HEADER and DESTROY");
    if (sheet.window == nullptr) log_.Violation("the platform's sheet window was not found");
    if (run.show == SheetShow::kScripted && !call.scripted) log_.Violation("the script did not run on the sheet");
    Pump(nullptr);
}

LONG SheetScenes::OnPlatformReason(PlatformCall &call, PPROPSHEETUI_INFO info, LPARAM lParam) {
    const SheetPlan &plan = *call.plan;
    HostSheet &sheet = *call.sheet;
    IPrintOemUI *plugin = session_.plugin();
    const WORD reason = info->Reason;
    log_.Call(Format("compstui -> PFNPROPSHEETUI(%s)", ReasonName(reason).c_str()).c_str(), "received",
              Format("hComPropSheet %p, Version 0x%04X, lParam %p", info->hComPropSheet, info->Version,
                     reinterpret_cast<void *>(lParam)));
    if (info->lParamInit != reinterpret_cast<LPARAM>(&call))
        log_.Violation("the platform passes the caller's lParam on as lParamInit");
    // What the plug-in gets: the platform's sheet handle, the host's relay
    // to the platform's function, and its own sheet parameters.
    PROPSHEETUI_INFO forwarded = *info;
    forwarded.pfnComPropSheet = PlatformComPropSheet;
    forwarded.lParamInit = reinterpret_cast<LPARAM>(call.sheetParam);
    forwarded.Result = kUntouched;
    LONG answer = 1;
    HRESULT hr = S_OK;
    switch (reason) {
    case PROPSHEETUI_REASON_INIT:
        call.sawInit = true;
        sheet.platformSheet = info->hComPropSheet;
        sheet.platformFunction = info->pfnComPropSheet;
        hr = (plugin->*plan.slot)(&forwarded, 0);
        if (!CheckInit(plan, sheet, call.heap, hr, static_cast<LONG_PTR>(forwarded.Result))) answer = -1;
        info->Result = forwarded.Result;
        break;
    case PROPSHEETUI_REASON_GET_INFO_HEADER: {
        call.sawHeader = true;
        auto *header = reinterpret_cast<PPROPSHEETUI_INFO_HEADER>(lParam);
        if (header == nullptr) {
            log_.Violation("GET_INFO_HEADER comes with a header");
            answer = -1;
            break;
        }
        // The driver UI names the sheet; the plug-in may name it instead.
        header->pTitle = &call.title[0];
        header->hInst = GetModuleHandleW(nullptr);
        hr = (plugin->*plan.slot)(&forwarded, lParam);
        log_.Call(Format("%s(PROPSHEETUI_REASON_GET_INFO_HEADER)", plan.slotName).c_str(), HresultText(hr),
                  Format("Result %ld, title %s", static_cast<long>(forwarded.Result),
                         header->pTitle ? ("\"" + Utf8(header->pTitle) + "\"").c_str() : "none"));
        if (hr != S_OK || forwarded.Result != 1) log_.Violation("GET_INFO_HEADER answers S_OK and 1");
        if (plan.kind == SheetKind::kPrinter && header->pTitle == nullptr)
            log_.Violation("the printer sheet's header carries the plug-in's title");
        if (header->pTitle == nullptr) header->pTitle = &call.title[0];
        log_.Note("the sheet's title: \"%s\"", Utf8(header->pTitle).c_str());
        info->Result = forwarded.Result;
        break;
    }
    case PROPSHEETUI_REASON_SET_RESULT: {
        const auto *setResult = reinterpret_cast<const SETRESULT_INFO *>(lParam);
        if (setResult == nullptr) {
            log_.Violation("SET_RESULT comes with its record");
            answer = -1;
            break;
        }
        hr = (plugin->*plan.slot)(&forwarded, lParam);
        log_.Call(Format("%s(PROPSHEETUI_REASON_SET_RESULT)", plan.slotName).c_str(), HresultText(hr),
                  Format("Result %ld for sheet result %ld", static_cast<long>(forwarded.Result),
                         static_cast<long>(setResult->Result)));
        if (hr != S_OK || static_cast<LPARAM>(forwarded.Result) != setResult->Result)
            log_.Violation("SET_RESULT passes the sheet's result on");
        info->Result = forwarded.Result;
        break;
    }
    case PROPSHEETUI_REASON_DESTROY:
        call.sawDestroy = true;
        hr = (plugin->*plan.slot)(&forwarded, lParam);
        log_.Call(Format("%s(PROPSHEETUI_REASON_DESTROY)", plan.slotName).c_str(), HresultText(hr),
                  Format("Result %ld", static_cast<long>(forwarded.Result)));
        if (hr != S_OK) log_.Violation("DESTROY must succeed");
        info->Result = forwarded.Result;
        break;
    case PROPSHEETUI_REASON_GET_ICON:
        hr = (plugin->*plan.slot)(&forwarded, lParam);
        log_.Call(Format("%s(PROPSHEETUI_REASON_GET_ICON)", plan.slotName).c_str(), HresultText(hr),
                  Format("Result %ld", static_cast<long>(forwarded.Result)));
        info->Result = forwarded.Result;
        break;
    default:
        // BEFORE_INIT included: the plug-in sets up at INIT; the host, as
        // the driver UI, has nothing to prepare before it.
        log_.Note("not passed on to the plug-in");
        break;
    }
    log_.Note("the host answers %ld", static_cast<long>(answer));
    return answer;
}

void SheetScenes::DriveSheet(PlatformCall &call) {
    HostSheet &sheet = *call.sheet;
    HWND window = sheet.window;
    Subclass(window);
    log_.Call("the platform's sheet window", "found",
              Format("%p, caption \"%s\"", static_cast<void *>(window), Utf8(WindowText(window).c_str()).c_str()));
    if (call.run->show != SheetShow::kScripted) return;
    call.scripted = true;
    PlaceSheet(window);
    LPARAM outcome = CPSUI_CANCEL;
    if (call.plan->kind == SheetKind::kDocument) {
        ScriptDocument(window, sheet, *call.run, outcome);
    } else {
        Settle(window);
        CheckPageInView(log_, window, call.plan->pageName);
        CheckTextsWhole(log_, window, call.plan->pageName);
        if (!call.run->screenshotDir.empty()) SaveScreenshot(log_, window, call.run->screenshotDir, call.plan->screenshot);
    }
    // Closed as a person closes it: the OK button.
    HWND ok = GetDlgItem(window, IDOK);
    log_.Call("script: OK", ok != nullptr ? "pressed" : "no OK button");
    if (ok != nullptr)
        SendMessageW(ok, BM_CLICK, 0, 0);
    else
        PropSheet_PressButton(window, PSBTN_OK);
    call.watchdog = SetTimer(nullptr, 0, 10000, PlatformWatchdog);
}

void SheetScenes::PrintRecord() {
    log_.Section("The document's PrivateDevMode");
    const void *block = session_.privateDevMode();
    if (block == nullptr) {
        log_.Note("no private block");
        return;
    }
    const qx::PrivateDevMode r = qx::ReadPrivateDevMode(block);
    const qx::CorrectionSettings &s = r.settings;
    std::wstring path;
    for (size_t i = 0; i < qx::kPreviewPathChars && r.previewImagePath[i] != 0; ++i)
        path += static_cast<wchar_t>(r.previewImagePath[i]);
    log_.Note("dwSize            %lu", static_cast<unsigned long>(r.dwSize));
    log_.Note("dwSignature       0x%08lX", static_cast<unsigned long>(r.dwSignature));
    log_.Note("dwVersion         %lu", static_cast<unsigned long>(r.dwVersion));
    log_.Note("brightness        %d", s.brightness);
    log_.Note("contrast          %d", s.contrast);
    log_.Note("saturation        %d", s.saturation);
    log_.Note("cyanRed           %d", s.cyanRed);
    log_.Note("magentaGreen      %d", s.magentaGreen);
    log_.Note("yellowBlue        %d", s.yellowBlue);
    log_.Note("sharpness         %u", s.sharpness);
    log_.Note("reserved          %u", s.reserved);
    log_.Note("unsharpMask       %ld", static_cast<long>(s.unsharpMask));
    log_.Note("unsharpAmount     %d", s.unsharpAmount);
    log_.Note("unsharpRadius     %d", s.unsharpRadius);
    log_.Note("unsharpThreshold  %d", s.unsharpThreshold);
    log_.Note("resize            %d", s.resize);
    log_.Note("naturalColor      %ld", static_cast<long>(s.naturalColor));
    log_.Note("orderId           %ld", static_cast<long>(s.orderId));
    log_.Note("orderIdEnabled    %ld", static_cast<long>(s.orderIdEnabled));
    log_.Note("previewImagePath  \"%s\"", Utf8(path.c_str()).c_str());
    log_.Note("appliedFlag       %lu", static_cast<unsigned long>(r.appliedFlag));
}

}  // namespace qxhost
