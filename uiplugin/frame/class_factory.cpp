#include "uiplugin/frame/class_factory.h"

#include <new>

#include "uiplugin/frame/boundary.h"
#include "uiplugin/frame/module.h"
#include "uiplugin/frame/plugin_object.h"

PluginClassFactory *PluginClassFactory::Create() { return new (std::nothrow) PluginClassFactory(); }

HRESULT STDMETHODCALLTYPE PluginClassFactory::QueryInterface(REFIID riid, void **ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (SameGuid(riid, IID_IUnknown) || SameGuid(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE PluginClassFactory::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount)); }

ULONG STDMETHODCALLTYPE PluginClassFactory::Release() {
    // The decremented value, not a second read of the field: another thread
    // may free the factory as soon as it has done its own decrement.
    LONG count = InterlockedDecrement(&refCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE PluginClassFactory::CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppv) {
    return Guarded<HRESULT>(E_OUTOFMEMORY, [&] {
        if (ppv == nullptr) return E_POINTER;
        if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
        PluginObject *object = PluginObject::Create();
        if (object == nullptr) return E_OUTOFMEMORY;
        // An interface the object does not offer destroys it again at once.
        HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    });
}

HRESULT STDMETHODCALLTYPE PluginClassFactory::LockServer(BOOL fLock) {
    if (fLock)
        InterlockedIncrement(&lockCount);
    else
        InterlockedDecrement(&lockCount);
    return S_OK;
}
