#pragma once
// A 24-bit picture buffer with padded rows, for the correction tests and the
// benchmark.
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "uiplugin/correction/engine/image_correction.h"

namespace qx::testing {

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    size_t stride = 0;
    std::vector<unsigned char> bytes;

    Picture() = default;
    Picture(int32_t w, int32_t h, unsigned char fill = 0, unsigned char padding = 0xA5)
        : width(w), height(h), stride(static_cast<size_t>(RowStride24(w))), bytes(stride * h, padding) {
        for (int32_t y = 0; y < h; ++y)
            for (size_t i = 0; i < 3 * static_cast<size_t>(w); ++i) bytes[y * stride + i] = fill;
    }
    unsigned char *data() { return bytes.data(); }
    unsigned char *row(int32_t y) { return bytes.data() + y * stride; }
    unsigned char &at(int32_t x, int32_t y, int c) { return bytes[y * stride + 3 * x + c]; }
    void SetPixel(int32_t x, int32_t y, unsigned char v) { at(x, y, 0) = at(x, y, 1) = at(x, y, 2) = v; }
    // Whether every padding byte still holds `v`.
    bool PaddingIs(unsigned char v) const {
        for (int32_t y = 0; y < height; ++y)
            for (size_t i = 3 * static_cast<size_t>(width); i < stride; ++i)
                if (bytes[y * stride + i] != v) return false;
        return true;
    }
    void SetPadding(unsigned char v) {
        for (int32_t y = 0; y < height; ++y)
            for (size_t i = 3 * static_cast<size_t>(width); i < stride; ++i) bytes[y * stride + i] = v;
    }
};

// Noise mixed with smooth areas, flat runs and the extremes, so that both
// large and near-threshold differences occur.
inline Picture RandomPicture(int32_t w, int32_t h, uint32_t seed) {
    Picture p(w, h);
    std::mt19937 rng(seed);
    const int mode = static_cast<int>(rng() % 4);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                int v;
                switch (mode) {
                case 0: v = static_cast<int>(rng() % 256); break;
                case 1: v = (x * 7 + y * 3 + c * 40) % 256 + static_cast<int>(rng() % 5) - 2; break;
                case 2: v = (rng() % 8 == 0) ? static_cast<int>(rng() % 256) : ((x / 4 + y / 3) % 2 ? 200 : 40); break;
                default: v = (rng() % 2) ? 255 : static_cast<int>(rng() % 3); break;
                }
                p.at(x, y, c) = static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
        }
    }
    return p;
}

inline CorrectionSettings DefaultSettings() { return DefaultPrivateDevMode().settings; }

// The defaults with the unsharp mask on at the given radius, amount and
// threshold.
inline CorrectionSettings UnsharpSettings(int radius, int amount, int threshold) {
    CorrectionSettings s = DefaultSettings();
    s.unsharpMask = 1;
    s.unsharpRadius = static_cast<int16_t>(radius);
    s.unsharpAmount = static_cast<int16_t>(amount);
    s.unsharpThreshold = static_cast<int16_t>(threshold);
    return s;
}

}  // namespace qx::testing
