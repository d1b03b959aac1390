#pragma once
// Loads the built QX748UI.dll as the host does and hands out its exports.
// QX748UI_PATH is set by the build: the DLL's path with a drive prefix.
#include <gtest/gtest.h>

#include <string>

#include "uiplugin/frame/oem_contract.h"

namespace qxtest {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, LPVOID *);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE *)();

inline std::wstring PluginPath() {
    std::string narrow = QX748UI_PATH;
    std::wstring wide(narrow.begin(), narrow.end());
    for (wchar_t &c : wide)
        if (c == L'/') c = L'\\';
    return wide;
}

// One load for the whole test program, as a host keeps the library while it
// has objects; the module's counters therefore carry over between tests,
// and each test leaves them balanced.
class PluginLibrary {
public:
    static PluginLibrary &Get() {
        static PluginLibrary library;
        return library;
    }
    bool loaded() const { return module != nullptr && getClassObject != nullptr && canUnloadNow != nullptr; }
    HMODULE module = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadNowFn canUnloadNow = nullptr;

    // A factory, then a plug-in object through it, as the host asks for them.
    IPrintOemUI *CreatePlugin() {
        IClassFactory *factory = nullptr;
        if (FAILED(getClassObject(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void **>(&factory)))) return nullptr;
        IPrintOemUI *plugin = nullptr;
        HRESULT hr = factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void **>(&plugin));
        factory->Release();
        return SUCCEEDED(hr) ? plugin : nullptr;
    }

private:
    PluginLibrary() {
        module = LoadLibraryW(PluginPath().c_str());
        if (module == nullptr) return;
        getClassObject = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void *>(GetProcAddress(module, "DllGetClassObject")));
        canUnloadNow =
            reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void *>(GetProcAddress(module, "DllCanUnloadNow")));
    }
};

}  // namespace qxtest
