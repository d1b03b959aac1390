#pragma once
// Which stored picture paths the preview may open. The path in the private
// record is outside input: the record travels inside device modes that
// documents carry from machine to machine, and the preview opens the path on
// every paint. Opening a network path would connect to the host it names
// and hand it the user's credentials, so a stored path is opened only when
// it is a full path on a local drive; a picture the user picked with
// "Select file" in the open page may come from the network too.
//
// Portable: the lexical rules and the decision. The Win32 side supplies the
// drive type (GetDriveTypeW, asked only for a drive letter's root) and, once
// the file is open, checks that the handle is a disk file.
// UTF-16 units as char16_t, or wchar_t where that is 16-bit.
#include <cstddef>
#include <cstdint>

namespace qx {

enum class PicturePathKind {
    Empty,
    DrivePath,        // "X:\..." or "X:/...": a full path on a drive letter
    Unc,              // "\\host\share\...", either slash: a network path
    DeviceNamespace,  // "\\?\...", "\\.\..." (either slash), "\??\...": device and object namespaces
    DosDevice,        // a drive path with a component CON, PRN, AUX, NUL, COMn, LPTn, CONIN$ or CONOUT$
    DriveRelative,    // "X:name": relative to that drive's current folder
    Relative,         // "name", "\name", "..\name": relative to the process's current folder or drive
};
const char *DescribePicturePathKind(PicturePathKind kind);

// The kind of `path`, read up to its first NUL or `maxUnits` units, whichever
// comes first (a stored path may lack its terminator). A null path is Empty.
PicturePathKind ClassifyPicturePath(const char16_t *path, size_t maxUnits);
PicturePathKind ClassifyPicturePath(const wchar_t *path, size_t maxUnits);

// The platform's drive types, with GetDriveTypeW's values.
enum class DriveType : uint32_t {
    Unknown = 0,
    NoRootDir = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6,
};

// What a paint does with the stored path.
enum class StoredPictureAction {
    Open,          // open it; the picture is used only if the handle is a disk file
    KeepUnopened,  // built-in picture, nothing opened; the path stays in the record
    Forget,        // built-in picture, nothing opened; the path is cleared
};

// `drive` matters only for a DrivePath (the type of its letter's root).
// `pickedInThisPage`: the path is the one the user picked with "Select
// file" in the page being painted. A path refused only because it lies on
// the network is kept (someone chose it, and it may well be reachable where
// the document is printed); every other refused path is forgotten, as a file
// that cannot be used is.
StoredPictureAction DecideStoredPicture(PicturePathKind kind, DriveType drive, bool pickedInThisPage);

}  // namespace qx
