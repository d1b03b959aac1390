#pragma once
// The class factory of the plug-in's one class. Not counted in objectCount:
// only plug-in objects and server locks keep the library loaded.
#include "uiplugin/frame/oem_contract.h"

class PluginClassFactory final : public IClassFactory {
public:
    // Reference count 1; null when memory runs out.
    static PluginClassFactory *Create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

private:
    PluginClassFactory() = default;
    ~PluginClassFactory() = default;
    LONG refCount = 1;
};
