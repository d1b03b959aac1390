// A DLL built by the same rules as the shipped ones, whose one function
// throws and catches a C++ exception inside: the thing no shipped code path
// does on purpose, and the one that left the Zig runtime's per-thread
// exception record with a callback into the unloaded image.
#include <windows.h>

#include <stdexcept>
#include <string>

extern "C" int ThrowInside(int value) {
    try {
        if (value != 0) throw std::runtime_error("probe " + std::to_string(value));
    } catch (const std::exception &e) {
        return e.what()[0] == 'p' ? value : -1;
    }
    return 0;
}
