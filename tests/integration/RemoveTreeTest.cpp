#include "os/StagingFolder.h"

#include "ChildRun.h"
#include "ScratchFolder.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

constexpr int kDepth = 1500;

// Makes the folder `name` inside `at`, owned by `uid`, and returns it opened.
int MakeOwnedFolder(int at, const char* name, uid_t uid, mode_t mode = 0755) {
    if (mkdirat(at, name, mode) != 0 || fchownat(at, name, uid, uid, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    return openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool MakeOwnedFile(int at, const char* name, uid_t uid) {
    const int fd = openat(at, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = write(fd, "data", 4) == 4 && fchown(fd, uid, uid) == 0;
    return close(fd) == 0 && ok;
}

// A chain of kDepth folders below `top` (its path far past PATH_MAX), with a file at the
// bottom, links out of the tree there, and an unreadable locked folder half-way.
bool MakeDeepTree(const std::string& top, const std::string& outside, uid_t uid) {
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; fd >= 0 && level < kDepth; ++level) {
        if (level == kDepth / 2) {
            const int locked = MakeOwnedFolder(fd, "locked", uid);
            const bool filled = locked >= 0 && MakeOwnedFile(locked, "inside.txt", uid);
            if (locked >= 0) close(locked);
            if (!filled || fchmodat(fd, "locked", 0, 0) != 0) break;
        }
        const int next = MakeOwnedFolder(fd, ("level-" + std::to_string(level)).c_str(), uid);
        close(fd);
        fd = next;
    }
    if (fd < 0) return false;
    const bool ok = MakeOwnedFile(fd, "bottom.txt", uid) &&
                    symlinkat(outside.c_str(), fd, "outside-link") == 0 &&
                    symlinkat("..", fd, "up-link") == 0;
    close(fd);
    return ok;
}

}  // namespace

// Removal walks any depth under a descriptor limit far below the depth, follows no link,
// opens up folders its owner locked, and says so when something could not go. The removal
// runs as an ordinary user where it can, so that locked folders really refuse it.
TEST(RemoveTree, DeepTreeGoesUnderALowDescriptorLimitWithoutFollowingLinks) {
    ScratchFolder dir;
    const bool root = geteuid() == 0;
    const uid_t runner = root ? 65534 : geteuid();  // nobody
    WriteFile(dir / "outside/keep.txt", "keep");
    fs::create_directories(dir / "box");
    ASSERT_EQ(chown((dir / "box").c_str(), runner, runner), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0711), 0);
    const int box = open((dir / "box").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(box, 0);
    const int deep = MakeOwnedFolder(box, "deep", runner);
    ASSERT_GE(deep, 0);
    close(deep);
    ASSERT_TRUE(MakeDeepTree(dir / "box/deep", dir / "outside", runner));
    // Only root can plant a folder the runner may not empty.
    const int partial = MakeOwnedFolder(box, "partial", runner);
    ASSERT_GE(partial, 0);
    ASSERT_TRUE(MakeOwnedFile(partial, "gone.txt", runner));
    if (root) {
        const int foreign = MakeOwnedFolder(partial, "foreign", 0);
        ASSERT_GE(foreign, 0);
        ASSERT_TRUE(MakeOwnedFile(foreign, "stuck.txt", 0));
        close(foreign);
    }
    close(partial);
    close(box);

    const auto outcome = testsupport::RunInChild(
        [&] {
            rlimit files{};
            getrlimit(RLIMIT_NOFILE, &files);
            files.rlim_cur = 1024;
            if (setrlimit(RLIMIT_NOFILE, &files) != 0 || chdir(dir.path().c_str()) != 0) return 9;
            if (root && (setgid(runner) != 0 || setuid(runner) != 0)) return 9;
            const bool deepGone = os::RemoveTree("box/deep");
            const bool partialGone = os::RemoveTree("box/partial");
            return (deepGone ? 0 : 1) | (partialGone == !root ? 0 : 2);
        },
        std::chrono::minutes(2));
    ASSERT_TRUE(outcome.exited) << outcome.output;
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_FALSE(fs::exists(dir / "box/deep"));
    EXPECT_EQ(ReadFile(dir / "outside/keep.txt"), "keep");
    EXPECT_FALSE(fs::exists(dir / "box/partial/gone.txt"));
    EXPECT_EQ(fs::exists(dir / "box/partial/foreign/stuck.txt"), root);
}
