// Exports of QX748SP.dll. The C runtime's start-up stays the image's entry
// point, so the runtime is set up before any of our code runs; it calls
// DllMain, which hands every reason on to DllEntryPoint.
#include <windows.h>

#include "setup/spooler_api.h"

extern "C" VOID WINAPI VendorSetup(HWND, HINSTANCE, LPSTR cmdLine, UINT) {
    // Called by the printer installer: no C++ exception may unwind into it.
    try {
        qx::setup::RunVendorSetup(qx::setup::SystemSpooler(), cmdLine);
    } catch (...) {
    }
}

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) { return TRUE; }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return DllEntryPoint(instance, reason, reserved);
}
