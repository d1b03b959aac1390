// The setup hook's work: after the class installer has installed a printer,
// name its default paper by number from its own paper list and set the
// driver's print processor. ANSI spooler calls only; every buffer is
// zero-filled global memory.
#include "setup/spooler_api.h"

#include <cstdint>
#include <cstring>

#include "setup/setup_core.h"

namespace qx::setup {

const char kPrintProcessorName[] = "QX748Print";

namespace {

// One block of zero-filled global memory, freed through the same table.
class GlobalBlock {
public:
    explicit GlobalBlock(const SpoolerApi& api) : api_(api) {}
    ~GlobalBlock() {
        if (block_ != nullptr) api_.globalFree(block_);
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;

    bool Allocate(SIZE_T bytes) {
        block_ = api_.globalAlloc(GPTR, bytes);
        return block_ != nullptr;
    }
    uint8_t* bytes() const { return static_cast<uint8_t*>(block_); }

private:
    const SpoolerApi& api_;
    HGLOBAL block_ = nullptr;
};

class PrinterHandle {
public:
    explicit PrinterHandle(const SpoolerApi& api) : api_(api) {}
    ~PrinterHandle() {
        if (handle_ != nullptr) api_.closePrinter(handle_);
    }
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;

    bool Open(LPSTR name) {
        PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        HANDLE h = nullptr;
        if (!api_.openPrinter(name, &h, &defaults)) return false;
        handle_ = h;
        return handle_ != nullptr;
    }
    HANDLE get() const { return handle_; }

private:
    const SpoolerApi& api_;
    HANDLE handle_ = nullptr;
};

// The bytes of the device mode that may be read: its public part, and no
// further than the end of the buffer it was delivered in.
DevModeView ViewOf(DEVMODEA* devMode, const uint8_t* buffer, size_t bufferSize) {
    uint8_t* p = reinterpret_cast<uint8_t*>(devMode);
    size_t available = SIZE_MAX;
    const auto pos = reinterpret_cast<uintptr_t>(p);
    const auto start = reinterpret_cast<uintptr_t>(buffer);
    if (pos >= start && pos < start + bufferSize) available = start + bufferSize - pos;
    if (available < dma::kSize + 2) return {p, available};
    const size_t declared = static_cast<size_t>(p[dma::kSize] | (p[dma::kSize + 1] << 8));
    return {p, declared < available ? declared : available};
}

// Asks for one capability array; true when the spooler filled all `count`.
bool FillCapability(const SpoolerApi& api, const PRINTER_INFO_2A& info, WORD capability,
                    uint8_t* out, int count) {
    return api.deviceCapabilities(info.pPrinterName, info.pPortName, capability,
                                  reinterpret_cast<LPSTR>(out), nullptr) == count;
}

}  // namespace

void RunVendorSetup(const SpoolerApi& api, LPSTR cmdLine) {
    if (cmdLine == nullptr) return;

    // Declared in reverse order of release: the printer is closed first,
    // then the name, the three arrays and the level-2 buffer are freed.
    GlobalBlock level2(api);
    GlobalBlock sizes(api);
    GlobalBlock names(api);
    GlobalBlock numbers(api);
    GlobalBlock nameBuffer(api);
    PrinterHandle printer(api);

    const size_t cmdLen = std::strlen(cmdLine);
    if (!nameBuffer.Allocate(cmdLen + 1)) return;
    char* name = reinterpret_cast<char*>(nameBuffer.bytes());
    CopyQuotedName(cmdLine, cmdLen, name);
    // An empty name would open the local print server instead of a printer.
    if (name[0] == '\0') return;
    char* printerName = name + (PrinterNamePart(name) - name);
    if (!printer.Open(printerName)) return;

    DWORD needed = 0;
    api.getPrinter(printer.get(), 2, nullptr, 0, &needed);
    const DWORD level2Size = needed;
    if (level2Size < sizeof(PRINTER_INFO_2A) || !level2.Allocate(level2Size)) return;
    if (!api.getPrinter(printer.get(), 2, level2.bytes(), level2Size, &needed)) return;
    auto* info = reinterpret_cast<PRINTER_INFO_2A*>(level2.bytes());
    if (info->pDevMode == nullptr) return;

    const int count = api.deviceCapabilities(info->pPrinterName, info->pPortName, DC_PAPERS,
                                             nullptr, nullptr);
    if (count < 0) return;
    size_t searchable = 0;
    if (count > 0) {
        const size_t n = static_cast<size_t>(count);
        if (n > SIZE_MAX / kPaperNameBytes) return;
        if (!numbers.Allocate(kPaperNumberBytes * n) || !names.Allocate(kPaperNameBytes * n) ||
            !sizes.Allocate(kPaperSizeBytes * n)) {
            return;
        }
        // All three are asked for, in this order, whatever each answers.
        bool filled = FillCapability(api, *info, DC_PAPERS, numbers.bytes(), count);
        filled = FillCapability(api, *info, DC_PAPERNAMES, names.bytes(), count) && filled;
        filled = FillCapability(api, *info, DC_PAPERSIZE, sizes.bytes(), count) && filled;
        // A list the spooler did not deliver in full is not searched: its
        // zero-filled entries would name paper 0.
        if (filled) searchable = n;
    }

    const PaperList papers{numbers.bytes(), names.bytes(), sizes.bytes(), searchable};
    const DevModeView devMode = ViewOf(info->pDevMode, level2.bytes(), level2Size);
    PRINTER_INFO_8A global = {nullptr};
    PRINTER_INFO_9A perUser = {nullptr};
    const size_t found = FindPaper(devMode, papers);
    if (found != kNoPaper) {
        SelectPaper(devMode, papers, found);
        global.pDevMode = info->pDevMode;
        perUser.pDevMode = info->pDevMode;
    }

    // The spooler's buffer holds the old name in its own length, which may
    // be shorter: point the record at our text instead of writing over it.
    // SetPrinterA only reads the record.
    info->pPrintProcessor = const_cast<LPSTR>(kPrintProcessorName);

    // Results ignored: each change is attempted whatever the previous one did.
    api.setPrinter(printer.get(), 2, level2.bytes(), 0);
    api.setPrinter(printer.get(), 8, reinterpret_cast<LPBYTE>(&global), 0);
    api.setPrinter(printer.get(), 9, reinterpret_cast<LPBYTE>(&perUser), 0);
}

SpoolerApi SystemSpooler() {
    // Built per call: the imported functions' addresses are only known at
    // run time, and a local table needs no static initialisation.
    return SpoolerApi{
        OpenPrinterA, GetPrinterA, SetPrinterA, DeviceCapabilitiesA,
        ClosePrinter, GlobalAlloc, GlobalFree,
    };
}

}  // namespace qx::setup
