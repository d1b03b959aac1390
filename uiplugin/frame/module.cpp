// Module entry and the two COM exports (named in QX748UI.def).
#include "uiplugin/frame/module.h"

#include "uiplugin/frame/boundary.h"
#include "uiplugin/frame/class_factory.h"

HINSTANCE moduleInstance = nullptr;
LONG objectCount = 0;
LONG lockCount = 0;

BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID) {
    if (fdwReason == DLL_PROCESS_ATTACH) moduleInstance = hinstDLL;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
    return Guarded<HRESULT>(E_OUTOFMEMORY, [&] {
        if (ppv == nullptr) return E_POINTER;
        if (!SameGuid(rclsid, CLSID_OEMUI)) return CLASS_E_CLASSNOTAVAILABLE;
        PluginClassFactory *factory = PluginClassFactory::Create();
        if (factory == nullptr) return E_OUTOFMEMORY;
        // The caller ends up with the only reference, or the factory goes away.
        HRESULT hr = factory->QueryInterface(riid, ppv);
        factory->Release();
        return hr;
    });
}

STDAPI DllCanUnloadNow() { return (objectCount != 0 || lockCount != 0) ? S_FALSE : S_OK; }
