#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "ChildRun.h"
#include "ScratchFolder.h"

namespace fs = std::filesystem;

// Started as "sudo -E" starts it: the effective user is root while $HOME and the XDG folders
// are another user's. The program writes nothing under them, says why, and keeps to root's own
// home, which a mount namespace of the test's own covers with an empty file system.
TEST(OtherUsersHome, NothingIsWrittenUnderTheHomeOfAnotherUser) {
    if (const std::string why = testsupport::NobodyUnavailable(); !why.empty())
        GTEST_SKIP() << "a home of another user: " << why;
    const passwd* root = getpwuid(geteuid());
    ASSERT_NE(root, nullptr);
    const std::string own = root->pw_dir;
    ScratchFolder dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::string home = dir / "home";
    ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
    ASSERT_EQ(chown(home.c_str(), testsupport::kNobody, testsupport::kNobody), 0);

    const auto outcome = testsupport::RunChild(
        {"unshare", "-m", "sh", "-c",
         "mount -t tmpfs maplenook-test \"$0\" || exit 99; \"$1\"; find \"$0\" -type f", own,
         MAPLENOOK_TEST_EXE},
        std::chrono::seconds(60),
        {{"HOME", home},
         {"XDG_CONFIG_HOME", home + "/.config"},
         {"XDG_STATE_HOME", home + "/.local/state"},
         {"XDG_CACHE_HOME", home + "/.cache"},
         {"XDG_DATA_HOME", home + "/.local/share"},
         {"DISPLAY", ""},
         {"WAYLAND_DISPLAY", ""}});
    ASSERT_TRUE(outcome.exited) << outcome.output;
    if (outcome.exitCode == 99) GTEST_SKIP() << "no private mount namespace: " << outcome.output;
    EXPECT_TRUE(fs::is_empty(home)) << outcome.output;
    EXPECT_NE(outcome.output.find("home of another user: $HOME (" + home + ")"), std::string::npos)
        << outcome.output;
    // The log went to root's own home instead.
    EXPECT_NE(outcome.output.find(own + "/.local/state/MapleNook/maplenook.log"), std::string::npos)
        << outcome.output;
}
