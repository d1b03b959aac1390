#pragma once
// Busy bytes of every heap of the process (the C runtimes of the DLL and of
// the test program may keep heaps of their own beside the process heap), or
// -1 when a heap cannot be walked. Wine keeps no per-process GDI, USER or
// handle counts; the heaps it does walk.
#include <windows.h>

#include <cstdint>
#include <vector>

namespace qxtest {

inline int64_t HeapBusyBytes() {
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    const DWORD n = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (n == 0 || n > heaps.size()) return -1;
    int64_t busy = 0;
    for (DWORD i = 0; i < n; ++i) {
        if (!HeapLock(heaps[i])) return -1;
        PROCESS_HEAP_ENTRY e = {};
        while (HeapWalk(heaps[i], &e))
            if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += e.cbData;
        const DWORD end = GetLastError();
        HeapUnlock(heaps[i]);
        if (end != ERROR_NO_MORE_ITEMS) return -1;
    }
    return busy;
}

// The value a new kernel handle gets: Wine's server hands out the lowest
// free slot, so handles leaked since an earlier reading push it up.
inline uintptr_t NextKernelHandle() {
    HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const uintptr_t value = reinterpret_cast<uintptr_t>(probe);
    CloseHandle(probe);
    return value;
}

}  // namespace qxtest
