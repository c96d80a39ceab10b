// maplenook-demo-phone: an emulated Android phone that the debug bridge reaches over TCP on
// 127.0.0.1 ("adb connect 127.0.0.1:PORT"), for trying the program's phone paths without a
// phone. It prints "listening on 127.0.0.1:<port>" once it takes connections.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "Connection.h"
#include "PhoneState.h"

namespace {

struct Options {
    int port = 5555;
    std::string record;
    int failInstalls = 0;
    uint64_t unplugAfter = 0;
    phone::PhoneIdentity identity;
};

constexpr int kMaxConnections = 32;
std::atomic<int> connections{0};

const char* const kUsage =
    "usage: maplenook-demo-phone [--port PORT] [--record DIR] [--serial S] [--model M]\n"
    "                            [--fail-installs N] [--unplug-after BYTES]\n"
    "  --port PORT          TCP port on 127.0.0.1 (default 5555, 0 picks a free one)\n"
    "  --record DIR         append every command to DIR/commands.log and keep each installed\n"
    "                       package as DIR/install-<n>.apk\n"
    "  --serial S, --model M  what getprop ro.serialno and ro.product.model answer\n"
    "  --fail-installs N    the first N installs answer Failure [INSTALL_FAILED_INTERNAL_ERROR]\n"
    "  --unplug-after BYTES the phone goes away (every connection drops) once pushes have\n"
    "                       brought it that many bytes\n";

bool ParseNumber(const char* text, uint64_t limit, uint64_t& value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || parsed > limit) return false;
    value = parsed;
    return true;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) return std::nullopt;
        const char* value = argv[++i];
        uint64_t number = 0;
        if (name == "--port" && ParseNumber(value, 65535, number)) {
            options.port = static_cast<int>(number);
        } else if (name == "--record" && value[0] != '\0') {
            options.record = value;
        } else if (name == "--serial" && value[0] != '\0') {
            options.identity.serial = value;
        } else if (name == "--model" && value[0] != '\0') {
            options.identity.model = value;
        } else if (name == "--fail-installs" && ParseNumber(value, 1000000, number)) {
            options.failInstalls = static_cast<int>(number);
        } else if (name == "--unplug-after" && ParseNumber(value, UINT64_MAX, number)) {
            options.unplugAfter = number;
        } else {
            return std::nullopt;
        }
    }
    return options;
}

bool SendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void Serve(int fd, phone::PhoneState* state) {
    phone::Connection connection(*state);
    static thread_local char buffer[256 * 1024];
    for (;;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        const bool keep = connection.Receive(std::string_view(buffer, static_cast<size_t>(n)));
        if (state->Unplugged()) {
            // Unplugged: every connection of the phone ends at once, as the cable's would.
            std::fprintf(stderr, "maplenook-demo-phone: unplugged\n");
            std::_Exit(0);
        }
        if (!SendAll(fd, connection.TakeOutput()) || !keep) break;
    }
    close(fd);
    --connections;
}

int Listen(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = ParseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!options->record.empty() && mkdir(options->record.c_str(), 0700) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "maplenook-demo-phone: cannot make %s: %s\n", options->record.c_str(),
                     std::strerror(errno));
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);
    const int listener = Listen(options->port);
    if (listener < 0) {
        std::fprintf(stderr, "maplenook-demo-phone: cannot listen on 127.0.0.1:%d: %s\n",
                     options->port, std::strerror(errno));
        return 1;
    }
    static phone::PhoneState state(options->identity, options->record, options->failInstalls,
                                   options->unplugAfter);
    std::printf("listening on 127.0.0.1:%d\n", BoundPort(listener));
    std::fflush(stdout);
    for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE) continue;
            return 1;
        }
        if (connections >= kMaxConnections) {
            close(fd);
            continue;
        }
        ++connections;
        std::thread(Serve, fd, &state).detach();
    }
}
