#include "os/TextEncoding.h"

#include "os/Utf8Sequence.h"

// Without a platform's converters no other charset is decoded; UTF-8 is checked here.
namespace os {

std::optional<std::string> DecodeToUtf8(const std::string& bytes, const char* charset) {
    const std::string name = charset == nullptr ? "" : charset;
    if ((name == "UTF-8" || name == "utf-8") && IsValidUtf8(bytes)) return bytes;
    return std::nullopt;
}

bool IsValidUtf8(const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = Utf8SequenceLength(bytes, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

}  // namespace os
