#pragma once
// Real test printers under Wine's own spooler: a driver of our own name on
// the platform's PostScript driver with a PPD we write, so the paper list is
// the test's. Windows only (the fixture runs under Wine).
#include <windows.h>

#include <string>
#include <vector>

namespace qxtest {

// PPD text with the given papers in this order. Known keywords: Letter,
// Legal, Executive, A4, A5, B5 (the driver numbers them 1, 5, 7, 9, 11, 13).
// An unknown keyword yields an empty string.
std::string MakePpd(const std::string &modelName, const std::vector<std::string> &paperKeywords,
                    const std::string &defaultKeyword);

// Each returns 0 on success, else the failing call's last error (or
// ERROR_GEN_FAILURE when the call set none).
// Writes the PPD to the temp folder as "<driverName>.ppd" and registers the
// driver; the spooler copies the file into its driver folder.
DWORD InstallPpdDriver(const std::wstring &driverName, const std::string &ppdText);
DWORD RemoveDriver(const std::wstring &driverName);
DWORD AddTestPrinter(const std::wstring &printerName, const std::wstring &driverName,
                     const std::wstring &portName = L"FILE:");
DWORD DeleteTestPrinter(const std::wstring &printerName);

// The stored default device mode (public part and driver extra) as GetPrinterW
// at level 2, 8 or 9 returns it; empty when there is none or the call fails.
std::vector<BYTE> ReadStoredDevMode(const std::wstring &printerName, DWORD level);
// The same, parsed: false when there is none.
bool ReadStoredDevMode(const std::wstring &printerName, DWORD level, DEVMODEW *devMode);

// A driver and one printer on it for the life of the object; both are removed
// again (printer first). Names must be unique per test run: the spooler
// caches per-printer driver state per process.
class TestPrinter {
public:
    TestPrinter(const std::wstring &printerName, const std::vector<std::string> &paperKeywords,
                const std::string &defaultKeyword);
    ~TestPrinter();
    TestPrinter(const TestPrinter &) = delete;
    TestPrinter &operator=(const TestPrinter &) = delete;

    DWORD error() const { return setupError; }  // 0 when the printer is ready
    const std::wstring &name() const { return printerName; }

private:
    std::wstring printerName;
    std::wstring driverName;
    bool driverInstalled = false;
    bool printerAdded = false;
    DWORD setupError = 0;
};

}  // namespace qxtest
