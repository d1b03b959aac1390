#pragma once
// The three property-sheet slots of the plug-in object forward here.
#include "uiplugin/frame/oem_contract.h"

HRESULT HandleCommonUIProp(DWORD dwMode, POEMCUIPPARAM pOemCUIPParam);
// driverHelper is handed on from the plug-in object and not used.
HRESULT AddDocumentPages(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam, IPrintOemDriverUI *driverHelper);
HRESULT AddPrinterPages(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam);
