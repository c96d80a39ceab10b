#pragma once
// The wire format between the web-process extension and the program: one stream socket per
// web process. Both ends are on this machine, so integers travel in host order.
//
// request: u32 size of the rest, u32 sequence, u64 page id, u64 frame id, u8 has-param,
//          u32 url length, url bytes, u32 param length, param bytes
// reply:   u32 size of the rest, u32 sequence, u8 status, u32 text length, text bytes
#include <cstdint>
#include <cstring>
#include <string>

namespace bridge {

// The user message that hands the program its end of the socket (in the message's fd list).
inline constexpr const char* kConnectMessage = "maplenook-bridge-connect";

enum ReplyStatus : uint8_t {
    kReplyResult = 0,    // write the text to "result"
    kReplyNoTarget = 1,  // leave the element alone
    kReplyError = 2,     // throw the text as an error in the page
};

// Requests larger than this are refused (the reader would otherwise buffer without bound).
inline constexpr uint32_t kMaxFrame = 16u << 20;

struct Request {
    uint32_t sequence = 0;
    uint64_t pageId = 0;
    uint64_t frameId = 0;
    bool hasParam = false;
    std::string url;
    std::string param;
};

struct Reply {
    uint32_t sequence = 0;
    uint8_t status = kReplyError;
    std::string text;
};

template <typename T>
void Put(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

inline void PutText(std::string& out, const std::string& text) {
    Put<uint32_t>(out, static_cast<uint32_t>(text.size()));
    out += text;
}

// Reads from a frame body; every read checks the bounds.
class Reader {
  public:
    explicit Reader(const std::string& body) : body_(body) {}
    template <typename T>
    bool Get(T& value) {
        if (body_.size() - pos_ < sizeof(T)) return false;
        std::memcpy(&value, body_.data() + pos_, sizeof(T));
        pos_ += sizeof(T);
        return true;
    }
    bool GetText(std::string& text) {
        uint32_t size = 0;
        if (!Get(size) || body_.size() - pos_ < size) return false;
        text.assign(body_, pos_, size);
        pos_ += size;
        return true;
    }

  private:
    const std::string& body_;
    size_t pos_ = 0;
};

inline std::string EncodeRequest(const Request& request) {
    std::string body;
    Put<uint32_t>(body, request.sequence);
    Put<uint64_t>(body, request.pageId);
    Put<uint64_t>(body, request.frameId);
    Put<uint8_t>(body, request.hasParam ? 1 : 0);
    PutText(body, request.url);
    PutText(body, request.param);
    std::string frame;
    Put<uint32_t>(frame, static_cast<uint32_t>(body.size()));
    return frame + body;
}

inline bool DecodeRequest(const std::string& body, Request& request) {
    Reader reader(body);
    uint8_t hasParam = 0;
    if (!reader.Get(request.sequence) || !reader.Get(request.pageId) ||
        !reader.Get(request.frameId) || !reader.Get(hasParam) || !reader.GetText(request.url) ||
        !reader.GetText(request.param)) {
        return false;
    }
    request.hasParam = hasParam != 0;
    return true;
}

inline std::string EncodeReply(const Reply& reply) {
    std::string body;
    Put<uint32_t>(body, reply.sequence);
    Put<uint8_t>(body, reply.status);
    PutText(body, reply.text);
    std::string frame;
    Put<uint32_t>(frame, static_cast<uint32_t>(body.size()));
    return frame + body;
}

inline bool DecodeReply(const std::string& body, Reply& reply) {
    Reader reader(body);
    return reader.Get(reply.sequence) && reader.Get(reply.status) && reader.GetText(reply.text);
}

}  // namespace bridge
