#pragma once
// Which name the printer-initialise event opens a printer by. A name of the
// form \\server\printer is reduced to the printer's name on that server,
// held in a fixed 32-unit buffer: at most 31 characters, and anything from
// a comma on (the spooler appends ",..." options to connection names) cut.
// Portable: UTF-16 units as char16_t, or wchar_t where that is 16-bit.
#include <cstddef>

namespace qx {

constexpr size_t kLocalPrinterNameUnits = 32;  // 31 characters and the NUL

// Fills `out` (kLocalPrinterNameUnits units) and returns true when `name`
// begins with two backslashes; returns false, leaving `out` alone, when the
// name is to be used as given (a null name included).
bool LocalPrinterName(const char16_t *name, char16_t *out);
bool LocalPrinterName(const wchar_t *name, wchar_t *out);

}  // namespace qx
