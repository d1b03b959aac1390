// Unsharp mask: the worked blur values (on the direct form), the sharpening
// rules, and byte equality of every kernel set with the direct form.
#include <gtest/gtest.h>

#include <vector>

#include "tests/correction/oracle.h"
#include "tests/correction/picture.h"
#include "uiplugin/correction/engine/correction_kernels.h"
#include "uiplugin/correction/engine/image_correction.h"

namespace {

using qx::CorrectionSettings;
using qx::detail::Simd;
using qx::testing::Picture;
using qx::testing::UnsharpSettings;

int Blurred(const std::vector<unsigned char> &b, int w, int x, int y) { return b[(y * w + x) * 3]; }

std::vector<Simd> Sets() {
    std::vector<Simd> sets;
    for (Simd s : {Simd::kScalar, Simd::kSse2, Simd::kAvx2, Simd::kNeon})
        if (qx::detail::SimdAvailable(s)) sets.push_back(s);
    return sets;
}
const char *Name(Simd s) {
    return s == Simd::kScalar ? "scalar" : s == Simd::kSse2 ? "sse2" : s == Simd::kAvx2 ? "avx2" : "neon";
}

// The margin is darker in the blurred copy: the divisor stays D however many
// cells lie outside.
TEST(UnsharpMask, BlurKeepsDivisorAtEdges) {
    const Picture flat(8, 7, 200);
    const auto r10 = qx::oracle::UnsharpBlur(UnsharpSettings(10, 5, 5), 8, 7, flat.bytes.data());
    EXPECT_EQ(88, Blurred(r10, 8, 0, 0));   // 4 of 9 cells
    EXPECT_EQ(133, Blurred(r10, 8, 4, 0));  // 6 of 9
    EXPECT_EQ(88, Blurred(r10, 8, 7, 6));
    EXPECT_EQ(200, Blurred(r10, 8, 1, 1));
    const auto r15 = qx::oracle::UnsharpBlur(UnsharpSettings(15, 5, 5), 8, 7, flat.bytes.data());
    EXPECT_EQ(78, Blurred(r15, 8, 0, 0));  // weight 6.25 of 16
    EXPECT_EQ(125, Blurred(r15, 8, 4, 0));
    EXPECT_EQ(153, Blurred(r15, 8, 1, 1));
    EXPECT_EQ(200, Blurred(r15, 8, 3, 3));
}

TEST(UnsharpMask, MarginBrightens) {
    Picture p(8, 7, 200);
    ASSERT_TRUE(qx::ApplyUnsharpMask(UnsharpSettings(15, 5, 5), 8, 7, p.data()));
    EXPECT_EQ(255, p.at(0, 0, 0));  // 200 + 1.5 x 122, clamped
    EXPECT_EQ(200, p.at(3, 3, 1));
    Picture q(8, 7, 200);
    ASSERT_TRUE(qx::ApplyUnsharpMask(UnsharpSettings(10, 0, 0), 8, 7, q.data()));
    EXPECT_EQ(228, q.at(0, 0, 2));  // 200 + 0.25 x 112
    EXPECT_EQ(216, q.at(4, 0, 2));  // 200 + 0.25 x 67 = 216.75, truncated
}

TEST(UnsharpMask, VerticalStep) {
    Picture p(10, 5, 100);
    for (int y = 0; y < 5; ++y)
        for (int x = 5; x < 10; ++x) p.SetPixel(x, y, 160);
    ASSERT_TRUE(qx::ApplyUnsharpMask(UnsharpSettings(10, 5, 5), 10, 5, p.data()));
    const int expected[] = {100, 100, 70, 190, 160, 160};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(expected[i], p.at(2 + i, 2, 0)) << "x = " << 2 + i;
}

// The blurred value of a flat 5 at r = 1 is 4 only in IEEE double without
// contraction: 7.199999999999999 x 0.6944444444444444 = 4.999999999999999.
TEST(UnsharpMask, RadiusOneFlatFiveBlursToFour) {
    Picture flat(5, 5, 5);
    EXPECT_EQ(4, Blurred(qx::oracle::UnsharpBlur(UnsharpSettings(1, 3, 0), 5, 5, flat.bytes.data()), 5, 2, 2));
    for (Simd simd : Sets()) {
        Picture p(5, 5, 5), q(5, 5, 5);
        ASSERT_TRUE(qx::detail::ApplyUnsharpMaskUsing(simd, UnsharpSettings(1, 3, 0), 5, 5, p.data()));
        ASSERT_TRUE(qx::detail::ApplyUnsharpMaskUsing(simd, UnsharpSettings(1, 3, 1), 5, 5, q.data()));
        for (int y = 1; y < 4; ++y)
            for (int x = 1; x < 4; ++x) {
                EXPECT_EQ(6, p.at(x, y, 0)) << Name(simd);
                EXPECT_EQ(5, q.at(x, y, 0)) << Name(simd);
            }
    }
}

// Centre pixel of a 5 x 5 picture whose 3 x 3 window sums to 904 (blurred 100).
int SharpenedCentre(int centre, int neighbours, int oddOne, int threshold, int amount) {
    Picture p(5, 5, static_cast<unsigned char>(neighbours));
    p.SetPixel(2, 2, static_cast<unsigned char>(centre));
    p.SetPixel(1, 1, static_cast<unsigned char>(oddOne));
    const qx::CorrectionSettings s = UnsharpSettings(10, amount, threshold);
    EXPECT_EQ(100, Blurred(qx::oracle::UnsharpBlur(s, 5, 5, p.bytes.data()), 5, 2, 2));
    EXPECT_TRUE(qx::ApplyUnsharpMask(s, 5, 5, p.data()));
    return p.at(2, 2, 1);
}

TEST(UnsharpMask, ThresholdIsStrict) {
    EXPECT_EQ(120, SharpenedCentre(120, 98, 98, 20, 3));
    EXPECT_EQ(142, SharpenedCentre(121, 98, 97, 20, 3));
    EXPECT_EQ(80, SharpenedCentre(80, 103, 103, 20, 3));
    EXPECT_EQ(58, SharpenedCentre(79, 103, 104, 20, 3));
    EXPECT_EQ(142, SharpenedCentre(121, 98, 97, 0, 3));
}

TEST(UnsharpMask, NegativeResultClampsToZero) {
    Picture p(5, 5, 45);  // blurred (3 + 8 x 45) / 9 = 40.3 -> 40
    p.SetPixel(2, 2, 3);
    ASSERT_TRUE(qx::ApplyUnsharpMask(UnsharpSettings(10, 0, 5), 5, 5, p.data()));
    EXPECT_EQ(0, p.at(2, 2, 0));  // 3 - 37 x 0.25 = -6.25
}

TEST(UnsharpMask, NothingToDoOrCannotRun) {
    Picture p = qx::testing::RandomPicture(4, 4, 3);
    const auto before = p.bytes;
    EXPECT_TRUE(qx::ApplyUnsharpMask(UnsharpSettings(10, 5, 0), 0, 4, p.data()));
    EXPECT_TRUE(qx::ApplyUnsharpMask(UnsharpSettings(10, 5, 0), 4, -1, p.data()));
    EXPECT_FALSE(qx::ApplyUnsharpMask(UnsharpSettings(0, 5, 0), 4, 4, p.data()));
    EXPECT_FALSE(qx::ApplyUnsharpMask(UnsharpSettings(31, 5, 0), 4, 4, p.data()));
    // Sizes that overflow are refused before the picture is touched (the
    // buffer is far too small for them; any access would be out of bounds).
    EXPECT_FALSE(qx::ApplyUnsharpMask(UnsharpSettings(29, 12, 0), INT32_MAX, INT32_MAX, p.data()));
    EXPECT_FALSE(qx::ApplyUnsharpMask(UnsharpSettings(10, 12, 0), INT32_MAX, INT32_MAX, p.data()));
    EXPECT_EQ(before, p.bytes);
}

// Every kernel set gives the bytes of the direct form, for every radius,
// on odd and even widths, single rows and columns, and never reads or writes
// the padding (the result does not depend on what it holds).
TEST(UnsharpMask, MatchesDirectFormAllRadii) {
    const int sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 3}, {5, 4}, {13, 11}, {37, 9}, {71, 6}};
    uint32_t seed = 100;
    for (int radius = 1; radius <= 30; ++radius) {
        for (const auto &size : sizes) {
            const int w = size[0], h = size[1];
            const CorrectionSettings s = UnsharpSettings(radius, (radius * 5 + h) % 13, (radius * 7 + w) % 21);
            const Picture input = qx::testing::RandomPicture(w, h, seed++);
            Picture expected = input;
            qx::oracle::ApplyUnsharpMask(s, w, h, expected.data());
            for (Simd simd : Sets()) {
                for (unsigned char padding : {0x00, 0xFF}) {
                    Picture got = input;
                    got.SetPadding(padding);
                    expected.SetPadding(padding);
                    ASSERT_TRUE(qx::detail::ApplyUnsharpMaskUsing(simd, s, w, h, got.data()));
                    ASSERT_EQ(expected.bytes, got.bytes)
                        << Name(simd) << " r " << radius << " a " << s.unsharpAmount << " t " << s.unsharpThreshold
                        << " " << w << "x" << h;
                }
            }
        }
    }
}

// Pictures large enough for the sharpening table and for many vector
// blocks per row, at the radii whose windows differ in kind.
TEST(UnsharpMask, MatchesDirectFormLargePictures) {
    uint32_t seed = 900;
    for (int radius : {7, 10, 15, 29, 30}) {
        const CorrectionSettings s = UnsharpSettings(radius, 12, radius == 29 ? 0 : 5);
        const Picture input = qx::testing::RandomPicture(211, 219, seed++);
        Picture expected = input;
        qx::oracle::ApplyUnsharpMask(s, input.width, input.height, expected.data());
        for (Simd simd : Sets()) {
            Picture got = input;
            ASSERT_TRUE(qx::detail::ApplyUnsharpMaskUsing(simd, s, got.width, got.height, got.data()));
            ASSERT_EQ(expected.bytes, got.bytes) << Name(simd) << " r " << radius;
        }
    }
}

}  // namespace
