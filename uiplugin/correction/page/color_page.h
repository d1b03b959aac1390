#pragma once
// The Color correction page of the document properties (dialog 120): eleven
// sliders and a check box over the PrivateDevMode's CorrectionSettings, the
// live preview, the preview picture, .COL files and the default settings.
#ifndef UNICODE
#error "UNICODE must be defined before any Windows header"
#endif
#include <windows.h>

#include "uiplugin/settings/private_devmode.h"

// The page's dialog procedure; its creation parameter is the page record
// whose lParam is the page's ColorPageContext. Returns 0 for every message.
INT_PTR CALLBACK ColorPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Puts a settings block into the sliders and check boxes (not the Order ID
// edit box).
void ShowSettings(HWND page, const qx::CorrectionSettings &settings);

// Reads the controls into `settings` (reserved untouched) and rewrites the
// read-outs and the Order ID edit box.
void ReadControls(HWND page, qx::CorrectionSettings *settings);

// Tells the sheet whether the controls differ from `stored` (all 40 bytes,
// reserved included): PSM_CHANGED and 1, or PSM_UNCHANGED and 0.
int UpdateChangedState(HWND page, const qx::CorrectionSettings &stored);
