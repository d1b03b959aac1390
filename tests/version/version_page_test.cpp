// The Version page in a real modeless property sheet, built from the real
// template, fed from files and registry keys of the test's Wine prefix.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "uiplugin/resources/resource_ids.h"
#include "uiplugin/version/version_page.h"

namespace {

#if defined(_M_ARM64) || defined(__aarch64__)
const std::wstring kDriverDir = L"\\spool\\drivers\\arm64\\3\\";
const std::wstring kPrtProcDir = L"\\spool\\prtprocs\\arm64\\";
#elif defined(_WIN64)
const std::wstring kDriverDir = L"\\spool\\drivers\\x64\\3\\";
const std::wstring kPrtProcDir = L"\\spool\\prtprocs\\x64\\";
#else
const std::wstring kDriverDir = L"\\spool\\drivers\\w32x86\\3\\";
const std::wstring kPrtProcDir = L"\\spool\\prtprocs\\w32x86\\";
#endif
const wchar_t kZeroTime[] = L"   0/00/00 00:00";

std::wstring SystemDir() {
    wchar_t dir[MAX_PATH];
    UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    return std::wstring(dir, n);
}

std::wstring WindowsDir() {
    wchar_t dir[MAX_PATH];
    UINT n = GetWindowsDirectoryW(dir, MAX_PATH);
    return std::wstring(dir, n);
}

std::wstring ExeDir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\'));
}

void EnsureParentDirs(const std::wstring& path) {
    for (std::size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
}

void WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    EnsureParentDirs(path);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << "cannot create file, error " << GetLastError();
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(bytes.size(), written);
}

void SetLocalLastWrite(const std::wstring& path, const SYSTEMTIME& local) {
    FILETIME localTime, utc;
    ASSERT_TRUE(SystemTimeToFileTime(&local, &localTime));
    ASSERT_TRUE(LocalFileTimeToFileTime(&localTime, &utc));
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &utc));
    CloseHandle(file);
}

SYSTEMTIME Local(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME t{};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = hour;
    t.wMinute = minute;
    t.wSecond = second;
    return t;
}

void SetRegDefault(const std::wstring& subKey, const std::wstring& value, bool terminated = true) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, &key, nullptr));
    DWORD bytes = static_cast<DWORD>((value.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, nullptr, 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(value.c_str()), bytes));
    RegCloseKey(key);
}

// Wine's RegSetValueExW adds the terminator a REG_SZ lacks; the native
// call stores the bytes as given, as other writers of the registry may.
void SetRegDefaultUnterminated(const std::wstring& subKey, const std::wstring& value) {
    struct CountedString {
        USHORT length, maximumLength;
        PWSTR buffer;
    };
    using SetValueKey = LONG(NTAPI*)(HANDLE, CountedString*, ULONG, ULONG, PVOID, ULONG);
    auto setValueKey = reinterpret_cast<SetValueKey>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetValueKey")));
    ASSERT_NE(nullptr, setValueKey);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, &key, nullptr));
    wchar_t empty[1] = {L'\0'};
    CountedString defaultValue = {0, 0, empty};
    std::wstring data = value;
    EXPECT_EQ(0, setValueKey(key, &defaultValue, 0, REG_SZ, &data[0],
                             static_cast<ULONG>(value.size() * sizeof(wchar_t))));
    RegCloseKey(key);
}

// The page in a modeless sheet with a second page, so that switching away
// and back sends the Version page a real PSN_SETACTIVE.
class VersionSheet {
public:
    VersionSheet() {
        PROPSHEETPAGEW pages[2] = {};
        for (int i = 0; i < 2; ++i) {
            pages[i].dwSize = sizeof(PROPSHEETPAGEW);
            pages[i].hInstance = GetModuleHandleW(nullptr);
        }
        pages[0].pszTemplate = MAKEINTRESOURCEW(IDD_VERSION_PAGE);
        pages[0].pfnDlgProc = VersionPageProc;
        pages[1].pszTemplate = MAKEINTRESOURCEW(900);
        pages[1].pfnDlgProc = OtherPageProc;

        PROPSHEETHEADERW header = {};
        header.dwSize = sizeof header;
        header.dwFlags = PSH_MODELESS | PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
        header.hInstance = GetModuleHandleW(nullptr);
        header.pszCaption = L"Printer properties";
        header.nPages = 2;
        header.ppsp = pages;
        sheet_ = reinterpret_cast<HWND>(PropertySheetW(&header));
        if (sheet_ != nullptr) {
            SetWindowPos(sheet_, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
            Pump();
            page_ = PropSheet_GetCurrentPageHwnd(sheet_);
        }
    }
    ~VersionSheet() {
        if (sheet_ != nullptr) DestroyWindow(sheet_);
        Pump();
    }
    VersionSheet(const VersionSheet&) = delete;
    VersionSheet& operator=(const VersionSheet&) = delete;

    HWND page() const { return page_; }
    HWND control(int id) const { return GetDlgItem(page_, id); }

    void Reactivate() {
        PropSheet_SetCurSel(sheet_, nullptr, 1);
        PropSheet_SetCurSel(sheet_, nullptr, 0);
        Pump();
        ASSERT_EQ(page_, PropSheet_GetCurrentPageHwnd(sheet_));
    }

    std::wstring Text(int id) const {
        wchar_t text[400];
        GetDlgItemTextW(page_, id, text, 400);
        return text;
    }
    bool Shown(int id) const { return (GetWindowLongW(control(id), GWL_STYLE) & WS_VISIBLE) != 0; }

    POINT Centre(int id) const {
        RECT r;
        GetWindowRect(control(id), &r);
        return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    RECT Rect(int id) const {
        RECT r;
        GetWindowRect(control(id), &r);
        return r;
    }

    void MouseMoveTo(POINT p) {
        ASSERT_TRUE(SetCursorPos(p.x, p.y));
        Pump();
        SendMessageW(page_, WM_MOUSEMOVE, 0, 0);
    }
    void ClickAt(POINT p) {
        ASSERT_TRUE(SetCursorPos(p.x, p.y));
        Pump();
        SendMessageW(page_, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        SendMessageW(page_, WM_LBUTTONUP, 0, 0);
    }

    static void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

private:
    static INT_PTR CALLBACK OtherPageProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
    HWND sheet_ = nullptr;
    HWND page_ = nullptr;
};

// What the page's WM_CTLCOLORSTATIC does to a fresh DC for one control.
struct StaticColours {
    COLORREF text;
    int backgroundMode;
    INT_PTR brush;
};
StaticColours ColoursOf(HWND page, HWND control) {
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SetBkMode(dc, OPAQUE);
    INT_PTR brush = SendMessageW(page, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                 reinterpret_cast<LPARAM>(control));
    StaticColours c{GetTextColor(dc), GetBkMode(dc), brush};
    DeleteDC(dc);
    return c;
}

class VersionPageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
    }
    void SetUp() override { RemoveInputs(); }
    void TearDown() override { RemoveInputs(); }

    static std::wstring DriverFile(int control) {
        switch (control) {
        case IDC_GPD_TIME: return SystemDir() + kDriverDir + L"qx748.gpd";
        case IDC_UI_TIME: return SystemDir() + kDriverDir + L"qx748ui.dll";
        case IDC_RENDER_TIME: return SystemDir() + kDriverDir + L"qx748ud.dll";
        case IDC_MONITOR_TIME: return SystemDir() + L"\\qx748lm.dll";
        default: return SystemDir() + kPrtProcDir + L"QX748Print.dll";
        }
    }
    static std::wstring IniPath() { return SystemDir() + L"\\ERRMSG748.INI"; }
    static std::wstring BinPath() { return WindowsDir() + L"\\QX748.BIN"; }

    static void RemoveInputs() {
        for (int id : {IDC_GPD_TIME, IDC_UI_TIME, IDC_RENDER_TIME, IDC_MONITOR_TIME, IDC_PRTPROC_TIME}) {
            DeleteFileW(DriverFile(id).c_str());
        }
        DeleteFileW(IniPath().c_str());
        DeleteFileW(BinPath().c_str());
    }
};

TEST_F(VersionPageTest, ShowsLocalLastWriteTimesAndZeroForMissingFiles) {
    struct Case {
        int control;
        bool present;
        SYSTEMTIME written;
        const wchar_t* expected;
    } cases[] = {
        {IDC_GPD_TIME, true, Local(2005, 1, 6, 15, 0, 5), L"2005/01/06 15:00"},
        {IDC_UI_TIME, true, Local(2011, 11, 30, 9, 7, 59), L"2011/11/30 09:07"},
        {IDC_RENDER_TIME, false, {}, kZeroTime},
        {IDC_MONITOR_TIME, true, Local(1999, 12, 31, 23, 59, 0), L"1999/12/31 23:59"},
        {IDC_PRTPROC_TIME, true, Local(2020, 2, 29, 0, 0, 0), L"2020/02/29 00:00"},
    };
    for (const Case& c : cases) {
        if (!c.present) continue;
        WriteBytes(DriverFile(c.control), {'d', 'r', 'v'});
        SetLocalLastWrite(DriverFile(c.control), c.written);
    }
    VersionSheet sheet;
    ASSERT_NE(nullptr, sheet.page());
    for (const Case& c : cases) EXPECT_EQ(c.expected, sheet.Text(c.control)) << "control " << c.control;

    // Held open without sharing: it cannot be opened, so no time; the next
    // activation reads the files again.
    HANDLE held = CreateFileW(DriverFile(IDC_MONITOR_TIME).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    sheet.Reactivate();
    EXPECT_EQ(kZeroTime, sheet.Text(IDC_MONITOR_TIME));
    EXPECT_EQ(L"2005/01/06 15:00", sheet.Text(IDC_GPD_TIME));
    CloseHandle(held);
    sheet.Reactivate();
    EXPECT_EQ(L"1999/12/31 23:59", sheet.Text(IDC_MONITOR_TIME));
}

TEST_F(VersionPageTest, ErrorMessageStateFollowsTheIniSetting) {
    struct Case {
        const char* ini;  // nullptr: no file
        const wchar_t* expected;
    } cases[] = {
        {"[Setting]\r\nErrorMsg=0\r\n", L"Printer Driver(Error message is not displayed)"},
        {"[Setting]\r\nErrorMsg=2\r\n", L"Printer Driver"},
        {"[Setting]\r\nOther=0\r\n", L"Printer Driver"},
        {"[Elsewhere]\r\nErrorMsg=0\r\n", L"Printer Driver"},
        {nullptr, L"Printer Driver"},
        {"[Setting]\r\nErrorMsg=0\r\n", L"Printer Driver(Error message is not displayed)"},
    };
    VersionSheet sheet;
    ASSERT_NE(nullptr, sheet.page());
    for (const Case& c : cases) {
        if (c.ini != nullptr) {
            std::string text = c.ini;
            WriteBytes(IniPath(), std::vector<std::uint8_t>(text.begin(), text.end()));
        } else {
            DeleteFileW(IniPath().c_str());
        }
        sheet.Reactivate();
        EXPECT_EQ(c.expected, sheet.Text(IDC_ERROR_MSG_STATE)) << (c.ini ? c.ini : "(no file)");
    }
}

std::vector<std::uint8_t> BinWithField(const std::string& field, std::size_t total = 6038 + 64) {
    std::vector<std::uint8_t> bytes(total, 0x5A);
    for (std::size_t i = 0; i < 128 && 5910 + i < total; ++i) {
        bytes[5910 + i] = i < field.size() ? static_cast<std::uint8_t>(field[i]) : 0;
    }
    return bytes;
}

TEST_F(VersionPageTest, GammaTableNameAndItsLabel) {
    std::string noNul(128, 'G');
    noNul[0] = 'A';
    noNul[127] = 'Z';
    std::vector<std::uint8_t> shortFile(5910 + 6, 0x11);
    std::copy_n("Short!", 6, shortFile.begin() + 5910);

    struct Case {
        const char* what;
        bool present;
        std::vector<std::uint8_t> bytes;
        bool labelShown;
        std::wstring name;
    } cases[] = {
        {"name then NULs", true, BinWithField("Standard 2.2"), true, L"Standard 2.2"},
        {"file removed", false, {}, false, L""},
        {"no NUL in the field", true, BinWithField(noNul), true, std::wstring(noNul.begin(), noNul.end())},
        {"file ends inside the field", true, shortFile, true, L"Short!"},
        {"file ends before the field", true, std::vector<std::uint8_t>(100, 'q'), true, L""},
        {"file ends at the field", true, std::vector<std::uint8_t>(5910, 'q'), true, L""},
        {"removed again", false, {}, false, L""},
    };
    VersionSheet sheet;
    ASSERT_NE(nullptr, sheet.page());
    EXPECT_FALSE(sheet.Shown(IDC_GAMMA_LABEL)) << "hidden in the template";
    for (const Case& c : cases) {
        if (c.present) {
            WriteBytes(BinPath(), c.bytes);
        } else {
            DeleteFileW(BinPath().c_str());
        }
        sheet.Reactivate();
        EXPECT_EQ(c.labelShown, sheet.Shown(IDC_GAMMA_LABEL)) << c.what;
        EXPECT_EQ(c.name, sheet.Text(IDC_GAMMA_NAME)) << c.what;
        EXPECT_EQ(L"Gamma Table", sheet.Text(IDC_GAMMA_LABEL)) << c.what;
    }
}

TEST_F(VersionPageTest, LinksAreUnderlinedUntilThePageGoes) {
    HFONT underlined[2] = {};
    {
        VersionSheet sheet;
        ASSERT_NE(nullptr, sheet.page());
        int i = 0;
        for (int id : {IDC_WEB_LINK, IDC_MAIL_LINK}) {
            underlined[i] = reinterpret_cast<HFONT>(SendMessageW(sheet.control(id), WM_GETFONT, 0, 0));
            LOGFONTW font;
            ASSERT_EQ(static_cast<int>(sizeof font), GetObjectW(underlined[i], sizeof font, &font));
            EXPECT_EQ(1, font.lfUnderline) << id;
            ++i;
        }
        EXPECT_NE(underlined[0], underlined[1]);
        HFONT plain = reinterpret_cast<HFONT>(SendMessageW(sheet.control(IDC_GPD_TIME), WM_GETFONT, 0, 0));
        LOGFONTW font;
        ASSERT_EQ(static_cast<int>(sizeof font), GetObjectW(plain, sizeof font, &font));
        EXPECT_EQ(0, font.lfUnderline);
        EXPECT_EQ(L"https://qx748.test/", sheet.Text(IDC_WEB_LINK));
        EXPECT_EQ(L"mailto:info@qx748.test", sheet.Text(IDC_MAIL_LINK));
    }
    // Released with the page window.
    EXPECT_EQ(0u, GetObjectType(underlined[0]));
    EXPECT_EQ(0u, GetObjectType(underlined[1]));
}

TEST_F(VersionPageTest, LinksStayUnderlinedInTheFontOfANewDpi) {
    // The platform rescales a per-monitor aware page by handing every
    // control a font for the new DPI, then sends WM_DPICHANGED_AFTERPARENT.
    constexpr UINT kDpiChangedAfterParent = 0x02E3;
    LOGFONTW larger = {};
    larger.lfHeight = -24;
    wcscpy(larger.lfFaceName, L"Tahoma");
    HFONT platformFont = CreateFontIndirectW(&larger);
    ASSERT_NE(nullptr, platformFont);
    HFONT before[2] = {}, after[2] = {};
    {
        VersionSheet sheet;
        ASSERT_NE(nullptr, sheet.page());
        const int ids[2] = {IDC_WEB_LINK, IDC_MAIL_LINK};
        for (int i = 0; i < 2; ++i) {
            before[i] = reinterpret_cast<HFONT>(SendMessageW(sheet.control(ids[i]), WM_GETFONT, 0, 0));
            SendMessageW(sheet.control(ids[i]), WM_SETFONT, reinterpret_cast<WPARAM>(platformFont), FALSE);
        }
        SendMessageW(sheet.page(), kDpiChangedAfterParent, 0, 0);
        for (int i = 0; i < 2; ++i) {
            after[i] = reinterpret_cast<HFONT>(SendMessageW(sheet.control(ids[i]), WM_GETFONT, 0, 0));
            LOGFONTW font;
            ASSERT_EQ(static_cast<int>(sizeof font), GetObjectW(after[i], sizeof font, &font)) << ids[i];
            EXPECT_EQ(1, font.lfUnderline) << ids[i];
            EXPECT_EQ(-24, font.lfHeight) << ids[i];
            EXPECT_EQ(0u, GetObjectType(before[i])) << "the old underlined font was left behind";
        }
        // Nothing new from the platform: the links keep what they have.
        SendMessageW(sheet.page(), kDpiChangedAfterParent, 0, 0);
        EXPECT_EQ(after[0], reinterpret_cast<HFONT>(SendMessageW(sheet.control(ids[0]), WM_GETFONT, 0, 0)));
        EXPECT_EQ(OBJ_FONT, GetObjectType(after[0]));
    }
    EXPECT_EQ(0u, GetObjectType(after[0]));
    EXPECT_EQ(0u, GetObjectType(after[1]));
    EXPECT_EQ(OBJ_FONT, GetObjectType(platformFont)) << "the platform's font is not ours to delete";
    DeleteObject(platformFont);
}

TEST_F(VersionPageTest, HoverHighlightsOnlyTheLinkUnderTheCursor) {
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    ASSERT_NE(highlight, static_cast<COLORREF>(0xEE0000)) << "the two states must be told apart";
    const HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    const INT_PTR hollow = reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));

    VersionSheet sheet;
    ASSERT_NE(nullptr, sheet.page());
    EXPECT_EQ(0, webLinkHot);
    EXPECT_EQ(0, mailLinkHot);

    RECT web = sheet.Rect(IDC_WEB_LINK);
    RECT mail = sheet.Rect(IDC_MAIL_LINK);
    POINT outside = {mail.right + 5, mail.bottom + 20};
    struct Case {
        const char* where;
        POINT at;
        LONG webHot, mailHot;
    } cases[] = {
        {"web link", sheet.Centre(IDC_WEB_LINK), 1, 0},
        {"mail link", sheet.Centre(IDC_MAIL_LINK), 0, 1},
        {"web link's top left corner", {web.left, web.top}, 1, 0},
        {"just right of the web link", {web.right, web.top}, 0, 0},
        {"just below the mail link", {mail.left, mail.bottom}, 0, 0},
        {"outside both", outside, 0, 0},
    };
    for (const Case& c : cases) {
        SetCursor(arrow);
        sheet.MouseMoveTo(c.at);
        EXPECT_EQ(c.webHot, webLinkHot) << c.where;
        EXPECT_EQ(c.mailHot, mailLinkHot) << c.where;
        // The redraw that the move forces sets the hand over a link.
        EXPECT_EQ(c.webHot || c.mailHot ? hand : arrow, GetCursor()) << c.where;

        StaticColours w = ColoursOf(sheet.page(), sheet.control(IDC_WEB_LINK));
        StaticColours m = ColoursOf(sheet.page(), sheet.control(IDC_MAIL_LINK));
        EXPECT_EQ(c.webHot ? highlight : 0xEE0000, w.text) << c.where;
        EXPECT_EQ(c.mailHot ? highlight : 0xEE0000, m.text) << c.where;
        for (const StaticColours& s : {w, m}) {
            EXPECT_EQ(TRANSPARENT, s.backgroundMode) << c.where;
            EXPECT_EQ(hollow, s.brush) << c.where;
        }
    }

    // Other statics: transparent on the hollow brush, their own colour.
    for (int id : {IDC_GPD_TIME, IDC_ERROR_MSG_STATE, IDC_GAMMA_NAME}) {
        StaticColours s = ColoursOf(sheet.page(), sheet.control(id));
        EXPECT_EQ(RGB(1, 2, 3), s.text) << id;
        EXPECT_EQ(TRANSPARENT, s.backgroundMode) << id;
        EXPECT_EQ(hollow, s.brush) << id;
    }

    // A new page starts with both links cold.
    sheet.MouseMoveTo(sheet.Centre(IDC_WEB_LINK));
    ASSERT_EQ(1, webLinkHot);
    VersionSheet second;
    EXPECT_EQ(0, webLinkHot);
}

// Link handlers: record_cmdline.exe, which appends its command line to a log.
class LinkOpenTest : public VersionPageTest {
protected:
    void SetUp() override {
        VersionPageTest::SetUp();
        DeleteFileW(LogPath().c_str());
        SaveHtmClass();
        // Schemes of our own, so no test ever reaches a real browser or
        // mail program. The shell opens them by their "URL Protocol" keys.
        for (const wchar_t* scheme : {L"qxweb", L"qxmail"}) {
            SetRegDefault(scheme, std::wstring(L"URL:") + scheme);
            HKEY key;
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, scheme, 0, KEY_SET_VALUE, &key));
            RegSetValueExW(key, L"URL Protocol", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
            RegCloseKey(key);
            SetRegDefault(std::wstring(scheme) + L"\\shell\\open\\command",
                          Recorder() + L" shell \"%1\"");
        }
        SetRegDefault(L".htm", L"QX748Test.htmlfile");
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"qxweb");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"qxmail");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"QX748Test.htmlfile");
        RestoreHtmClass();
        DeleteFileW(LogPath().c_str());
        VersionPageTest::TearDown();
    }

    static std::wstring Recorder() { return L"\"" + ExeDir() + L"\\record_cmdline.exe\""; }
    static std::wstring LogPath() { return ExeDir() + L"\\record_cmdline.log"; }

    // The recorded command lines, once `count` have arrived (or after 15 s);
    // then a short wait, so that an unexpected extra start shows up too.
    static std::vector<std::wstring> Recorded(std::size_t count) {
        std::vector<std::wstring> lines;
        for (int waited = 0; waited < 15000; waited += 50) {
            lines = ReadLog();
            if (lines.size() >= count) break;
            Sleep(50);
        }
        Sleep(300);
        return ReadLog();
    }
    static std::vector<std::wstring> ReadLog() {
        std::vector<std::wstring> lines;
        HANDLE file = CreateFileW(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return lines;
        std::string text;
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
        CloseHandle(file);
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = text.substr(start, end - start);
            wchar_t wide[2048];
            int n = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), wide, 2048);
            lines.emplace_back(wide, n > 0 ? n : 0);
        }
        return lines;
    }

    void SetLinks(VersionSheet& sheet, const wchar_t* web, const wchar_t* mail) {
        SetWindowTextW(sheet.control(IDC_WEB_LINK), web);
        SetWindowTextW(sheet.control(IDC_MAIL_LINK), mail);
    }

private:
    void SaveHtmClass() {
        wchar_t value[MAX_PATH];
        LONG bytes = sizeof value;
        hadHtm_ = RegQueryValueW(HKEY_CLASSES_ROOT, L".htm", value, &bytes) == ERROR_SUCCESS;
        if (hadHtm_) savedHtm_ = value;
    }
    void RestoreHtmClass() {
        if (hadHtm_) {
            SetRegDefault(L".htm", savedHtm_);
        } else {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, L".htm");
        }
    }
    bool hadHtm_ = false;
    std::wstring savedHtm_;
};

TEST_F(LinkOpenTest, ClickOpensExactlyTheLinkUnderTheCursor) {
    VersionSheet sheet;
    ASSERT_NE(nullptr, sheet.page());
    SetLinks(sheet, L"qxweb:site/page", L"qxmail:someone@example");

    RECT mail = sheet.Rect(IDC_MAIL_LINK);
    sheet.ClickAt({mail.right + 5, mail.bottom + 20});
    sheet.ClickAt({mail.left, mail.bottom});  // bottom edge lies outside
    // A known start after the clicks that must open nothing: only it shows.
    sheet.ClickAt(sheet.Centre(IDC_WEB_LINK));
    EXPECT_EQ(std::vector<std::wstring>{Recorder() + L" shell \"qxweb:site/page\""}, Recorded(1));

    DeleteFileW(LogPath().c_str());
    sheet.ClickAt(sheet.Centre(IDC_MAIL_LINK));
    EXPECT_EQ(std::vector<std::wstring>{Recorder() + L" shell \"qxmail:someone@example\""}, Recorded(1));
}

TEST_F(LinkOpenTest, FallbackStartsTheRegisteredHtmlCommand) {
    // No handler is registered for "qxnone:", so the shell's open fails and
    // the page falls back to the HTML command.
    const std::wstring link = L"qxnone:fallback/page";
    const std::wstring padded = Recorder() + L" -w " + std::wstring(260, L'p');
    enum Stored { kTerminated, kUnterminated };
    struct Case {
        const char* what;
        std::wstring registered;
        Stored stored;
        std::wstring started;  // empty: nothing may start
    } cases[] = {
        {"quoted placeholder", Recorder() + L" -q \"%1\" -after", kTerminated, Recorder() + L" -q  " + link},
        {"bare placeholder", Recorder() + L" -b %1 -after", kTerminated, Recorder() + L" -b  " + link},
        {"no placeholder", Recorder() + L" -w", kTerminated, Recorder() + L" -w " + link},
        {"stored without terminator", Recorder() + L" -u", kUnterminated, Recorder() + L" -u " + link},
        {"259 characters", padded.substr(0, 259), kUnterminated, padded.substr(0, 259) + L" " + link},
        {"260 characters without terminator", padded.substr(0, 260), kUnterminated, L""},
        {"longer than the page reads", padded, kTerminated, L""},
    };
    VersionSheet sheet;
    ASSERT_NE(nullptr, sheet.page());
    SetLinks(sheet, link.c_str(), L"qxmail:after");
    const std::wstring after = Recorder() + L" shell \"qxmail:after\"";
    for (const Case& c : cases) {
        DeleteFileW(LogPath().c_str());
        const std::wstring key = L"QX748Test.htmlfile\\shell\\open\\command";
        if (c.stored == kTerminated) {
            SetRegDefault(key, c.registered);
        } else {
            SetRegDefaultUnterminated(key, c.registered);
        }
        sheet.ClickAt(sheet.Centre(IDC_WEB_LINK));
        // A start through the shell afterwards, so that a start the first
        // click should not have made has time to show.
        sheet.ClickAt(sheet.Centre(IDC_MAIL_LINK));
        std::vector<std::wstring> expected{after};
        if (!c.started.empty()) expected.push_back(c.started);
        std::vector<std::wstring> got = Recorded(expected.size());
        std::sort(expected.begin(), expected.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(expected, got) << c.what;
    }
}

TEST_F(LinkOpenTest, FallbackWithoutARegisteredCommandStartsNothing) {
    VersionSheet sheet;
    ASSERT_NE(nullptr, sheet.page());
    SetLinks(sheet, L"qxnone:nowhere", L"qxmail:known");
    // The class named by ".htm" has no open command.
    sheet.ClickAt(sheet.Centre(IDC_WEB_LINK));
    // No ".htm" class at all.
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".htm");
    sheet.ClickAt(sheet.Centre(IDC_WEB_LINK));
    sheet.ClickAt(sheet.Centre(IDC_MAIL_LINK));
    EXPECT_EQ(std::vector<std::wstring>{Recorder() + L" shell \"qxmail:known\""}, Recorded(1));
}

}  // namespace
