// The Version page from the keyboard alone: real key events (SendInput) to
// a real property sheet in the foreground. The page holds only texts, so
// the keys must leave it working like any other page of the sheet.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
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

TEST_F(Keyboard, TabAndShiftTabReachBothLinksInReadingOrder) {
    HWND tabs = PropSheet_GetTabControl(sheet);
    const HWND web = GetDlgItem(page, IDC_WEB_LINK), mail = GetDlgItem(page, IDC_MAIL_LINK);
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
        // Of the page, only the two links, URL above mail.
        std::vector<HWND> onPage;
        for (HWND w : met) {
            if (GetParent(w) == page) onPage.push_back(w);
        }
        std::vector<HWND> expected = shift ? std::vector<HWND>{mail, web} : std::vector<HWND>{web, mail};
        EXPECT_EQ(expected, onPage) << (shift ? "Shift+Tab" : "Tab");
    }
}

TEST_F(Keyboard, FocusAloneLeavesTheLinkColour) {
    // The cursor far from the links: only focus may differ between them.
    SetCursorPos(0, 0);
    for (int id : {IDC_WEB_LINK, IDC_MAIL_LINK}) {
        HWND link = GetDlgItem(page, id);
        SetFocus(link);
        Pump();
        ASSERT_EQ(link, GetFocus());
        HDC dc = CreateCompatibleDC(nullptr);
        SetTextColor(dc, RGB(1, 2, 3));
        SendMessageW(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(link));
        EXPECT_EQ(static_cast<COLORREF>(0xEE0000), GetTextColor(dc)) << id;
        DeleteDC(dc);
        EXPECT_EQ(0, webLinkHot) << id;
        EXPECT_EQ(0, mailLinkHot) << id;
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

// Space on a focused link opens it as a click does: a scheme of the test's
// own, handled by record_cmdline.exe, so no real program starts.
std::wstring ExeDir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\'));
}

void SetDefault(const std::wstring& subKey, const std::wstring& value) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, &key, nullptr));
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegSetValueExW(key, L"URL Protocol", 0, REG_SZ, reinterpret_cast<const BYTE *>(L""), sizeof(wchar_t));
    RegCloseKey(key);
}

std::vector<std::string> WaitForLog(const std::wstring& log, std::size_t count) {
    std::vector<std::string> lines;
    for (int waited = 0; waited < 15000; waited += 50) {
        lines.clear();
        HANDLE file = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            std::string text;
            char chunk[4096];
            DWORD got = 0;
            while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
            CloseHandle(file);
            for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
                lines.push_back(text.substr(at, end - at));
        }
        if (lines.size() >= count) break;
        Sleep(50);
    }
    return lines;
}

TEST_F(Keyboard, SpaceOpensTheFocusedLink) {
    const std::wstring log = ExeDir() + L"\\record_cmdline.log";
    const std::wstring dir = ExeDir();
    const std::string recorder = "\"" + std::string(dir.begin(), dir.end()) + "\\record_cmdline.exe\"";
    SetDefault(L"qxkeys", L"URL:qxkeys");
    SetDefault(L"qxkeys\\shell\\open\\command", L"\"" + ExeDir() + L"\\record_cmdline.exe\" shell \"%1\"");
    SetWindowTextW(GetDlgItem(page, IDC_WEB_LINK), L"qxkeys:web");
    SetWindowTextW(GetDlgItem(page, IDC_MAIL_LINK), L"qxkeys:mail");
    struct Case {
        int id;
        const char* link;
    } cases[] = {{IDC_WEB_LINK, "qxkeys:web"}, {IDC_MAIL_LINK, "qxkeys:mail"}};
    for (const Case& c : cases) {
        DeleteFileW(log.c_str());
        // The handler started for the case before may hold the foreground.
        SetForegroundWindow(sheet);
        SetFocus(GetDlgItem(page, c.id));
        Pump();
        ASSERT_EQ(sheet, GetForegroundWindow()) << "key events would go elsewhere";
        Press(VK_SPACE);
        std::vector<std::string> got = WaitForLog(log, 1);
        Sleep(300);  // an extra start would show now
        got = WaitForLog(log, 1);
        EXPECT_EQ(std::vector<std::string>{recorder + " shell \"" + c.link + "\""}, got) << c.link;
        EXPECT_FALSE(Closed()) << "Space must not close the sheet";
    }
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"qxkeys");
    DeleteFileW(log.c_str());
}

}  // namespace
