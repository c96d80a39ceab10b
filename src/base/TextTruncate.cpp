#include "base/TextTruncate.h"

std::string TruncateCharacters(const std::string& text, size_t count) {
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool continuation = (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
        if (continuation) continue;
        if (characters == count) return text.substr(0, i);
        ++characters;
    }
    return text;
}
