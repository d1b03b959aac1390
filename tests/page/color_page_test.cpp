// The real Color correction page in a real property sheet, driven as a user
// drives it: sliders, buttons, file dialogs, leaving and applying.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/frame/plugin_library.h"
#include "tests/page/page_harness.h"
#include "tests/support/wine_network.h"
#include "uiplugin/settings/private_devmode.h"

#include <objbase.h>

namespace {

using qxpage::Answer;
using qxpage::PageSheet;

constexpr size_t kSettings = 12, kPath = 52;
constexpr UINT kChanged = PSM_CHANGED, kUnchanged = PSM_UNCHANGED;

std::wstring TempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"qx748-page-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

void WriteFileBytes(const std::wstring &path, const std::vector<unsigned char> &bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    DWORD done = 0;
    if (!bytes.empty()) WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    CloseHandle(f);
}

std::vector<unsigned char> ReadFileBytes(const std::wstring &path) {
    std::vector<unsigned char> bytes;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return bytes;
    unsigned char buffer[256];
    DWORD got = 0;
    while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    CloseHandle(f);
    return bytes;
}

void Put16(std::vector<unsigned char> &b, size_t at, uint32_t v) {
    b[at] = v & 0xFF;
    b[at + 1] = (v >> 8) & 0xFF;
}
void Put32(std::vector<unsigned char> &b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// A bitmap file of `bits` per pixel, 2 x 2, with 54 bytes of headers.
std::vector<unsigned char> Bitmap(int bits) {
    std::vector<unsigned char> b(54 + 16, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<uint32_t>(b.size()));
    Put32(b, 10, 54);
    Put32(b, 14, 40);
    Put32(b, 18, 2);
    Put32(b, 22, 2);
    Put16(b, 26, 1);
    Put16(b, 28, static_cast<uint32_t>(bits));
    return b;
}

std::vector<unsigned char> ColFile(int16_t brightness) {
    std::vector<unsigned char> b(44, 0);
    Put16(b, 0, 44);
    Put16(b, 2, 100);
    Put16(b, 4, static_cast<uint16_t>(brightness));
    Put16(b, 24, 5);
    Put16(b, 26, 10);
    Put16(b, 28, 5);
    return b;
}

std::wstring StoredPath(const unsigned char *record) {
    std::wstring path;
    for (size_t i = 0; i < 260; ++i) {
        wchar_t c = static_cast<wchar_t>(record[kPath + 2 * i] | record[kPath + 2 * i + 1] << 8);
        if (c == 0) break;
        path += c;
    }
    return path;
}

int16_t StoredField(const unsigned char *record, size_t offset) {
    return static_cast<int16_t>(record[kSettings + offset] | record[kSettings + offset + 1] << 8);
}

class ColorPage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(qxtest::PluginLibrary::Get().loaded());
        std::memset(record, 0, sizeof record);
        qx::WritePrivateDevModeDefaults(record);
        folder = TempFolder();
        PageSheet::seen.clear();
        PageSheet::answers.clear();
    }
    PageSheet &Open() {
        sheet = std::make_unique<PageSheet>(record);
        EXPECT_TRUE(sheet->ok());
        return *sheet;
    }
    int Position(int id) { return static_cast<int>(SendMessageW(sheet->item(id), TBM_GETPOS, 0, 0)); }
    std::wstring LastMessage() {
        if (PageSheet::seen.empty() || PageSheet::seen.back().texts.empty()) return L"(no message box)";
        return PageSheet::seen.back().texts.back();
    }
    // Runs `button` with its file dialog answered by `file`, then, when the
    // page shows a message, answers that too.
    void ClickWithFile(int button, const std::wstring &file) {
        PageSheet::answers.push_back({file});
        PageSheet::answers.push_back({});
        sheet->click(button);
        PageSheet::answers.clear();
    }

    unsigned char record[576];
    std::wstring folder;
    std::unique_ptr<PageSheet> sheet;
};

TEST_F(ColorPage, CreationWithDefaultsShowsReadoutsAndReportsNoChange) {
    PageSheet &s = Open();
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(std::vector<UINT>{kUnchanged}, s.changes);
    struct {
        int id;
        const wchar_t *text;
    } readouts[] = {{1015, L"0"}, {1016, L"0"},   {1017, L"0"},   {1018, L"0"}, {1019, L"0"}, {1020, L"0"},
                    {1021, L"0"}, {1025, L"150"}, {1026, L"1.0"}, {1027, L"5"}, {1031, L"100"}, {1032, L"0"}};
    for (const auto &r : readouts) EXPECT_EQ(r.text, s.text(r.id)) << "read-out " << r.id;
    EXPECT_EQ(10, Position(1023));
    for (int hidden : {1003, 1032, 1033, 1034}) EXPECT_FALSE(IsWindowVisible(s.item(hidden))) << hidden;
    EXPECT_TRUE(IsWindowVisible(s.item(1028)));
    // The up-down control drives the Order ID box.
    EXPECT_EQ(s.item(1032), reinterpret_cast<HWND>(SendMessageW(s.item(1033), UDM_GETBUDDY, 0, 0)));
}

TEST_F(ColorPage, ReadoutsFollowTheSlidersWithTheirConversions) {
    PageSheet &s = Open();
    struct {
        int slider, position, readout;
        const wchar_t *text;
    } cases[] = {
        {1004, -7, 1015, L"-7"},  {1010, 7, 1018, L"7"},     {1022, 0, 1025, L"25"},  {1022, 12, 1025, L"325"},
        {1023, 1, 1026, L"0.1"},  {1023, 25, 1026, L"2.5"},  {1023, 30, 1026, L"3.0"}, {1030, -10, 1031, L"90"},
        {1030, 10, 1031, L"110"}, {1024, 20, 1027, L"20"},   {1008, 4, 1019, L"4"},   {1004, 99, 1015, L"10"},
    };
    for (const auto &c : cases) {
        s.moveSlider(c.slider, c.position);
        EXPECT_EQ(c.text, s.text(c.readout)) << "slider " << c.slider << " at " << c.position;
    }
}

TEST_F(ColorPage, SliderAwayAndBackTellsChangedThenUnchanged) {
    PageSheet &s = Open();
    s.changes.clear();
    s.moveSlider(1005, 3);
    s.moveSlider(1005, 0);
    EXPECT_EQ((std::vector<UINT>{kChanged, kUnchanged}), s.changes);
    // The settings in the record move only when the page is left.
    EXPECT_EQ(0, StoredField(record, 2));
}

TEST_F(ColorPage, StoredValueOutsideASliderReportsAChangeAtOnce) {
    record[kSettings] = 40;  // brightness beyond +10
    PageSheet &s = Open();
    EXPECT_EQ(10, Position(1004));
    EXPECT_EQ(std::vector<UINT>{kChanged}, s.changes);
}

TEST_F(ColorPage, UnsharpMaskRepaintsWithoutTouchingTheApplyState) {
    PageSheet &s = Open();
    s.changes.clear();
    UpdateWindow(s.page());
    SendMessageW(s.item(1028), BM_CLICK, 0, 0);  // no pump: the paint would take the update region
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(s.page(), 1028));
    EXPECT_TRUE(s.changes.empty());
    RECT dirty{};
    ASSERT_TRUE(GetUpdateRect(s.page(), &dirty, FALSE));
    EXPECT_LE(dirty.left, 5);
    EXPECT_LE(dirty.top, 5);
    EXPECT_GE(dirty.right, 197);
    EXPECT_GE(dirty.bottom, 197);
}

TEST_F(ColorPage, SaveWritesTheControlsAsA44ByteFile) {
    PageSheet &s = Open();
    const std::wstring file = folder + L"defaults";
    DeleteFileW((file + L".COL").c_str());
    ClickWithFile(1012, file);
    ASSERT_EQ(1u, PageSheet::seen.size());
    EXPECT_TRUE(PageSheet::seen[0].isFileDialog);
    EXPECT_EQ((std::vector<std::wstring>{L"Color correction data file", L"All"}), PageSheet::seen[0].filters);
    // The default extension was added.
    std::vector<unsigned char> expected(44, 0);
    Put16(expected, 0, 44);
    Put16(expected, 2, 100);
    Put16(expected, 24, 5);
    Put16(expected, 26, 10);
    Put16(expected, 28, 5);
    EXPECT_EQ(expected, ReadFileBytes(file + L".COL"));

    // Saving over it asks first; with a slider moved the file follows the controls.
    s.moveSlider(1004, -3);
    PageSheet::seen.clear();
    PageSheet::answers.push_back({file + L".COL"});
    PageSheet::answers.push_back({L"", IDYES});
    s.click(1012);
    ASSERT_EQ(2u, PageSheet::seen.size()) << "no overwrite prompt";
    EXPECT_FALSE(PageSheet::seen[1].isFileDialog);
    Put16(expected, 4, static_cast<uint16_t>(-3));
    EXPECT_EQ(expected, ReadFileBytes(file + L".COL"));
}

TEST_F(ColorPage, LoadPutsTheFileIntoTheControlsOnly) {
    PageSheet &s = Open();
    const std::wstring file = folder + L"bright.col";
    WriteFileBytes(file, ColFile(40));
    s.changes.clear();
    ClickWithFile(1013, file);
    ASSERT_GE(PageSheet::seen.size(), 1u);
    EXPECT_EQ((std::vector<std::wstring>{L"Color compensation file.", L"ALL"}), PageSheet::seen[0].filters);
    EXPECT_TRUE(PageSheet::seen[0].readOnlyChecked);
    EXPECT_EQ(1u, PageSheet::seen.size()) << "unexpected message: " << LastMessage();
    EXPECT_EQ(10, Position(1004));
    EXPECT_EQ(L"10", s.text(1015));
    EXPECT_EQ(std::vector<UINT>{kChanged}, s.changes);
    EXPECT_EQ(0, StoredField(record, 0));
}

TEST_F(ColorPage, LoadRefusesForeignAndShortFiles) {
    PageSheet &s = Open();
    s.moveSlider(1004, 2);
    std::vector<unsigned char> wrong = ColFile(5);
    Put16(wrong, 2, 101);
    std::vector<unsigned char> shortFile = ColFile(5);
    shortFile.resize(43);
    for (const auto &bytes : {wrong, shortFile}) {
        const std::wstring file = folder + L"bad.col";
        WriteFileBytes(file, bytes);
        PageSheet::seen.clear();
        ClickWithFile(1013, file);
        ASSERT_EQ(2u, PageSheet::seen.size()) << bytes.size();
        EXPECT_EQ(L"This is not a color correction data file.", LastMessage());
        EXPECT_EQ(nullptr, PageSheet::seen[1].owner);
        EXPECT_EQ(L"Error", PageSheet::seen[1].caption);
        EXPECT_EQ(2, Position(1004));
    }
}

TEST_F(ColorPage, SelectFileTakesOnly24BitBitmaps) {
    Open();
    const std::wstring good = folder + L"good.bmp";
    WriteFileBytes(good, Bitmap(24));
    ClickWithFile(1011, good);
    ASSERT_GE(PageSheet::seen.size(), 1u);
    EXPECT_EQ((std::vector<std::wstring>{L"24-bit true color bitmap image file", L"All"}), PageSheet::seen[0].filters);
    EXPECT_EQ(1u, PageSheet::seen.size()) << "unexpected message: " << LastMessage();
    EXPECT_EQ(good, StoredPath(record));

    std::vector<unsigned char> shortHeader = Bitmap(24);
    Put32(shortHeader, 10, 20);  // the header area ends before biBitCount
    std::vector<unsigned char> beyond = Bitmap(24);
    Put32(beyond, 10, 5000);
    std::vector<unsigned char> notBm = Bitmap(24);
    notBm[0] = 'X';
    const struct {
        const wchar_t *name;
        std::vector<unsigned char> bytes;
        const wchar_t *message;
    } refused[] = {
        {L"eight.bmp", Bitmap(8), L"Select a 24-bit true color bitmap image file."},
        {L"short-header.bmp", shortHeader, L"Select a 24-bit true color bitmap image file."},
        {L"offset-beyond.bmp", beyond, L"Select a 24-bit true color bitmap image file."},
        {L"not-bm.bmp", notBm, L"This is not a bitmap image file."},
        {L"tiny.bmp", {'B', 'M', 1, 2, 3}, L"This is not a bitmap image file."},
    };
    for (const auto &r : refused) {
        SCOPED_TRACE(r.name);
        WriteFileBytes(folder + r.name, r.bytes);
        PageSheet::seen.clear();
        ClickWithFile(1011, folder + r.name);
        ASSERT_EQ(2u, PageSheet::seen.size());
        EXPECT_EQ(r.message, LastMessage());
        EXPECT_EQ(good, StoredPath(record));
    }

    // A file the page cannot open although it exists.
    HANDLE locked = CreateFileW(good.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, locked);
    PageSheet::seen.clear();
    ClickWithFile(1011, good);
    CloseHandle(locked);
    ASSERT_EQ(2u, PageSheet::seen.size());
    EXPECT_EQ(L"Could not open file.", LastMessage());
}

TEST_F(ColorPage, NetworkPathsFromTheRecordStayUnopenedAndKeptAPickedOneIsOpened) {
    // A 24-bit file of width 0: "Select file" takes it, and the preview forgets
    // it the moment it opens it. So a kept path after a paint was not opened.
    std::vector<unsigned char> zeroWidth = Bitmap(24);
    Put32(zeroWidth, 18, 0);
    const std::wstring share = qxtest::WineUncShare(L"qxpage", L"pictures");
    ASSERT_FALSE(share.empty());
    const std::wstring remoteFolder = folder + L"remote\\";
    CreateDirectoryW(remoteFolder.c_str(), nullptr);
    qxtest::RemoteDrive drive(L'S', remoteFolder);
    ASSERT_TRUE(drive.ok()) << drive.error();
    WriteFileBytes(folder + L"zero.bmp", zeroWidth);
    WriteFileBytes(share + L"zero.bmp", zeroWidth);
    WriteFileBytes(remoteFolder + L"zero.bmp", zeroWidth);

    const struct {
        const char *what;
        std::wstring path;
        bool network;
        bool pick;  // again through "Select file"
    } cases[] = {
        {"local drive", folder + L"zero.bmp", false, false},
        {"UNC path", share + L"zero.bmp", true, false},
        {"remote drive", drive.root() + L"zero.bmp", true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(record + kPath, 0, 520);
        std::memcpy(record + kPath, c.path.c_str(), (c.path.size() + 1) * sizeof(wchar_t));
        PageSheet &s = Open();
        InvalidateRect(s.page(), nullptr, FALSE);
        UpdateWindow(s.page());
        EXPECT_EQ(c.network ? c.path : std::wstring(), StoredPath(record)) << "after the first paint";
        if (c.pick) {
            PageSheet::seen.clear();
            ClickWithFile(1011, c.path);
            EXPECT_EQ(1u, PageSheet::seen.size()) << "unexpected message: " << LastMessage();
            UpdateWindow(s.page());
            EXPECT_EQ(std::wstring(), StoredPath(record)) << "the picked picture was opened";
        }
        sheet.reset();
    }
    DeleteFileW((share + L"zero.bmp").c_str());
    DeleteFileW((remoteFolder + L"zero.bmp").c_str());
}

TEST_F(ColorPage, CancelledDialogsChangeNothing) {
    PageSheet &s = Open();
    const std::vector<unsigned char> before(record, record + 576);
    for (int button : {1011, 1012, 1013}) {
        PageSheet::seen.clear();
        PageSheet::answers.push_back({L""});
        s.click(button);
        EXPECT_EQ(1u, PageSheet::seen.size()) << button;
    }
    EXPECT_EQ(before, std::vector<unsigned char>(record, record + 576));
}

// The file dialogs move the process's current directory to the folder they
// browse; the host that loaded the page must find its own again afterwards.
TEST_F(ColorPage, EveryFileDialogLeavesTheWorkingFolderAsItWas) {
    Open();
    wchar_t original[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, original));
    // The dialogs use COM; the thread's own state (here none) stays as it was.
    const auto Apartment = [] {
        APTTYPE type = APTTYPE_CURRENT;
        APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
        const HRESULT hr = CoGetApartmentType(&type, &qualifier);
        return FAILED(hr) ? static_cast<long>(hr) : static_cast<long>(type);
    };
    const auto Narrow = [](const wchar_t *text) { return std::string(text, text + wcslen(text)); };
    const long apartmentBefore = Apartment();
    const std::wstring start = folder + L"start", other = folder + L"elsewhere\\";
    CreateDirectoryW(start.c_str(), nullptr);
    CreateDirectoryW(other.c_str(), nullptr);
    WriteFileBytes(other + L"pick.bmp", Bitmap(24));
    WriteFileBytes(other + L"load.col", ColFile(4));
    DeleteFileW((other + L"saved.COL").c_str());
    const struct {
        int button;
        std::wstring file;  // empty: the dialog is cancelled
        const char *what;
    } rows[] = {
        {1011, other + L"pick.bmp", "picture chosen"}, {1011, L"", "picture cancelled"},
        {1012, other + L"saved", "settings saved"},    {1012, L"", "save cancelled"},
        {1013, other + L"load.col", "settings loaded"}, {1013, L"", "load cancelled"},
    };
    for (const auto &row : rows) {
        ASSERT_TRUE(SetCurrentDirectoryW(start.c_str()));
        PageSheet::seen.clear();
        ClickWithFile(row.button, row.file);
        ASSERT_FALSE(PageSheet::seen.empty()) << row.what;
        EXPECT_TRUE(PageSheet::seen[0].isFileDialog) << row.what;
        wchar_t now[MAX_PATH] = L"";
        GetCurrentDirectoryW(MAX_PATH, now);
        EXPECT_EQ(0, _wcsicmp(start.c_str(), now)) << row.what << ": the current directory is now " << Narrow(now);
        EXPECT_EQ(apartmentBefore, Apartment()) << row.what << ": the thread's COM state changed";
    }
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((other + L"saved.COL").c_str())) << "the save went elsewhere";
    EXPECT_EQ(4, Position(1004)) << "the load did not happen";
    SetCurrentDirectoryW(original);
}

TEST_F(ColorPage, DefaultSettingsClearThePathAtOnce) {
    const wchar_t stored[] = L"C:\\pictures\\gone.bmp";
    std::memcpy(record + kPath, stored, sizeof stored);
    record[kSettings] = 3;
    PageSheet &s = Open();
    EXPECT_EQ(3, Position(1004));
    SetDlgItemTextW(s.page(), 1032, L"12");
    s.changes.clear();
    s.click(1014);
    EXPECT_EQ(std::vector<unsigned char>(520, 0), std::vector<unsigned char>(record + kPath, record + kPath + 520));
    EXPECT_EQ(0, Position(1004));
    EXPECT_EQ(5, Position(1022));
    EXPECT_EQ(std::vector<UINT>{kChanged}, s.changes);  // judged against the stored brightness 3
    EXPECT_EQ(L"12", s.text(1032));
}

TEST_F(ColorPage, LeavingStoresTheControlsAndReturningRestoresTheAppliedSettings) {
    record[kSettings + 14] = 0x21;  // reserved: never written by the controls
    PageSheet &s = Open();
    s.moveSlider(1007, 6);  // saturation
    s.showOtherPage();
    EXPECT_EQ(6, StoredField(record, 4));
    EXPECT_EQ(0x21, record[kSettings + 14]);

    s.showColorPage();
    // The record is back at the last applied settings; the controls keep the edit.
    EXPECT_EQ(0, StoredField(record, 4));
    EXPECT_EQ(6, Position(1007));
    s.changes.clear();
    s.moveSlider(1004, 1);
    EXPECT_EQ(std::vector<UINT>{kChanged}, s.changes);
    s.moveSlider(1004, 0);
    EXPECT_EQ((std::vector<UINT>{kChanged, kChanged}), s.changes) << "saturation still differs from the applied 0";
}

TEST_F(ColorPage, ApplyKeepsTheSettingsAndReportsOkForThePage) {
    PageSheet &s = Open();
    s.moveSlider(1009, -4);  // yellowBlue
    s.apply();
    ASSERT_EQ(1u, s.setResults.size());
    EXPECT_EQ(reinterpret_cast<LPARAM>(s.pageHandle()), s.setResults[0].page);
    EXPECT_EQ(CPSUI_OK, s.setResults[0].result);
    EXPECT_EQ(-4, StoredField(record, 10));

    // Applied now: leaving and returning keeps the value in the record.
    s.showOtherPage();
    s.showColorPage();
    EXPECT_EQ(-4, StoredField(record, 10));
    s.changes.clear();
    s.moveSlider(1009, -4);
    EXPECT_EQ(std::vector<UINT>{kUnchanged}, s.changes);
}

TEST_F(ColorPage, OrderIdIsReadAs16BitsAndRewritten) {
    PageSheet &s = Open();
    SetDlgItemTextW(s.page(), 1032, L"70000");  // 0x11170 cut to 16 bits
    s.showOtherPage();
    EXPECT_EQ(0x1170, StoredField(record, 32));
    EXPECT_EQ(L"70000", s.text(1032)) << "leaving rewrites nothing";
    s.showColorPage();
    SetDlgItemTextW(s.page(), 1032, L"abc");
    s.moveSlider(1004, 1);  // reads the controls
    EXPECT_EQ(L"0", s.text(1032));
}

}  // namespace
