#include "base/TextTruncate.h"
#include "sysutil/SystemInfo.h"
#include "sysutil/WindowsOsName.h"

#include <gtest/gtest.h>

namespace {

WindowsVersionFacts Nt(uint32_t major, uint32_t minor, uint32_t build, uint8_t productType,
                       uint16_t architecture) {
    WindowsVersionFacts facts;
    facts.platformId = 2;
    facts.major = major;
    facts.minor = minor;
    facts.build = build;
    facts.productType = productType;
    facts.architecture = architecture;
    return facts;
}

WindowsVersionFacts Server2003(uint16_t suite, uint16_t architecture) {
    auto facts = Nt(5, 2, 3790, 3, architecture);
    facts.suiteMask = suite;
    return facts;
}

os::NetworkLink Link(unsigned index, bool loopback, std::vector<uint8_t> address, bool up = true,
                     std::vector<std::array<uint8_t, 4>> ipv4 = {}) {
    return {index, "if" + std::to_string(index), loopback, std::move(address), up, std::move(ipv4)};
}

}  // namespace

TEST(WindowsOsName, Windows7AndLaterNames) {
    auto ultimate = Nt(6, 1, 7601, 1, 9);
    ultimate.editionType = 1;
    ultimate.servicePack = "Service Pack 1";
    EXPECT_EQ(FormatWindowsOsName(ultimate),
              "Microsoft Windows 7 Ultimate Edition Service Pack 1 (build 7601), 64-bit");

    auto professional = ultimate;
    professional.editionType = 0x30;  // not in the table: no edition piece
    EXPECT_EQ(FormatWindowsOsName(professional),
              "Microsoft Windows 7  Service Pack 1 (build 7601), 64-bit");

    auto win8 = Nt(6, 2, 9200, 1, 9);
    win8.editionType = 0x30;
    EXPECT_EQ(FormatWindowsOsName(win8), "Microsoft  (build 9200), 64-bit");

    auto vista = Nt(6, 0, 6002, 1, 0);
    vista.editionType = 3;
    vista.servicePack = "Service Pack 2";
    EXPECT_EQ(FormatWindowsOsName(vista),
              "Microsoft Windows Vista Home Premium Edition Service Pack 2 (build 6002), 32-bit");

    auto server2008r2 = Nt(6, 1, 7600, 3, 6);  // Itanium: no bitness piece
    server2008r2.editionType = 15;
    EXPECT_EQ(FormatWindowsOsName(server2008r2),
              "Microsoft Windows Server 2008 R2 Enterprise Edition for Itanium-based Systems "
              "(build 7600)");

    auto server2008 = Nt(6, 0, 6001, 2, 9);
    server2008.editionType = 12;
    EXPECT_EQ(FormatWindowsOsName(server2008),
              "Microsoft Windows Server 2008 Datacenter Edition (core installation) "
              "(build 6001), 64-bit");
}

TEST(WindowsOsName, XpAnd2000NamesHaveNoBitness) {
    auto xpPro = Nt(5, 1, 2600, 1, 0);
    xpPro.servicePack = "Service Pack 3";
    EXPECT_EQ(FormatWindowsOsName(xpPro),
              "Microsoft Windows XP Professional Service Pack 3 (build 2600)");
    auto xpHome = Nt(5, 1, 2600, 1, 0);
    xpHome.suiteMask = 0x200;
    EXPECT_EQ(FormatWindowsOsName(xpHome), "Microsoft Windows XP Home Edition (build 2600)");

    EXPECT_EQ(FormatWindowsOsName(Nt(5, 0, 2195, 1, 0)),
              "Microsoft Windows 2000 Professional (build 2195)");
    auto datacenter = Nt(5, 0, 2195, 3, 0);
    datacenter.suiteMask = 0x80 | 0x2;
    EXPECT_EQ(FormatWindowsOsName(datacenter),
              "Microsoft Windows 2000 Datacenter Server (build 2195)");
    auto advanced = Nt(5, 0, 2195, 3, 0);
    advanced.suiteMask = 0x2;
    EXPECT_EQ(FormatWindowsOsName(advanced), "Microsoft Windows 2000 Advanced Server (build 2195)");
    EXPECT_EQ(FormatWindowsOsName(Nt(5, 0, 2195, 2, 0)),
              "Microsoft Windows 2000 Server (build 2195)");
}

TEST(WindowsOsName, Server2003Branches) {
    const auto name = [](const WindowsVersionFacts& f) {
        const std::string text = FormatWindowsOsName(f);
        return text.substr(10, text.size() - 10 - 13);  // without "Microsoft " and the build
    };
    auto r2 = Server2003(0, 0);
    r2.serverR2 = 1;
    r2.suiteMask = 0x2000;  // R2 is tested before the storage suite
    EXPECT_EQ(name(r2), "Windows Server 2003 R2, Standard Edition");
    EXPECT_EQ(name(Server2003(0x2000, 0)), "Windows Storage Server 2003Standard Edition");
    auto xp64 = Nt(5, 2, 3790, 1, 9);
    xp64.servicePack = "Service Pack 2";
    EXPECT_EQ(FormatWindowsOsName(xp64),
              "Microsoft Windows XP Professional x64 Edition Service Pack 2 (build 3790)");

    EXPECT_EQ(name(Server2003(0x80 | 0x2, 6)),
              "Windows Server 2003, Datacenter Edition for Itanium-based Systems");
    EXPECT_EQ(name(Server2003(0x2, 6)),
              "Windows Server 2003, Enterprise Edition for Itanium-based Systems");
    EXPECT_EQ(name(Server2003(0, 6)), "Windows Server 2003, ");
    EXPECT_EQ(name(Server2003(0x80, 9)), "Windows Server 2003, Datacenter x64 Edition");
    EXPECT_EQ(name(Server2003(0x2, 9)), "Windows Server 2003, Enterprise x64 Edition");
    EXPECT_EQ(name(Server2003(0, 9)), "Windows Server 2003, Standard x64 Edition");
    EXPECT_EQ(name(Server2003(0x4000 | 0x80, 0)), "Windows Server 2003, Compute Cluster Edition");
    EXPECT_EQ(name(Server2003(0x80 | 0x2, 0)), "Windows Server 2003, Datacenter Edition");
    EXPECT_EQ(name(Server2003(0x2 | 0x400, 0)), "Windows Server 2003, Enterprise Edition");
    EXPECT_EQ(name(Server2003(0x400, 0)), "Windows Server 2003, Web Edition");
    EXPECT_EQ(name(Server2003(0, 0)), "Windows Server 2003, Standard Edition");
}

TEST(WindowsOsName, OldOrForeignPlatformsAndLongTexts) {
    EXPECT_EQ(FormatWindowsOsName(Nt(4, 0, 1381, 1, 0)), "");
    auto win9x = Nt(5, 1, 2600, 1, 0);
    win9x.platformId = 1;
    EXPECT_EQ(FormatWindowsOsName(win9x), "");

    auto longPack = Nt(6, 1, 7601, 1, 9);
    longPack.servicePack = std::string(300, 'x');
    const std::string text = FormatWindowsOsName(longPack);
    EXPECT_EQ(text.size(), 255u);
    EXPECT_EQ(text.substr(0, 21), "Microsoft Windows 7  ");
}

TEST(TruncateCharacters, NeverCutsInsideACharacter) {
    EXPECT_EQ(TruncateCharacters("ab\xC3\xA9\xE4\xB8\xAD", 3), "ab\xC3\xA9");
    EXPECT_EQ(TruncateCharacters("ab", 5), "ab");
}

TEST(MacText, FirstNonLoopbackLinkByIndexInDecimal) {
    EXPECT_EQ(
        FormatMacText({Link(3, false, {0xAA, 0xBB}), Link(1, true, {0, 0, 0, 0, 0, 0}),
                       Link(4, false, {}), Link(2, false, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E})}),
        "02643607794");
    EXPECT_EQ(FormatMacText({Link(7, false, {0, 0, 0, 0, 0, 0})}), "000000");
    EXPECT_EQ(FormatMacText({Link(1, true, {0, 0, 0, 0, 0, 0}), Link(5, false, {})}), "");
    EXPECT_EQ(FormatMacText({}), "");
}

TEST(FirstAdapter, IsTheFirstUpLinkWithAHardwareAddressAndGivesBothFacts) {
    // A down ifb0 listed first, the loopback, a tunnel, then eth0.
    std::vector<os::NetworkLink> links = {Link(2, false, {0x66, 0x79}, false, {{10, 9, 9, 9}}),
                                          Link(1, true, {0, 0}, true, {{127, 0, 0, 1}}),
                                          Link(3, false, {}, true, {{10, 8, 0, 2}}),
                                          Link(4, false, {0x02, 0xFC}, true, {{192, 0, 2, 2}})};
    EXPECT_EQ(FormatMacText(links), "2252");
    EXPECT_EQ(ChooseIpText(links, {{127, 0, 1, 1}, {198, 51, 100, 7}}), "192.0.2.2");
    // Without an address of its own, the host name's first that is not loopback.
    links[3].ipv4Addresses.clear();
    EXPECT_EQ(ChooseIpText(links, {{127, 0, 1, 1}, {198, 51, 100, 7}}), "198.51.100.7");
    links[3].up = false;
    EXPECT_EQ(FormatMacText(links), "");
}

TEST(LocalIpText, DottedDecimal) {
    EXPECT_EQ(FormatDottedIpv4({192, 168, 0, 255}), "192.168.0.255");
    EXPECT_EQ(FormatDottedIpv4({0, 0, 0, 0}), "0.0.0.0");
}
