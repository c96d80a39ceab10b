#pragma once
#include <cstdint>
#include <string>

#include "Service.h"

namespace phone {

// The file service ("sync:"): STAT, LIST, RECV, SEND and QUIT requests, each an 8-byte header
// (four-letter id, little-endian length) and its body.
class SyncService : public Service {
  public:
    explicit SyncService(PhoneState& phone) : phone_(phone) {}
    bool Receive(std::string_view bytes) override;

    // Largest body a request names a path in, and largest DATA piece.
    static constexpr uint32_t kMaxPath = 1024;
    static constexpr uint32_t kMaxData = 64 * 1024;

  private:
    // Handles the request at the front of the input; false when more input is needed.
    bool Step();
    bool StepSending(uint32_t id, uint32_t length);
    void Request(uint32_t id, const std::string& path);
    void Fail(const std::string& why);
    void Reply(const char* id, uint32_t a);

    PhoneState& phone_;
    std::string input_;
    // Where the unread input starts; what is before it goes once a whole write is handled.
    size_t at_ = 0;
    bool sending_ = false;
    std::string sendPath_;
    uint32_t sendMode_ = 0644;
    std::string sendData_;
};

}  // namespace phone
