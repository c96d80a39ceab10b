// The cache-folder chooser refuses a folder the user cannot write to (the test builds' answer
// stands in for the user's choice, so no dialog opens).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "BuildConfig.h"
#include "ChildRun.h"
#include "TempDir.h"
#include "os/FolderDialog.h"

namespace {

TEST(FolderChoice, AFolderThatCannotBeWrittenIsRefusedOnlyWhenTheCallerAsks) {
    if (!MAPLENOOK_TEST_HOOKS) GTEST_SKIP() << "needs the chooser's test answer";
    if (const std::string why = testsupport::OrdinaryUserUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    testsupport::TempDir dir;
    const std::string locked = dir.File("locked");
    const std::string open = dir.File("open");
    ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
    ASSERT_EQ(mkdir(open.c_str(), 0777), 0);
    chmod(open.c_str(), 0777);
    chmod(dir.path().c_str(), 0755);
    // Root writes everywhere; as another user the locked folder really is read-only.
    const auto outcome = testsupport::RunInChild(
        [&] {
            if (getuid() == 0 && setuid(testsupport::kNobody) != 0) return 10;
            setenv("MAPLENOOK_TEST_FOLDER_CHOICE", locked.c_str(), 1);
            if (os::ChooseFolder("t", {}, "refused")) return 1;
            if (os::ChooseFolder("t") != locked) return 2;  // no check asked for
            setenv("MAPLENOOK_TEST_FOLDER_CHOICE", open.c_str(), 1);
            if (os::ChooseFolder("t", {}, "refused") != open) return 3;
            setenv("MAPLENOOK_TEST_FOLDER_CHOICE", dir.File("missing").c_str(), 1);
            if (os::ChooseFolder("t", {}, "refused")) return 4;
            return 0;
        },
        std::chrono::seconds(20));
    EXPECT_TRUE(outcome.exited) << outcome.output;
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
}

}  // namespace
