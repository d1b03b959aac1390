// Tone and colour-balance lookup: worked values and edge cases.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/correction/picture.h"
#include "uiplugin/correction/engine/image_correction.h"

namespace {

using qx::CorrectionSettings;
using qx::ToneTable;

struct Tone {
    int brightness = 0, contrast = 0, saturation = 0, cyanRed = 0, magentaGreen = 0, yellowBlue = 0;
};

ToneTable Build(const Tone &t, unsigned char fill = 0xA5) {
    CorrectionSettings s = qx::testing::DefaultSettings();
    s.brightness = static_cast<int16_t>(t.brightness);
    s.contrast = static_cast<int16_t>(t.contrast);
    s.saturation = static_cast<int16_t>(t.saturation);
    s.cyanRed = static_cast<int16_t>(t.cyanRed);
    s.magentaGreen = static_cast<int16_t>(t.magentaGreen);
    s.yellowBlue = static_cast<int16_t>(t.yellowBlue);
    ToneTable table;
    std::memset(table.bytes, fill, sizeof table.bytes);
    qx::BuildToneTable(s, table);
    return table;
}

int Blue(const ToneTable &t, int i) { return t.bytes[i]; }
int Green(const ToneTable &t, int i) { return t.bytes[256 + i]; }
int Red(const ToneTable &t, int i) { return t.bytes[512 + i]; }

struct Px {
    int b, g, r;
    bool operator==(const Px &o) const { return b == o.b && g == o.g && r == o.r; }
};
std::ostream &operator<<(std::ostream &os, const Px &p) { return os << "(" << p.b << ", " << p.g << ", " << p.r << ")"; }

Px Apply(const ToneTable &t, Px p) {
    unsigned char row[3] = {static_cast<unsigned char>(p.b), static_cast<unsigned char>(p.g),
                            static_cast<unsigned char>(p.r)};
    qx::ApplyToneRow(row, 1, t);
    return {row[0], row[1], row[2]};
}

const Tone kWorked{2, 4, 5, 3, -2, -5};

TEST(ToneTable, WorkedExampleChannelTables) {
    const ToneTable t = Build(kWorked);
    // Offsets blue -6, green 7, red 29 (-33 / 2 truncates to -16).
    EXPECT_EQ(46, Blue(t, 64));
    EXPECT_EQ(59, Green(t, 64));
    EXPECT_EQ(81, Red(t, 64));
    EXPECT_EQ(122, Blue(t, 128));
    EXPECT_EQ(135, Green(t, 128));
    EXPECT_EQ(157, Red(t, 128));
    EXPECT_EQ(0, Blue(t, 0));      // from -29
    EXPECT_EQ(255, Red(t, 230));   // from 277
    EXPECT_EQ(6, Red(t, 0));       // h(0) = -23 (truncated, not -24) + 29
    EXPECT_EQ(7, Green(t, 20));    // h(20) = 0
    EXPECT_EQ(112, Blue(t, 120));  // h(120) = 118
}

TEST(ToneTable, WorkedExampleSaturationEntries) {
    const ToneTable t = Build(kWorked);
    const struct {
        int k, value;
    } cases[] = {{2, 0}, {-2, 0}, {3, 1}, {-3, -1}, {100, 33}, {120, 40}, {255, 85}, {-255, -85}, {0, 0}};
    for (const auto &c : cases) EXPECT_EQ(c.value, qx::SaturationEntry(t, c.k)) << "k = " << c.k;
    // Entry k is 16-bit element 640 + k of the block: byte 1280 + 2k.
    int16_t raw;
    std::memcpy(&raw, t.bytes + 1280 + 2 * 100, 2);
    EXPECT_EQ(33, raw);
    std::memcpy(&raw, t.bytes + 770, 2);
    EXPECT_EQ(-85, raw);
}

TEST(ToneTable, WorkedExamplePixelSaturationBeforeTone) {
    EXPECT_EQ((Px{0, 125, 255}), Apply(Build(kWorked), {40, 120, 200}));
}

TEST(ToneTable, UnwrittenStretchesKeepTheirBytes) {
    for (unsigned char fill : {0x00, 0xA5, 0xFF}) {
        const ToneTable t = Build(kWorked, fill);
        for (size_t i : {768, 769, 1792, 1793, 1794, 1795, 1796, 1797, 1798})
            EXPECT_EQ(fill, t.bytes[i]) << "byte " << i;
    }
}

TEST(ToneTable, AllZeroIsIdentity) {
    const ToneTable t = Build({});
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(i, Blue(t, i));
        ASSERT_EQ(i, Green(t, i));
        ASSERT_EQ(i, Red(t, i));
    }
    for (int k = -255; k <= 255; ++k) ASSERT_EQ(0, qx::SaturationEntry(t, k));
    qx::testing::Picture p = qx::testing::RandomPicture(7, 3, 1);
    const auto before = p.bytes;
    for (int y = 0; y < 3; ++y) qx::ApplyToneRow(p.row(y), 7, t);
    EXPECT_EQ(before, p.bytes);
}

// Each balance field drives its own channel: +3 there, -1.5 (truncated) in
// the others.
TEST(ToneTable, BalanceOffsetsPerChannel) {
    const struct {
        Tone tone;
        int blue, green, red;
    } cases[] = {
        {{0, 0, 0, 1, 0, 0}, -1, -1, 3},   // cyanRed 1: -3 / 2 = -1, not -2
        {{0, 0, 0, 0, 0, -1}, -3, 1, 1},   // yellowBlue -1: 3 / 2 = 1
        {{0, 0, 0, 0, 1, 0}, -1, 3, -1},   // magentaGreen 1
        {{0, 0, 0, -10, 10, 0}, 0, 45, -45},
        {{3, 0, 0, 0, 0, 0}, 15, 15, 15},  // brightness: 5 per step
    };
    for (const auto &c : cases) {
        const ToneTable t = Build(c.tone);
        EXPECT_EQ(100 + c.blue, Blue(t, 100)) << c.tone.cyanRed << c.tone.magentaGreen << c.tone.yellowBlue;
        EXPECT_EQ(100 + c.green, Green(t, 100));
        EXPECT_EQ(100 + c.red, Red(t, 100));
    }
}

TEST(ToneTable, ContrastCurve) {
    const struct {
        int contrast, i, value;
    } cases[] = {
        {10, 0, 0},   {10, 64, 22},  {10, 192, 233}, {10, 255, 255}, {10, 128, 128},  // h(0) -82, h(255) 336
        {-10, 0, 35}, {-10, 64, 81}, {-10, 192, 174}, {-10, 255, 219}, {-10, 128, 128},
        {4, 120, 118}, {4, 240, 255},
    };
    for (const auto &c : cases) {
        const ToneTable t = Build({0, c.contrast, 0, 0, 0, 0});
        EXPECT_EQ(c.value, Blue(t, c.i)) << "contrast " << c.contrast << " i " << c.i;
        EXPECT_EQ(c.value, Red(t, c.i));
    }
}

TEST(ToneTable, BrightnessClips) {
    const ToneTable up = Build({10, 0, 0, 0, 0, 0});
    const ToneTable down = Build({-10, 0, 0, 0, 0, 0});
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(i + 50 > 255 ? 255 : i + 50, Green(up, i)) << i;
        ASSERT_EQ(i < 50 ? 0 : i - 50, Green(down, i)) << i;
    }
    EXPECT_EQ(254, Blue(up, 204));
    EXPECT_EQ(255, Blue(up, 205));
}

TEST(ToneTable, SaturationExtremes) {
    const ToneTable plus = Build({0, 0, 10, 0, 0, 0});
    EXPECT_EQ(170, qx::SaturationEntry(plus, 255));
    EXPECT_EQ(-170, qx::SaturationEntry(plus, -255));
    EXPECT_EQ(84, qx::SaturationEntry(plus, 127));
    EXPECT_EQ((Px{50, 150, 250}), Apply(plus, {100, 150, 200}));
    EXPECT_EQ((Px{0, 0, 255}), Apply(plus, {0, 0, 255}));
    const ToneTable minus = Build({0, 0, -10, 0, 0, 0});
    EXPECT_EQ((Px{150, 150, 150}), Apply(minus, {100, 150, 200}));
    for (int s : {-10, -3, 7, 10})
        for (int v : {0, 1, 77, 254, 255}) EXPECT_EQ((Px{v, v, v}), Apply(Build({0, 0, s, 0, 0, 0}), {v, v, v}));
}

TEST(ToneTable, CountAndPaddingBounds) {
    const ToneTable t = Build({5, 0, 0, 0, 0, 0});
    std::vector<unsigned char> row(3 * 4 + 2, 100);
    const auto before = row;
    qx::ApplyToneRow(row.data(), 0, t);
    qx::ApplyToneRow(row.data(), -1, t);
    qx::ApplyToneRow(row.data(), INT32_MIN, t);
    EXPECT_EQ(before, row);
    qx::ApplyToneRow(row.data(), 4, t);
    for (size_t i = 0; i < 12; ++i) EXPECT_EQ(125, row[i]);
    EXPECT_EQ(100, row[12]);  // the bytes after the last pixel are not touched
    EXPECT_EQ(100, row[13]);
}

// Counts beyond 16 bits are corrected, not skipped.
TEST(ToneTable, RowsWiderThan32767Pixels) {
    const ToneTable t = Build({1, 0, 0, 0, 0, 0});
    const int32_t count = 40000;
    std::vector<unsigned char> row(3 * static_cast<size_t>(count), 10);
    qx::ApplyToneRow(row.data(), count, t);
    EXPECT_EQ(15, row.front());
    EXPECT_EQ(15, row.back());
}

}  // namespace
