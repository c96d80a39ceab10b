#pragma once
#include <optional>
#include <string>

namespace os {

// `bytes` in the character set `charset` (an iconv name such as "GBK" or "CP437") as UTF-8;
// nothing when any byte sequence is not valid in it or the character set is unknown.
std::optional<std::string> DecodeToUtf8(const std::string& bytes, const char* charset);

bool IsValidUtf8(const std::string& bytes);

}  // namespace os
