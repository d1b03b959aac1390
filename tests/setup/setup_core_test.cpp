// Printer-name extraction and paper matching on raw ANSI records.
#include "setup/setup_core.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace qx::setup;

namespace {

std::string Copied(const std::string& cmd) {
    // Exactly cmd.size() bytes, unterminated: a read past the end shows
    // under AddressSanitizer.
    std::vector<char> in(cmd.begin(), cmd.end());
    std::vector<char> out(cmd.size() + 1, 'x');
    CopyQuotedName(in.data(), in.size(), out.data());
    return std::string(out.data());
}

TEST(CopyQuotedName, DropsFirstAndLastCharacter) {
    struct Case { std::string cmd, name; } cases[] = {
        {"\"Photo\"", "Photo"},
        {"\"\\\\srv\\Photo\"", "\\\\srv\\Photo"},
        {"\"\"", ""},
        {"\"", ""},
        {"", ""},
        {"Photo", "hot"},  // no quotation marks: the same rule
        {"ab", ""},
        {"abc", "b"},
    };
    for (const auto& c : cases) EXPECT_EQ(Copied(c.cmd), c.name) << "command line [" << c.cmd << "]";
}

TEST(PrinterNamePart, ServerPrefixIsDroppedOnlyWhenANameFollows) {
    struct Case { const char* name; const char* part; } cases[] = {
        {"Photo", "Photo"},
        {"\\\\srv\\Photo", "Photo"},
        {"\\\\srv\\Photo\\x", "Photo\\x"},  // only the server is dropped
        {"\\\\\\Photo", "Photo"},          // empty server name
        {"\\\\srv\\", "\\\\srv\\"},
        {"\\\\srv", "\\\\srv"},
        {"\\\\", "\\\\"},
        {"\\srv\\Photo", "\\srv\\Photo"},  // one backslash is no server
        {"a\\\\srv\\Photo", "a\\\\srv\\Photo"},
        {"", ""},
    };
    for (const auto& c : cases) {
        const char* got = PrinterNamePart(c.name);
        EXPECT_STREQ(got, c.part) << "name [" << c.name << "]";
        EXPECT_GE(got, c.name);  // a pointer into the same buffer
        EXPECT_LE(got, c.name + std::strlen(c.name));
    }
}

// A 156-byte DEVMODEA with the fields the search reads.
struct DevMode {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(156, 0);
    DevMode(uint32_t fields, int16_t length, int16_t width, const char* form = "") {
        bytes[dma::kSize] = 156;
        Put32(dma::kFields, fields);
        Put16(dma::kPaperSize, 1);
        Put16(dma::kPaperLength, static_cast<uint16_t>(length));
        Put16(dma::kPaperWidth, static_cast<uint16_t>(width));
        std::memcpy(&bytes[dma::kFormName], form, std::strlen(form));
    }
    void Put16(size_t at, uint16_t v) { bytes[at] = v & 0xff; bytes[at + 1] = v >> 8; }
    void Put32(size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) bytes[at + i] = (v >> (8 * i)) & 0xff; }
    uint16_t Get16(size_t at) const { return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8)); }
    uint32_t Get32(size_t at) const {
        return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (uint32_t(bytes[at + 3]) << 24);
    }
    DevModeView view() { return {bytes.data(), bytes.size()}; }
};

// The three capability arrays as the spooler fills them.
struct Papers {
    std::vector<uint8_t> numbers, names, sizes;
    void Add(uint16_t number, const char* name, int32_t width, int32_t length) {
        numbers.push_back(number & 0xff);
        numbers.push_back(number >> 8);
        size_t at = names.size();
        names.resize(at + kPaperNameBytes, 0);
        std::memcpy(&names[at], name, std::strlen(name));
        for (int32_t v : {width, length})
            for (int i = 0; i < 4; ++i) sizes.push_back((static_cast<uint32_t>(v) >> (8 * i)) & 0xff);
    }
    PaperList list() const { return {numbers.data(), names.data(), sizes.data(), numbers.size() / 2}; }
};

Papers FourPapers() {
    Papers p;
    p.Add(1, "Letter", 2159, 2794);
    p.Add(9, "A4", 2099, 2970);
    p.Add(11, "A5", 1481, 2099);
    p.Add(10, "A4 small", 2099, 2970);  // same size as A4
    return p;
}

TEST(MatchPaperBySize, ComparesLowSixteenBitsOfLengthAndWidth) {
    Papers p;
    p.Add(9, "A4", 2099 + 0x10000, 2970 - 0x20000);
    p.Add(1, "Swapped", 2970, 2099);
    DevMode dm(kDmPaperLength, 2970, 2099);
    EXPECT_TRUE(MatchPaperBySize(dm.bytes.data(), p.sizes.data(), 0));
    EXPECT_FALSE(MatchPaperBySize(dm.bytes.data(), p.sizes.data(), 1));  // x is the width
    DevMode otherWidth(kDmPaperLength, 2970, 2100);
    EXPECT_FALSE(MatchPaperBySize(otherWidth.bytes.data(), p.sizes.data(), 0));
    // dmPaperLength is signed; a negative value still compares its 16 bits.
    Papers big;
    big.Add(300, "Banner", 100, 0xF000);
    DevMode negative(kDmPaperLength, static_cast<int16_t>(0xF000), 100);
    EXPECT_TRUE(MatchPaperBySize(negative.bytes.data(), big.sizes.data(), 0));
}

TEST(MatchPaperByFormName, AllThirtyTwoBytesCount) {
    Papers p;
    p.Add(9, "A4", 0, 0);
    p.Add(9, "A4", 0, 0);
    p.names[kPaperNameBytes + 5] = 'x';  // after the terminator, within 32
    p.Add(9, "A4", 0, 0);
    p.names[2 * kPaperNameBytes + 40] = 'x';  // beyond the 32 compared
    p.Add(9, "0123456789abcdef0123456789abcdefTAIL", 0, 0);
    DevMode a4(kDmFormName, 0, 0, "A4");
    EXPECT_TRUE(MatchPaperByFormName(a4.bytes.data(), p.names.data(), 0));
    EXPECT_FALSE(MatchPaperByFormName(a4.bytes.data(), p.names.data(), 1));
    EXPECT_TRUE(MatchPaperByFormName(a4.bytes.data(), p.names.data(), 2));
    DevMode full(kDmFormName, 0, 0, "0123456789abcdef0123456789abcdef");
    EXPECT_TRUE(MatchPaperByFormName(full.bytes.data(), p.names.data(), 3));
    DevMode a4lower(kDmFormName, 0, 0, "a4");
    EXPECT_FALSE(MatchPaperByFormName(a4lower.bytes.data(), p.names.data(), 0));
}

TEST(FindPaper, ChoosesTheTestByFlagsAndTheLowestIndex) {
    const Papers p = FourPapers();
    struct Case {
        const char* what;
        uint32_t fields;
        int16_t length, width;
        const char* form;
        size_t expected;
    } cases[] = {
        {"form name alone", kDmFormName | kDmPaperSize, 0, 0, "A5", 2},
        {"width alone compares both", kDmPaperWidth, 2970, 2099, "", 1},
        {"length alone compares both", kDmPaperLength, 2970, 2099, "", 1},
        {"width flag, length of another paper", kDmPaperWidth, 2794, 2099, "", kNoPaper},
        {"size wins over form name", kDmPaperLength | kDmPaperWidth | kDmFormName, 2794, 2159, "A5", 0},
        {"size flag, no size match, form name ignored", kDmPaperWidth | kDmFormName, 1, 1, "A5", kNoPaper},
        {"same size: earlier paper", kDmPaperLength | kDmPaperWidth, 2970, 2099, "", 1},
        {"form name of the later duplicate", kDmFormName, 2970, 2099, "A4 small", 3},
        {"no flag", kDmPaperSize, 2970, 2099, "A4", kNoPaper},
        {"unknown form name", kDmFormName, 0, 0, "B5", kNoPaper},
    };
    for (const auto& c : cases) {
        DevMode dm(c.fields, c.length, c.width, c.form);
        EXPECT_EQ(FindPaper(dm.view(), p.list()), c.expected) << c.what;
    }
}

TEST(FindPaper, EmptyListAndShortDevModeMatchNothing) {
    const Papers none;
    DevMode dm(kDmFormName, 0, 0, "");  // would match a zero-filled name entry
    EXPECT_EQ(FindPaper(dm.view(), none.list()), kNoPaper);

    Papers p = FourPapers();
    DevMode a4(kDmFormName, 0, 0, "A4");
    // dmFormName ends at byte 102: a shorter record does not hold it.
    std::vector<uint8_t> shortBytes(a4.bytes.begin(), a4.bytes.begin() + dma::kMinBytes - 1);
    EXPECT_EQ(FindPaper({shortBytes.data(), shortBytes.size()}, p.list()), kNoPaper);
    EXPECT_EQ(FindPaper({a4.bytes.data(), dma::kMinBytes}, p.list()), 1u);
    EXPECT_EQ(FindPaper({nullptr, 156}, p.list()), kNoPaper);
}

TEST(SelectPaper, NamesThePaperByNumberAndKeepsTheRest) {
    const Papers p = FourPapers();
    DevMode dm(kDmPaperLength | kDmPaperWidth | kDmFormName | 0x1 | 0x100, 2970, 2099, "A4");
    const std::vector<uint8_t> before = dm.bytes;
    SelectPaper(dm.view(), p.list(), 3);
    EXPECT_EQ(dm.Get32(dma::kFields), kDmPaperSize | 0x1u | 0x100u);
    EXPECT_EQ(dm.Get16(dma::kPaperSize), 10);
    for (size_t i = 0; i < before.size(); ++i) {
        if (i >= dma::kFields && i < dma::kFields + 4) continue;
        if (i >= dma::kPaperSize && i < dma::kPaperSize + 2) continue;
        EXPECT_EQ(dm.bytes[i], before[i]) << "byte " << i;
    }
}

}  // namespace
