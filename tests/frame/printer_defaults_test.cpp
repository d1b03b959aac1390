// The initialise routine on a scripted spooler: the paths Wine's spooler
// cannot produce (failed count queries, allocation failures, odd sizes), the
// exact order of the calls, and the clean-up on every path.
#include "uiplugin/frame/printer_defaults.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr WORD kDriverExtra = 8;
HANDLE const kHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x4711));

// One scripted printer; the spooler calls below are plain functions, so the
// script lives in a global that each test resets.
struct Script {
    std::wstring printerName = L"QxScripted";
    std::wstring portName = L"USB001:";
    std::vector<WORD> papers = {9, 11, 13};
    bool storedDevMode = true;
    WORD storedDriverExtra = kDriverExtra;  // driver extra of the stored device mode
    LONG driverBytes = sizeof(DEVMODEW) + kDriverExtra;
    int countAnswer = -2;  // -2: the real count
    int listAnswer = -2;
    DWORD sizeQueryError = ERROR_INSUFFICIENT_BUFFER;
    LONG sizeAnswer = 0;      // nonzero: DocumentProperties size query answer
    LONG outAnswer = IDOK;    // DM_OUT_BUFFER answer
    LONG mergeAnswer = IDOK;  // DM_IN_BUFFER|DM_OUT_BUFFER answer
    int failAllocation = 0;   // 1-based allocation to refuse

    // Observations.
    std::vector<std::string> calls;
    std::vector<std::wstring> names;  // name argument of each named call
    int opens = 0, closes = 0, allocations = 0;
    std::set<void *> live;
    BYTE *infoBuffer = nullptr;
    size_t infoBytes = 0;
    bool overrun = false;
    DWORD desiredAccess = 0;
    bool setCalled = false;
    DEVMODEW saved = {};
};
Script script;

DEVMODEW DriverDefault() {
    DEVMODEW dm = {};
    dm.dmSpecVersion = DM_SPECVERSION;
    dm.dmSize = sizeof dm;
    dm.dmDriverExtra = kDriverExtra;
    dm.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_COPIES;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPaperSize = DMPAPER_LETTER;
    dm.dmPaperLength = 2794;
    dm.dmPaperWidth = 2159;
    dm.dmCopies = 1;
    return dm;
}

BOOL WINAPI FakeOpen(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults) {
    script.calls.push_back("OpenPrinter");
    script.names.push_back(name);
    script.desiredAccess = defaults != nullptr ? defaults->DesiredAccess : 0;
    if (script.printerName != name) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    ++script.opens;
    *handle = kHandle;
    return TRUE;
}

BOOL WINAPI FakeGetPrinter(HANDLE h, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    EXPECT_EQ(kHandle, h);
    EXPECT_EQ(2u, level);
    const size_t nameBytes = (script.printerName.size() + 1) * sizeof(wchar_t);
    const size_t portBytes = (script.portName.size() + 1) * sizeof(wchar_t);
    const size_t dmBytes = script.storedDevMode ? sizeof(DEVMODEW) + script.storedDriverExtra : 0;
    // The device mode last, so that a write past its end leaves the block.
    const size_t stringsEnd = sizeof(PRINTER_INFO_2W) + nameBytes + portBytes;
    const size_t dmOffset = (stringsEnd + 7) & ~size_t(7);
    const size_t total = dmOffset + dmBytes;
    *needed = static_cast<DWORD>(total);
    if (buffer == nullptr || size < total) {
        script.calls.push_back("GetPrinter size");
        SetLastError(script.sizeQueryError);
        return FALSE;
    }
    script.calls.push_back("GetPrinter");
    std::memset(buffer, 0, size);
    auto *info = reinterpret_cast<PRINTER_INFO_2W *>(buffer);
    BYTE *p = buffer + sizeof(PRINTER_INFO_2W);
    std::memcpy(p, script.printerName.c_str(), nameBytes);
    info->pPrinterName = reinterpret_cast<LPWSTR>(p);
    p += nameBytes;
    std::memcpy(p, script.portName.c_str(), portBytes);
    info->pPortName = reinterpret_cast<LPWSTR>(p);
    if (script.storedDevMode) {
        DEVMODEW dm = DriverDefault();
        dm.dmDriverExtra = script.storedDriverExtra;
        std::memcpy(buffer + dmOffset, &dm, sizeof dm);
        info->pDevMode = reinterpret_cast<DEVMODEW *>(buffer + dmOffset);
    }
    script.infoBuffer = buffer;
    script.infoBytes = total;
    return TRUE;
}

// Writes the driver's full device mode, as a real driver does, and notes a
// write that would run past the end of the printer-information block.
void WriteDriverDevMode(DEVMODEW *out, const DEVMODEW &values) {
    BYTE *o = reinterpret_cast<BYTE *>(out);
    if (o >= script.infoBuffer && o < script.infoBuffer + script.infoBytes &&
        o + script.driverBytes > script.infoBuffer + script.infoBytes) {
        script.overrun = true;
        return;
    }
    std::memset(o, 0, static_cast<size_t>(script.driverBytes));
    std::memcpy(o, &values, sizeof values);
}

LONG WINAPI FakeDocumentProperties(HWND hwnd, HANDLE h, LPWSTR name, PDEVMODEW out, PDEVMODEW in, DWORD mode) {
    EXPECT_EQ(nullptr, hwnd);
    EXPECT_EQ(kHandle, h);
    script.names.push_back(name);
    if (mode == 0) {
        script.calls.push_back("DocumentProperties size");
        return script.sizeAnswer != 0 ? script.sizeAnswer : script.driverBytes;
    }
    if (mode == DM_OUT_BUFFER) {
        script.calls.push_back("DocumentProperties out");
        EXPECT_EQ(nullptr, in);
        if (script.outAnswer >= 0) WriteDriverDevMode(out, DriverDefault());
        return script.outAnswer;
    }
    script.calls.push_back("DocumentProperties merge");
    EXPECT_EQ(static_cast<DWORD>(DM_IN_BUFFER | DM_OUT_BUFFER), mode);
    EXPECT_EQ(out, in);
    if (script.mergeAnswer < 0) return script.mergeAnswer;
    DEVMODEW merged = DriverDefault();
    std::memcpy(&merged, in, sizeof merged);
    WriteDriverDevMode(out, merged);
    return script.mergeAnswer;
}

int WINAPI FakeDeviceCapabilities(LPCWSTR device, LPCWSTR port, WORD capability, LPWSTR output,
                                  const DEVMODEW *devMode) {
    script.names.push_back(device);
    EXPECT_EQ(script.portName, port);
    EXPECT_EQ(DC_PAPERS, capability);
    EXPECT_NE(nullptr, devMode);
    if (output == nullptr) {
        script.calls.push_back("DeviceCapabilities count");
        return script.countAnswer != -2 ? script.countAnswer : static_cast<int>(script.papers.size());
    }
    script.calls.push_back("DeviceCapabilities list");
    if (script.listAnswer != -2 && script.listAnswer < 0) return script.listAnswer;
    std::memcpy(output, script.papers.data(), script.papers.size() * sizeof(WORD));
    return static_cast<int>(script.papers.size());
}

BOOL WINAPI FakeSetPrinter(HANDLE h, DWORD level, LPBYTE info, DWORD command) {
    script.calls.push_back("SetPrinter");
    EXPECT_EQ(kHandle, h);
    EXPECT_EQ(2u, level);
    EXPECT_EQ(0u, command);
    const DEVMODEW *dm = reinterpret_cast<PRINTER_INFO_2W *>(info)->pDevMode;
    script.setCalled = dm != nullptr;
    if (dm != nullptr) script.saved = *dm;
    return TRUE;
}

BOOL WINAPI FakeClose(HANDLE h) {
    script.calls.push_back("ClosePrinter");
    EXPECT_EQ(kHandle, h);
    ++script.closes;
    return TRUE;
}

void *FakeAllocate(size_t bytes) {
    if (++script.allocations == script.failAllocation) return nullptr;
    void *p = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
    script.live.insert(p);
    return p;
}

void FakeRelease(void *p) {
    EXPECT_EQ(1u, script.live.erase(p)) << "freed a block not allocated";
    HeapFree(GetProcessHeap(), 0, p);
}

const SpoolerCalls kScripted = {FakeOpen,       FakeGetPrinter, FakeDocumentProperties, FakeDeviceCapabilities,
                                FakeSetPrinter, FakeClose,      FakeAllocate,           FakeRelease};

class ScriptedSpooler : public ::testing::Test {
protected:
    void SetUp() override { script = Script(); }
    void Run(const std::wstring &name) {
        std::wstring copy = name;
        InitializePrinterDefaults(&copy[0], kScripted);
        EXPECT_TRUE(script.live.empty()) << script.live.size() << " blocks not freed";
        EXPECT_EQ(script.opens, script.closes) << "printer left open";
        EXPECT_FALSE(script.overrun) << "driver asked to write past the stored device mode";
    }
};

const std::vector<std::string> kFullRun = {
    "OpenPrinter",           "GetPrinter size",          "GetPrinter",
    "DocumentProperties size", "DocumentProperties out",  "DeviceCapabilities count",
    "DeviceCapabilities list", "DocumentProperties merge", "SetPrinter",
    "ClosePrinter"};

TEST_F(ScriptedSpooler, StoresLandscapeOnTheSecondPaperInOrder) {
    Run(L"QxScripted");
    EXPECT_EQ(kFullRun, script.calls);
    EXPECT_EQ(static_cast<DWORD>(PRINTER_ALL_ACCESS), script.desiredAccess);
    ASSERT_TRUE(script.setCalled);
    EXPECT_EQ(DMORIENT_LANDSCAPE, script.saved.dmOrientation);
    EXPECT_EQ(11, script.saved.dmPaperSize);
    EXPECT_EQ(static_cast<DWORD>(DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES), script.saved.dmFields)
        << "paper length and width no longer claimed";
    EXPECT_EQ(4, script.allocations) << "name, printer information, device mode, paper list";
}

TEST_F(ScriptedSpooler, ServerNameIsReducedForEveryNamedCall) {
    Run(L"\\\\server\\QxScripted,LocalsplOnly");
    EXPECT_EQ(kFullRun, script.calls);
    for (const std::wstring &n : script.names) EXPECT_EQ(L"QxScripted", n);
    EXPECT_EQ(11, script.saved.dmPaperSize);
}

TEST_F(ScriptedSpooler, FewerThanTwoPapersKeepThePaper) {
    for (std::vector<WORD> papers : {std::vector<WORD>{11}, std::vector<WORD>{}}) {
        SCOPED_TRACE(papers.size());
        script = Script();
        script.papers = papers;
        Run(L"QxScripted");
        ASSERT_TRUE(script.setCalled);
        EXPECT_EQ(DMORIENT_LANDSCAPE, script.saved.dmOrientation);
        EXPECT_EQ(DMPAPER_LETTER, script.saved.dmPaperSize);
        EXPECT_EQ(DriverDefault().dmFields, script.saved.dmFields);
        EXPECT_EQ(3, script.allocations) << "no paper list needed";
    }
}

TEST_F(ScriptedSpooler, NoStoredOrTooSmallDevModeUsesTheDriversOwn) {
    for (bool stored : {false, true}) {
        SCOPED_TRACE(stored ? "stored without driver extra" : "none stored");
        script = Script();
        script.storedDevMode = stored;
        script.storedDriverExtra = 0;
        Run(L"QxScripted");
        ASSERT_TRUE(script.setCalled);
        EXPECT_EQ(DMORIENT_LANDSCAPE, script.saved.dmOrientation);
        EXPECT_EQ(11, script.saved.dmPaperSize);
    }
}

// Each failing step ends the routine with nothing stored; the checks in Run
// prove the clean-up.
TEST_F(ScriptedSpooler, FailuresEndQuietly) {
    struct Case {
        const char *what;
        void (*arrange)(Script &);
        const char *lastCall;
    } cases[] = {
        {"unknown printer", [](Script &s) { s.printerName = L"Other"; }, "OpenPrinter"},
        {"size query fails otherwise", [](Script &s) { s.sizeQueryError = ERROR_ACCESS_DENIED; }, "GetPrinter size"},
        {"device-mode size negative", [](Script &s) { s.sizeAnswer = -1; }, "DocumentProperties size"},
        {"device-mode size too small", [](Script &s) { s.sizeAnswer = 16; }, "DocumentProperties size"},
        {"driver device mode fails", [](Script &s) { s.outAnswer = -1; }, "DocumentProperties out"},
        {"paper count -1", [](Script &s) { s.countAnswer = -1; }, "DeviceCapabilities count"},
        {"paper list -1", [](Script &s) { s.listAnswer = -1; }, "DeviceCapabilities list"},
        {"merge fails", [](Script &s) { s.mergeAnswer = -1; }, "DocumentProperties merge"},
        {"name buffer", [](Script &s) { s.failAllocation = 1; }, nullptr},
        {"printer information", [](Script &s) { s.failAllocation = 2; }, "GetPrinter size"},
        {"device mode", [](Script &s) { s.failAllocation = 3; }, "DocumentProperties size"},
        {"paper list", [](Script &s) { s.failAllocation = 4; }, "DeviceCapabilities count"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        script = Script();
        c.arrange(script);
        Run(L"QxScripted");
        EXPECT_FALSE(script.setCalled);
        std::vector<std::string> calls = script.calls;
        if (!calls.empty() && calls.back() == "ClosePrinter") calls.pop_back();
        if (c.lastCall == nullptr) {
            EXPECT_TRUE(calls.empty());
        } else {
            ASSERT_FALSE(calls.empty());
            EXPECT_EQ(c.lastCall, calls.back());
        }
    }
}

TEST_F(ScriptedSpooler, NullNameCallsNothing) {
    InitializePrinterDefaults(nullptr, kScripted);
    EXPECT_TRUE(script.calls.empty());
    EXPECT_EQ(0, script.allocations);
}

}  // namespace
