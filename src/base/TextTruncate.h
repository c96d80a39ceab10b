#pragma once
#include <cstddef>
#include <string>

// Cuts `text` to at most `count` characters (UTF-8 code points), never inside a character.
std::string TruncateCharacters(const std::string& text, size_t count);
