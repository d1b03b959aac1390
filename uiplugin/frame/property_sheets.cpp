// Property-sheet registration. The plug-in adds no option items and no
// pages yet; the slots answer E_NOTIMPL and touch nothing, so the host shows
// its own pages only.
#include "uiplugin/frame/property_sheets.h"

HRESULT HandleCommonUIProp(DWORD, POEMCUIPPARAM) { return E_NOTIMPL; }

HRESULT AddDocumentPages(PPROPSHEETUI_INFO, LPARAM, IPrintOemDriverUI *) { return E_NOTIMPL; }

HRESULT AddPrinterPages(PPROPSHEETUI_INFO, LPARAM) { return E_NOTIMPL; }
