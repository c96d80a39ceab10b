#include "os/LocaleText.h"

#include "os/TextEncoding.h"

// No platform locale: bytes are read as UTF-8, and what is not valid there becomes U+FFFD.
namespace os {

std::string LocaleToUtf8(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        size_t length = 1;
        while (length <= 4 && i + length <= bytes.size() && !IsValidUtf8(bytes.substr(i, length)))
            ++length;
        if (length <= 4 && i + length <= bytes.size()) {
            text.append(bytes, i, length);
            i += length;
        } else {
            text += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return text;
}

}  // namespace os
