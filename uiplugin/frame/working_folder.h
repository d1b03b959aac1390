#pragma once
// Keeps the process's current directory across a call that may change it
// (the common file dialogs set it to the folder browsed, whatever their
// flags say): the host that loaded the plug-in finds it as it was.
#include <windows.h>

class WorkingFolderKeeper {
public:
    WorkingFolderKeeper() {
        // The length with its NUL; the folder may be longer than MAX_PATH.
        const DWORD chars = GetCurrentDirectoryW(0, nullptr);
        if (chars == 0) return;
        saved_ = static_cast<wchar_t *>(HeapAlloc(GetProcessHeap(), 0, chars * sizeof(wchar_t)));
        if (saved_ == nullptr) return;  // nothing to put back with
        const DWORD got = GetCurrentDirectoryW(chars, saved_);
        if (got == 0 || got >= chars) release();
    }
    ~WorkingFolderKeeper() {
        if (saved_ == nullptr) return;
        SetCurrentDirectoryW(saved_);
        release();
    }
    WorkingFolderKeeper(const WorkingFolderKeeper &) = delete;
    WorkingFolderKeeper &operator=(const WorkingFolderKeeper &) = delete;

private:
    void release() {
        HeapFree(GetProcessHeap(), 0, saved_);
        saved_ = nullptr;
    }
    wchar_t *saved_ = nullptr;
};
