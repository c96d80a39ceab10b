#include <gtest/gtest.h>

#include "web/PageCommand.h"

namespace {

TEST(PageCommandTest, SplitsAtEveryAmpersandAndDropsEmptyPieces) {
    auto command = ParsePageCommand("app:panel.move&&10&5&");
    ASSERT_TRUE(command);
    EXPECT_EQ(command->name, "panel.move");
    EXPECT_EQ(command->tokens, (std::vector<std::string>{"app:panel.move", "10", "5"}));
    EXPECT_EQ(CommandResultText(command->result), "-1");
    EXPECT_EQ(command->Item(2), "5");
    EXPECT_EQ(command->Item(3), "");  // past the list: empty, never read out of bounds
    EXPECT_FALSE(command->Has(3));

    command = ParsePageCommand("&&app:x&a b&");
    ASSERT_TRUE(command);  // leading empty pieces go too: the first piece is "app:x"
    EXPECT_EQ(command->tokens, (std::vector<std::string>{"app:x", "a b"}));
}

TEST(PageCommandTest, PrefixIsCaseSensitiveAtTheStart) {
    EXPECT_FALSE(ParsePageCommand("App:panel.toggle"));
    EXPECT_FALSE(ParsePageCommand(" app:panel.toggle"));
    EXPECT_FALSE(ParsePageCommand("xapp:panel.toggle"));
    EXPECT_FALSE(ParsePageCommand(""));
    EXPECT_FALSE(ParsePageCommand("&&&"));
    auto bare = ParsePageCommand("app:");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->name, "");
    auto kept = ParsePageCommand("app:Panel.Toggle");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->name, "Panel.Toggle");
}

TEST(PageCommandTest, ResultTextOfEachKind) {
    EXPECT_EQ(CommandResultText(int16_t{-1}), "-1");
    EXPECT_EQ(CommandResultText(int32_t{1}), "1");
    EXPECT_EQ(CommandResultText(int32_t{0}), "0");
    EXPECT_EQ(CommandResultText(std::string("1.2.3")), "1.2.3");
    EXPECT_EQ(CommandResultText(std::string()), "");
}

TEST(PageCommandTest, NumberReadingStopsAtTheFirstOtherCharacter) {
    EXPECT_EQ(ReadCommandNumber("10"), 10);
    EXPECT_EQ(ReadCommandNumber("  \t-20px"), -20);
    EXPECT_EQ(ReadCommandNumber("+7"), 7);
    EXPECT_EQ(ReadCommandNumber("abc"), 0);
    EXPECT_EQ(ReadCommandNumber(""), 0);
    EXPECT_EQ(ReadCommandNumber("-"), 0);
    EXPECT_EQ(ReadCommandNumber("12 34"), 12);
    EXPECT_EQ(ReadCommandNumber("0x10"), 0);
    EXPECT_EQ(ReadCommandNumber("99999999999999999999"), 2147483647);
    EXPECT_EQ(ReadCommandNumber("-99999999999999999999"), -2147483648L);
    EXPECT_EQ(ReadCommandNumber("-2147483648"), -2147483648L);
}

TEST(PageCommandTest, IntegerTestTakesTheWholeTextWithin32Bits) {
    EXPECT_TRUE(IsIntegerText("0"));
    EXPECT_TRUE(IsIntegerText("1"));
    EXPECT_TRUE(IsIntegerText("-5"));
    EXPECT_TRUE(IsIntegerText("+5"));
    EXPECT_TRUE(IsIntegerText("2147483647"));
    EXPECT_TRUE(IsIntegerText("-2147483648"));
    EXPECT_FALSE(IsIntegerText("2147483648"));
    EXPECT_FALSE(IsIntegerText("abc"));
    EXPECT_FALSE(IsIntegerText(""));
    EXPECT_FALSE(IsIntegerText(" 1"));
    EXPECT_FALSE(IsIntegerText("1 "));
    EXPECT_FALSE(IsIntegerText("1.0"));
    EXPECT_FALSE(IsIntegerText("0x1"));
}

}  // namespace
