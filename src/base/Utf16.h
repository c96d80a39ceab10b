#pragma once
#include <string>

// UTF-16LE bytes (no BOM) ↔ UTF-8. Unpaired surrogates and invalid bytes become U+FFFD.
std::string Utf16LeToUtf8(const std::string& bytes);
std::string Utf8ToUtf16Le(const std::string& text);
