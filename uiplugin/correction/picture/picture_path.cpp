#include "uiplugin/correction/picture/picture_path.h"

namespace qx {
namespace {

template <typename Unit>
bool IsSeparator(Unit u) {
    return u == Unit('\\') || u == Unit('/');
}

template <typename Unit>
bool IsAsciiLetter(Unit u) {
    return (u >= Unit('A') && u <= Unit('Z')) || (u >= Unit('a') && u <= Unit('z'));
}

template <typename Unit>
char32_t Upper(Unit u) {
    const char32_t c = static_cast<char32_t>(u);
    return c >= U'a' && c <= U'z' ? c - (U'a' - U'A') : c;
}

// The platform maps these names to devices in any folder and with any
// extension ("C:\pictures\nul.bmp" is the null device), after dropping
// trailing spaces. COM and LPT take a digit or a superscript 1, 2 or 3.
template <typename Unit>
bool IsDosDeviceName(const Unit *name, size_t length) {
    size_t n = 0;
    while (n < length && name[n] != Unit('.') && name[n] != Unit(':')) ++n;
    while (n > 0 && name[n - 1] == Unit(' ')) --n;
    const auto is = [&](const char *word) {
        size_t i = 0;
        for (; word[i] != 0; ++i)
            if (i >= n || Upper(name[i]) != static_cast<char32_t>(word[i])) return false;
        return i == n;
    };
    if (is("CON") || is("PRN") || is("AUX") || is("NUL") || is("CONIN$") || is("CONOUT$")) return true;
    if (n != 4) return false;
    const char32_t d = static_cast<char32_t>(name[3]);
    const bool digit = (d >= U'0' && d <= U'9') || d == U'\u00B9' || d == U'\u00B2' || d == U'\u00B3';
    const char32_t a = Upper(name[0]), b = Upper(name[1]), c = Upper(name[2]);
    return digit && ((a == U'C' && b == U'O' && c == U'M') || (a == U'L' && b == U'P' && c == U'T'));
}

template <typename Unit>
PicturePathKind Classify(const Unit *p, size_t maxUnits) {
    if (p == nullptr) return PicturePathKind::Empty;
    size_t n = 0;
    while (n < maxUnits && p[n] != Unit(0)) ++n;
    if (n == 0) return PicturePathKind::Empty;

    if (n >= 2 && IsSeparator(p[0]) && IsSeparator(p[1])) {
        // "\\.\x", "\\?\x" and the bare "\\." and "\\?" are the device
        // namespace for either slash; anything else after two slashes is a host.
        if (n >= 3 && (p[2] == Unit('.') || p[2] == Unit('?')) && (n == 3 || IsSeparator(p[3])))
            return PicturePathKind::DeviceNamespace;
        return PicturePathKind::Unc;
    }
    // The object manager's prefix, passed through by the platform unchanged
    // ("\??\UNC\host\share" reaches the network).
    if (n >= 4 && p[0] == Unit('\\') && p[1] == Unit('?') && p[2] == Unit('?') && p[3] == Unit('\\'))
        return PicturePathKind::DeviceNamespace;
    if (IsSeparator(p[0])) return PicturePathKind::Relative;  // the current drive's root
    if (n < 2 || !IsAsciiLetter(p[0]) || p[1] != Unit(':')) return PicturePathKind::Relative;
    if (n < 3 || !IsSeparator(p[2])) return PicturePathKind::DriveRelative;

    for (size_t start = 3; start < n;) {
        size_t end = start;
        while (end < n && !IsSeparator(p[end])) ++end;
        if (end > start && IsDosDeviceName(p + start, end - start)) return PicturePathKind::DosDevice;
        start = end + 1;
    }
    return PicturePathKind::DrivePath;
}

}  // namespace

const char *DescribePicturePathKind(PicturePathKind kind) {
    switch (kind) {
    case PicturePathKind::Empty: return "empty";
    case PicturePathKind::DrivePath: return "a full path on a drive";
    case PicturePathKind::Unc: return "a network path";
    case PicturePathKind::DeviceNamespace: return "a device or object namespace path";
    case PicturePathKind::DosDevice: return "a device name";
    case PicturePathKind::DriveRelative: return "relative to a drive's current folder";
    case PicturePathKind::Relative: return "a relative path";
    }
    return "unknown";
}

PicturePathKind ClassifyPicturePath(const char16_t *path, size_t maxUnits) { return Classify(path, maxUnits); }
PicturePathKind ClassifyPicturePath(const wchar_t *path, size_t maxUnits) { return Classify(path, maxUnits); }

StoredPictureAction DecideStoredPicture(PicturePathKind kind, DriveType drive, bool pickedInThisPage) {
    const StoredPictureAction remote = pickedInThisPage ? StoredPictureAction::Open : StoredPictureAction::KeepUnopened;
    switch (kind) {
    case PicturePathKind::Unc: return remote;
    case PicturePathKind::DrivePath:
        switch (drive) {
        case DriveType::Removable:
        case DriveType::Fixed:
        case DriveType::CdRom:
        case DriveType::RamDisk: return StoredPictureAction::Open;
        case DriveType::Remote: return remote;
        case DriveType::Unknown:
        case DriveType::NoRootDir: return StoredPictureAction::Forget;
        }
        return StoredPictureAction::Forget;  // a value the platform does not define
    default: return StoredPictureAction::Forget;
    }
}

}  // namespace qx
