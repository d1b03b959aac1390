// Windows ARM64 test programs under Debian 12's arm64 Wine only.
// That Wine runs its built-in DLLs as Linux code, which uses register x18
// freely; when the loader starts a DLL that imports comdlg32, it enters
// that DLL's start-up with x18 (the thread's data block on Windows ARM64)
// zeroed after comdlg32's own start-up, and the C runtime's start-up code
// faults on it: QX748UI.dll fails to load (error 998). Loaded first, on its
// own, comdlg32 is already started when the plug-in comes. Windows itself
// keeps x18, so this changes nothing there.
#include <windows.h>

namespace {
const HMODULE kComdlg32 = LoadLibraryW(L"comdlg32.dll");
}
