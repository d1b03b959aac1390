// QX748SP.dll's VendorSetup against Wine's own spooler and PostScript
// driver: real printers on a PPD of ours, so the paper list, its names and
// its sizes are the test's. Everything is read back in the same process:
// the driver resets the stored paper once per process when it first loads.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/wine_printer.h"

#ifndef QX748SP_PATH
#error "QX748SP_PATH names the built DLL"
#endif

namespace {

using VendorSetupFn = void(WINAPI*)(HWND, HINSTANCE, LPSTR, UINT);
using EntryFn = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

const wchar_t kDriver[] = L"QX748SP Test Driver";

struct PpdPaper {
    const char* keyword;
    const char* display;  // becomes the DC_PAPERNAMES text
    int widthPt, heightPt;
};

// Letter and Legal share a width; A4 and A4Small share both dimensions.
const PpdPaper kPapers[] = {
    {"Letter", "QX Letter", 612, 792},          {"A5", "QX Half Sheet", 420, 595},
    {"A4", "QX Photo A4", 595, 842},            {"Legal", "QX Legal", 612, 1008},
    {"A4Small", "QX Photo A4 Small", 595, 842},
};

std::string PpdText() {
    std::string s;
    auto line = [&s](const std::string& t) { s += t + "\n"; };
    for (const char* l : {"*PPD-Adobe: \"4.3\"", "*FormatVersion: \"4.3\"", "*FileVersion: \"1.0\"",
                          "*LanguageVersion: English", "*LanguageEncoding: ISOLatin1",
                          "*PCFileName: \"QXSETUP.PPD\"", "*Manufacturer: \"QX Test\"",
                          "*Product: \"(QX Setup Test)\"", "*ModelName: \"QX Setup Test\"",
                          "*ShortNickName: \"QX Setup Test\"", "*NickName: \"QX Setup Test\"",
                          "*PSVersion: \"(3010.000) 0\"", "*LanguageLevel: \"3\"", "*ColorDevice: True",
                          "*DefaultColorSpace: RGB", "*FileSystem: False", "*LandscapeOrientation: Plus90",
                          "*TTRasterizer: Type42"})
        line(l);
    char buf[256];
    for (const char* option : {"PageSize", "PageRegion"}) {
        line(std::string("*OpenUI *") + option + ": PickOne");
        line(std::string("*OrderDependency: 10 AnySetup *") + option);
        line(std::string("*Default") + option + ": Letter");
        for (const PpdPaper& p : kPapers) {
            std::snprintf(buf, sizeof buf, "*%s %s/%s: \"<</PageSize[%d %d]/ImagingBBox null>>setpagedevice\"",
                          option, p.keyword, p.display, p.widthPt, p.heightPt);
            line(buf);
        }
        line(std::string("*CloseUI: *") + option);
    }
    line("*DefaultImageableArea: Letter");
    for (const PpdPaper& p : kPapers) {
        std::snprintf(buf, sizeof buf, "*ImageableArea %s/%s: \"18 18 %d %d\"", p.keyword, p.display,
                      p.widthPt - 18, p.heightPt - 18);
        line(buf);
    }
    line("*DefaultPaperDimension: Letter");
    for (const PpdPaper& p : kPapers) {
        std::snprintf(buf, sizeof buf, "*PaperDimension %s/%s: \"%d %d\"", p.keyword, p.display, p.widthPt,
                      p.heightPt);
        line(buf);
    }
    for (const char* l : {"*OpenUI *Resolution/Resolution: PickOne", "*OrderDependency: 10 AnySetup *Resolution",
                          "*DefaultResolution: 300dpi",
                          "*Resolution 300dpi/300 dpi: \"<</HWResolution[300 300]>>setpagedevice\"",
                          "*CloseUI: *Resolution", "*DefaultFont: Courier",
                          "*Font Courier: Standard \"(002.004S)\" Standard ROM",
                          "*Font Helvetica: Standard \"(001.006S)\" Standard ROM",
                          "*Font Times-Roman: Standard \"(001.007S)\" Standard ROM"})
        line(l);
    return s;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A printer's level-2 record read with the ANSI call.
struct Level2 {
    std::vector<BYTE> buffer;
    PRINTER_INFO_2A* info() { return reinterpret_cast<PRINTER_INFO_2A*>(buffer.data()); }
    DEVMODEA* devMode() { return info()->pDevMode; }
};

class OpenedPrinter {
public:
    explicit OpenedPrinter(const std::string& name) {
        PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        std::string n = name;
        if (!OpenPrinterA(&n[0], &handle, &defaults)) handle = nullptr;
    }
    ~OpenedPrinter() {
        if (handle) ClosePrinter(handle);
    }
    OpenedPrinter(const OpenedPrinter&) = delete;
    OpenedPrinter& operator=(const OpenedPrinter&) = delete;
    HANDLE handle = nullptr;
};

bool ReadLevel2(const std::string& name, Level2* out) {
    OpenedPrinter p(name);
    if (!p.handle) return false;
    DWORD need = 0;
    GetPrinterA(p.handle, 2, nullptr, 0, &need);
    out->buffer.assign(need, 0);
    return need != 0 && GetPrinterA(p.handle, 2, out->buffer.data(), need, &need);
}

// The stored device mode at level 2, 8 or 9, as DEVMODEA.
bool ReadDevMode(const std::string& name, DWORD level, DEVMODEA* out) {
    OpenedPrinter p(name);
    if (!p.handle) return false;
    DWORD need = 0;
    GetPrinterA(p.handle, level, nullptr, 0, &need);
    std::vector<BYTE> buf(need, 0);
    if (need == 0 || !GetPrinterA(p.handle, level, buf.data(), need, &need)) return false;
    const DEVMODEA* dm = level == 2   ? reinterpret_cast<PRINTER_INFO_2A*>(buf.data())->pDevMode
                         : level == 8 ? reinterpret_cast<PRINTER_INFO_8A*>(buf.data())->pDevMode
                                      : reinterpret_cast<PRINTER_INFO_9A*>(buf.data())->pDevMode;
    if (dm == nullptr) return false;
    std::memcpy(out, dm, sizeof *out);
    return true;
}

std::string Text(LPCSTR s) { return s ? s : "(null)"; }

class VendorSetupUnderWine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        driverError = qxtest::InstallPpdDriver(kDriver, PpdText());
        std::wstring path = L"Z:" + Wide(QX748SP_PATH);
        for (auto& c : path)
            if (c == L'/') c = L'\\';
        module = LoadLibraryW(path.c_str());
        if (module) {
            vendorSetup = reinterpret_cast<VendorSetupFn>(
                reinterpret_cast<void*>(GetProcAddress(module, "VendorSetup")));
        }
    }
    static void TearDownTestSuite() {
        if (module) FreeLibrary(module);
        qxtest::RemoveDriver(kDriver);
    }

    // Adds a fresh printer (one left over from an earlier run is deleted
    // first), lets the driver do its per-process start-up, then writes the
    // record as `edit` leaves it.
    void AddPrinter(const std::string& name, const std::function<void(PRINTER_INFO_2A&, DEVMODEA&)>& edit) {
        ASSERT_EQ(driverError, 0u);
        ASSERT_NE(vendorSetup, nullptr) << "QX748SP.dll or its VendorSetup export not found";
        qxtest::DeleteTestPrinter(Wide(name));
        ASSERT_EQ(qxtest::AddTestPrinter(Wide(name), kDriver), 0u) << name;
        added.push_back(name);
        ASSERT_EQ(DeviceCapabilitiesA(name.c_str(), "FILE:", DC_PAPERS, nullptr, nullptr),
                  static_cast<int>(sizeof kPapers / sizeof kPapers[0]));

        Level2 record;
        ASSERT_TRUE(ReadLevel2(name, &record));
        ASSERT_NE(record.devMode(), nullptr);
        edit(*record.info(), *record.devMode());
        OpenedPrinter p(name);
        ASSERT_TRUE(SetPrinterA(p.handle, 2, record.buffer.data(), 0));
        // Wine stores the fields raw: check what the hook will find.
        DEVMODEA stored;
        ASSERT_TRUE(ReadDevMode(name, 2, &stored));
        ASSERT_EQ(stored.dmFields, record.devMode()->dmFields);
        ASSERT_EQ(stored.dmPaperSize, record.devMode()->dmPaperSize);
        // Wine keeps dmFormName only while DM_FORMNAME is set.
        if (stored.dmFields & DM_FORMNAME) {
            ASSERT_EQ(std::memcmp(stored.dmFormName, record.devMode()->dmFormName, CCHFORMNAME), 0);
        }
    }

    void TearDown() override {
        for (const auto& name : added) qxtest::DeleteTestPrinter(Wide(name));
    }

    void Call(const std::string& cmdLine) {
        std::string copy = cmdLine;
        vendorSetup(nullptr, GetModuleHandleW(nullptr), &copy[0], SW_SHOWNORMAL);
    }

    // The stored device mode at levels 2, 8 and 9 (Wine keeps one).
    void ExpectStored(const std::string& name, short paper, DWORD fields) {
        for (DWORD level : {2u, 8u, 9u}) {
            DEVMODEA dm;
            ASSERT_TRUE(ReadDevMode(name, level, &dm)) << "level " << level;
            EXPECT_EQ(dm.dmPaperSize, paper) << "level " << level;
            EXPECT_EQ(dm.dmFields, fields) << "level " << level;
        }
    }

    std::string PrintProcessor(const std::string& name) {
        Level2 record;
        if (!ReadLevel2(name, &record)) return "(unreadable)";
        return Text(record.info()->pPrintProcessor);
    }

    static DWORD driverError;
    static HMODULE module;
    static VendorSetupFn vendorSetup;
    std::vector<std::string> added;
};

DWORD VendorSetupUnderWine::driverError = 0;
HMODULE VendorSetupUnderWine::module = nullptr;
VendorSetupFn VendorSetupUnderWine::vendorSetup = nullptr;

void SetFormName(DEVMODEA& dm, const char* name) {
    std::memset(dm.dmFormName, 0, sizeof dm.dmFormName);
    std::memcpy(dm.dmFormName, name, std::strlen(name));
}

constexpr DWORD kKeep = DM_ORIENTATION | DM_COPIES | DM_COLOR;

TEST_F(VendorSetupUnderWine, TheDriverReportsTheTestPaperList) {
    AddPrinter("QxSetupList", [](PRINTER_INFO_2A&, DEVMODEA&) {});
    WORD numbers[5] = {};
    POINT sizes[5] = {};
    char names[5][64] = {};
    ASSERT_EQ(DeviceCapabilitiesA("QxSetupList", "FILE:", DC_PAPERS, reinterpret_cast<LPSTR>(numbers), nullptr), 5);
    ASSERT_EQ(DeviceCapabilitiesA("QxSetupList", "FILE:", DC_PAPERSIZE, reinterpret_cast<LPSTR>(sizes), nullptr), 5);
    ASSERT_EQ(DeviceCapabilitiesA("QxSetupList", "FILE:", DC_PAPERNAMES, names[0], nullptr), 5);
    const WORD expected[] = {DMPAPER_LETTER, DMPAPER_A5, DMPAPER_A4, DMPAPER_LEGAL, DMPAPER_A4SMALL};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(numbers[i], expected[i]) << i;
        EXPECT_STREQ(names[i], kPapers[i].display) << i;
    }
    // The cases below rely on these coincidences of size.
    EXPECT_EQ(sizes[0].x, sizes[3].x);
    EXPECT_NE(sizes[0].y, sizes[3].y);
    EXPECT_EQ(sizes[2].x, sizes[4].x);
    EXPECT_EQ(sizes[2].y, sizes[4].y);
}

TEST_F(VendorSetupUnderWine, FormNameBecomesThePaperNumber) {
    AddPrinter("QxSetupForm", [](PRINTER_INFO_2A&, DEVMODEA& dm) {
        dm.dmFields = kKeep | DM_FORMNAME;
        dm.dmPaperSize = DMPAPER_LETTER;
        SetFormName(dm, "QX Photo A4");
    });
    Call("\"QxSetupForm\"");
    ExpectStored("QxSetupForm", DMPAPER_A4, kKeep | DM_PAPERSIZE);
    EXPECT_EQ(PrintProcessor("QxSetupForm"), "QX748Print");
}

TEST_F(VendorSetupUnderWine, WidthFlagAloneMatchesOnLengthAndWidth) {
    AddPrinter("QxSetupWidth", [](PRINTER_INFO_2A&, DEVMODEA& dm) {
        // Letter has the same width and comes first: only the length tells.
        dm.dmFields = kKeep | DM_PAPERWIDTH | DM_FORMNAME;
        dm.dmPaperSize = DMPAPER_A5;
        dm.dmPaperWidth = 2159;
        dm.dmPaperLength = 3556;
        SetFormName(dm, "QX Letter");  // not consulted: a size flag is set
    });
    Call("\"QxSetupWidth\"");
    ExpectStored("QxSetupWidth", DMPAPER_LEGAL, kKeep | DM_PAPERSIZE);
}

TEST_F(VendorSetupUnderWine, TwoPapersOfOneSizeGiveTheEarlier) {
    AddPrinter("QxSetupSame", [](PRINTER_INFO_2A&, DEVMODEA& dm) {
        dm.dmFields = kKeep | DM_PAPERLENGTH | DM_PAPERWIDTH;
        dm.dmPaperSize = DMPAPER_LETTER;
        dm.dmPaperWidth = 2099;
        dm.dmPaperLength = 2970;
    });
    Call("\"QxSetupSame\"");
    ExpectStored("QxSetupSame", DMPAPER_A4, kKeep | DM_PAPERSIZE);
}

TEST_F(VendorSetupUnderWine, NoSizeFlagAndNoFormNameLeaveThePaper) {
    AddPrinter("QxSetupNone", [](PRINTER_INFO_2A&, DEVMODEA& dm) {
        dm.dmFields = kKeep | DM_PAPERSIZE;
        dm.dmPaperSize = DMPAPER_A5;
        // Values that would match, were their flags set.
        dm.dmPaperWidth = 2099;
        dm.dmPaperLength = 2970;
        SetFormName(dm, "QX Photo A4");
    });
    Call("\"QxSetupNone\"");
    ExpectStored("QxSetupNone", DMPAPER_A5, kKeep | DM_PAPERSIZE);
    EXPECT_EQ(PrintProcessor("QxSetupNone"), "QX748Print");
}

TEST_F(VendorSetupUnderWine, ShorterPrintProcessorIsReplacedAndOtherStringsKept) {
    auto edit = [](PRINTER_INFO_2A& info, DEVMODEA& dm) {
        static char processor[] = "wp", comment[] = "Studio colour proofs", location[] = "Room 4",
                    parameters[] = "tray=2", share[] = "QxStudio";
        info.pPrintProcessor = processor;
        info.pComment = comment;
        info.pLocation = location;
        info.pParameters = parameters;
        info.pShareName = share;
        dm.dmFields = kKeep | DM_FORMNAME;
        SetFormName(dm, "QX Half Sheet");
    };
    AddPrinter("QxSetupProc", edit);
    Level2 before;
    ASSERT_TRUE(ReadLevel2("QxSetupProc", &before));
    ASSERT_EQ(Text(before.info()->pPrintProcessor), "wp");

    Call("\"QxSetupProc\"");

    Level2 after;
    ASSERT_TRUE(ReadLevel2("QxSetupProc", &after));
    EXPECT_EQ(Text(after.info()->pPrintProcessor), "QX748Print");
    struct Field {
        const char* what;
        LPSTR PRINTER_INFO_2A::*field;
    } fields[] = {
        {"server", &PRINTER_INFO_2A::pServerName},     {"printer", &PRINTER_INFO_2A::pPrinterName},
        {"share", &PRINTER_INFO_2A::pShareName},       {"port", &PRINTER_INFO_2A::pPortName},
        {"driver", &PRINTER_INFO_2A::pDriverName},     {"comment", &PRINTER_INFO_2A::pComment},
        {"location", &PRINTER_INFO_2A::pLocation},     {"separator file", &PRINTER_INFO_2A::pSepFile},
        {"data type", &PRINTER_INFO_2A::pDatatype},    {"parameters", &PRINTER_INFO_2A::pParameters},
    };
    for (const auto& f : fields)
        EXPECT_EQ(Text(after.info()->*f.field), Text(before.info()->*f.field)) << f.what;
    EXPECT_EQ(Text(after.info()->pComment), "Studio colour proofs");
    EXPECT_EQ(after.devMode()->dmPaperSize, DMPAPER_A5);
}

TEST_F(VendorSetupUnderWine, CommandLineNamesThePrinter) {
    auto formA4 = [](PRINTER_INFO_2A&, DEVMODEA& dm) {
        dm.dmFields = kKeep | DM_FORMNAME;
        dm.dmPaperSize = DMPAPER_LETTER;
        SetFormName(dm, "QX Photo A4");
    };
    AddPrinter("QxSetupServer", formA4);
    AddPrinter("QxSetupTrail", formA4);
    AddPrinter("QxSetup\\Inner", formA4);

    // Two backslashes, a server, a backslash and the name: that printer.
    Call("\"\\\\qxserver\\QxSetupServer\"");
    EXPECT_EQ(PrintProcessor("QxSetupServer"), "QX748Print");
    ExpectStored("QxSetupServer", DMPAPER_A4, kKeep | DM_PAPERSIZE);

    // Nothing after the last backslash: the whole text is the name; there is
    // no such printer, and QxSetupTrail is not touched.
    Call("\"\\\\QxSetupTrail\\\"");
    EXPECT_EQ(PrintProcessor("QxSetupTrail"), "winprint");
    ExpectStored("QxSetupTrail", DMPAPER_LETTER, kKeep | DM_FORMNAME);

    // A backslash inside a plain name is part of it.
    Call("\"QxSetup\\Inner\"");
    EXPECT_EQ(PrintProcessor("QxSetup\\Inner"), "QX748Print");
    ExpectStored("QxSetup\\Inner", DMPAPER_A4, kKeep | DM_PAPERSIZE);

    // No name at all, or no such printer: nothing happens, nothing breaks.
    for (const char* cmd : {"", "\"", "\"\"", "\"QxSetupMissing\""}) Call(cmd);
    EXPECT_EQ(PrintProcessor("QxSetupTrail"), "winprint");
}

TEST(QX748SPExports, DllEntryPointReturnsTrueForEveryReason) {
    std::wstring path = L"Z:" + Wide(QX748SP_PATH);
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    HMODULE m = LoadLibraryW(path.c_str());
    ASSERT_NE(m, nullptr);
    auto entry = reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(m, "DllEntryPoint")));
    ASSERT_NE(entry, nullptr);
    for (DWORD reason : {DWORD{DLL_PROCESS_ATTACH}, DWORD{DLL_THREAD_ATTACH}, DWORD{DLL_THREAD_DETACH},
                         DWORD{DLL_PROCESS_DETACH}, DWORD{99}})
        EXPECT_TRUE(entry(m, reason, nullptr)) << "reason " << reason;
    EXPECT_NE(GetProcAddress(m, "VendorSetup"), nullptr);
    FreeLibrary(m);
}

}  // namespace
