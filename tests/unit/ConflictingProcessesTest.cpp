#include "phone/ConflictingProcesses.h"

#include <gtest/gtest.h>

TEST(PickForeignAdb, SkipsExcludedProgramsAndKeepsThePathAsFound) {
    EXPECT_EQ(PickForeignAdb({}), "");
    EXPECT_EQ(PickForeignAdb({"/opt/Tencent/QQ.exe.d/adb", "/opt/Tools/ADB"}), "/opt/Tools/ADB");
    EXPECT_EQ(PickForeignAdb({"/opt/360MobileMgr.exe/adb", "/srv/WanDouJia2.EXE/adb"}), "");
    // An owner whose path could not be read ends the search: its empty path is the answer.
    EXPECT_EQ(PickForeignAdb({"", "/usr/bin/adb"}), "");
    EXPECT_EQ(PickForeignAdb({"/opt/qq.exe2/adb"}), "");
}

TEST(ConflictingProcessFacts, BridgeNamesModulesAndPortRows) {
    EXPECT_TRUE(IsBridgeImageName("adb"));
    EXPECT_TRUE(IsBridgeImageName("vendor-adb"));
    EXPECT_FALSE(IsBridgeImageName("adbd"));
    EXPECT_FALSE(IsBridgeImageName("ADB"));

    const std::vector<std::string> modules{"/opt/x/adb", "/lib/libadb.so", "/lib/libc.so.6"};
    EXPECT_EQ(FirstModuleContaining(modules, "adb"), "/opt/x/adb");
    EXPECT_EQ(FirstModuleContaining(modules, "libc"), "/lib/libc.so.6");
    EXPECT_EQ(FirstModuleContaining(modules, "ADB"), "");
    EXPECT_EQ(FirstModuleContaining({}, "adb"), "");

    std::vector<os::TcpRowFacts> rows(5);
    rows[0].localPort = 5037, rows[0].ownerPid = 10;  // listening socket
    rows[1].localPort = 5037, rows[1].ownerPid = 0;   // time-wait, no owner
    rows[2].localPort = 5037, rows[2].ownerPid = 10;  // accepted connection
    rows[3].localPort = 40000, rows[3].remotePort = 5037, rows[3].ownerPid = 11;  // a client
    rows[4].localPort = 5038, rows[4].ownerPid = 12;
    EXPECT_EQ(PortOwnerPids(rows, 5037), (std::vector<long>{10, 10}));
    EXPECT_TRUE(PortOwnerPids(rows, 1).empty());
}

TEST(ReportToDaemon, MissingDaemonStartsNothing) {
    EXPECT_FALSE(ReportToDaemon("/nonexistent-maplenook-module-dir", "/usr/bin/adb"));
}
