#include "tests/support/wine_network.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace qxtest {
namespace {

// Wine's mount manager extension that defines a drive letter over a Unix
// folder (what Wine's own configuration tool uses). `type` takes the
// platform's DRIVE_* values.
struct UnixDriveRequest {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDevice;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};
constexpr DWORD kDefineUnixDrive = CTL_CODE(0x6D /* 'm' */, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

std::string UnixName(const std::wstring &windowsPath) {
    using UnixNameFn = char *(CDECL *)(const wchar_t *);
    auto fn = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (fn == nullptr) return {};
    char *name = fn(windowsPath.c_str());
    if (name == nullptr) return {};
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

bool SendDefine(wchar_t letter, ULONG type, const std::string &unixFolder) {
    std::vector<unsigned char> buffer(sizeof(UnixDriveRequest) + unixFolder.size() + 1, 0);
    UnixDriveRequest request{};
    request.size = static_cast<ULONG>(buffer.size());
    request.type = type;
    request.letter = static_cast<WCHAR>(towlower(letter));
    request.mountPointOffset = unixFolder.empty() ? 0 : static_cast<USHORT>(sizeof request);
    std::memcpy(buffer.data(), &request, sizeof request);
    std::memcpy(buffer.data() + sizeof request, unixFolder.c_str(), unixFolder.size());
    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (manager == INVALID_HANDLE_VALUE) return false;
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(manager, kDefineUnixDrive, buffer.data(), static_cast<DWORD>(buffer.size()),
                                    nullptr, 0, &returned, nullptr);
    CloseHandle(manager);
    return ok != FALSE;
}

}  // namespace

std::wstring WineUncShare(const std::wstring &host, const std::wstring &share) {
    const char *prefix = std::getenv("WINEPREFIX");
    if (prefix == nullptr || GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr)
        return {};
    // Wine serves \\HOST\SHARE from this folder; \\?\unix reaches it by its Unix name.
    std::wstring dir = L"\\\\?\\unix" + std::wstring(prefix, prefix + std::strlen(prefix)) + L"/dosdevices/unc";
    for (const std::wstring &part : {std::wstring(), L"/" + host, L"/" + host + L"/" + share}) {
        const std::wstring path = dir + part;
        if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return L"\\\\" + host + L"\\" + share + L"\\";
}

RemoteDrive::RemoteDrive(wchar_t letter, const std::wstring &folder) : letter_(letter) {
    const std::string unixFolder = UnixName(folder);
    if (unixFolder.empty()) {
        error_ = "no Unix name for the folder (not Wine?)";
        return;
    }
    // A drive left over from an interrupted run is simply defined again.
    if (!SendDefine(letter_, DRIVE_REMOTE, unixFolder)) {
        error_ = "the mount manager refused the drive (error " + std::to_string(GetLastError()) + ")";
        return;
    }
    defined_ = true;
    if (GetDriveTypeW(root().c_str()) != DRIVE_REMOTE) error_ = "the drive is defined but not remote";
}

RemoteDrive::~RemoteDrive() {
    if (defined_) SendDefine(letter_, DRIVE_NO_ROOT_DIR, std::string());
}

}  // namespace qxtest
