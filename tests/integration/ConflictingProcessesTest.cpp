#include "phone/ConflictingProcesses.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "PrivateNetwork.h"
#include "TempDir.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

using testsupport::TempDir;

// A child process we started; killed and reaped on scope exit.
struct Child {
    pid_t pid = -1;
    Child(const std::string& program, const std::vector<std::string>& args) {
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
            pid = -1;
        }
    }
    // True when the child ended by SIGKILL within `seconds`.
    bool WasKilled(int seconds = 5) {
        for (int i = 0; i < seconds * 100; ++i) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    bool Running() const { return pid > 0 && kill(pid, 0) == 0 && !IsZombie(); }
    bool IsZombie() const {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const auto close = text.rfind(')');
        return close != std::string::npos && text.compare(close, 4, ") Z ") == 0;
    }
    ~Child() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// Waits until the module path of `pid` is the copied binary (after exec, not the spawner).
void WaitForImage(pid_t pid, const std::string& path) {
    for (int i = 0; i < 500 && ModulePathOf(pid, "adb") != path; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string RunOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

// Writes a daemon stand-in that appends its arguments, one a line, to `record`.
void WriteRecordingDaemon(const fs::path& moduleDir, const fs::path& record) {
    const fs::path daemon = moduleDir / "krmdDaemon.exe";
    std::ofstream(daemon) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '"
                          << record.string() << "'\necho end >> '" << record.string() << "'\n";
    fs::permissions(daemon, fs::perms::owner_all);
}

// Waits for `count` complete daemon runs in `record` and returns its lines.
std::vector<std::string> RecordedLines(const fs::path& record, size_t runs) {
    std::vector<std::string> lines;
    for (int i = 0; i < 500; ++i) {
        lines.clear();
        std::ifstream in(record);
        std::string line;
        size_t ends = 0;
        while (std::getline(in, line)) {
            lines.push_back(line);
            if (line == "end") ++ends;
        }
        if (ends >= runs) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lines;
}

}  // namespace

TEST(ConflictingProcesses, StaleCopyIsKilledAndAnotherFolderIsLeftAlone) {
    TempDir privateDir, otherDir;
    const std::string stale = privateDir.File("adb");
    const std::string other = otherDir.File("adb");
    fs::copy_file("/bin/sleep", stale);
    fs::copy_file("/bin/sleep", other);
    Child staleChild(stale, {"300"});
    Child otherChild(other, {"300"});
    ASSERT_GT(staleChild.pid, 0);
    ASSERT_GT(otherChild.pid, 0);
    WaitForImage(staleChild.pid, stale);
    WaitForImage(otherChild.pid, other);

    const auto running = ListAdbProcesses();
    EXPECT_TRUE(Contains(running, stale));
    EXPECT_TRUE(Contains(running, other));

    // Looking without terminating finds it (letter case folded) and ends nothing.
    std::string upper = stale;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(KillProcessesByPath(upper, false));
    EXPECT_TRUE(staleChild.Running());

    EXPECT_TRUE(KillProcessesByPath(stale, true));
    EXPECT_TRUE(staleChild.WasKilled());
    EXPECT_TRUE(otherChild.Running());
    EXPECT_FALSE(Contains(ListAdbProcesses(), stale));
    EXPECT_FALSE(KillProcessesByPath(stale, true));
    EXPECT_TRUE(Contains(ListAdbProcesses(), other));
    // Kernel threads have no readable path; an empty path must not pick them (or anyone).
    EXPECT_FALSE(KillProcessesByPath("", false));
}

TEST(ConflictingProcesses, ModulesIncludeMappedLibrariesAfterTheExecutable) {
    TempDir dir;
    const std::string copy = dir.File("adb");
    fs::copy_file("/bin/sleep", copy);
    Child child(copy, {"300"});
    ASSERT_GT(child.pid, 0);
    WaitForImage(child.pid, copy);
    EXPECT_EQ(ModulePathOf(child.pid, "adb"), copy);
    // Right after exec the loader may not have mapped the C library yet.
    std::string libc;
    for (int i = 0; i < 500 && libc.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        libc = ModulePathOf(child.pid, "libc.so");
    }
    EXPECT_NE(libc.find("/libc.so"), std::string::npos) << libc;
    EXPECT_EQ(ModulePathOf(child.pid, "ADB"), "");  // the image name test keeps letter case
    EXPECT_EQ(ModulePathOf(999999999, "adb"), "");
}

TEST(ConflictingProcesses, PortOwnerIsCountedOncePerRowAndClientsAreNot) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const uint16_t port = ntohs(address.sin_port);
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const int accepted = accept(listener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);

    std::vector<os::TcpRowFacts> rows;
    ASSERT_TRUE(os::ListTcpRows(rows));
    EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return std::tie(a.localAddress, a.localPort) < std::tie(b.localAddress, b.localPort);
    }));
    EXPECT_EQ(PortOwnerPids(rows, port), (std::vector<long>{getpid(), getpid()}));
    // Only the port's rows (the listener and the accepted end), with the same owners.
    std::vector<os::TcpRowFacts> portRows;
    ASSERT_TRUE(os::ListTcpRows(portRows, port));
    EXPECT_EQ(portRows.size(), 2u);
    EXPECT_EQ(PortOwnerPids(portRows, port), PortOwnerPids(rows, port));

    TempDir moduleDir;
    const fs::path record = moduleDir.File("record.txt");
    WriteRecordingDaemon(moduleDir.path(), record);
    std::vector<std::string> owners{"kept"};
    ASSERT_TRUE(FindPortOwners(port, owners, moduleDir.path()));
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(owners, (std::vector<std::string>{"kept", self, self}));
    EXPECT_EQ(RecordedLines(record, 2),
              (std::vector<std::string>{"-p", self, "end", "-p", self, "end"}));
    close(accepted);
    close(client);
    close(listener);
}

TEST(ConflictingProcesses, RealAdbServerOwnsPort5037) {
    // A server of our own on a port 5037 of our own: the machine's shared server, which other
    // programs and tests may be using, is never started or stopped here.
    testsupport::PrivateNetwork network;
    if (!network.Entered()) GTEST_SKIP() << network.Reason();
    const std::string adb = fs::canonical(RunOutput("command -v adb | tr -d '\\n'")).string();
    ASSERT_EQ(std::system("adb start-server >/dev/null 2>&1"), 0);
    struct StopServer {
        ~StopServer() { std::system("adb kill-server >/dev/null 2>&1"); }
    } stopServer;

    TempDir moduleDir;
    const fs::path record = moduleDir.File("record.txt");
    WriteRecordingDaemon(moduleDir.path(), record);
    std::vector<std::string> owners;
    ASSERT_TRUE(FindPortOwners(5037, owners, moduleDir.path()));
    ASSERT_FALSE(owners.empty());
    for (const auto& owner : owners) EXPECT_EQ(owner, adb);
    EXPECT_EQ(PickForeignAdb(owners), adb);
    const auto lines = RecordedLines(record, owners.size());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "-p");
    EXPECT_EQ(lines[1], adb);

    // A daemon that is not installed is not started, and the owners are still listed.
    TempDir emptyModuleDir;
    std::vector<std::string> again;
    ASSERT_TRUE(FindPortOwners(5037, again, emptyModuleDir.path()));
    EXPECT_EQ(again, owners);
}
