#pragma once
// One run of the host: the plug-in library, its object, the helper the host
// publishes and the device mode the host owns. Scenes (the driver callbacks
// now; the property sheets later) each drive the object through this.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/host/transcript.h"
#include "uiplugin/frame/oem_contract.h"

namespace qxhost {

// The helper the host hands to PublishDriverInterface. The plug-in may hold
// it but never call it; the host checks both.
class HostDriverHelper final : public IPrintOemDriverUI {
public:
    LONG refs = 1;  // the host's own
    int calls = 0;  // calls of the helper's own operations
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID, PCSTR, PVOID, DWORD, PDWORD, PDWORD) override;
    HRESULT STDMETHODCALLTYPE DrvUpgradeRegistrySetting(HANDLE, PCSTR, PCSTR) override;
    HRESULT STDMETHODCALLTYPE DrvUpdateUISetting(PVOID, PVOID, DWORD, DWORD) override;
};

class HostSession {
public:
    explicit HostSession(Transcript &transcript) : log(transcript) {}
    ~HostSession();
    HostSession(const HostSession &) = delete;
    HostSession &operator=(const HostSession &) = delete;

    // Loading and creating: false when the run cannot go on.
    bool Load(const std::wstring &pluginPath);
    bool CreatePlugin();
    // Scenes, in the order the platform's driver UI makes the calls.
    void PublishHelper();
    void QueryInfo();
    void RunDevModeRequests();
    void QueryColorProfile();
    // Last: the object's Release, then whether the library may go.
    void ReleasePlugin();

    IPrintOemUI *plugin() const { return object; }
    HMODULE module() const { return library; }
    DEVMODEW *publicDevMode() { return &documentDevMode; }
    void *privateDevMode() { return privateBlock.empty() ? nullptr : privateBlock.data(); }

private:
    void CheckHelperHeld(const char *when);
    Transcript &log;
    HMODULE library = nullptr;
    HRESULT(STDAPICALLTYPE *canUnloadNow)() = nullptr;
    IPrintOemUI *object = nullptr;
    HostDriverHelper helper;
    uint32_t signature = 0;
    // The document's device mode as the host keeps it: the public part and
    // the plug-in's private block of the size the plug-in asked for.
    DEVMODEW documentDevMode = {};
    std::vector<unsigned char> privateBlock;
};

}  // namespace qxhost
