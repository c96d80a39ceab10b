#include "PrivateNetwork.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace testsupport {

PrivateNetwork::PrivateNetwork() {
    previous_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (previous_ < 0) {
        reason_ = std::string("cannot open this thread's network namespace: ") + strerror(errno);
        return;
    }
    // Root of a user namespace may leave the machine's namespace but not come back to it.
    if (setns(previous_, CLONE_NEWNET) != 0) {
        reason_ = std::string("could not return to this network namespace afterwards: ") +
                  strerror(errno);
        return;
    }
    if (unshare(CLONE_NEWNET) != 0) {
        reason_ = std::string("cannot make a private network namespace: ") + strerror(errno);
        return;
    }
    entered_ = true;
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    if (s < 0 || ioctl(s, SIOCGIFFLAGS, &request) != 0 ||
        (request.ifr_flags |= IFF_UP, ioctl(s, SIOCSIFFLAGS, &request) != 0)) {
        reason_ = std::string("cannot bring up the private loopback: ") + strerror(errno);
    }
    if (s >= 0) close(s);
    if (!reason_.empty()) {
        setns(previous_, CLONE_NEWNET);
        entered_ = false;
    }
}

PrivateNetwork::~PrivateNetwork() {
    // Staying would hide the machine's abstract sockets (the display's, the session bus's)
    // from every later test in this process.
    if (entered_ && setns(previous_, CLONE_NEWNET) != 0) std::abort();
    if (previous_ >= 0) close(previous_);
}

}  // namespace testsupport
