#include "os/LocaleText.h"

#include <glib.h>

namespace os {
namespace {

std::string ValidUtf8(const std::string& bytes) {
    gchar* valid = g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size()));
    std::string text = valid;
    g_free(valid);
    return text;
}

}  // namespace

std::string LocaleToUtf8(const std::string& bytes) {
    if (bytes.empty()) return {};
    const char* charset = nullptr;
    if (g_get_charset(&charset)) return ValidUtf8(bytes);
    gsize written = 0;
    gchar* converted = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", charset,
                                 nullptr, &written, nullptr);
    if (converted == nullptr) return ValidUtf8(bytes);
    std::string text(converted, written);
    g_free(converted);
    return text;
}

}  // namespace os
