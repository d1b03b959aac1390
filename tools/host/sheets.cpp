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
namespace {

// The sheets' Apply button (the common controls' own identifier).
constexpr int kApplyButton = 0x3021;
constexpr DWORD kMaxOptionItems = 256;
constexpr ULONG_PTR kUntouched = static_cast<ULONG_PTR>(0xDEADBEEF);

// One sheet runs at a time, on this thread; the callbacks find it here.
SheetScenes *activeScenes = nullptr;
HostSheet *activeSheet = nullptr;
Transcript *activeLog = nullptr;
WNDPROC sheetProcedure = nullptr;

std::string HandleText(const void *h) { return Format("%p", h); }

std::string PageTemplate(const PROPSHEETPAGEW *page) {
    if (IS_INTRESOURCE(page->pszTemplate)) return Format("template %u", static_cast<unsigned>(reinterpret_cast<uintptr_t>(page->pszTemplate)));
    return "named template";
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
        log.Call("  <- pfnComPropSheet(CPSFUNC_ADD_PROPSHEETPAGEW)", page ? HandleText(page) : "0",
                 Format("%s, record %u bytes, lParam %p", PageTemplate(record).c_str(),
                        static_cast<unsigned>(record->dwSize), reinterpret_cast<void *>(record->lParam)));
        if (page == nullptr) return 0;
        sheet->pages.push_back(page);
        sheet->pageRecordParams.push_back(record->lParam);
        return reinterpret_cast<LONG_PTR>(page);
    }
    case CPSFUNC_GET_PAGECOUNT:
        log.Call("  <- pfnComPropSheet(CPSFUNC_GET_PAGECOUNT)", Format("%u", static_cast<unsigned>(sheet->pages.size())));
        return static_cast<LONG_PTR>(sheet->pages.size());
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

// The common UI sees Apply and OK through the sheet window itself.
LRESULT CALLBACK SheetSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PSM_APPLY) {
        LRESULT applied = CallWindowProcW(sheetProcedure, window, message, wParam, lParam);
        if (applied && activeScenes != nullptr) activeScenes->OnApplied();
        return applied;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED &&
        (LOWORD(wParam) == IDOK || LOWORD(wParam) == kApplyButton)) {
        // OK and Apply apply the pages as PSM_APPLY does; the common UI's
        // callback follows either way.
        LRESULT r = CallWindowProcW(sheetProcedure, window, message, wParam, lParam);
        if (activeScenes != nullptr) activeScenes->OnApplied();
        return r;
    }
    return CallWindowProcW(sheetProcedure, window, message, wParam, lParam);
}

int CALLBACK SheetCreated(HWND window, UINT message, LPARAM) {
    if (message == PSCB_INITIALIZED && activeSheet != nullptr) {
        activeSheet->window = window;
        sheetProcedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SheetSubclass)));
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
        sheetProcedure = nullptr;
    }
};

using SheetSlot = HRESULT (STDMETHODCALLTYPE IPrintOemUI::*)(PPROPSHEETUI_INFO, LPARAM);

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

// After the sheet has closed: its result, then its end, as the driver UI
// reports them to the plug-in.
void CloseSheet(Transcript &log, IPrintOemUI *plugin, SheetSlot slot, const char *slotName, HostSheet &sheet,
                LPARAM outcome) {
    SETRESULT_INFO setResult = {};
    setResult.cbSize = sizeof setResult;
    setResult.hSetResult = static_cast<HANDLE>(&sheet);
    setResult.Result = outcome;
    PROPSHEETUI_INFO info = SheetInfo(sheet, PROPSHEETUI_REASON_SET_RESULT, 0);
    HRESULT hr = (plugin->*slot)(&info, reinterpret_cast<LPARAM>(&setResult));
    log.Call(Format("%s(PROPSHEETUI_REASON_SET_RESULT)", slotName).c_str(), HresultText(hr),
             Format("Result %ld for sheet result %ld", static_cast<long>(info.Result), static_cast<long>(outcome)));
    if (hr != S_OK || static_cast<LPARAM>(info.Result) != outcome) log.Violation("SET_RESULT passes the sheet's result on");
    info = SheetInfo(sheet, PROPSHEETUI_REASON_DESTROY, 0);
    hr = (plugin->*slot)(&info, 0);
    log.Call(Format("%s(PROPSHEETUI_REASON_DESTROY)", slotName).c_str(), HresultText(hr),
             Format("Result %ld", static_cast<long>(info.Result)));
    if (hr != S_OK) log.Violation("DESTROY must succeed");
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
    const void *record = session_.privateDevMode();
    const unsigned long applied = record ? qx::ReadPrivateDevMode(record).appliedFlag : 0;
    log_.Call("OEMCUIPCallback(CPSUICB_REASON_APPLYNOW)", Format("%ld", static_cast<long>(action)),
              Format("appliedFlag %lu", applied));
    if (action != CPSUICB_ACTION_NONE) log_.Violation("Apply asks for no action");
    if (commonUi_->pOEMDM != nullptr && applied != 1) log_.Violation("an Apply must mark the record applied");
}

void SheetScenes::RunDocumentSheet(const SheetRun &run) {
    log_.Section("Document properties sheet");
    IPrintOemUI *plugin = session_.plugin();
    void *record = session_.privateDevMode();
    if (plugin == nullptr || record == nullptr) {
        log_.Violation("the document sheet needs the plug-in and its private block");
        return;
    }
    // The document as stored before anyone applied this sheet: the flag
    // that only an Apply sets starts clear, so the run shows who sets it.
    qx::PrivateDevMode opened = qx::ReadPrivateDevMode(record);
    opened.appliedFlag = 0;
    qx::WritePrivateDevMode(opened, record);
    log_.Note("the document opens with appliedFlag 0");
    HostSheet sheet;
    sheet.name = "document";
    Active active(this, &sheet, &log_);
    Heap heap;
    wchar_t printerName[] = L"QX748 Color";

    // Option items: how many, then the items.
    OEMCUIPPARAM commonUi = {};
    commonUi.cbSize = sizeof commonUi;
    commonUi.pPrinterName = printerName;
    commonUi.hModule = session_.module();
    commonUi.hOEMHeap = heap.get();
    commonUi.pPublicDM = session_.publicDevMode();
    commonUi.pOEMDM = record;
    HRESULT hr = plugin->CommonUIProp(OEMCUIP_DOCPROP, &commonUi);
    log_.Call("CommonUIProp(OEMCUIP_DOCPROP, no items)", HresultText(hr),
              Format("cOEMOptItems %lu", static_cast<unsigned long>(commonUi.cOEMOptItems)));
    if (hr != S_OK || commonUi.cOEMOptItems > kMaxOptionItems) {
        log_.Violation("the item count must be given and usable");
        return;
    }
    std::vector<OPTITEM> items(commonUi.cOEMOptItems);
    std::memset(items.data(), 0, items.size() * sizeof(OPTITEM));
    OPTITEM none;  // a count of 0 still hands over a place for items
    commonUi.pOEMOptItems = items.empty() ? &none : items.data();
    hr = plugin->CommonUIProp(OEMCUIP_DOCPROP, &commonUi);
    int sized = 0;
    for (const OPTITEM &item : items) sized += item.cbSize == sizeof(OPTITEM) ? 1 : 0;
    log_.Call("CommonUIProp(OEMCUIP_DOCPROP, items)", HresultText(hr),
              Format("%d of %u items sized %u, callback %s", sized, static_cast<unsigned>(items.size()),
                     static_cast<unsigned>(sizeof(OPTITEM)), commonUi.OEMCUIPCallback ? "installed" : "none"));
    if (hr != S_OK) log_.Violation("the items call must succeed");
    if (sized != static_cast<int>(items.size())) log_.Violation("every item must carry its size");
    commonUi_ = &commonUi;
    items_ = &items;
    sheet_ = &sheet;

    // The plug-in's pages.
    OEMUIPSPARAM sheetParam = {};
    sheetParam.cbSize = sizeof sheetParam;
    sheetParam.pPrinterName = printerName;
    sheetParam.hModule = session_.module();
    sheetParam.hOEMHeap = heap.get();
    sheetParam.pPublicDM = session_.publicDevMode();
    sheetParam.pOEMDM = record;
    PROPSHEETUI_INFO info = SheetInfo(sheet, PROPSHEETUI_REASON_INIT, reinterpret_cast<LPARAM>(&sheetParam));
    hr = plugin->DocumentPropertySheets(&info, 0);
    log_.Call("DocumentPropertySheets(PROPSHEETUI_REASON_INIT)", HresultText(hr),
              Format("Result %ld, pages %u", static_cast<long>(info.Result), static_cast<unsigned>(sheet.pages.size())));
    if (hr != S_OK || sheet.pages.empty()) {
        log_.Violation("INIT must add the Color correction page");
        commonUi_ = nullptr;
        sheet_ = nullptr;
        return;
    }
    if (static_cast<LONG_PTR>(info.Result) != static_cast<LONG_PTR>(sheet.pages.size()))
        log_.Violation("INIT's Result is the page count the sheet reported");
    HANDLE colorPage = sheet.pages[0];
    const auto *context = reinterpret_cast<const ColorPageContext *>(sheet.pageRecordParams[0]);
    if (context != nullptr) {
        log_.Note("page context: pageHandle %p, hComPropSheet %p, heap block %lu bytes", context->pageHandle,
                  context->hComPropSheet, static_cast<unsigned long>(HeapSize(heap.get(), 0, context)));
        if (context->pageHandle != colorPage) log_.Violation("the context must keep the handle the add call returned");
        if (context->hComPropSheet != static_cast<HANDLE>(&sheet)) log_.Violation("the context keeps the sheet handle");
    } else {
        log_.Violation("the Color correction page needs its context");
    }

    PROPSHEETUI_INFO_HEADER header = {};
    header.cbSize = sizeof header;
    header.pTitle = const_cast<LPWSTR>(L"(host)");
    info = SheetInfo(sheet, PROPSHEETUI_REASON_GET_INFO_HEADER, 0);
    hr = plugin->DocumentPropertySheets(&info, reinterpret_cast<LPARAM>(&header));
    log_.Call("DocumentPropertySheets(PROPSHEETUI_REASON_GET_INFO_HEADER)", HresultText(hr),
              Format("Result %ld, title %s", static_cast<long>(info.Result),
                     header.pTitle ? ("\"" + Utf8(header.pTitle) + "\"").c_str() : "none"));
    if (hr != S_OK || info.Result != 1) log_.Violation("GET_INFO_HEADER answers S_OK and 1");
    const std::wstring caption = header.pTitle != nullptr && std::wcscmp(header.pTitle, L"(host)") != 0
                                     ? header.pTitle
                                     : L"QX748 Document Properties";

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
                  Format("%d Apply%s", sheet.applies, sheet.applies == 1 ? "" : "s"));
        if (r < 0) log_.Violation("the sheet could not be shown");
        if (sheet.applies > 0) outcome = CPSUI_OK;
    } else {
        HWND window = ShowModeless(sheetHeader);
        log_.Call("PropertySheetW(modeless)", window ? "shown" : Format("failed, error %lu", GetLastError()));
        if (window == nullptr) {
            log_.Violation("the sheet could not be created");
        } else {
            PlaceSheet(window);
            Pump(window);
            HWND page = PropSheet_GetCurrentPageHwnd(window);
            MoveSlider(page, IDC_BRIGHTNESS, 3);
            MoveSlider(page, IDC_SATURATION, 5);
            if (IsDlgButtonChecked(page, IDC_UNSHARP_MASK) != BST_CHECKED)
                SendDlgItemMessageW(page, IDC_UNSHARP_MASK, BM_CLICK, 0, 0);
            Pump(window);
            log_.Call("script: brightness 3, saturation 5, unsharp mask on", "done");
            Settle(window);
            if (!run.screenshotDir.empty()) SaveScreenshot(log_, window, run.screenshotDir, L"color-correction.png");
            const size_t before = sheet.setResults.size();
            LRESULT applied = PropSheet_Apply(window);
            Pump(window);
            log_.Call("PSM_APPLY", Format("%ld", static_cast<long>(applied)),
                      Format("%d Apply%s reached the common UI", sheet.applies, sheet.applies == 1 ? "" : "s"));
            bool reported = false;
            for (size_t i = before; i < sheet.setResults.size(); ++i)
                reported |= sheet.setResults[i].page == reinterpret_cast<LPARAM>(colorPage) &&
                            sheet.setResults[i].result == CPSUI_OK;
            if (!reported) log_.Violation("the page must report CPSUI_OK for its own handle on Apply");
            const qx::CorrectionSettings stored = qx::ReadPrivateDevMode(record).settings;
            log_.Note("record after Apply: brightness %d, saturation %d, unsharp mask %ld", stored.brightness,
                      stored.saturation, static_cast<long>(stored.unsharpMask));
            if (stored.brightness != 3 || stored.saturation != 5 || stored.unsharpMask != 1)
                log_.Violation("Apply must leave the page's settings in the record");
            if (applied) outcome = CPSUI_OK;
            DestroyWindow(window);
            Pump(nullptr);
        }
    }

    CloseSheet(log_, plugin, &IPrintOemUI::DocumentPropertySheets, "DocumentPropertySheets", sheet, outcome);
    commonUi_ = nullptr;
    items_ = nullptr;
    sheet_ = nullptr;
}

void SheetScenes::RunPrinterSheet(const SheetRun &run) {
    log_.Section("Printer properties sheet");
    IPrintOemUI *plugin = session_.plugin();
    if (plugin == nullptr) return;
    HostSheet sheet;
    sheet.name = "printer";
    Active active(this, &sheet, &log_);
    Heap heap;
    wchar_t printerName[] = L"QX748 Color";

    OEMCUIPPARAM commonUi = {};
    commonUi.cbSize = sizeof commonUi;
    commonUi.pPrinterName = printerName;
    commonUi.hModule = session_.module();
    commonUi.hOEMHeap = heap.get();
    commonUi.cOEMOptItems = 0;
    HRESULT hr = plugin->CommonUIProp(OEMCUIP_PRNPROP, &commonUi);
    log_.Call("CommonUIProp(OEMCUIP_PRNPROP, no items)", HresultText(hr),
              Format("cOEMOptItems %lu", static_cast<unsigned long>(commonUi.cOEMOptItems)));
    if (hr != S_OK || commonUi.cOEMOptItems > kMaxOptionItems) {
        log_.Violation("the item count must be given and usable");
        return;
    }
    std::vector<OPTITEM> items(commonUi.cOEMOptItems);
    std::memset(items.data(), 0, items.size() * sizeof(OPTITEM));
    OPTITEM none;
    commonUi.pOEMOptItems = items.empty() ? &none : items.data();
    hr = plugin->CommonUIProp(OEMCUIP_PRNPROP, &commonUi);
    log_.Call("CommonUIProp(OEMCUIP_PRNPROP, items)", HresultText(hr),
              Format("%u items, callback %s", static_cast<unsigned>(items.size()),
                     commonUi.OEMCUIPCallback ? "installed" : "none"));
    if (hr != S_OK) log_.Violation("the items call must succeed");

    OEMUIPSPARAM sheetParam = {};
    sheetParam.cbSize = sizeof sheetParam;
    sheetParam.pPrinterName = printerName;
    sheetParam.hModule = session_.module();
    sheetParam.hOEMHeap = heap.get();
    PROPSHEETUI_INFO info = SheetInfo(sheet, PROPSHEETUI_REASON_INIT, reinterpret_cast<LPARAM>(&sheetParam));
    hr = plugin->DevicePropertySheets(&info, 0);
    log_.Call("DevicePropertySheets(PROPSHEETUI_REASON_INIT)", HresultText(hr),
              Format("Result %p, pages %u", reinterpret_cast<void *>(info.Result), static_cast<unsigned>(sheet.pages.size())));
    if (hr != S_OK || sheet.pages.empty()) {
        log_.Violation("INIT must add the Version page");
        return;
    }
    if (static_cast<LONG_PTR>(info.Result) != reinterpret_cast<LONG_PTR>(sheet.pages.back()))
        log_.Violation("the printer sheet's INIT Result is the added page's handle");

    PROPSHEETUI_INFO_HEADER header = {};
    header.cbSize = sizeof header;
    info = SheetInfo(sheet, PROPSHEETUI_REASON_GET_INFO_HEADER, 0);
    hr = plugin->DevicePropertySheets(&info, reinterpret_cast<LPARAM>(&header));
    log_.Call("DevicePropertySheets(PROPSHEETUI_REASON_GET_INFO_HEADER)", HresultText(hr),
              Format("Result %ld, title %s", static_cast<long>(info.Result),
                     header.pTitle ? ("\"" + Utf8(header.pTitle) + "\"").c_str() : "none"));
    if (hr != S_OK || info.Result != 1 || header.pTitle == nullptr)
        log_.Violation("the printer sheet's header carries the plug-in's title");
    const std::wstring caption = header.pTitle != nullptr ? header.pTitle : L"QX748 Printer Properties";

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
        log_.Call("PropertySheetW(modal)", Format("%ld", static_cast<long>(r)));
        if (r < 0) log_.Violation("the sheet could not be shown");
        if (r > 0) outcome = CPSUI_OK;
    } else {
        HWND window = ShowModeless(sheetHeader);
        log_.Call("PropertySheetW(modeless)", window ? "shown" : Format("failed, error %lu", GetLastError()));
        if (window == nullptr) {
            log_.Violation("the sheet could not be created");
        } else {
            PlaceSheet(window);
            Settle(window);
            if (!run.screenshotDir.empty()) SaveScreenshot(log_, window, run.screenshotDir, L"version.png");
            DestroyWindow(window);
            Pump(nullptr);
        }
    }

    CloseSheet(log_, plugin, &IPrintOemUI::DevicePropertySheets, "DevicePropertySheets", sheet, outcome);
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
