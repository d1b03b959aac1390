#pragma once
// Makes malloc fail inside one loaded module only, by pointing the module's
// own import of it at a function that refuses: the module's operator new
// then throws std::bad_alloc (and nothrow new answers null) while the rest
// of the process, the test included, still gets memory. The DLL under test
// is the shipped one; its C runtime import is the seam. The first `served`
// requests are served, the next `refused` refused, the rest served again:
// one failure at each place in turn. (Refusing every request does not
// work: the C++ runtime's own bookkeeping for a throw, from the same heap,
// then fails and the process dies before any code of ours can catch.)
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace qxtest {

class FailingMalloc {
public:
    FailingMalloc(HMODULE module, LONG served, LONG refused = 1) {
        calls() = 0;
        toServe() = served;
        left() = refused;
        auto *base = reinterpret_cast<unsigned char *>(module);
        const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
        if (module == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE) return;
        const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (dir.VirtualAddress == 0) return;
        for (auto *d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); d->Name != 0;
             ++d) {
            if (!IsRuntime(reinterpret_cast<const char *>(base + d->Name)) || d->OriginalFirstThunk == 0) continue;
            auto *names = reinterpret_cast<const IMAGE_THUNK_DATA *>(base + d->OriginalFirstThunk);
            auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk);
            for (; names->u1.AddressOfData != 0; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                const auto *byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char *>(byName->Name), "malloc") != 0) continue;
                slot_ = reinterpret_cast<ULONG_PTR *>(&slots->u1.Function);
                original_ = *slot_;
                realMalloc() = reinterpret_cast<Malloc>(original_);
                Write(reinterpret_cast<ULONG_PTR>(&Refuse));
                return;
            }
        }
    }
    ~FailingMalloc() {
        if (slot_ != nullptr) Write(original_);
    }
    FailingMalloc(const FailingMalloc &) = delete;
    FailingMalloc &operator=(const FailingMalloc &) = delete;

    bool armed() const { return slot_ != nullptr; }
    // How often the module was refused memory since it was armed.
    static volatile LONG &calls() {
        static volatile LONG n = 0;
        return n;
    }

private:
    static bool IsRuntime(const char *name) {
        char lower[64] = {};
        for (size_t i = 0; i + 1 < sizeof lower && name[i] != 0; ++i)
            lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
        return std::strncmp(lower, "msvcrt", 6) == 0 || std::strncmp(lower, "ucrtbase", 8) == 0 ||
               std::strncmp(lower, "api-ms-win-crt-heap", 19) == 0;
    }
    using Malloc = void *(__cdecl *)(size_t);
    static Malloc &realMalloc() {
        static Malloc f = nullptr;
        return f;
    }
    static volatile LONG &toServe() {
        static volatile LONG n = 0;
        return n;
    }
    static volatile LONG &left() {
        static volatile LONG n = 0;
        return n;
    }
    static void *__cdecl Refuse(size_t bytes) {
        if (toServe() > 0) {
            InterlockedDecrement(&toServe());
            return realMalloc()(bytes);
        }
        if (left() == 0) return realMalloc()(bytes);
        InterlockedDecrement(&left());
        InterlockedIncrement(&calls());
        errno = ENOMEM;
        return nullptr;
    }
    void Write(ULONG_PTR value) {
        DWORD old = 0;
        if (!VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old)) return;
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, old, &old);
        FlushInstructionCache(GetCurrentProcess(), slot_, sizeof *slot_);
    }

    ULONG_PTR *slot_ = nullptr;
    ULONG_PTR original_ = 0;
};

}  // namespace qxtest
