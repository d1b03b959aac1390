// Each DLL loaded, driven where it fails inside, unloaded with FreeLibrary
// while the program goes on: in a child process, whose exit status is the
// verdict (a callback left behind in the unloaded image fires at thread and
// process end, after anything the child itself could report).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Wide(const char *text) {
    std::wstring out;
    for (; *text; ++text) out += static_cast<wchar_t>(*text);
    return out;
}

// Set by the build, as the DLL paths are (the program's own path is no
// guide: Wine may report it in its Unix form).
std::wstring ChildPath() {
    std::wstring path = Wide(UNLOAD_CHILD_PATH);
    for (wchar_t &c : path)
        if (c == L'/') c = L'\\';
    return path;
}

// Exit code of the child, or a note why it gave none.
DWORD RunChild(const char *kind, const char *dll, std::string *why) {
    std::wstring line = L"\"" + ChildPath() + L"\" " + Wide(kind) + L" \"" + Wide(dll) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        const DWORD error = GetLastError();
        *why = "cannot start " + std::string(line.begin(), line.end()) + " (error " + std::to_string(error) + ")";
        return 0xFFFFFFFF;
    }
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) {
        *why = "the child did not end";
        TerminateProcess(pi.hProcess, 1);
    } else {
        GetExitCodeProcess(pi.hProcess, &code);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

struct Case {
    const char *kind;
    const char *dll;
};

// The two shipped DLLs on their failing paths, and a DLL built by the same
// rules that throws inside (the shipped ones have no path that throws on
// purpose).
const Case kCases[] = {
    {"ui", QX748UI_PATH},
    {"sp", QX748SP_PATH},
    {"probe", UNLOAD_PROBE_PATH},
};

TEST(DllUnload, ProcessGoesOnAndEndsCleanlyAfterFreeLibrary) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.kind);
        std::string why;
        const DWORD code = RunChild(c.kind, c.dll, &why);
        EXPECT_EQ(0u, code) << c.dll << ": exit status " << std::hex << code
                            << " (10-24: the step that failed; others: the process died) " << why;
    }
}

}  // namespace
