#pragma once
#include <string>

namespace testsupport {

// A network namespace of this thread's own with its loopback interface up, so that servers on
// fixed ports (the bridge's 5037) neither meet nor disturb the machine's. The thread returns to
// its previous namespace when this is destroyed. Needs CAP_SYS_ADMIN over both namespaces
// (root; the root of a user namespace cannot come back); `Entered()` is false with `Reason()`
// when that is missing.
class PrivateNetwork {
  public:
    PrivateNetwork();
    ~PrivateNetwork();
    PrivateNetwork(const PrivateNetwork&) = delete;
    PrivateNetwork& operator=(const PrivateNetwork&) = delete;

    bool Entered() const { return entered_; }
    const std::string& Reason() const { return reason_; }

  private:
    int previous_ = -1;
    bool entered_ = false;
    std::string reason_;
};

}  // namespace testsupport
