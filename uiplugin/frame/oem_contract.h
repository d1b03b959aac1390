#pragma once
// Our declarations of the printer-driver UI plug-in contract that the
// MinGW-w64 headers lack (interfaces, records, constants), with the
// platform's names. Every size and offset we rely on is asserted for both
// x86 and x64 so a layout slip fails the build, not the host.
#ifndef UNICODE
#error "UNICODE must be defined before any Windows header"
#endif

#include <windows.h>
#include <objbase.h>
#include <unknwn.h>
#include <winspool.h>
#include <winddiui.h>
#include <compstui.h>
#include <prsht.h>
#include <commdlg.h>
#include <cstddef>

// ---- GUIDs (definitions in exactly one translation unit: guids.cpp) ----
// {ABCE80D7-9F46-11D1-882A-00C04FB961EC}
DEFINE_GUID(CLSID_OEMUI, 0xABCE80D7, 0x9F46, 0x11D1, 0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC);
// {C6A7A9D0-774C-11D1-947F-00A0C90640B8}
DEFINE_GUID(IID_IPrintOemUI, 0xC6A7A9D0, 0x774C, 0x11D1, 0x94, 0x7F, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8);
// {92B05D50-78BC-11D1-9480-00A0C90640B8}
DEFINE_GUID(IID_IPrintOemDriverUI, 0x92B05D50, 0x78BC, 0x11D1, 0x94, 0x80, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8);

// ---- Constants ----
#define OEMGI_GETSIGNATURE 1
#define OEMGI_GETINTERFACEVERSION 2
#define OEMGI_GETVERSION 3
#define OEMGI_GETPUBLISHERINFO 4
#define OEMGI_GETREQUESTEDHELPERINTERFACES 5
#define PRINTER_OEMINTF_VERSION 0x00010000
#define OEM_MODE_PUBLISHER 1

#define OEMDM_SIZE 1
#define OEMDM_DEFAULT 2
#define OEMDM_CONVERT 3
#define OEMDM_MERGE 4

#define OEMCUIP_DOCPROP 1
#define OEMCUIP_PRNPROP 2

#define QCP_DEVICEPROFILE 0
#define QCP_SOURCEPROFILE 1
#define QCP_PROFILEMEMORY 1
#define QCP_PROFILEDISK 2

#ifndef PRINTER_EVENT_CONFIGURATION_CHANGE
#define PRINTER_EVENT_CONFIGURATION_CHANGE 0
#endif
#ifndef PRINTER_EVENT_CONFIGURATION_UPDATE
#define PRINTER_EVENT_CONFIGURATION_UPDATE 8
#endif
#ifndef PRINTER_EVENT_ADD_CONNECTION_NO_UI
#define PRINTER_EVENT_ADD_CONNECTION_NO_UI 9
#endif
#ifndef PRINTER_EVENT_DELETE_CONNECTION_NO_UI
#define PRINTER_EVENT_DELETE_CONNECTION_NO_UI 10
#endif

typedef ULONG FLONG;

// ---- Records ----
typedef struct _OEM_DMEXTRAHEADER {
    DWORD dwSize;
    DWORD dwSignature;
    DWORD dwVersion;
} OEM_DMEXTRAHEADER, *POEM_DMEXTRAHEADER;

typedef struct _PUBLISHERINFO {
    DWORD dwMode;
    WORD wMinoutlinePPEM;
    WORD wMaxbitmapPPEM;
} PUBLISHERINFO, *PPUBLISHERINFO;

typedef struct _OEMDMPARAM {
    DWORD cbSize;
    PVOID pdriverobj;
    HANDLE hPrinter;
    HANDLE hModule;
    PDEVMODEW pPublicDMIn;
    PDEVMODEW pPublicDMOut;
    PVOID pOEMDMIn;
    PVOID pOEMDMOut;
    DWORD cbBufSize;
} OEMDMPARAM, *POEMDMPARAM;

typedef struct _OEMUIPROCS {
    PVOID DrvGetDriverSetting;  // APIENTRY function pointers, never called by us
    PVOID DrvUpdateUISetting;
} OEMUIPROCS, *POEMUIPROCS;

typedef struct _OEMUIOBJ {
    DWORD cbSize;
    POEMUIPROCS pOemUIProcs;
} OEMUIOBJ, *POEMUIOBJ;

struct _OEMCUIPPARAM;
typedef LONG(APIENTRY *OEMCUIPCALLBACK)(PCPSUICBPARAM pCallbackParam, struct _OEMCUIPPARAM *pOEMUIParam);

typedef struct _OEMCUIPPARAM {
    DWORD cbSize;
    POEMUIOBJ poemuiobj;
    HANDLE hPrinter;
    PWSTR pPrinterName;
    HANDLE hModule;
    HANDLE hOEMHeap;
    PDEVMODEW pPublicDM;
    PVOID pOEMDM;
    DWORD dwFlags;
    POPTITEM pDrvOptItems;
    DWORD cDrvOptItems;
    POPTITEM pOEMOptItems;
    DWORD cOEMOptItems;
    PVOID pOEMUserData;
    OEMCUIPCALLBACK OEMCUIPCallback;
} OEMCUIPPARAM, *POEMCUIPPARAM;

typedef struct _OEMUIPSPARAM {
    DWORD cbSize;
    POEMUIOBJ poemuiobj;
    HANDLE hPrinter;
    PWSTR pPrinterName;
    HANDLE hModule;
    HANDLE hOEMHeap;
    PDEVMODEW pPublicDM;
    PVOID pOEMDM;
    PVOID pOEMUserData;
    DWORD dwFlags;
    PVOID pOemEntry;
} OEMUIPSPARAM, *POEMUIPSPARAM;

typedef struct _DEVQUERYPRINT_INFO {
    WORD cbSize;
    WORD Level;
    HANDLE hPrinter;
    DEVMODEW *pDevMode;
    LPWSTR pszErrorStr;
    DWORD cchErrorStr;
    DWORD cchNeeded;
} DEVQUERYPRINT_INFO, *PDEVQUERYPRINT_INFO;

// ---- Interfaces ----
// IPrintOemDriverUI: the system only holds and releases it.
struct IPrintOemDriverUI : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID pci, PCSTR Feature, PVOID pOutput, DWORD cbSize,
                                                          PDWORD pcbNeeded, PDWORD pdwOptionsReturned) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvUpgradeRegistrySetting(HANDLE hPrinter, PCSTR pFeature, PCSTR pOption) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvUpdateUISetting(PVOID pci, PVOID pOptItem, DWORD dwPreviousSelection,
                                                         DWORD dwMode) = 0;
};

// IPrintOemUI, 17 slots in vtable order. Slot 10 is DeviceCapabilities;
// wingdi.h renames it DeviceCapabilitiesW under UNICODE in every unit that
// sees windows.h, which leaves the slot where it is.
struct IPrintOemUI : public IUnknown {
    // IPrintOemCommon
    virtual HRESULT STDMETHODCALLTYPE GetInfo(DWORD dwMode, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE DevMode(DWORD dwMode, POEMDMPARAM pOemDMParam) = 0;
    // IPrintOemUI
    virtual HRESULT STDMETHODCALLTYPE PublishDriverInterface(IUnknown *pIUnknown) = 0;
    virtual HRESULT STDMETHODCALLTYPE CommonUIProp(DWORD dwMode, POEMCUIPPARAM pOemCUIPParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE DocumentPropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE DevicePropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE DevQueryPrintEx(POEMUIOBJ poemuiobj, PDEVQUERYPRINT_INFO pDQPInfo,
                                                      PDEVMODEW pPublicDM, PVOID pOEMDM) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeviceCapabilities(POEMUIOBJ poemuiobj, HANDLE hPrinter, PWSTR pDeviceName,
                                                         WORD wCapability, PVOID pOutput, PDEVMODEW pPublicDM,
                                                         PVOID pOEMDM, DWORD dwOld, DWORD *dwResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE UpgradePrinter(DWORD dwLevel, PBYTE pDriverUpgradeInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE PrinterEvent(PWSTR pPrinterName, INT iDriverEvent, DWORD dwFlags,
                                                   LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE DriverEvent(DWORD dwDriverEvent, DWORD dwLevel, LPBYTE pDriverInfo,
                                                  LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryColorProfile(HANDLE hPrinter, POEMUIOBJ poemuiobj, PDEVMODEW pPublicDM,
                                                        PVOID pOEMDM, ULONG ulQueryMode, VOID *pvProfileData,
                                                        ULONG *pcbProfileData, FLONG *pflProfileData) = 0;
    virtual HRESULT STDMETHODCALLTYPE FontInstallerDlgProc(HWND hWnd, UINT usMsg, WPARAM wParam, LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE UpdateExternalFonts(HANDLE hPrinter, HANDLE hHeap, PWSTR pwstrCartridges) = 0;
};

// ---- Layout checks: the host passes these records across the boundary ----
namespace qx_contract_checks {
constexpr bool x64 = sizeof(void *) == 8;
constexpr size_t pick(size_t a86, size_t a64) { return x64 ? a64 : a86; }
}  // namespace qx_contract_checks
#define QX_CHECK_SIZE(T, a86, a64) static_assert(sizeof(T) == qx_contract_checks::pick(a86, a64), "size of " #T)
#define QX_CHECK_OFF(T, f, a86, a64) \
    static_assert(offsetof(T, f) == qx_contract_checks::pick(a86, a64), "offset of " #T "::" #f)

QX_CHECK_SIZE(OEM_DMEXTRAHEADER, 12, 12);
QX_CHECK_OFF(OEM_DMEXTRAHEADER, dwSignature, 4, 4);
QX_CHECK_OFF(OEM_DMEXTRAHEADER, dwVersion, 8, 8);
QX_CHECK_SIZE(PUBLISHERINFO, 8, 8);
QX_CHECK_OFF(PUBLISHERINFO, wMaxbitmapPPEM, 6, 6);

QX_CHECK_SIZE(OEMDMPARAM, 36, 72);
QX_CHECK_OFF(OEMDMPARAM, pdriverobj, 4, 8);
QX_CHECK_OFF(OEMDMPARAM, hPrinter, 8, 16);
QX_CHECK_OFF(OEMDMPARAM, hModule, 12, 24);
QX_CHECK_OFF(OEMDMPARAM, pPublicDMIn, 16, 32);
QX_CHECK_OFF(OEMDMPARAM, pPublicDMOut, 20, 40);
QX_CHECK_OFF(OEMDMPARAM, pOEMDMIn, 24, 48);
QX_CHECK_OFF(OEMDMPARAM, pOEMDMOut, 28, 56);
QX_CHECK_OFF(OEMDMPARAM, cbBufSize, 32, 64);

QX_CHECK_SIZE(OEMUIPROCS, 8, 16);
QX_CHECK_SIZE(OEMUIOBJ, 8, 16);
QX_CHECK_OFF(OEMUIOBJ, pOemUIProcs, 4, 8);

QX_CHECK_SIZE(OEMCUIPPARAM, 60, 120);
QX_CHECK_OFF(OEMCUIPPARAM, poemuiobj, 4, 8);
QX_CHECK_OFF(OEMCUIPPARAM, hPrinter, 8, 16);
QX_CHECK_OFF(OEMCUIPPARAM, pPrinterName, 12, 24);
QX_CHECK_OFF(OEMCUIPPARAM, hModule, 16, 32);
QX_CHECK_OFF(OEMCUIPPARAM, hOEMHeap, 20, 40);
QX_CHECK_OFF(OEMCUIPPARAM, pPublicDM, 24, 48);
QX_CHECK_OFF(OEMCUIPPARAM, pOEMDM, 28, 56);
QX_CHECK_OFF(OEMCUIPPARAM, dwFlags, 32, 64);
QX_CHECK_OFF(OEMCUIPPARAM, pDrvOptItems, 36, 72);
QX_CHECK_OFF(OEMCUIPPARAM, cDrvOptItems, 40, 80);
QX_CHECK_OFF(OEMCUIPPARAM, pOEMOptItems, 44, 88);
QX_CHECK_OFF(OEMCUIPPARAM, cOEMOptItems, 48, 96);
QX_CHECK_OFF(OEMCUIPPARAM, pOEMUserData, 52, 104);
QX_CHECK_OFF(OEMCUIPPARAM, OEMCUIPCallback, 56, 112);

QX_CHECK_SIZE(OEMUIPSPARAM, 44, 88);
QX_CHECK_OFF(OEMUIPSPARAM, poemuiobj, 4, 8);
QX_CHECK_OFF(OEMUIPSPARAM, hPrinter, 8, 16);
QX_CHECK_OFF(OEMUIPSPARAM, pPrinterName, 12, 24);
QX_CHECK_OFF(OEMUIPSPARAM, hModule, 16, 32);
QX_CHECK_OFF(OEMUIPSPARAM, hOEMHeap, 20, 40);
QX_CHECK_OFF(OEMUIPSPARAM, pPublicDM, 24, 48);
QX_CHECK_OFF(OEMUIPSPARAM, pOEMDM, 28, 56);
QX_CHECK_OFF(OEMUIPSPARAM, pOEMUserData, 32, 64);
QX_CHECK_OFF(OEMUIPSPARAM, dwFlags, 36, 72);
QX_CHECK_OFF(OEMUIPSPARAM, pOemEntry, 40, 80);

QX_CHECK_SIZE(DEVQUERYPRINT_INFO, 24, 40);
QX_CHECK_OFF(DEVQUERYPRINT_INFO, Level, 2, 2);
QX_CHECK_OFF(DEVQUERYPRINT_INFO, hPrinter, 4, 8);
QX_CHECK_OFF(DEVQUERYPRINT_INFO, pDevMode, 8, 16);
QX_CHECK_OFF(DEVQUERYPRINT_INFO, pszErrorStr, 12, 24);
QX_CHECK_OFF(DEVQUERYPRINT_INFO, cchErrorStr, 16, 32);
QX_CHECK_OFF(DEVQUERYPRINT_INFO, cchNeeded, 20, 36);

// Platform records from MinGW's headers that the plug-in fills or reads.
QX_CHECK_SIZE(OPTITEM, 52, 88);
QX_CHECK_OFF(OPTITEM, Flags, 4, 4);
QX_CHECK_OFF(OPTITEM, pName, 12, 16);
QX_CHECK_OFF(OPTITEM, pOptType, 24, 40);
QX_CHECK_OFF(OPTITEM, DMPubID, 32, 52);
QX_CHECK_OFF(OPTITEM, dwReserved, 40, 64);
QX_CHECK_SIZE(CPSUICBPARAM, 32, 64);
QX_CHECK_OFF(CPSUICBPARAM, Reason, 2, 2);
QX_CHECK_OFF(CPSUICBPARAM, hDlg, 4, 8);
QX_CHECK_OFF(CPSUICBPARAM, pOptItem, 8, 16);
QX_CHECK_OFF(CPSUICBPARAM, pCurItem, 16, 32);
QX_CHECK_OFF(CPSUICBPARAM, Result, 28, 56);
QX_CHECK_SIZE(PROPSHEETUI_INFO, 28, 48);
QX_CHECK_OFF(PROPSHEETUI_INFO, Version, 2, 2);
QX_CHECK_OFF(PROPSHEETUI_INFO, Reason, 6, 6);
QX_CHECK_OFF(PROPSHEETUI_INFO, hComPropSheet, 8, 8);
QX_CHECK_OFF(PROPSHEETUI_INFO, pfnComPropSheet, 12, 16);
QX_CHECK_OFF(PROPSHEETUI_INFO, lParamInit, 16, 24);
QX_CHECK_OFF(PROPSHEETUI_INFO, Result, 24, 40);
QX_CHECK_SIZE(PROPSHEETUI_INFO_HEADER, 20, 40);
QX_CHECK_OFF(PROPSHEETUI_INFO_HEADER, Flags, 2, 2);
QX_CHECK_OFF(PROPSHEETUI_INFO_HEADER, pTitle, 4, 8);
QX_CHECK_OFF(PROPSHEETUI_INFO_HEADER, hWndParent, 8, 16);
QX_CHECK_OFF(PROPSHEETUI_INFO_HEADER, hInst, 12, 24);
QX_CHECK_SIZE(SETRESULT_INFO, 12, 24);
QX_CHECK_OFF(SETRESULT_INFO, hSetResult, 4, 8);
QX_CHECK_OFF(SETRESULT_INFO, Result, 8, 16);
QX_CHECK_SIZE(PROPSHEETPAGEW, 52, 96);
QX_CHECK_OFF(PROPSHEETPAGEW, dwFlags, 4, 4);
QX_CHECK_OFF(PROPSHEETPAGEW, hInstance, 8, 8);
QX_CHECK_OFF(PROPSHEETPAGEW, pszTemplate, 12, 16);
QX_CHECK_OFF(PROPSHEETPAGEW, pszTitle, 20, 32);
QX_CHECK_OFF(PROPSHEETPAGEW, pfnDlgProc, 24, 40);
QX_CHECK_OFF(PROPSHEETPAGEW, lParam, 28, 48);
QX_CHECK_OFF(PROPSHEETPAGEW, hActCtx, 48, 88);
QX_CHECK_SIZE(NMHDR, 12, 24);
QX_CHECK_OFF(NMHDR, code, 8, 16);
QX_CHECK_SIZE(DEVMODEW, 220, 220);
QX_CHECK_OFF(DEVMODEW, dmSize, 68, 68);
QX_CHECK_OFF(DEVMODEW, dmDriverExtra, 70, 70);
QX_CHECK_OFF(DEVMODEW, dmFields, 72, 72);
QX_CHECK_OFF(DEVMODEW, dmOrientation, 76, 76);
QX_CHECK_OFF(DEVMODEW, dmPaperSize, 78, 78);
QX_CHECK_OFF(DEVMODEW, dmPaperLength, 80, 80);
QX_CHECK_OFF(DEVMODEW, dmPaperWidth, 82, 82);
QX_CHECK_OFF(DEVMODEW, dmFormName, 102, 102);
QX_CHECK_OFF(DEVMODEW, dmICMMethod, 188, 188);
QX_CHECK_SIZE(DEVMODEA, 156, 156);
QX_CHECK_OFF(DEVMODEA, dmFields, 40, 40);
QX_CHECK_OFF(DEVMODEA, dmPaperSize, 46, 46);
QX_CHECK_OFF(DEVMODEA, dmPaperLength, 48, 48);
QX_CHECK_OFF(DEVMODEA, dmPaperWidth, 50, 50);
QX_CHECK_OFF(DEVMODEA, dmFormName, 70, 70);
QX_CHECK_SIZE(PRINTER_INFO_2W, 84, 136);
QX_CHECK_OFF(PRINTER_INFO_2W, pPrinterName, 4, 8);
QX_CHECK_OFF(PRINTER_INFO_2W, pPortName, 12, 24);
QX_CHECK_OFF(PRINTER_INFO_2W, pDevMode, 28, 56);
QX_CHECK_OFF(PRINTER_INFO_2W, pPrintProcessor, 36, 72);
QX_CHECK_OFF(PRINTER_INFO_2W, Attributes, 52, 104);
QX_CHECK_SIZE(PRINTER_DEFAULTSW, 12, 24);
QX_CHECK_OFF(PRINTER_DEFAULTSW, pDevMode, 4, 8);
QX_CHECK_OFF(PRINTER_DEFAULTSW, DesiredAccess, 8, 16);
QX_CHECK_SIZE(OPENFILENAMEW, 88, 152);
QX_CHECK_OFF(OPENFILENAMEW, hwndOwner, 4, 8);
QX_CHECK_OFF(OPENFILENAMEW, lpstrFilter, 12, 24);
QX_CHECK_OFF(OPENFILENAMEW, nFilterIndex, 24, 44);
QX_CHECK_OFF(OPENFILENAMEW, lpstrFile, 28, 48);
QX_CHECK_OFF(OPENFILENAMEW, nMaxFile, 32, 56);
QX_CHECK_OFF(OPENFILENAMEW, Flags, 52, 96);
QX_CHECK_OFF(OPENFILENAMEW, lpstrDefExt, 60, 104);
QX_CHECK_OFF(OPENFILENAMEW, FlagsEx, 84, 148);
QX_CHECK_SIZE(BITMAPFILEHEADER, 14, 14);
QX_CHECK_OFF(BITMAPFILEHEADER, bfSize, 2, 2);
QX_CHECK_OFF(BITMAPFILEHEADER, bfOffBits, 10, 10);
QX_CHECK_SIZE(BITMAPINFOHEADER, 40, 40);
QX_CHECK_OFF(BITMAPINFOHEADER, biBitCount, 14, 14);
QX_CHECK_OFF(BITMAPINFOHEADER, biCompression, 16, 16);

static_assert(PSN_SETACTIVE == (UINT)-200 && PSN_KILLACTIVE == (UINT)-201 && PSN_APPLY == (UINT)-202, "PSN codes");
static_assert(PSM_CHANGED == 0x468 && PSM_UNCHANGED == 0x46D, "PSM codes");
static_assert(CPSFUNC_ADD_PROPSHEETPAGEW == 1 && CPSFUNC_GET_PAGECOUNT == 8 && CPSFUNC_SET_RESULT == 9, "CPSFUNC");
static_assert(CPSUICB_REASON_APPLYNOW == 6 && CPSUICB_REASON_SETACTIVE == 10, "CPSUICB reasons");
static_assert(PROPSHEETUI_INFO_VERSION == 0x0100, "PROPSHEETUI_INFO_VERSION");
static_assert(PRINTER_ALL_ACCESS == 0xF000C, "PRINTER_ALL_ACCESS");
static_assert((OFN_READONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST) == 6145, "open flags");
static_assert((OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST) == 2050, "save flags");

#undef QX_CHECK_SIZE
#undef QX_CHECK_OFF
