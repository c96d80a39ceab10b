// What the user and the tools wrote survives a new version of a package, a kill during its
// update, the cache's file system mounted again, and caches of earlier versions.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "ChildRun.h"
#include "ScratchFolder.h"
#include "os/StagingFolder.h"
#include "package/BrushWorkflow.h"
#include "package/PackageServices.h"
#include "package/ZipExtract.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kLogFiles = 100;

void ZipFolder(const std::string& folder, const std::string& archive) {
    ASSERT_EQ(
        std::system(
            ("cd " + ShellQuote(folder) + " && zip -q -r " + ShellQuote(archive) + " .").c_str()),
        0);
}

// Version 1 and 2 of a package: the program, a file only each has, a shared folder.
void MakeVersions(const ScratchFolder& dir) {
    WriteFile(dir / "v1/tool.exe", "v1", 0755);
    WriteFile(dir / "v1/old.txt", "only in v1");
    WriteFile(dir / "v1/docs/readme.txt", "v1 docs");
    WriteFile(dir / "v1/docs/old-only.txt", "v1");
    WriteFile(dir / "v2/tool.exe", "v2", 0755);
    WriteFile(dir / "v2/new.txt", "only in v2");
    WriteFile(dir / "v2/docs/readme.txt", "v2 docs");
    // Version 2 brings a default of the settings that version 1's program wrote itself.
    WriteFile(dir / "v2/settings.ini", "[ui]\nlang=en\n");
    for (const std::string v : {"v1", "v2"}) {
        // Enough entries that an update takes a while to kill it in.
        for (int i = 0; i < kLogFiles; ++i)
            WriteFile(dir / (v + "/parts/p" + std::to_string(i)), v);
        ZipFolder(dir / v, dir / (v + ".zip"));
    }
}

// What version 1's program wrote beside itself.
void WriteToolData(const std::string& folder) {
    WriteFile(folder + "/settings.ini", "[ui]\nlang=zh\n");
    WriteFile(folder + "/docs/notes.txt", "mine");
    for (int i = 0; i < kLogFiles; ++i)
        WriteFile(folder + "/logs/day" + std::to_string(i) + ".log", "log");
}

bool ToolDataThere(const std::string& folder) {
    return ReadFile(folder + "/settings.ini") == "[ui]\nlang=zh\n" &&
           ReadFile(folder + "/docs/notes.txt") == "mine" &&
           ReadFile(folder + "/logs/day0.log") == "log" &&
           fs::exists(folder + "/logs/day" + std::to_string(kLogFiles - 1) + ".log");
}

// "v1" or "v2" when the folder is that version whole with the tool's data, else what is wrong.
std::string VersionWithData(const std::string& folder) {
    if (!ToolDataThere(folder)) return "data lost";
    const std::string program = ReadFile(folder + "/tool.exe");
    const bool v1 = program == "v1" && ReadFile(folder + "/old.txt") == "only in v1" &&
                    ReadFile(folder + "/docs/readme.txt") == "v1 docs" &&
                    !fs::exists(folder + "/new.txt");
    const bool v2 = program == "v2" && ReadFile(folder + "/new.txt") == "only in v2" &&
                    ReadFile(folder + "/docs/readme.txt") == "v2 docs" &&
                    !fs::exists(folder + "/old.txt") && !fs::exists(folder + "/docs/old-only.txt");
    return v1 ? "v1" : v2 ? "v2" : "mixed: program " + program;
}

}  // namespace

TEST(PackageData, ANewVersionKeepsTheToolsDataAndDropsWhatOnlyTheOldArchiveHad) {
    ScratchFolder dir;
    MakeVersions(dir);
    const std::string tool = dir / "cache/tool";
    ASSERT_EQ(ExtractZip(dir / "v1.zip", tool), ExtractResult::Done);
    WriteToolData(tool);
    ASSERT_EQ(ExtractZip(dir / "v2.zip", tool), ExtractResult::Done);
    EXPECT_EQ(VersionWithData(tool), "v2");
    EXPECT_EQ(ReadFile(tool + "/parts/p7"), "v2");
    // The settings stay the tool's for the next version too.
    ASSERT_EQ(ExtractZip(dir / "v2.zip", tool), ExtractResult::Done);
    EXPECT_EQ(VersionWithData(tool), "v2");

    // While a program works in the folder a new version waits: what it writes later would go
    // into a removed folder.
    {
        testsupport::ChildProcess running({"sleep", "60"}, {}, tool);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return running.Running(); }, 5s));
        EXPECT_EQ(ExtractZip(dir / "v1.zip", tool), ExtractResult::InUse);
        EXPECT_EQ(VersionWithData(tool), "v2");
    }

    // A folder of an earlier version's, without the list of what its archive held: nothing of
    // it beyond the new archive is known to be the archive's, so all of it stays.
    fs::remove(tool + "/.maplenook-files");
    ASSERT_EQ(ExtractZip(dir / "v1.zip", tool), ExtractResult::Done);
    EXPECT_TRUE(ToolDataThere(tool));
    EXPECT_EQ(ReadFile(tool + "/tool.exe"), "v1");
    EXPECT_EQ(ReadFile(tool + "/new.txt"), "only in v2");
}

// Killed at moments spread over a whole update, the folder is version 1 with its data or
// version 2 with its data, and the next update completes.
TEST(PackageData, AKillAtAnyMomentOfAnUpdateLeavesOneWholeVersionWithItsData) {
    ScratchFolder dir;
    MakeVersions(dir);
    const std::string tool = dir / "cache/tool";
    const auto startAtV1 = [&] {
        fs::remove_all(dir / "cache");
        ASSERT_EQ(ExtractZip(dir / "v1.zip", tool), ExtractResult::Done);
        WriteToolData(tool);
    };
    startAtV1();
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(ExtractZip(dir / "v2.zip", tool), ExtractResult::Done);
    const auto whole = std::chrono::steady_clock::now() - began;
    std::fprintf(stderr, "an update takes %lld us\n",
                 static_cast<long long>(
                     std::chrono::duration_cast<std::chrono::microseconds>(whole).count()));
    int seen[2] = {0, 0};
    // Kills spread evenly over the update's time, and on until one came after its end (a
    // forked child may be slower than this process).
    constexpr int kKills = 24;
    for (int i = 0; i <= kKills || (seen[1] == 0 && i < 4 * kKills); ++i) {
        startAtV1();
        const pid_t child =
            testsupport::StartInChild([&] { (void)ExtractZip(dir / "v2.zip", tool); });
        std::this_thread::sleep_for(whole * i / kKills);
        testsupport::KillAndReap(child, SIGKILL);
        const std::string state = VersionWithData(tool);
        ASSERT_TRUE(state == "v1" || state == "v2") << "killed at " << i << ": " << state;
        ++seen[state == "v2" ? 1 : 0];
        ASSERT_EQ(ExtractZip(dir / "v2.zip", tool), ExtractResult::Done);
        ASSERT_EQ(VersionWithData(tool), "v2") << "after the kill at " << i;
    }
    // The kills fell both before and after the exchange.
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], 0);
}

namespace {

// In the child: a mount namespace of its own (and a user namespace mapping this user to root
// when not root already). False with the reason on stderr when the kernel refuses.
bool EnterPrivateMounts() {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (uid != 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        const auto put = [](const char* file, const std::string& text) {
            const int fd = open(file, O_WRONLY | O_CLOEXEC);
            const bool ok =
                fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
            if (fd >= 0) close(fd);
            return ok;
        };
        if (!put("/proc/self/setgroups", "deny") ||
            !put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
            !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n"))
            return false;
    } else if (unshare(CLONE_NEWNS) != 0) {
        return false;
    }
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

bool MountOverlay(const std::string& dir) {
    const std::string options =
        "lowerdir=" + dir + "/lower,upperdir=" + dir + "/upper,workdir=" + dir + "/work";
    return mount("overlay", (dir + "/merged").c_str(), "overlay", 0, options.c_str()) == 0;
}

constexpr int kSkipped = 77;

// The runs of the package's program, and its downloads, which must be none: every address
// fails.
struct OfflineFlow {
    int downloads = 0;
    std::vector<std::string> notes;
    std::shared_ptr<CBrushWorkflow> flow;
    OfflineFlow() {
        BrushServices s = RealPackageServices();
        s.downloadResumable = [this](const std::string&, const std::string&, const DownloadResume&,
                                     DownloadWatch&) {
            ++downloads;
            return 0;
        };
        s.notifyPage = [this](const std::string&, const std::vector<std::string>& args) {
            notes.push_back(args.size() > 2 ? args[1] + ":" + args[2] : args[1]);
        };
        s.startProgram = [](const std::string&, const std::string& file) {
            return fs::exists(file);
        };
        s.queueTask = [](std::function<void()> task) { task(); };
        flow = std::make_shared<CBrushWorkflow>(s);
        flow->SetPageProgress(false);  // causes on
    }
    int Run(const std::string& cache) {
        return flow->EnsureAndRun(cache, "tool.exe", "http://127.0.0.1:9/tool.zip");
    }
};

#define CHILD_CHECK(condition)                                              \
    if (!(condition)) {                                                     \
        std::fprintf(stderr, "line %d: %s failed\n", __LINE__, #condition); \
        return 1;                                                           \
    }

int RemountChecks(const ScratchFolder& dir) {
    if (!EnterPrivateMounts()) {
        std::fprintf(stderr, "no private mount namespace: %s\n", std::strerror(errno));
        return kSkipped;
    }
    const std::string overlay = dir / "ov";
    for (const char* part : {"lower", "upper", "work", "merged", "other"})
        fs::create_directories(overlay + "/" + part);
    if (!MountOverlay(overlay)) {
        std::fprintf(stderr, "no overlay: %s\n", std::strerror(errno));
        return kSkipped;
    }
    const std::string cache = overlay + "/merged/cache";
    CHILD_CHECK(ExtractZip(dir / "v1.zip", cache + "/tool") == ExtractResult::Done);
    struct stat before {};
    stat((cache + "/tool").c_str(), &before);
    CHILD_CHECK(umount(cache.substr(0, cache.size() - 6).c_str()) == 0);
    // Something else takes the overlay's device number meanwhile, as after a reboot.
    CHILD_CHECK(mount("tmpfs", (overlay + "/other").c_str(), "tmpfs", 0, nullptr) == 0);
    CHILD_CHECK(MountOverlay(overlay));
    struct stat after {};
    stat((cache + "/tool").c_str(), &after);
    std::fprintf(stderr, "device %lu -> %lu\n", static_cast<unsigned long>(before.st_dev),
                 static_cast<unsigned long>(after.st_dev));

    OfflineFlow offline;
    CHILD_CHECK(offline.flow->ProgramPresent(cache, "tool.exe"));
    CHILD_CHECK(offline.Run(cache) == 1);
    CHILD_CHECK(offline.downloads == 0);
    // A copy in its place, and one in another cache, carry the mark but are not the program's.
    // An overlay without redirect_dir (one mounted in a user namespace) renames no folder
    // (EXDEV), and this check needs the package moved aside whole.
    if (rename((cache + "/tool").c_str(), (overlay + "/merged/moved").c_str()) != 0) {
        const int error = errno;
        std::fprintf(stderr, "moving the package aside: %s\n", std::strerror(error));
        return error == EXDEV ? kSkipped : 1;
    }
    fs::copy(overlay + "/merged/moved", cache + "/tool", fs::copy_options::recursive);
    CHILD_CHECK(!offline.flow->ProgramPresent(cache, "tool.exe"));
    CHILD_CHECK(offline.Run(cache) == 0);
    CHILD_CHECK(offline.notes.back() == "run.error:conflict");
    const std::string other = overlay + "/merged/other-cache";
    fs::create_directories(other + "/.maplenook");
    fs::permissions(other + "/.maplenook", fs::perms::owner_all, fs::perm_options::replace);
    fs::copy(overlay + "/merged/moved", other + "/tool", fs::copy_options::recursive);
    CHILD_CHECK(offline.Run(other) == 0);
    CHILD_CHECK(offline.notes.back() == "run.error:conflict");
    CHILD_CHECK(offline.downloads == 0);
    // The original, back in its place, still is.
    fs::remove_all(cache + "/tool");
    fs::rename(overlay + "/merged/moved", cache + "/tool");
    CHILD_CHECK(offline.Run(cache) == 1);
    return 0;
}

}  // namespace

// The overlay is mounted again in a private mount namespace: a new device number, the same
// inodes. The package stays the program's, usable with no download; copies of it never are.
TEST(PackageData, APackageStaysUsableWhenItsFileSystemIsMountedAgainAndACopyNeverIs) {
    ScratchFolder dir;
    MakeVersions(dir);
    const auto outcome = testsupport::RunInChild([&] { return RemountChecks(dir); }, 60s);
    if (outcome.exited && outcome.exitCode == kSkipped)
        GTEST_SKIP() << "no private mount namespace with an overlay that can move a folder here "
                        "(kernel or sandbox; the line above says which)";
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0) << "see the lines above";
}
