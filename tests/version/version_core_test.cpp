#include "uiplugin/version/version_core.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

TEST(FileTimeText, Formats) {
    struct Case {
        qx::FileDateTime time;
        const char* expected;
    } cases[] = {
        {{2005, 1, 6, 15, 0}, "2005/01/06 15:00"},
        {{}, "   0/00/00 00:00"},
        {{1601, 12, 31, 23, 59}, "1601/12/31 23:59"},
        {{987, 7, 8, 9, 5}, " 987/07/08 09:05"},
        {{30827, 12, 31, 23, 59}, "30827/12/31 23:59"},  // widest the platform gives
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, Narrow(qx::FormatFileTimeText(c.time)));
}

TEST(GammaField, ShortReadLeavesZerosAndNameEndsAtNul) {
    std::vector<std::uint8_t> bytes(128, 'A');
    bytes[5] = 0;
    bytes[6] = 'B';
    qx::GammaNameField full = qx::GammaFieldFromRead(bytes.data(), bytes.size());
    EXPECT_EQ(5u, qx::GammaNameLength(full));
    EXPECT_EQ('B', full[6]);  // bytes after the NUL are kept, just not shown

    qx::GammaNameField none = qx::GammaFieldFromRead(std::vector<std::uint8_t>(128, 'x').data(), 128);
    EXPECT_EQ(128u, qx::GammaNameLength(none));

    qx::GammaNameField shortRead = qx::GammaFieldFromRead(std::vector<std::uint8_t>(128, 'y').data(), 7);
    EXPECT_EQ(7u, qx::GammaNameLength(shortRead));
    for (std::size_t i = 7; i < 128; ++i) ASSERT_EQ(0, shortRead[i]) << i;

    EXPECT_EQ(0u, qx::GammaNameLength(qx::GammaFieldFromRead(nullptr, 0)));
    // A read never hands back more than the field holds.
    std::vector<std::uint8_t> more(300, 'z');
    EXPECT_EQ(128u, qx::GammaNameLength(qx::GammaFieldFromRead(more.data(), more.size())));
}

std::vector<std::uint8_t> Utf16Bytes(const std::u16string& text, bool terminated) {
    std::vector<std::uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    if (terminated) out.insert(out.end(), {0, 0});
    return out;
}

TEST(RegistryString, TerminatedWithinCapacityOrRefused) {
    struct Case {
        std::vector<std::uint8_t> data;
        std::size_t capacity;
        long expected;  // -1: refused
    } cases[] = {
        {Utf16Bytes(u"htmlfile", true), 260, 8},
        {Utf16Bytes(u"htmlfile", false), 260, 8},   // stored without terminator
        {Utf16Bytes(u"htmlfile", false), 9, 8},     // exactly room for the terminator
        {Utf16Bytes(u"htmlfile", false), 8, -1},    // no room for it
        {Utf16Bytes(u"htmlfile", true), 8, -1},
        {Utf16Bytes(u"ab\0cd", false), 3, 2},       // embedded NUL ends the string
        {Utf16Bytes(u"", false), 1, 0},
        {{0x41, 0x00, 0x42}, 260, 1},               // odd byte count: the stray byte is dropped
        {Utf16Bytes(u"\u00e9\u4e2d", false), 260, 2},  // units above 0xFF read little-endian
    };
    for (const Case& c : cases) {
        auto got = qx::RegistryStringLength(c.data.data(), c.data.size(), c.capacity);
        if (c.expected < 0) {
            EXPECT_FALSE(got.has_value()) << c.data.size() << " bytes, capacity " << c.capacity;
        } else {
            ASSERT_TRUE(got.has_value()) << c.data.size() << " bytes, capacity " << c.capacity;
            EXPECT_EQ(static_cast<std::size_t>(c.expected), *got);
        }
    }
    // 260 characters without a terminator do not fit a 260-character buffer.
    std::vector<std::uint8_t> full = Utf16Bytes(std::u16string(260, u'x'), false);
    EXPECT_FALSE(qx::RegistryStringLength(full.data(), full.size(), 260).has_value());
    EXPECT_EQ(259u, *qx::RegistryStringLength(full.data(), 259 * 2, 260));
}

TEST(FallbackCommandLine, CutsAtPlaceholder) {
    struct Case {
        const char16_t* registered;
        const char16_t* expected;
    } cases[] = {
        {u"\"C:\\b\\browser.exe\" -nohome \"%1\"", u"\"C:\\b\\browser.exe\" -nohome  http://x/"},
        {u"\"C:\\b\\browser.exe\" \"%1\" -tail", u"\"C:\\b\\browser.exe\"  http://x/"},
        {u"C:\\b\\browser.exe %1", u"C:\\b\\browser.exe  http://x/"},
        {u"C:\\b\\browser.exe -url=%1 -tail", u"C:\\b\\browser.exe -url= http://x/"},
        {u"C:\\b\\browser.exe", u"C:\\b\\browser.exe http://x/"},
        // The quoted form wins even when a bare %1 comes first.
        {u"b.exe %1 \"%1\"", u"b.exe %1  http://x/"},
        // A quote not closing right after %1 is no quoted placeholder.
        {u"b.exe \"%1 x\"", u"b.exe \" http://x/"},
        {u"", u" http://x/"},
    };
    for (const Case& c : cases) {
        auto line = qx::BuildFallbackCommandLine(c.registered, u"http://x/");
        ASSERT_TRUE(line.has_value()) << Narrow(c.registered);
        EXPECT_EQ(Narrow(c.expected), Narrow(*line)) << Narrow(c.registered);
    }
}

TEST(FallbackCommandLine, NeverExceedsItsBuffer) {
    // Kept part + space + link + terminator: 520 characters fit, 521 do not.
    std::u16string link(200, u'l');
    std::u16string fits(520 - 1 - 200 - 1, u'c');
    auto line = qx::BuildFallbackCommandLine(fits + u"\"%1\"", link);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(519u, line->size());
    EXPECT_FALSE(qx::BuildFallbackCommandLine(fits + u"c\"%1\"", link).has_value());
    EXPECT_FALSE(qx::BuildFallbackCommandLine(u"b.exe", std::u16string(600, u'l')).has_value());
}

}  // namespace
