#include "base/IniText.h"
#include "base/TextCase.h"
#include "base/Utf16.h"

#include <gtest/gtest.h>

TEST(TextCase, FoldsAsciiOnly) {
    EXPECT_TRUE(EqualsNoCase("MainPanel", "mainpanel"));
    EXPECT_FALSE(EqualsNoCase("Ä", "ä"));
    EXPECT_FALSE(EqualsNoCase("ab", "abc"));
}

TEST(Utf16, RoundTripsBmpAndSupplementaryCharacters) {
    const std::string text = "宋体 MapleNook \xF0\x9F\x8D\x81";
    EXPECT_EQ(Utf16LeToUtf8(Utf8ToUtf16Le(text)), text);
    EXPECT_EQ(Utf8ToUtf16Le("A"), std::string("A\0", 2));
}

TEST(LeadingDecimal, ReadsTheNumberAtTheStart) {
    EXPECT_EQ(LeadingDecimal("42abc"), 42);
    EXPECT_EQ(LeadingDecimal("  -7"), -7);
    EXPECT_EQ(LeadingDecimal("abc"), 0);
    EXPECT_EQ(LeadingDecimal(""), 0);
}
