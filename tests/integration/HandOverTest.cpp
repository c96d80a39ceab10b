#include "os/GuiThread.h"
#include "os/HandOver.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// Runs `client` on a thread while this thread runs the GUI loop that serves the sockets.
void WhileServing(const std::function<void()>& client) {
    std::thread thread([&] {
        client();
        os::PostToGuiThread([] { os::QuitGuiLoop(0); });
    });
    os::RunGuiLoop();
    thread.join();
}

// A socket file with a listener that never answers, or (listen = false) none at all.
int BindSocket(const std::string& path, bool listen) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
    if (listen) ::listen(fd, 4);
    return fd;
}

}  // namespace

TEST(HandOver, TheServerAnswersEachRequestWithItsHandler) {
    TempDir dir;
    const std::string path = dir.File("maplenook_wnd_7");
    std::vector<unsigned long> seen;
    os::HandOverServer server(path, [&](unsigned long dwData) {
        EXPECT_TRUE(os::IsGuiThread());
        seen.push_back(dwData);
        return dwData == 1 ? 1L : 42L;
    });
    ASSERT_TRUE(server.Serving());
    long answers[3] = {};
    WhileServing([&] {
        answers[0] = os::SendHandOverRequest(path, 1);
        answers[1] = os::SendHandOverRequest(path, 9);
        answers[2] = os::SendHandOverRequest(path, 1);
    });
    EXPECT_EQ(answers[0], 1);
    EXPECT_EQ(answers[1], 42);
    EXPECT_EQ(answers[2], 1);
    EXPECT_EQ(seen, (std::vector<unsigned long>{1, 9, 1}));
}

TEST(HandOver, NobodyServingMeansZero) {
    TempDir dir;
    EXPECT_EQ(os::SendHandOverRequest(dir.File("maplenook_wnd_1"), 1), 0);
    // A socket file whose process died: the connection is refused.
    const int dead = BindSocket(dir.File("maplenook_wnd_2"), false);
    ASSERT_GE(dead, 0);
    close(dead);
    EXPECT_EQ(os::SendHandOverRequest(dir.File("maplenook_wnd_2"), 1), 0);
    EXPECT_EQ(os::SendHandOverRequest(dir.File(std::string(200, 'x')), 1), 0);
}

TEST(HandOver, AHungPeerGivesZeroAfterTheTimeout) {
    TempDir dir;
    const int hung = BindSocket(dir.File("maplenook_wnd_3"), true);
    ASSERT_GE(hung, 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(os::SendHandOverRequest(dir.File("maplenook_wnd_3"), 1, 300), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    close(hung);
}

TEST(HandOver, ASocketLeftByACrashIsReplacedAndRemovedAtTheEnd) {
    TempDir dir;
    const std::string path = dir.File("maplenook_wnd_4");
    const int stale = BindSocket(path, false);
    ASSERT_GE(stale, 0);
    close(stale);
    {
        os::HandOverServer server(path, [](unsigned long) { return 1L; });
        ASSERT_TRUE(server.Serving());
        long answer = 0;
        WhileServing([&] { answer = os::SendHandOverRequest(path, 1); });
        EXPECT_EQ(answer, 1);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    EXPECT_EQ(os::SendHandOverRequest(path, 1), 0);
}

TEST(HandOver, AFileThatIsNoSocketIsLeftAlone) {
    TempDir dir;
    const std::string path = dir.File("maplenook_wnd_5");
    WriteFile(path, "user data");
    os::HandOverServer server(path, [](unsigned long) { return 1L; });
    EXPECT_FALSE(server.Serving());
    EXPECT_EQ(ReadFile(path), "user data");
}
