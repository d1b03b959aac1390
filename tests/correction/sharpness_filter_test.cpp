// Sharpness filter: kernel table, worked values, which bytes are filtered,
// the lookup in the same pass, and equality with the direct form.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/correction/oracle.h"
#include "tests/correction/picture.h"
#include "uiplugin/correction/engine/correction_kernels.h"
#include "uiplugin/correction/engine/image_correction.h"

namespace {

using qx::ToneTable;
using qx::detail::Simd;
using qx::testing::Picture;

ToneTable Identity() {
    ToneTable t;
    qx::BuildToneTable(qx::testing::DefaultSettings(), t);
    return t;
}

ToneTable Strong() {
    qx::CorrectionSettings s = qx::testing::DefaultSettings();
    s.brightness = 3, s.contrast = 6, s.saturation = -4, s.cyanRed = 2, s.magentaGreen = -7, s.yellowBlue = 5;
    ToneTable t;
    qx::BuildToneTable(s, t);
    return t;
}

std::vector<Simd> Sets() {
    std::vector<Simd> sets;
    for (Simd s : {Simd::kScalar, Simd::kSse2, Simd::kAvx2, Simd::kNeon})
        if (qx::detail::SimdAvailable(s)) sets.push_back(s);
    return sets;
}

bool Filter(Picture &p, int level, const ToneTable &t) {
    return qx::ApplySharpnessFilter(p.data(), p.width, p.height, p.stride, level, t);
}

TEST(SharpnessFilter, KernelTable) {
    const int expected[8][3] = {{0, 0, 0},    {224, 12, 7}, {240, 14, 7}, {256, 16, 7},
                                {144, 10, 6}, {168, 13, 6}, {208, 18, 6}, {320, 32, 6}};
    for (int level = 0; level < 8; ++level) {
        EXPECT_EQ(expected[level][0], qx::SharpnessKernelTable[level].w0) << level;
        EXPECT_EQ(expected[level][1], qx::SharpnessKernelTable[level].w1) << level;
        EXPECT_EQ(expected[level][2], qx::SharpnessKernelTable[level].shift) << level;
    }
}

TEST(SharpnessFilter, SinglePixelAndItsNeighbours) {
    Picture p(5, 5, 100);
    p.SetPixel(2, 2, 200);
    ASSERT_TRUE(Filter(p, 3, Identity()));
    EXPECT_EQ(255, p.at(2, 2, 0));  // (51200 - 12800) >> 7 = 300
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (dx != 0 || dy != 0) {
                EXPECT_EQ(87, p.at(2 + dx, 2 + dy, 1)) << dx << "," << dy;
            }
}

TEST(SharpnessFilter, VerticalStepPerLevel) {
    const struct {
        int level, left, right;
    } cases[] = {{3, 77, 182}, {7, 10, 250}, {1, 83, 176}};
    for (const auto &c : cases) {
        Picture p(8, 4, 100);
        for (int y = 0; y < 4; ++y)
            for (int x = 4; x < 8; ++x) p.SetPixel(x, y, 160);
        ASSERT_TRUE(Filter(p, c.level, Identity()));
        EXPECT_EQ(100, p.at(2, 1, 0)) << c.level;
        EXPECT_EQ(c.left, p.at(3, 1, 0)) << c.level;
        EXPECT_EQ(c.right, p.at(4, 2, 2)) << c.level;
        EXPECT_EQ(160, p.at(5, 2, 0)) << c.level;
    }
}

TEST(SharpnessFilter, ClampsBothWays) {
    Picture dark(3, 3, 255);
    dark.SetPixel(1, 1, 0);
    ASSERT_TRUE(Filter(dark, 7, Identity()));
    EXPECT_EQ(0, dark.at(1, 1, 0));  // -65280 >> 6
    Picture bright(3, 3, 100);
    bright.SetPixel(1, 1, 200);
    ASSERT_TRUE(Filter(bright, 7, Identity()));
    EXPECT_EQ(255, bright.at(1, 1, 2));  // 600
}

TEST(SharpnessFilter, FlatPictureKeepsLookedUpValue) {
    const ToneTable t = Strong();
    for (int level = 1; level <= 7; ++level) {
        Picture p(9, 6, 90);
        Picture looked = p;
        for (int y = 0; y < 6; ++y) qx::ApplyToneRow(looked.row(y), 9, t);
        ASSERT_TRUE(Filter(p, level, t));
        EXPECT_EQ(looked.bytes, p.bytes) << level;
    }
}

// A second form of the same result: look up every row, then run the kernel
// on the interior of a copy; the outer rows and pixels keep their looked-up
// values (at 3 x 3 only the middle pixel is filtered). Catches scratch rows
// written back too early or to the wrong row.
TEST(SharpnessFilter, EqualsLookupThenKernelOnACopy) {
    const ToneTable t = Strong();
    for (int level = 1; level <= 7; ++level) {
        for (const auto &size : {std::pair<int, int>{3, 3}, {4, 7}, {17, 12}}) {
            Picture p = qx::testing::RandomPicture(size.first, size.second, 40 + level);
            Picture looked = p;
            for (int y = 0; y < p.height; ++y) qx::ApplyToneRow(looked.row(y), p.width, t);
            Picture expected = looked;
            const auto &k = qx::SharpnessKernelTable[level];
            for (int y = 1; y + 1 < p.height; ++y)
                for (int i = 3; i < 3 * p.width - 3; ++i) {
                    const unsigned char *a = looked.row(y - 1), *m = looked.row(y), *b = looked.row(y + 1);
                    const int n = a[i - 3] + a[i] + a[i + 3] + m[i - 3] + m[i + 3] + b[i - 3] + b[i] + b[i + 3];
                    const int v = (k.w0 * m[i] - k.w1 * n) >> k.shift;
                    expected.row(y)[i] = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
                }
            ASSERT_TRUE(Filter(p, level, t));
            EXPECT_EQ(expected.bytes, p.bytes) << level << " " << size.first << "x" << size.second;
        }
    }
}

// Every kernel set, every level, odd widths (padding present), widths below
// and above the vector step, against the direct form; the padding is never
// read (two fills, same result) nor written.
TEST(SharpnessFilter, MatchesDirectFormAllLevels) {
    const int sizes[][2] = {{3, 3}, {4, 3}, {5, 8}, {13, 4}, {17, 9}, {67, 13}, {193, 7}};
    const ToneTable tables[] = {Identity(), Strong()};
    uint32_t seed = 500;
    for (int level = 1; level <= 7; ++level)
        for (const auto &size : sizes)
            for (const ToneTable &t : tables) {
                const Picture input = qx::testing::RandomPicture(size[0], size[1], seed++);
                Picture expected = input;
                qx::oracle::ApplySharpnessFilter(expected.data(), input.width, input.height, input.stride, level, t);
                for (Simd simd : Sets())
                    for (unsigned char padding : {0x00, 0xFF}) {
                        Picture got = input;
                        got.SetPadding(padding);
                        expected.SetPadding(padding);
                        ASSERT_TRUE(qx::detail::ApplySharpnessFilterUsing(simd, got.data(), got.width, got.height,
                                                                          got.stride, level, t));
                        ASSERT_EQ(expected.bytes, got.bytes) << "level " << level << " " << size[0] << "x" << size[1];
                    }
            }
}

// Without its scratch rows (here: a size that cannot be allocated) or with
// arguments outside what it is built for, the picture stays as it came in,
// not even looked up.
TEST(SharpnessFilter, CannotRunLeavesPictureUntouched) {
    const ToneTable t = Strong();
    Picture p = qx::testing::RandomPicture(5, 5, 9);
    const auto before = p.bytes;
    EXPECT_FALSE(qx::ApplySharpnessFilter(p.data(), 3, 3, UINT64_MAX / 2, 3, t));
    EXPECT_FALSE(qx::ApplySharpnessFilter(p.data(), 5, 5, p.stride, 0, t));
    EXPECT_FALSE(qx::ApplySharpnessFilter(p.data(), 5, 5, p.stride, 8, t));
    EXPECT_FALSE(qx::ApplySharpnessFilter(p.data(), 2, 5, p.stride, 3, t));
    EXPECT_FALSE(qx::ApplySharpnessFilter(p.data(), 5, 2, p.stride, 3, t));
    EXPECT_FALSE(qx::ApplySharpnessFilter(p.data(), 5, 5, 14, 3, t));
    EXPECT_EQ(before, p.bytes);
}

// The preview's sequence on the direct forms and on the library.
TEST(CorrectPicture, MatchesDirectSequence) {
    qx::CorrectionSettings s = qx::testing::DefaultSettings();
    s.saturation = 6, s.contrast = -3, s.yellowBlue = 4;
    const struct {
        int mask, sharpness, w, h;
    } cases[] = {{1, 7, 31, 20}, {1, 0, 31, 20}, {0, 5, 31, 20}, {2, 5, 31, 20}, {1, 13, 9, 9}, {1, 5, 2, 9}, {0, 8, 9, 9}};
    for (const auto &c : cases) {
        s.unsharpMask = c.mask;
        s.sharpness = static_cast<uint16_t>(c.sharpness);
        s.unsharpRadius = 23, s.unsharpAmount = 9, s.unsharpThreshold = 2;
        Picture got = qx::testing::RandomPicture(c.w, c.h, 77);
        Picture expected = got;
        ToneTable t;
        qx::BuildToneTable(s, t);
        if (c.mask == 1) qx::oracle::ApplyUnsharpMask(s, c.w, c.h, expected.data());
        const int level = c.sharpness & 7;
        if (level != 0 && c.w > 2 && c.h > 2)
            qx::oracle::ApplySharpnessFilter(expected.data(), c.w, c.h, expected.stride, level, t);
        else
            for (int y = 0; y < c.h; ++y) qx::oracle::ApplyToneRow(expected.row(y), c.w, t);
        ASSERT_TRUE(qx::CorrectPicture(s, got.data(), c.w, c.h, got.stride));
        EXPECT_EQ(expected.bytes, got.bytes) << c.mask << " " << c.sharpness << " " << c.w << "x" << c.h;
    }
}

}  // namespace
