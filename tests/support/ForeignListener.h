#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace testsupport {

// A listener run by another user (uid 65534), which reports the first bytes of whatever
// connects to it: on 127.0.0.1, or on `address` (an IPv4 or IPv6 literal; "::" is dual-stack)
// at `port` (0: any free one). Starting it needs root; Started() is false where the switch of user
// is not allowed (a user namespace) or the listener could not be opened.
class ForeignListener {
  public:
    explicit ForeignListener(uint16_t port = 0) : ForeignListener("127.0.0.1", port) {}
    ForeignListener(const std::string& address, uint16_t port);
    ~ForeignListener();
    ForeignListener(const ForeignListener&) = delete;
    ForeignListener& operator=(const ForeignListener&) = delete;

    bool Started() const { return port_ != 0; }
    uint16_t Port() const { return port_; }
    // Whether anything was sent to it, waiting up to `wait`.
    bool GotRequest(std::chrono::milliseconds wait);

  private:
    pid_t child_ = -1;
    int reports_ = -1;
    uint16_t port_ = 0;
};

}  // namespace testsupport
