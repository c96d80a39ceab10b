#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>

namespace testsupport {

// A listener on 127.0.0.1 (on `port`, or any free one) run by another user (uid 65534), which
// reports the first bytes of whatever connects to it. Starting it needs root; Started() is false
// where the switch of user is not allowed (a user namespace) or the listener could not be opened.
class ForeignListener {
  public:
    explicit ForeignListener(uint16_t port = 0);
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
