#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// `text` as a single-quoted JavaScript string literal that evaluates to exactly `text`: quote,
// backslash, control characters, U+2028 and U+2029 are escaped, and bytes that are not UTF-8
// become U+FFFD, so no text can end the literal or change the script around it.
std::string JsStringLiteral(std::string_view text);

// `text` with every byte that is not part of well-formed UTF-8 replaced by U+FFFD, by the same
// rule as JsStringLiteral: what the page gets from a literal of `text`.
std::string WellFormedUtf8(std::string_view text);

// A notification's arguments: `event`, then data's arguments (data's ',' separates them).
std::vector<std::string> HostNotifyArgs(const std::string& event,
                                        const std::optional<std::string>& data);

// The script of a page notification: hostNotify('<event>'[,'<data>']); with every argument a
// literal of its own. Data carries further arguments separated by the three characters ','
// (a package workflow sends "<name>','<state>").
std::string HostNotifyScript(const std::string& event, const std::optional<std::string>& data);
// hostNotify('<event>','<args[0]>',...); with each argument a literal of its own, whatever text
// it holds: a file name containing ',' stays one argument.
std::string HostNotifyScript(const std::string& event, const std::vector<std::string>& args);
