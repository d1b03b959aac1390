// Which stored picture paths the preview may open: the lexical kinds and
// the decision with the drive type handed in (so a remote drive is decided
// here natively as well as under Wine's faked one).
#include "uiplugin/correction/picture/picture_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using qx::DriveType;
using qx::PicturePathKind;
using qx::StoredPictureAction;
using Kind = PicturePathKind;

struct PathCase {
    std::u16string path;
    Kind kind;
};

const PathCase kPaths[] = {
    {u"", Kind::Empty},
    {u"C:\\pictures\\sea.bmp", Kind::DrivePath},
    {u"c:/pictures/sea.bmp", Kind::DrivePath},
    {u"Z:\\", Kind::DrivePath},
    {u"C:\\pictures\\CONSOLE.bmp", Kind::DrivePath},  // only the exact names are devices
    {u"C:\\pictures\\COM10", Kind::DrivePath},
    {u"C:\\pictures\\COM", Kind::DrivePath},
    {u"C:\\pictures\\NULL.bmp", Kind::DrivePath},
    {u"C:\\pictures\\LPTx", Kind::DrivePath},
    {u"C:\\pictures\\xcon", Kind::DrivePath},
    {u"C:\\pictures\\sea.bmp:stream", Kind::DrivePath},  // a stream of a local file
    {u"\\\\host\\share\\x.bmp", Kind::Unc},
    {u"//host/share/x.bmp", Kind::Unc},
    {u"\\/host/share/x.bmp", Kind::Unc},
    {u"\\\\host", Kind::Unc},
    {u"\\\\.host\\share\\x.bmp", Kind::Unc},  // a host whose name starts with a dot
    {u"\\\\?\\C:\\pictures\\sea.bmp", Kind::DeviceNamespace},
    {u"\\\\?\\UNC\\host\\share\\x.bmp", Kind::DeviceNamespace},
    {u"\\\\.\\pipe\\x", Kind::DeviceNamespace},
    {u"\\\\.\\C:\\pictures\\sea.bmp", Kind::DeviceNamespace},
    {u"//./pipe/x", Kind::DeviceNamespace},
    {u"//?/C:/pictures/sea.bmp", Kind::DeviceNamespace},
    {u"\\\\.", Kind::DeviceNamespace},
    {u"\\\\?", Kind::DeviceNamespace},
    {u"\\??\\C:\\pictures\\sea.bmp", Kind::DeviceNamespace},
    {u"\\??\\UNC\\host\\share\\x.bmp", Kind::DeviceNamespace},
    {u"C:\\pictures\\NUL", Kind::DosDevice},
    {u"C:\\pictures\\nul.bmp", Kind::DosDevice},
    {u"C:\\COM1", Kind::DosDevice},
    {u"C:\\pictures\\lpt9.txt", Kind::DosDevice},
    {u"C:\\pictures\\COM0", Kind::DosDevice},
    {u"C:\\pictures\\com\u00B9", Kind::DosDevice},
    {u"C:\\pictures\\CON  .bmp", Kind::DosDevice},  // trailing spaces are dropped
    {u"C:\\pictures\\conout$", Kind::DosDevice},
    {u"C:\\pictures\\CONIN$.bmp", Kind::DosDevice},
    {u"C:\\pictures\\AUX:x", Kind::DosDevice},
    {u"C:/prn/sea.bmp", Kind::DosDevice},  // in a folder too
    {u"C:x.bmp", Kind::DriveRelative},
    {u"C:", Kind::DriveRelative},
    {u"C:..\\x.bmp", Kind::DriveRelative},
    {u"x.bmp", Kind::Relative},
    {u"..\\x.bmp", Kind::Relative},
    {u"\\x.bmp", Kind::Relative},
    {u"/x.bmp", Kind::Relative},
    {u"/\?\?/C:/x.bmp", Kind::Relative},  // not the object prefix, but the current drive's root
    {u"CON", Kind::Relative},
    {u"COM1", Kind::Relative},
    {u"NUL", Kind::Relative},
    {u"\u00C4:\\x.bmp", Kind::Relative},  // no drive letter outside A to Z
    {u"1:\\x.bmp", Kind::Relative},
    {u":\\x.bmp", Kind::Relative},
};

TEST(PicturePath, KindsForBothUnitTypes) {
    for (const PathCase &c : kPaths) {
        const std::string shown(c.path.begin(), c.path.end());
        EXPECT_EQ(c.kind, qx::ClassifyPicturePath(c.path.c_str(), 260))
            << shown << ": " << qx::DescribePicturePathKind(qx::ClassifyPicturePath(c.path.c_str(), 260));
        const std::wstring wide(c.path.begin(), c.path.end());
        EXPECT_EQ(c.kind, qx::ClassifyPicturePath(wide.c_str(), 260)) << shown << " as wchar_t";
    }
    EXPECT_EQ(Kind::Empty, qx::ClassifyPicturePath(static_cast<const char16_t *>(nullptr), 260));
}

TEST(PicturePath, ReadsNoFurtherThanItsLimit) {
    // Exactly as many units as the limit, no terminator: the sanitizers see
    // any read beyond. What lies past the limit does not count.
    const std::u16string full = u"C:\\pictures\\sea.bmp";
    const struct {
        size_t limit;
        Kind kind;
    } cases[] = {{0, Kind::Empty}, {1, Kind::Relative}, {2, Kind::DriveRelative}, {3, Kind::DrivePath},
                 {full.size(), Kind::DrivePath}};
    for (const auto &c : cases) {
        std::vector<char16_t> exact(full.begin(), full.begin() + static_cast<long>(c.limit));
        exact.shrink_to_fit();
        EXPECT_EQ(c.kind, qx::ClassifyPicturePath(exact.empty() ? u"" : exact.data(), c.limit)) << c.limit;
    }
    // A device name cut by the limit is still one; one the limit cuts into another is not.
    EXPECT_EQ(Kind::DosDevice, qx::ClassifyPicturePath(u"C:\\NUL.bmp", 6));
    EXPECT_EQ(Kind::DrivePath, qx::ClassifyPicturePath(u"C:\\NULL", 5));
}

TEST(PicturePath, DecisionByKindDriveAndPick) {
    using A = StoredPictureAction;
    const struct {
        Kind kind;
        DriveType drive;
        A stored;  // a path from the record
        A picked;  // the path the user picked in this page
    } cases[] = {
        {Kind::DrivePath, DriveType::Fixed, A::Open, A::Open},
        {Kind::DrivePath, DriveType::Removable, A::Open, A::Open},
        {Kind::DrivePath, DriveType::CdRom, A::Open, A::Open},
        {Kind::DrivePath, DriveType::RamDisk, A::Open, A::Open},
        {Kind::DrivePath, DriveType::Remote, A::KeepUnopened, A::Open},
        {Kind::DrivePath, DriveType::Unknown, A::Forget, A::Forget},
        {Kind::DrivePath, DriveType::NoRootDir, A::Forget, A::Forget},
        {Kind::DrivePath, static_cast<DriveType>(7), A::Forget, A::Forget},
        {Kind::Unc, DriveType::Fixed, A::KeepUnopened, A::Open},
        {Kind::Unc, DriveType::Unknown, A::KeepUnopened, A::Open},
        // The drive type is of no account for the other kinds.
        {Kind::DeviceNamespace, DriveType::Fixed, A::Forget, A::Forget},
        {Kind::DosDevice, DriveType::Fixed, A::Forget, A::Forget},
        {Kind::DriveRelative, DriveType::Fixed, A::Forget, A::Forget},
        {Kind::Relative, DriveType::Fixed, A::Forget, A::Forget},
        {Kind::Empty, DriveType::Fixed, A::Forget, A::Forget},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(qx::DescribePicturePathKind(c.kind)) + ", drive type " +
                     std::to_string(static_cast<unsigned>(c.drive)));
        EXPECT_EQ(c.stored, qx::DecideStoredPicture(c.kind, c.drive, false));
        EXPECT_EQ(c.picked, qx::DecideStoredPicture(c.kind, c.drive, true));
    }
}

}  // namespace
