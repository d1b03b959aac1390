#pragma once
// Owner of a file handle: closed on every path out of the scope that opened
// it. Accepts what CreateFileW returns, failure included.
#include <windows.h>

class UniqueFile {
public:
    explicit UniqueFile(HANDLE handle) : handle_(handle) {}
    ~UniqueFile() { close(); }
    UniqueFile(const UniqueFile &) = delete;
    UniqueFile &operator=(const UniqueFile &) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }
    void close() {
        if (valid()) CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_;
};
