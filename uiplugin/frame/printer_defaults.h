#pragma once
// What the printer-initialise event does: the printer's default device mode
// becomes landscape on the second paper of the printer's own list.
#include "uiplugin/frame/oem_contract.h"

#include <cstddef>

// The spooler calls and the allocator the routine uses. The plug-in always
// passes SystemSpooler(); tests pass a table of their own to produce what a
// real spooler will not (a failed count query, an allocation failure).
struct SpoolerCalls {
    BOOL(WINAPI *openPrinter)(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault);
    BOOL(WINAPI *getPrinter)(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded);
    LONG(WINAPI *documentProperties)(HWND hWnd, HANDLE hPrinter, LPWSTR pDeviceName, PDEVMODEW pDevModeOutput,
                                     PDEVMODEW pDevModeInput, DWORD fMode);
    int(WINAPI *deviceCapabilities)(LPCWSTR pDevice, LPCWSTR pPort, WORD fwCapability, LPWSTR pOutput,
                                    const DEVMODEW *pDevMode);
    BOOL(WINAPI *setPrinter)(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command);
    BOOL(WINAPI *closePrinter)(HANDLE hPrinter);
    void *(*allocate)(size_t bytes);  // zero-filled; null when memory runs out
    void (*release)(void *block);
};

const SpoolerCalls &SystemSpooler();

// Any failing step ends the routine quietly; every handle opened and every
// block allocated is given back on every path.
void InitializePrinterDefaults(PWSTR pPrinterName, const SpoolerCalls &calls = SystemSpooler());
