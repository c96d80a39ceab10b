#include "AdbMessage.h"

namespace phone {

namespace {

bool KnownCommand(uint32_t command) {
    switch (command) {
        case kCnxn:
        case kOpen:
        case kOkay:
        case kClse:
        case kWrte:
        case kAuth:
            return true;
        default:
            return false;
    }
}

uint32_t Checksum(std::string_view data) {
    uint32_t sum = 0;
    for (unsigned char c : data) sum += c;
    return sum;
}

}  // namespace

uint32_t ReadLe32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void AppendLe32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

ParseResult ParseMessage(std::string_view bytes, size_t maxData) {
    ParseResult result;
    if (bytes.size() < kHeaderSize) return result;
    const uint32_t command = ReadLe32(bytes.data());
    const uint32_t length = ReadLe32(bytes.data() + 12);
    const uint32_t magic = ReadLe32(bytes.data() + 20);
    if (!KnownCommand(command) || magic != (command ^ 0xffffffffu) || length > maxData) {
        result.status = ParseStatus::Malformed;
        return result;
    }
    if (bytes.size() - kHeaderSize < length) return result;
    result.status = ParseStatus::Complete;
    result.message.command = command;
    result.message.arg0 = ReadLe32(bytes.data() + 4);
    result.message.arg1 = ReadLe32(bytes.data() + 8);
    result.message.data.assign(bytes.substr(kHeaderSize, length));
    result.consumed = kHeaderSize + length;
    return result;
}

std::string EncodeMessage(uint32_t command, uint32_t arg0, uint32_t arg1, std::string_view data) {
    std::string out;
    out.reserve(kHeaderSize + data.size());
    AppendLe32(out, command);
    AppendLe32(out, arg0);
    AppendLe32(out, arg1);
    AppendLe32(out, static_cast<uint32_t>(data.size()));
    AppendLe32(out, Checksum(data));
    AppendLe32(out, command ^ 0xffffffffu);
    out.append(data);
    return out;
}

}  // namespace phone
