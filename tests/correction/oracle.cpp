// Direct forms: each step as the rules state it, one value at a time.
#include "tests/correction/oracle.h"

#include <cstring>

namespace qx::oracle {

namespace {

int Clamp(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

int Sat(const ToneTable &t, int k) {
    int16_t v;
    std::memcpy(&v, t.bytes + 2 * (640 + k), 2);
    return v;
}

size_t Stride(int32_t width) { return (3 * static_cast<size_t>(width) + 3) / 4 * 4; }

}  // namespace

void ApplyToneRow(unsigned char *row, int32_t count, const ToneTable &table) {
    for (int32_t i = 0; i < count; ++i) {
        unsigned char *p = row + 3 * static_cast<size_t>(i);
        const int B = p[0], G = p[1], R = p[2];
        const int b1 = Clamp(B + Sat(table, B - ((G + R) >> 1)));
        const int g1 = Clamp(G + Sat(table, G - ((R + B) >> 1)));
        const int r1 = Clamp(R + Sat(table, R - ((B + G) >> 1)));
        p[0] = table.bytes[0 + b1];
        p[1] = table.bytes[256 + g1];
        p[2] = table.bytes[512 + r1];
    }
}

std::vector<unsigned char> UnsharpBlur(const CorrectionSettings &s, int32_t W, int32_t H,
                                       const unsigned char *pixels) {
    const int r = s.unsharpRadius;
    const int n = r / 10 + 1;
    const double f = static_cast<double>(r % 10) * 0.1;
    const double R = static_cast<double>(r) * 0.1;
    const double D = (R + R + 1.0) * (R + R + 1.0);
    const size_t stride = Stride(W);
    std::vector<unsigned char> blurred(3 * static_cast<size_t>(W) * H);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const double inv = 1.0 / D;  // once per pixel
            for (int c = 0; c < 3; ++c) {
                double sum = 0.0;
                for (int dy = -n; dy <= n; ++dy) {
                    for (int dx = -n; dx <= n; ++dx) {
                        if (x + dx < 0 || x + dx > W - 1 || y + dy < 0 || y + dy > H - 1) continue;
                        const double v = pixels[(y + dy) * stride + 3 * (x + dx) + c];
                        const bool ringX = dx == -n || dx == n;
                        const bool ringY = dy == -n || dy == n;
                        if (ringX && ringY)
                            sum += (v * f) * f;
                        else if (ringX || ringY)
                            sum += v * f;
                        else
                            sum += v;
                    }
                }
                blurred[(static_cast<size_t>(y) * W + x) * 3 + c] = static_cast<unsigned char>(static_cast<int>(sum * inv));
            }
        }
    }
    return blurred;
}

void ApplyUnsharpMask(const CorrectionSettings &s, int32_t W, int32_t H, unsigned char *pixels) {
    if (W <= 0 || H <= 0) return;
    const std::vector<unsigned char> blurred = UnsharpBlur(s, W, H, pixels);
    const double k = static_cast<double>((s.unsharpAmount + 1) * 25) * 0.01;
    const int t = s.unsharpThreshold;
    const size_t stride = Stride(W);
    for (int y = 0; y < H; ++y) {
        for (int i = 0; i < 3 * W; ++i) {
            unsigned char &o = pixels[y * stride + i];
            const int b = blurred[static_cast<size_t>(y) * 3 * W + i];
            const int d = o - b;
            int v = o;
            if (d < -t || d > t) v = static_cast<int>(d * k + o);
            o = static_cast<unsigned char>(Clamp(v));
        }
    }
}

void ApplySharpnessFilter(unsigned char *pixels, int32_t W, int32_t H, size_t stride, int level,
                          const ToneTable &table) {
    std::vector<unsigned char> scratch(2 * stride);
    unsigned char *A = scratch.data();
    unsigned char *B = scratch.data() + stride;
    const int w0 = SharpnessKernelTable[level].w0;
    const int w1 = SharpnessKernelTable[level].w1;
    const int s = SharpnessKernelTable[level].shift;
    const int count = 3 * W - 6;
    auto row = [&](int i) { return pixels + static_cast<size_t>(i) * stride; };
    oracle::ApplyToneRow(row(0), W, table);
    oracle::ApplyToneRow(row(1), W, table);
    unsigned char *dest = B;
    for (int j = 0; j <= H - 3; ++j) {
        oracle::ApplyToneRow(row(j + 2), W, table);
        dest = (j % 2 == 0) ? B : A;
        unsigned char *other = (j % 2 == 0) ? A : B;
        const unsigned char *below = row(j), *mid = row(j + 1), *above = row(j + 2);
        for (int p = 3; p <= 3 * W - 4; ++p) {
            const int x = mid[p];
            const int N = below[p - 3] + below[p] + below[p + 3] + mid[p - 3] + mid[p + 3] + above[p - 3] +
                          above[p] + above[p + 3];
            const int v = (w0 * x - w1 * N) >> s;
            dest[p - 3] = static_cast<unsigned char>(Clamp(v));
        }
        if (j > 0) std::memcpy(row(j) + 3, other, count);
    }
    std::memcpy(row(H - 2) + 3, dest, count);
}

}  // namespace qx::oracle
