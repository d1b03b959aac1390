#pragma once
// A square top-down 24-bit surface in a memory DC, filled with a sentinel,
// for the tests that paint the preview into it and read the pixels back.
#include <windows.h>

#include <cstdint>
#include <cstring>

namespace qxtest {

constexpr uint8_t kSurfaceSentinel = 0x5A;

template <int kSize>
class DibSurface {
public:
    // Rows of 3 * kSize bytes; the sizes used are multiples of 4 wide already.
    static constexpr size_t kStride = static_cast<size_t>(kSize) * 3;
    static_assert(kStride % 4 == 0, "rows would be padded");

    DibSurface() {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = kSize;
        info.bmiHeader.biHeight = -kSize;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        dc_ = CreateCompatibleDC(nullptr);
        void *bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        bits_ = static_cast<uint8_t *>(bits);
        old_ = SelectObject(dc_, bitmap_);
        std::memset(bits_, kSurfaceSentinel, kStride * kSize);
    }
    ~DibSurface() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    DibSurface(const DibSurface &) = delete;
    DibSurface &operator=(const DibSurface &) = delete;

    HDC dc() const { return dc_; }
    const uint8_t *At(int x, int y) {
        GdiFlush();
        return bits_ + static_cast<size_t>(y) * kStride + static_cast<size_t>(x) * 3;
    }
    bool Untouched() {
        GdiFlush();
        for (size_t i = 0; i < kStride * kSize; ++i)
            if (bits_[i] != kSurfaceSentinel) return false;
        return true;
    }

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    uint8_t *bits_;
};

}  // namespace qxtest
