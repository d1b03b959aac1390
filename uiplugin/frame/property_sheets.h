#pragma once
// The three property-sheet slots of the plug-in object forward here.
#include "uiplugin/frame/oem_contract.h"

#include "uiplugin/settings/private_devmode.h"

// One per Color correction page: how the page reaches the sheet and the
// PrivateDevMode it edits. Allocated zero-filled from the driver's heap when
// the page is added and never freed by the plug-in (it lives as long as
// that heap).
struct ColorPageContext {
    HANDLE hComPropSheet;
    HANDLE pageHandle;  // what the add-page call returned for this page
    POEMUIPSPARAM sheetParam;
    PFNCOMPROPSHEET pfnComPropSheet;
    qx::CorrectionSettings appliedSettings;  // as of the last Apply
};
// The host contract promises 576 bytes for the block.
constexpr SIZE_T kColorPageContextBytes = 576;
static_assert(sizeof(ColorPageContext) <= kColorPageContextBytes, "context fits its block");

HRESULT HandleCommonUIProp(DWORD dwMode, POEMCUIPPARAM pOemCUIPParam);
LONG APIENTRY DocumentItemsCallback(PCPSUICBPARAM pCallbackParam, POEMCUIPPARAM pOEMUIParam);
LONG APIENTRY PrinterItemsCallback(PCPSUICBPARAM pCallbackParam, POEMCUIPPARAM pOEMUIParam);
// driverHelper is handed on from the plug-in object and not used.
HRESULT AddDocumentPages(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam, IPrintOemDriverUI *driverHelper);
HRESULT AddPrinterPages(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam);
