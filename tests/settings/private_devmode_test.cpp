// The private device-mode block and its requests, on raw buffers.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "uiplugin/settings/devmode_fields.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

using Record = std::array<unsigned char, 576>;
using qx::DevModeRequest;

uint32_t U32(const unsigned char *b, size_t o) {
    return b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (uint32_t(b[o + 3]) << 24);
}
int16_t I16(const unsigned char *b, size_t o) { return int16_t(b[o] | (b[o + 1] << 8)); }
void Put16(unsigned char *b, size_t o, uint16_t v) { b[o] = v & 0xFF, b[o + 1] = v >> 8; }
void Put32(unsigned char *b, size_t o, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[o + i] = (v >> (8 * i)) & 0xFF;
}

Record Filled(unsigned char v) {
    Record r;
    r.fill(v);
    return r;
}
Record Patterned(unsigned seed) {
    Record r;
    for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<unsigned char>(i * 7 + seed);
    return r;
}
void SetHeader(unsigned char *r, uint32_t size, uint32_t sig, uint32_t version) {
    Put32(r, 0, size), Put32(r, 4, sig), Put32(r, 8, version);
}

const unsigned char kHeaderBytes[12] = {0x40, 0x02, 0, 0, 0x4C, 0x50, 0x43, 0x4E, 1, 0, 0, 0};

// Record offsets written by the defaults, each with its little-endian bytes.
struct Write { size_t offset; std::vector<unsigned char> bytes; };
const std::vector<Write> kDefaultWrites = {
    {0, {0x40, 0x02, 0, 0}}, {4, {0x4C, 0x50, 0x43, 0x4E}}, {8, {1, 0, 0, 0}},
    {28, {0, 0, 0, 0}},                                     // unsharpMask
    {32, {5, 0}},        {34, {10, 0}},   {36, {5, 0}},      // unsharp amount, radius, threshold
    {40, {0, 0, 0, 0}},  {44, {0, 0, 0, 0}}, {48, {0, 0, 0, 0}},  // naturalColor, orderId, orderIdEnabled
    {572, {1, 0, 0, 0}},                                     // appliedFlag
};

Record ExpectedDefaultsOver(Record r) {
    for (const Write &w : kDefaultWrites) std::memcpy(r.data() + w.offset, w.bytes.data(), w.bytes.size());
    return r;
}

// Public DEVMODEW bytes: 220 of them, of which the defaults may touch only
// 76..79 (orientation, paper).
using PublicDM = std::array<unsigned char, 220>;
PublicDM Public(char16_t firstNameUnit, int16_t paper) {
    PublicDM dm;
    for (size_t i = 0; i < dm.size(); ++i) dm[i] = static_cast<unsigned char>(0x30 + i);
    Put16(dm.data(), 0, firstNameUnit);
    Put16(dm.data(), 76, 1);  // portrait
    Put16(dm.data(), 78, static_cast<uint16_t>(paper));
    return dm;
}

TEST(Layout, CodecMatchesTheStoredOffsets) {
    qx::PrivateDevMode r{};
    r.dwSize = 0x11223344;
    r.settings.brightness = -2;
    r.settings.sharpness = 0xBEEF;
    r.settings.reserved = 0x1234;
    r.settings.unsharpMask = -7;
    r.settings.unsharpRadius = 30;
    r.settings.orderIdEnabled = 0x0A0B0C0D;
    r.previewImagePath[0] = u'C';
    r.previewImagePath[259] = 0xD800;
    r.appliedFlag = 0xCAFEF00D;
    Record b{};
    qx::WritePrivateDevMode(r, b.data());
    EXPECT_EQ(U32(b.data(), 0), 0x11223344u);
    EXPECT_EQ(I16(b.data(), 12), -2);
    EXPECT_EQ(I16(b.data(), 24), int16_t(0xBEEF));
    EXPECT_EQ(I16(b.data(), 26), 0x1234);
    EXPECT_EQ(U32(b.data(), 28), uint32_t(-7));
    EXPECT_EQ(I16(b.data(), 34), 30);
    EXPECT_EQ(U32(b.data(), 48), 0x0A0B0C0Du);
    EXPECT_EQ(I16(b.data(), 52), u'C');
    EXPECT_EQ(uint16_t(I16(b.data(), 52 + 518)), 0xD800);
    EXPECT_EQ(U32(b.data(), 572), 0xCAFEF00Du);
    const qx::PrivateDevMode back = qx::ReadPrivateDevMode(b.data());
    Record again{};
    qx::WritePrivateDevMode(back, again.data());
    EXPECT_EQ(again, b);
}

TEST(Layout, FieldTableCoversTheRecordInOrder) {
    size_t next = 0;
    for (size_t i = 0; i < qx::kPrivateDevModeFieldCount; ++i) {
        const qx::FieldInfo &f = qx::kPrivateDevModeFields[i];
        EXPECT_EQ(f.offset, next) << f.name;
        next = f.offset + f.width;
    }
    EXPECT_EQ(next, 576u);
}

TEST(Layout, DefaultRecordIsValidAndMatchesTheTableDefaults) {
    const Record zero{};
    Record r = zero;
    qx::WritePrivateDevModeDefaults(r.data());
    for (size_t i = 0; i < qx::kPrivateDevModeFieldCount; ++i) {
        const qx::FieldInfo &f = qx::kPrivateDevModeFields[i];
        EXPECT_TRUE(qx::FieldIsValid(r.data(), f)) << f.name;
        if (f.hasDefault && f.type != qx::FieldType::Utf16Path) {
            EXPECT_EQ(qx::ReadFieldValue(r.data(), f), f.defaultValue) << f.name;
        }
    }
    const qx::PrivateDevMode d = qx::DefaultPrivateDevMode();
    Record viaStruct{};
    qx::WritePrivateDevMode(d, viaStruct.data());
    EXPECT_EQ(viaStruct, r);
}

TEST(Request, SizeAnswers576AndTouchesNoRecord) {
    Record in = Patterned(1), out = Patterned(2);
    PublicDM dm = Public(u'Q', 300);
    const Record in0 = in, out0 = out;
    const PublicDM dm0 = dm;
    DevModeRequest rq;
    rq.publicDMIn = dm.data(), rq.privateIn = in.data(), rq.privateOut = out.data(), rq.bufSize = 3;
    ASSERT_TRUE(qx::RunDevModeRequest(qx::kDevModeSize, rq));
    EXPECT_EQ(rq.bufSize, 576u);
    EXPECT_EQ(in, in0);
    EXPECT_EQ(out, out0);
    EXPECT_EQ(dm, dm0);
}

TEST(Request, UnknownCodesAreRefusedWithoutWrites) {
    for (uint32_t code : {0u, 5u, 0xFFFFFFFFu}) {
        Record in = Patterned(1), out = Patterned(2);
        PublicDM dm = Public(u'Q', 300);
        const Record in0 = in, out0 = out;
        const PublicDM dm0 = dm;
        DevModeRequest rq;
        rq.publicDMIn = dm.data(), rq.privateIn = in.data(), rq.privateOut = out.data(), rq.bufSize = 3;
        EXPECT_FALSE(qx::RunDevModeRequest(code, rq)) << code;
        EXPECT_EQ(rq.bufSize, 3u);
        EXPECT_EQ(in, in0);
        EXPECT_EQ(out, out0);
        EXPECT_EQ(dm, dm0);
    }
}

TEST(Default, ZeroFilledBlockBecomesTheDefaultRecord) {
    Record out{};
    DevModeRequest rq;
    rq.privateOut = out.data();
    ASSERT_TRUE(qx::RunDevModeRequest(qx::kDevModeDefault, rq));
    EXPECT_EQ(0, std::memcmp(out.data(), kHeaderBytes, 12));
    EXPECT_EQ(out, ExpectedDefaultsOver(Record{}));
}

TEST(Default, WritesOnlyItsWordsAndKeepsTheRest) {
    Record out = Filled(0xAB);
    Put16(out.data(), 12, 7);                 // brightness
    Put16(out.data(), 52, u'X');              // path not empty
    const Record before = out;
    DevModeRequest rq;
    rq.privateOut = out.data();
    ASSERT_TRUE(qx::RunDevModeRequest(qx::kDevModeDefault, rq));
    EXPECT_EQ(out, ExpectedDefaultsOver(before));
    EXPECT_EQ(I16(out.data(), 12), 7);
    EXPECT_EQ(I16(out.data(), 52), u'X');
}

TEST(Default, PublicDevModeGetsLandscapeAndA4ForDriverPapers) {
    struct Case { char16_t name; int16_t paper; int16_t expected; };
    const Case cases[] = {
        {u'Q', 256, 9},        {u'Q', 255, 255},       {u'Q', 32767, 9},   {u'\\', 300, 300},
        {u'\\', 256, 256},     {u'Q', -1, -1},         {u'Q', -32768, -32768},
        {u'\0', 256, 9},       {u'/', 256, 9},         {u'Q', 9, 9},
    };
    for (const Case &c : cases) {
        PublicDM dm = Public(c.name, c.paper);
        PublicDM expected = dm;
        Put16(expected.data(), 76, 2);
        Put16(expected.data(), 78, static_cast<uint16_t>(c.expected));
        Record out{};
        DevModeRequest rq;
        rq.publicDMIn = dm.data(), rq.privateOut = out.data();
        ASSERT_TRUE(qx::RunDevModeRequest(qx::kDevModeDefault, rq));
        EXPECT_EQ(dm, expected) << "name unit " << int(c.name) << ", paper " << c.paper;
    }
}

TEST(Default, NullRecordsAreSkipped) {
    PublicDM dm = Public(u'Q', 256);
    DevModeRequest noPrivate;
    noPrivate.publicDMIn = dm.data();
    ASSERT_TRUE(qx::RunDevModeRequest(qx::kDevModeDefault, noPrivate));
    EXPECT_EQ(I16(dm.data(), 76), 2);
    EXPECT_EQ(I16(dm.data(), 78), 9);

    Record out{};
    DevModeRequest noPublic;
    noPublic.privateOut = out.data();
    ASSERT_TRUE(qx::RunDevModeRequest(qx::kDevModeDefault, noPublic));
    EXPECT_EQ(out, ExpectedDefaultsOver(Record{}));

    DevModeRequest none;
    EXPECT_TRUE(qx::RunDevModeRequest(qx::kDevModeDefault, none));
}

Record DefaultedOut(unsigned seed) {
    Record r = Patterned(seed);
    qx::WritePrivateDevModeDefaults(r.data());
    return r;
}

TEST(Convert, NullPointersWriteNothing) {
    Record r = Patterned(3);
    const Record r0 = r;
    EXPECT_FALSE(qx::ConvertPrivateDevMode(nullptr, r.data()));
    EXPECT_FALSE(qx::ConvertPrivateDevMode(r.data(), nullptr));
    EXPECT_EQ(r, r0);
    DevModeRequest rq;
    rq.privateOut = r.data();
    EXPECT_TRUE(qx::RunDevModeRequest(qx::kDevModeConvert, rq));
    EXPECT_EQ(r, r0);
}

TEST(Convert, ForeignSignatureResetsHeaderAndZeroesSettings) {
    Record in = Patterned(9);
    SetHeader(in.data(), 576, 0x12345678, 1);
    Record out = DefaultedOut(5);
    Put16(out.data(), 52, u'P');
    Put32(out.data(), 572, 77);
    Record expected = out;
    std::memcpy(expected.data(), kHeaderBytes, 12);
    std::memset(expected.data() + 12, 0, 40);
    ASSERT_TRUE(qx::ConvertPrivateDevMode(in.data(), out.data()));
    EXPECT_EQ(out, expected);
    EXPECT_EQ(I16(out.data(), 34), 0);  // unsharpRadius: ConversionDefaults, not the defaults
}

TEST(Convert, SignatureIsComparedWithTheOutputsNotTheConstant) {
    Record in = Patterned(9), out = Patterned(4);
    SetHeader(in.data(), 576, 0, 3);
    SetHeader(out.data(), 576, 0, 1);
    Record expected = in;
    SetHeader(expected.data(), 576, 0, 1);
    ASSERT_TRUE(qx::ConvertPrivateDevMode(in.data(), out.data()));
    EXPECT_EQ(out, expected);
}

// Matching signatures: the first min(in.dwSize, out.dwSize, 576) bytes of in.
TEST(Convert, MatchingSignatureCopiesTheSmallerSizeCappedAt576) {
    struct Case { uint32_t inSize, outSize; size_t copied; };
    const Case cases[] = {
        {12, 576, 12},    {100, 576, 100},   {576, 100, 100},  {576, 576, 576},
        {1000, 576, 576}, {1000, 1000, 576}, {0xFFFFFFFF, 0xFFFFFFFF, 576},
        {0, 576, 0},      {5, 576, 5},
    };
    for (const Case &c : cases) {
        // Buffers twice the block so an overlong copy would show.
        std::vector<unsigned char> in(1152), out(1152);
        for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(i * 3 + 1);
        for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<unsigned char>(i * 5 + 2);
        SetHeader(in.data(), c.inSize, qx::kPrivateDevModeSignature, 7);
        SetHeader(out.data(), c.outSize, qx::kPrivateDevModeSignature, 1);
        std::vector<unsigned char> expected = out;
        std::memcpy(expected.data(), in.data(), c.copied);
        Put32(expected.data(), 0, 576);
        Put32(expected.data(), 8, 1);
        ASSERT_TRUE(qx::ConvertPrivateDevMode(in.data(), out.data()));
        EXPECT_EQ(out, expected) << "in " << c.inSize << ", out " << c.outSize;
        EXPECT_EQ(0, std::memcmp(out.data(), kHeaderBytes, 12));
    }
}

TEST(Convert, HeaderOnlyInputKeepsTheOutputsSettings) {
    Record in = Patterned(1);
    SetHeader(in.data(), 12, qx::kPrivateDevModeSignature, 1);
    Record out = DefaultedOut(2);
    Put16(out.data(), 12, 4);
    Record expected = out;
    ASSERT_TRUE(qx::ConvertPrivateDevMode(in.data(), out.data()));
    EXPECT_EQ(out, expected);
}

TEST(Convert, SameBlockInAndOut) {
    Record r = Patterned(6);
    SetHeader(r.data(), 576, qx::kPrivateDevModeSignature, 9);
    Record expected = r;
    Put32(expected.data(), 8, 1);
    ASSERT_TRUE(qx::ConvertPrivateDevMode(r.data(), r.data()));
    EXPECT_EQ(r, expected);
}

TEST(Merge, OtherVersionKeepsValuesOnConvertAndIsValidatedOnMerge) {
    Record in = Patterned(1);
    std::memset(in.data() + 12, 0, 40);
    in = ExpectedDefaultsOver(in);  // valid settings, patterned path and flag
    SetHeader(in.data(), 576, qx::kPrivateDevModeSignature, 7);
    Put16(in.data(), 12, 50);

    Record converted = DefaultedOut(2);
    DevModeRequest rq;
    rq.privateIn = in.data(), rq.privateOut = converted.data();
    ASSERT_TRUE(qx::RunDevModeRequest(qx::kDevModeConvert, rq));
    EXPECT_EQ(U32(converted.data(), 8), 1u);
    EXPECT_EQ(I16(converted.data(), 12), 50);

    Record merged = DefaultedOut(2);
    rq.privateOut = merged.data();
    ASSERT_TRUE(qx::RunDevModeRequest(qx::kDevModeMerge, rq));
    EXPECT_EQ(I16(merged.data(), 12), 0);
    Record expected = converted;
    Put16(expected.data(), 12, 0);
    EXPECT_EQ(merged, expected);
}

TEST(Merge, ForeignSignatureEndsWithOnlyTheRadiusRepaired) {
    Record in = Patterned(8);
    SetHeader(in.data(), 576, 0x41424344, 1);
    Record out = DefaultedOut(3);
    DevModeRequest rq;
    rq.privateIn = in.data(), rq.privateOut = out.data();
    ASSERT_TRUE(qx::RunDevModeRequest(qx::kDevModeMerge, rq));
    EXPECT_EQ(0, std::memcmp(out.data(), kHeaderBytes, 12));
    EXPECT_EQ(I16(out.data(), 34), 10);  // radius 0 is out of range
    EXPECT_EQ(I16(out.data(), 32), 0);   // amount 0 and threshold 0 are valid
    EXPECT_EQ(I16(out.data(), 36), 0);
    for (size_t o = 12; o < 52; ++o) {
        if (o != 34 && o != 35) {
            EXPECT_EQ(out[o], 0) << "offset " << o;
        }
    }
}

TEST(Merge, NullInputStillValidatesTheOutput) {
    Record out{};
    Put16(out.data(), 24, 0xFFFF);  // sharpness
    DevModeRequest rq;
    rq.privateOut = out.data();
    ASSERT_TRUE(qx::RunDevModeRequest(qx::kDevModeMerge, rq));
    EXPECT_EQ(0, std::memcmp(out.data(), kHeaderBytes, 12));
    EXPECT_EQ(I16(out.data(), 24), 0);
    DevModeRequest none;
    EXPECT_TRUE(qx::RunDevModeRequest(qx::kDevModeMerge, none));
}

// Each boundary on both sides, read with the field's own signedness.
TEST(Validate, RangesAndReplacements) {
    struct Case { size_t offset; int width; int64_t stored; int64_t expected; };
    std::vector<Case> cases;
    for (size_t o : {12u, 14u, 16u, 18u, 20u, 22u, 38u})  // the seven -10..10 steps, resize
        for (auto [v, e] : {std::pair<int64_t, int64_t>{-11, 0}, {-10, -10}, {10, 10}, {11, 0},
                            {0xFFF6, -10}, {-32768, 0}, {32767, 0}})
            cases.push_back({o, 2, v, e});
    const Case more[] = {
        {24, 2, 7, 7},      {24, 2, 8, 0},      {24, 2, 0xFFFF, 0}, {24, 2, 0, 0},       // sharpness, unsigned
        {32, 2, -1, 5},     {32, 2, 0, 0},      {32, 2, 12, 12},    {32, 2, 13, 5},      // unsharpAmount
        {34, 2, 0, 10},     {34, 2, 1, 1},      {34, 2, 30, 30},    {34, 2, 31, 10},     // unsharpRadius
        {34, 2, -1, 10},
        {36, 2, -1, 5},     {36, 2, 0, 0},      {36, 2, 20, 20},    {36, 2, 21, 5},      // unsharpThreshold
        {44, 4, -1, 0},     {44, 4, 0, 0},      {44, 4, 1000, 1000}, {44, 4, 1001, 0},   // orderId
        {44, 4, INT32_MIN, 0},
        // Not validated: unsharpMask, naturalColor, orderIdEnabled, reserved, appliedFlag.
        {28, 4, 7, 7},      {40, 4, 5, 5},      {48, 4, -3, -3},    {26, 2, 0xFFFF, -1},
        {572, 4, 9, 9},
    };
    cases.insert(cases.end(), std::begin(more), std::end(more));
    for (const Case &c : cases) {
        Record r = ExpectedDefaultsOver(Record{});
        Put16(r.data(), 52, u'Z');
        if (c.width == 2) Put16(r.data(), c.offset, static_cast<uint16_t>(c.stored));
        else Put32(r.data(), c.offset, static_cast<uint32_t>(c.stored));
        Record expected = r;
        if (c.width == 2) Put16(expected.data(), c.offset, static_cast<uint16_t>(c.expected));
        else Put32(expected.data(), c.offset, static_cast<uint32_t>(c.expected));
        ASSERT_TRUE(qx::ValidatePrivateDevMode(r.data()));
        EXPECT_EQ(r, expected) << "offset " << c.offset << " stored " << c.stored;
    }
}

TEST(Validate, RewritesTheHeaderAndLeavesPathAndNullAlone) {
    Record r = Patterned(11);
    std::memset(r.data() + 12, 0, 40);
    Put16(r.data(), 34, 10);
    Record expected = r;
    std::memcpy(expected.data(), kHeaderBytes, 12);
    ASSERT_TRUE(qx::ValidatePrivateDevMode(r.data()));
    EXPECT_EQ(r, expected);  // path bytes (unterminated garbage) and appliedFlag unchanged
    EXPECT_FALSE(qx::ValidatePrivateDevMode(nullptr));
}

TEST(Find, LocatesTheBlockByItsHeader) {
    std::vector<unsigned char> dump(1000, 0);
    EXPECT_FALSE(qx::FindPrivateDevMode(dump.data(), dump.size()).has_value());
    EXPECT_FALSE(qx::FindPrivateDevMode(dump.data(), 100).has_value());

    SetHeader(dump.data() + 301, 576, qx::kPrivateDevModeSignature, 1);  // unaligned
    EXPECT_EQ(qx::FindPrivateDevMode(dump.data(), dump.size()), std::optional<size_t>(301));
    EXPECT_FALSE(qx::FindPrivateDevMode(dump.data(), dump.size(), 302).has_value());
    EXPECT_FALSE(qx::FindPrivateDevMode(dump.data(), 301 + 575).has_value());  // does not fit
    EXPECT_EQ(qx::FindPrivateDevMode(dump.data(), 301 + 576), std::optional<size_t>(301));

    SetHeader(dump.data() + 40, 577, qx::kPrivateDevModeSignature, 1);  // wrong size: not ours
    SetHeader(dump.data() + 0, 576, 0x4E43504D, 1);                     // other signature
    EXPECT_EQ(qx::FindPrivateDevMode(dump.data(), dump.size()), std::optional<size_t>(301));
}

TEST(Fields, PreviewPathAsUtf8AndTermination) {
    Record r{};
    const char16_t path[] = {u'C', u':', u'\\', 0x00E9, 0x20AC, 0xD83D, 0xDE00, 0xDC00, u'x', 0};
    for (size_t i = 0; i < sizeof path / 2; ++i) Put16(r.data(), 52 + 2 * i, path[i]);
    EXPECT_EQ(qx::PreviewPathUtf8(r.data()), "C:\\\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBDx");
    const qx::FieldInfo *pathField = nullptr;
    for (size_t i = 0; i < qx::kPrivateDevModeFieldCount; ++i)
        if (qx::kPrivateDevModeFields[i].type == qx::FieldType::Utf16Path) pathField = &qx::kPrivateDevModeFields[i];
    ASSERT_NE(pathField, nullptr);
    EXPECT_TRUE(qx::FieldIsValid(r.data(), *pathField));
    for (size_t i = 0; i < 259; ++i) Put16(r.data(), 52 + 2 * i, u'a');
    EXPECT_TRUE(qx::FieldIsValid(r.data(), *pathField));  // 259 characters, terminator last
    Put16(r.data(), 52 + 2 * 259, u'a');
    EXPECT_FALSE(qx::FieldIsValid(r.data(), *pathField));
    EXPECT_EQ(qx::PreviewPathUtf8(r.data()).size(), 260u);
}

}  // namespace
