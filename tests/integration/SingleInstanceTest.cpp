#include "os/SingleInstance.h"

#include "ChildRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>
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

    if (geteuid() == 0) {
        const std::string foreign = dir.File("foreign");
        fs::create_directory(foreign);
        ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(os::MakePrivateFolder(foreign));
    }
}

TEST(RuntimeFolder, IsXdgRuntimeDirWhenItIsOursElseAPrivateTmpFolder) {
    TempDir dir;
    setenv("XDG_RUNTIME_DIR", (dir.path() + "/").c_str(), 1);
    EXPECT_EQ(os::UserRuntimeFolder(), dir.path());

    const std::string fallback = "/tmp/maplenook-" + std::to_string(geteuid());
    setenv("XDG_RUNTIME_DIR", dir.File("missing").c_str(), 1);
    EXPECT_EQ(os::UserRuntimeFolder(), fallback);
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(os::UserRuntimeFolder(), fallback);
    EXPECT_EQ(Mode(fallback), 0700u);

    if (geteuid() == 0) {
        chown(dir.path().c_str(), 65534, 65534);
        setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
        EXPECT_EQ(os::UserRuntimeFolder(), fallback);
        chown(dir.path().c_str(), 0, 0);
    }
}
