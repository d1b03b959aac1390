#include "tests/support/wine_printer.h"

#include <winspool.h>

#include <cstdio>
#include <cstring>

namespace qxtest {
namespace {

struct PaperSpec {
    const char *keyword;
    const char *display;
    int widthPt;
    int heightPt;
};

const PaperSpec kPapers[] = {
    {"Letter", "US Letter", 612, 792}, {"Legal", "US Legal", 612, 1008}, {"Executive", "Executive", 522, 756},
    {"A4", "A4", 595, 842},            {"A5", "A5", 420, 595},           {"B5", "B5 (JIS)", 516, 729},
};

const PaperSpec *FindPaper(const std::string &keyword) {
    for (const PaperSpec &p : kPapers)
        if (keyword == p.keyword) return &p;
    return nullptr;
}

DWORD LastErrorOr(DWORD fallback) {
    DWORD e = GetLastError();
    return e != 0 ? e : fallback;
}

std::wstring PpdPath(const std::wstring &driverName) {
    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return L"";
    return std::wstring(temp) + driverName + L".ppd";
}

}  // namespace

std::string MakePpd(const std::string &modelName, const std::vector<std::string> &paperKeywords,
                    const std::string &defaultKeyword) {
    std::vector<const PaperSpec *> papers;
    for (const std::string &k : paperKeywords) {
        const PaperSpec *p = FindPaper(k);
        if (p == nullptr) return "";
        papers.push_back(p);
    }
    if (papers.empty() || FindPaper(defaultKeyword) == nullptr) return "";
    std::string s;
    auto line = [&s](const std::string &text) { s += text + "\n"; };
    char buf[256];
    line("*PPD-Adobe: \"4.3\"");
    line("*FormatVersion: \"4.3\"");
    line("*FileVersion: \"1.0\"");
    line("*LanguageVersion: English");
    line("*LanguageEncoding: ISOLatin1");
    line("*PCFileName: \"QXTEST.PPD\"");
    line("*Manufacturer: \"QX Test\"");
    line("*Product: \"(" + modelName + ")\"");
    line("*ModelName: \"" + modelName + "\"");
    line("*ShortNickName: \"" + modelName + "\"");
    line("*NickName: \"" + modelName + "\"");
    line("*PSVersion: \"(3010.000) 0\"");
    line("*LanguageLevel: \"3\"");
    line("*ColorDevice: True");
    line("*DefaultColorSpace: RGB");
    line("*FileSystem: False");
    line("*LandscapeOrientation: Plus90");
    line("*TTRasterizer: Type42");
    for (const char *option : {"PageSize", "PageRegion"}) {
        line(std::string("*OpenUI *") + option + ": PickOne");
        line(std::string("*OrderDependency: 10 AnySetup *") + option);
        line(std::string("*Default") + option + ": " + defaultKeyword);
        for (const PaperSpec *p : papers) {
            std::snprintf(buf, sizeof buf, "*%s %s/%s: \"<</PageSize[%d %d]/ImagingBBox null>>setpagedevice\"",
                          option, p->keyword, p->display, p->widthPt, p->heightPt);
            line(buf);
        }
        line(std::string("*CloseUI: *") + option);
    }
    line("*DefaultImageableArea: " + defaultKeyword);
    for (const PaperSpec *p : papers) {
        std::snprintf(buf, sizeof buf, "*ImageableArea %s/%s: \"18 18 %d %d\"", p->keyword, p->display,
                      p->widthPt - 18, p->heightPt - 18);
        line(buf);
    }
    line("*DefaultPaperDimension: " + defaultKeyword);
    for (const PaperSpec *p : papers) {
        std::snprintf(buf, sizeof buf, "*PaperDimension %s/%s: \"%d %d\"", p->keyword, p->display, p->widthPt,
                      p->heightPt);
        line(buf);
    }
    line("*OpenUI *Resolution/Resolution: PickOne");
    line("*OrderDependency: 10 AnySetup *Resolution");
    line("*DefaultResolution: 300dpi");
    line("*Resolution 300dpi/300 dpi: \"<</HWResolution[300 300]>>setpagedevice\"");
    line("*CloseUI: *Resolution");
    line("*DefaultFont: Courier");
    line("*Font Courier: Standard \"(002.004S)\" Standard ROM");
    line("*Font Helvetica: Standard \"(001.006S)\" Standard ROM");
    line("*Font Times-Roman: Standard \"(001.007S)\" Standard ROM");
    return s;
}

DWORD InstallPpdDriver(const std::wstring &driverName, const std::string &ppdText) {
    if (ppdText.empty()) return ERROR_INVALID_PARAMETER;
    std::wstring path = PpdPath(driverName);
    if (path.empty()) return ERROR_PATH_NOT_FOUND;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastErrorOr(ERROR_GEN_FAILURE);
    DWORD written = 0;
    BOOL ok = WriteFile(file, ppdText.data(), static_cast<DWORD>(ppdText.size()), &written, nullptr);
    DWORD writeError = ok ? 0 : LastErrorOr(ERROR_GEN_FAILURE);
    CloseHandle(file);
    if (writeError != 0) return writeError;
    if (written != ppdText.size()) return ERROR_WRITE_FAULT;

    std::wstring name = driverName;
    DRIVER_INFO_3W di = {};
    di.cVersion = 3;
    di.pName = &name[0];
    // The spooler takes drivers for its own architecture's environment only.
#if defined(_M_ARM64) || defined(__aarch64__)
    di.pEnvironment = const_cast<LPWSTR>(L"Windows ARM64");
#elif defined(_WIN64)
    di.pEnvironment = const_cast<LPWSTR>(L"Windows x64");
#else
    di.pEnvironment = const_cast<LPWSTR>(L"Windows NT x86");
#endif
    di.pDriverPath = const_cast<LPWSTR>(L"wineps.drv");
    di.pConfigFile = const_cast<LPWSTR>(L"wineps.drv");
    di.pDataFile = &path[0];
    di.pDefaultDataType = const_cast<LPWSTR>(L"RAW");
    // Without APD_COPY_FROM_DIRECTORY the PPD is not copied and the driver
    // fails later with "file not found".
    SetLastError(0);
    if (!AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&di), APD_COPY_NEW_FILES | APD_COPY_FROM_DIRECTORY))
        return LastErrorOr(ERROR_GEN_FAILURE);
    return 0;
}

DWORD RemoveDriver(const std::wstring &driverName) {
    std::wstring name = driverName;
    SetLastError(0);
    DWORD result = DeletePrinterDriverW(nullptr, nullptr, &name[0]) ? 0 : LastErrorOr(ERROR_GEN_FAILURE);
    std::wstring path = PpdPath(driverName);
    if (!path.empty()) DeleteFileW(path.c_str());
    return result;
}

DWORD AddTestPrinter(const std::wstring &printerName, const std::wstring &driverName, const std::wstring &portName) {
    std::wstring printer = printerName, driver = driverName, port = portName;
    PRINTER_INFO_2W pi = {};
    pi.pPrinterName = &printer[0];
    pi.pDriverName = &driver[0];
    pi.pPortName = &port[0];
    pi.pPrintProcessor = const_cast<LPWSTR>(L"winprint");
    pi.pDatatype = const_cast<LPWSTR>(L"RAW");
    pi.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    SetLastError(0);
    HANDLE h = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&pi));
    if (h == nullptr) return LastErrorOr(ERROR_GEN_FAILURE);
    ClosePrinter(h);
    return 0;
}

DWORD DeleteTestPrinter(const std::wstring &printerName) {
    std::wstring name = printerName;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE h = nullptr;
    SetLastError(0);
    if (!OpenPrinterW(&name[0], &h, &defaults)) return LastErrorOr(ERROR_GEN_FAILURE);
    DWORD result = DeletePrinter(h) ? 0 : LastErrorOr(ERROR_GEN_FAILURE);
    ClosePrinter(h);
    return result;
}

std::vector<BYTE> ReadStoredDevMode(const std::wstring &printerName, DWORD level) {
    std::vector<BYTE> devMode;
    std::wstring name = printerName;
    HANDLE h = nullptr;
    if (!OpenPrinterW(&name[0], &h, nullptr)) return devMode;
    DWORD needed = 0;
    GetPrinterW(h, level, nullptr, 0, &needed);
    std::vector<BYTE> info(needed);
    if (needed != 0 && GetPrinterW(h, level, info.data(), needed, &needed)) {
        const DEVMODEW *dm = nullptr;
        if (level == 2)
            dm = reinterpret_cast<const PRINTER_INFO_2W *>(info.data())->pDevMode;
        else if (level == 8)
            dm = reinterpret_cast<const PRINTER_INFO_8W *>(info.data())->pDevMode;
        else if (level == 9)
            dm = reinterpret_cast<const PRINTER_INFO_9W *>(info.data())->pDevMode;
        if (dm != nullptr) {
            const BYTE *p = reinterpret_cast<const BYTE *>(dm);
            devMode.assign(p, p + dm->dmSize + dm->dmDriverExtra);
        }
    }
    ClosePrinter(h);
    return devMode;
}

bool ReadStoredDevMode(const std::wstring &printerName, DWORD level, DEVMODEW *devMode) {
    std::vector<BYTE> bytes = ReadStoredDevMode(printerName, level);
    std::memset(devMode, 0, sizeof *devMode);
    if (bytes.empty()) return false;
    std::memcpy(devMode, bytes.data(), bytes.size() < sizeof *devMode ? bytes.size() : sizeof *devMode);
    return true;
}

TestPrinter::TestPrinter(const std::wstring &printerName, const std::vector<std::string> &paperKeywords,
                         const std::string &defaultKeyword)
    : printerName(printerName), driverName(printerName + L" Driver") {
    setupError = InstallPpdDriver(driverName, MakePpd("QX Test Printer", paperKeywords, defaultKeyword));
    if (setupError != 0) return;
    driverInstalled = true;
    setupError = AddTestPrinter(printerName, driverName);
    printerAdded = setupError == 0;
}

TestPrinter::~TestPrinter() {
    if (printerAdded) DeleteTestPrinter(printerName);
    if (driverInstalled) RemoveDriver(driverName);
}

}  // namespace qxtest
