// The Version page: file dates, error-message state, gamma table name and
// two hyperlinks, re-read every time the page becomes active.
#include "uiplugin/version/version_page.h"

#include <commctrl.h>
#include <prsht.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <new>
#include <string>

#include "uiplugin/frame/boundary.h"
#include "uiplugin/frame/unique_file.h"
#include "uiplugin/resources/resource_ids.h"

LONG webLinkHot = 0;
LONG mailLinkHot = 0;

namespace {

// The driver files live in the folders of the architecture the DLL is
// built for: a 64-bit system keeps its 64-bit driver there.
#if defined(_M_ARM64) || defined(__aarch64__)
#define QX_DRIVER_DIR L"\\spool\\drivers\\arm64\\3\\"
#define QX_PRTPROC_DIR L"\\spool\\prtprocs\\arm64\\"
#elif defined(_WIN64)
#define QX_DRIVER_DIR L"\\spool\\drivers\\x64\\3\\"
#define QX_PRTPROC_DIR L"\\spool\\prtprocs\\x64\\"
#else
#define QX_DRIVER_DIR L"\\spool\\drivers\\w32x86\\3\\"
#define QX_PRTPROC_DIR L"\\spool\\prtprocs\\w32x86\\"
#endif

struct DriverFile {
    int control;
    const wchar_t* relativePath;
};
constexpr DriverFile kDriverFiles[] = {
    {IDC_GPD_TIME, QX_DRIVER_DIR L"qx748.gpd"},
    {IDC_UI_TIME, QX_DRIVER_DIR L"qx748ui.dll"},
    {IDC_RENDER_TIME, QX_DRIVER_DIR L"qx748ud.dll"},
    {IDC_MONITOR_TIME, L"\\qx748lm.dll"},
    {IDC_PRTPROC_TIME, QX_PRTPROC_DIR L"QX748Print.dll"},
};

// What a file time shows when it is unknown, and when its text cannot be
// built: a fixed text, which needs no memory.
constexpr wchar_t kUnknownFileTime[] = L"   0/00/00 00:00";
static_assert(sizeof kUnknownFileTime / sizeof kUnknownFileTime[0] <= qx::kVersionTextChars, "time text");

constexpr COLORREF kLinkColour = 0xEE0000;  // red 0, green 0, blue 238

class UniqueKey {
public:
    UniqueKey() = default;
    ~UniqueKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    UniqueKey(const UniqueKey&) = delete;
    UniqueKey& operator=(const UniqueKey&) = delete;
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// The underlined fonts of the two links, kept with the page window and
// released when it is destroyed.
struct LinkFonts {
    HFONT original[2] = {};
    HFONT underlined[2] = {};
    WNDPROC originalProc[2] = {};
};
constexpr int kLinkControls[2] = {IDC_WEB_LINK, IDC_MAIL_LINK};

LONG& HotFlag(int index) { return index == 0 ? webLinkHot : mailLinkHot; }

std::u16string ToU16(const wchar_t* text) {
    std::u16string out;
    for (; *text != L'\0'; ++text) out.push_back(static_cast<char16_t>(*text));
    return out;
}

void CopyToBuffer(const std::u16string& text, wchar_t* buffer, std::size_t bufferChars) {
    std::size_t n = text.size() < bufferChars ? text.size() : bufferChars - 1;
    for (std::size_t i = 0; i < n; ++i) buffer[i] = static_cast<wchar_t>(text[i]);
    buffer[n] = L'\0';
}

// A Windows folder joined with a relative path, in one of the page's
// 260-character path buffers; false (and an empty path) when it does not
// fit. Fixed buffers: a path needs no memory of its own.
bool JoinPath(UINT (WINAPI *folder)(LPWSTR, UINT), const wchar_t* relativePath,
              wchar_t (&path)[qx::kVersionTextChars]) {
    path[0] = L'\0';
    const UINT n = folder(path, qx::kVersionTextChars);
    const std::size_t rest = std::wcslen(relativePath);
    if (n == 0 || n >= qx::kVersionTextChars || n + rest >= qx::kVersionTextChars) {
        path[0] = L'\0';
        return false;
    }
    std::wmemcpy(path + n, relativePath, rest + 1);
    return true;
}

void OpenLinkOf(HWND link) {
    wchar_t text[qx::kVersionTextChars];
    GetWindowTextW(link, text, static_cast<int>(qx::kVersionTextChars));
    OpenLink(text, SW_SHOW);
}

WNDPROC OriginalLinkProc(HWND link) {
    HWND page = GetParent(link);
    auto* fonts = page != nullptr ? reinterpret_cast<LinkFonts*>(GetWindowLongPtrW(page, DWLP_USER)) : nullptr;
    if (fonts == nullptr) return nullptr;
    for (int i = 0; i < 2; ++i) {
        if (GetDlgCtrlID(link) == kLinkControls[i]) return fonts->originalProc[i];
    }
    return nullptr;
}

// The links as keyboard stops: focus is shown by the standard dotted
// rectangle around the text (never by the hover colour), and Space opens
// the link as a click does.
LRESULT LinkMessage(HWND link, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC original = OriginalLinkProc(link);
    if (original == nullptr) return DefWindowProcW(link, message, wParam, lParam);
    switch (message) {
    case WM_KEYDOWN:
        if (wParam == VK_SPACE) {
            if ((lParam & 0x40000000) == 0) OpenLinkOf(link);  // not on auto-repeat
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == L' ') return 0;
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(link, nullptr, TRUE);
        break;
    case WM_PAINT: {
        LRESULT result = CallWindowProcW(original, link, message, wParam, lParam);
        if (GetFocus() == link) {
            HDC dc = GetDC(link);
            if (dc != nullptr) {
                wchar_t text[qx::kVersionTextChars];
                int length = GetWindowTextW(link, text, static_cast<int>(qx::kVersionTextChars));
                HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(link, WM_GETFONT, 0, 0)));
                RECT client;
                GetClientRect(link, &client);
                RECT box = client;
                DrawTextW(dc, text, length, &box, DT_LEFT | DT_NOPREFIX | DT_SINGLELINE | DT_CALCRECT);
                if (box.right > client.right) box.right = client.right;
                if (box.bottom > client.bottom) box.bottom = client.bottom;
                DrawFocusRect(dc, &box);
                SelectObject(dc, old);
                ReleaseDC(link, dc);
            }
        }
        return result;
    }
    default:
        break;
    }
    return CallWindowProcW(original, link, message, wParam, lParam);
}

LRESULT CALLBACK LinkProc(HWND link, UINT message, WPARAM wParam, LPARAM lParam) {
    return Guarded<LRESULT>(0, [&] { return LinkMessage(link, message, wParam, lParam); });
}

void CreateLinkFonts(HWND page) {
    auto* fonts = new (std::nothrow) LinkFonts;
    if (fonts == nullptr) return;  // the links keep the page's font
    for (int i = 0; i < 2; ++i) {
        HWND link = GetDlgItem(page, kLinkControls[i]);
        if (link == nullptr) continue;
        HFONT font = reinterpret_cast<HFONT>(SendMessageW(link, WM_GETFONT, 0, 0));
        HGDIOBJ described = font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT);
        LOGFONTW description;
        if (GetObjectW(described, sizeof description, &description) != sizeof description) continue;
        description.lfUnderline = 1;
        HFONT underlined = CreateFontIndirectW(&description);
        if (underlined == nullptr) continue;
        fonts->original[i] = font;
        fonts->underlined[i] = underlined;
        SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(underlined), FALSE);
    }
    SetWindowLongPtrW(page, DWLP_USER, reinterpret_cast<LONG_PTR>(fonts));
    for (int i = 0; i < 2; ++i) {
        HWND link = GetDlgItem(page, kLinkControls[i]);
        if (link == nullptr) continue;
        fonts->originalProc[i] = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(link, GWLP_WNDPROC));
        if (fonts->originalProc[i] != nullptr) {
            SetWindowLongPtrW(link, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LinkProc));
        }
    }
}

void ReleaseLinkFonts(HWND page) {
    auto* fonts = reinterpret_cast<LinkFonts*>(GetWindowLongPtrW(page, DWLP_USER));
    if (fonts == nullptr) return;
    for (int i = 0; i < 2; ++i) {
        HWND link = GetDlgItem(page, kLinkControls[i]);
        if (link != nullptr && fonts->originalProc[i] != nullptr) {
            SetWindowLongPtrW(link, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(fonts->originalProc[i]));
        }
    }
    SetWindowLongPtrW(page, DWLP_USER, 0);
    for (int i = 0; i < 2; ++i) {
        if (fonts->underlined[i] == nullptr) continue;
        // The controls outlive the page's WM_DESTROY: hand them back their
        // font before the underlined one goes.
        HWND link = GetDlgItem(page, kLinkControls[i]);
        if (link != nullptr) {
            SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(fonts->original[i]), FALSE);
        }
        DeleteObject(fonts->underlined[i]);
    }
    delete fonts;
}

// A per-monitor aware host moved the page to a screen of another scale: the
// platform has handed each control a font for the new DPI, the links too,
// which then lost their underline. They get an underlined copy of the new
// font, which is what they hand back when the page goes; ours at the old
// DPI is deleted.
void RescaleLinkFonts(HWND page) {
    auto* fonts = reinterpret_cast<LinkFonts*>(GetWindowLongPtrW(page, DWLP_USER));
    if (fonts == nullptr) return;
    for (int i = 0; i < 2; ++i) {
        HWND link = GetDlgItem(page, kLinkControls[i]);
        if (link == nullptr || fonts->underlined[i] == nullptr) continue;
        HFONT now = reinterpret_cast<HFONT>(SendMessageW(link, WM_GETFONT, 0, 0));
        if (now == fonts->underlined[i]) continue;  // the platform sent none
        LOGFONTW description;
        HGDIOBJ described = now != nullptr ? static_cast<HGDIOBJ>(now) : GetStockObject(SYSTEM_FONT);
        if (GetObjectW(described, sizeof description, &description) != sizeof description) continue;
        description.lfUnderline = 1;
        HFONT underlined = CreateFontIndirectW(&description);
        if (underlined == nullptr) continue;  // the link shows the new font, not underlined
        SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(underlined), TRUE);
        DeleteObject(fonts->underlined[i]);
        fonts->underlined[i] = underlined;
        fonts->original[i] = now;
    }
}

void RefreshPage(HWND page) {
    // 1. The error-message setting; a missing file or key counts as 1.
    int errorMessages = 1;
    wchar_t ini[qx::kVersionTextChars];
    if (JoinPath(GetSystemDirectoryW, L"\\ERRMSG748.INI", ini))
        errorMessages = static_cast<int>(GetPrivateProfileIntW(L"Setting", L"ErrorMsg", 1, ini));

    // 2. The driver files' times.
    for (const DriverFile& file : kDriverFiles) {
        wchar_t text[qx::kVersionTextChars];
        FormatDriverFileTime(file.relativePath, text);
        SetDlgItemTextW(page, file.control, text);
    }

    // 3. The gamma table name, its label only while it could be read.
    qx::GammaNameField field;
    HWND label = GetDlgItem(page, IDC_GAMMA_LABEL);
    if (ReadGammaTableName(field) && label != nullptr) {
        ShowWindow(label, SW_SHOW);
        wchar_t name[qx::kGammaNameBytes + 1];
        int length = static_cast<int>(qx::GammaNameLength(field));
        int converted = 0;
        if (length > 0) {
            converted = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, reinterpret_cast<LPCCH>(field.data()),
                                            length, name, static_cast<int>(qx::kGammaNameBytes));
        }
        name[converted > 0 ? converted : 0] = L'\0';
        SetDlgItemTextW(page, IDC_GAMMA_NAME, name);
    } else {
        if (label != nullptr) ShowWindow(label, SW_HIDE);
        SetDlgItemTextW(page, IDC_GAMMA_NAME, L"");
    }

    // 4. The error-message state, in the words of the module the page's
    // template came from.
    wchar_t state[qx::kVersionTextChars];
    const auto module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(page, GWLP_HINSTANCE));
    const UINT stateText = errorMessages != 0 ? IDS_PRINTER_DRIVER : IDS_PRINTER_DRIVER_NO_ERRORS;
    if (LoadStringW(module, stateText, state, static_cast<int>(qx::kVersionTextChars)) <= 0) state[0] = L'\0';
    SetDlgItemTextW(page, IDC_ERROR_MSG_STATE, state);
}

bool CursorOver(HWND control, const POINT& cursor) {
    RECT rect;
    return control != nullptr && GetWindowRect(control, &rect) && PtInRect(&rect, cursor);
}

void TrackHover(HWND page) {
    POINT cursor;
    bool known = GetCursorPos(&cursor) != FALSE;
    for (int i = 0; i < 2; ++i) {
        HWND link = GetDlgItem(page, kLinkControls[i]);
        HotFlag(i) = known && CursorOver(link, cursor) ? 1 : 0;
        // Redrawn every time: the colour and the hand cursor are set while
        // the control paints.
        if (link != nullptr) RedrawWindow(link, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
}

void OpenClickedLink(HWND page) {
    POINT cursor;
    if (!GetCursorPos(&cursor)) return;
    for (int control : kLinkControls) {
        HWND link = GetDlgItem(page, control);
        if (!CursorOver(link, cursor)) continue;
        OpenLinkOf(link);
    }
}

INT_PTR ColourStatic(HDC dc, HWND control) {
    HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    int id = GetDlgCtrlID(control);
    for (int i = 0; i < 2; ++i) {
        if (id != kLinkControls[i]) continue;
        if (HotFlag(i) != 0) {
            SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
            SetCursor(hand);
        } else {
            SetTextColor(dc, kLinkColour);
        }
    }
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
}

}  // namespace

namespace {

void FormatKnownFileTime(const wchar_t* relativePath, wchar_t (&text)[qx::kVersionTextChars]) {
    qx::FileDateTime time;
    wchar_t path[qx::kVersionTextChars];
    if (JoinPath(GetSystemDirectoryW, relativePath, path)) {
        UniqueFile file(CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        FILETIME written, local;
        SYSTEMTIME fields;
        if (file.valid() && GetFileTime(file.get(), nullptr, nullptr, &written) &&
            FileTimeToLocalFileTime(&written, &local) && FileTimeToSystemTime(&local, &fields)) {
            time = {fields.wYear, fields.wMonth, fields.wDay, fields.wHour, fields.wMinute};
        }
    }
    CopyToBuffer(qx::FormatFileTimeText(time), text, qx::kVersionTextChars);
}

}  // namespace

void FormatDriverFileTime(const wchar_t* relativePath, wchar_t (&text)[qx::kVersionTextChars]) {
    // Out of memory (the time's text is a string) the time is shown as unknown.
    const bool built = Guarded(false, [&] {
        FormatKnownFileTime(relativePath, text);
        return true;
    });
    if (!built) std::copy(std::begin(kUnknownFileTime), std::end(kUnknownFileTime), text);
}

bool ReadGammaTableName(qx::GammaNameField& field) {
    field.fill(0);
    wchar_t path[qx::kVersionTextChars];
    if (!JoinPath(GetWindowsDirectoryW, L"\\QX748.BIN", path)) return false;

    UniqueFile file(CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) return false;
    LARGE_INTEGER offset;
    offset.QuadPart = qx::kGammaNameOffset;
    if (!SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN)) return false;
    std::uint8_t bytes[qx::kGammaNameBytes];
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes, sizeof bytes, &got, nullptr)) return false;
    field = qx::GammaFieldFromRead(bytes, got);  // a short file leaves zeros
    return true;
}

LONG ReadRegistryDefault(HKEY root, const wchar_t* subKey, wchar_t* buffer, std::size_t bufferChars) {
    UniqueKey key;
    LONG status = RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, key.out());
    if (status != ERROR_SUCCESS) return status;

    wchar_t value[qx::kVersionTextChars];
    LONG bytes = sizeof value;
    status = RegQueryValueW(key.get(), nullptr, value, &bytes);
    if (status != ERROR_SUCCESS) return status;

    // The stored string need not end in a terminator, and the reported size
    // is not trusted beyond the buffer.
    std::size_t dataBytes = bytes < 0 ? 0 : static_cast<std::size_t>(bytes);
    if (dataBytes > sizeof value) dataBytes = sizeof value;
    std::size_t capacity = bufferChars < qx::kVersionTextChars ? bufferChars : qx::kVersionTextChars;
    auto length = qx::RegistryStringLength(reinterpret_cast<const std::uint8_t*>(value), dataBytes, capacity);
    if (!length) return ERROR_MORE_DATA;
    for (std::size_t i = 0; i < *length; ++i) buffer[i] = value[i];
    buffer[*length] = L'\0';
    return ERROR_SUCCESS;
}

namespace {

void OpenLinkOrFallback(const wchar_t* link, int showCommand) {
    HINSTANCE opened = ShellExecuteW(nullptr, L"open", link, nullptr, nullptr, showCommand);
    if (reinterpret_cast<INT_PTR>(opened) > 32) return;

    // Fallback: the command registered for HTML files. An empty value names
    // no handler; going on would start the link itself as a program.
    wchar_t command[qx::kCommandLineChars];
    if (ReadRegistryDefault(HKEY_CLASSES_ROOT, L".htm", command, qx::kCommandLineChars) != ERROR_SUCCESS ||
        command[0] == L'\0') {
        return;
    }
    std::wstring commandKey = command;
    commandKey += L"\\shell\\open\\command";
    if (ReadRegistryDefault(HKEY_CLASSES_ROOT, commandKey.c_str(), command, qx::kCommandLineChars) !=
            ERROR_SUCCESS ||
        command[0] == L'\0') {
        return;
    }

    auto line = qx::BuildFallbackCommandLine(ToU16(command), ToU16(link));
    if (!line) return;  // would not fit the command line buffer
    std::wstring wide(line->begin(), line->end());

    // WinExec takes the ANSI code page.
    int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return;
    std::string ansi(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &ansi[0], size, nullptr, nullptr) <= 0) return;
    WinExec(ansi.c_str(), static_cast<UINT>(showCommand));
}

}  // namespace

void OpenLink(const wchar_t* link, int showCommand) {
    // Out of memory the fallback is not tried: the link stays unopened.
    GuardedCall([&] { OpenLinkOrFallback(link, showCommand); });
}

namespace {

INT_PTR VersionPageMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        webLinkHot = 0;
        mailLinkHot = 0;
        CreateLinkFonts(window);
        return FALSE;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header != nullptr && header->code == static_cast<UINT>(PSN_SETACTIVE)) RefreshPage(window);
        return FALSE;
    }
    case WM_CTLCOLORSTATIC:
        return ColourStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_MOUSEMOVE:
        TrackHover(window);
        return FALSE;
    case WM_LBUTTONDOWN:
        OpenClickedLink(window);
        return FALSE;
    case 0x02E3:  // WM_DPICHANGED_AFTERPARENT, newer than the headers' target
        RescaleLinkFonts(window);
        return FALSE;
    case WM_DESTROY:
        ReleaseLinkFonts(window);
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK VersionPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return Guarded<INT_PTR>(FALSE, [&] { return VersionPageMessage(window, message, wParam, lParam); });
}
