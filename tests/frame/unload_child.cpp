// Loads one DLL, drives it where it fails inside, unloads it once it says it
// may go, and goes on: new threads, the DLL loaded and unloaded again. Run
// by unload_test as a child, because a callback left behind in the unloaded
// image fires only as threads and the process end: the exit status 0 is the
// verdict, any other value names the step that went wrong.
//   frame_unload_child ui|sp|probe DLL-PATH
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "uiplugin/frame/oem_contract.h"
#include "uiplugin/resources/resource_ids.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, LPVOID *);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE *)();
using VendorSetupFn = VOID(WINAPI *)(HWND, HINSTANCE, LPSTR, UINT);
using ThrowInsideFn = int (*)(int);

template <class Fn>
Fn Export(HMODULE module, const char *name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

// Exit codes of the steps; 10-18 are main's own.
enum Step : int {
    kOk = 0,
    kCalls = 11,             // the DLL's own calls: exports, factory, device modes
    kColorPage = 20,         // the Color correction page was not added or shown
    kPictureNotRead = 21,    // a paint left a stored path as no read of it would
    kVersionPage = 22,       // the Version page was not added or shown
    kSettingsDialogs = 23,   // a file dialog or message was not met
    kStillInUse = 24,        // DllCanUnloadNow refused after the sheets
};

// Files the Color correction page meets: written once by main, in a folder
// of this process's own.
std::wstring scratchDir;

void WriteFileBytes(const std::wstring &name, const std::vector<unsigned char> &bytes) {
    HANDLE file = CreateFileW((scratchDir + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;  // the case then reads a missing file: still a failing path
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

void Put32(std::vector<unsigned char> &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// File and information headers of a bitmap that claims what it is given.
std::vector<unsigned char> BitmapHeaders(uint32_t fileSize, int32_t width, int32_t height, uint16_t bits) {
    std::vector<unsigned char> b(54);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, fileSize);
    Put32(b, 10, 54);
    Put32(b, 14, 40);
    Put32(b, 18, static_cast<uint32_t>(width));
    Put32(b, 22, static_cast<uint32_t>(height));
    b[26] = 1;
    b[28] = static_cast<unsigned char>(bits);
    return b;
}

struct PictureCase {
    const wchar_t *name;  // in scratchDir; null: a path of 260 units with no NUL
    bool kept;            // the path stays in the record after a paint
};

// Stored picture paths a document may bring: only the absurd size is a
// picture the preview can use (a zero-filled cut-out of it); the rest are
// forgotten on the first paint.
const PictureCase kPictures[] = {
    {L"text.bmp", false},      // no bitmap at all
    {L"stub.bmp", false},      // 20 bytes, pixels said to lie beyond them
    {L"huge.bmp", true},       // 60000 x 60000 declared, one row present
    {L"wide.bmp", false},      // too wide to load whole
    {L"tall.bmp", false},      // height INT32_MIN
    {L"palette.bmp", false},   // 8 bits per pixel
    {L"absent.bmp", false},    // no such file
    {nullptr, false},          // unterminated, and relative
};

void WriteScratchFiles() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    scratchDir = std::wstring(temp) + L"qx748-unload-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(scratchDir.c_str(), nullptr);
    const char note[] = "A note, not a picture.\r\n";
    WriteFileBytes(L"text.bmp", std::vector<unsigned char>(note, note + sizeof note - 1));
    std::vector<unsigned char> stub = BitmapHeaders(20, 1, 1, 24);
    stub.resize(20);
    WriteFileBytes(L"stub.bmp", stub);
    std::vector<unsigned char> huge = BitmapHeaders(0xFFFFFFFFu, 60000, 60000, 24);
    huge.resize(huge.size() + 3 * 60000, 0x80);
    WriteFileBytes(L"huge.bmp", huge);
    WriteFileBytes(L"wide.bmp", BitmapHeaders(54 + 64, 0x7FFFFFFF, 100, 24));
    WriteFileBytes(L"tall.bmp", BitmapHeaders(54 + 64, 1, INT32_MIN, 24));
    WriteFileBytes(L"palette.bmp", BitmapHeaders(54 + 1024 + 4, 2, 2, 8));
    // A settings file cut short: a well-formed one is 44 bytes.
    WriteFileBytes(L"short.col", std::vector<unsigned char>(10, 0x01));
}

void RemoveScratchFiles() {
    for (const wchar_t *name : {L"text.bmp", L"stub.bmp", L"huge.bmp", L"wide.bmp", L"tall.bmp", L"palette.bmp",
                                L"short.col"})
        DeleteFileW((scratchDir + name).c_str());
    // The page's file dialogs leave the process in the folder.
    SetCurrentDirectoryW((scratchDir + L"..").c_str());
    RemoveDirectoryW(scratchDir.c_str());
}

// Each driving thread's own state, found through TlsGetValue rather than
// thread_local: arm64 Wine's system DLLs are Linux code and may return with
// the register that locates thread-local storage clobbered.
struct ThreadState {
    LONG_PTR addedPage = 0;
    const wchar_t *dialogFile = L"";
    int dialogsAnswered = 0;
    HWND pendingDialog = nullptr;
    HWND openSheet = nullptr;
};
const DWORD stateSlot = TlsAlloc();

ThreadState &State() {
    auto *state = static_cast<ThreadState *>(TlsGetValue(stateSlot));
    if (state == nullptr) {
        state = new ThreadState;  // one per driving thread, for the process's life
        TlsSetValue(stateSlot, state);
    }
    return *state;
}

// The common property sheet function, played here: pages become real ones
// in a modeless sheet of this thread.

LONG_PTR CALLBACK ComPropSheet(HANDLE, UINT function, LPARAM lParam1, LPARAM) {
    switch (function) {
    case CPSFUNC_ADD_PROPSHEETPAGEW:
        State().addedPage = reinterpret_cast<LONG_PTR>(
            CreatePropertySheetPageW(reinterpret_cast<const PROPSHEETPAGEW *>(lParam1)));
        return State().addedPage;
    case CPSFUNC_GET_PAGECOUNT: return State().addedPage != 0 ? 1 : 0;
    case CPSFUNC_SET_RESULT: return 1;
    default: return 0;
    }
}

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Modal dialogs the page opens are answered from a timer inside their own
// loop: a file dialog with `dialogFile`, anything else with OK. A dialog
// that keeps coming back (a file the dialog itself refuses) is cancelled
// rather than answered for ever.

void CALLBACK AnswerDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    HWND dialog = State().pendingDialog;
    State().pendingDialog = nullptr;
    if (dialog == nullptr || !IsWindow(dialog)) return;
    if (++State().dialogsAnswered > 4) {
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    if (GetDlgItem(dialog, 0x470) != nullptr) {  // cmb1: a file dialog's type list
        SetDlgItemTextW(dialog, 0x480, State().dialogFile);  // edt1 or cmb13: the name
        SetDlgItemTextW(dialog, 0x47C, State().dialogFile);
    }
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

LRESULT CALLBACK AnswerHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        wchar_t cls[16] = {};
        GetClassNameW(window, cls, 16);
        if (window != State().openSheet && window != State().pendingDialog && std::wcscmp(cls, L"#32770") == 0 &&
            (GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD) == 0) {
            State().pendingDialog = window;
            SetTimer(nullptr, 0, 10, AnswerDialog);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The page the plug-in added, alone in a modeless sheet, painted; null when
// there is none.
HWND ShowAddedPage() {
    if (State().addedPage == 0) return nullptr;
    HPROPSHEETPAGE pages[] = {reinterpret_cast<HPROPSHEETPAGE>(State().addedPage)};
    State().addedPage = 0;  // the sheet owns it now
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS | PSH_NOCONTEXTHELP;
    header.pszCaption = L"Unload";
    header.nPages = 1;
    header.phpage = pages;
    State().openSheet = reinterpret_cast<HWND>(PropertySheetW(&header));
    if (State().openSheet == nullptr) return nullptr;
    Pump();
    HWND page = PropSheet_GetCurrentPageHwnd(State().openSheet);
    if (page != nullptr) {
        InvalidateRect(page, nullptr, FALSE);
        UpdateWindow(page);
    }
    return page;
}

void CloseSheet() {
    if (State().openSheet != nullptr) DestroyWindow(State().openSheet);
    State().openSheet = nullptr;
    Pump();
}

// One sheet of the plug-in: its pages added, shown, painted, `use`d, torn down.
template <class Use>
int RunSheet(IPrintOemUI *plugin, bool printer, unsigned char *record, int failure, Use use) {
    HANDLE heap = HeapCreate(0, 0, 0);
    if (heap == nullptr) return failure;
    OEMUIPSPARAM param = {};
    param.cbSize = sizeof param;
    param.hOEMHeap = heap;
    param.pOEMDM = record;
    PROPSHEETUI_INFO info = {};
    info.cbSize = sizeof info;
    info.Version = PROPSHEETUI_INFO_VERSION;
    info.Reason = PROPSHEETUI_REASON_INIT;
    info.hComPropSheet = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5EE7));
    info.pfnComPropSheet = ComPropSheet;
    info.lParamInit = reinterpret_cast<LPARAM>(&param);
    State().addedPage = 0;
    HRESULT hr = printer ? plugin->DevicePropertySheets(&info, 0) : plugin->DocumentPropertySheets(&info, 0);
    HWND page = hr == S_OK ? ShowAddedPage() : nullptr;
    int result = page != nullptr ? use(page) : failure;
    CloseSheet();
    if (State().addedPage != 0) DestroyPropertySheetPage(reinterpret_cast<HPROPSHEETPAGE>(State().addedPage));
    State().addedPage = 0;
    info.Reason = PROPSHEETUI_REASON_DESTROY;
    printer ? plugin->DevicePropertySheets(&info, 1) : plugin->DocumentPropertySheets(&info, 1);
    HeapDestroy(heap);
    return result;
}

// The Color correction page on each stored picture, then its "Load" and
// "Select file" answered with the broken files.
int DriveColorPage(IPrintOemUI *plugin) {
    std::vector<unsigned char> record(qx::kPrivateDevModeSize);
    OEMDMPARAM defaults = {};
    defaults.cbSize = sizeof defaults;
    defaults.pOEMDMOut = record.data();
    defaults.cbBufSize = static_cast<DWORD>(record.size());
    if (plugin->DevMode(OEMDM_DEFAULT, &defaults) != S_OK) return kCalls;
    // Every step of the correction on: the preview runs them all.
    record[qx::pdm::kSetting(12)] = 7;  // sharpness
    record[qx::pdm::kSetting(16)] = 1;  // unsharp mask
    const std::vector<unsigned char> base = record;
    auto *path = reinterpret_cast<wchar_t *>(record.data() + qx::pdm::kPreviewImagePath);

    for (const PictureCase &c : kPictures) {
        record = base;
        std::wstring stored(qx::kPreviewPathChars, L'x');
        if (c.name != nullptr) stored = scratchDir + c.name + L'\0';
        std::memcpy(path, stored.data(), std::min(stored.size(), qx::kPreviewPathChars) * sizeof(wchar_t));
        const int result = RunSheet(plugin, false, record.data(), kColorPage, [&](HWND) {
            const bool kept = path[0] != L'\0';
            return kept == c.kept ? kOk : kPictureNotRead;
        });
        if (result != kOk) return result;
    }

    // "Load" and "Select file" answered with the broken files: each refused
    // with a message, or taken and painted.
    struct DialogCase {
        int button;
        const wchar_t *name;
        int dialogs;  // the file dialog, and the page's message if it refuses the file
    };
    const DialogCase dialogCases[] = {
        {IDC_LOAD_CONFIG, L"short.col", 2}, {IDC_SELECT_FILE, L"text.bmp", 2},
        {IDC_SELECT_FILE, L"stub.bmp", 2},  {IDC_SELECT_FILE, L"palette.bmp", 2},
        {IDC_SELECT_FILE, L"huge.bmp", 1},  {IDC_SELECT_FILE, L"wide.bmp", 1},
    };
    record = base;
    return RunSheet(plugin, false, record.data(), kColorPage, [&](HWND page) {
        HHOOK hook = SetWindowsHookExW(WH_CBT, AnswerHook, nullptr, GetCurrentThreadId());
        if (hook == nullptr) return kSettingsDialogs;
        Step result = kOk;
        for (const DialogCase &c : dialogCases) {
            const std::wstring file = scratchDir + c.name;
            State().dialogFile = file.c_str();
            State().dialogsAnswered = 0;
            SendMessageW(GetDlgItem(page, c.button), BM_CLICK, 0, 0);
            Pump();
            UpdateWindow(page);
            State().dialogFile = L"";
            if (State().dialogsAnswered != c.dialogs) result = kSettingsDialogs;
        }
        UnhookWindowsHookEx(hook);
        return result;
    });
}

// The plug-in's failing paths: unknown class and interface, device modes
// that are short, foreign or garbage, a helper that is not one; the Color
// correction page on broken files; the Version page with none of the files
// it reports on (the test prefix has none).
int DriveUi(HMODULE module) {
    auto getClassObject = Export<GetClassObjectFn>(module, "DllGetClassObject");
    auto canUnloadNow = Export<CanUnloadNowFn>(module, "DllCanUnloadNow");
    if (getClassObject == nullptr || canUnloadNow == nullptr) return kCalls;
    void *none = nullptr;
    if (getClassObject(IID_IUnknown, IID_IClassFactory, &none) != CLASS_E_CLASSNOTAVAILABLE) return kCalls;
    IClassFactory *factory = nullptr;
    if (FAILED(getClassObject(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void **>(&factory)))) return kCalls;
    IPrintOemUI *plugin = nullptr;
    HRESULT hr = factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void **>(&plugin));
    factory->Release();
    if (FAILED(hr) || plugin == nullptr) return kCalls;

    std::vector<unsigned char> in(576), out(576);
    const unsigned char fills[] = {0x00, 0xFF, 0x5A};
    const DWORD sizes[] = {0, 8, 575, 576, 0xFFFFFFFF};
    for (DWORD mode : {DWORD{OEMDM_DEFAULT}, DWORD{OEMDM_CONVERT}, DWORD{OEMDM_MERGE}}) {
        for (unsigned char fill : fills) {
            for (DWORD size : sizes) {
                std::memset(in.data(), fill, in.size());
                // A record whose header claims other sizes and signatures than ours.
                std::memcpy(in.data(), &size, sizeof size);
                OEMDMPARAM param = {};
                param.cbSize = sizeof param;
                param.pOEMDMIn = in.data();
                param.pOEMDMOut = out.data();
                param.cbBufSize = static_cast<DWORD>(out.size());
                plugin->DevMode(mode, &param);
            }
        }
    }
    plugin->DevMode(OEMDM_MERGE, nullptr);
    plugin->PublishDriverInterface(nullptr);

    int result = DriveColorPage(plugin);
    if (result == kOk) {
        std::vector<unsigned char> record(qx::kPrivateDevModeSize);
        result = RunSheet(plugin, true, record.data(), kVersionPage, [](HWND) { return kOk; });
    }
    plugin->Release();
    if (result != kOk) return result;
    return canUnloadNow() == S_OK ? kOk : kStillInUse;
}

// The setup hook on command lines naming no printer there is.
bool DriveSp(HMODULE module) {
    auto vendorSetup = Export<VendorSetupFn>(module, "VendorSetup");
    if (vendorSetup == nullptr) return false;
    const char *lines[] = {"", "\"", "\"\"", "\"QX748 no such printer\"", "QX748 no such printer,winspool,Ne99:",
                           "\"unterminated"};
    for (const char *line : lines) {
        std::string copy = line;
        vendorSetup(nullptr, nullptr, &copy[0], 0);
    }
    vendorSetup(nullptr, nullptr, nullptr, 0);
    return true;
}

bool DriveProbe(HMODULE module) {
    auto throwInside = Export<ThrowInsideFn>(module, "ThrowInside");
    if (throwInside == nullptr) return false;
    for (int i = 1; i <= 3; ++i)
        if (throwInside(i) != i) return false;
    return throwInside(0) == 0;
}

// 0, or the exit code of the step that went wrong.
int Drive(const std::string &kind, HMODULE module) {
    if (kind == "ui") return DriveUi(module);
    if (kind == "sp") return DriveSp(module) ? kOk : kCalls;
    return DriveProbe(module) ? kOk : kCalls;
}

LONG WINAPI EndOnFault(EXCEPTION_POINTERS *e) {
    TerminateProcess(GetCurrentProcess(), e != nullptr && e->ExceptionRecord != nullptr
                                              ? e->ExceptionRecord->ExceptionCode
                                              : 99);
    return EXCEPTION_EXECUTE_HANDLER;
}

DWORD WINAPI Idle(LPVOID) { return 7; }

// A new thread starts and ends: each thread end runs the callbacks
// registered per thread.
bool RunThread() {
    HANDLE thread = CreateThread(nullptr, 0, Idle, nullptr, 0, nullptr);
    if (thread == nullptr) return false;
    DWORD code = 0;
    const bool ok = WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &code) && code == 7;
    CloseHandle(thread);
    return ok;
}

// A thread that has used the DLL and ends after the DLL is gone.
struct Worker {
    std::string kind;
    HMODULE module;
    HANDLE go;
    volatile LONG code = -1;  // Drive's result once it has one
};

DWORD WINAPI UseThenWait(LPVOID p) {
    auto *w = static_cast<Worker *>(p);
    InterlockedExchange(&w->code, Drive(w->kind, w->module));
    WaitForSingleObject(w->go, 30000);
    return 0;
}

// Twice: load, drive, unload under a thread that used the DLL, go on.
// 0, or the exit code of the step that went wrong.
int LoadDriveUnload(const std::string &kind, const std::wstring &path) {
    for (int round = 0; round < 2; ++round) {
        HMODULE module = LoadLibraryW(path.c_str());
        if (module == nullptr) return 10;
        if (const int step = Drive(kind, module)) return step;
        Worker worker{kind, module, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        HANDLE thread = worker.go ? CreateThread(nullptr, 0, UseThenWait, &worker, 0, nullptr) : nullptr;
        if (thread == nullptr) return 12;
        // The worker has driven the DLL and waits: unload under it.
        for (int i = 0; i < 3000 && worker.code < 0 && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; ++i)
            Sleep(10);
        if (worker.code < 0) return 13;
        if (worker.code != kOk) return static_cast<int>(worker.code);
        if (kind == "ui") {
            auto canUnloadNow = Export<CanUnloadNowFn>(module, "DllCanUnloadNow");
            if (canUnloadNow() != S_OK) return 14;
        }
        if (!FreeLibrary(module)) return 15;
        if (GetModuleHandleW(path.c_str()) != nullptr) return 16;  // still mapped: nothing was tested
        SetEvent(worker.go);
        if (WaitForSingleObject(thread, 30000) != WAIT_OBJECT_0) return 17;
        CloseHandle(thread);
        CloseHandle(worker.go);
        if (!RunThread()) return 18;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: frame_unload_child ui|sp|probe DLL-PATH\n");
        return 2;
    }
    // A fault ends the process with its code instead of waiting for a
    // debugger (Wine starts one for unhandled faults, and it may never end).
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(EndOnFault);
    const std::string kind = argv[1];
    // Started before the plug-in, which imports it: arm64 Wine otherwise
    // enters the plug-in's start-up with x18 zeroed.
    LoadLibraryW(L"comdlg32.dll");
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (kind == "ui") WriteScratchFiles();
    std::wstring path;
    for (const char *c = argv[2]; *c; ++c) path += static_cast<wchar_t>(*c == '/' ? '\\' : *c);

    const int code = LoadDriveUnload(kind, path);
    if (kind == "ui") RemoveScratchFiles();
    if (code != 0) return code;
    std::printf("unloaded cleanly\n");
    std::fflush(stdout);
    return 0;
}
