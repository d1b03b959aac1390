// The banded, threaded correction against the single pass: the same bytes
// (padding included) and the same result for every thread count and chunk
// height, at every radius class of the unsharp mask, with the sharpness
// filter on and off.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "tests/correction/picture.h"
#include "uiplugin/correction/engine/correct_bands.h"
#include "uiplugin/correction/engine/image_correction.h"

// Allocation failures on request: the n-th nothrow allocation after
// gFailAt is set fails. The whole family goes to malloc and free so that
// the sanitizers see matching pairs.
namespace {
std::atomic<int> gFailAt{0};
std::atomic<int> gNothrowCount{0};

void *Take(size_t size) { return std::malloc(size == 0 ? 1 : size); }
void *TakeNothrow(size_t size) {
    if (gFailAt.load() > 0 && gNothrowCount.fetch_add(1) + 1 == gFailAt.load()) return nullptr;
    return Take(size);
}
}  // namespace

void *operator new(size_t size) {
    if (void *p = Take(size)) return p;
    throw std::bad_alloc();
}
void *operator new[](size_t size) { return operator new(size); }
void *operator new(size_t size, const std::nothrow_t &) noexcept { return TakeNothrow(size); }
void *operator new[](size_t size, const std::nothrow_t &) noexcept { return TakeNothrow(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }
void operator delete[](void *p, size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }

namespace {

using qx::CorrectionSettings;
using qx::testing::Picture;

struct Case {
    const char *name;
    int unsharpMask;
    int radius;  // radius classes: n = 1 (1..9), 2 (10..19), 3 (20..29), 4 (30); f = 0 at multiples of 10
    int amount;
    int threshold;
    int sharpness;
};

const Case kCases[] = {
    {"lookup only", 0, 10, 5, 5, 0},
    {"sharpness only", 0, 10, 5, 5, 7},
    {"r1", 1, 1, 12, 0, 0},
    {"r1 sharp", 1, 1, 3, 0, 3},
    {"r5", 1, 5, 5, 2, 0},
    {"r5 sharp", 1, 5, 5, 2, 6},
    {"r10", 1, 10, 5, 5, 0},
    {"r10 sharp", 1, 10, 9, 1, 1},
    {"r15", 1, 15, 0, 20, 0},
    {"r15 sharp", 1, 15, 7, 3, 4},
    {"r20", 1, 20, 11, 0, 0},
    {"r20 sharp", 1, 20, 11, 0, 5},
    {"r29", 1, 29, 12, 0, 0},
    {"r29 sharp", 1, 29, 12, 0, 7},
    {"r30", 1, 30, 2, 4, 0},
    {"r30 sharp", 1, 30, 2, 4, 2},
};

struct Size {
    int32_t width, height;
};
// Odd sizes: thinner than the filter, fewer rows than bands or than the
// halo, bands of uneven height, a stride with 3 bytes of padding; 7 x 301
// has bands long enough for the usual edge rows and a middle between them.
const Size kSizes[] = {{37, 23}, {3, 3}, {1, 9}, {41, 2}, {5, 61}, {13, 8}, {2, 17}, {7, 301}};

CorrectionSettings SettingsOf(const Case &c) {
    CorrectionSettings s = qx::testing::DefaultSettings();
    s.brightness = 3, s.contrast = -2, s.saturation = 4, s.cyanRed = -1, s.yellowBlue = 2;
    s.unsharpMask = c.unsharpMask;
    s.unsharpRadius = static_cast<int16_t>(c.radius);
    s.unsharpAmount = static_cast<int16_t>(c.amount);
    s.unsharpThreshold = static_cast<int16_t>(c.threshold);
    s.sharpness = static_cast<uint16_t>(c.sharpness);
    return s;
}

// "equal", or where the first byte differs and how.
std::string Compare(const std::vector<unsigned char> &expected, const std::vector<unsigned char> &got) {
    if (expected.size() != got.size()) return "sizes " + std::to_string(expected.size()) + " and " + std::to_string(got.size());
    for (size_t i = 0; i < expected.size(); ++i)
        if (expected[i] != got[i])
            return "byte " + std::to_string(i) + ": expected " + std::to_string(expected[i]) + ", got " +
                   std::to_string(got[i]);
    return "equal";
}

TEST(CorrectBands, SameBytesAsTheSinglePassForEveryThreadCountAndChunk) {
    uint32_t seed = 1;
    for (const Case &c : kCases) {
        const CorrectionSettings settings = SettingsOf(c);
        for (const Size &size : kSizes) {
            const Picture input = qx::testing::RandomPicture(size.width, size.height, seed++);
            Picture expected = input;
            ASSERT_TRUE(qx::CorrectPicture(settings, expected.data(), size.width, size.height, expected.stride));
            for (int threads : {1, 2, 3, 7}) {
                // Edge rows: 0 the usual 64; 1 and 2 (raised to the halo) and
                // 5 put a middle worked in place into bands of 12 rows or more
                // and chunk seams into shorter ones.
                for (int32_t edge : {0, 1, 2, 5}) {
                    Picture p = input;
                    EXPECT_TRUE(qx::detail::CorrectPictureInBands(settings, p.data(), size.width, size.height,
                                                                  p.stride, threads, edge));
                    EXPECT_EQ("equal", Compare(expected.bytes, p.bytes))
                        << c.name << ", " << size.width << " x " << size.height << ", " << threads << " bands, edge "
                        << edge;
                }
                Picture p = input;
                EXPECT_TRUE(qx::CorrectPictureThreaded(settings, p.data(), size.width, size.height, p.stride, threads));
                EXPECT_EQ("equal", Compare(expected.bytes, p.bytes)) << c.name << ", " << size.width << " x " << size.height << ", "
                                                   << threads << " threads";
            }
        }
    }
}

// What the single pass does with its refusals and odd geometry, the bands do
// too: the same bytes and the same result.
TEST(CorrectBands, RefusalsAndOddGeometryAsTheSinglePass) {
    struct Odd {
        const char *name;
        int unsharpMask;
        int radius;
        int sharpness;
        int32_t width, height;
        size_t extraStride;
    };
    const Odd kOdd[] = {
        {"radius 0", 1, 0, 0, 17, 11, 0},
        {"radius 31 with sharpness", 1, 31, 5, 17, 11, 0},
        {"radius -3 with sharpness", 1, -3, 7, 4, 4, 0},
        {"mask switched on with 2", 2, 20, 7, 9, 9, 0},
        {"a stride 8 bytes wider", 1, 15, 3, 11, 9, 8},
        {"width 0", 1, 15, 3, 0, 9, 0},
        {"height 0", 1, 15, 3, 11, 0, 0},
        {"negative height", 1, 15, 3, 11, -4, 0},
    };
    for (const Odd &o : kOdd) {
        CorrectionSettings s = qx::testing::DefaultSettings();
        s.contrast = 4;
        s.unsharpMask = o.unsharpMask;
        s.unsharpRadius = static_cast<int16_t>(o.radius);
        s.unsharpAmount = 8;
        s.unsharpThreshold = 0;
        s.sharpness = static_cast<uint16_t>(o.sharpness);
        const int32_t rows = o.height > 0 ? o.height : 3;
        const size_t stride = static_cast<size_t>(qx::RowStride24(o.width)) + o.extraStride;
        std::vector<unsigned char> input(stride * rows + 1);
        for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<unsigned char>(i * 37 + i / 7);
        std::vector<unsigned char> expected = input;
        const bool expectedOk = qx::CorrectPicture(s, expected.data(), o.width, o.height, stride);
        for (int bands : {2, 3, 7}) {
            std::vector<unsigned char> p = input;
            EXPECT_EQ(expectedOk, qx::detail::CorrectPictureInBands(s, p.data(), o.width, o.height, stride, bands, 1))
                << o.name << ", " << bands << " bands";
            EXPECT_EQ("equal", Compare(expected, p)) << o.name << ", " << bands << " bands";
        }
    }
}

// Whichever allocation fails, the bands never report success with other
// bytes than the single pass's; when their own scratch cannot be had they
// fall back to the single pass, which then succeeds.
TEST(CorrectBands, AFailedAllocationIsNeverReportedAsSuccess) {
    const CorrectionSettings settings = SettingsOf(kCases[13]);  // r29 sharp
    const Picture input = qx::testing::RandomPicture(37, 61, 7);
    Picture expected = input;
    ASSERT_TRUE(qx::CorrectPicture(settings, expected.data(), 37, 61, expected.stride));
    int failures = 0;
    for (int failAt = 1; failAt < 1000; ++failAt) {
        Picture p = input;
        gNothrowCount = 0;
        gFailAt = failAt;
        const bool ok = qx::detail::CorrectPictureInBands(settings, p.data(), 37, 61, p.stride, 3, 5);
        gFailAt = 0;
        const bool reached = gNothrowCount.load() >= failAt;
        if (failAt == 1) {
            EXPECT_TRUE(ok) << "the first allocation is the bands' scratch: the single pass takes over";
        }
        if (ok) {
            EXPECT_EQ("equal", Compare(expected.bytes, p.bytes)) << "allocation " << failAt << " failed";
        }
        failures += ok ? 0 : 1;
        if (!reached) break;  // every allocation of the call has had its turn
    }
    EXPECT_GT(failures, 0) << "no failed allocation reached a step";
}

}  // namespace
