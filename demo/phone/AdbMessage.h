#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The debug bridge's transport messages: a 24-byte little-endian header (command, two
// arguments, data length, data checksum, command ^ 0xffffffff) and the data that follows.
namespace phone {

inline constexpr uint32_t kCnxn = 0x4e584e43;
inline constexpr uint32_t kOpen = 0x4e45504f;
inline constexpr uint32_t kOkay = 0x59414b4f;
inline constexpr uint32_t kClse = 0x45534c43;
inline constexpr uint32_t kWrte = 0x45545257;
inline constexpr uint32_t kAuth = 0x48545541;
inline constexpr size_t kHeaderSize = 24;

struct Message {
    uint32_t command = 0;
    uint32_t arg0 = 0;
    uint32_t arg1 = 0;
    std::string data;
};

enum class ParseStatus { NeedMore, Complete, Malformed };

struct ParseResult {
    ParseStatus status = ParseStatus::NeedMore;
    Message message;
    // Bytes of the input the message took (0 unless Complete).
    size_t consumed = 0;
};

// Reads one message from the front of `bytes`. Malformed: an unknown command, a magic that does
// not match, or more data than `maxData`. The checksum is not checked: peers of protocol
// version 0x01000001 and later send none.
ParseResult ParseMessage(std::string_view bytes, size_t maxData);

std::string EncodeMessage(uint32_t command, uint32_t arg0, uint32_t arg1, std::string_view data);

uint32_t ReadLe32(const char* p);
void AppendLe32(std::string& out, uint32_t value);

}  // namespace phone
