#include "uiplugin/frame/printer_name.h"

namespace qx {
namespace {

template <typename Unit>
bool LocalName(const Unit *name, Unit *out) {
    if (name == nullptr || name[0] != Unit('\\') || name[1] != Unit('\\')) return false;
    // The part after the server's name; a name with no further backslash is
    // taken whole, leading backslashes included.
    const Unit *part = name;
    for (const Unit *p = name + 2; *p != Unit(0); ++p) {
        if (*p == Unit('\\')) {
            part = p + 1;
            break;
        }
    }
    size_t n = 0;
    while (n < kLocalPrinterNameUnits - 1 && part[n] != Unit(0) && part[n] != Unit(',')) {
        out[n] = part[n];
        ++n;
    }
    for (size_t i = n; i < kLocalPrinterNameUnits; ++i) out[i] = Unit(0);
    return true;
}

}  // namespace

bool LocalPrinterName(const char16_t *name, char16_t *out) { return LocalName(name, out); }
bool LocalPrinterName(const wchar_t *name, wchar_t *out) { return LocalName(name, out); }

}  // namespace qx
