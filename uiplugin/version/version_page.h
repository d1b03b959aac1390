#pragma once
// The Version page of the printer properties (dialog 106) and the helpers
// it refreshes itself with.
#include <windows.h>

#include <cstdint>

#include "uiplugin/version/version_core.h"

// 1 while the mouse is over the web link (1029) / the mail link (1032).
// Module-wide: every Version page in the process shares them.
extern LONG webLinkHot;
extern LONG mailLinkHot;

INT_PTR CALLBACK VersionPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The local last-write time of the system directory plus `relativePath`,
// or "   0/00/00 00:00" when it cannot be had.
void FormatDriverFileTime(const wchar_t* relativePath, wchar_t (&text)[qx::kVersionTextChars]);

// Fills `field` from the gamma table name field of "QX748.BIN" in the
// Windows directory; true when the file was opened, positioned and read.
bool ReadGammaTableName(qx::GammaNameField& field);

// The default value of `root`\`subKey` as a terminated string of at most 259
// characters in `buffer` (`bufferChars` long). 0, or the platform's error
// code with nothing copied.
LONG ReadRegistryDefault(HKEY root, const wchar_t* subKey, wchar_t* buffer, std::size_t bufferChars);

// Opens `link` through the shell, else through the command registered for
// HTML files.
void OpenLink(const wchar_t* link, int showCommand);
