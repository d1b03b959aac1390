// QX748UI.dll as a COM server and its simple callbacks, driven through its
// exports exactly as the host drives it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/frame/plugin_library.h"

namespace {

using qxtest::PluginLibrary;

constexpr DWORD kSentinel = 0xDEADBEEF;
void *const kUntouched = reinterpret_cast<void *>(static_cast<uintptr_t>(0x5A5A5A5A));

// A helper object of our own, as the driver UI publishes it: answers
// IUnknown and (when asked to) IPrintOemDriverUI, and counts its references.
class CountedHelper final : public IPrintOemDriverUI {
public:
    explicit CountedHelper(bool offersHelper) : offersHelper(offersHelper) {}
    LONG refs = 1;
    int queries = 0;
    bool offersHelper;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        ++queries;
        if (IsEqualIID(riid, IID_IUnknown) || (offersHelper && IsEqualIID(riid, IID_IPrintOemDriverUI))) {
            *ppv = static_cast<IPrintOemDriverUI *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    // The plug-in must never call the helper's own operations.
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID, PCSTR, PVOID, DWORD, PDWORD, PDWORD) override {
        ADD_FAILURE() << "helper called";
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvUpgradeRegistrySetting(HANDLE, PCSTR, PCSTR) override {
        ADD_FAILURE() << "helper called";
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DrvUpdateUISetting(PVOID, PVOID, DWORD, DWORD) override {
        ADD_FAILURE() << "helper called";
        return E_NOTIMPL;
    }
};

class PluginCom : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.loaded()) << "cannot load " << QX748UI_PATH << " (error " << GetLastError() << ")";
        ASSERT_EQ(S_OK, lib.canUnloadNow()) << "an earlier test left objects or locks behind";
    }
    void TearDown() override { EXPECT_EQ(S_OK, lib.canUnloadNow()) << "objects or locks left behind"; }

    IClassFactory *Factory() {
        IClassFactory *factory = nullptr;
        EXPECT_EQ(S_OK, lib.getClassObject(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void **>(&factory)));
        return factory;
    }
    PluginLibrary &lib = PluginLibrary::Get();
};

TEST_F(PluginCom, ExportsAreFoundByPlainName) {
    EXPECT_NE(nullptr, GetProcAddress(lib.module, "DllGetClassObject"));
    EXPECT_NE(nullptr, GetProcAddress(lib.module, "DllCanUnloadNow"));
}

TEST_F(PluginCom, GetClassObjectAnswers) {
    struct Case {
        const char *what;
        const GUID *clsid;
        const IID *iid;
        HRESULT hr;
        bool gives;       // a pointer comes back
        bool untouched;   // *ppv keeps its value
    } cases[] = {
        {"factory", &CLSID_OEMUI, &IID_IClassFactory, S_OK, true, false},
        {"factory as IUnknown", &CLSID_OEMUI, &IID_IUnknown, S_OK, true, false},
        {"plug-in interface from the factory", &CLSID_OEMUI, &IID_IPrintOemUI, E_NOINTERFACE, false, false},
        {"helper interface from the factory", &CLSID_OEMUI, &IID_IPrintOemDriverUI, E_NOINTERFACE, false, false},
        {"another class", &IID_IPrintOemUI, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE, false, true},
        {"the null class", &GUID_NULL, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        void *p = kUntouched;
        SetLastError(kSentinel);
        EXPECT_EQ(c.hr, lib.getClassObject(*c.clsid, *c.iid, &p));
        EXPECT_EQ(kSentinel, GetLastError());
        if (c.gives) {
            ASSERT_NE(nullptr, p);
            ASSERT_NE(kUntouched, p);
            IUnknown *u = static_cast<IUnknown *>(p);
            EXPECT_EQ(2u, u->AddRef()) << "a new factory holds one reference";
            EXPECT_EQ(1u, u->Release());
            EXPECT_EQ(0u, u->Release());
        } else {
            EXPECT_EQ(c.untouched ? kUntouched : nullptr, p);
        }
    }
    EXPECT_EQ(E_POINTER, lib.getClassObject(CLSID_OEMUI, IID_IClassFactory, nullptr));
}

TEST_F(PluginCom, FactoryIdentityAndRefusals) {
    IClassFactory *factory = Factory();
    ASSERT_NE(nullptr, factory);
    void *p = kUntouched;
    EXPECT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, &p));
    EXPECT_EQ(static_cast<void *>(factory), p);
    EXPECT_EQ(1u, factory->Release()) << "Release on a count of 2";
    p = kUntouched;
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IPrintOemUI, &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IClassFactory, nullptr));
    EXPECT_EQ(S_OK, lib.canUnloadNow()) << "factories are not counted";
    EXPECT_EQ(0u, factory->Release());
}

TEST_F(PluginCom, CreateInstanceAnswers) {
    IClassFactory *factory = Factory();
    ASSERT_NE(nullptr, factory);
    struct Case {
        const char *what;
        const IID *iid;
        bool outer;
        HRESULT hr;
        void *expectedOut;  // for failures
    } failures[] = {
        {"helper interface", &IID_IPrintOemDriverUI, false, E_NOINTERFACE, nullptr},
        {"class factory", &IID_IClassFactory, false, E_NOINTERFACE, nullptr},
        {"aggregation", &IID_IPrintOemUI, true, CLASS_E_NOAGGREGATION, kUntouched},
    };
    CountedHelper outer(false);
    for (const Case &c : failures) {
        SCOPED_TRACE(c.what);
        void *p = kUntouched;
        EXPECT_EQ(c.hr, factory->CreateInstance(c.outer ? &outer : nullptr, *c.iid, &p));
        EXPECT_EQ(c.expectedOut, p);
        EXPECT_EQ(S_OK, lib.canUnloadNow()) << "no object may stay alive";
    }
    EXPECT_EQ(1, outer.refs) << "the outer object was not kept";
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IPrintOemUI, nullptr));
    EXPECT_EQ(S_OK, lib.canUnloadNow());

    for (const IID *iid : {&IID_IPrintOemUI, &IID_IUnknown}) {
        void *p = nullptr;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, *iid, &p));
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(S_FALSE, lib.canUnloadNow()) << "a live object keeps the library";
        IUnknown *u = static_cast<IUnknown *>(p);
        EXPECT_EQ(2u, u->AddRef()) << "a new object holds one reference";
        EXPECT_EQ(1u, u->Release());
        EXPECT_EQ(0u, u->Release());
        EXPECT_EQ(S_OK, lib.canUnloadNow());
    }
    EXPECT_EQ(0u, factory->Release());
}

TEST_F(PluginCom, ObjectQueryInterface) {
    IPrintOemUI *plugin = lib.CreatePlugin();
    ASSERT_NE(nullptr, plugin);
    void *p = nullptr;
    EXPECT_EQ(S_OK, plugin->QueryInterface(IID_IUnknown, &p));
    EXPECT_EQ(static_cast<void *>(plugin), p);
    EXPECT_EQ(S_OK, plugin->QueryInterface(IID_IPrintOemUI, &p));
    EXPECT_EQ(static_cast<void *>(plugin), p);
    for (const IID *iid : {&IID_IPrintOemDriverUI, &IID_IClassFactory, &IID_IDispatch}) {
        p = kUntouched;
        EXPECT_EQ(E_NOINTERFACE, plugin->QueryInterface(*iid, &p));
        EXPECT_EQ(nullptr, p);
    }
    EXPECT_EQ(E_POINTER, plugin->QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(2u, plugin->Release()) << "exactly two references were added";
    EXPECT_EQ(1u, plugin->Release());
    EXPECT_EQ(S_FALSE, lib.canUnloadNow());
    EXPECT_EQ(0u, plugin->Release());
}

TEST_F(PluginCom, LockBalance) {
    IClassFactory *factory = Factory();
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_FALSE, lib.canUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, lib.canUnloadNow());
    // An unbalanced unlock leaves -1, which also keeps the library.
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_FALSE, lib.canUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, lib.canUnloadNow());
    // A lock outlives the factory that took it.
    EXPECT_EQ(S_OK, factory->LockServer(2));
    EXPECT_EQ(0u, factory->Release());
    EXPECT_EQ(S_FALSE, lib.canUnloadNow());
    factory = Factory();
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(0u, factory->Release());
}

TEST_F(PluginCom, DriverHelperIsHeldAndReleased) {
    CountedHelper helper(true), second(true), refusing(false);
    IPrintOemUI *plugin = lib.CreatePlugin();
    ASSERT_NE(nullptr, plugin);
    EXPECT_EQ(E_FAIL, plugin->PublishDriverInterface(&refusing));
    EXPECT_EQ(1, refusing.refs);
    EXPECT_EQ(E_FAIL, plugin->PublishDriverInterface(nullptr));
    EXPECT_EQ(S_OK, plugin->PublishDriverInterface(&helper)) << "a refusal leaves no helper behind";
    EXPECT_EQ(2, helper.refs);
    EXPECT_EQ(S_OK, plugin->PublishDriverInterface(&second));
    EXPECT_EQ(0, second.queries) << "a held helper is not replaced";
    EXPECT_EQ(1, second.refs);
    EXPECT_EQ(0u, plugin->Release());
    EXPECT_EQ(1, helper.refs) << "the helper is released when the plug-in dies";
}

TEST_F(PluginCom, GetInfo) {
    IPrintOemUI *plugin = lib.CreatePlugin();
    ASSERT_NE(nullptr, plugin);
    constexpr DWORD kKeep = 0x77777777;
    struct Case {
        const char *what;
        DWORD mode;
        DWORD cbSize;
        bool buffer, needed;
        HRESULT hr;
        DWORD lastError;  // kSentinel: not set
        DWORD cbNeeded;   // kKeep: not written
        DWORD value;      // kKeep: buffer not written
    } cases[] = {
        {"signature", OEMGI_GETSIGNATURE, 4, true, true, S_OK, kSentinel, 4, 0x4E43504C},
        {"signature, big buffer", OEMGI_GETSIGNATURE, 64, true, true, S_OK, kSentinel, 4, 0x4E43504C},
        {"version", OEMGI_GETVERSION, 4, true, true, S_OK, kSentinel, 4, 1},
        {"signature, 3 bytes", OEMGI_GETSIGNATURE, 3, true, true, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 4, kKeep},
        {"version, no bytes", OEMGI_GETVERSION, 0, true, true, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 4, kKeep},
        {"null buffer, enough size", OEMGI_GETSIGNATURE, 4, false, true, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 4, kKeep},
        {"publisher, 2 bytes", OEMGI_GETPUBLISHERINFO, 2, true, true, E_FAIL, ERROR_INSUFFICIENT_BUFFER, 4, kKeep},
        {"publisher, 4 bytes", OEMGI_GETPUBLISHERINFO, 4, true, true, E_FAIL, ERROR_NOT_SUPPORTED, 0, kKeep},
        {"interface version", OEMGI_GETINTERFACEVERSION, 4, true, true, E_FAIL, ERROR_INVALID_PARAMETER, kKeep, kKeep},
        {"helper interfaces", OEMGI_GETREQUESTEDHELPERINTERFACES, 4, true, true, E_FAIL, ERROR_INVALID_PARAMETER,
         kKeep, kKeep},
        {"mode 0", 0, 4, true, true, E_FAIL, ERROR_INVALID_PARAMETER, kKeep, kKeep},
        {"null size pointer", OEMGI_GETSIGNATURE, 4, true, false, E_FAIL, ERROR_INVALID_PARAMETER, kKeep, kKeep},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // Odd offset: the host's buffer need not be aligned.
        unsigned char bytes[1 + 64];
        std::memset(bytes, 0x77, sizeof bytes);
        DWORD cbNeeded = kKeep;
        SetLastError(kSentinel);
        EXPECT_EQ(c.hr, plugin->GetInfo(c.mode, c.buffer ? bytes + 1 : nullptr, c.cbSize,
                                        c.needed ? &cbNeeded : nullptr));
        EXPECT_EQ(c.lastError, GetLastError());
        EXPECT_EQ(c.cbNeeded, cbNeeded);
        uint32_t value;
        std::memcpy(&value, bytes + 1, 4);
        EXPECT_EQ(c.value, value);
        for (size_t i = 5; i < sizeof bytes; ++i) ASSERT_EQ(0x77, bytes[i]) << "wrote past 4 bytes";
        EXPECT_EQ(0x77, bytes[0]);
    }
    EXPECT_EQ(0u, plugin->Release());
}

TEST_F(PluginCom, QueryColorProfile) {
    IPrintOemUI *plugin = lib.CreatePlugin();
    ASSERT_NE(nullptr, plugin);
    constexpr ULONG kKeep = 0x77777777;
    const std::u16string profile = u"OEMPROFILE.icm";
    struct Case {
        const char *what;
        ULONG mode;
        short icmMethod;  // 0: no public device mode
        bool buffer;
        bool sizePointer;
        bool flagPointer;
        ULONG size;
        HRESULT hr;
        DWORD lastError;
        ULONG sizeAfter;
        ULONG flags;
        const char16_t *text;  // null: buffer not written
    } cases[] = {
        {"device profile", QCP_DEVICEPROFILE, DMICMMETHOD_DEVICE, true, true, true, 32, S_OK, kSentinel, 32,
         QCP_PROFILEDISK, u"OEMPROFILE.icm"},
        {"system ICM", QCP_DEVICEPROFILE, DMICMMETHOD_SYSTEM, true, true, true, 64, S_OK, kSentinel, 32,
         QCP_PROFILEDISK, u"OEMPROFILE.icm"},
        {"ICM off", QCP_DEVICEPROFILE, DMICMMETHOD_NONE, true, true, true, 32, S_OK, kSentinel, 32,
         QCP_PROFILEDISK, u""},
        {"31 bytes", QCP_DEVICEPROFILE, DMICMMETHOD_DEVICE, true, true, true, 31, E_FAIL, ERROR_INSUFFICIENT_BUFFER,
         32, kKeep, nullptr},
        {"size query", QCP_DEVICEPROFILE, DMICMMETHOD_DEVICE, false, true, true, 0, E_FAIL,
         ERROR_INSUFFICIENT_BUFFER, 32, kKeep, nullptr},
        {"source profile", QCP_SOURCEPROFILE, DMICMMETHOD_DEVICE, true, true, true, 32, E_FAIL, kSentinel, 32, kKeep,
         nullptr},
        {"mode 7", 7, DMICMMETHOD_DEVICE, true, true, true, 32, E_FAIL, kSentinel, 32, kKeep, nullptr},
        {"no public device mode", QCP_DEVICEPROFILE, 0, true, true, true, 32, E_FAIL, ERROR_INVALID_PARAMETER, 32,
         kKeep, nullptr},
        {"no size pointer", QCP_DEVICEPROFILE, DMICMMETHOD_DEVICE, true, false, true, 32, E_FAIL,
         ERROR_INVALID_PARAMETER, 32, kKeep, nullptr},
        {"no flag pointer", QCP_DEVICEPROFILE, DMICMMETHOD_DEVICE, true, true, false, 32, E_FAIL,
         ERROR_INVALID_PARAMETER, 32, kKeep, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        DEVMODEW dm = {};
        dm.dmSize = sizeof dm;
        dm.dmICMMethod = static_cast<DWORD>(c.icmMethod);
        unsigned char bytes[64 + 2];
        std::memset(bytes, 0x77, sizeof bytes);
        ULONG size = c.size;
        FLONG flags = kKeep;
        SetLastError(kSentinel);
        EXPECT_EQ(c.hr, plugin->QueryColorProfile(reinterpret_cast<HANDLE>(1), nullptr, c.icmMethod ? &dm : nullptr,
                                                  nullptr, c.mode, c.buffer ? bytes : nullptr,
                                                  c.sizePointer ? &size : nullptr, c.flagPointer ? &flags : nullptr));
        EXPECT_EQ(c.lastError, GetLastError());
        if (c.sizePointer) {
            EXPECT_EQ(c.sizeAfter, size);
        }
        EXPECT_EQ(c.flags, flags);
        size_t written = 0;
        if (c.text != nullptr) {
            std::u16string expected(c.text);
            written = (expected.size() + 1) * 2;
            std::u16string got;
            for (size_t i = 0; i + 1 < written; i += 2) got += char16_t(bytes[i] | bytes[i + 1] << 8);
            EXPECT_EQ(expected + u'\0', got);
        }
        for (size_t i = written; i < sizeof bytes; ++i) ASSERT_EQ(0x77, bytes[i]) << "byte " << i;
    }
    EXPECT_EQ(0u, plugin->Release());
}

// Slots the plug-in does not implement, and the three property-sheet slots
// that add nothing yet: E_NOTIMPL, nothing written, no last error.
TEST_F(PluginCom, UnimplementedSlotsTouchNothing) {
    IPrintOemUI *plugin = lib.CreatePlugin();
    ASSERT_NE(nullptr, plugin);
    std::vector<unsigned char> pattern(512, 0x77);
    auto bytes = pattern;
    void *p = bytes.data();
    DWORD result = kSentinel;
    struct Call {
        const char *what;
        HRESULT (*run)(IPrintOemUI *, void *, DWORD *);
    } calls[] = {
        {"DevQueryPrintEx",
         [](IPrintOemUI *o, void *b, DWORD *) {
             return o->DevQueryPrintEx(static_cast<POEMUIOBJ>(b), static_cast<PDEVQUERYPRINT_INFO>(b),
                                       static_cast<PDEVMODEW>(b), b);
         }},
        {"DeviceCapabilities",
         [](IPrintOemUI *o, void *b, DWORD *r) {
             return o->DeviceCapabilities(static_cast<POEMUIOBJ>(b), nullptr, static_cast<PWSTR>(b), DC_PAPERS, b,
                                          static_cast<PDEVMODEW>(b), b, 0, r);
         }},
        {"UpgradePrinter", [](IPrintOemUI *o, void *b, DWORD *) { return o->UpgradePrinter(1, static_cast<PBYTE>(b)); }},
        {"DriverEvent",
         [](IPrintOemUI *o, void *b, DWORD *) { return o->DriverEvent(1, 1, static_cast<LPBYTE>(b), 0); }},
        {"FontInstallerDlgProc",
         [](IPrintOemUI *o, void *b, DWORD *) {
             return o->FontInstallerDlgProc(nullptr, WM_INITDIALOG, 0, reinterpret_cast<LPARAM>(b));
         }},
        {"UpdateExternalFonts",
         [](IPrintOemUI *o, void *b, DWORD *) {
             return o->UpdateExternalFonts(nullptr, GetProcessHeap(), static_cast<PWSTR>(b));
         }},
    };
    for (const Call &c : calls) {
        SCOPED_TRACE(c.what);
        SetLastError(kSentinel);
        EXPECT_EQ(E_NOTIMPL, c.run(plugin, p, &result));
        EXPECT_EQ(kSentinel, GetLastError());
        EXPECT_EQ(kSentinel, result);
        EXPECT_TRUE(bytes == pattern) << "argument memory written";
    }
    EXPECT_EQ(0u, plugin->Release());
}

TEST_F(PluginCom, DevModeSlotForwards) {
    IPrintOemUI *plugin = lib.CreatePlugin();
    ASSERT_NE(nullptr, plugin);
    OEMDMPARAM param = {};
    param.cbSize = sizeof param;
    EXPECT_EQ(S_OK, plugin->DevMode(OEMDM_SIZE, &param));
    EXPECT_EQ(576u, param.cbBufSize);
    SetLastError(kSentinel);
    EXPECT_EQ(E_FAIL, plugin->DevMode(OEMDM_SIZE, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(0u, plugin->Release());
}

}  // namespace
