// Loading decisions of the preview on crafted files: which pictures are
// usable, cut out or whole, and exactly which bytes end up in the picture.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "tests/preview/bmp_builder.h"
#include "uiplugin/correction/picture/preview_picture.h"

namespace {

using qx::PictureFault;
using qx::PicturePlan;
using qxtest::Bytes;
using qxtest::BmpShape;
using qxtest::BuildBmp;
using qxtest::PixelByte;

PictureFault Plan(const Bytes &file, PicturePlan &plan) {
    qx::MemorySource src(file.data(), file.size());
    return qx::PlanPicture(src, plan);
}

uint32_t Get32(const qx::InfoHeader &h, size_t at) {
    return static_cast<uint32_t>(h[at]) | (static_cast<uint32_t>(h[at + 1]) << 8) |
           (static_cast<uint32_t>(h[at + 2]) << 16) | (static_cast<uint32_t>(h[at + 3]) << 24);
}

// Reads the plan's pixels into a block of exactly pixelBytes, so any read
// past it shows under the address sanitizer.
Bytes ReadPixels(const Bytes &file, const PicturePlan &plan, qx::MemorySource *counter = nullptr) {
    qx::MemorySource own(file.data(), file.size());
    qx::MemorySource &src = counter != nullptr ? *counter : own;
    Bytes px(plan.pixelBytes, 0x55);
    qx::ReadPicturePixels(src, plan, px.data());
    return px;
}

std::string TempPath(const char *name) {
#ifdef _WIN32
    return std::string("Z:") + QX_TEST_TMP_DIR + "/" + name;
#else
    return std::string(QX_TEST_TMP_DIR) + "/" + name;
#endif
}

// ---- every way a file is unusable -------------------------------------------

struct FaultCase {
    const char *what;
    Bytes file;
    PictureFault expected;
};

Bytes Truncated(Bytes b, size_t n) {
    b.resize(n);
    return b;
}
Bytes WithU32(Bytes b, size_t at, uint32_t v) {
    qxtest::Put32(b, at, v);
    return b;
}

TEST(PreviewPlan, UnusableFilesNameTheirFault) {
    BmpShape base;
    const Bytes good = BuildBmp(base);
    BmpShape s8 = base;
    s8.bitCount = 8;
    BmpShape s32 = base;
    s32.bitCount = 32;
    BmpShape notBm = base;
    notBm.type = 0x4142;  // "BA"
    BmpShape w0 = base;
    w0.width = 0;
    BmpShape h0 = base;
    h0.height = 0;
    BmpShape wNeg = base;
    wNeg.width = -4;
    BmpShape huge = base;  // used whole (height <= 192) but its pixels need > 2 GB
    huge.width = std::numeric_limits<int32_t>::max();
    huge.height = 192;
    huge.pixelRowsWritten = 0;
    BmpShape minHeight = base;  // |INT32_MIN| rows of 4 bytes: 8 GB
    minHeight.width = 1;
    minHeight.height = std::numeric_limits<int32_t>::min();
    minHeight.pixelRowsWritten = 0;

    const FaultCase cases[] = {
        {"empty file", Bytes{}, PictureFault::ShortFileHeader},
        {"13 bytes", Truncated(good, 13), PictureFault::ShortFileHeader},
        {"not BM", BuildBmp(notBm), PictureFault::NotBitmap},
        {"only BM", Bytes{'B', 'M'}, PictureFault::ShortFileHeader},
        {"bfOffBits 0", WithU32(good, 10, 0), PictureFault::HeaderAreaTooShort},
        {"header area of 39 bytes", WithU32(good, 10, 53), PictureFault::HeaderAreaTooShort},
        {"bfOffBits past the end", WithU32(good, 10, static_cast<uint32_t>(good.size() + 1)),
         PictureFault::OffsetBeyondFile},
        {"bfOffBits 0xFFFFFFFF", WithU32(good, 10, 0xFFFFFFFFu), PictureFault::OffsetBeyondFile},
        {"8-bit", BuildBmp(s8), PictureFault::NotTwentyFourBit},
        {"32-bit", BuildBmp(s32), PictureFault::NotTwentyFourBit},
        {"width 0", BuildBmp(w0), PictureFault::EmptyPicture},
        {"height 0", BuildBmp(h0), PictureFault::EmptyPicture},
        {"negative width", BuildBmp(wNeg), PictureFault::EmptyPicture},
        {"whole picture over 2 GB", BuildBmp(huge), PictureFault::TooLarge},
        {"height INT32_MIN, one pixel wide", BuildBmp(minHeight), PictureFault::TooLarge},
    };
    for (const FaultCase &c : cases) {
        PicturePlan plan;
        EXPECT_EQ(Plan(c.file, plan), c.expected) << c.what;
    }
}

// ---- cut out or whole ---------------------------------------------------------

struct GeometryCase {
    int32_t w, h;
    bool cutOut;
    uint32_t firstColumn, firstRow;
    int32_t planW, planH;
};

TEST(PreviewPlan, CutOutOnlyWhenBothSidesExceed192) {
    const GeometryCase cases[] = {
        {192, 192, false, 0, 0, 192, 192},      {193, 193, true, 0, 0, 192, 192},
        {193, 192, false, 0, 0, 193, 192},      {192, 193, false, 0, 0, 192, 193},
        {640, 480, true, 224, 144, 192, 192},   {640, -480, true, 224, 144, 192, -192},
        {193, -193, true, 0, 0, 192, -192},     {1000, 100, false, 0, 0, 1000, 100},
        {100, -1000, false, 0, 0, 100, -1000},  {1, 1, false, 0, 0, 1, 1},
        {6000, 4000, true, 2904, 1904, 192, 192}, {195, 194, true, 1, 1, 192, 192},
    };
    for (const GeometryCase &c : cases) {
        BmpShape s;
        s.width = c.w;
        s.height = c.h;
        s.pixelRowsWritten = 0;  // geometry only
        PicturePlan plan;
        ASSERT_EQ(Plan(BuildBmp(s), plan), PictureFault::None) << c.w << "x" << c.h;
        EXPECT_EQ(plan.cutOut, c.cutOut) << c.w << "x" << c.h;
        EXPECT_EQ(plan.width, c.planW) << c.w << "x" << c.h;
        EXPECT_EQ(plan.height, c.planH) << c.w << "x" << c.h;
        EXPECT_EQ(qx::HeaderWidth(plan.header), c.planW);
        EXPECT_EQ(qx::HeaderHeight(plan.header), c.planH);
        EXPECT_EQ(Get32(plan.header, 0), 40u) << "biSize";
        EXPECT_EQ(plan.stride, qxtest::StrideOf(c.planW));
        EXPECT_EQ(plan.pixelBytes, plan.stride * static_cast<size_t>(c.planH < 0 ? -c.planH : c.planH));
        if (c.cutOut) {
            EXPECT_EQ(plan.firstColumn, c.firstColumn) << c.w << "x" << c.h;
            EXPECT_EQ(plan.firstRow, c.firstRow) << c.w << "x" << c.h;
        }
    }
}

TEST(PreviewPlan, HeaderKeepsTheFilesOtherFieldsAndDropsLongerHeaders) {
    BmpShape s;
    s.width = 300;
    s.height = 200;
    s.biSize = 124;  // a longer header: only its first 40 bytes are kept
    s.headerGap = 84;
    s.planes = 3;
    s.compression = 0;
    s.sizeImage = 123456;
    s.xPels = 3780;
    PicturePlan plan;
    ASSERT_EQ(Plan(BuildBmp(s), plan), PictureFault::None);
    ASSERT_TRUE(plan.cutOut);
    EXPECT_EQ(Get32(plan.header, 0), 40u);
    EXPECT_EQ(plan.header[12], 3) << "biPlanes as read";
    EXPECT_EQ(Get32(plan.header, 20), 123456u) << "biSizeImage as read";
    EXPECT_EQ(Get32(plan.header, 24), 3780u) << "biXPelsPerMeter as read";
    EXPECT_EQ(plan.pixelOffset, 14u + 40u + 84u);
}

// ---- the bytes of a cut-out ------------------------------------------------------

void ExpectCutOut(const Bytes &px, const PicturePlan &plan, uint64_t rowsInFile) {
    for (uint32_t i = 0; i < 192; ++i) {
        const uint64_t r = plan.firstRow + i;
        for (uint32_t c = 0; c < 192; ++c)
            for (int b = 0; b < 3; ++b) {
                const uint8_t want = r < rowsInFile ? PixelByte(r, plan.firstColumn + c, b) : 0;
                ASSERT_EQ(px[i * 576 + c * 3 + b], want) << "row " << i << " col " << c << " byte " << b;
            }
    }
}

TEST(PreviewCutOut, TakesTheCentreRowByRowWithOneReadEach) {
    for (int32_t h : {480, -480}) {
        BmpShape s;
        s.width = 640;
        s.height = h;
        const Bytes file = BuildBmp(s);
        PicturePlan plan;
        ASSERT_EQ(Plan(file, plan), PictureFault::None);
        qx::MemorySource counter(file.data(), file.size());
        const Bytes px = ReadPixels(file, plan, &counter);
        // Rows in stored order whatever the orientation: stored rows 144..335.
        ExpectCutOut(px, plan, 480);
        EXPECT_EQ(counter.reads, 192u);
        EXPECT_EQ(counter.bytesAsked, 192u * 576u);
    }
}

TEST(PreviewCutOut, RowsTheFileLacksAreZero) {
    BmpShape s;
    s.width = 640;
    s.height = 480;
    s.pixelRowsWritten = 200;  // the file stops inside the cut-out
    const Bytes file = BuildBmp(s);
    PicturePlan plan;
    ASSERT_EQ(Plan(file, plan), PictureFault::None);
    ExpectCutOut(ReadPixels(file, plan), plan, 200);
}

TEST(PreviewCutOut, BytesBeyondDeclaredSizeAreZeroEvenIfTheFileHasThem) {
    BmpShape s;
    s.width = 640;
    s.height = 480;
    const uint64_t stride = qxtest::StrideOf(640);
    // bfSize declares the pixel data to end 10 bytes into the row 200 cut-out.
    s.bfSizeDelta = -static_cast<int64_t>(stride * 480) + static_cast<int64_t>(stride * 200 + 672 + 10);
    const Bytes file = BuildBmp(s);
    PicturePlan plan;
    ASSERT_EQ(Plan(file, plan), PictureFault::None);
    const Bytes px = ReadPixels(file, plan);
    const size_t row56 = (200 - 144) * 576;
    for (size_t k = 0; k < 10; ++k) EXPECT_EQ(px[row56 + k], PixelByte(200, 224 + k / 3, k % 3));
    for (size_t k = 10; k < 576; ++k) ASSERT_EQ(px[row56 + k], 0) << k;
    for (size_t k = row56 + 576; k < px.size(); ++k) ASSERT_EQ(px[k], 0) << k;
    EXPECT_EQ(px[row56 - 1], PixelByte(199, 224 + 191, 2));
}

TEST(PreviewCutOut, EnormousDeclaredSizesStayIn64BitsAndReadNothingMissing) {
    BmpShape s;
    s.width = std::numeric_limits<int32_t>::max();
    s.height = std::numeric_limits<int32_t>::min();
    s.pixelRowsWritten = 0;
    s.bfSizeDelta = 1000;
    const Bytes file = BuildBmp(s);
    PicturePlan plan;
    ASSERT_EQ(Plan(file, plan), PictureFault::None);
    EXPECT_TRUE(plan.cutOut);
    EXPECT_EQ(plan.height, -192);
    EXPECT_EQ(plan.firstColumn, 1073741727u);
    EXPECT_EQ(plan.firstRow, 1073741728u);
    qx::MemorySource counter(file.data(), file.size());
    EXPECT_EQ(ReadPixels(file, plan, &counter), Bytes(qx::kPreviewPixelBytes, 0));
}

// ---- the bytes of a picture used whole ------------------------------------------

TEST(PreviewWhole, ReadsTheFullDeclaredPixelDataIncludingTheLastTwoBytes) {
    BmpShape s;
    s.width = 5;  // stride 16: one padding byte per row
    s.height = 3;
    const Bytes file = BuildBmp(s);
    PicturePlan plan;
    ASSERT_EQ(Plan(file, plan), PictureFault::None);
    ASSERT_FALSE(plan.cutOut);
    const Bytes px = ReadPixels(file, plan);
    EXPECT_EQ(px, Bytes(file.begin() + 54, file.end()));
}

TEST(PreviewWhole, MissingOrUndeclaredBytesAreZeroAndTheBlockIsNeverOverrun) {
    BmpShape s;
    s.width = 192;
    s.height = 192;
    const size_t pixelBytes = 576 * 192;

    struct Case {
        const char *what;
        int64_t bfSizeDelta;
        uint64_t rowsWritten;
        size_t expectRead;
    } cases[] = {
        {"exact", 0, 192, pixelBytes},
        {"declares 2 bytes less", -2, 192, pixelBytes - 2},
        {"declares more than the picture", 100000, 192, pixelBytes},
        {"bfSize below bfOffBits", -static_cast<int64_t>(pixelBytes) - 40, 192, 0},
        {"file stops after 10 rows", 0, 10, 576 * 10},
    };
    for (const Case &c : cases) {
        BmpShape t = s;
        t.bfSizeDelta = c.bfSizeDelta;
        t.pixelRowsWritten = c.rowsWritten;
        Bytes file = BuildBmp(t);
        file.resize(file.size() + (c.rowsWritten == 192 ? 4096 : 0), 0x77);  // trailing bytes past the picture
        PicturePlan plan;
        ASSERT_EQ(Plan(file, plan), PictureFault::None) << c.what;
        const Bytes px = ReadPixels(file, plan);
        ASSERT_EQ(px.size(), pixelBytes);
        for (size_t k = 0; k < pixelBytes; ++k) {
            const uint8_t want = k < c.expectRead ? file[54 + k] : 0;
            ASSERT_EQ(px[k], want) << c.what << " byte " << k;
        }
    }
}

TEST(PreviewWhole, PixelsStartAtBfOffBitsPastAGap) {
    BmpShape s;
    s.width = 2;
    s.height = -2;
    s.headerGap = 1024;  // a colour table the preview skips
    const Bytes file = BuildBmp(s);
    PicturePlan plan;
    ASSERT_EQ(Plan(file, plan), PictureFault::None);
    EXPECT_EQ(plan.height, -2);
    EXPECT_EQ(ReadPixels(file, plan), Bytes(file.begin() + 54 + 1024, file.end()));
}

// ---- loading as the CLI does -------------------------------------------------------

TEST(PreviewLoad, CutOutWithoutScratchIsUnusableWholeNeedsNone) {
    BmpShape big;
    big.width = 300;
    big.height = 300;
    const Bytes bigFile = BuildBmp(big);
    qx::MemorySource a(bigFile.data(), bigFile.size());
    qx::PreviewImage image;
    EXPECT_EQ(qx::LoadPictureFile(a, nullptr, image), PictureFault::NoScratch);

    const Bytes small = BuildBmp(BmpShape{});
    qx::MemorySource b(small.data(), small.size());
    EXPECT_EQ(qx::LoadPictureFile(b, nullptr, image), PictureFault::None);
    EXPECT_EQ(image.width, 4);
}

TEST(PreviewLoad, RealFileThroughStdioMatchesMemory) {
    BmpShape s;
    s.width = 641;
    s.height = -250;
    const Bytes file = BuildBmp(s);
    const std::string path = TempPath("preview_stdio_641x250.bmp");
    ASSERT_TRUE(qxtest::WriteFile(path, file));

    Bytes scratch(qx::kPreviewScratchSize, 0);
    qx::StdioFileSource onDisk(path.c_str());
    ASSERT_TRUE(onDisk.IsOpen());
    EXPECT_EQ(onDisk.Size(), file.size());
    qx::PreviewImage fromDisk;
    ASSERT_EQ(qx::LoadPictureFile(onDisk, scratch.data(), fromDisk), PictureFault::None);

    qx::MemorySource inMemory(file.data(), file.size());
    qx::PreviewImage fromMemory;
    ASSERT_EQ(qx::LoadPictureFile(inMemory, scratch.data(), fromMemory), PictureFault::None);
    EXPECT_EQ(fromDisk.pixels, fromMemory.pixels);
    EXPECT_EQ(fromDisk.height, -192);

    qx::StdioFileSource missing(TempPath("no_such_picture.bmp").c_str());
    EXPECT_FALSE(missing.IsOpen());
    std::remove(path.c_str());
}

TEST(PreviewLoad, BuiltinPhotographIsTheResourceFilesPixels) {
    const Bytes bmp = qxtest::ReadWholeFile(
#ifdef _WIN32
        std::string("Z:") +
#else
        std::string() +
#endif
        QX_BUILTIN_PREVIEW_BMP);
    ASSERT_EQ(bmp.size(), 110646u);
    qx::PreviewImage builtin;
    ASSERT_TRUE(qx::LoadBuiltinPicture(bmp.data(), bmp.size(), builtin));
    EXPECT_EQ(builtin.header, qx::BuiltinPictureHeader());
    EXPECT_EQ(builtin.pixels, Bytes(bmp.begin() + 54, bmp.end()));

    EXPECT_FALSE(qx::LoadBuiltinPicture(bmp.data(), 100, builtin));
}

// ---- the preview above 96 DPI ----------------------------------------------------

TEST(PreviewSide, GrowsWithTheDpiAndTheScratchWithTheSide) {
    const struct {
        int dpi;
        int32_t side;
        size_t scratch;
    } cases[] = {
        {72, 192, 147456},   {96, 192, 147456},   {120, 240, 172800},     {125, 250, 188000},
        {144, 288, 248832},  {192, 384, 442368},  {960, 1920, 11059200},  {4000, 1920, 11059200},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(qx::PreviewSideForDpi(c.dpi), c.side) << c.dpi << " DPI";
        EXPECT_EQ(qx::PreviewScratchBytes(c.side), c.scratch) << c.side;  // 250: rows of 752 bytes
    }
    EXPECT_EQ(qx::PreviewScratchBytes(191), 0u);
    EXPECT_EQ(qx::PreviewScratchBytes(1921), 0u);
}

TEST(PreviewSide, LargerPictureIsCutToTheSidesCentreSmallerOneKeptWhole) {
    struct Case {
        int32_t width, height, side;
        bool cut;
        uint32_t column, row;
    };
    const Case cases[] = {
        {640, 480, 288, true, 176, 96},   // the 192 rule with 288 in place of 192
        {640, -480, 250, true, 195, 115}, // rows of 750 bytes padded to 752, top-down kept
        {289, 289, 288, true, 0, 0},
        {288, 1000, 288, false, 0, 0},    // one side not larger: whole, stretched by the page
        {300, 300, 384, false, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " at " + std::to_string(c.side));
        BmpShape shape;
        shape.width = c.width;
        shape.height = c.height;
        const Bytes file = BuildBmp(shape);
        qx::MemorySource src(file.data(), file.size());
        PicturePlan plan;
        ASSERT_EQ(qx::PlanPicture(src, plan, c.side), PictureFault::None);
        ASSERT_EQ(plan.cutOut, c.cut);
        if (!c.cut) {
            EXPECT_EQ(plan.width, c.width);
            continue;
        }
        EXPECT_EQ(plan.width, c.side);
        EXPECT_EQ(plan.height, c.height < 0 ? -c.side : c.side);
        EXPECT_EQ(plan.firstColumn, c.column);
        EXPECT_EQ(plan.firstRow, c.row);
        const size_t stride = qxtest::StrideOf(c.side);
        ASSERT_EQ(plan.pixelBytes, stride * static_cast<size_t>(c.side));
        const Bytes px = ReadPixels(file, plan);
        for (uint32_t r = 0; r < static_cast<uint32_t>(c.side); r += 37)
            for (uint32_t x = 0; x < static_cast<uint32_t>(c.side); x += 41)
                ASSERT_EQ(px[r * stride + x * 3 + 1], PixelByte(c.row + r, c.column + x, 1)) << r << "," << x;
        for (size_t k = size_t{3} * c.side; k < stride; ++k) EXPECT_EQ(px[stride * 5 + k], 0) << "padding " << k;
    }
}

Bytes ResourceFile(int side) {
    const std::string name = side == 192 ? "builtin-preview.bmp" : "builtin-preview-" + std::to_string(side) + ".bmp";
#ifdef _WIN32
    return qxtest::ReadWholeFile(std::string("Z:") + QX_RESOURCES_DIR + "/" + name);
#else
    return qxtest::ReadWholeFile(std::string(QX_RESOURCES_DIR) + "/" + name);
#endif
}

TEST(PreviewSide, OnlyAWholeSquareOfThePhotographsSizesServesAsTheBuiltinPicture) {
    // (Its pixels at each side: tests/preview/preview_cli_test.cpp.)
    for (int side : qx::kBuiltinSides) {
        const Bytes bmp = ResourceFile(side);
        EXPECT_EQ(qx::PackedBuiltinSide(bmp.data() + 14, bmp.size() - 14), side) << "resource file of " << side;
        EXPECT_EQ(qx::PackedBuiltinSide(bmp.data() + 14, bmp.size() - 15), 0) << "one byte short";
    }
    const Bytes small = BuildBmp(BmpShape{});
    EXPECT_EQ(qx::PackedBuiltinSide(small.data() + 14, small.size() - 14), 0);
}

}  // namespace
