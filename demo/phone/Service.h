#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "PhoneState.h"

namespace phone {

// One open stream's service on the phone. It reads what the host writes and leaves what it
// answers in `outbox`; once `finished`, the stream closes after the outbox has gone out.
class Service {
  public:
    virtual ~Service() = default;
    // Called once, right after the stream has been accepted.
    virtual void Start() {}
    // False when the input cannot be understood: the stream closes at once.
    virtual bool Receive(std::string_view bytes) = 0;

    std::string outbox;
    bool finished = false;
};

// The service a stream destination names ("sync:", "shell:", "shell,v2,raw:echo hi"), or
// nullptr when the phone offers none: the host is then refused.
std::unique_ptr<Service> OpenService(PhoneState& phone, std::string_view destination);

}  // namespace phone
