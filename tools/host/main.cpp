// qx748host: a stand-in for the platform's printer driver UI. Loads
// QX748UI.dll as Windows does, makes the driver UI's calls in its order,
// prints each call and its result, and fails on any result the contract
// does not allow.
//   qx748host.exe [--platform] [MODE] [PATH\QX748UI.dll]   (default: next to this program)
// MODE: none, the calls of a driver UI that opens no sheet; --document or
// --printer, that sheet on the screen for a person, the record printed when
// it closes; --script, both sheets run by the host (controls set, Apply,
// every control of each page checked to lie in the page's visible area and
// every text to fit its control);
// --screenshot DIR, the same with pictures of both sheets in DIR.
// --platform: the sheets run in the platform's CommonPropertySheetUIW
// (compstui.dll) instead of the host's own stand-in for it.
// Every mode: the host's process state (current directory, error modes, DPI
// awareness, locales, floating-point control word, COM apartment) must be as
// it was before the plug-in ran.
// Exit codes: 0 all results allowed, 1 a contract violation, 2 the plug-in
// could not be loaded or the command line is wrong.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "tools/host/host_session.h"
#include "tools/host/host_state.h"
#include "tools/host/sheets.h"
#include "tools/host/transcript.h"

namespace {

constexpr int kExitViolation = 1;
constexpr int kExitUsage = 2;

std::wstring DefaultPluginPath() {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return L"QX748UI.dll";
    std::wstring path(self, n);
    size_t slash = path.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) + L"QX748UI.dll";
}

enum class Mode { kCalls, kDocument, kPrinter, kScript };

void PrintUsage() {
    std::printf("usage: qx748host.exe [--platform] [--document | --printer | --script | --screenshot DIR]\n"
                "                     [PATH\\QX748UI.dll]\n"
                "Drives the plug-in through the printer driver UI's calls and prints a transcript.\n"
                "  --document, --printer  show that property sheet; the record is printed when it closes\n"
                "  --script               run both sheets with scripted changes and Apply, no window needed;\n"
                "                         a page control out of the page's visible area, or a text\n"
                "                         that does not fit its control, is a violation\n"
                "  --screenshot DIR       the same, writing color-correction.png and version.png to DIR\n"
                "  --platform             run the sheets in the platform's CommonPropertySheetUIW\n"
                "                         (compstui.dll) rather than the host's own; needs a sheet mode\n");
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) return kExitUsage;
    std::wstring pluginPath, screenshotDir;
    Mode mode = Mode::kCalls;
    bool modeGiven = false, platform = false;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--help" || arg == L"-h") {
            PrintUsage();
            LocalFree(argv);
            return 0;
        }
        if (arg == L"--platform" && !platform) {
            platform = true;
            continue;
        }
        Mode chosen = Mode::kCalls;
        if (arg == L"--document") chosen = Mode::kDocument;
        if (arg == L"--printer") chosen = Mode::kPrinter;
        if (arg == L"--script") chosen = Mode::kScript;
        if (arg == L"--screenshot") {
            if (i + 1 >= argc) chosen = Mode::kCalls;  // no folder: refused below
            else {
                chosen = Mode::kScript;
                screenshotDir = argv[++i];
            }
        }
        if (chosen != Mode::kCalls && !modeGiven) {
            mode = chosen;
            modeGiven = true;
            continue;
        }
        if (arg.rfind(L"--", 0) == 0 || !pluginPath.empty()) {
            std::fprintf(stderr, "qx748host: unexpected argument %s\n", qxhost::Utf8(arg.c_str()).c_str());
            PrintUsage();
            LocalFree(argv);
            return kExitUsage;
        }
        pluginPath = arg;
    }
    LocalFree(argv);
    if (platform && mode == Mode::kCalls) {
        std::fprintf(stderr, "qx748host: --platform runs sheets: give --document, --printer, --script or --screenshot\n");
        PrintUsage();
        return kExitUsage;
    }
    if (pluginPath.empty()) pluginPath = DefaultPluginPath();
    for (wchar_t &c : pluginPath)
        if (c == L'/') c = L'\\';

    qxhost::Transcript transcript;
    // As many applications run: no critical-error boxes, none for files
    // that cannot be opened. Taken before the plug-in is loaded, compared
    // after it is released.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const qxhost::HostState before = qxhost::HostState::Take();
    std::printf("qx748host: the printer driver UI's calls into %s\n", qxhost::Utf8(pluginPath.c_str()).c_str());
    qxhost::HostSession session(transcript);
    if (!session.Load(pluginPath)) {
        std::printf("\nqx748host: the plug-in could not be loaded\n");
        return kExitUsage;
    }
    // The calls of a driver UI that opens no sheet; the sheets' scenes join
    // between QueryColorProfile and ReleasePlugin.
    session.PublishHelper();
    session.QueryInfo();
    session.RunDevModeRequests();
    session.QueryColorProfile();
    if (mode != Mode::kCalls) {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS |
                                                    ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
        InitCommonControlsEx(&icc);
        const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));  // the PNG encoder
        const qxhost::HostState sheetsBefore = qxhost::HostState::Take();
        qxhost::SheetScenes scenes(session, transcript);
        qxhost::SheetRun run;
        run.show = mode == Mode::kScript ? qxhost::SheetShow::kScripted : qxhost::SheetShow::kInteractive;
        run.frame = platform ? qxhost::SheetFrame::kPlatform : qxhost::SheetFrame::kHost;
        if (mode == Mode::kScript && !screenshotDir.empty()) {
            for (wchar_t &c : screenshotDir)
                if (c == L'/') c = L'\\';
            CreateDirectoryW(screenshotDir.c_str(), nullptr);
            run.screenshotDir = screenshotDir;
        }
        if (mode == Mode::kDocument || mode == Mode::kScript) scenes.RunSheet(qxhost::SheetKind::kDocument, run);
        if (mode == Mode::kPrinter || mode == Mode::kScript) scenes.RunSheet(qxhost::SheetKind::kPrinter, run);
        scenes.PrintRecord();
        qxhost::CheckStateKept(transcript, sheetsBefore, "after the sheets", true);
        if (com) CoUninitialize();
    }
    session.ReleasePlugin();
    qxhost::CheckStateKept(transcript, before, "after the plug-in's release", false);

    std::printf("\nqx748host: %d contract violation%s\n", transcript.violations(),
                transcript.violations() == 1 ? "" : "s");
    return transcript.violations() == 0 ? 0 : kExitViolation;
}
