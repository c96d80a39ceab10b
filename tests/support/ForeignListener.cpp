#include "ForeignListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

// A socket of `text`'s family bound to it and listening; -1 on failure. Its port in `port`.
int ListenOn(const std::string& text, uint16_t& port) {
    sockaddr_in6 v6{};
    sockaddr_in v4{};
    const bool ipv6 = text.find(':') != std::string::npos;
    if (ipv6 ? inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) != 1
             : inet_pton(AF_INET, text.c_str(), &v4.sin_addr) != 1)
        return -1;
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    auto* address = ipv6 ? reinterpret_cast<sockaddr*>(&v6) : reinterpret_cast<sockaddr*>(&v4);
    socklen_t length = ipv6 ? sizeof v6 : sizeof v4;
    const int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int off = 0;
    // A port that served a moment ago (its connections in TIME_WAIT) is taken, as servers do.
    const int on = 1;
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || (ipv6 && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0) ||
        bind(fd, address, length) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, address, &length) != 0)
        return -1;
    port = ntohs(ipv6 ? v6.sin6_port : v4.sin_port);
    return fd;
}

}  // namespace

ForeignListener::ForeignListener(const std::string& bindAddress, uint16_t wantedPort) {
    if (geteuid() != 0) return;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return;
    child_ = fork();
    if (child_ == 0) {
        // Never outlives the test, whatever happens to it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        uint16_t port = wantedPort;
        const int fd = ListenOn(bindAddress, port);
        if (fd < 0) _exit(3);
        (void)!write(pipeEnds[1], &port, sizeof port);
        for (;;) {
            const int peer = accept(fd, nullptr, nullptr);
            char request[256];
            const ssize_t n = peer < 0 ? 0 : recv(peer, request, sizeof request, 0);
            if (n > 0) (void)!write(pipeEnds[1], request, static_cast<size_t>(n));
            if (peer >= 0) close(peer);
        }
    }
    close(pipeEnds[1]);
    reports_ = pipeEnds[0];
    if (child_ < 0 || read(reports_, &port_, sizeof port_) != sizeof port_) port_ = 0;
}

ForeignListener::~ForeignListener() {
    if (reports_ >= 0) close(reports_);
    if (child_ > 0) {
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
    }
}

bool ForeignListener::GotRequest(std::chrono::milliseconds wait) {
    pollfd pending{reports_, POLLIN, 0};
    return reports_ >= 0 && poll(&pending, 1, static_cast<int>(wait.count())) > 0;
}

}  // namespace testsupport
