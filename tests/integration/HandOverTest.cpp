#include "os/GuiThread.h"
#include "os/HandOver.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
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

int Connect(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
    return fd;
}

// True once the server has closed its end (end of file, or a reset), waiting up to `ms`.
bool ClosedByServer(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return false;
    char byte = 0;
    const ssize_t n = recv(fd, &byte, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

size_t OpenDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
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

TEST(HandOver, TheAskingUsersTimeTravelsWithTheRequestAndOldPeersStillUnderstandEachOther) {
    TempDir dir;
    const std::string path = dir.File("maplenook_wnd_8");
    std::vector<std::pair<unsigned long, unsigned long>> seen;
    os::HandOverServer server(path, [&](const os::HandOverRequest& request) {
        seen.emplace_back(request.dwData, request.userTime);
        return 1L;
    });
    std::vector<long> answers;
    WhileServing([&] {
        answers.push_back(os::SendHandOverRequest(path, os::HandOverRequest{1, 4294967295ul}));
        answers.push_back(os::SendHandOverRequest(path, 1));  // a peer that sends no time
        // A time that does not fit 32 bits is no time at all.
        const int fd = Connect(path);
        const char request[] = "1 99999999999999\n";
        send(fd, request, sizeof request - 1, 0);
        char answer[8] = {};
        answers.push_back(recv(fd, answer, sizeof answer, 0) > 0 ? std::atol(answer) : -1);
        close(fd);
    });
    EXPECT_EQ(answers, (std::vector<long>{1, 1, 1}));
    EXPECT_EQ(seen, (std::vector<std::pair<unsigned long, unsigned long>>{
                        {1, 4294967295ul}, {1, 0}, {1, 0}}));

    // A server that reads only the number answers a request that carries a time.
    const std::string oldPath = dir.File("maplenook_wnd_9");
    os::HandOverServer oldServer(oldPath,
                                 [](unsigned long dwData) { return dwData == 1 ? 1L : 0L; });
    long oldAnswer = 0;
    WhileServing([&] { oldAnswer = os::SendHandOverRequest(oldPath, os::HandOverRequest{1, 77}); });
    EXPECT_EQ(oldAnswer, 1);
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

TEST(HandOver, NoMoreThanEightConnectionsAreHeldAtOnce) {
    TempDir dir;
    const std::string path = dir.File("maplenook_wnd_6");
    // Idle peers are kept for a minute here, so only the limit can close them.
    os::HandOverServer server(
        path, [](unsigned long) { return 1L; }, 60000);
    ASSERT_TRUE(server.Serving());
    WhileServing([&] {
        std::vector<int> idle;
        for (int i = 0; i < 8; ++i) idle.push_back(Connect(path));
        const int surplus = Connect(path);
        EXPECT_TRUE(ClosedByServer(surplus, 10000));
        for (int fd : idle) EXPECT_FALSE(ClosedByServer(fd, 0));
        // A freed place is taken by the next request, which is answered.
        close(idle.back());
        idle.pop_back();
        long answer = 0;
        for (int tries = 0; tries < 100 && answer == 0; ++tries) {
            answer = os::SendHandOverRequest(path, 1);
            if (answer == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_EQ(answer, 1);
        close(surplus);
        for (int fd : idle) close(fd);
    });
}

TEST(HandOver, PeersThatNeverFinishARequestAreDropped) {
    TempDir dir;
    const std::string path = dir.File("maplenook_wnd_8");
    os::HandOverServer server(path, [](unsigned long) { return 1L; });
    ASSERT_TRUE(server.Serving());
    const size_t before = OpenDescriptors();
    WhileServing([&] {
        std::vector<int> peers;
        for (int i = 0; i < 40; ++i) {
            peers.push_back(Connect(path));
            // Half of them send part of a request and stop.
            if (i % 2 == 0) send(peers.back(), "1", 1, MSG_NOSIGNAL);
        }
        for (int fd : peers) EXPECT_TRUE(ClosedByServer(fd, 10000));
        // Only the peers' own ends are still open: the server kept none of its.
        EXPECT_EQ(OpenDescriptors(), before + peers.size());
        EXPECT_EQ(os::SendHandOverRequest(path, 1), 1);
        for (int fd : peers) close(fd);
    });
}
