// Property-sheet registration: three blank option items for the document
// sheet, the Color correction page with its context, the Version page.
#include "uiplugin/frame/property_sheets.h"

#include <cstring>

#include "uiplugin/correction/page/color_page.h"
#include "uiplugin/frame/module.h"
#include "uiplugin/resources/resource_ids.h"
#include "uiplugin/version/version_page.h"

namespace {

constexpr DWORD kDocumentItemCount = 3;

bool ValidSheetInfo(PPROPSHEETUI_INFO info) {
    if (info == nullptr || info->Version != PROPSHEETUI_INFO_VERSION) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

PROPSHEETPAGEW PageRecord(WORD templateId, DLGPROC procedure, LPARAM lParam) {
    PROPSHEETPAGEW page;
    std::memset(&page, 0, sizeof page);
    page.dwSize = sizeof page;
    page.dwFlags = 0;  // tab titles come from the templates' captions
    page.hInstance = moduleInstance;
    page.pszTemplate = MAKEINTRESOURCEW(templateId);
    page.pfnDlgProc = procedure;
    page.lParam = lParam;
    return page;
}

}  // namespace

HRESULT HandleCommonUIProp(DWORD dwMode, POEMCUIPPARAM pOemCUIPParam) {
    if ((dwMode != OEMCUIP_DOCPROP && dwMode != OEMCUIP_PRNPROP) || pOemCUIPParam == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    if (dwMode == OEMCUIP_PRNPROP) {
        if (pOemCUIPParam->pOEMOptItems == nullptr)
            pOemCUIPParam->cOEMOptItems = 0;
        else
            pOemCUIPParam->OEMCUIPCallback = PrinterItemsCallback;
        return S_OK;
    }
    if (pOemCUIPParam->pOEMOptItems == nullptr) {
        pOemCUIPParam->cOEMOptItems = kDocumentItemCount;
        return S_OK;
    }
    pOemCUIPParam->OEMCUIPCallback = DocumentItemsCallback;
    // The items carry nothing but their size: no name, type or selection.
    POPTITEM items = pOemCUIPParam->pOEMOptItems;
    for (DWORD i = 0; i < pOemCUIPParam->cOEMOptItems; ++i) {
        std::memset(&items[i], 0, sizeof(OPTITEM));
        items[i].cbSize = sizeof(OPTITEM);
        items[i].DMPubID = DMPUB_NONE;
    }
    return S_OK;
}

LONG APIENTRY DocumentItemsCallback(PCPSUICBPARAM pCallbackParam, POEMCUIPPARAM pOEMUIParam) {
    if (pCallbackParam == nullptr) return CPSUICB_ACTION_NONE;
    switch (pCallbackParam->Reason) {
    case CPSUICB_REASON_APPLYNOW:
        if (pOEMUIParam == nullptr || pOEMUIParam->pOEMDM == nullptr) return CPSUICB_ACTION_NONE;
        {
            const uint32_t applied = 1;
            std::memcpy(static_cast<unsigned char *>(pOEMUIParam->pOEMDM) + qx::pdm::kAppliedFlag, &applied,
                        sizeof applied);
        }
        return CPSUICB_ACTION_NONE;
    case CPSUICB_REASON_SETACTIVE:
        return CPSUICB_ACTION_OPTIF_CHANGED;
    default:
        return CPSUICB_ACTION_NONE;
    }
}

LONG APIENTRY PrinterItemsCallback(PCPSUICBPARAM, POEMCUIPPARAM) { return CPSUICB_ACTION_NONE; }

HRESULT AddDocumentPages(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam, IPrintOemDriverUI *) {
    if (!ValidSheetInfo(pPSUIInfo)) return E_FAIL;
    LONG_PTR result = 0;
    switch (pPSUIInfo->Reason) {
    case PROPSHEETUI_REASON_INIT: {
        auto *sheetParam = reinterpret_cast<POEMUIPSPARAM>(pPSUIInfo->lParamInit);
        if (sheetParam == nullptr || sheetParam->pOEMDM == nullptr || pPSUIInfo->pfnComPropSheet == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return E_FAIL;
        }
        // Without a context the page could not reach its settings: it is
        // not added, and the sheet goes on with the pages it has.
        auto *context = static_cast<ColorPageContext *>(
            sheetParam->hOEMHeap != nullptr ? HeapAlloc(sheetParam->hOEMHeap, HEAP_ZERO_MEMORY, kColorPageContextBytes)
                                            : nullptr);
        if (context != nullptr) {
            PROPSHEETPAGEW page =
                PageRecord(IDD_COLOR_PAGE, ColorPageProc, reinterpret_cast<LPARAM>(context));
            context->hComPropSheet = pPSUIInfo->hComPropSheet;
            context->pfnComPropSheet = pPSUIInfo->pfnComPropSheet;
            context->appliedSettings = qx::ReadCorrectionSettings(
                static_cast<const unsigned char *>(sheetParam->pOEMDM) + qx::pdm::kSettings);
            context->sheetParam = sheetParam;
            context->pageHandle = reinterpret_cast<HANDLE>(pPSUIInfo->pfnComPropSheet(
                pPSUIInfo->hComPropSheet, CPSFUNC_ADD_PROPSHEETPAGEW, reinterpret_cast<LPARAM>(&page), 0));
        }
        result = pPSUIInfo->pfnComPropSheet(pPSUIInfo->hComPropSheet, CPSFUNC_GET_PAGECOUNT, 0, 0);
        break;
    }
    case PROPSHEETUI_REASON_GET_INFO_HEADER:
        if (lParam != 0) reinterpret_cast<PPROPSHEETUI_INFO_HEADER>(lParam)->pTitle = nullptr;
        result = 1;
        break;
    case PROPSHEETUI_REASON_DESTROY:
        result = 1;  // the context lives on with the driver's heap
        break;
    case PROPSHEETUI_REASON_SET_RESULT:
        result = lParam != 0 ? reinterpret_cast<PSETRESULT_INFO>(lParam)->Result : 0;
        break;
    case PROPSHEETUI_REASON_GET_ICON:
        result = 0;
        break;
    default:
        result = lParam;
        break;
    }
    pPSUIInfo->Result = result;
    return S_OK;
}

namespace {

// The printer sheet's title from the string table, loaded once: the
// caller keeps the pointer, so the text lives as long as the module.
LPWSTR PrinterSheetTitle() {
    static struct Title {
        wchar_t text[64] = {};
        Title() {
            if (LoadStringW(moduleInstance, IDS_PRINTER_SHEET_TITLE, text, 64) <= 0) text[0] = L'\0';
        }
    } title;
    return title.text;
}

}  // namespace

HRESULT AddPrinterPages(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) {
    if (!ValidSheetInfo(pPSUIInfo)) return E_FAIL;
    LONG_PTR result = 0;
    switch (pPSUIInfo->Reason) {
    case PROPSHEETUI_REASON_INIT: {
        if (pPSUIInfo->pfnComPropSheet == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return E_FAIL;
        }
        PROPSHEETPAGEW page = PageRecord(IDD_VERSION_PAGE, VersionPageProc, 0);
        result = pPSUIInfo->pfnComPropSheet(pPSUIInfo->hComPropSheet, CPSFUNC_ADD_PROPSHEETPAGEW,
                                            reinterpret_cast<LPARAM>(&page), 0);
        break;
    }
    case PROPSHEETUI_REASON_GET_INFO_HEADER:
        if (lParam != 0) reinterpret_cast<PPROPSHEETUI_INFO_HEADER>(lParam)->pTitle = PrinterSheetTitle();
        result = 1;
        break;
    case PROPSHEETUI_REASON_DESTROY:
        result = 1;
        break;
    case PROPSHEETUI_REASON_SET_RESULT:
        result = lParam != 0 ? reinterpret_cast<PSETRESULT_INFO>(lParam)->Result : 0;
        break;
    default:  // PROPSHEETUI_REASON_GET_ICON included: no icon
        result = 0;
        break;
    }
    pPSUIInfo->Result = result;
    return S_OK;
}
