#include <gtest/gtest.h>

#include "web/ScriptText.h"

TEST(ScriptText, LiteralsEscapeEverythingThatCouldEndThemAndKeepOrdinaryText) {
    EXPECT_EQ(JsStringLiteral("flashkit"), "'flashkit'");
    EXPECT_EQ(JsStringLiteral("\xC3\xA9\xF0\x9F\x98\x80"), "'\xC3\xA9\xF0\x9F\x98\x80'");
    EXPECT_EQ(JsStringLiteral(std::string("'\"\\\r\n\t\0\x7F", 8)), R"('\'\"\\\r\n\x09\x00\x7f')");
    EXPECT_EQ(JsStringLiteral("\xE2\x80\xA8\xE2\x80\xA9"), R"('\u2028\u2029')");
    // Cut, overlong, surrogate and stray bytes: one replacement character per byte.
    EXPECT_EQ(JsStringLiteral("\xE2\x80"
                              "a\xC0\xAF\xED\xA0\x80\x80"),
              R"('\ufffd\ufffda\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd')");
}

TEST(ScriptText, NotifyArgumentsAreWhatTheLiteralsGiveThePage) {
    // The same replacement rule as the literals: one U+FFFD per byte that is not UTF-8.
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(WellFormedUtf8("\xE2\x80"
                             "a\xC0\xAF\xED\xA0\x80\x80"),
              fffd + fffd + "a" + fffd + fffd + fffd + fffd + fffd + fffd);
    const std::string kept("\xC3\xA9\xF0\x9F\x98\x80\xE2\x80\xA8'\\\0\x7F", 14);
    EXPECT_EQ(WellFormedUtf8(kept), kept);
    // Data's ',' separates arguments; empty ones stay.
    EXPECT_EQ(HostNotifyArgs("runbrush", std::string("pkg','','a'b")),
              (std::vector<std::string>{"runbrush", "pkg", "", "a'b"}));
    EXPECT_EQ(HostNotifyArgs("quit", std::nullopt), std::vector<std::string>{"quit"});
}
