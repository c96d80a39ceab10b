// The one escaping every log line goes through, on every platform; the web-process extension
// builds it too.
#include <algorithm>
#include <cstddef>
#include <string>

#include "os/DiagnosticLog.h"
#include "os/Utf8Sequence.h"

namespace os {
namespace {

// The length of the valid UTF-8 character at `at` that may be written as it is; 0 when its
// first byte must be escaped (a control character, a separator, a broken sequence).
size_t PrintableLength(const std::string& text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return lead >= 0x20 && lead != 0x7F && lead != '\\' ? 1 : 0;
    const size_t length = Utf8SequenceLength(text, at);
    if (length == 0) return 0;
    const auto second = static_cast<unsigned char>(text[at + 1]);
    // C1 controls (U+0080..U+009F), and U+2028/U+2029, which some viewers break lines at.
    if (lead == 0xC2 && second < 0xA0) return 0;
    if (lead == 0xE2 && second == 0x80 &&
        (static_cast<unsigned char>(text[at + 2]) == 0xA8 ||
         static_cast<unsigned char>(text[at + 2]) == 0xA9))
        return 0;
    return length;
}

}  // namespace

std::string EscapedForLog(const std::string& text, size_t limit) {
    static const char kHex[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(std::min(text.size(), limit) + 16);
    size_t at = 0;
    while (at < text.size()) {
        const size_t length = PrintableLength(text, at);
        const size_t written = length == 0 ? 4 : length;
        if (escaped.size() + written > limit) break;
        if (length > 0) {
            escaped.append(text, at, length);
            at += length;
            continue;
        }
        const auto value = static_cast<unsigned char>(text[at++]);
        escaped += "\\x";
        escaped += kHex[value >> 4];
        escaped += kHex[value & 0xF];
    }
    if (at < text.size()) escaped += " [" + std::to_string(text.size() - at) + " bytes cut]";
    return escaped;
}

}  // namespace os
