// The C++ runtime's per-thread exception record ("caught exceptions" stack
// and uncaught count), in the DLLs of the Zig builds.
//
// Zig 0.11 builds libc++abi to keep that record behind a fiber-local
// storage slot made with FlsAlloc(callback), the callback being code inside
// our DLL. The slot is never freed: once the host has unloaded the DLL with
// FreeLibrary, the first thread exit (the process's, at the latest) that
// finds a value in the slot calls into the unmapped image and the host
// dies. A value is there on every thread that ever threw inside the DLL.
//
// These two definitions take the place of libc++abi's (the linker then
// leaves its storage object out of the archive) and keep the record in the
// module's own thread-local storage instead, as libc++abi does itself when
// built with thread_local: the loader frees that storage with the thread or
// the module, and no callback is left behind. The record holds plain
// values, so it needs no destructor.
#include <cstddef>

namespace {

// Layout of libc++abi's __cxa_eh_globals (not the 32-bit ARM EH ABI, which
// has a third member; no Windows target of ours uses it). Two pointers of
// room more than it needs, in case a runtime grows it.
struct EhGlobals {
    void *caughtExceptions;
    unsigned int uncaughtExceptions;
    void *spare[2];
};

thread_local EhGlobals ehGlobals;

}  // namespace

extern "C" {
void *__cxa_get_globals() { return &ehGlobals; }
void *__cxa_get_globals_fast() { return &ehGlobals; }
}
