#include "os/FolderTree.h"

#include "ChildRun.h"
#include "ScratchFolder.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

namespace {

// Makes the folder (or, with `file`, a file) `name` inside `at`, owned by `uid`; the folder
// comes back opened, the file as 0.
int MakeOwned(int at, const std::string& name, uid_t uid, bool file = false) {
    const int fd = file ? openat(at, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)
                        : (mkdirat(at, name.c_str(), 0755) == 0
                               ? openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                               : -1);
    if (fd < 0 || fchown(fd, uid, uid) != 0) return -1;
    if (file) return close(fd);
    return fd;
}

}  // namespace

// A 1,500-level tree (its paths far past PATH_MAX) goes under a 1,024 open-files limit: no
// link out of it is followed, a folder its owner locked half-way is opened up, and a folder
// the remover may not empty is reported. It runs as an ordinary user where it can, so that
// the locked folder really refuses it.
TEST(RemoveTree, DeepTreeGoesUnderALowDescriptorLimitWithoutFollowingLinks) {
    if (const std::string why = testsupport::OrdinaryUserUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    ScratchFolder dir;
    const bool root = geteuid() == 0;
    const uid_t runner = root ? testsupport::kNobody : geteuid();
    WriteFile(dir / "outside/keep.txt", "keep");
    ASSERT_EQ(chmod(dir.path().c_str(), 0711), 0);
    const int top = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int box = MakeOwned(top, "box", runner);
    int level = MakeOwned(box, "deep", runner);
    for (int depth = 0; level >= 0 && depth < 1500; ++depth) {
        if (depth == 750) {
            const int locked = MakeOwned(level, "locked", runner);
            ASSERT_EQ(MakeOwned(locked, "inside.txt", runner, true), 0);
            ASSERT_EQ(fchmod(locked, 0), 0);
            close(locked);
        }
        const int next = MakeOwned(level, "level-" + std::to_string(depth), runner);
        close(level);
        level = next;
    }
    ASSERT_GE(level, 0);
    ASSERT_EQ(MakeOwned(level, "bottom.txt", runner, true), 0);
    ASSERT_EQ(symlinkat((dir / "outside").c_str(), level, "outside-link"), 0);
    ASSERT_EQ(symlinkat("..", level, "up-link"), 0);
    close(level);
    const int partial = MakeOwned(box, "partial", runner);
    ASSERT_EQ(MakeOwned(partial, "gone.txt", runner, true), 0);
    if (root) {
        const int foreign = MakeOwned(partial, "foreign", 0);
        ASSERT_EQ(MakeOwned(foreign, "stuck.txt", 0, true), 0);
        close(foreign);
    }
    close(partial);
    close(box);
    close(top);

    const auto outcome = testsupport::RunInChild(
        [&] {
            rlimit files{};
            getrlimit(RLIMIT_NOFILE, &files);
            files.rlim_cur = 1024;
            if (setrlimit(RLIMIT_NOFILE, &files) != 0 || chdir(dir.path().c_str()) != 0) return 9;
            if (root && (setgid(runner) != 0 || setuid(runner) != 0)) return 9;
            const bool deepGone = os::RemoveTree("box/deep");
            const bool partialGone = os::RemoveTree("box/partial");
            return (deepGone ? 0 : 1) | (partialGone != root ? 0 : 2);
        },
        std::chrono::minutes(2));
    ASSERT_TRUE(outcome.exited) << outcome.output;
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_FALSE(std::filesystem::exists(dir / "box/deep"));
    EXPECT_EQ(ReadFile(dir / "outside/keep.txt"), "keep");
    EXPECT_FALSE(std::filesystem::exists(dir / "box/partial/gone.txt"));
    EXPECT_EQ(std::filesystem::exists(dir / "box/partial/foreign/stuck.txt"), root);
}
