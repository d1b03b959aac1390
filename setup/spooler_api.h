#pragma once
// The calls the setup hook makes into the spooler and the global heap, as one
// table. The shipped DLL uses the real functions; tests pass a table that
// records the calls and answers where Wine's spooler cannot (exact call
// order, refusals, allocation failures). Not exported from the DLL.
#include <windows.h>
#include <winspool.h>

namespace qx::setup {

struct SpoolerApi {
    BOOL(WINAPI* openPrinter)(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults);
    BOOL(WINAPI* getPrinter)(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
    BOOL(WINAPI* setPrinter)(HANDLE printer, DWORD level, LPBYTE record, DWORD command);
    int(WINAPI* deviceCapabilities)(LPCSTR device, LPCSTR port, WORD capability, LPSTR output,
                                    const DEVMODEA* devMode);
    BOOL(WINAPI* closePrinter)(HANDLE printer);
    HGLOBAL(WINAPI* globalAlloc)(UINT flags, SIZE_T bytes);
    HGLOBAL(WINAPI* globalFree)(HGLOBAL block);
};

// The real spooler and heap functions.
SpoolerApi SystemSpooler();

// The print processor the hook names for the printer.
extern const char kPrintProcessorName[];

// The work of VendorSetup on the given calls; cmdLine as the class
// installer passes it.
void RunVendorSetup(const SpoolerApi& api, LPSTR cmdLine);

}  // namespace qx::setup
