// Module entry and COM exports (class factory comes with the COM server work).
#include "uiplugin/frame/oem_contract.h"

HINSTANCE moduleInstance = nullptr;

BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID) {
    if (fdwReason == DLL_PROCESS_ATTACH) moduleInstance = hinstDLL;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID, REFIID, LPVOID *) { return CLASS_E_CLASSNOTAVAILABLE; }

STDAPI DllCanUnloadNow() { return S_OK; }
