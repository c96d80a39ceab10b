// The bridge's wire format: frame bodies from a hostile peer decode without reading out of
// bounds, whatever decodes encodes back to a frame that decodes to the same thing, and every
// request or reply the program builds decodes to exactly what was encoded.
//
// Input: a byte choosing the direction (even: request, odd: reply), then a frame body.
#include "os/linux/BridgeProtocol.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "bridge wire property broken: %s\n", what);
    std::abort();
}

bool Same(const bridge::Request& a, const bridge::Request& b) {
    return a.sequence == b.sequence && a.pageId == b.pageId && a.frameId == b.frameId &&
           a.hasParam == b.hasParam && a.url == b.url && a.param == b.param;
}

bool Same(const bridge::Reply& a, const bridge::Reply& b) {
    return a.sequence == b.sequence && a.status == b.status && a.text == b.text;
}

// A whole frame: its size field matches the body that follows; the body is returned.
std::string BodyOf(const std::string& frame) {
    Require(frame.size() >= sizeof(uint32_t), "a frame has no size field");
    uint32_t size = 0;
    std::memcpy(&size, frame.data(), sizeof size);
    Require(size == frame.size() - sizeof size, "a frame's size field is wrong");
    return frame.substr(sizeof size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool reply = (data[0] & 1) != 0;
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);

    if (!reply) {
        bridge::Request decoded;
        if (bridge::DecodeRequest(body, decoded)) {
            bridge::Request again;
            Require(bridge::DecodeRequest(BodyOf(bridge::EncodeRequest(decoded)), again) &&
                        Same(decoded, again),
                    "a decoded request does not survive encoding");
        }
    } else {
        bridge::Reply decoded;
        if (bridge::DecodeReply(body, decoded)) {
            bridge::Reply again;
            Require(bridge::DecodeReply(BodyOf(bridge::EncodeReply(decoded)), again) &&
                        Same(decoded, again),
                    "a decoded reply does not survive encoding");
        }
        // The same body as the text of a page function call.
        bridge::Notify note;
        if (bridge::DecodeNotify(body, note)) {
            bridge::Notify again;
            Require(bridge::DecodeNotify(bridge::EncodeNotify(note.pageId, note.name, note.args),
                                         again) &&
                        again.pageId == note.pageId && again.name == note.name &&
                        again.args == note.args,
                    "a decoded page call does not survive encoding");
        }
    }

    // The same bytes as the fields of a message the program sends.
    FuzzedDataProvider fields(data + 1, size - 1);
    bridge::Request request;
    request.sequence = fields.ConsumeIntegral<uint32_t>();
    request.pageId = fields.ConsumeIntegral<uint64_t>();
    request.frameId = fields.ConsumeIntegral<uint64_t>();
    request.hasParam = fields.ConsumeBool();
    request.url = fields.ConsumeRandomLengthString(1024);
    request.param = fields.ConsumeRandomLengthString(1024);
    bridge::Reply answer;
    answer.sequence = request.sequence;
    answer.status = fields.ConsumeIntegral<uint8_t>();
    answer.text = fields.ConsumeRemainingBytesAsString();

    bridge::Request request2;
    const std::string requestBody = BodyOf(bridge::EncodeRequest(request));
    Require(bridge::DecodeRequest(requestBody, request2) && Same(request, request2),
            "a request does not decode to what was encoded");
    bridge::Reply answer2;
    const std::string replyBody = BodyOf(bridge::EncodeReply(answer));
    Require(bridge::DecodeReply(replyBody, answer2) && Same(answer, answer2),
            "a reply does not decode to what was encoded");
    // A frame cut anywhere is refused, never half read.
    for (size_t cut = 0; cut < requestBody.size(); cut += 1 + cut / 8) {
        bridge::Request partial;
        Require(!bridge::DecodeRequest(requestBody.substr(0, cut), partial),
                "a cut request decoded");
    }
    for (size_t cut = 0; cut < replyBody.size(); cut += 1 + cut / 8) {
        bridge::Reply partial;
        Require(!bridge::DecodeReply(replyBody.substr(0, cut), partial), "a cut reply decoded");
    }
    return 0;
}
