#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// The value a page command leaves in the element's "result": a 16-bit integer (the -1 that no
// command replaced), a 32-bit integer ("app.run") or a text (the main panel's commands).
using CommandResult = std::variant<int16_t, int32_t, std::string>;

// The text written to "result": "-1", "1", "0" or the string itself.
std::string CommandResultText(const CommandResult& result);
// The same, moving a text result out instead of copying it (results can be megabytes).
std::string CommandResultText(CommandResult&& result);

// A parsed command text "app:<name>&<arg>&...".
struct PageCommand {
    std::string name;                 // the first piece without "app:"
    std::vector<std::string> tokens;  // item 0 is the first piece with its prefix
    CommandResult result = int16_t{-1};

    bool Has(size_t item) const { return item < tokens.size(); }
    // The item's text; empty when the page did not pass that many.
    const std::string& Item(size_t item) const;
};

// Splits at every "&", dropping empty pieces; none when there is no piece or the first one
// does not start with "app:" (case-sensitive, at position 0).
std::optional<PageCommand> ParsePageCommand(const std::string& text);

// Decimal reading of a command argument: leading white space skipped, optional sign, the digits
// that follow; stops at the first other character; no digits gives 0. Saturates at the long
// range instead of overflowing.
long ReadCommandNumber(const std::string& text);

// True when the whole text is an integer: optional sign and decimal digits only, within 32 bits.
bool IsIntegerText(const std::string& text);
