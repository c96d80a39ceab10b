#include "web/ScriptText.h"

#include <cstdint>

namespace {

// Length of the well-formed UTF-8 sequence at the start of `text` (shortest form, no
// surrogates, at most U+10FFFF); 0 when there is none.
size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto continuation = [&](size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2)) return 0;
        if (lead == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
        if (lead == 0xED && byte(1) >= 0xA0) return 0;  // surrogate
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
        if (lead == 0xF0 && byte(1) < 0x90) return 0;   // overlong
        if (lead == 0xF4 && byte(1) >= 0x90) return 0;  // beyond U+10FFFF
        return 4;
    }
    return 0;
}

}  // namespace

std::string JsStringLiteral(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string literal = "'";
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8SequenceLength(text.substr(i));
        if (length == 0) {
            literal += "\\ufffd";
            ++i;
            continue;
        }
        const std::string_view sequence = text.substr(i, length);
        i += length;
        if (sequence == "\xE2\x80\xA8") {
            literal += "\\u2028";
        } else if (sequence == "\xE2\x80\xA9") {
            literal += "\\u2029";
        } else if (length > 1) {
            literal += sequence;
        } else {
            const auto c = static_cast<unsigned char>(sequence[0]);
            if (c == '\'' || c == '"' || c == '\\') {
                literal += '\\';
                literal += static_cast<char>(c);
            } else if (c == '\n') {
                literal += "\\n";
            } else if (c == '\r') {
                literal += "\\r";
            } else if (c < 0x20 || c == 0x7F) {
                literal += "\\x";
                literal += kHex[c >> 4];
                literal += kHex[c & 15];
            } else {
                literal += static_cast<char>(c);
            }
        }
    }
    return literal + "'";
}

std::string WellFormedUtf8(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8SequenceLength(text.substr(i));
        if (length == 0) {
            result += "\xEF\xBF\xBD";
            ++i;
        } else {
            result += text.substr(i, length);
            i += length;
        }
    }
    return result;
}

std::vector<std::string> HostNotifyArgs(const std::string& event,
                                        const std::optional<std::string>& data) {
    std::vector<std::string> args{event};
    if (data) {
        constexpr std::string_view kSeparator = "','";
        size_t start = 0;
        for (;;) {
            const size_t end = data->find(kSeparator, start);
            args.push_back(
                data->substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos) break;
            start = end + kSeparator.size();
        }
    }
    return args;
}

std::string HostNotifyScript(const std::string& event, const std::optional<std::string>& data) {
    const std::vector<std::string> args = HostNotifyArgs(event, data);
    return HostNotifyScript(args[0], std::vector<std::string>(args.begin() + 1, args.end()));
}

std::string HostNotifyScript(const std::string& event, const std::vector<std::string>& args) {
    std::string script = "hostNotify(" + JsStringLiteral(event);
    for (const std::string& arg : args) script += "," + JsStringLiteral(arg);
    return script + ");";
}
