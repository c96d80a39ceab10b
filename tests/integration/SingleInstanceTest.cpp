#include "os/SingleInstance.h"

#include "ChildRun.h"
#include "ScopedEnv.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

using namespace testsupport;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

unsigned Mode(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

}  // namespace

TEST(InstanceLock, OnlyOneProcessHoldsItAndItEndsWithTheProcess) {
    TempDir dir;
    const std::string lock = dir.File("maplenook_mutex_flag");
    // A child takes the lock and then becomes another program: the lock must not go along.
    const auto heldThenExec = RunInChild(
        [&] {
            if (os::TakeInstanceLock(lock) != os::InstanceLock::Acquired) return 1;
            execlp("sleep", "sleep", "0", static_cast<char*>(nullptr));
            return 2;
        },
        30s);
    EXPECT_TRUE(heldThenExec.exited && heldThenExec.exitCode == 0);

    // The holder says when it has the lock; probing earlier could take the lock from under it.
    const std::string held = dir.File("held");
    const pid_t holder = StartInChild([&] {
        if (os::TakeInstanceLock(lock) != os::InstanceLock::Acquired) return;
        WriteFile(held, "1");
        pause();
    });
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(held); }, 10s));
    const auto probe =
        RunInChild([&] { return static_cast<int>(os::TakeInstanceLock(lock)); }, 30s);
    EXPECT_EQ(probe.exitCode, static_cast<int>(os::InstanceLock::HeldByAnother));
    KillAndReap(holder, SIGKILL);  // a crash frees the lock too
    EXPECT_EQ(os::TakeInstanceLock(lock), os::InstanceLock::Acquired);
    EXPECT_EQ(Mode(lock), 0600u);
}

TEST(InstanceLock, ASymlinkInPlaceOfTheLockFileIsRefused) {
    TempDir dir;
    WriteFile(dir.File("target"), "keep");
    fs::create_symlink(dir.File("target"), dir.File("maplenook_mutex_flag"));
    EXPECT_EQ(os::TakeInstanceLock(dir.File("maplenook_mutex_flag")), os::InstanceLock::Failed);
    EXPECT_EQ(ReadFile(dir.File("target")), "keep");
}

TEST(PrivateFolder, IsMadeOrTightenedButNeverTakenFromSomeoneElse) {
    TempDir dir;
    const std::string fresh = dir.File("fresh");
    ASSERT_TRUE(os::MakePrivateFolder(fresh));
    EXPECT_EQ(Mode(fresh), 0700u);

    const std::string loose = dir.File("loose");
    fs::create_directory(loose);
    chmod(loose.c_str(), 0777);
    EXPECT_TRUE(os::MakePrivateFolder(loose));
    EXPECT_EQ(Mode(loose), 0700u);

    fs::create_directory(dir.File("elsewhere"));
    fs::create_directory_symlink(dir.File("elsewhere"), dir.File("link"));
    EXPECT_FALSE(os::MakePrivateFolder(dir.File("link")));
    WriteFile(dir.File("file"), "");
    EXPECT_FALSE(os::MakePrivateFolder(dir.File("file")));
    EXPECT_FALSE(os::MakePrivateFolder(dir.File("no/parent")));

    if (const std::string why = testsupport::NobodyUnavailable(); !why.empty())
        GTEST_SKIP() << "a folder of another owner: " << why;
    const std::string foreign = dir.File("foreign");
    fs::create_directory(foreign);
    ASSERT_EQ(chown(foreign.c_str(), testsupport::kNobody, testsupport::kNobody), 0);
    EXPECT_FALSE(os::MakePrivateFolder(foreign));
}

TEST(RuntimeFolder, IsXdgRuntimeDirWhenItIsOursElseAPrivateTmpFolder) {
    TempDir dir;
    // A home without an earlier fallback folder, so /tmp is the one chosen.
    testsupport::ScopedEnv env;
    env.Set("HOME", dir.path());
    env.Unset("XDG_CACHE_HOME");
    env.Set("XDG_RUNTIME_DIR", dir.path() + "/");
    EXPECT_EQ(os::UserRuntimeFolder(), dir.path());

    const std::string fallback = "/tmp/maplenook-" + std::to_string(geteuid());
    env.Set("XDG_RUNTIME_DIR", dir.File("missing"));
    EXPECT_EQ(os::UserRuntimeFolder(), fallback);
    env.Unset("XDG_RUNTIME_DIR");
    EXPECT_EQ(os::UserRuntimeFolder(), fallback);
    EXPECT_EQ(Mode(fallback), 0700u);

    if (const std::string why = testsupport::NobodyUnavailable(); !why.empty())
        GTEST_SKIP() << "a runtime folder of another owner: " << why;
    ASSERT_EQ(chown(dir.path().c_str(), testsupport::kNobody, testsupport::kNobody), 0);
    env.Set("XDG_RUNTIME_DIR", dir.path());
    EXPECT_EQ(os::UserRuntimeFolder(), fallback);
    ASSERT_EQ(chown(dir.path().c_str(), 0, 0), 0);
}

// Every session of the user meets in the session manager's folder of the user, whatever its
// own environment names (ssh, su).
TEST(RuntimeFolder, TheSessionManagersFolderWinsOverTheEnvironment) {
    const auto outcome = RunInChild(
        [&] {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
                return 77;
            }
            unsetenv("MAPLENOOK_TEST_RUNTIME_DIR");
            const std::string session = "/run/user/" + std::to_string(geteuid());
            fs::create_directories(session);
            chmod(session.c_str(), 0700);
            TempDir other;
            setenv("XDG_RUNTIME_DIR", other.path().c_str(), 1);
            if (os::UserRuntimeFolder() != session) return 2;
            // Opened up to others, it is no longer where an instance lock may live.
            chmod(session.c_str(), 0755);
            return os::UserRuntimeFolder() == other.path() ? 0 : 3;
        },
        std::chrono::seconds(30));
    if (outcome.exited && outcome.exitCode == 77) GTEST_SKIP() << "needs a private mount namespace";
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0) << outcome.exitCode << outcome.output;
}

// In a mount namespace of its own with a fresh /tmp, someone else's symlink or folder takes
// the user's name in /tmp; the lock folder then falls back to the user's cache folder.
TEST(RuntimeFolder, ATakenTmpNameFallsBackToTheSameCacheFolderEveryTime) {
    const std::string noNobody = testsupport::NobodyUnavailable();
    const auto outcome = RunInChild(
        [&] {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) {
                return 77;
            }
            unsetenv("XDG_RUNTIME_DIR");
            unsetenv("XDG_CACHE_HOME");
            const std::string uid = std::to_string(geteuid());
            const std::string shared = "/tmp/maplenook-" + uid;
            fs::create_directories("/tmp/victim");
            fs::create_directories("/tmp/home");
            fs::create_directory_symlink("/tmp/victim", shared);
            setenv("HOME", "/tmp/home", 1);
            const std::string fallback = "/tmp/home/.cache/maplenook-" + uid;
            if (os::UserRuntimeFolder() != fallback || Mode(fallback) != 0700u) return 2;
            if (!fs::is_empty("/tmp/victim")) return 3;
            // The name comes free again: later starts still meet in the fallback folder.
            fs::remove(shared);
            if (os::UserRuntimeFolder() != fallback) return 4;

            // A folder of another user, and a cache folder named by XDG_CACHE_HOME.
            if (!noNobody.empty()) return 78;
            {
                fs::create_directory(shared);
                if (chown(shared.c_str(), testsupport::kNobody, testsupport::kNobody) != 0)
                    return 5;
                setenv("XDG_CACHE_HOME", "/tmp/cache", 1);
                if (os::UserRuntimeFolder() != "/tmp/cache/maplenook-" + uid) return 6;
                // No home at all and the name taken: nothing private is left.
                unsetenv("XDG_CACHE_HOME");
                unsetenv("HOME");
                if (!os::UserRuntimeFolder().empty()) return 7;
            }
            return 0;
        },
        30s);
    if (outcome.exited && outcome.exitCode == 77) GTEST_SKIP() << "no private mount namespace";
    if (outcome.exited && outcome.exitCode == 78)
        GTEST_SKIP() << "a folder of another owner: " << noNobody;
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
}
