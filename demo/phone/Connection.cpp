#include "Connection.h"

#include <algorithm>

#include "AdbMessage.h"

namespace phone {

namespace {

// Only what this phone implements: the framed shell (exit codes, separate errors). Without
// "cmd" or "abb_exec" hosts install by pushing the package and running "pm install".
constexpr const char* kFeatures = "shell_v2";

}  // namespace

std::string Banner(const PhoneIdentity& identity) {
    return "device::ro.product.name=" + identity.device + ";ro.product.model=" + identity.model +
           ";ro.product.device=" + identity.device + ";features=" + kFeatures;
}

Connection::Connection(PhoneState& phone) : phone_(phone) {}

std::string Connection::TakeOutput() {
    std::string out;
    out.swap(output_);
    return out;
}

bool Connection::Receive(std::string_view bytes) {
    input_.append(bytes);
    size_t at = 0;
    for (;;) {
        const ParseResult parsed = ParseMessage(std::string_view(input_).substr(at), kMaxData);
        if (parsed.status == ParseStatus::Malformed) return false;
        if (parsed.status == ParseStatus::NeedMore) break;
        at += parsed.consumed;
        if (!Handle(parsed.message)) return false;
    }
    input_.erase(0, at);
    return !phone_.Unplugged();
}

bool Connection::Handle(const Message& message) {
    if (message.command == kCnxn) {
        Connect(message);
        return true;
    }
    // Nothing but a connection request comes first; this phone never asks for AUTH.
    if (!connected_ || message.command == kAuth) return false;
    switch (message.command) {
        case kOpen:
            return Open(message);
        case kWrte:
            return Write(message);
        case kOkay: {
            const auto found = streams_.find(message.arg1);
            if (found == streams_.end()) return true;
            found->second.waitingForOkay = false;
            Flush(message.arg1);
            return true;
        }
        case kClse:
            streams_.erase(message.arg1);
            return true;
        default:
            return false;
    }
}

void Connection::Connect(const Message& message) {
    // A new connection request starts over: the host forgot every stream.
    streams_.clear();
    connected_ = true;
    sendLimit_ = std::clamp<uint32_t>(message.arg1, 256, kMaxData);
    output_ += EncodeMessage(kCnxn, kVersion, kMaxData, Banner(phone_.Identity()));
}

bool Connection::Open(const Message& message) {
    const uint32_t remoteId = message.arg0;
    if (remoteId == 0) return false;
    phone_.Record("open: " + std::string(message.data.c_str()));
    auto service = streams_.size() < kMaxStreams ? OpenService(phone_, message.data) : nullptr;
    if (!service) {
        output_ += EncodeMessage(kClse, 0, remoteId, {});
        return true;
    }
    const uint32_t localId = nextId_++;
    if (nextId_ == 0) nextId_ = 1;
    streams_[localId] = Stream{remoteId, std::move(service), false, 0};
    output_ += EncodeMessage(kOkay, localId, remoteId, {});
    streams_[localId].service->Start();
    Flush(localId);
    return true;
}

bool Connection::Write(const Message& message) {
    const auto found = streams_.find(message.arg1);
    if (found == streams_.end()) return true;  // a stream already closed here
    Stream& stream = found->second;
    output_ += EncodeMessage(kOkay, message.arg1, stream.remoteId, {});
    if (!stream.service->Receive(message.data)) {
        output_ += EncodeMessage(kClse, message.arg1, stream.remoteId, {});
        streams_.erase(found);
        return true;
    }
    Flush(message.arg1);
    return true;
}

void Connection::Flush(uint32_t localId) {
    const auto found = streams_.find(localId);
    if (found == streams_.end()) return;
    Stream& stream = found->second;
    if (stream.waitingForOkay) return;
    std::string& outbox = stream.service->outbox;
    if (stream.sent < outbox.size()) {
        const size_t piece = std::min<size_t>(outbox.size() - stream.sent, sendLimit_);
        output_ += EncodeMessage(kWrte, localId, stream.remoteId,
                                 std::string_view(outbox).substr(stream.sent, piece));
        stream.sent += piece;
        stream.waitingForOkay = true;
        return;
    }
    outbox.clear();
    stream.sent = 0;
    if (stream.service->finished) {
        output_ += EncodeMessage(kClse, localId, stream.remoteId, {});
        streams_.erase(found);
    }
}

}  // namespace phone
