// The emulated phone's transport from a hostile host: any bytes, cut anywhere, never crash it,
// and everything it answers is a whole, well-formed message within the size it announced.
//
// Input: a byte choosing whether a connection request goes first (odd: yes, so that streams,
// the file service and the shell are reached), a byte giving the size of the pieces the input
// arrives in, then the bytes from the host.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "AdbMessage.h"
#include "Connection.h"
#include "PhoneState.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "phone transport property broken: %s\n", what);
    std::abort();
}

// Every answer parses whole, one message after another, with nothing left over.
void CheckAnswer(std::string_view output) {
    while (!output.empty()) {
        const phone::ParseResult parsed = phone::ParseMessage(output, phone::Connection::kMaxData);
        Require(parsed.status == phone::ParseStatus::Complete, "an answer is not a whole message");
        output.remove_prefix(parsed.consumed);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool connectFirst = data[0] & 1;
    const size_t piece = 1 + data[1] * 97u;
    std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);

    phone::PhoneState state({}, "", 1, 1u << 20);
    phone::Connection connection(state);
    if (connectFirst) {
        Require(connection.Receive(phone::EncodeMessage(phone::kCnxn, 0x01000001, 4096,
                                                        "host::features=shell_v2")),
                "a connection request is refused");
        CheckAnswer(connection.TakeOutput());
    }
    while (!input.empty()) {
        const std::string_view now = input.substr(0, piece);
        input.remove_prefix(now.size());
        const bool keep = connection.Receive(now);
        CheckAnswer(connection.TakeOutput());
        if (!keep) break;
    }
    return 0;
}
