#include "uiplugin/correction/page/picture_open.h"

#include <cstring>
#include <cwchar>

#include "uiplugin/settings/private_devmode.h"

namespace {

const wchar_t kPickedProperty[] = L"QX748.PickedPicture";
constexpr size_t kPathUnits = qx::kPreviewPathChars;  // the record's capacity, NUL included

bool PickedInPage(HWND page, const wchar_t *path) {
    if (page == nullptr) return false;
    const auto *picked = static_cast<const wchar_t *>(GetPropW(page, kPickedProperty));
    return picked != nullptr && std::wcsncmp(picked, path, kPathUnits) == 0;
}

// Only a drive letter's own root is asked about: GetDriveTypeW on a UNC
// root would itself go to the network.
qx::DriveType DriveTypeOf(wchar_t letter) {
    const wchar_t root[] = {letter, L':', L'\\', L'\0'};
    const UINT type = GetDriveTypeW(root);
    return type <= static_cast<UINT>(qx::DriveType::RamDisk) ? static_cast<qx::DriveType>(type)
                                                             : qx::DriveType::Unknown;
}

qx::StoredPictureAction StoredPictureDecision(HWND page, const wchar_t *path) {
    const qx::PicturePathKind kind = qx::ClassifyPicturePath(path, kPathUnits);
    const qx::DriveType drive = kind == qx::PicturePathKind::DrivePath ? DriveTypeOf(path[0]) : qx::DriveType::Unknown;
    // The page's pick matters only for a path on the network.
    const bool mayBePicked = kind == qx::PicturePathKind::Unc || drive == qx::DriveType::Remote;
    return qx::DecideStoredPicture(kind, drive, mayBePicked && PickedInPage(page, path));
}

}  // namespace

HANDLE OpenStoredPicture(HWND page, const wchar_t *path, bool *keepPath) {
    if (keepPath != nullptr) *keepPath = false;
    if (path == nullptr) return INVALID_HANDLE_VALUE;
    const qx::StoredPictureAction action = StoredPictureDecision(page, path);
    if (action != qx::StoredPictureAction::Open) {
        if (keepPath != nullptr) *keepPath = action == qx::StoredPictureAction::KeepUnopened;
        return INVALID_HANDLE_VALUE;
    }
    // A link as the last component is opened as itself, not followed (it
    // could point at a share); identification-level impersonation only, if
    // the name reaches a pipe server after all.
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT |
                                        SECURITY_IDENTIFICATION,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    // Consoles, serial ports, pipes and other devices are never read.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

void RememberPickedPicture(HWND page, const wchar_t *path) {
    if (page == nullptr || path == nullptr) return;
    auto *copy = static_cast<wchar_t *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kPathUnits * sizeof(wchar_t)));
    if (copy == nullptr) return;  // the picked picture then follows the stored-path rules
    std::wcsncpy(copy, path, kPathUnits - 1);
    ForgetPickedPicture(page);
    if (!SetPropW(page, kPickedProperty, copy)) HeapFree(GetProcessHeap(), 0, copy);
}

void ForgetPickedPicture(HWND page) {
    if (page == nullptr) return;
    if (void *old = RemovePropW(page, kPickedProperty)) HeapFree(GetProcessHeap(), 0, old);
}
