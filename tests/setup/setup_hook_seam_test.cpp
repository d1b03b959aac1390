// The hook's calls as a recording spooler sees them: the exact order, the
// arguments, what is sent at levels 8 and 9, and the paths Wine's spooler
// cannot produce (count query failing, allocation failures, refusals).
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "setup/setup_core.h"
#include "setup/spooler_api.h"

using qx::setup::kDmFormName;
using qx::setup::kDmPaperLength;
using qx::setup::kDmPaperSize;
using qx::setup::kDmPaperWidth;
using qx::setup::RunVendorSetup;
using qx::setup::SpoolerApi;

namespace {

const HANDLE kHandle = reinterpret_cast<HANDLE>(0x5150);

struct Paper {
    WORD number;
    const char* name;
    LONG width, length;
};

// A scripted printer: its level-2 record, its paper list and its answers.
struct FakePrinter {
    std::set<std::string> openable = {"Photo"};
    std::string printerName = "Photo";
    std::string shareName = "PhotoShare", portName = "FILE:", driverName = "QX748 Driver";
    std::string comment = "Colour photos", location = "Lab 2", sepFile = "";
    std::string printProcessor = "wp", datatype = "RAW", parameters = "";
    bool hasDevMode = true;
    DWORD fields = DM_ORIENTATION | DM_FORMNAME;
    short paperSize = 1, paperLength = 0, paperWidth = 0;
    std::string formName = "A4";
    std::vector<Paper> papers = {
        {1, "Letter", 2159, 2794}, {9, "A4", 2099, 2970}, {11, "A5", 1481, 2099}, {5, "Legal", 2159, 3556}};
    int countAnswer = -2;            // -2: the list's size
    std::map<WORD, int> fillAnswer;  // capability -> answer instead of the count
    int failAllocation = -1;         // index of the GlobalAlloc call that fails
    bool getFails = false;
    BOOL setAnswer = TRUE;

    // What happened.
    std::vector<std::string> calls;
    std::vector<SIZE_T> allocSizes;
    std::map<void*, int> liveBlocks;  // block -> allocation index
    int allocations = 0, openHandles = 0;
    LPBYTE level2Buffer = nullptr;
    DWORD level2Size = 0;
    std::vector<BYTE> level2Before;  // buffer as filled by GetPrinterA
    std::vector<BYTE> level2AtSet2;  // buffer as SetPrinterA 2 received it
    std::vector<BYTE> devModeAtSet2;
    std::string processorAtSet2;
    bool processorInsideBuffer = true;
    LPDEVMODEA devModeAtLevel[10] = {};
    bool sentLevel[10] = {};

    int Count() const { return countAnswer == -2 ? static_cast<int>(papers.size()) : countAnswer; }
};

FakePrinter* fake = nullptr;

BOOL WINAPI FakeOpen(LPSTR name, LPHANDLE h, LPPRINTER_DEFAULTSA defaults) {
    std::string call = std::string("OpenPrinterA ") + (name ? name : "(null)");
    if (defaults == nullptr || defaults->pDatatype || defaults->pDevMode ||
        defaults->DesiredAccess != PRINTER_ALL_ACCESS)
        call += " bad-defaults";
    fake->calls.push_back(call);
    if (name == nullptr || !fake->openable.count(name)) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    *h = kHandle;
    ++fake->openHandles;
    return TRUE;
}

BOOL WINAPI FakeGet(HANDLE h, DWORD level, LPBYTE buf, DWORD size, LPDWORD needed) {
    fake->calls.push_back("GetPrinterA " + std::to_string(level) + (buf ? " read" : " size") +
                          (h == kHandle ? "" : " bad-handle"));
    const std::string* strings[] = {&fake->printerName, &fake->shareName, &fake->portName,
                                    &fake->driverName, &fake->comment, &fake->location,
                                    &fake->sepFile, &fake->printProcessor, &fake->datatype,
                                    &fake->parameters};
    const DWORD dmBytes = fake->hasDevMode ? sizeof(DEVMODEA) + 8 : 0;
    DWORD need = sizeof(PRINTER_INFO_2A) + dmBytes;
    for (auto* s : strings) need += static_cast<DWORD>(s->size() + 1);
    *needed = need;
    if (buf == nullptr || size < need) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (fake->getFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buf);
    BYTE* at = buf + sizeof(PRINTER_INFO_2A);
    if (fake->hasDevMode) {
        auto* dm = reinterpret_cast<DEVMODEA*>(at);
        dm->dmSize = sizeof(DEVMODEA);
        dm->dmDriverExtra = 8;
        dm->dmSpecVersion = 0x401;
        dm->dmFields = fake->fields;
        dm->dmOrientation = DMORIENT_LANDSCAPE;
        dm->dmPaperSize = fake->paperSize;
        dm->dmPaperLength = fake->paperLength;
        dm->dmPaperWidth = fake->paperWidth;
        std::memcpy(dm->dmFormName, fake->formName.data(), fake->formName.size());
        std::memset(at + sizeof(DEVMODEA), 0xA5, 8);
        info->pDevMode = dm;
        at += dmBytes;
    }
    LPSTR* fields[] = {&info->pPrinterName, &info->pShareName, &info->pPortName,
                       &info->pDriverName, &info->pComment, &info->pLocation,
                       &info->pSepFile, &info->pPrintProcessor, &info->pDatatype,
                       &info->pParameters};
    for (size_t i = 0; i < 10; ++i) {
        std::memcpy(at, strings[i]->c_str(), strings[i]->size() + 1);
        *fields[i] = reinterpret_cast<LPSTR>(at);
        at += strings[i]->size() + 1;
    }
    info->Attributes = PRINTER_ATTRIBUTE_LOCAL;
    fake->level2Buffer = buf;
    fake->level2Size = need;
    fake->level2Before.assign(buf, buf + need);
    return TRUE;
}

BOOL WINAPI FakeSet(HANDLE h, DWORD level, LPBYTE record, DWORD command) {
    std::string call = "SetPrinterA " + std::to_string(level);
    if (command != 0) call += " command " + std::to_string(command);
    if (h != kHandle) call += " bad-handle";
    if (level == 2) {
        auto* info = reinterpret_cast<PRINTER_INFO_2A*>(record);
        if (record != fake->level2Buffer) call += " foreign-record";
        fake->level2AtSet2.assign(record, record + fake->level2Size);
        fake->processorAtSet2 = info->pPrintProcessor;
        auto* p = reinterpret_cast<BYTE*>(info->pPrintProcessor);
        fake->processorInsideBuffer = p >= fake->level2Buffer && p < fake->level2Buffer + fake->level2Size;
        if (info->pDevMode) {
            auto* dm = reinterpret_cast<BYTE*>(info->pDevMode);
            fake->devModeAtSet2.assign(dm, dm + sizeof(DEVMODEA) + 8);
        }
    } else if (level == 8 || level == 9) {
        // Both records hold just a device-mode pointer.
        LPDEVMODEA dm = reinterpret_cast<PRINTER_INFO_8A*>(record)->pDevMode;
        fake->devModeAtLevel[level] = dm;
        fake->sentLevel[level] = true;
        call += dm ? " devmode" : " null";
    }
    fake->calls.push_back(call);
    return fake->setAnswer;
}

int WINAPI FakeCaps(LPCSTR device, LPCSTR port, WORD cap, LPSTR out, const DEVMODEA* dm) {
    std::string call = "DeviceCapabilitiesA " + std::string(device ? device : "(null)") + " " +
                       (port ? port : "(null)") + " " + std::to_string(cap) + (out ? " fill" : " count");
    if (dm) call += " devmode";
    fake->calls.push_back(call);
    if (out == nullptr) return fake->Count();
    auto it = fake->fillAnswer.find(cap);
    if (it != fake->fillAnswer.end()) return it->second;
    const int n = fake->Count();
    for (int i = 0; i < n; ++i) {
        const Paper& p = fake->papers[i];
        if (cap == DC_PAPERS) {
            std::memcpy(out + 2 * i, &p.number, 2);
        } else if (cap == DC_PAPERNAMES) {
            std::strncpy(out + 64 * i, p.name, 64);
        } else if (cap == DC_PAPERSIZE) {
            POINT pt = {p.width, p.length};
            std::memcpy(out + 8 * i, &pt, 8);
        }
    }
    return n;
}

BOOL WINAPI FakeClose(HANDLE h) {
    fake->calls.push_back(h == kHandle ? "ClosePrinter" : "ClosePrinter bad-handle");
    --fake->openHandles;
    return TRUE;
}

HGLOBAL WINAPI FakeAlloc(UINT flags, SIZE_T bytes) {
    const int index = fake->allocations++;
    fake->allocSizes.push_back(bytes);
    fake->calls.push_back("GlobalAlloc " + std::to_string(bytes) + (flags == GPTR ? "" : " not-GPTR"));
    if (index == fake->failAllocation) return nullptr;
    HGLOBAL block = GlobalAlloc(GPTR, bytes);
    fake->liveBlocks[block] = index;
    return block;
}

HGLOBAL WINAPI FakeFree(HGLOBAL block) {
    auto it = fake->liveBlocks.find(block);
    if (it == fake->liveBlocks.end()) {
        fake->calls.push_back("GlobalFree unknown");
        return block;
    }
    fake->calls.push_back("GlobalFree #" + std::to_string(it->second));
    fake->liveBlocks.erase(it);
    return GlobalFree(block);
}

bool CalledIn(const FakePrinter& p, const std::string& prefix) {
    for (const auto& c : p.calls)
        if (c.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

const SpoolerApi kRecording = {FakeOpen, FakeGet, FakeSet, FakeCaps, FakeClose, FakeAlloc, FakeFree};

class SetupHook : public ::testing::Test {
protected:
    void SetUp() override { fake = &printer; }
    void TearDown() override {
        EXPECT_TRUE(printer.liveBlocks.empty()) << "blocks not freed: " << printer.liveBlocks.size();
        EXPECT_EQ(printer.openHandles, 0) << "printer not closed";
        fake = nullptr;
    }
    void Run(const char* cmdLine) {
        std::string copy = cmdLine;
        RunVendorSetup(kRecording, copy.data());
    }
    bool Called(const std::string& prefix) const { return CalledIn(printer, prefix); }
    const DEVMODEA& SentDevMode() const {
        return *reinterpret_cast<const DEVMODEA*>(printer.devModeAtSet2.data());
    }
    FakePrinter printer;
};

std::string Joined(const std::vector<std::string>& calls) {
    std::string s;
    for (const auto& c : calls) s += c + "\n";
    return s;
}

TEST_F(SetupHook, MatchByFormNameRunsTheWholeSequenceInOrder) {
    printer.openable = {"Photo"};
    printer.printerName = "\\\\srv\\Photo";  // the record's name drives the queries
    printer.formName = "A5";
    Run("\"\\\\srv\\Photo\"");
    const std::vector<std::string> expected = {
        "GlobalAlloc 14",
        "OpenPrinterA Photo",
        "GetPrinterA 2 size",
        "GlobalAlloc " + std::to_string(printer.level2Size),
        "GetPrinterA 2 read",
        "DeviceCapabilitiesA \\\\srv\\Photo FILE: 2 count",
        "GlobalAlloc 8",
        "GlobalAlloc 256",
        "GlobalAlloc 32",
        "DeviceCapabilitiesA \\\\srv\\Photo FILE: 2 fill",
        "DeviceCapabilitiesA \\\\srv\\Photo FILE: 16 fill",
        "DeviceCapabilitiesA \\\\srv\\Photo FILE: 3 fill",
        "SetPrinterA 2",
        "SetPrinterA 8 devmode",
        "SetPrinterA 9 devmode",
        "ClosePrinter",
        "GlobalFree #0",  // name
        "GlobalFree #2",  // paper numbers
        "GlobalFree #3",  // paper names
        "GlobalFree #4",  // paper sizes
        "GlobalFree #1",  // level-2 record
    };
    EXPECT_EQ(Joined(printer.calls), Joined(expected));

    const DEVMODEA& dm = SentDevMode();
    EXPECT_EQ(dm.dmPaperSize, 11);
    EXPECT_EQ(dm.dmFields, static_cast<DWORD>(DM_ORIENTATION | DM_PAPERSIZE));
    EXPECT_STREQ(reinterpret_cast<const char*>(dm.dmFormName), "A5");  // bytes kept
    // Levels 8 and 9 carry the level-2 record's own device mode.
    auto* recordDevMode = reinterpret_cast<PRINTER_INFO_2A*>(printer.level2Buffer)->pDevMode;
    EXPECT_EQ(printer.devModeAtLevel[8], recordDevMode);
    EXPECT_EQ(printer.devModeAtLevel[9], recordDevMode);
}

TEST_F(SetupHook, PrintProcessorPointsAtOwnTextAndTheBufferKeepsItsStrings) {
    printer.printProcessor = "wp";  // shorter than the new name
    printer.fields = DM_ORIENTATION;  // no match: the device mode stays as it is
    Run("\"Photo\"");
    ASSERT_TRUE(Called("SetPrinterA 2"));
    EXPECT_EQ(printer.processorAtSet2, "QX748Print");
    EXPECT_FALSE(printer.processorInsideBuffer);
    // Every byte of the spooler's buffer but the print-processor pointer is as
    // it was read: the old name and the strings after it were not written.
    const size_t pointerAt = offsetof(PRINTER_INFO_2A, pPrintProcessor);
    ASSERT_EQ(printer.level2AtSet2.size(), printer.level2Before.size());
    for (size_t i = 0; i < printer.level2Before.size(); ++i) {
        if (i >= pointerAt && i < pointerAt + sizeof(LPSTR)) continue;
        EXPECT_EQ(printer.level2AtSet2[i], printer.level2Before[i]) << "byte " << i;
    }
    const DEVMODEA& dm = SentDevMode();
    EXPECT_EQ(dm.dmPaperSize, 1);
    EXPECT_TRUE(printer.sentLevel[8]);
    EXPECT_TRUE(printer.sentLevel[9]);
    EXPECT_EQ(printer.devModeAtLevel[8], nullptr);
    EXPECT_EQ(printer.devModeAtLevel[9], nullptr);
}

TEST_F(SetupHook, EndsUnchangedWhenThePrinterOrItsListCannotBeHad) {
    struct Case {
        const char* what;
        void (*arrange)(FakePrinter&);
        const char* lastCall;  // the last spooler or heap call before release
    } cases[] = {
        {"printer cannot be opened", [](FakePrinter& p) { p.openable.clear(); }, "OpenPrinterA Photo"},
        {"level 2 cannot be read", [](FakePrinter& p) { p.getFails = true; }, "GetPrinterA 2 read"},
        {"record has no device mode", [](FakePrinter& p) { p.hasDevMode = false; }, "GetPrinterA 2 read"},
        {"count query fails", [](FakePrinter& p) { p.countAnswer = -1; }, "DeviceCapabilitiesA Photo FILE: 2 count"},
        {"name buffer", [](FakePrinter& p) { p.failAllocation = 0; }, "GlobalAlloc 8"},
        {"level-2 buffer", [](FakePrinter& p) { p.failAllocation = 1; }, "GlobalAlloc "},
        {"paper numbers", [](FakePrinter& p) { p.failAllocation = 2; }, "GlobalAlloc 8"},
        {"paper names", [](FakePrinter& p) { p.failAllocation = 3; }, "GlobalAlloc 256"},
        {"paper sizes", [](FakePrinter& p) { p.failAllocation = 4; }, "GlobalAlloc 32"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakePrinter p;
        fake = &p;
        c.arrange(p);
        std::string cmd = "\"Photo\"";
        RunVendorSetup(kRecording, cmd.data());
        for (const auto& call : p.calls) {
            EXPECT_EQ(call.find("SetPrinterA"), std::string::npos) << call;
            EXPECT_EQ(call.find("fill"), std::string::npos) << call;
        }
        // After the failing step only releases follow.
        size_t last = 0;
        for (size_t i = 0; i < p.calls.size(); ++i)
            if (p.calls[i].rfind("GlobalFree", 0) != 0 && p.calls[i] != "ClosePrinter") last = i;
        ASSERT_FALSE(p.calls.empty());
        EXPECT_EQ(p.calls[last].rfind(c.lastCall, 0), 0u) << Joined(p.calls);
        EXPECT_TRUE(p.liveBlocks.empty());
        EXPECT_EQ(p.openHandles, 0);
        EXPECT_EQ(std::count(p.calls.begin(), p.calls.end(), "ClosePrinter"),
                  p.openable.empty() || p.failAllocation == 0 ? 0 : 1);
    }
    fake = &printer;
}

TEST_F(SetupHook, CommandLineChoosesThePrinterToOpen) {
    struct Case {
        const char* cmdLine;
        const char* opened;  // nullptr: nothing is opened
    } cases[] = {
        {"\"Photo\"", "Photo"},
        {"\"\\\\srv\\Photo\"", "Photo"},
        {"\"\\\\srv\\\"", "\\\\srv\\"},
        {"\"\\\\srv\"", "\\\\srv"},
        {"Photos", "hoto"},  // no quotation marks: the same copy rule
        {"\"\"", nullptr},
        {"\"", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cmdLine);
        FakePrinter p;
        fake = &p;
        p.openable = {"Photo", "\\\\srv\\", "\\\\srv", "hoto"};
        std::string cmd = c.cmdLine;
        RunVendorSetup(kRecording, cmd.data());
        ASSERT_FALSE(p.calls.empty());
        EXPECT_EQ(p.calls[0], "GlobalAlloc " + std::to_string(cmd.size() + 1));
        if (c.opened) {
            ASSERT_GE(p.calls.size(), 2u);
            EXPECT_EQ(p.calls[1], std::string("OpenPrinterA ") + c.opened);
            EXPECT_TRUE(p.sentLevel[9]);
        } else {
            EXPECT_EQ(Joined(p.calls), "GlobalAlloc " + std::to_string(cmd.size() + 1) + "\nGlobalFree #0\n");
        }
        EXPECT_TRUE(p.liveBlocks.empty());
    }
    fake = &printer;
    RunVendorSetup(kRecording, nullptr);
    EXPECT_TRUE(printer.calls.empty()) << Joined(printer.calls);
}

TEST_F(SetupHook, EmptyOrIncompletePaperListStillSetsThePrintProcessor) {
    struct Case {
        const char* what;
        int count;
        std::map<WORD, int> fill;
    } cases[] = {
        {"no papers", 0, {}},
        {"numbers not delivered", -2, {{DC_PAPERS, -1}}},
        {"names short", -2, {{DC_PAPERNAMES, 3}}},
        {"sizes not delivered", -2, {{DC_PAPERSIZE, -1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakePrinter p;
        fake = &p;
        p.countAnswer = c.count;
        p.fillAnswer = c.fill;
        p.fields = DM_FORMNAME;
        p.formName = "";  // would match any zero-filled name entry
        std::string cmd = "\"Photo\"";
        RunVendorSetup(kRecording, cmd.data());
        EXPECT_EQ(p.processorAtSet2, "QX748Print");
        ASSERT_EQ(p.devModeAtSet2.size(), sizeof(DEVMODEA) + 8);
        EXPECT_EQ(reinterpret_cast<const DEVMODEA*>(p.devModeAtSet2.data())->dmFields,
                  static_cast<DWORD>(DM_FORMNAME));
        EXPECT_TRUE(p.sentLevel[8] && p.sentLevel[9]);
        EXPECT_EQ(p.devModeAtLevel[8], nullptr);
        EXPECT_EQ(p.devModeAtLevel[9], nullptr);
        if (c.count == 0) {
            // Nothing to allocate or fill for an empty list.
            EXPECT_EQ(p.allocations, 2);
            EXPECT_EQ(std::count_if(p.calls.begin(), p.calls.end(),
                                    [](const std::string& s) { return s.find(" fill") != std::string::npos; }),
                      0);
        } else {
            // All three arrays are still asked for, in order.
            EXPECT_TRUE(CalledIn(p, "DeviceCapabilitiesA Photo FILE: 3 fill"));
        }
        EXPECT_TRUE(p.liveBlocks.empty());
        EXPECT_EQ(p.openHandles, 0);
    }
    fake = &printer;
}

TEST_F(SetupHook, RefusedChangesDoNotStopTheNextOne) {
    printer.setAnswer = FALSE;
    Run("\"Photo\"");
    std::vector<std::string> sets;
    for (const auto& c : printer.calls)
        if (c.rfind("SetPrinterA", 0) == 0) sets.push_back(c);
    EXPECT_EQ(Joined(sets), "SetPrinterA 2\nSetPrinterA 8 devmode\nSetPrinterA 9 devmode\n");
    EXPECT_EQ(printer.calls.back().rfind("GlobalFree", 0), 0u);
}

}  // namespace
