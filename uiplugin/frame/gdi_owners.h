#pragma once
// Owners of GDI handles, for the plug-in and the host alike: each releases
// its handle on every path out of the scope that made it. Each accepts what
// its creating call returns, failure (null) included.
#include <windows.h>

namespace qxgdi {

class Bitmap {
public:
    Bitmap() = default;
    explicit Bitmap(HBITMAP h) : h_(h) {}
    ~Bitmap() { reset(); }
    Bitmap(const Bitmap &) = delete;
    Bitmap &operator=(const Bitmap &) = delete;
    void reset(HBITMAP h = nullptr) {
        if (h_ != nullptr) DeleteObject(h_);
        h_ = h;
    }
    HBITMAP get() const { return h_; }

private:
    HBITMAP h_ = nullptr;
};

class MemoryDc {
public:
    explicit MemoryDc(HDC like) : dc_(CreateCompatibleDC(like)) {}
    ~MemoryDc() {
        if (dc_ != nullptr) DeleteDC(dc_);
    }
    MemoryDc(const MemoryDc &) = delete;
    MemoryDc &operator=(const MemoryDc &) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

// The whole screen's DC.
class ScreenDc {
public:
    ScreenDc() : dc_(GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc_ != nullptr) ReleaseDC(nullptr, dc_);
    }
    ScreenDc(const ScreenDc &) = delete;
    ScreenDc &operator=(const ScreenDc &) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

// Keeps a GDI object selected for its lifetime, then puts the old one back
// (a DC must not be deleted with our bitmap still in it).
class Selection {
public:
    Selection(HDC dc, HGDIOBJ obj) : dc_(dc), old_(dc != nullptr ? SelectObject(dc, obj) : nullptr) {}
    ~Selection() {
        if (old_ != nullptr && old_ != HGDI_ERROR) SelectObject(dc_, old_);
    }
    Selection(const Selection &) = delete;
    Selection &operator=(const Selection &) = delete;
    bool ok() const { return old_ != nullptr && old_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ old_;
};

class PaintScope {
public:
    explicit PaintScope(HWND w) : w_(w), dc_(BeginPaint(w, &ps_)) {}
    ~PaintScope() { EndPaint(w_, &ps_); }
    PaintScope(const PaintScope &) = delete;
    PaintScope &operator=(const PaintScope &) = delete;
    HDC dc() const { return dc_; }

private:
    HWND w_;
    PAINTSTRUCT ps_{};
    HDC dc_;
};

}  // namespace qxgdi
