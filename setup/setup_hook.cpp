// Printer setup hook: entry points (the hook's work comes with its own change).
#include <windows.h>

extern "C" VOID WINAPI VendorSetup(HWND, HINSTANCE, LPSTR, UINT) {}

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE, DWORD, LPVOID) { return TRUE; }
