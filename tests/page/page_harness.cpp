// See page_harness.h.
#include "tests/page/page_harness.h"

#include <cstring>

#include "tests/frame/plugin_library.h"

namespace qxpage {

std::deque<Answer> PageSheet::answers;
std::vector<SeenDialog> PageSheet::seen;
PageSheet *PageSheet::current = nullptr;
HWND PageSheet::pending = nullptr;

namespace {

const HANDLE kSheetHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5EE7));

std::wstring WindowText(HWND window) {
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return buffer;
}

std::wstring ClassOf(HWND window) {
    wchar_t buffer[64] = {};
    GetClassNameW(window, buffer, 64);
    return buffer;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM lParam) {
    if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0) {
        std::wstring t = WindowText(child);
        if (!t.empty()) reinterpret_cast<SeenDialog *>(lParam)->texts.push_back(t);
    }
    return TRUE;
}

INT_PTR CALLBACK BlankPageProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

}  // namespace

PageSheet::PageSheet(unsigned char *privateDevMode) {
    current = this;
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    callWnd_ = SetWindowsHookExW(WH_CALLWNDPROC, CallWndHook, nullptr, GetCurrentThreadId());
    cbt_ = SetWindowsHookExW(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());

    plugin_ = qxtest::PluginLibrary::Get().CreatePlugin();
    heap_ = HeapCreate(0, 0, 0);
    if (plugin_ == nullptr || heap_ == nullptr) return;
    sheetParam_.cbSize = sizeof sheetParam_;
    sheetParam_.hOEMHeap = heap_;
    sheetParam_.pOEMDM = privateDevMode;

    PROPSHEETUI_INFO info = {};
    info.cbSize = sizeof info;
    info.Version = PROPSHEETUI_INFO_VERSION;
    info.Reason = PROPSHEETUI_REASON_INIT;
    info.hComPropSheet = kSheetHandle;
    info.pfnComPropSheet = ComPropSheet;
    info.lParamInit = reinterpret_cast<LPARAM>(&sheetParam_);
    if (plugin_->DocumentPropertySheets(&info, 0) != S_OK || added_ == 0) return;

    // A blank second page to leave the Color correction page for.
    blankTemplate_.assign(sizeof(DLGTEMPLATE) / sizeof(WORD) + 3, 0);
    auto *dlg = reinterpret_cast<DLGTEMPLATE *>(blankTemplate_.data());
    dlg->style = WS_CHILD | WS_CAPTION;
    dlg->cx = 100;
    dlg->cy = 100;
    PROPSHEETPAGEW other = {};
    other.dwSize = sizeof other;
    other.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
    other.pResource = dlg;
    other.pszTitle = L"Other";
    other.pfnDlgProc = BlankPageProc;
    otherPage_ = CreatePropertySheetPageW(&other);

    HPROPSHEETPAGE pages[] = {reinterpret_cast<HPROPSHEETPAGE>(added_), otherPage_};
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS | PSH_NOCONTEXTHELP;
    header.pszCaption = L"Document Properties";
    header.nPages = 2;
    header.phpage = pages;
    sheet_ = reinterpret_cast<HWND>(PropertySheetW(&header));
    if (sheet_ == nullptr) return;
    page_ = PropSheet_GetCurrentPageHwnd(sheet_);
    pump();
}

PageSheet::~PageSheet() {
    if (sheet_ != nullptr) DestroyWindow(sheet_);
    pump();
    if (plugin_ != nullptr) plugin_->Release();
    if (heap_ != nullptr) HeapDestroy(heap_);
    if (callWnd_ != nullptr) UnhookWindowsHookEx(callWnd_);
    if (cbt_ != nullptr) UnhookWindowsHookEx(cbt_);
    current = nullptr;
    answers.clear();
}

std::wstring PageSheet::text(int id) const { return WindowText(item(id)); }

void PageSheet::moveSlider(int id, int position) {
    HWND slider = item(id);
    SendMessageW(slider, TBM_SETPOS, TRUE, position);
    SendMessageW(page_, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position), reinterpret_cast<LPARAM>(slider));
    pump();
}

void PageSheet::click(int id) {
    SendMessageW(item(id), BM_CLICK, 0, 0);
    pump();
}

void PageSheet::showOtherPage() {
    PropSheet_SetCurSel(sheet_, nullptr, 1);
    pump();
}

void PageSheet::showColorPage() {
    PropSheet_SetCurSel(sheet_, nullptr, 0);
    pump();
}

void PageSheet::apply() {
    PropSheet_Apply(sheet_);
    pump();
}

void PageSheet::pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (sheet_ != nullptr && PropSheet_IsDialogMessage(sheet_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

LONG_PTR CALLBACK PageSheet::ComPropSheet(HANDLE sheet, UINT function, LPARAM lParam1, LPARAM lParam2) {
    PageSheet *self = current;
    if (self == nullptr) return 0;
    switch (function) {
    case CPSFUNC_ADD_PROPSHEETPAGEW:
        self->added_ = reinterpret_cast<LONG_PTR>(
            CreatePropertySheetPageW(reinterpret_cast<const PROPSHEETPAGEW *>(lParam1)));
        return self->added_;
    case CPSFUNC_GET_PAGECOUNT:
        return self->added_ != 0 ? 1 : 0;
    case CPSFUNC_SET_RESULT:
        self->setResults.push_back({sheet, lParam1, lParam2});
        return 1;
    default:
        return 0;
    }
}

LRESULT CALLBACK PageSheet::CallWndHook(int code, WPARAM wParam, LPARAM lParam) {
    auto *msg = reinterpret_cast<const CWPSTRUCT *>(lParam);
    if (code == HC_ACTION && current != nullptr && (msg->message == PSM_CHANGED || msg->message == PSM_UNCHANGED))
        current->changes.push_back(msg->message);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Looks at the dialog and answers it from a timer, which runs inside the
// dialog's modal loop once the dialog has finished setting itself up.
void CALLBACK PageSheet::AnswerTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    HWND window = pending;
    pending = nullptr;
    if (window == nullptr || !IsWindow(window) || answers.empty()) return;
    SeenDialog d;
    d.window = window;
    d.owner = GetWindow(window, GW_OWNER);
    d.caption = WindowText(window);
    HWND types = GetDlgItem(window, 0x470);  // cmb1: the file type list
    d.isFileDialog = types != nullptr;
    if (d.isFileDialog) {
        const LRESULT n = SendMessageW(types, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < n; ++i) {
            wchar_t t[256] = {};
            SendMessageW(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(t));
            d.filters.push_back(t);
        }
        d.readOnlyChecked = IsDlgButtonChecked(window, 0x410) == BST_CHECKED;  // chx1
    } else {
        EnumChildWindows(window, CollectStatic, reinterpret_cast<LPARAM>(&d));
    }
    seen.push_back(d);
    Answer a = answers.front();
    answers.pop_front();
    if (d.isFileDialog && a.fileName.empty()) {
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    } else if (d.isFileDialog) {
        // The name box is an edit (edt1) or a combo box (cmb13).
        SetDlgItemTextW(window, 0x480, a.fileName.c_str());
        SetDlgItemTextW(window, 0x47C, a.fileName.c_str());
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    } else {
        PostMessageW(window, WM_COMMAND, a.button, 0);
    }
}

LRESULT CALLBACK PageSheet::CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && current != nullptr && !answers.empty()) {
        HWND window = reinterpret_cast<HWND>(wParam);
        const bool modal = window != current->sheet_ && ClassOf(window) == L"#32770" &&
                           (GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD) == 0;
        if (modal && window != pending) {
            pending = window;
            SetTimer(nullptr, 0, 10, AnswerTimer);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace qxpage
