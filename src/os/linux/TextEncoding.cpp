#include "os/TextEncoding.h"

#include <glib.h>

namespace os {

std::optional<std::string> DecodeToUtf8(const std::string& bytes, const char* charset) {
    if (bytes.empty()) return std::string();
    gsize read = 0;
    gsize written = 0;
    gchar* converted = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", charset,
                                 &read, &written, nullptr);
    if (converted == nullptr) return std::nullopt;
    std::string text(converted, written);
    g_free(converted);
    // A sequence cut at the end is reported only through the count of bytes taken.
    if (read != bytes.size()) return std::nullopt;
    return text;
}

bool IsValidUtf8(const std::string& bytes) {
    return g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr);
}

}  // namespace os
