#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "host/ui/qt/TextConversion.h"

namespace {

struct TextRow {
    const char* name;
    std::string bytes;
    bool wellFormed;
    std::string shown;  // UTF-8
};

void PrintTo(const TextRow& row, std::ostream* os) {
    *os << row.name;
}

class DisplayTextTest : public ::testing::TestWithParam<TextRow> {};

TEST_P(DisplayTextTest, Utf8StaysAndOtherTextIsReadAsWindows1252) {
    const TextRow& row = GetParam();
    EXPECT_EQ(ui::qt::IsWellFormedUtf8(row.bytes), row.wellFormed);
    EXPECT_EQ(ui::qt::DisplayUtf8(row.bytes), row.shown);
    EXPECT_EQ(ui::qt::ToQString(row.bytes), QString::fromUtf8(row.shown.c_str()));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DisplayTextTest,
    ::testing::Values(TextRow{"Ascii", "Peak current", true, "Peak current"},
                      TextRow{"Utf8DegreeSign", "90 \xC2\xB0", true, "90 \xC2\xB0"},
                      TextRow{"Utf8FourBytes", "\xF0\x9F\x94\xA7", true, "\xF0\x9F\x94\xA7"},
                      TextRow{"Windows1252DegreeSign", "90 \xB0", false, "90 \xC2\xB0"},
                      TextRow{"Windows1252Euro", "\x80 5", false, "\xE2\x82\xAC 5"},
                      TextRow{"Windows1252Quotes", "\x93ok\x94", false,
                              "\xE2\x80\x9Cok\xE2\x80\x9D"},
                      TextRow{"Windows1252Undefined", "\x81", false, "\xC2\x81"},
                      TextRow{"Windows1252Mu", "\xB5s", false, "\xC2\xB5s"},
                      TextRow{"TruncatedSequence", "\xE2\x82", false, "\xC3\xA2\xE2\x80\x9A"},
                      TextRow{"OverlongSlash", "\xC0\xAF", false, "\xC3\x80\xC2\xAF"},
                      TextRow{"Surrogate", "\xED\xA0\x80", false, "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
                      TextRow{"AboveUnicode", "\xF4\x90\x80\x80", false,
                              "\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC"}),
    [](const ::testing::TestParamInfo<TextRow>& row) { return std::string(row.param.name); });

TEST(StaticTextTest, MnemonicMarksGoAndLineBreaksBecomeQts) {
    EXPECT_EQ(ui::qt::StaticText("Pulse && Direction"), QStringLiteral("Pulse & Direction"));
    EXPECT_EQ(ui::qt::StaticText("&Position"), QStringLiteral("Position"));
    EXPECT_EQ(ui::qt::StaticText("first\r\nsecond"), QStringLiteral("first\nsecond"));
    EXPECT_EQ(ui::qt::StaticText("max \xB0"), QString::fromUtf8("max \xC2\xB0"));
}

}  // namespace
