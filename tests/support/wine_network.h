#pragma once
// Network places under Wine, for tests that must see what a path on the
// network gets without a network: a UNC share that Wine serves from a folder
// of the prefix (dosdevices/unc/HOST/SHARE), and a drive letter that the
// platform reports as DRIVE_REMOTE, defined through Wine's mount manager.
// Windows only (the fixture runs under Wine).
#include <windows.h>

#include <string>

namespace qxtest {

// Makes \\host\share\ reachable and returns it with its final backslash;
// empty when this is not Wine or the folders cannot be made.
std::wstring WineUncShare(const std::wstring &host, const std::wstring &share);

// A drive letter of type DRIVE_REMOTE over an existing folder (a Windows
// path) for the life of the object; removed again afterwards. Use a letter
// no other test program takes: they share the prefix.
class RemoteDrive {
public:
    RemoteDrive(wchar_t letter, const std::wstring &folder);
    ~RemoteDrive();
    RemoteDrive(const RemoteDrive &) = delete;
    RemoteDrive &operator=(const RemoteDrive &) = delete;
    // Defined, and GetDriveTypeW says DRIVE_REMOTE; else why not.
    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }
    std::wstring root() const { return std::wstring{letter_, L':', L'\\'}; }

private:
    bool Define(const std::string &unixFolder);
    wchar_t letter_;
    bool defined_ = false;
    std::string error_;
};

}  // namespace qxtest
