#include "uiplugin/frame/printer_defaults.h"

#include "uiplugin/frame/printer_name.h"

namespace {

void *AllocateZeroed(size_t bytes) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes); }
void ReleaseBlock(void *block) { HeapFree(GetProcessHeap(), 0, block); }

const SpoolerCalls systemSpooler = {
    ::OpenPrinterW, ::GetPrinterW, ::DocumentPropertiesW, ::DeviceCapabilitiesW,
    ::SetPrinterW,  ::ClosePrinter, AllocateZeroed,       ReleaseBlock,
};

class Block {
public:
    Block(const SpoolerCalls &calls, size_t bytes) : calls(calls), data(calls.allocate(bytes)) {}
    ~Block() {
        if (data != nullptr) calls.release(data);
    }
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;
    template <typename T>
    T *as() const {
        return static_cast<T *>(data);
    }
    explicit operator bool() const { return data != nullptr; }

private:
    const SpoolerCalls &calls;
    void *data;
};

class Printer {
public:
    explicit Printer(const SpoolerCalls &calls) : calls(calls) {}
    ~Printer() {
        if (handle != nullptr) calls.closePrinter(handle);
    }
    Printer(const Printer &) = delete;
    Printer &operator=(const Printer &) = delete;
    bool Open(LPWSTR name, PRINTER_DEFAULTSW *defaults) {
        HANDLE opened = nullptr;
        if (!calls.openPrinter(name, &opened, defaults) || opened == nullptr) return false;
        handle = opened;
        return true;
    }
    HANDLE get() const { return handle; }

private:
    const SpoolerCalls &calls;
    HANDLE handle = nullptr;
};

// The device mode must hold at least the fields written here.
constexpr LONG kMinimumDevModeBytes = offsetof(DEVMODEW, dmPaperSize) + sizeof(short);

}  // namespace

const SpoolerCalls &SystemSpooler() { return systemSpooler; }

void InitializePrinterDefaults(PWSTR pPrinterName, const SpoolerCalls &calls) {
    if (pPrinterName == nullptr) return;  // a null name would open the print server

    Block nameBuffer(calls, qx::kLocalPrinterNameUnits * sizeof(wchar_t));
    if (!nameBuffer) return;
    wchar_t *localName = nameBuffer.as<wchar_t>();
    LPWSTR name = qx::LocalPrinterName(pPrinterName, localName) ? localName : pPrinterName;

    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    Printer printer(calls);
    if (!printer.Open(name, &defaults)) return;

    DWORD infoBytes = 0;
    if (!calls.getPrinter(printer.get(), 2, nullptr, 0, &infoBytes) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return;
    if (infoBytes < sizeof(PRINTER_INFO_2W)) return;
    Block infoBuffer(calls, infoBytes);
    if (!infoBuffer) return;
    if (!calls.getPrinter(printer.get(), 2, infoBuffer.as<BYTE>(), infoBytes, &infoBytes)) return;
    PRINTER_INFO_2W *info = infoBuffer.as<PRINTER_INFO_2W>();

    LONG devModeBytes = calls.documentProperties(nullptr, printer.get(), info->pPrinterName, nullptr, nullptr, 0);
    if (devModeBytes < kMinimumDevModeBytes) return;
    Block devModeBuffer(calls, static_cast<size_t>(devModeBytes));
    if (!devModeBuffer) return;
    DEVMODEW *driverDevMode = devModeBuffer.as<DEVMODEW>();
    if (calls.documentProperties(nullptr, printer.get(), info->pPrinterName, driverDevMode, nullptr,
                                 DM_OUT_BUFFER) < 0)
        return;

    // Sized by the count first, so no printer's list can overrun the buffer.
    int paperCount = calls.deviceCapabilities(name, info->pPortName, DC_PAPERS, nullptr, driverDevMode);
    if (paperCount < 0) return;
    WORD secondPaper = 0;
    bool havePaper = false;
    if (paperCount >= 2) {
        Block paperList(calls, static_cast<size_t>(paperCount) * sizeof(WORD));
        if (!paperList) return;
        int listed = calls.deviceCapabilities(name, info->pPortName, DC_PAPERS, paperList.as<wchar_t>(),
                                              driverDevMode);
        if (listed < 0) return;
        if (listed >= 2) {
            secondPaper = paperList.as<WORD>()[1];
            havePaper = true;
        }
    }

    // The stored device mode is edited in place, unless there is none or it
    // is too small for what the driver writes back into it below.
    DEVMODEW *devMode = info->pDevMode;
    if (devMode == nullptr ||
        static_cast<LONG>(devMode->dmSize) + static_cast<LONG>(devMode->dmDriverExtra) < devModeBytes) {
        devMode = driverDevMode;
        info->pDevMode = devMode;
    }
    devMode->dmOrientation = DMORIENT_LANDSCAPE;
    devMode->dmFields |= DM_ORIENTATION;
    if (havePaper) {  // a printer with fewer than two papers keeps its paper
        devMode->dmPaperSize = static_cast<short>(secondPaper);
        devMode->dmFields &= ~static_cast<DWORD>(DM_PAPERLENGTH | DM_PAPERWIDTH);
        devMode->dmFields |= DM_PAPERSIZE;
    }
    if (calls.documentProperties(nullptr, printer.get(), name, devMode, devMode, DM_IN_BUFFER | DM_OUT_BUFFER) < 0)
        return;
    calls.setPrinter(printer.get(), 2, infoBuffer.as<BYTE>(), 0);
}
