// The printer-initialise event against Wine's own spooler and PostScript
// driver, on test printers whose paper lists come from PPDs of our own.
// Stored device modes are read back in this process: a new process that
// loads the driver would put the paper back to the PPD's default.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/frame/plugin_library.h"
#include "tests/support/wine_printer.h"

namespace {

using qxtest::PluginLibrary;
using qxtest::TestPrinter;

constexpr DWORD kSentinel = 0xDEADBEEF;

// Unique per process run, so parallel test programs and re-runs in the same
// prefix never meet a printer (or a driver state cached by name) of another.
std::wstring UniqueName(const wchar_t *stem) {
    return std::wstring(L"QxFrame") + stem + L"-" + std::to_wstring(GetCurrentProcessId());
}

class PrinterEvent : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(PluginLibrary::Get().loaded()) << "cannot load " << QX748UI_PATH;
        plugin = PluginLibrary::Get().CreatePlugin();
        ASSERT_NE(nullptr, plugin);
    }
    void TearDown() override {
        if (plugin != nullptr) {
            EXPECT_EQ(0u, plugin->Release());
        }
    }
    HRESULT Fire(const std::wstring &name, INT event) {
        std::wstring copy = name;
        return plugin->PrinterEvent(&copy[0], event, 0, 0);
    }
    // Levels 2, 8 and 9 share one store under Wine; all three must agree.
    void ExpectStored(const std::wstring &name, short orientation, short paper) {
        for (DWORD level : {2u, 8u, 9u}) {
            SCOPED_TRACE("level " + std::to_string(level));
            DEVMODEW dm;
            ASSERT_TRUE(qxtest::ReadStoredDevMode(name, level, &dm));
            EXPECT_EQ(orientation, dm.dmOrientation);
            EXPECT_EQ(paper, dm.dmPaperSize);
        }
    }
    IPrintOemUI *plugin = nullptr;
};

TEST_F(PrinterEvent, InitialiseTakesLandscapeAndTheSecondPaper) {
    struct Case {
        const wchar_t *stem;
        std::vector<std::string> papers;
        const char *defaultPaper;
        short defaultCode, expectedCode;
    } cases[] = {
        {L"Four", {"Letter", "A4", "A5", "Legal"}, "Letter", DMPAPER_LETTER, DMPAPER_A4},
        {L"Iso", {"A4", "A5", "B5"}, "A4", DMPAPER_A4, DMPAPER_A5},
        {L"Second", {"A4", "Letter"}, "Letter", DMPAPER_LETTER, DMPAPER_LETTER},
        // Fewer than two papers: the paper stays, the orientation changes.
        {L"One", {"A5"}, "A5", DMPAPER_A5, DMPAPER_A5},
    };
    for (const Case &c : cases) {
        const std::wstring name = UniqueName(c.stem);
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        TestPrinter printer(name, c.papers, c.defaultPaper);
        ASSERT_EQ(0u, printer.error());
        ExpectStored(name, DMORIENT_PORTRAIT, c.defaultCode);
        EXPECT_EQ(E_NOTIMPL, Fire(name, PRINTER_EVENT_INITIALIZE));
        ExpectStored(name, DMORIENT_LANDSCAPE, c.expectedCode);
    }
}

TEST_F(PrinterEvent, ServerNameOpensThePrinterOnTheServer) {
    const std::wstring name = UniqueName(L"Srv");
    TestPrinter printer(name, {"Letter", "A4"}, "Letter");
    ASSERT_EQ(0u, printer.error());
    EXPECT_EQ(E_NOTIMPL, Fire(L"\\\\QXSERVER\\" + name + L",LocalsplOnly", PRINTER_EVENT_INITIALIZE));
    ExpectStored(name, DMORIENT_LANDSCAPE, DMPAPER_A4);
}

TEST_F(PrinterEvent, PlainLongNameIsUsedWhole) {
    std::wstring name = UniqueName(L"Long");
    name.append(40 - name.size(), L'x');
    ASSERT_EQ(40u, name.size());
    TestPrinter printer(name, {"Letter", "A4"}, "Letter");
    ASSERT_EQ(0u, printer.error());
    EXPECT_EQ(E_NOTIMPL, Fire(name, PRINTER_EVENT_INITIALIZE));
    ExpectStored(name, DMORIENT_LANDSCAPE, DMPAPER_A4);
}

TEST_F(PrinterEvent, OtherEventsChangeNothing) {
    const std::wstring name = UniqueName(L"Other");
    TestPrinter printer(name, {"Letter", "A4"}, "Letter");
    ASSERT_EQ(0u, printer.error());
    for (INT event : {0, PRINTER_EVENT_ADD_CONNECTION, PRINTER_EVENT_DELETE_CONNECTION, PRINTER_EVENT_DELETE,
                      PRINTER_EVENT_CACHE_REFRESH, PRINTER_EVENT_CACHE_DELETE, PRINTER_EVENT_ATTRIBUTES_CHANGED, 99,
                      -1}) {
        SCOPED_TRACE("event " + std::to_string(event));
        SetLastError(kSentinel);
        EXPECT_EQ(E_NOTIMPL, Fire(name, event));
        EXPECT_EQ(kSentinel, GetLastError());
        ExpectStored(name, DMORIENT_PORTRAIT, DMPAPER_LETTER);
    }
}

TEST_F(PrinterEvent, UnknownNameEndsCleanly) {
    const std::wstring name = UniqueName(L"Missing");
    // Event 0 opens nothing, so the open failure's error never appears.
    SetLastError(kSentinel);
    EXPECT_EQ(E_NOTIMPL, Fire(name, 0));
    EXPECT_EQ(kSentinel, GetLastError());
    SetLastError(kSentinel);
    EXPECT_EQ(E_NOTIMPL, Fire(name, PRINTER_EVENT_INITIALIZE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME), GetLastError()) << "left by the failed open";
    SetLastError(kSentinel);
    EXPECT_EQ(E_NOTIMPL, plugin->PrinterEvent(nullptr, PRINTER_EVENT_INITIALIZE, 0, 0));
    EXPECT_EQ(kSentinel, GetLastError()) << "a null name opens nothing (not the print server)";
}

}  // namespace
