#pragma once
#include <string>
#include <string_view>

// `text` without the characters of `blanks` at either end.
inline std::string TrimmedOf(std::string_view text, std::string_view blanks) {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}
