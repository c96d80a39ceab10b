#include "os/FolderTrust.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include <gtest/gtest.h>

#include "ScratchFolder.h"

using os::IsSafeToStart;
using os::JudgeCacheFolder;
using Refusal = os::CacheFolderRefusal;

namespace {

std::string MakeFolder(const std::string& path, mode_t mode) {
    EXPECT_EQ(mkdir(path.c_str(), 0700), 0) << path;
    EXPECT_EQ(chmod(path.c_str(), mode), 0) << path;
    return path;
}

// Root only, and only where uid 65534 is mapped (not in every user namespace).
bool GiveAway(const std::string& path) {
    return geteuid() == 0 && lchown(path.c_str(), 65534, 65534) == 0;
}

class HomeOverride {
  public:
    explicit HomeOverride(const std::string& home) {
        if (const char* old = std::getenv("HOME")) old_ = old;
        setenv("HOME", home.c_str(), 1);
    }
    ~HomeOverride() { old_ ? setenv("HOME", old_->c_str(), 1) : unsetenv("HOME"); }

  private:
    std::optional<std::string> old_;
};

}  // namespace

// Only a folder of the user's own, closed to others, is accepted; "/" and $HOME never are,
// however they are spelled, though a folder inside $HOME is.
TEST(FolderTrust, CacheFolderMustBeTheUsersOwnAndPrivate) {
    ScratchFolder dir;
    const std::string own = MakeFolder(dir / "own", 0700);
    WriteFile(dir / "file", "x");
    ASSERT_EQ(symlink(own.c_str(), (dir / "link").c_str()), 0);
    const HomeOverride home(MakeFolder(dir / "home", 0700) + "/");
    ASSERT_EQ(symlink((dir / "home").c_str(), (dir / "homelink").c_str()), 0);
    for (const auto& [folder, expected] : std::initializer_list<std::pair<std::string, Refusal>>{
             {own, Refusal::None},
             {dir / "link/", Refusal::None},
             {MakeFolder(dir / "home/cache", 0700), Refusal::None},
             {dir / "file", Refusal::NotAFolder},
             {MakeFolder(dir / "tmp", 01777), Refusal::SharedWritable},
             {MakeFolder(dir / "group", 0775), Refusal::SharedWritable},
             {dir / "homelink", Refusal::HomeFolder},
             {"/", Refusal::RootFolder}}) {
        EXPECT_EQ(JudgeCacheFolder(folder, "/nonexistent"), expected) << folder;
    }
    if (!GiveAway(own)) GTEST_SKIP() << "cannot give a folder to uid 65534";
    EXPECT_EQ(JudgeCacheFolder(own, ""), Refusal::NotOwned);
}

// The installed folder and everything in it are refused by identity, existing or yet to be
// made, however the path reaches them; a new folder elsewhere is fine.
TEST(FolderTrust, CacheFolderIsNeverTheInstalledFolderOrInsideIt) {
    ScratchFolder install, other;
    const std::string res = MakeFolder(install / "res", 0700);
    ASSERT_EQ(symlink(install.path().c_str(), (other / "install").c_str()), 0);
    ASSERT_EQ(symlink((install / "later").c_str(), (other / "dangling").c_str()), 0);
    for (const std::string& folder :
         {install.path(), res, res + "/..", other / "install/", other / "install/res",
          install / "x/y", other / "new/../install/z"}) {
        EXPECT_EQ(JudgeCacheFolder(folder, install.path()), Refusal::InstalledFolder) << folder;
    }
    EXPECT_EQ(JudgeCacheFolder(res, other / "install/"), Refusal::InstalledFolder);
    EXPECT_EQ(JudgeCacheFolder(other / "new/folder", install.path()), Refusal::None);
    // A dangling link would have the folder made wherever it points.
    for (const std::string& folder : {other / "dangling", other / "dangling/x"})
        EXPECT_NE(JudgeCacheFolder(folder, install.path()), Refusal::None) << folder;
}

// A program starts only through real folders and a real file that nobody but the user (or
// root) could have changed, reached from the cache folder without leaving it.
TEST(FolderTrust, ProgramMayStartOnlyFromAPathNobodyElseControls) {
    ScratchFolder dir;
    const std::string cache = MakeFolder(dir / "cache", 0700);
    const std::string bin = MakeFolder(MakeFolder(cache + "/pkg", 0755) + "/bin", 0755);
    WriteFile(bin + "/tool", "", 0755);
    WriteFile(bin + "/loose", "", 0757);
    WriteFile(MakeFolder(cache + "/open", 0775) + "/tool", "", 0755);
    WriteFile(dir / "cachex/pkg/bin/tool", "", 0755);
    ASSERT_EQ(symlink("tool", (bin + "/linked").c_str()), 0);
    ASSERT_EQ(symlink("pkg/bin", (cache + "/via").c_str()), 0);
    ASSERT_EQ(symlink(cache.c_str(), (dir / "cachelink").c_str()), 0);

    EXPECT_TRUE(IsSafeToStart(cache, bin + "/tool"));
    EXPECT_TRUE(IsSafeToStart(cache + "/", cache + "/pkg//bin/tool"));
    EXPECT_FALSE(IsSafeToStart(dir / "cachelink", dir / "cachelink/pkg/bin/tool"));
    for (const std::string& program :
         {bin + "/loose", cache + "/open/tool", bin + "/linked", cache + "/via/tool",
          cache + "/../cachex/pkg/bin/tool", dir / "cachex/pkg/bin/tool",
          cache + "/pkg/../pkg/bin/tool", bin, bin + "/missing"}) {
        EXPECT_FALSE(IsSafeToStart(cache, program)) << program;
    }
    if (!GiveAway(bin + "/tool")) GTEST_SKIP() << "cannot give a file to uid 65534";
    EXPECT_FALSE(IsSafeToStart(cache, bin + "/tool"));
}
