#include "base/IniText.h"
#include "base/Utf16.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

std::string ValueOr(const IniText& ini, const std::string& section, const std::string& key) {
    return ini.Find(section, key).value_or("<none>");
}

}  // namespace

TEST(IniTextRead, NamesMatchWithoutCaseAndFirstMatchWins) {
    const IniText ini = IniText::Decode(
        "[App]\n"
        "Wnd=1\n"
        "wnd=2\n"
        "only=first\n"
        "[app]\n"
        "wnd=3\n"
        "later=only-in-second\n");
    EXPECT_EQ(ValueOr(ini, "app", "WND"), "1");
    EXPECT_EQ(ValueOr(ini, "APP", "only"), "first");
    // The second section of the same name is never looked at.
    EXPECT_EQ(ValueOr(ini, "app", "later"), "<none>");
    EXPECT_EQ(ValueOr(ini, "missing", "wnd"), "<none>");
}

TEST(IniTextRead, BlanksAroundNamesAndValuesAreIgnored) {
    const IniText ini = IniText::Decode(
        "  [ mainpanel ]  \n"
        "\t bkimage \t=\t 3 \t\n"
        "title =  Maple Nook  \n"
        "empty=\n");
    EXPECT_EQ(ValueOr(ini, "mainpanel", "bkimage"), "3");
    EXPECT_EQ(ValueOr(ini, " mainpanel ", " bkimage "), "3");
    EXPECT_EQ(ValueOr(ini, "mainpanel", "title"), "Maple Nook");
    EXPECT_EQ(ValueOr(ini, "mainpanel", "empty"), "");
}

TEST(IniTextRead, MatchingQuotePairsAreRemoved) {
    const IniText ini = IniText::Decode(
        "[s]\n"
        "dq=\"  spaced  \"\n"
        "sq='single'\n"
        "mixed=\"open'\n"
        "lone=\"\n"
        "pair=\"\"\n"
        "inner=a\"b\"\n");
    EXPECT_EQ(ValueOr(ini, "s", "dq"), "  spaced  ");
    EXPECT_EQ(ValueOr(ini, "s", "sq"), "single");
    EXPECT_EQ(ValueOr(ini, "s", "mixed"), "\"open'");
    EXPECT_EQ(ValueOr(ini, "s", "lone"), "\"");
    EXPECT_EQ(ValueOr(ini, "s", "pair"), "");
    EXPECT_EQ(ValueOr(ini, "s", "inner"), "a\"b\"");
}

TEST(IniTextRead, JunkLinesNeverDisturbTheOthers) {
    const IniText ini = IniText::Decode(
        "junk before any section\n"
        "[resource]\n"
        "; a comment\n"
        "just words\n"
        "[unclosed section\n"
        "total=2\n"
        "=no name\n"
        "\n"
        "1=\\res\\a.png\n"
        "url=http://h/p?a=1&b=2\n");
    EXPECT_EQ(ValueOr(ini, "resource", "total"), "2");
    EXPECT_EQ(ValueOr(ini, "resource", "1"), "\\res\\a.png");
    // Only the first "=" separates key and value.
    EXPECT_EQ(ValueOr(ini, "resource", "url"), "http://h/p?a=1&b=2");
    EXPECT_EQ(ValueOr(ini, "unclosed section", "total"), "<none>");
}

TEST(IniTextRead, LineEndingsAndEncodingsAreRecognised) {
    const IniText crlf = IniText::Decode("[a]\r\nk=v\r\n");
    EXPECT_EQ(ValueOr(crlf, "a", "k"), "v");

    const IniText bom = IniText::Decode("\xEF\xBB\xBF[a]\nk=宋体\n");
    EXPECT_EQ(bom.encoding(), IniText::Encoding::Utf8Bom);
    EXPECT_EQ(ValueOr(bom, "a", "k"), "宋体");

    const IniText wide =
        IniText::Decode(std::string("\xFF\xFE", 2) + Utf8ToUtf16Le("[a]\r\nk=文件\r\n"));
    EXPECT_EQ(wide.encoding(), IniText::Encoding::Utf16LeBom);
    EXPECT_EQ(ValueOr(wide, "A", "K"), "文件");
}

TEST(IniTextWrite, ReplacingAValueKeepsEveryOtherByte) {
    const std::string before =
        "; written by the installer\r\n"
        "[App]\r\n"
        "  WND = 17  \r\n"
        "cachedir=/tmp/x\r\n"
        "\r\n"
        "junk line\r\n"
        "[settings]\r\n"
        "k=v";
    IniText ini = IniText::Decode(before);
    ini.Set("app", "wnd", "-42");
    EXPECT_EQ(ini.Encode(),
              "; written by the installer\r\n"
              "[App]\r\n"
              "WND=-42\r\n"
              "cachedir=/tmp/x\r\n"
              "\r\n"
              "junk line\r\n"
              "[settings]\r\n"
              "k=v");
}

TEST(IniTextWrite, NewKeysGoToTheEndOfTheirSectionAndNewSectionsToTheEnd) {
    IniText ini = IniText::Decode(
        "[app]\n"
        "wnd=1\n"
        "\n"
        "[settings]\n"
        "a=1");
    ini.Set("APP", "prever", "2.0");
    ini.Set("settings", "b", "2");
    ini.Set("new", "k", "v");
    EXPECT_EQ(ini.Encode(),
              "[app]\n"
              "wnd=1\n"
              "prever=2.0\n"
              "\n"
              "[settings]\n"
              "a=1\n"
              "b=2\n"
              "[new]\n"
              "k=v\n");
    IniText empty = IniText::Decode("");
    empty.Set("app", "wnd", "5");
    EXPECT_EQ(empty.Encode(), "[app]\nwnd=5\n");
}

TEST(IniTextWrite, LineBreaksNeverReachTheFile) {
    IniText ini = IniText::Decode("[settings]\nkeep=1\n");
    ini.Set("settings", "note", "first line\r\n[app]\nwnd=666");
    EXPECT_FALSE(ini.Set("settings\n[app]", "x", "1"));
    EXPECT_FALSE(ini.Set("settings", "x\nwnd", "1"));
    EXPECT_EQ(ValueOr(ini, "settings", "note"), "first line");
    EXPECT_EQ(ValueOr(ini, "app", "wnd"), "<none>");
    EXPECT_EQ(ini.Encode(), "[settings]\nkeep=1\nnote=first line\n");
}

TEST(IniTextWrite, LoneCrEndsALineAndEveryEndingSurvivesARewrite) {
    // CR-only lines, a CR LF line and a last line ending in a bare CR.
    IniText ini = IniText::Decode("[app]\rwnd=1\r[settings]\r\nk=v\rlast=x\r");
    EXPECT_EQ(ValueOr(ini, "app", "wnd"), "1");
    EXPECT_EQ(ValueOr(ini, "settings", "k"), "v");
    EXPECT_EQ(ValueOr(ini, "settings", "last"), "x");
    EXPECT_TRUE(ini.Set("settings", "k", "w"));
    EXPECT_TRUE(ini.Set("settings", "added", "1"));
    EXPECT_TRUE(ini.Set("more", "n", "2"));
    EXPECT_EQ(ini.Encode(), "[app]\rwnd=1\r[settings]\r\nk=w\rlast=x\radded=1\r[more]\rn=2\r");

    // An added line before a blank LF line must not end in a bare CR, or the two read as one.
    IniText blank = IniText::Decode("[a]\rx=1\n\n[b]\n");
    EXPECT_TRUE(blank.Set("a", "y", "2"));
    EXPECT_EQ(blank.Encode(), "[a]\rx=1\ny=2\r\n\n[b]\n");
}

TEST(IniTextWrite, NamesThatWouldReadBackAsSomethingElseAreRefused) {
    const std::string before = "[settings]\na=1\n[app]\nwnd=5\n";
    IniText ini = IniText::Decode(before);
    for (const char* key : {"", "[app]", "[x", "a=b", "=", "x\ry", " a", "a ", "\ta"}) {
        EXPECT_FALSE(ini.Set("settings", key, "forged")) << key;
    }
    EXPECT_FALSE(ini.Set(" settings", "a", "2"));
    EXPECT_EQ(ini.Encode(), before);
    EXPECT_TRUE(IniText::IsStorableName("a[b]=", false));
    EXPECT_TRUE(IniText::IsStorableName("key with inner blanks;]", true));
}

TEST(IniTextWrite, EncodingSurvivesARewrite) {
    const std::string wideFile =
        std::string("\xFF\xFE", 2) + Utf8ToUtf16Le("[app]\r\nwnd=1\r\n[settings]\r\nk=旧\r\n");
    IniText wide = IniText::Decode(wideFile);
    wide.Set("settings", "k", "新值");
    EXPECT_EQ(wide.Encode(), std::string("\xFF\xFE", 2) +
                                 Utf8ToUtf16Le("[app]\r\nwnd=1\r\n[settings]\r\nk=新值\r\n"));

    // A name UTF-16 cannot hold would never be found again: refused, the file untouched.
    const std::string refusedFile = wide.Encode();
    EXPECT_FALSE(wide.Set("settings", "na\xFF\xFE", "v"));
    EXPECT_FALSE(wide.Set("\xED\xA0\x80", "k", "v"));
    EXPECT_EQ(wide.Encode(), refusedFile);

    IniText bom = IniText::Decode("\xEF\xBB\xBF[a]\nk=1\n");
    bom.Set("a", "k", "2");
    EXPECT_EQ(bom.Encode(), "\xEF\xBB\xBF[a]\nk=2\n");
}

TEST(IniTextWrite, UntouchedFilesEncodeToTheSameBytes) {
    const std::string files[] = {
        "",
        "no newline at end",
        "\n\n\n",
        "\r\r\n\r[a]\rk=v\r\n\n\r",
        "[a]\r\nk=v\r\n\r\n; c\r\n",
        "\xEF\xBB\xBF[a]\nk=v",
        std::string("\xFF\xFE", 2) + Utf8ToUtf16Le("[a]\r\nk=中文\r\n"),
        "bin\0ary\x01\xFE\n[x]\nk=\x80\x81\n"s,
    };
    for (const auto& bytes : files) EXPECT_EQ(IniText::Decode(bytes).Encode(), bytes);
}

TEST(SettingValueLimit, CutsAt4094CharactersNeverInsideOne) {
    EXPECT_EQ(CutSettingValue(std::string(5000, 'x')), std::string(4094, 'x'));
    EXPECT_EQ(CutSettingValue(std::string(4094, 'x')).size(), 4094u);
    std::string wide;
    for (int i = 0; i < 5000; ++i) wide += "文";
    const std::string cut = CutSettingValue(wide);
    EXPECT_EQ(cut.size(), 4094u * 3);
    EXPECT_EQ(cut.substr(cut.size() - 3), "文");
}

TEST(LeadingDecimal, WrapsAt32BitsAndIgnoresWhatFollows) {
    EXPECT_EQ(LeadingDecimal("+5"), 5);
    EXPECT_EQ(LeadingDecimal("12 px"), 12);
    EXPECT_EQ(LeadingDecimal("0x10"), 0);
    EXPECT_EQ(LeadingDecimal("-"), 0);
    EXPECT_EQ(LeadingDecimal("2147483647"), 2147483647);
    EXPECT_EQ(LeadingDecimal("2147483648"), -2147483647 - 1);
    EXPECT_EQ(LeadingDecimal("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(LeadingDecimal("4294967297"), 1);
    EXPECT_EQ(LeadingDecimal("99999999999999999999999"), -159383553);
}

TEST(IniTextRead, EntriesListTheFirstSectionsKeysOnceEach) {
    const IniText ini = IniText::Decode(
        "[resource]\n"
        "total=2\n"
        "junk\n"
        "1 = 'a.png'\n"
        "TOTAL=9\n"
        "[Resource]\n"
        "2=b.png\n");
    const std::vector<std::pair<std::string, std::string>> expected = {{"total", "2"},
                                                                       {"1", "a.png"}};
    EXPECT_EQ(ini.Entries("RESOURCE"), expected);
    EXPECT_TRUE(ini.Entries("missing").empty());
}
