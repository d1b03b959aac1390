#include "tools/host/host_state.h"

#include <objbase.h>

#include <clocale>
#include <float.h>

namespace qxhost {
namespace {

template <class Fn>
Fn Lookup(const wchar_t *module, const char *name) {
    HMODULE m = GetModuleHandleW(module);
    return m == nullptr ? nullptr : reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(m, name)));
}

// Windows 10 1607 and later; looked up so the host runs where they are missing.
int ThreadDpiAwareness() {
    using GetContext = HANDLE(WINAPI *)();
    using GetAwareness = int(WINAPI *)(HANDLE);
    auto context = Lookup<GetContext>(L"user32.dll", "GetThreadDpiAwarenessContext");
    auto awareness = Lookup<GetAwareness>(L"user32.dll", "GetAwarenessFromDpiAwarenessContext");
    return context != nullptr && awareness != nullptr ? awareness(context()) : -2;
}

UINT ErrorMode() {
    using Get = UINT(WINAPI *)();
    auto get = Lookup<Get>(L"kernel32.dll", "GetErrorMode");
    return get != nullptr ? get() : 0;
}

DWORD ThreadErrorMode() {
    using Get = DWORD(WINAPI *)();
    auto get = Lookup<Get>(L"kernel32.dll", "GetThreadErrorMode");
    return get != nullptr ? get() : 0;
}

}  // namespace

HostState HostState::Take() {
    HostState s;
    wchar_t folder[MAX_PATH * 2] = L"";
    GetCurrentDirectoryW(MAX_PATH * 2, folder);
    s.workingFolder = folder;
    s.errorMode = ErrorMode();
    s.threadErrorMode = ThreadErrorMode();
    s.dpiAwareness = ThreadDpiAwareness();
    s.threadLocale = GetThreadLocale();
    const char *locale = std::setlocale(LC_ALL, nullptr);
    s.crtLocale = locale != nullptr ? locale : "(none)";
    s.fpControl = _controlfp(0, 0);
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    s.apartmentResult = CoGetApartmentType(&type, &qualifier);
    s.apartment = SUCCEEDED(s.apartmentResult) ? static_cast<int>(type) : -1;
    return s;
}

void CheckStateKept(Transcript &log, const HostState &before, const char *when, bool withApartment) {
    const HostState now = HostState::Take();
    std::vector<std::string> changed;
    if (now.workingFolder != before.workingFolder)
        changed.push_back(Format("current directory \"%s\", was \"%s\"", Utf8(now.workingFolder.c_str()).c_str(),
                                 Utf8(before.workingFolder.c_str()).c_str()));
    if (now.errorMode != before.errorMode)
        changed.push_back(Format("error mode 0x%X, was 0x%X", now.errorMode, before.errorMode));
    if (now.threadErrorMode != before.threadErrorMode)
        changed.push_back(Format("thread error mode 0x%lX, was 0x%lX", static_cast<unsigned long>(now.threadErrorMode),
                                 static_cast<unsigned long>(before.threadErrorMode)));
    if (now.dpiAwareness != before.dpiAwareness)
        changed.push_back(Format("thread DPI awareness %d, was %d", now.dpiAwareness, before.dpiAwareness));
    if (now.threadLocale != before.threadLocale)
        changed.push_back(Format("thread locale 0x%04lX, was 0x%04lX", static_cast<unsigned long>(now.threadLocale),
                                 static_cast<unsigned long>(before.threadLocale)));
    if (now.crtLocale != before.crtLocale)
        changed.push_back(Format("C runtime locale \"%s\", was \"%s\"", now.crtLocale.c_str(), before.crtLocale.c_str()));
    if (now.fpControl != before.fpControl)
        changed.push_back(Format("floating-point control word 0x%08X, was 0x%08X", now.fpControl, before.fpControl));
    if (withApartment && (now.apartmentResult != before.apartmentResult || now.apartment != before.apartment))
        changed.push_back(Format("COM apartment %d (%s), was %d (%s)", now.apartment, HresultText(now.apartmentResult).c_str(),
                                 before.apartment, HresultText(before.apartmentResult).c_str()));
    log.Call(Format("the host's process state %s", when).c_str(), changed.empty() ? "as before" : "changed",
             changed.empty() ? Format("current directory, error modes, DPI awareness %d, locales, FP control 0x%08X%s",
                                      now.dpiAwareness, now.fpControl, withApartment ? ", COM apartment" : "")
                             : Format("%u changes", static_cast<unsigned>(changed.size())));
    for (const std::string &line : changed) log.Note("%s", line.c_str());
    if (!changed.empty()) log.Violation("the plug-in leaves its host's process state as it found it");
}

}  // namespace qxhost
