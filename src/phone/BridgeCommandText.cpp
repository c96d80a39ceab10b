#include "phone/BridgeCommandText.h"

#include <string_view>

#include "base/TextTrim.h"

namespace {

constexpr const char* kShellMarker = "-shell";
constexpr const char* kBlanks = " \t\r\n\v\f";

std::string Trimmed(const std::string& text) {
    return TrimmedOf(text, kBlanks);
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string AdbCommandLine(const std::string& adbPath, const std::string& command) {
    return "\"" + adbPath + "\"  " + command;
}

bool IsShellCommand(const std::string& command) {
    return command.find(kShellMarker) != std::string::npos;
}

std::vector<std::string> ShellCommandsOf(const std::string& command) {
    std::vector<std::string> commands;
    const auto marker = command.find(kShellMarker);
    if (marker == std::string::npos) return commands;
    const std::string text = Trimmed(command.substr(marker + std::string(kShellMarker).size()));
    // One piece is always taken, even when no ";" closes it (then it is empty).
    size_t start = 0;
    do {
        const auto semicolon = text.find(';', start);
        if (semicolon == std::string::npos) {
            commands.emplace_back();
            break;
        }
        commands.push_back(text.substr(start, semicolon - start));
        start = semicolon + 1;
    } while (text.find(';', start) != std::string::npos);
    return commands;
}

bool OutputEndsRead(const std::string& output) {
    if (output.find("\r\n\r\n") != std::string::npos) return true;
    if (output.find_first_not_of("\r\n") == std::string::npos) return true;
    return output.find("- waiting for device -") != std::string::npos;
}

bool ShowsShellPrompt(const std::string& output) {
    // Phones' shells print one blank after the prompt's sign; without a terminal some print
    // none. Either way the prompt is the last thing there.
    const std::string_view shown = EndsWith(output, " ")
                                       ? std::string_view(output).substr(0, output.size() - 1)
                                       : std::string_view(output);
    return shown.ends_with("@android:/ $") || shown.ends_with("@android:/ #");
}

bool ReadsToEnd(const std::string& commandLine) {
    return commandLine.find("zipmodule") != std::string::npos;
}
