#include "uiplugin/frame/plugin_object.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "uiplugin/frame/boundary.h"
#include "uiplugin/frame/module.h"
#include "uiplugin/frame/printer_defaults.h"
#include "uiplugin/frame/property_sheets.h"
#include "uiplugin/settings/handle_devmode.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

constexpr uint32_t kPluginVersion = 1;
constexpr ULONG kProfileBufferBytes = 32;
// "OEMPROFILE.icm" and its NUL: 15 units, 30 bytes, within the 32 asked for.
constexpr wchar_t kProfileName[] = L"OEMPROFILE.icm";
static_assert(sizeof(kProfileName) == 30 && sizeof(kProfileName) <= kProfileBufferBytes, "profile name");

}  // namespace

PluginObject *PluginObject::Create() { return new (std::nothrow) PluginObject(); }

PluginObject::PluginObject() { InterlockedIncrement(&objectCount); }

PluginObject::~PluginObject() {
    // The last reference is gone: no other thread can be publishing now.
    if (IPrintOemDriverUI *helper = driverHelper.exchange(nullptr)) helper->Release();
    InterlockedDecrement(&objectCount);
}

HRESULT STDMETHODCALLTYPE PluginObject::QueryInterface(REFIID riid, void **ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (SameGuid(riid, IID_IUnknown) || SameGuid(riid, IID_IPrintOemUI)) {
        *ppv = static_cast<IPrintOemUI *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE PluginObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refCount)); }

ULONG STDMETHODCALLTYPE PluginObject::Release() {
    // The decremented value, never a re-read of a field another thread may
    // already have freed.
    LONG count = InterlockedDecrement(&refCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE PluginObject::GetInfo(DWORD dwMode, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded) {
    if (pcbNeeded == nullptr ||
        (dwMode != OEMGI_GETSIGNATURE && dwMode != OEMGI_GETVERSION && dwMode != OEMGI_GETPUBLISHERINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    *pcbNeeded = sizeof(uint32_t);
    if (cbSize < sizeof(uint32_t) || pBuffer == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return E_FAIL;
    }
    uint32_t value;
    switch (dwMode) {
        case OEMGI_GETSIGNATURE:
            value = qx::kPrivateDevModeSignature;
            break;
        case OEMGI_GETVERSION:
            value = kPluginVersion;
            break;
        default:  // publisher information: a UI plug-in has none to give
            *pcbNeeded = 0;
            SetLastError(ERROR_NOT_SUPPORTED);
            return E_FAIL;
    }
    std::memcpy(pBuffer, &value, sizeof value);  // the host's buffer need not be aligned
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PluginObject::DevMode(DWORD dwMode, POEMDMPARAM pOemDMParam) {
    return Guarded<HRESULT>(E_OUTOFMEMORY, [&] { return HandleDevMode(dwMode, pOemDMParam); });
}

HRESULT STDMETHODCALLTYPE PluginObject::PublishDriverInterface(IUnknown *pIUnknown) {
    if (driverHelper.load(std::memory_order_acquire) != nullptr) return S_OK;
    if (pIUnknown == nullptr) return E_FAIL;
    void *helper = nullptr;
    if (FAILED(pIUnknown->QueryInterface(IID_IPrintOemDriverUI, &helper)) || helper == nullptr) return E_FAIL;
    // Callers on other threads may be publishing at the same moment: the
    // first helper stored is kept, a later one gives back the reference its
    // query took instead of overwriting (and leaking) the first.
    IPrintOemDriverUI *none = nullptr;
    if (!driverHelper.compare_exchange_strong(none, static_cast<IPrintOemDriverUI *>(helper),
                                              std::memory_order_acq_rel))
        static_cast<IPrintOemDriverUI *>(helper)->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PluginObject::CommonUIProp(DWORD dwMode, POEMCUIPPARAM pOemCUIPParam) {
    return Guarded<HRESULT>(E_OUTOFMEMORY, [&] { return HandleCommonUIProp(dwMode, pOemCUIPParam); });
}

HRESULT STDMETHODCALLTYPE PluginObject::DocumentPropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) {
    return Guarded<HRESULT>(E_OUTOFMEMORY,
                            [&] { return AddDocumentPages(pPSUIInfo, lParam, driverHelper.load(std::memory_order_acquire)); });
}

HRESULT STDMETHODCALLTYPE PluginObject::DevicePropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) {
    return Guarded<HRESULT>(E_OUTOFMEMORY, [&] { return AddPrinterPages(pPSUIInfo, lParam); });
}

HRESULT STDMETHODCALLTYPE PluginObject::DevQueryPrintEx(POEMUIOBJ, PDEVQUERYPRINT_INFO, PDEVMODEW, PVOID) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE PluginObject::DeviceCapabilities(POEMUIOBJ, HANDLE, PWSTR, WORD, PVOID, PDEVMODEW, PVOID,
                                                           DWORD, DWORD *) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE PluginObject::UpgradePrinter(DWORD, PBYTE) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE PluginObject::PrinterEvent(PWSTR pPrinterName, INT iDriverEvent, DWORD, LPARAM) {
    // The spooler is not told how the initialisation went: the slot answers
    // E_NOTIMPL either way, so the driver's own handling still runs.
    if (iDriverEvent == PRINTER_EVENT_INITIALIZE) GuardedCall([&] { InitializePrinterDefaults(pPrinterName); });
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE PluginObject::DriverEvent(DWORD, DWORD, LPBYTE, LPARAM) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE PluginObject::QueryColorProfile(HANDLE, POEMUIOBJ, PDEVMODEW pPublicDM, PVOID,
                                                          ULONG ulQueryMode, VOID *pvProfileData,
                                                          ULONG *pcbProfileData, FLONG *pflProfileData) {
    if (ulQueryMode != QCP_DEVICEPROFILE) return E_FAIL;  // source profiles are never named
    if (pPublicDM == nullptr || pcbProfileData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    if (pvProfileData == nullptr || *pcbProfileData < kProfileBufferBytes) {
        *pcbProfileData = kProfileBufferBytes;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return E_FAIL;
    }
    if (pflProfileData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    if (pPublicDM->dmICMMethod == DMICMMETHOD_NONE)
        std::memset(pvProfileData, 0, sizeof(wchar_t));
    else
        std::memcpy(pvProfileData, kProfileName, sizeof kProfileName);
    *pcbProfileData = kProfileBufferBytes;
    *pflProfileData = QCP_PROFILEDISK;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PluginObject::FontInstallerDlgProc(HWND, UINT, WPARAM, LPARAM) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE PluginObject::UpdateExternalFonts(HANDLE, HANDLE, PWSTR) { return E_NOTIMPL; }
