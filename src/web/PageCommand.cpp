#include "web/PageCommand.h"

#include <boost/lexical_cast.hpp>

#include <algorithm>
#include <climits>

std::string CommandResultText(const CommandResult& result) {
    if (const auto* text = std::get_if<std::string>(&result)) return *text;
    if (const auto* small = std::get_if<int16_t>(&result)) return std::to_string(*small);
    return std::to_string(std::get<int32_t>(result));
}

std::string CommandResultText(CommandResult&& result) {
    if (auto* text = std::get_if<std::string>(&result)) return std::move(*text);
    return CommandResultText(static_cast<const CommandResult&>(result));
}

const std::string& PageCommand::Item(size_t item) const {
    static const std::string kNone;
    return item < tokens.size() ? tokens[item] : kNone;
}

std::optional<PageCommand> ParsePageCommand(const std::string& text) {
    // A plain search for "&": pages pass arguments of hundreds of kilobytes.
    std::vector<std::string> pieces;
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find('&', start), text.size());
        if (end > start) pieces.emplace_back(text, start, end - start);
        start = end + 1;
    }
    if (pieces.empty() || pieces.front().rfind("app:", 0) != 0) return std::nullopt;
    PageCommand command;
    command.name = pieces.front().substr(4);
    command.tokens = std::move(pieces);
    return command;
}

long ReadCommandNumber(const std::string& text) {
    size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r')))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    // Pages pass window coordinates and style words: 32-bit values, saturated like _wtoi.
    long long value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = std::min<long long>(value * 10 + (text[pos] - '0'), 1LL + INT_MAX);
    }
    if (negative) value = -value;
    return static_cast<long>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

bool IsIntegerText(const std::string& text) {
    try {
        (void)boost::lexical_cast<int32_t>(text);
        return true;
    } catch (const boost::bad_lexical_cast&) {
        return false;
    }
}
