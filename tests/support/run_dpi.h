#pragma once
// The DPI a test run is for: the tests at high DPI run the same program in
// a prefix scripts/wine-run made at QX_WINE_DPI; 96 when not named.
#include <windows.h>

#include <cwchar>

namespace qxtest {

inline int ExpectedDpi() {
    wchar_t value[16] = {};
    if (GetEnvironmentVariableW(L"QX_WINE_DPI", value, 16) == 0) return 96;
    const int dpi = _wtoi(value);
    return dpi > 0 ? dpi : 96;
}

// Pixels at 96 DPI scaled to the run's DPI, as the page scales them.
inline int Scaled(int pixels) { return MulDiv(pixels, ExpectedDpi(), 96); }

}  // namespace qxtest
