// The name the initialise event opens a printer by.
#include "uiplugin/frame/printer_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NameCase {
    const char *what;
    std::u16string given;
    bool reduced;            // whether the server rule applies
    std::u16string expected;  // the name to open by, when reduced
};

const std::u16string k40 = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";

const NameCase kCases[] = {
    {"plain name", u"QX748 Color", false, u""},
    {"plain name with a comma", u"QX748,Color", false, u""},
    {"plain 40-character name", k40, false, u""},
    {"one leading backslash", u"\\QX748", false, u""},
    {"empty name", u"", false, u""},
    {"server and printer", u"\\\\server\\QX748 Color", true, u"QX748 Color"},
    {"server, printer, comma and more", u"\\\\server\\QX748,LocalsplOnly,x", true, u"QX748"},
    {"only the first backslash after the server counts", u"\\\\srv\\a\\b", true, u"a\\b"},
    {"nothing after the server", u"\\\\server\\", true, u""},
    {"comma first after the server", u"\\\\server\\,x", true, u""},
    {"server part with a 40-character printer", u"\\\\s\\" + k40, true, k40.substr(0, 31)},
    {"just two backslashes", u"\\\\", true, u"\\\\"},
    // No further backslash: the whole name, cut to 31 characters.
    {"40 characters, no server separator", u"\\\\" + k40.substr(0, 38), true, u"\\\\" + k40.substr(0, 29)},
    {"comma within the first 31", u"\\\\" + k40.substr(0, 10) + u"," + k40.substr(0, 27), true,
     u"\\\\" + k40.substr(0, 10)},
    {"comma after the first 31", u"\\\\" + k40.substr(0, 33) + u",x", true, u"\\\\" + k40.substr(0, 29)},
    {"exactly 31 characters", u"\\\\" + k40.substr(0, 29), true, u"\\\\" + k40.substr(0, 29)},
};

template <typename Unit>
std::basic_string<Unit> Widen(const std::u16string &s) {
    return std::basic_string<Unit>(s.begin(), s.end());
}

template <typename Unit>
void CheckCase(const NameCase &c) {
    SCOPED_TRACE(c.what);
    const std::basic_string<Unit> given = Widen<Unit>(c.given);
    Unit out[qx::kLocalPrinterNameUnits + 2];
    for (Unit &u : out) u = Unit('#');
    bool reduced = qx::LocalPrinterName(given.c_str(), out);
    ASSERT_EQ(c.reduced, reduced);
    if (!reduced) {
        for (Unit u : out) EXPECT_EQ(Unit('#'), u) << "buffer written for a name used as given";
        return;
    }
    EXPECT_EQ(Widen<Unit>(c.expected), std::basic_string<Unit>(out));
    // The whole 32-unit buffer is defined (zero after the name) and nothing
    // beyond it is written.
    for (size_t i = c.expected.size(); i < qx::kLocalPrinterNameUnits; ++i) EXPECT_EQ(Unit(0), out[i]) << i;
    EXPECT_EQ(Unit('#'), out[qx::kLocalPrinterNameUnits]);
    EXPECT_EQ(Unit('#'), out[qx::kLocalPrinterNameUnits + 1]);
}

TEST(LocalPrinterName, Char16Cases) {
    for (const NameCase &c : kCases) CheckCase<char16_t>(c);
}

TEST(LocalPrinterName, WideCharCases) {
    for (const NameCase &c : kCases) CheckCase<wchar_t>(c);
}

TEST(LocalPrinterName, NullNameIsUsedAsGiven) {
    char16_t out[qx::kLocalPrinterNameUnits] = {u'#'};
    EXPECT_FALSE(qx::LocalPrinterName(static_cast<const char16_t *>(nullptr), out));
    EXPECT_EQ(u'#', out[0]);
}

}  // namespace
