#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "AdbMessage.h"
#include "PhoneState.h"
#include "Service.h"

namespace phone {

// One host connection's transport, without any input or output of its own: Receive takes what
// came from the host, TakeOutput gives what to send back. The host connects (CNXN, answered at
// once: this phone asks for no authentication), opens streams (OPEN, answered OKAY or CLSE),
// writes to them (WRTE, each answered OKAY) and closes them (CLSE). The phone writes at most one
// piece per stream at a time and sends the next once the host's OKAY has come.
class Connection {
  public:
    explicit Connection(PhoneState& phone);

    // False when the connection must be closed: a malformed or oversized message, a message
    // out of place, or the phone unplugged.
    bool Receive(std::string_view bytes);
    std::string TakeOutput();

    // Largest message data this phone takes, and the version it speaks.
    static constexpr uint32_t kMaxData = 1024 * 1024;
    static constexpr uint32_t kVersion = 0x01000001;
    // Streams one connection may hold open at once.
    static constexpr size_t kMaxStreams = 64;

  private:
    struct Stream {
        uint32_t remoteId = 0;
        std::unique_ptr<Service> service;
        bool waitingForOkay = false;
        // How much of the service's outbox has gone out.
        size_t sent = 0;
    };

    bool Handle(const Message& message);
    void Connect(const Message& message);
    bool Open(const Message& message);
    bool Write(const Message& message);
    // Sends the next piece of the stream's outbox, or closes it once all is sent and finished.
    void Flush(uint32_t localId);

    PhoneState& phone_;
    std::string input_;
    std::string output_;
    bool connected_ = false;
    uint32_t sendLimit_ = 4096;
    uint32_t nextId_ = 1;
    std::map<uint32_t, Stream> streams_;
};

// The identity line the phone answers a connection with.
std::string Banner(const PhoneIdentity& identity);

}  // namespace phone
