// 24-bit bitmap files and .COL files: what is accepted, what is refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "uiplugin/correction/picture/bmp_image.h"
#include "uiplugin/correction/picture/col_file.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

using Bytes = std::vector<unsigned char>;
using qx::BmpError;

void Put16(Bytes &b, size_t o, uint16_t v) { b[o] = v & 0xFF, b[o + 1] = v >> 8; }
void Put32(Bytes &b, size_t o, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[o + i] = (v >> (8 * i)) & 0xFF;
}
uint32_t Get32(const Bytes &b, size_t o) {
    return b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (uint32_t(b[o + 3]) << 24);
}

struct BmpShape {
    int32_t width = 5, height = 3;
    uint32_t infoSize = 40;
    uint16_t bits = 24;
    uint32_t compression = 0;
    int64_t offBits = -1;  // -1: right after the headers
    size_t dropTail = 0;   // bytes cut off the end
};

Bytes MakeBmp(const BmpShape &s) {
    const size_t stride = (3 * static_cast<size_t>(s.width > 0 ? s.width : 0) + 3) / 4 * 4;
    const size_t rows = static_cast<size_t>(s.height < 0 ? -static_cast<int64_t>(s.height) : s.height);
    const uint32_t off = s.offBits < 0 ? 14 + s.infoSize : static_cast<uint32_t>(s.offBits);
    const size_t pixelBytes = (s.width > 0 && rows < 100000) ? stride * rows : 0;
    Bytes b(std::max<size_t>(off, 14 + s.infoSize) + pixelBytes, 0);
    b[0] = 'B', b[1] = 'M';
    Put32(b, 2, static_cast<uint32_t>(b.size()));
    Put32(b, 10, off);
    Put32(b, 14, s.infoSize);
    Put32(b, 18, static_cast<uint32_t>(s.width));
    Put32(b, 22, static_cast<uint32_t>(s.height));
    Put16(b, 26, 1);
    Put16(b, 28, s.bits);
    Put32(b, 30, s.compression);
    Put32(b, 38, 2835);
    Put32(b, 42, 3780);
    for (size_t i = off; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i * 13);
    b.resize(b.size() - s.dropTail);
    return b;
}

BmpError Decode(const Bytes &b, qx::BmpImage *image = nullptr) {
    qx::BmpImage scratch;
    return qx::DecodeBmp(b.data(), b.size(), image ? image : &scratch);
}

TEST(BmpFile, ReadsBottomUpTopDownAndLongHeaders) {
    for (int32_t height : {3, -3})
        for (uint32_t infoSize : {40u, 108u, 124u}) {
            BmpShape s;
            s.height = height, s.infoSize = infoSize;
            const Bytes file = MakeBmp(s);
            qx::BmpImage image;
            ASSERT_EQ(BmpError::kNone, Decode(file, &image)) << height << " " << infoSize;
            EXPECT_EQ(5, image.width);
            EXPECT_EQ(height, image.height);
            EXPECT_EQ(3, image.rows());
            EXPECT_EQ(16u, image.stride);
            EXPECT_EQ(2835, image.xPelsPerMeter);
            ASSERT_EQ(48u, image.pixels.size());
            EXPECT_TRUE(std::equal(image.pixels.begin(), image.pixels.end(), file.begin() + 14 + infoSize));
        }
}

TEST(BmpFile, PixelsAtTheirOffsetAndTrailingBytesIgnored) {
    BmpShape s;
    s.offBits = 70;  // a gap between the headers and the pixels
    Bytes file = MakeBmp(s);
    file.push_back(0xEE);
    qx::BmpImage image;
    ASSERT_EQ(BmpError::kNone, Decode(file, &image));
    EXPECT_EQ(file[70], image.pixels[0]);
}

TEST(BmpFile, Refusals) {
    const struct {
        const char *what;
        BmpShape shape;
        BmpError error;
    } cases[] = {
        {"8-bit", {5, 3, 40, 8, 0, -1, 0}, BmpError::kNot24Bit},
        {"32-bit", {5, 3, 40, 32, 0, -1, 0}, BmpError::kNot24Bit},
        {"RLE", {5, 3, 40, 24, 1, -1, 0}, BmpError::kCompressed},
        {"bitfields", {5, 3, 40, 24, 3, -1, 0}, BmpError::kCompressed},
        {"core header", {5, 3, 12, 24, 0, -1, 0}, BmpError::kUnsupportedHeader},
        {"last byte missing", {5, 3, 40, 24, 0, -1, 1}, BmpError::kTruncated},
        {"width 0", {0, 3, 40, 24, 0, -1, 0}, BmpError::kBadDimensions},
        {"negative width", {-5, 3, 40, 24, 0, -1, 0}, BmpError::kBadDimensions},
        {"height 0", {5, 0, 40, 24, 0, -1, 0}, BmpError::kBadDimensions},
        {"height INT32_MIN", {5, INT32_MIN, 40, 24, 0, -1, 0}, BmpError::kSizeOverflow},
        {"beyond 4 GiB", {100000, 100000, 40, 24, 0, -1, 0}, BmpError::kSizeOverflow},
        {"largest dimensions", {INT32_MAX, INT32_MAX, 40, 24, 0, -1, 0}, BmpError::kSizeOverflow},
        {"pixels inside headers", {5, 3, 40, 24, 0, 40, 0}, BmpError::kBadOffset},
        {"offset past the end", {5, 3, 40, 24, 0, 4000, 3900}, BmpError::kTruncated},
    };
    for (const auto &c : cases) EXPECT_EQ(c.error, Decode(MakeBmp(c.shape))) << c.what;

    Bytes notBmp = MakeBmp({});
    notBmp[0] = 'P';
    EXPECT_EQ(BmpError::kNotBmp, Decode(notBmp));
    EXPECT_EQ(BmpError::kNotBmp, Decode(Bytes{}));
    EXPECT_EQ(BmpError::kNotBmp, Decode(Bytes{'B'}));
    const Bytes whole = MakeBmp({});
    for (size_t n : {2, 14, 17, 18, 40, 53})
        EXPECT_EQ(BmpError::kTruncated, Decode(Bytes(whole.begin(), whole.begin() + n))) << n << " bytes";
    for (BmpError e : {BmpError::kNotBmp, BmpError::kTruncated, BmpError::kSizeOverflow})
        EXPECT_GT(std::strlen(qx::DescribeBmpError(e)), 5u);
}

TEST(BmpFile, WritesFiftyFourByteHeadersKeepingRowOrder) {
    BmpShape s;
    s.height = -3, s.infoSize = 124;
    qx::BmpImage image;
    ASSERT_EQ(BmpError::kNone, Decode(MakeBmp(s), &image));
    Bytes out;
    ASSERT_TRUE(qx::EncodeBmp(image, &out));
    ASSERT_EQ(54u + 48u, out.size());
    EXPECT_EQ('B', out[0]);
    EXPECT_EQ('M', out[1]);
    EXPECT_EQ(102u, Get32(out, 2));
    EXPECT_EQ(54u, Get32(out, 10));
    EXPECT_EQ(40u, Get32(out, 14));
    EXPECT_EQ(5u, Get32(out, 18));
    EXPECT_EQ(static_cast<uint32_t>(-3), Get32(out, 22));
    EXPECT_EQ(1 | (24u << 16), Get32(out, 26));
    EXPECT_EQ(0u, Get32(out, 30));
    EXPECT_EQ(48u, Get32(out, 34));
    qx::BmpImage again;
    ASSERT_EQ(BmpError::kNone, Decode(out, &again));
    EXPECT_EQ(image.pixels, again.pixels);
    EXPECT_EQ(image.height, again.height);

    image.pixels.pop_back();  // inconsistent with its dimensions
    EXPECT_FALSE(qx::EncodeBmp(image, &out));
}

Bytes MakeCol(uint16_t size, uint16_t version, size_t length = 44) {
    Bytes b(length, 0);
    if (length >= 2) b[0] = size & 0xFF, b[1] = size >> 8;
    if (length >= 4) b[2] = version & 0xFF, b[3] = version >> 8;
    for (size_t i = 4; i < length; ++i) b[i] = static_cast<unsigned char>(i);
    return b;
}

TEST(ColFile, ReadsTheSettingsBlockAfterTheHeaderWords) {
    qx::CorrectionSettings s{};
    Bytes file = MakeCol(44, 100, 50);  // longer files are accepted
    ASSERT_EQ(qx::ColError::kNone, qx::DecodeColorCorrectionFile(file.data(), file.size(), &s));
    EXPECT_EQ(0x0504, s.brightness);
    EXPECT_EQ(0x1110, static_cast<uint16_t>(s.sharpness));
    EXPECT_EQ(0, s.reserved);  // ignored
    EXPECT_EQ(0x17161514, s.unsharpMask);
    EXPECT_EQ(0x1B1A, s.unsharpRadius);
    EXPECT_EQ(0x2B2A2928, s.orderIdEnabled);
}

TEST(ColFile, Refusals) {
    const struct {
        Bytes file;
        qx::ColError error;
    } cases[] = {
        {MakeCol(44, 100, 43), qx::ColError::kTooShort},
        {MakeCol(44, 100, 3), qx::ColError::kTooShort},
        {Bytes{}, qx::ColError::kTooShort},
        {MakeCol(40, 100), qx::ColError::kWrongHeader},
        {MakeCol(44, 101), qx::ColError::kWrongHeader},
        {MakeCol(100, 44), qx::ColError::kWrongHeader},
    };
    for (const auto &c : cases) {
        qx::CorrectionSettings s = qx::DefaultPrivateDevMode().settings;
        const qx::CorrectionSettings before = s;
        EXPECT_EQ(c.error, qx::DecodeColorCorrectionFile(c.file.data(), c.file.size(), &s)) << c.file.size();
        EXPECT_EQ(0, std::memcmp(&before, &s, sizeof s));  // nothing taken from a refused file
    }
}

TEST(ColFile, WritesHeaderWordsAndZeroReserved) {
    qx::CorrectionSettings s = qx::DefaultPrivateDevMode().settings;
    s.brightness = -7, s.sharpness = 6, s.reserved = 0xBEEF, s.unsharpMask = 1, s.orderId = 1000;
    const auto file = qx::EncodeColorCorrectionFile(s);
    const unsigned char head[] = {44, 0, 100, 0, 0xF9, 0xFF};
    EXPECT_EQ(0, std::memcmp(head, file.data(), sizeof head));
    EXPECT_EQ(0, file[18]);
    EXPECT_EQ(0, file[19]);
    EXPECT_EQ(1, file[20]);
    EXPECT_EQ(10, file[26]);  // unsharpRadius
    qx::CorrectionSettings back{};
    ASSERT_EQ(qx::ColError::kNone, qx::DecodeColorCorrectionFile(file.data(), file.size(), &back));
    s.reserved = 0;
    EXPECT_EQ(0, std::memcmp(&s, &back, sizeof s));
}

}  // namespace
