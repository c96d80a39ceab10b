#include "os/HandOver.h"
#include "os/InstallFacts.h"
#include "os/linux/LinuxOsName.h"

#include <gtest/gtest.h>

using os::FormatLinuxOsName;
using os::OsReleaseName;

// Facts the Linux layer derives from names alone.

TEST(LinuxOsName, NameFromOsRelease) {
    EXPECT_EQ(OsReleaseName("NAME=\"Debian GNU/Linux\"\n"
                            "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(OsReleaseName("# comment\nPRETTY_NAME=\"Say \\\"hi\\\" \\$5 \\\\ \\n\"\n"),
              "Say \"hi\" $5 \\ \\n");
    EXPECT_EQ(OsReleaseName("PRETTY_NAME='Single $quoted'\n"), "Single $quoted");
    EXPECT_EQ(OsReleaseName("NAME=Fedora\r\nVERSION=\"39 (Workstation)\"\r\n"),
              "Fedora 39 (Workstation)");
    EXPECT_EQ(OsReleaseName("NAME=Arch\nPRETTY_NAME=\n"), "Arch");
    EXPECT_EQ(OsReleaseName(""), "Linux");
}

TEST(LinuxOsName, DistributionKernelAndBitness) {
    EXPECT_EQ(FormatLinuxOsName("Debian GNU/Linux 12 (bookworm)", "6.1.0-18-amd64", "x86_64"),
              "Debian GNU/Linux 12 (bookworm) (kernel 6.1.0-18-amd64), 64-bit");
    EXPECT_EQ(FormatLinuxOsName("Raspbian", "6.1.21-v7+", "armv7l"),
              "Raspbian (kernel 6.1.21-v7+), 32-bit");
    EXPECT_EQ(FormatLinuxOsName("", "", "m68k"), "Linux");
}

TEST(HandOverAddress, IsTheSignedDecimalOfThe32BitHandleInTheRuntimeFolder) {
    // Both sides name the socket from the same text, whichever form of the handle they hold.
    EXPECT_EQ(os::HandOverAddress("/run/user/7", 0x80000001L),
              os::HandOverAddress("/run/user/7", -2147483647));
    EXPECT_EQ(os::HandOverAddress("/run/user/7", 12), "/run/user/7/maplenook_wnd_12");
}

TEST(SystemProgramFolder, IsWhereDistributionsPutTheTools) {
    EXPECT_EQ(os::SystemProgramFolder(), "/usr/bin/");
}
