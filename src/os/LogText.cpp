// The one escaping every log line goes through, on every platform; the web-process extension
// builds it too.
#include <algorithm>
#include <cstddef>
#include <string>

#include "os/DiagnosticLog.h"

namespace os {
namespace {

// The length of the valid UTF-8 character at `at` that may be written as it is; 0 when its
// first byte must be escaped (a control character, a separator, a broken sequence).
size_t PrintableLength(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    const unsigned lead = byte(at);
    if (lead < 0x80) return lead >= 0x20 && lead != 0x7F && lead != '\\' ? 1 : 0;
    const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    }
    const unsigned second = byte(at + 1);
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return 0;
    // C1 controls (U+0080..U+009F), and U+2028/U+2029, which some viewers break lines at.
    if (lead == 0xC2 && second < 0xA0) return 0;
    if (lead == 0xE2 && second == 0x80 && (byte(at + 2) == 0xA8 || byte(at + 2) == 0xA9)) return 0;
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
