// The Version page from the keyboard alone: real key events (SendInput) to
// a real property sheet in the foreground. The page holds only texts, so
// the keys must leave it working like any other page of the sheet.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/key_input.h"
#include "uiplugin/resources/resource_ids.h"
#include "uiplugin/version/version_page.h"

namespace {

// What the sheet told the page as it closed, seen ahead of the page.
int applied = 0, reset = 0;
WNDPROC pageWindowProc = nullptr;
LRESULT CALLBACK Recorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY) {
        const UINT code = reinterpret_cast<const NMHDR *>(lParam)->code;
        if (code == static_cast<UINT>(PSN_APPLY)) ++applied;
        if (code == static_cast<UINT>(PSN_RESET)) ++reset;
    }
    return CallWindowProcW(pageWindowProc, window, message, wParam, lParam);
}

class Keyboard : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        applied = reset = 0;
        PROPSHEETPAGEW page = {};
        page.dwSize = sizeof page;
        page.hInstance = GetModuleHandleW(nullptr);
        page.pszTemplate = MAKEINTRESOURCEW(IDD_VERSION_PAGE);
        page.pfnDlgProc = VersionPageProc;
        PROPSHEETHEADERW header = {};
        header.dwSize = sizeof header;
        header.dwFlags = PSH_MODELESS | PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
        header.pszCaption = L"Printer properties";
        header.nPages = 1;
        header.ppsp = &page;
        sheet = reinterpret_cast<HWND>(PropertySheetW(&header));
        ASSERT_NE(nullptr, sheet);
        SetForegroundWindow(sheet);
        Pump();
        ASSERT_EQ(sheet, GetForegroundWindow()) << "key events would go elsewhere";
        this->page = PropSheet_GetCurrentPageHwnd(sheet);
        ASSERT_NE(nullptr, this->page);
        pageWindowProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(this->page, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Recorder)));
    }
    void TearDown() override {
        if (sheet != nullptr) DestroyWindow(sheet);
        Pump();
    }
    void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (sheet != nullptr && PropSheet_IsDialogMessage(sheet, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    void Press(WORD vk, bool shift = false) {
        qxtest::StrokeKey(vk, shift);
        Pump();
    }
    bool Closed() { return PropSheet_GetCurrentPageHwnd(sheet) == nullptr; }

    HWND sheet = nullptr;
    HWND page = nullptr;
};

TEST_F(Keyboard, TabAndShiftTabGoRoundTheSheetWithoutGettingStuck) {
    HWND tabs = PropSheet_GetTabControl(sheet);
    for (bool shift : {false, true}) {
        SetFocus(tabs);
        Pump();
        std::vector<HWND> met;
        for (int i = 0; i < 20 && (met.empty() || GetFocus() != tabs); ++i) {
            Press(VK_TAB, shift);
            met.push_back(GetFocus());
        }
        ASSERT_EQ(tabs, GetFocus()) << "the focus did not come round";
        const HWND ok = GetDlgItem(sheet, IDOK), cancel = GetDlgItem(sheet, IDCANCEL);
        EXPECT_NE(met.end(), std::find(met.begin(), met.end(), ok));
        EXPECT_NE(met.end(), std::find(met.begin(), met.end(), cancel));
        // Reaching the page's texts would show no focus at all.
        for (HWND w : met) EXPECT_NE(page, GetParent(w)) << "focus on a text of the page";
    }
}

TEST_F(Keyboard, EnterIsOk) {
    SetFocus(PropSheet_GetTabControl(sheet));
    Press(VK_RETURN);
    EXPECT_TRUE(Closed());
    EXPECT_EQ(1, applied);
    EXPECT_EQ(0, reset);
}

TEST_F(Keyboard, EscapeIsCancel) {
    SetFocus(PropSheet_GetTabControl(sheet));
    Press(VK_ESCAPE);
    EXPECT_TRUE(Closed());
    EXPECT_EQ(0, applied);
    EXPECT_EQ(1, reset);
}

}  // namespace
