#include "tools/host/host_session.h"

#include <cstring>

#include "uiplugin/settings/private_devmode.h"

namespace qxhost {
namespace {

// Nothing the plug-in asks the host to reserve may be absurd.
constexpr DWORD kMaxPrivateBytes = 0x10000;

std::string GuidText(REFGUID g) {
    return Format("{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(g.Data1),
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                  g.Data4[6], g.Data4[7]);
}

uint32_t Word32(const void *bytes, size_t offset) {
    uint32_t v;
    std::memcpy(&v, static_cast<const unsigned char *>(bytes) + offset, sizeof v);
    return v;
}

void DescribeRecord(Transcript &log, const void *block) {
    qx::PrivateDevMode r = qx::ReadPrivateDevMode(block);
    const qx::CorrectionSettings &s = r.settings;
    log.Note("header %lu / 0x%08lX / %lu", static_cast<unsigned long>(r.dwSize),
             static_cast<unsigned long>(r.dwSignature), static_cast<unsigned long>(r.dwVersion));
    log.Note("brightness %d contrast %d saturation %d balance %d/%d/%d sharpness %u", s.brightness, s.contrast,
             s.saturation, s.cyanRed, s.magentaGreen, s.yellowBlue, s.sharpness);
    log.Note("unsharp mask %ld amount %d radius %d threshold %d, resize %d, applied %lu",
             static_cast<long>(s.unsharpMask), s.unsharpAmount, s.unsharpRadius, s.unsharpThreshold, s.resize,
             static_cast<unsigned long>(r.appliedFlag));
}

}  // namespace

HRESULT STDMETHODCALLTYPE HostDriverHelper::QueryInterface(REFIID riid, void **ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPrintOemDriverUI)) {
        *ppv = static_cast<IPrintOemDriverUI *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE HostDriverHelper::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
ULONG STDMETHODCALLTYPE HostDriverHelper::Release() { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
HRESULT STDMETHODCALLTYPE HostDriverHelper::DrvGetDriverSetting(PVOID, PCSTR, PVOID, DWORD, PDWORD, PDWORD) {
    ++calls;
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE HostDriverHelper::DrvUpgradeRegistrySetting(HANDLE, PCSTR, PCSTR) {
    ++calls;
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE HostDriverHelper::DrvUpdateUISetting(PVOID, PVOID, DWORD, DWORD) {
    ++calls;
    return E_NOTIMPL;
}

HostSession::~HostSession() {
    // A run that stopped early still gives everything back.
    if (object != nullptr) object->Release();
    if (library != nullptr) FreeLibrary(library);
}

bool HostSession::Load(const std::wstring &pluginPath) {
    log.Section("Loading the plug-in");
#if defined(__aarch64__) || defined(_M_ARM64)
    // Debian 12's arm64 Wine zeroes x18 (the thread's data block) after
    // comdlg32's start-up when a DLL importing it is loaded, and the
    // plug-in's start-up then faults; started on its own first, comdlg32
    // leaves nothing to clobber. Not logged: Windows needs no such step.
    LoadLibraryW(L"comdlg32.dll");
#endif
    library = LoadLibraryW(pluginPath.c_str());
    if (library == nullptr) {
        log.Call("LoadLibraryW", Format("failed, error %lu", GetLastError()), Utf8(pluginPath.c_str()));
        return false;
    }
    log.Call("LoadLibraryW", "loaded", Utf8(pluginPath.c_str()));
    FARPROC getClassObjectProc = GetProcAddress(library, "DllGetClassObject");
    FARPROC canUnloadProc = GetProcAddress(library, "DllCanUnloadNow");
    log.Call("GetProcAddress DllGetClassObject, DllCanUnloadNow",
             Format("%s, %s", getClassObjectProc ? "found" : "missing", canUnloadProc ? "found" : "missing"));
    if (getClassObjectProc == nullptr || canUnloadProc == nullptr) {
        log.Violation("both exports must be found by their plain names");
        return false;
    }
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, LPVOID *);
    canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE *)()>(reinterpret_cast<void *>(canUnloadProc));
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void *>(getClassObjectProc));

    IClassFactory *factory = nullptr;
    HRESULT hr = getClassObject(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void **>(&factory));
    log.Call("DllGetClassObject(plug-in class, IID_IClassFactory)", HresultText(hr), GuidText(CLSID_OEMUI));
    if (hr != S_OK || factory == nullptr) {
        log.Violation("the plug-in's class must have a class factory");
        return false;
    }
    hr = factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void **>(&object));
    log.Call("IClassFactory::CreateInstance(no outer, IID_IPrintOemUI)", HresultText(hr));
    ULONG left = factory->Release();
    log.Call("IClassFactory::Release", Format("%lu", static_cast<unsigned long>(left)));
    if (left != 0) log.Violation("the host held the factory's only reference");
    if (hr != S_OK || object == nullptr) {
        object = nullptr;
        log.Violation("CreateInstance must give an IPrintOemUI object");
        return false;
    }
    hr = canUnloadNow();
    log.Call("DllCanUnloadNow", HresultText(hr), "one object alive");
    if (hr != S_FALSE) log.Violation("a live object must keep the library loaded (S_FALSE)");
    return true;
}

void HostSession::CheckHelperHeld(const char *when) {
    if (helper.calls != 0) log.Violation("the plug-in called the driver helper (%d calls) %s", helper.calls, when);
}

void HostSession::PublishHelper() {
    log.Section("Driver helper");
    HRESULT hr = object->PublishDriverInterface(&helper);
    log.Call("PublishDriverInterface(host helper)", HresultText(hr),
             Format("helper references %ld", static_cast<long>(helper.refs)));
    if (hr == S_OK) {
        if (helper.refs < 2) log.Violation("S_OK, but the plug-in holds no reference to the helper");
    } else if (hr == E_FAIL) {
        if (helper.refs != 1) log.Violation("a refused helper must not be held");
    } else {
        log.Violation("PublishDriverInterface answers S_OK or E_FAIL");
    }
    CheckHelperHeld("while publishing");
}

void HostSession::QueryInfo() {
    log.Section("Plug-in information");
    struct Query {
        DWORD mode;
        const char *call;
    } queries[] = {{OEMGI_GETSIGNATURE, "GetInfo(OEMGI_GETSIGNATURE, 4 bytes)"},
                   {OEMGI_GETVERSION, "GetInfo(OEMGI_GETVERSION, 4 bytes)"}};
    for (const Query &q : queries) {
        DWORD value = 0, needed = 0;
        HRESULT hr = object->GetInfo(q.mode, &value, sizeof value, &needed);
        log.Call(q.call, HresultText(hr),
                 Format("value 0x%08lX, needed %lu", static_cast<unsigned long>(value),
                        static_cast<unsigned long>(needed)));
        if (hr != S_OK) log.Violation("the signature and the version must be given");
        if (hr == S_OK && needed != sizeof value) log.Violation("a 4-byte answer reports 4 bytes needed");
        if (q.mode == OEMGI_GETSIGNATURE) signature = value;
    }
    // The refusals the host relies on.
    DWORD value = 0, needed = 0;
    SetLastError(0);
    HRESULT hr = object->GetInfo(OEMGI_GETSIGNATURE, &value, 2, &needed);
    DWORD error = GetLastError();
    log.Call("GetInfo(OEMGI_GETSIGNATURE, 2 bytes)", HresultText(hr),
             Format("needed %lu, last error %lu", static_cast<unsigned long>(needed), error));
    if (hr != E_FAIL || error != ERROR_INSUFFICIENT_BUFFER || needed != 4)
        log.Violation("a short buffer fails with ERROR_INSUFFICIENT_BUFFER and the size needed");
}

void HostSession::RunDevModeRequests() {
    log.Section("Device-mode requests on a device mode the host owns");
    documentDevMode = DEVMODEW{};
    wcsncpy(documentDevMode.dmDeviceName, L"QX748 Color", CCHDEVICENAME - 1);
    documentDevMode.dmSpecVersion = DM_SPECVERSION;
    documentDevMode.dmSize = sizeof(DEVMODEW);
    documentDevMode.dmFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_ICMMETHOD;
    documentDevMode.dmOrientation = DMORIENT_PORTRAIT;
    documentDevMode.dmPaperSize = DMPAPER_LETTER;
    documentDevMode.dmCopies = 1;
    documentDevMode.dmICMMethod = DMICMMETHOD_DEVICE;

    OEMDMPARAM param = {};
    param.cbSize = sizeof param;
    HRESULT hr = object->DevMode(OEMDM_SIZE, &param);
    log.Call("DevMode(OEMDM_SIZE)", HresultText(hr), Format("cbBufSize %lu", static_cast<unsigned long>(param.cbBufSize)));
    if (hr != S_OK || param.cbBufSize < sizeof(OEM_DMEXTRAHEADER) || param.cbBufSize > kMaxPrivateBytes) {
        log.Violation("OEMDM_SIZE must answer a usable private size");
        return;
    }
    const DWORD size = param.cbBufSize;
    documentDevMode.dmDriverExtra = static_cast<WORD>(size);  // the host keeps the block right behind
    privateBlock.assign(size, 0);

    param = OEMDMPARAM{};
    param.cbSize = sizeof param;
    param.pPublicDMIn = &documentDevMode;
    param.pPublicDMOut = &documentDevMode;
    param.pOEMDMOut = privateBlock.data();
    param.cbBufSize = size;
    hr = object->DevMode(OEMDM_DEFAULT, &param);
    log.Call("DevMode(OEMDM_DEFAULT)", HresultText(hr),
             Format("public orientation %d, paper %d", documentDevMode.dmOrientation, documentDevMode.dmPaperSize));
    if (hr != S_OK) log.Violation("OEMDM_DEFAULT must succeed");
    DescribeRecord(log, privateBlock.data());
    if (Word32(privateBlock.data(), 0) != size || Word32(privateBlock.data(), 4) != signature)
        log.Violation("the defaulted block must carry the size asked for and the GetInfo signature");

    // The document comes back with a block from elsewhere: values that are
    // in range (brightness 4) and one that is not (radius 0).
    std::vector<unsigned char> stored = privateBlock;
    qx::PrivateDevMode document = qx::ReadPrivateDevMode(stored.data());
    document.settings.brightness = 4;
    document.settings.unsharpRadius = 0;
    qx::WritePrivateDevMode(document, stored.data());
    std::vector<unsigned char> merged = privateBlock;
    param.pOEMDMIn = stored.data();
    param.pOEMDMOut = merged.data();
    hr = object->DevMode(OEMDM_MERGE, &param);
    log.Call("DevMode(OEMDM_MERGE, brightness 4, radius 0)", HresultText(hr));
    if (hr != S_OK) log.Violation("OEMDM_MERGE must succeed");
    DescribeRecord(log, merged.data());
    if (Word32(merged.data(), 0) != size || Word32(merged.data(), 4) != signature)
        log.Violation("the merged block must keep its header");
    privateBlock = merged;

    SetLastError(0);
    hr = object->DevMode(0, &param);
    DWORD error = GetLastError();
    log.Call("DevMode(request 0)", HresultText(hr), Format("last error %lu", error));
    if (hr != E_FAIL || error != ERROR_INVALID_PARAMETER)
        log.Violation("an unknown request fails with ERROR_INVALID_PARAMETER");
}

void HostSession::QueryColorProfile() {
    log.Section("Colour profile");
    ULONG size = 0;
    FLONG flags = 0;
    SetLastError(0);
    HRESULT hr = object->QueryColorProfile(nullptr, nullptr, &documentDevMode, privateDevMode(), QCP_DEVICEPROFILE,
                                           nullptr, &size, &flags);
    DWORD error = GetLastError();
    log.Call("QueryColorProfile(device profile, no buffer)", HresultText(hr),
             Format("size %lu, last error %lu", static_cast<unsigned long>(size), error));
    if (hr != E_FAIL || error != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > kMaxPrivateBytes) {
        log.Violation("a size query fails with ERROR_INSUFFICIENT_BUFFER and a usable size");
        return;
    }
    std::vector<unsigned char> buffer(size + sizeof(wchar_t), 0);  // a NUL the plug-in cannot overwrite
    hr = object->QueryColorProfile(nullptr, nullptr, &documentDevMode, privateDevMode(), QCP_DEVICEPROFILE,
                                   buffer.data(), &size, &flags);
    std::wstring name;
    for (size_t i = 0; i + 1 < buffer.size(); i += 2) {
        wchar_t c = static_cast<wchar_t>(buffer[i] | buffer[i + 1] << 8);
        if (c == 0) break;
        name += c;
    }
    log.Call("QueryColorProfile(device profile, buffer)", HresultText(hr),
             Format("\"%s\", size %lu, flags %lu", Utf8(name.c_str()).c_str(), static_cast<unsigned long>(size),
                    static_cast<unsigned long>(flags)));
    if (hr != S_OK) log.Violation("a device-profile query with room must succeed");
    if (hr == S_OK && flags != QCP_PROFILEDISK && flags != QCP_PROFILEMEMORY)
        log.Violation("the profile is either a file name or profile data");

    hr = object->QueryColorProfile(nullptr, nullptr, &documentDevMode, privateDevMode(), QCP_SOURCEPROFILE,
                                   buffer.data(), &size, &flags);
    log.Call("QueryColorProfile(source profile)", HresultText(hr));
    if (hr != S_OK && hr != E_FAIL) log.Violation("a profile query answers S_OK or E_FAIL");
}

void HostSession::ReleasePlugin() {
    log.Section("Unloading");
    if (object != nullptr) {
        ULONG left = object->Release();
        object = nullptr;
        log.Call("IPrintOemUI::Release", Format("%lu", static_cast<unsigned long>(left)),
                 Format("helper references %ld", static_cast<long>(helper.refs)));
        if (left != 0) log.Violation("the host held the object's only reference");
        if (helper.refs != 1) log.Violation("the plug-in must release the helper when it is destroyed");
        CheckHelperHeld("during the run");
    }
    HRESULT hr = canUnloadNow();
    log.Call("DllCanUnloadNow", HresultText(hr), "no object alive, no lock");
    if (hr != S_OK) log.Violation("with nothing alive the library may be unloaded (S_OK)");
    FreeLibrary(library);
    library = nullptr;
}

}  // namespace qxhost
