#include "os/PrivateFolder.h"
#include "phone/ModuleLib.h"

#include "ChildRun.h"
#include "ForeignListener.h"
#include "PrivateNetwork.h"
#include "ScopedEnv.h"
#include "ScratchFolder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

const char* const kTools[] = {"adb", "aapt", "fastboot"};

// A module directory holding copies of Debian's tool set, and a private runtime folder.
struct ModuleFixture {
    testsupport::ScopedEnv env;
    ScratchFolder dir;
    std::string runtime = dir / "run";
    std::string module = dir / "module";

    ModuleFixture() {
        mkdir(runtime.c_str(), 0700);
        env.Set("XDG_RUNTIME_DIR", runtime);
        fs::create_directories(module + "/adb");
        for (const char* tool : kTools) {
            fs::copy_file(fs::canonical(std::string("/usr/bin/") + tool), module + "/adb/" + tool);
        }
    }
    std::string Source(const std::string& tool) const { return module + "/adb/" + tool; }
    std::string Copy(const std::string& tool) const { return runtime + "/ice/" + tool; }
};

std::string Md5sum(const std::string& path) {
    return ShellOutput("md5sum " + ShellQuote(path) + " | cut -c1-32 | tr -d '\\n'");
}

unsigned ModeOf(const std::string& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// A process we started; killed and reaped on scope exit.
struct Child {
    pid_t pid = -1;
    explicit Child(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid = -1;
    }
    // True when the child has ended by SIGKILL (reaped here).
    bool KilledBySignal() {
        int status = 0;
        if (pid <= 0 || waitpid(pid, &status, WNOHANG) != pid) return false;
        pid = -1;
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }
    bool Running() const { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

std::string ExeOf(pid_t pid) {
    std::error_code ignored;
    return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ignored).string();
}

void WaitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000 && !condition(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// The listening row of 127.0.0.1:5037 (0100007F:13AD) appears once the server is up.
bool Port5037Listening() {
    return ShellOutput("grep -c ' 0100007F:13AD 00000000:0000 0A' /proc/net/tcp") != "0\n";
}

}  // namespace

TEST(ModuleLibInit, FirstRunCopiesTheToolSetIntoThePrivateFolder) {
    ModuleFixture fx;
    CModuleLib lib;
    ASSERT_TRUE(lib.Init(fx.module));
    EXPECT_EQ(lib.toolDir(), fx.runtime + "/ice/");
    EXPECT_EQ(ModeOf(fx.runtime + "/ice"), 0700u);
    for (const char* tool : kTools) {
        EXPECT_EQ(Md5sum(fx.Copy(tool)), Md5sum(fx.Source(tool))) << tool;
        EXPECT_EQ(ModeOf(fx.Copy(tool)) & 0111, 0111u) << tool;
        EXPECT_EQ(lib.FileDigest(fx.Copy(tool)), Md5sum(fx.Source(tool)));
    }
    // Another test may run a bridge server on port 5037 at this moment; then that one is used.
    if (lib.adbPath() != lib.toolDir() + "adb") {
        EXPECT_NE(ShellOutput("grep -c ':13AD 00000000:0000 0A' /proc/net/tcp"), "0\n");
    }
}

TEST(ModuleLibInit, MissingToolCopiesNothing) {
    ModuleFixture fx;
    fs::remove(fx.Source("fastboot"));
    CModuleLib lib;
    EXPECT_FALSE(lib.Init(fx.module));
    EXPECT_EQ(lib.adbPath(), fx.runtime + "/ice/adb");
    EXPECT_FALSE(fs::exists(fx.Copy("adb")));
    EXPECT_FALSE(fs::exists(fx.Copy("aapt")));
}

TEST(ModuleLibInit, WithoutAShippedToolFolderTheSystemToolsAreCopied) {
    ModuleFixture fx;
    fs::remove_all(fx.module + "/adb");
    CModuleLib lib;
    ASSERT_TRUE(lib.Init(fx.module));
    for (const char* tool : kTools) {
        const std::string installed = std::string("/usr/bin/") + tool;
        EXPECT_EQ(Md5sum(fx.Copy(tool)), Md5sum(installed)) << tool;
        // A real copy, not a link that a package upgrade would change under a running server.
        EXPECT_FALSE(fs::is_symlink(fx.Copy(tool))) << tool;
    }
}

TEST(ModuleLibInit, StaleAdbIsReplacedAndOtherCopiesAreKept) {
    ModuleFixture fx;
    WriteFile(fx.Copy("adb"), "an older adb", 0755);
    WriteFile(fx.Copy("aapt"), "an older aapt", 0755);
    CModuleLib lib;
    ASSERT_TRUE(lib.Init(fx.module));
    EXPECT_EQ(Md5sum(fx.Copy("adb")), Md5sum(fx.Source("adb")));
    EXPECT_EQ(ReadFile(fx.Copy("aapt")), "an older aapt");
    EXPECT_EQ(Md5sum(fx.Copy("fastboot")), Md5sum(fx.Source("fastboot")));
    // Nothing half-copied is left behind.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(fx.runtime + "/ice")) ++entries;
    EXPECT_EQ(entries, 3u);
}

TEST(ModuleLibInit, RunningStaleCopyIsEndedAndReplacedOtherAdbIsLeftAlone) {
    ModuleFixture fx;
    fs::create_directories(fx.runtime + "/ice");
    fs::copy_file("/bin/sleep", fx.Copy("adb"));
    fs::copy_file("/bin/sleep", fx.dir / "adb");
    Child stale({fx.Copy("adb"), "300"});
    Child other({fx.dir / "adb", "300"});
    ASSERT_GT(stale.pid, 0);
    ASSERT_GT(other.pid, 0);
    WaitUntil(
        [&] { return ExeOf(stale.pid) == fx.Copy("adb") && ExeOf(other.pid) == fx.dir / "adb"; });

    CModuleLib lib;
    ASSERT_TRUE(lib.Init(fx.module));
    WaitUntil([&] { return stale.KilledBySignal(); });
    EXPECT_EQ(stale.pid, -1) << "the stale copy is still running";
    EXPECT_TRUE(other.Running());
    EXPECT_EQ(Md5sum(fx.Copy("adb")), Md5sum(fx.Source("adb")));
}

// Our server keeps running from a copy an earlier run replaced (its image path now carries the
// kernel's " (deleted)"), and the runtime folder is given with a trailing "/": still ours.
TEST(ModuleLibInit, StaleCopyRunningFromARemovedFileIsEnded) {
    ModuleFixture fx;
    fx.env.Set("XDG_RUNTIME_DIR", fx.runtime + "/");
    fs::create_directories(fx.runtime + "/ice");
    fs::copy_file("/bin/sleep", fx.Copy("adb"));
    Child stale({fx.Copy("adb"), "300"});
    ASSERT_GT(stale.pid, 0);
    WaitUntil([&] { return ExeOf(stale.pid) == fx.Copy("adb"); });
    fs::remove(fx.Copy("adb"));
    WriteFile(fx.Copy("adb"), "another stale copy", 0755);
    ASSERT_EQ(ExeOf(stale.pid), fx.Copy("adb") + " (deleted)");

    CModuleLib lib;
    ASSERT_TRUE(lib.Init(fx.module));
    EXPECT_EQ(lib.toolDir(), fx.runtime + "/ice/");
    WaitUntil([&] { return stale.KilledBySignal(); });
    EXPECT_EQ(stale.pid, -1) << "the stale copy is still running";
    EXPECT_EQ(Md5sum(fx.Copy("adb")), Md5sum(fx.Source("adb")));
}

TEST(ModuleLibInit, ForeignBridgeServerOnPort5037IsUsedUnlessExcluded) {
    // Port 5037 of our own, so a server here neither meets nor disturbs the machine's.
    testsupport::PrivateNetwork network;
    if (!network.Entered()) GTEST_SKIP() << network.Reason();
    ModuleFixture fx;
    const std::string record = fx.dir / "daemon.txt";
    WriteFile(fx.module + "/krmdDaemon.exe",
              "#!/bin/sh\nprintf '%s|' \"$@\" >> '" + record + "'\necho >> '" + record + "'\n",
              0755);

    for (const std::string folder : {"QQ.exe", "Removed", "Other Tools"}) {
        const std::string server = fx.dir / (folder + "/adb");
        fs::create_directories(fx.dir / folder);
        fs::copy_file(fx.Source("adb"), server);
        Child child({server, "nodaemon", "server"});
        ASSERT_GT(child.pid, 0);
        WaitUntil([&] { return Port5037Listening(); });
        ASSERT_TRUE(Port5037Listening());
        fs::remove(record);
        // A server whose file is gone could not run our commands.
        if (folder == "Removed") fs::remove(server);

        CModuleLib lib;
        ASSERT_TRUE(lib.Init(fx.module));
        if (folder != "Other Tools") {
            EXPECT_EQ(lib.adbPath(), lib.toolDir() + "adb");
        } else {
            EXPECT_EQ(lib.adbPath(), server);
        }
        // Every owner is reported to the daemon, excluded or not.
        // The daemon writes its record in two steps; wait for the whole line.
        WaitUntil([&] {
            const std::string text = fs::exists(record) ? ReadFile(record) : "";
            return !text.empty() && text.back() == '\n';
        });
        EXPECT_EQ(ReadFile(record).rfind("-p|" + server + "|\n", 0), 0u) << ReadFile(record);
        kill(child.pid, SIGKILL);
        waitpid(child.pid, nullptr, 0);
        child.pid = -1;
        WaitUntil([&] { return !Port5037Listening(); });
    }
}

// Another user's server on 5037 would answer our commands with whatever it likes: it is never
// adopted, whatever program it is.
TEST(ModuleLibInit, AnotherUsersServerOnPort5037IsNeverAdopted) {
    testsupport::PrivateNetwork network;
    if (!network.Entered()) GTEST_SKIP() << network.Reason();
    if (const std::string why = testsupport::NobodyUnavailable(); !why.empty())
        GTEST_SKIP() << "a server of another user: " << why;
    ModuleFixture fx;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t squatter = fork();
    if (squatter == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The socket belongs to whoever makes it: made after the switch, it is nobody's.
        if (setgid(testsupport::kNobody) != 0 || setuid(testsupport::kNobody) != 0) _exit(2);
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(5037);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(fd, 1) != 0)
            _exit(3);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    const bool listening = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    if (listening) {
        CModuleLib lib;
        ASSERT_TRUE(lib.Init(fx.module));
        EXPECT_EQ(lib.adbPath(), lib.toolDir() + "adb");
    }
    kill(squatter, SIGKILL);
    waitpid(squatter, nullptr, 0);
    ASSERT_TRUE(listening) << "the other user's listener did not start";
}

// A server of another user that takes port 5037 after start-up gets no command: the next one,
// and every later one, runs on a server of our own that it cannot stand in for.
TEST(RunAdb, AnotherUsersServerAppearingAfterStartIsNeverUsed) {
    testsupport::PrivateNetwork network;
    if (!network.Entered()) GTEST_SKIP() << network.Reason();
    if (const std::string why = testsupport::NobodyUnavailable(); !why.empty())
        GTEST_SKIP() << "a server of another user: " << why;
    ModuleFixture fx;
    const auto ownServerRunning = [&] {
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") == std::string::npos &&
                ExeOf(std::stoi(name)) == fx.Copy("adb"))
                return true;
        }
        return false;
    };
    {
        CModuleLib lib;
        ASSERT_TRUE(lib.Init(fx.module));
        ASSERT_FALSE(lib.UsesOwnServer());

        testsupport::ForeignListener squatter(5037);
        ASSERT_TRUE(squatter.Started());
        const std::string devices = lib.RunAdb("devices");
        EXPECT_NE(devices.find("List of devices attached"), std::string::npos) << devices;
        lib.RunAdb("-shell ls;");
        EXPECT_FALSE(squatter.GotRequest(std::chrono::milliseconds(300)));
        EXPECT_TRUE(lib.UsesOwnServer());
        EXPECT_TRUE(fs::is_socket(lib.toolDir() + "adb.sock"));
        EXPECT_TRUE(ownServerRunning());
    }
    // Once port 5037 is free again, the next start ends our own server, which would otherwise
    // fight the one there for the phones.
    CModuleLib next;
    ASSERT_TRUE(next.Init(fx.module));
    EXPECT_FALSE(next.UsesOwnServer());
    WaitUntil([&] { return !ownServerRunning(); });
    EXPECT_FALSE(ownServerRunning());
    EXPECT_FALSE(fs::exists(next.toolDir() + "adb.sock"));
}

TEST(PrivateUserFolder, SymlinkInItsPlaceIsRefused) {
    ScratchFolder dir;
    const std::string runtime = dir / "run";
    const std::string elsewhere = dir / "elsewhere";
    fs::create_directories(runtime);
    fs::create_directories(elsewhere);
    fs::create_symlink(elsewhere, runtime + "/ice");
    testsupport::ScopedEnv env;
    env.Set("XDG_RUNTIME_DIR", runtime);
    const std::string folder = os::PrivateUserFolder("ice");
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder, runtime + "/ice/");
    EXPECT_EQ(folder.back(), '/');
    struct stat info {};
    ASSERT_EQ(lstat(folder.substr(0, folder.size() - 1).c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_uid, getuid());
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(PrivateUserFolder, WideModeIsNarrowedAndForeignOwnerIsRefused) {
    ScratchFolder dir;
    const std::string runtime = dir / "run";
    fs::create_directories(runtime + "/ice");
    chmod((runtime + "/ice").c_str(), 0777);
    testsupport::ScopedEnv env;
    env.Set("XDG_RUNTIME_DIR", runtime);
    EXPECT_EQ(os::PrivateUserFolder("ice"), runtime + "/ice/");
    EXPECT_EQ(ModeOf(runtime + "/ice"), 0700u);

    if (const std::string why = testsupport::NobodyUnavailable(); !why.empty())
        GTEST_SKIP() << "a folder of another owner: " << why;
    ASSERT_EQ(chown((runtime + "/ice").c_str(), testsupport::kNobody, testsupport::kNobody), 0);
    const std::string folder = os::PrivateUserFolder("ice");
    EXPECT_FALSE(folder.empty());
    EXPECT_NE(folder, runtime + "/ice/");
}
