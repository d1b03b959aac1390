// Exports of QX748SP.dll. The C runtime's own start-up stays the image's
// entry point (the static runtime needs it); it calls DllMain, which hands
// every reason to DllEntryPoint.
#include <windows.h>

#include "setup/spooler_api.h"

extern "C" VOID WINAPI VendorSetup(HWND, HINSTANCE, LPSTR cmdLine, UINT) {
    qx::setup::RunVendorSetup(qx::setup::SystemSpooler(), cmdLine);
}

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) { return TRUE; }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return DllEntryPoint(instance, reason, reserved);
}
