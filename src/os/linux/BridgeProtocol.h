#pragma once
// The wire format between the web-process extension and the program: one stream socket per
// web process. Both ends are on this machine, so integers travel in host order.
//
// request: u32 size of the rest, u32 sequence, u64 page id, u64 frame id, u8 has-param,
//          u32 url length, url bytes, u32 param length, param bytes
// reply:   u32 size of the rest, u32 sequence, u8 status, u32 text length, text bytes
//
// A request with sequence 0 is no call and gets no reply: it binds its page id to this socket,
// its param the token the program sent that page (kBindMessage). A reply with status
// kReplyNotify comes unasked, with sequence 0: a call of a page function (EncodeNotify).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace bridge {

// The user message that hands the program its end of the socket (in the message's fd list).
inline constexpr const char* kConnectMessage = "maplenook-bridge-connect";
// The user message that calls a global function of a page's top frame: (saay), the function's
// name and its arguments as UTF-8 bytes (NULs included). No reply.
inline constexpr const char* kCallFunctionMessage = "maplenook-call-function";

// The user message that asks a page to bind its page id to its process's socket: (s), the
// token to send back in the binding request. No reply.
inline constexpr const char* kBindMessage = "maplenook-bridge-bind";

enum ReplyStatus : uint8_t {
    kReplyResult = 0,    // write the text to "result"
    kReplyNoTarget = 1,  // leave the element alone
    kReplyError = 2,     // throw the text as an error in the page
    kReplyNotify = 3,    // not an answer: call a page function (the text: EncodeNotify)
};

// Requests larger than this are refused (the reader would otherwise buffer without bound).
// The extension refuses them before sending; the program skips one it gets anyway and answers
// it with an error, so the stream stays in step.
inline constexpr uint32_t kMaxFrame = 16u << 20;

// The size field of a request with texts of these sizes.
inline constexpr size_t RequestBodySize(size_t urlSize, size_t paramSize) {
    return 4 + 8 + 8 + 1 + 4 + urlSize + 4 + paramSize;
}

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
    Reader(const char* body, size_t size) : body_(body), size_(size) {}
    explicit Reader(const std::string& body) : Reader(body.data(), body.size()) {}
    template <typename T>
    bool Get(T& value) {
        if (size_ - pos_ < sizeof(T)) return false;
        std::memcpy(&value, body_ + pos_, sizeof(T));
        pos_ += sizeof(T);
        return true;
    }
    // The next text in place: valid as long as the body is.
    bool GetView(const char*& text, uint32_t& size) {
        if (!Get(size) || size_ - pos_ < size) return false;
        text = body_ + pos_;
        pos_ += size;
        return true;
    }
    bool GetText(std::string& text) {
        const char* data = nullptr;
        uint32_t size = 0;
        if (!GetView(data, size)) return false;
        text.assign(data, size);
        return true;
    }

  private:
    const char* body_;
    size_t size_;
    size_t pos_ = 0;
};

// The size field first, then the body, built in one buffer: large texts are copied once.
inline std::string EncodeRequest(const Request& request) {
    const size_t size = RequestBodySize(request.url.size(), request.param.size());
    std::string frame;
    frame.reserve(4 + size);
    Put<uint32_t>(frame, static_cast<uint32_t>(size));
    Put<uint32_t>(frame, request.sequence);
    Put<uint64_t>(frame, request.pageId);
    Put<uint64_t>(frame, request.frameId);
    Put<uint8_t>(frame, request.hasParam ? 1 : 0);
    PutText(frame, request.url);
    PutText(frame, request.param);
    return frame;
}

inline bool DecodeRequest(const char* body, size_t size, Request& request) {
    Reader reader(body, size);
    uint8_t hasParam = 0;
    if (!reader.Get(request.sequence) || !reader.Get(request.pageId) ||
        !reader.Get(request.frameId) || !reader.Get(hasParam) || !reader.GetText(request.url) ||
        !reader.GetText(request.param)) {
        return false;
    }
    request.hasParam = hasParam != 0;
    return true;
}

inline bool DecodeRequest(const std::string& body, Request& request) {
    return DecodeRequest(body.data(), body.size(), request);
}

// A reply frame up to its text: size field, sequence, status and text length. Long texts
// are sent after it as they are, and read straight to where they go.
inline constexpr size_t kReplyHeadSize = 4 + 4 + 1 + 4;

inline std::string EncodeReplyHead(uint32_t sequence, uint8_t status, size_t textSize,
                                   size_t reserve = 0) {
    std::string frame;
    frame.reserve(kReplyHeadSize + reserve);
    Put<uint32_t>(frame, static_cast<uint32_t>(kReplyHeadSize - 4 + textSize));
    Put<uint32_t>(frame, sequence);
    Put<uint8_t>(frame, status);
    Put<uint32_t>(frame, static_cast<uint32_t>(textSize));
    return frame;
}

// False unless the text fills the rest of the frame and the frame is within the limit.
inline bool DecodeReplyHead(const char (&head)[kReplyHeadSize], uint32_t& sequence, uint8_t& status,
                            uint32_t& textSize) {
    uint32_t size = 0;
    Reader reader(head, kReplyHeadSize);
    return reader.Get(size) && reader.Get(sequence) && reader.Get(status) && reader.Get(textSize) &&
           size <= kMaxFrame && size == kReplyHeadSize - 4 + textSize;
}

inline std::string EncodeReply(const Reply& reply) {
    std::string frame =
        EncodeReplyHead(reply.sequence, reply.status, reply.text.size(), reply.text.size());
    frame += reply.text;
    return frame;
}

// The text of a kReplyNotify frame: u64 page id, the function's name, u32 count, the arguments.
struct Notify {
    uint64_t pageId = 0;
    std::string name;
    std::vector<std::string> args;
};

inline std::string EncodeNotify(uint64_t pageId, const std::string& name,
                                const std::vector<std::string>& args) {
    std::string text;
    Put<uint64_t>(text, pageId);
    PutText(text, name);
    Put<uint32_t>(text, static_cast<uint32_t>(args.size()));
    for (const std::string& arg : args) PutText(text, arg);
    return text;
}

inline bool DecodeNotify(const std::string& text, Notify& notify) {
    Reader reader(text);
    uint32_t count = 0;
    if (!reader.Get(notify.pageId) || !reader.GetText(notify.name) || !reader.Get(count))
        return false;
    // Each argument takes at least its length field: a count beyond that is a broken frame.
    if (count > text.size() / sizeof(uint32_t)) return false;
    notify.args.resize(count);
    for (std::string& arg : notify.args)
        if (!reader.GetText(arg)) return false;
    return true;
}

inline bool DecodeReply(const std::string& body, Reply& reply) {
    Reader reader(body);
    return reader.Get(reply.sequence) && reader.Get(reply.status) && reader.GetText(reply.text);
}

}  // namespace bridge
