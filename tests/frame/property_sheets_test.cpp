// Option items, common-UI callbacks and page registration of the real
// QX748UI.dll, driven as the printer driver UI drives them, with a
// recording common property sheet function.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

#include "tests/frame/plugin_library.h"
#include "tests/support/failing_malloc.h"
#include "uiplugin/resources/resource_ids.h"
#include "uiplugin/frame/property_sheets.h"

#include <commctrl.h>
#include <prsht.h>

namespace {

using qxtest::PluginLibrary;

constexpr DWORD kSentinel = 0xDEADBEEF;
const HANDLE kSheet = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x51E7));
constexpr LONG_PTR kNewPageHandle = 0x7A6E;
constexpr LONG_PTR kPageCount = 7;

// What the plug-in asked of the sheet; the page record is copied while the
// call runs, since it lives on the plug-in's stack.
struct SheetCall {
    HANDLE sheet;
    UINT function;
    LPARAM lParam1, lParam2;
    PROPSHEETPAGEW page;
};
std::vector<SheetCall> sheetCalls;
LONG_PTR addResult = kNewPageHandle;

LONG_PTR CALLBACK RecordingComPropSheet(HANDLE sheet, UINT function, LPARAM lParam1, LPARAM lParam2) {
    SheetCall call{sheet, function, lParam1, lParam2, {}};
    if (function == CPSFUNC_ADD_PROPSHEETPAGEW && lParam1 != 0)
        std::memcpy(&call.page, reinterpret_cast<const void *>(lParam1), sizeof call.page);
    sheetCalls.push_back(call);
    switch (function) {
    case CPSFUNC_ADD_PROPSHEETPAGEW: return addResult;
    case CPSFUNC_GET_PAGECOUNT: return kPageCount;
    default: return 0;
    }
}

HMODULE ModuleOf(const void *address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(address), &module);
    return module;
}

class PropertySheets : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.loaded());
        plugin = lib.CreatePlugin();
        ASSERT_NE(nullptr, plugin);
        sheetCalls.clear();
        addResult = kNewPageHandle;
        heap = HeapCreate(0, 0, 0);
        ASSERT_NE(nullptr, heap);
        std::memset(privateDevMode, 0, sizeof privateDevMode);
    }
    void TearDown() override {
        if (plugin != nullptr) {
            EXPECT_EQ(0u, plugin->Release());
        }
        if (heap != nullptr) HeapDestroy(heap);
    }
    PROPSHEETUI_INFO SheetInfo(WORD reason, LPARAM lParamInit = 0) {
        PROPSHEETUI_INFO info = {};
        info.cbSize = sizeof info;
        info.Version = PROPSHEETUI_INFO_VERSION;
        info.Reason = reason;
        info.hComPropSheet = kSheet;
        info.pfnComPropSheet = RecordingComPropSheet;
        info.lParamInit = lParamInit;
        info.Result = static_cast<LONG_PTR>(kSentinel);
        return info;
    }
    OEMUIPSPARAM SheetParam() {
        OEMUIPSPARAM param = {};
        param.cbSize = sizeof param;
        param.hOEMHeap = heap;
        param.pOEMDM = privateDevMode;
        return param;
    }

    PluginLibrary &lib = PluginLibrary::Get();
    IPrintOemUI *plugin = nullptr;
    HANDLE heap = nullptr;
    unsigned char privateDevMode[576];
};

TEST_F(PropertySheets, DocumentItemsAreCountedThenBlankedWithTheirSize) {
    OEMCUIPPARAM param = {};
    param.cbSize = sizeof param;
    EXPECT_EQ(S_OK, plugin->CommonUIProp(OEMCUIP_DOCPROP, &param));
    EXPECT_EQ(3u, param.cOEMOptItems);
    EXPECT_EQ(nullptr, param.OEMCUIPCallback);

    // Three items and one more behind them that is not ours.
    std::vector<OPTITEM> items(4);
    std::memset(items.data(), 0xCC, items.size() * sizeof(OPTITEM));
    param.pOEMOptItems = items.data();
    EXPECT_EQ(S_OK, plugin->CommonUIProp(OEMCUIP_DOCPROP, &param));
    ASSERT_NE(nullptr, param.OEMCUIPCallback);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        OPTITEM expected;
        std::memset(&expected, 0, sizeof expected);
        expected.cbSize = sizeof(OPTITEM);  // 52 on x86
        expected.DMPubID = DMPUB_NONE;
        EXPECT_EQ(0, std::memcmp(&expected, &items[i], sizeof expected));
    }
    const auto *tail = reinterpret_cast<const unsigned char *>(&items[3]);
    for (size_t i = 0; i < sizeof(OPTITEM); ++i) ASSERT_EQ(0xCC, tail[i]) << "byte " << i << " of the 4th item";

    // A count of 0 with items initialises nothing.
    std::memset(items.data(), 0xCC, sizeof(OPTITEM));
    param.cOEMOptItems = 0;
    EXPECT_EQ(S_OK, plugin->CommonUIProp(OEMCUIP_DOCPROP, &param));
    EXPECT_EQ(0xCC, reinterpret_cast<const unsigned char *>(&items[0])[0]);
}

TEST_F(PropertySheets, PrinterSheetAsksForNoItemsAndTouchesNone) {
    OEMCUIPPARAM param = {};
    param.cbSize = sizeof param;
    param.cOEMOptItems = 5;
    EXPECT_EQ(S_OK, plugin->CommonUIProp(OEMCUIP_PRNPROP, &param));
    EXPECT_EQ(0u, param.cOEMOptItems);

    std::vector<unsigned char> items(2 * sizeof(OPTITEM), 0xCC);
    param.pOEMOptItems = reinterpret_cast<POPTITEM>(items.data());
    param.cOEMOptItems = 2;
    EXPECT_EQ(S_OK, plugin->CommonUIProp(OEMCUIP_PRNPROP, &param));
    ASSERT_NE(nullptr, param.OEMCUIPCallback);
    EXPECT_EQ(std::vector<unsigned char>(items.size(), 0xCC), items);

    // The printer callback is inert for every reason.
    param.pOEMDM = privateDevMode;
    CPSUICBPARAM cb = {};
    cb.cbSize = sizeof cb;
    for (WORD reason : {WORD(CPSUICB_REASON_APPLYNOW), WORD(CPSUICB_REASON_SETACTIVE), WORD(0)}) {
        cb.Reason = reason;
        EXPECT_EQ(CPSUICB_ACTION_NONE, param.OEMCUIPCallback(&cb, &param)) << reason;
    }
    EXPECT_EQ(std::vector<unsigned char>(576, 0), std::vector<unsigned char>(privateDevMode, privateDevMode + 576));
}

TEST_F(PropertySheets, UnknownModeAndNullRecordFail) {
    OEMCUIPPARAM param = {};
    param.cbSize = sizeof param;
    param.cOEMOptItems = 9;
    SetLastError(kSentinel);
    EXPECT_EQ(E_FAIL, plugin->CommonUIProp(3, &param));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(9u, param.cOEMOptItems);
    for (DWORD mode : {DWORD(OEMCUIP_DOCPROP), DWORD(OEMCUIP_PRNPROP)}) {
        SetLastError(kSentinel);
        EXPECT_EQ(E_FAIL, plugin->CommonUIProp(mode, nullptr));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    }
}

TEST_F(PropertySheets, DocumentCallbackMarksApplyAndAsksForRefreshOnActivation) {
    OEMCUIPPARAM param = {};
    param.cbSize = sizeof param;
    OPTITEM items[3];
    param.pOEMOptItems = items;
    param.cOEMOptItems = 3;
    ASSERT_EQ(S_OK, plugin->CommonUIProp(OEMCUIP_DOCPROP, &param));
    param.pOEMDM = privateDevMode;
    const std::vector<unsigned char> zeros(576, 0);
    auto record = [&] { return std::vector<unsigned char>(privateDevMode, privateDevMode + 576); };

    CPSUICBPARAM cb = {};
    cb.cbSize = sizeof cb;
    cb.Reason = CPSUICB_REASON_SETACTIVE;
    EXPECT_EQ(CPSUICB_ACTION_OPTIF_CHANGED, param.OEMCUIPCallback(&cb, &param));
    cb.Reason = 0;
    EXPECT_EQ(CPSUICB_ACTION_NONE, param.OEMCUIPCallback(&cb, &param));
    EXPECT_EQ(zeros, record());

    cb.Reason = CPSUICB_REASON_APPLYNOW;
    EXPECT_EQ(CPSUICB_ACTION_NONE, param.OEMCUIPCallback(&cb, &param));
    auto expected = zeros;
    expected[572] = 1;  // appliedFlag, and nothing else
    EXPECT_EQ(expected, record());

    // Null records: nothing written, nothing dereferenced.
    std::memset(privateDevMode, 0, sizeof privateDevMode);
    EXPECT_EQ(CPSUICB_ACTION_NONE, param.OEMCUIPCallback(nullptr, &param));
    EXPECT_EQ(CPSUICB_ACTION_NONE, param.OEMCUIPCallback(&cb, nullptr));
    param.pOEMDM = nullptr;
    EXPECT_EQ(CPSUICB_ACTION_NONE, param.OEMCUIPCallback(&cb, &param));
    EXPECT_EQ(zeros, record());
}

TEST_F(PropertySheets, BadSheetInfoAddsNothing) {
    OEMUIPSPARAM sheetParam = SheetParam();
    for (bool printer : {false, true}) {
        SCOPED_TRACE(printer ? "printer" : "document");
        PROPSHEETUI_INFO info = SheetInfo(PROPSHEETUI_REASON_INIT, reinterpret_cast<LPARAM>(&sheetParam));
        info.Version = 0x0101;
        SetLastError(kSentinel);
        HRESULT hr = printer ? plugin->DevicePropertySheets(&info, 0) : plugin->DocumentPropertySheets(&info, 0);
        EXPECT_EQ(E_FAIL, hr);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
        EXPECT_EQ(static_cast<LONG_PTR>(kSentinel), info.Result);
        SetLastError(kSentinel);
        hr = printer ? plugin->DevicePropertySheets(nullptr, 0) : plugin->DocumentPropertySheets(nullptr, 0);
        EXPECT_EQ(E_FAIL, hr);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    }
    EXPECT_TRUE(sheetCalls.empty());
}

TEST_F(PropertySheets, DocumentInitAddsTheColorPageWithItsContext) {
    privateDevMode[12] = 4;  // brightness
    privateDevMode[12 + 14] = 0x33;  // reserved: carried into the copy as well
    privateDevMode[12 + 36] = 1;     // orderIdEnabled
    OEMUIPSPARAM sheetParam = SheetParam();
    PROPSHEETUI_INFO info = SheetInfo(PROPSHEETUI_REASON_INIT, reinterpret_cast<LPARAM>(&sheetParam));
    ASSERT_EQ(S_OK, plugin->DocumentPropertySheets(&info, 0));
    EXPECT_EQ(kPageCount, info.Result);

    ASSERT_EQ(2u, sheetCalls.size());
    const SheetCall &add = sheetCalls[0];
    EXPECT_EQ(kSheet, add.sheet);
    EXPECT_EQ(static_cast<UINT>(CPSFUNC_ADD_PROPSHEETPAGEW), add.function);
    EXPECT_EQ(0, add.lParam2);
    EXPECT_EQ(sizeof(PROPSHEETPAGEW), add.page.dwSize);
    EXPECT_EQ(0u, add.page.dwFlags);
    EXPECT_EQ(lib.module, add.page.hInstance);
    EXPECT_EQ(MAKEINTRESOURCEW(120), add.page.pszTemplate);
    EXPECT_EQ(lib.module, ModuleOf(reinterpret_cast<const void *>(add.page.pfnDlgProc)));
    EXPECT_EQ(nullptr, add.page.pszTitle);
    EXPECT_EQ(kSheet, sheetCalls[1].sheet);
    EXPECT_EQ(static_cast<UINT>(CPSFUNC_GET_PAGECOUNT), sheetCalls[1].function);
    EXPECT_EQ(0, sheetCalls[1].lParam1);
    EXPECT_EQ(0, sheetCalls[1].lParam2);

    // The context: a 576-byte block of the driver's heap, zero past its fields.
    auto *context = reinterpret_cast<ColorPageContext *>(add.page.lParam);
    ASSERT_NE(nullptr, context);
    EXPECT_EQ(576u, HeapSize(heap, 0, context));
    EXPECT_EQ(kSheet, context->hComPropSheet);
    EXPECT_EQ(kNewPageHandle, reinterpret_cast<LONG_PTR>(context->pageHandle));
    EXPECT_EQ(&sheetParam, context->sheetParam);
    EXPECT_EQ(reinterpret_cast<void *>(RecordingComPropSheet), reinterpret_cast<void *>(context->pfnComPropSheet));
    EXPECT_EQ(0, std::memcmp(&context->appliedSettings, privateDevMode + 12, 40));
    EXPECT_EQ(4, context->appliedSettings.brightness);
    const auto *bytes = reinterpret_cast<const unsigned char *>(context);
    for (size_t i = sizeof(ColorPageContext); i < 576; ++i) ASSERT_EQ(0, bytes[i]) << "byte " << i;

    // The plug-in never frees it, not even when the sheet goes away.
    PROPSHEETUI_INFO destroy = SheetInfo(PROPSHEETUI_REASON_DESTROY);
    EXPECT_EQ(S_OK, plugin->DocumentPropertySheets(&destroy, 0));
    EXPECT_EQ(1, destroy.Result);
    EXPECT_EQ(576u, HeapSize(heap, 0, context));
    EXPECT_EQ(kNewPageHandle, reinterpret_cast<LONG_PTR>(context->pageHandle));
}

TEST_F(PropertySheets, DocumentInitWithoutHeapMemoryAddsNoPage) {
    // A heap too small for the block: the page cannot be added, the sheet
    // still gets its page count.
    HANDLE tiny = HeapCreate(HEAP_NO_SERIALIZE, 4096, 4096);
    ASSERT_NE(nullptr, tiny);
    while (HeapAlloc(tiny, 0, 256) != nullptr) {
    }
    OEMUIPSPARAM sheetParam = SheetParam();
    sheetParam.hOEMHeap = tiny;
    PROPSHEETUI_INFO info = SheetInfo(PROPSHEETUI_REASON_INIT, reinterpret_cast<LPARAM>(&sheetParam));
    EXPECT_EQ(S_OK, plugin->DocumentPropertySheets(&info, 0));
    EXPECT_EQ(kPageCount, info.Result);
    ASSERT_EQ(1u, sheetCalls.size());
    EXPECT_EQ(static_cast<UINT>(CPSFUNC_GET_PAGECOUNT), sheetCalls[0].function);
    HeapDestroy(tiny);
}

TEST_F(PropertySheets, PrinterInitAddsTheVersionPageAndReportsItsHandle) {
    PROPSHEETUI_INFO info = SheetInfo(PROPSHEETUI_REASON_INIT);
    ASSERT_EQ(S_OK, plugin->DevicePropertySheets(&info, 0));
    EXPECT_EQ(kNewPageHandle, info.Result);
    ASSERT_EQ(1u, sheetCalls.size());
    const SheetCall &add = sheetCalls[0];
    EXPECT_EQ(static_cast<UINT>(CPSFUNC_ADD_PROPSHEETPAGEW), add.function);
    EXPECT_EQ(sizeof(PROPSHEETPAGEW), add.page.dwSize);
    EXPECT_EQ(0u, add.page.dwFlags);
    EXPECT_EQ(lib.module, add.page.hInstance);
    EXPECT_EQ(MAKEINTRESOURCEW(106), add.page.pszTemplate);
    EXPECT_EQ(0, add.page.lParam);
    EXPECT_EQ(lib.module, ModuleOf(reinterpret_cast<const void *>(add.page.pfnDlgProc)));

    // A failed add is passed on as it came.
    sheetCalls.clear();
    addResult = 0;
    info = SheetInfo(PROPSHEETUI_REASON_INIT);
    ASSERT_EQ(S_OK, plugin->DevicePropertySheets(&info, 0));
    EXPECT_EQ(0, info.Result);
}

TEST_F(PropertySheets, OtherReasonsOfBothSheets) {
    struct Case {
        WORD reason;
        LONG_PTR document, printer;  // expected Result; -1: the lParam itself
    };
    SETRESULT_INFO setResult = {};
    setResult.cbSize = sizeof setResult;
    setResult.Result = 1;
    for (bool printer : {false, true}) {
        SCOPED_TRACE(printer ? "printer" : "document");
        auto run = [&](WORD reason, LPARAM lParam) {
            PROPSHEETUI_INFO info = SheetInfo(reason);
            EXPECT_EQ(S_OK, printer ? plugin->DevicePropertySheets(&info, lParam)
                                    : plugin->DocumentPropertySheets(&info, lParam));
            return info.Result;
        };
        PROPSHEETUI_INFO_HEADER header = {};
        header.cbSize = sizeof header;
        header.pTitle = const_cast<LPWSTR>(L"untouched");
        EXPECT_EQ(1, run(PROPSHEETUI_REASON_GET_INFO_HEADER, reinterpret_cast<LPARAM>(&header)));
        if (printer) {
            ASSERT_NE(nullptr, header.pTitle);
            EXPECT_STREQ(L"OEM UI Page", header.pTitle);
        } else {
            EXPECT_EQ(nullptr, header.pTitle);
        }
        EXPECT_EQ(1, run(PROPSHEETUI_REASON_DESTROY, 0));
        EXPECT_EQ(1, run(PROPSHEETUI_REASON_SET_RESULT, reinterpret_cast<LPARAM>(&setResult)));
        setResult.Result = 0x44;
        EXPECT_EQ(0x44, run(PROPSHEETUI_REASON_SET_RESULT, reinterpret_cast<LPARAM>(&setResult)));
        setResult.Result = 1;
        EXPECT_EQ(0, run(PROPSHEETUI_REASON_GET_ICON, 0x99));
        EXPECT_EQ(printer ? 0 : 0x1234, run(7, 0x1234));
    }
    EXPECT_TRUE(sheetCalls.empty());
}

// Out of memory inside the DLL nothing unwinds into the host. The factory
// that cannot be made is E_OUTOFMEMORY; the Version page, refreshed with
// one allocation after another of the DLL refused, each time still fills
// its texts, with the fixed fallback where a text could not be built (a
// file time unknown).
TEST_F(PropertySheets, OutOfMemoryInsideTheDllStaysInside) {
    IClassFactory *factory = nullptr;
    {
        qxtest::FailingMalloc failing(lib.module, 0);
        ASSERT_TRUE(failing.armed()) << "no malloc import to refuse in the DLL";
        EXPECT_EQ(E_OUTOFMEMORY, lib.getClassObject(CLSID_OEMUI, IID_IClassFactory, reinterpret_cast<void **>(&factory)));
        EXPECT_EQ(nullptr, factory);
        EXPECT_EQ(1, qxtest::FailingMalloc::calls());
    }

    PROPSHEETUI_INFO info = SheetInfo(PROPSHEETUI_REASON_INIT);
    ASSERT_EQ(S_OK, plugin->DevicePropertySheets(&info, 0));
    ASSERT_EQ(1u, sheetCalls.size());
    PROPSHEETPAGEW page = sheetCalls[0].page;
    wchar_t stateTexts[2][64] = {};
    ASSERT_GT(LoadStringW(lib.module, IDS_PRINTER_DRIVER, stateTexts[0], 64), 0);
    ASSERT_GT(LoadStringW(lib.module, IDS_PRINTER_DRIVER_NO_ERRORS, stateTexts[1], 64), 0);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    HPROPSHEETPAGE handle = CreatePropertySheetPageW(&page);
    ASSERT_NE(nullptr, handle);
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS | PSH_NOCONTEXTHELP;
    header.pszCaption = L"out of memory";
    header.nPages = 1;
    header.phpage = &handle;
    HWND sheet = reinterpret_cast<HWND>(PropertySheetW(&header));
    ASSERT_TRUE(IsWindow(sheet)) << "error " << GetLastError();
    HWND versionPage = PropSheet_GetCurrentPageHwnd(sheet);
    ASSERT_NE(nullptr, versionPage);
    const int kTimes[] = {IDC_GPD_TIME, IDC_UI_TIME, IDC_RENDER_TIME, IDC_MONITOR_TIME, IDC_PRTPROC_TIME};

    int refusedPlaces = 0;
    for (LONG served = 0; served < 200; ++served) {
        for (int id : kTimes) SetDlgItemTextW(versionPage, id, L"stale");
        SetDlgItemTextW(versionPage, IDC_ERROR_MSG_STATE, L"stale");
        NMHDR activated = {sheet, 0, static_cast<UINT>(PSN_SETACTIVE)};
        {
            qxtest::FailingMalloc failing(lib.module, served);
            SendMessageW(versionPage, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&activated));
            if (qxtest::FailingMalloc::calls() == 0) break;  // the refresh needs fewer: every place was tried
        }
        ++refusedPlaces;
        for (int id : kTimes) {
            wchar_t text[64] = L"";
            GetDlgItemTextW(versionPage, id, text, 64);
            EXPECT_STREQ(L"   0/00/00 00:00", text) << "control " << id << ", allocation " << served << " refused";
        }
        wchar_t state[64] = L"";
        GetDlgItemTextW(versionPage, IDC_ERROR_MSG_STATE, state, 64);
        EXPECT_TRUE(std::wcscmp(state, stateTexts[0]) == 0 || std::wcscmp(state, stateTexts[1]) == 0)
            << "allocation " << served << " refused";
    }
    EXPECT_GT(refusedPlaces, 0) << "the refresh asked for no memory: nothing was tested";
    DestroyWindow(sheet);
}

}  // namespace
