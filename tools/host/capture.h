#pragma once
// Window pictures for the demo: what a window shows on the screen, as a PNG.
#include <windows.h>

#include <string>

namespace qxhost {

// Copies the window's screen rectangle (frame included) from the screen and
// writes it as a 24-bit PNG. Under a display-less graphics driver the copy
// is whatever that driver's screen holds. An empty string on success, else
// what failed.
std::string CaptureWindowPng(HWND window, const std::wstring &path);

}  // namespace qxhost
