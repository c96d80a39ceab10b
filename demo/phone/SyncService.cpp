#include "SyncService.h"

#include <cstring>

#include "AdbMessage.h"

namespace phone {

namespace {

constexpr uint64_t kMaxFileSize = 1024ull * 1024 * 1024;

uint32_t Id(const char* text) {
    return ReadLe32(text);
}

}  // namespace

void SyncService::Reply(const char* id, uint32_t a) {
    outbox.append(id, 4);
    AppendLe32(outbox, a);
}

void SyncService::Fail(const std::string& why) {
    Reply("FAIL", static_cast<uint32_t>(why.size()));
    outbox += why;
    // After a failure the host gives up the session; nothing further is read.
    finished = true;
}

bool SyncService::Receive(std::string_view bytes) {
    input_.append(bytes);
    while (!finished && Step()) {
    }
    input_.erase(0, at_);
    at_ = 0;
    return true;
}

bool SyncService::Step() {
    if (input_.size() - at_ < 8) return false;
    const uint32_t id = ReadLe32(input_.data() + at_);
    const uint32_t length = ReadLe32(input_.data() + at_ + 4);
    if (sending_) return StepSending(id, length);
    if (id == Id("QUIT")) {
        finished = true;
        return false;
    }
    const bool known = id == Id("STAT") || id == Id("LIST") || id == Id("RECV") || id == Id("SEND");
    if (!known || length > kMaxPath) {
        Fail(known ? "path too long" : "unknown request");
        return false;
    }
    if (input_.size() - at_ < 8 + length) return false;
    const std::string path = input_.substr(at_ + 8, length);
    at_ += 8 + length;
    Request(id, path);
    return true;
}

bool SyncService::StepSending(uint32_t id, uint32_t length) {
    if (id == Id("DONE")) {
        at_ += 8;
        sending_ = false;
        phone_.Record("sync: DONE " + sendPath_ + " (" + std::to_string(sendData_.size()) +
                      " bytes)");
        phone_.WriteFile(sendPath_, std::move(sendData_), sendMode_);
        sendData_.clear();
        Reply("OKAY", 0);
        return true;
    }
    if (id != Id("DATA") || length > kMaxData) {
        Fail(id == Id("DATA") ? "data piece too large" : "unexpected request during a send");
        return false;
    }
    if (input_.size() - at_ < 8 + length) return false;
    if (sendData_.size() + length > kMaxFileSize) {
        Fail("No space left on device");
        return false;
    }
    sendData_.append(input_, at_ + 8, length);
    at_ += 8 + length;
    phone_.CountReceived(length);
    return true;
}

void SyncService::Request(uint32_t id, const std::string& path) {
    if (id == Id("SEND")) {
        // "<path>,<mode>": the mode follows the last comma.
        const auto comma = path.rfind(',');
        sendPath_ = path.substr(0, comma);
        sendMode_ =
            comma == std::string::npos
                ? 0644
                : static_cast<uint32_t>(std::strtoul(path.c_str() + comma + 1, nullptr, 10));
        sending_ = true;
        phone_.Record("sync: SEND " + sendPath_);
        return;
    }
    if (id == Id("STAT")) {
        phone_.Record("sync: STAT " + path);
        const auto stat = phone_.StatPath(path);
        Reply("STAT", stat ? stat->mode : 0);
        AppendLe32(outbox, stat ? stat->size : 0);
        AppendLe32(outbox, stat ? stat->mtime : 0);
        return;
    }
    if (id == Id("LIST")) {
        phone_.Record("sync: LIST " + path);
        for (const auto& [name, stat] : phone_.List(path)) {
            Reply("DENT", stat.mode);
            AppendLe32(outbox, stat.size);
            AppendLe32(outbox, stat.mtime);
            AppendLe32(outbox, static_cast<uint32_t>(name.size()));
            outbox += name;
        }
        Reply("DONE", 0);
        AppendLe32(outbox, 0);
        AppendLe32(outbox, 0);
        AppendLe32(outbox, 0);
        return;
    }
    phone_.Record("sync: RECV " + path);
    const auto bytes = phone_.ReadFile(path);
    if (!bytes) {
        Fail("No such file or directory");
        return;
    }
    for (size_t at = 0; at < bytes->size(); at += kMaxData) {
        const size_t piece = std::min<size_t>(kMaxData, bytes->size() - at);
        Reply("DATA", static_cast<uint32_t>(piece));
        outbox.append(*bytes, at, piece);
    }
    Reply("DONE", 0);
}

}  // namespace phone
