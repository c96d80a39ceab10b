// The real program in a temporary installed folder, on the test's X display.
#include "app/InstallCheck.h"
#include "app/SingleInstance.h"
#include "base/Settings.h"
#include "os/HandOver.h"
#include "os/SingleInstance.h"

#include "ChildRun.h"
#include "ImageFiles.h"
#include "InstalledFolder.h"
#include "X11Windows.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>

#include <chrono>
#include <cstring>
#include <filesystem>

using namespace testsupport;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

long StoredHandle(const InstalledFolder& folder) {
    return ReadSettingInt(folder.settingsPath(), "app", "wnd", 0);
}

// Waits until the program has written a handle other than `previous` and serves it.
long WaitForMainPanel(const InstalledFolder& folder, long previous = 0) {
    long handle = 0;
    WaitUntil(
        [&] {
            handle = StoredHandle(folder);
            return handle != 0 && handle != previous;
        },
        30s);
    return handle;
}

// Every file below `dir` with its size, to see that a run created or changed nothing.
std::string Listing(const std::string& dir) {
    std::string listing;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        listing += entry.path().string();
        if (entry.is_regular_file()) listing += " " + std::to_string(entry.file_size());
        listing += "\n";
    }
    return listing;
}

ChildOutcome RunOnce(const InstalledFolder& folder, const EnvOverrides& extra = {}) {
    EnvOverrides env = folder.Env();
    env.insert(env.end(), extra.begin(), extra.end());
    return RunChild({folder.exe()}, 30s, env, folder.dir());
}

void MakeStaleSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

}  // namespace

TEST(Startup, ASecondStartShowsTheFirstInstanceAndExitsWithOne) {
    // With a tray to come back from, closing hides the panel.
    testsupport::TrayHostStandIn tray;
    ASSERT_TRUE(tray.Owning());
    InstalledFolder folder;
    auto first = folder.Start();
    const long handle = WaitForMainPanel(folder);
    ASSERT_NE(handle, 0) << first->Output();
    // The panel, and the tray icon's own window, which carries the program's name too.
    const auto windows = FindWindowsOf(first->pid(), "MapleNook");
    EXPECT_NE(std::find(windows.begin(), windows.end(), static_cast<unsigned long>(handle)),
              windows.end());
    EXPECT_FALSE(IsWindowViewable(handle));  // created hidden
    // It shows itself once its page has loaded; closing it only hides it (the program stays
    // in the tray), as Escape does.
    ASSERT_TRUE(WaitUntil([&] { return IsWindowViewable(handle); }, 20s)) << first->Output();
    EXPECT_TRUE(RequestWindowClose(handle));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowViewable(handle); }, 10s)) << first->Output();

    const std::string before = Listing(folder.dir());
    const std::string settings = ReadFile(folder.settingsPath());
    const auto second = RunOnce(folder);
    EXPECT_TRUE(second.exited);
    EXPECT_EQ(second.exitCode, 1) << second.output;
    EXPECT_TRUE(WaitUntil([&] { return IsWindowViewable(handle); }, 10s));
    // A request it does not know is still answered as handled.
    EXPECT_EQ(os::SendHandOverRequest(os::HandOverAddress(folder.runtimeDir(), handle), 7), 1);
    // The second instance made no window and touched no file.
    EXPECT_EQ(Listing(folder.dir()), before);
    EXPECT_EQ(ReadFile(folder.settingsPath()), settings);

    first->Signal(SIGTERM);  // ends the loop the normal way
    const auto end = first->Wait(20s);
    EXPECT_TRUE(end.exited);
    EXPECT_EQ(end.exitCode, 0) << end.output;
    // Its hand-over socket went with it.
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder.runtimeDir() + "/maplenook_wnd_" +
                                               std::to_string(static_cast<int>(handle)))));
}

TEST(Startup, AfterACrashTheNextStartTakesOverAndRewritesTheHandle) {
    InstalledFolder folder;
    {
        auto crashed = folder.Start();
        ASSERT_NE(WaitForMainPanel(folder), 0) << crashed->Output();
        crashed->Signal(SIGKILL);
        crashed->Wait(10s);
    }
    ASSERT_NE(WriteSettingString(folder.settingsPath(), "app", "wnd", "4242"), 0);
    auto next = folder.Start();
    const long handle = WaitForMainPanel(folder, 4242);
    ASSERT_NE(handle, 0) << next->Output();
    ASSERT_EQ(FindWindowsOf(next->pid(), "MapleNook").size(), 1u);
    EXPECT_EQ(RunOnce(folder).exitCode, 1);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowViewable(handle); }, 10s));
    next->Signal(SIGTERM);  // ends the loop the normal way
    const auto end = next->Wait(20s);
    EXPECT_TRUE(end.exited) << "signal " << end.signal << "\n" << end.output;
    EXPECT_EQ(end.exitCode, 0);
}

TEST(Startup, AStaleOrZeroHandleWhileTheLockIsHeldGivesZero) {
    InstalledFolder folder;
    // This test process plays a first instance that is still starting.
    ASSERT_EQ(os::TakeInstanceLock(folder.runtimeDir() + "/maplenook_mutex_flag"),
              os::InstanceLock::Acquired);
    for (const char* handle : {"0", "12345", "-7", "junk"}) {
        SCOPED_TRACE(handle);
        WriteSettingString(folder.settingsPath(), "app", "wnd", handle);
        const std::string before = Listing(folder.dir());
        const auto outcome = RunOnce(folder);
        EXPECT_TRUE(outcome.exited);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
        EXPECT_EQ(Listing(folder.dir()), before);
    }
    // A socket left behind by a dead first instance refuses the connection: still 0.
    MakeStaleSocket(folder.runtimeDir() + "/maplenook_wnd_12345");
    WriteSettingString(folder.settingsPath(), "app", "wnd", "12345");
    EXPECT_EQ(RunOnce(folder).exitCode, 0);
}

TEST(Startup, ADamagedInstallationShowsTheMessageAndExitsWithZero) {
    struct Damage {
        const char* what;
        std::function<void(const InstalledFolder&)> apply;
    };
    const Damage damages[] = {
        {"local page missing",
         [](const InstalledFolder& f) { fs::remove(f.File("res/web/brush.html")); }},
        {"bkimage not registered",
         [](const InstalledFolder& f) {
             WriteSettingString(f.settingsPath(), "mainpanel", "bkimage", "2");
         }},
        {"bkimage empty",
         [](const InstalledFolder& f) {
             WriteSettingString(f.settingsPath(), "mainpanel", "bkimage", "");
         }},
        {"background image unreadable",
         [](const InstalledFolder& f) { WriteFile(f.File("res/skin/bk.png"), "garbage"); }},
        {"cfg.ini missing", [](const InstalledFolder& f) { fs::remove(f.settingsPath()); }},
        {"cfg.ini empty", [](const InstalledFolder& f) { WriteFile(f.settingsPath(), ""); }},
        {"cfg.ini binary garbage",
         [](const InstalledFolder& f) {
             std::string garbage;
             for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 7919) % 256);
             WriteFile(f.settingsPath(), garbage);
         }},
        {"cfg.ini is a folder",
         [](const InstalledFolder& f) {
             fs::remove(f.settingsPath());
             fs::create_directory(f.settingsPath());
         }},
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.what);
        InstalledFolder folder;
        damage.apply(folder);
        auto program = folder.Start();
        std::vector<unsigned long> dialogs;
        ASSERT_TRUE(WaitUntil(
            [&] {
                dialogs = FindWindowsOf(program->pid(), "错误");
                return !dialogs.empty() && IsWindowViewable(dialogs[0]);
            },
            30s))
            << program->Output();
        // The message waits for the user; no main panel exists meanwhile.
        EXPECT_TRUE(program->Running());
        EXPECT_TRUE(FindWindowsOf(program->pid(), "MapleNook").empty());
        EXPECT_TRUE(RequestWindowClose(dialogs[0]));
        const auto end = program->Wait(20s);
        EXPECT_TRUE(end.exited);
        EXPECT_EQ(end.exitCode, 0) << end.output;
        if (fs::is_regular_file(folder.settingsPath())) {
            EXPECT_EQ(ReadSettingInt(folder.settingsPath(), "app", "wnd", 0), 0);
        }
    }
}

TEST(Startup, WithoutADisplayTheProgramEndsQuietlyWithZero) {
    InstalledFolder folder;
    const auto intact = RunOnce(folder, {{"DISPLAY", ""}});
    EXPECT_TRUE(intact.exited);
    EXPECT_EQ(intact.exitCode, 0) << intact.output;
    EXPECT_EQ(StoredHandle(folder), 0);

    fs::remove(folder.File("res/web/brush.html"));
    const auto damaged = RunOnce(folder, {{"DISPLAY", ""}});
    EXPECT_TRUE(damaged.exited);
    EXPECT_EQ(damaged.exitCode, 0);
    // Told and logged, naming the file.
    EXPECT_NE(damaged.output.find(DamagedInstallationText(folder.File("res/web/brush.html"))),
              std::string::npos)
        << damaged.output;
    EXPECT_NE(damaged.output.find("installation damaged"), std::string::npos) << damaged.output;

    // A FIFO in the settings file's place is named, never waited on.
    fs::remove(folder.settingsPath());
    ASSERT_EQ(mkfifo(folder.settingsPath().c_str(), 0600), 0);
    const auto fifo = RunOnce(folder, {{"DISPLAY", ""}});
    EXPECT_TRUE(fifo.exited);
    EXPECT_NE(fifo.output.find(SettingsFileRefusedText(folder.settingsPath())), std::string::npos)
        << fifo.output;
}

TEST(Startup, ATakenLockFolderNameFallsBackAndTwoStartsStillMeet) {
    if (geteuid() != 0 || RunChild({"unshare", "-m", "true"}, 10s).exitCode != 0) {
        GTEST_SKIP() << "needs a private mount namespace";
    }
    InstalledFolder folder;
    const std::string home = folder.File("home");
    const std::string foreign = folder.File("foreign");
    fs::create_directory(home);
    fs::create_directory(foreign);
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    // The mount point; only inside the runs' namespaces is the name someone else's folder.
    const std::string shared = "/tmp/maplenook-0";
    ASSERT_TRUE(os::MakePrivateFolder(shared));
    const std::string script = "mount --bind \"$1\" \"$2\" && exec \"$3\"";
    std::vector<std::string> argv{"env", "-u", "XDG_RUNTIME_DIR", "-u", "XDG_CACHE_HOME"};
    argv.insert(argv.end(), {"HOME=" + home, "unshare", "-m", "--propagation", "private"});
    argv.insert(argv.end(), {"sh", "-c", script, "sh", foreign, shared, folder.exe()});
    ChildProcess first(argv, {}, folder.dir());
    const long handle = WaitForMainPanel(folder);
    ASSERT_NE(handle, 0) << first.Output();
    const std::string fallback = home + "/.cache/maplenook-0";
    EXPECT_TRUE(fs::exists(fallback + "/maplenook_mutex_flag"));
    EXPECT_NE(first.Output().find(fallback), std::string::npos) << first.Output();

    const auto second = RunChild(argv, 30s, {}, folder.dir());
    EXPECT_EQ(second.exitCode, 1) << second.output;
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(20s).exitCode, 0);
    EXPECT_TRUE(fs::is_empty(foreign));
}
