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

ForeignListener::ForeignListener(uint16_t port) {
    if (geteuid() != 0) return;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return;
    child_ = fork();
    if (child_ == 0) {
        // Never outlives the test, whatever happens to it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        socklen_t length = sizeof address;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(fd, 4) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            _exit(3);
        const uint16_t bound = ntohs(address.sin_port);
        (void)!write(pipeEnds[1], &bound, sizeof bound);
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
