// Stand-in for a link handler: appends its own command line, as UTF-8, as
// one line of "record_cmdline.log" beside the executable.
#include <windows.h>

#include <string>

int main() {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    std::wstring log(self, n);
    log.replace(log.size() - 4, 4, L".log");  // "...\record_cmdline.exe"

    const wchar_t* line = GetCommandLineW();
    int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return 1;
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line, -1, &text[0], size, nullptr, nullptr);
    text.back() = '\n';

    // Another recorder may be appending at the same moment: wait for it.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            CloseHandle(file);
            return ok && written == text.size() ? 0 : 1;
        }
        Sleep(10);
    }
    return 1;
}
