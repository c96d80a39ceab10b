#include "os/FolderTrust.h"
#include "package/PackageServices.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "ChildRun.h"
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

// The way from "/" to the cache counts as much as the cache: a folder on it that another user
// owns or that others may write lets them swap the cache. Sticky folders (like /tmp) are fine.
TEST(FolderTrust, CacheFolderUnderAFolderOthersControlIsRefused) {
    ScratchFolder dir;
    for (const auto& [parent, mode, expected] :
         std::initializer_list<std::tuple<std::string, mode_t, Refusal>>{
             {"open", 0777, Refusal::UnsafePath},
             {"group", 0775, Refusal::UnsafePath},
             {"sticky", 01777, Refusal::None},
             {"closed", 0755, Refusal::None}}) {
        const std::string cache = MakeFolder(MakeFolder(dir / parent, mode) + "/cache", 0700);
        EXPECT_EQ(JudgeCacheFolder(cache, "/nonexistent"), expected) << parent;
        EXPECT_EQ(JudgeCacheFolder(cache + "/new/deeper", "/nonexistent"), expected) << parent;
        WriteFile(MakeFolder(cache + "/pkg", 0700) + "/tool", "", 0755);
        EXPECT_EQ(IsSafeToStart(cache, cache + "/pkg/tool"), expected == Refusal::None) << parent;
    }
    const std::string theirs = MakeFolder(dir / "theirs", 0755);
    const std::string cache = MakeFolder(theirs + "/cache", 0700);
    if (!GiveAway(theirs)) GTEST_SKIP() << "cannot give a folder to uid 65534";
    EXPECT_EQ(JudgeCacheFolder(cache, "/nonexistent"), Refusal::UnsafePath);
    // A link of another user's on the way is not followed, even in a sticky folder.
    const std::string sticky = dir / "sticky";
    ASSERT_EQ(symlink((dir / "closed").c_str(), (sticky + "/link").c_str()), 0);
    ASSERT_TRUE(GiveAway(sticky + "/link"));
    EXPECT_EQ(JudgeCacheFolder(sticky + "/link/cache", "/nonexistent"), Refusal::UnsafePath);
}

namespace {

// A package whose program the check accepts ("good", 0755) and a same-named one it refuses
// ("bad", writable by everyone); each writes its name into `record` when it runs.
struct SwappedPackage {
    ScratchFolder dir;
    std::string cache = MakeFolder(dir / "cache", 0700);
    std::string folder = MakeFolder(cache + "/pkg", 0700);
    std::string program = folder + "/tool";
    std::string other = folder + "/.other";
    std::string record = dir / "record";

    SwappedPackage() {
        WriteFile(program, "#!/bin/sh\necho good >> '" + record + "'\n", 0755);
        WriteFile(other, "#!/bin/sh\necho bad >> '" + record + "'\n", 0755);
        chmod(other.c_str(), 0777);
    }
    // As the package workflow does it: the check, then the start.
    int Attempts(int count) const {
        const BrushServices services = RealPackageServices();
        int started = 0;
        for (int i = 0; i < count; ++i) {
            if (services.safeToStart(cache, program) && services.startProgram(folder, program))
                ++started;
        }
        return started;
    }
    // Attempts until `each` starts and `each` refusals (so the swapper ran among them, however
    // a loaded machine schedules it) or until `limit`; the number started.
    int AttemptsWhileSwapping(int each, std::chrono::seconds limit) const {
        const BrushServices services = RealPackageServices();
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int started = 0;
        int refused = 0;
        while ((started < each || refused < each) && std::chrono::steady_clock::now() < deadline) {
            if (services.safeToStart(cache, program) && services.startProgram(folder, program))
                ++started;
            else
                ++refused;
        }
        EXPECT_GE(refused, each) << "the files were hardly ever swapped";
        return started;
    }
};

}  // namespace

// The two files trade places without pause while the package starts: the file started is
// always the one judged, so the refused one never runs.
TEST(FolderTrust, ProgramSwappedBetweenCheckAndStartNeverRuns) {
    SwappedPackage package;
    const pid_t swapper = testsupport::StartInChild([&] {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (;;)
            renameat2(AT_FDCWD, package.program.c_str(), AT_FDCWD, package.other.c_str(),
                      RENAME_EXCHANGE);
    });
    const int started = package.AttemptsWhileSwapping(50, std::chrono::seconds(60));
    testsupport::KillAndReap(swapper, SIGKILL);
    EXPECT_GE(started, 50);
    // Started programs are detached: wait for the last ones to write. Hundreds of shells on a
    // loaded machine can take far longer than the starts did.
    testsupport::WaitUntil(
        [&] {
            const std::string text = ReadFile(package.record);
            return static_cast<int>(std::count(text.begin(), text.end(), '\n')) >= started;
        },
        std::chrono::seconds(120));
    const std::string record = ReadFile(package.record);
    EXPECT_EQ(record.find("bad"), std::string::npos);
    EXPECT_EQ(static_cast<int>(std::count(record.begin(), record.end(), '\n')), started);
}

// Another user who may write the folder holding the cache swaps the whole cache for one of
// their own: nothing of theirs ever starts, since such a cache is never trusted at all.
TEST(FolderTrust, CacheSwappedByAnotherUserNeverStartsTheirProgram) {
    if (const std::string why = testsupport::NobodyUnavailable(); !why.empty())
        GTEST_SKIP() << "a folder of another user: " << why;
    SwappedPackage package;
    const std::string parent = MakeFolder(package.dir / "shared", 0755);
    const std::string cache = parent + "/cache";
    ASSERT_EQ(rename(package.cache.c_str(), cache.c_str()), 0);
    const std::string theirs = MakeFolder(parent + "/theirs", 0755);
    const std::string planted = MakeFolder(theirs + "/pkg", 0755) + "/tool";
    WriteFile(planted, "#!/bin/sh\necho planted >> '" + package.record + "'\n", 0755);
    ASSERT_EQ(chmod(package.dir.path().c_str(), 0755), 0);
    for (const std::string& path : {parent, theirs, theirs + "/pkg", planted})
        ASSERT_TRUE(GiveAway(path)) << path;
    package.cache = cache;
    package.folder = cache + "/pkg";
    package.program = cache + "/pkg/tool";
    const pid_t swapper = testsupport::StartInChild([&] {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (setgid(testsupport::kNobody) != 0 || setuid(testsupport::kNobody) != 0) _exit(2);
        for (;;) renameat2(AT_FDCWD, cache.c_str(), AT_FDCWD, theirs.c_str(), RENAME_EXCHANGE);
    });
    EXPECT_EQ(package.Attempts(300), 0);
    testsupport::KillAndReap(swapper, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(ReadFile(package.record).find("planted"), std::string::npos);
}

// A package's binary starts from the judged descriptor too, in its own folder, and inherits no
// descriptor of this process (a script keeps only the one its interpreter reads it by).
TEST(FolderTrust, ABinaryProgramStartsInItsFolderWithNoDescriptorOfOurs) {
    SwappedPackage package;
    const std::string source = package.dir / "probe.c";
    // Writes its working folder and the descriptors it holds above the standard three.
    WriteFile(source, R"(#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>
int main(void) {
    char cwd[4096], held[8192] = "";
    for (int fd = 3; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) != -1) sprintf(held + strlen(held), " %d", fd);
    FILE* f = fopen(RECORD, "a");
    fprintf(f, "%s%s\n", getcwd(cwd, sizeof cwd), held);
    return 0;
})");
    if (std::system(("cc -DRECORD='\"" + package.record + "\"' -o " + ShellQuote(package.program) +
                     " " + ShellQuote(source) + " 2>/dev/null")
                        .c_str()) != 0)
        GTEST_SKIP() << "no C compiler to make a binary";
    const int keepOpen = open("/dev/null", O_RDONLY);  // not close-on-exec
    ASSERT_GE(keepOpen, 0);
    EXPECT_EQ(package.Attempts(1), 1);
    close(keepOpen);
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !ReadFile(package.record).empty(); },
                                       std::chrono::seconds(10)));
    EXPECT_EQ(ReadFile(package.record), package.folder + "\n");
}
