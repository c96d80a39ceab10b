#pragma once
#include <string>
#include <vector>

// The texts of bridge command lines and the rules read from bridge output.

// "\"<adbPath>\"  <command>": the executable quoted, then exactly two spaces.
std::string AdbCommandLine(const std::string& adbPath, const std::string& command);

// True when `command` asks for an interactive shell session ("-shell" anywhere in it).
bool IsShellCommand(const std::string& command);

// The commands of a "-shell" text: what follows the first "-shell", trimmed, cut at ";". Every
// command must be closed by ";" (text after the last one is not sent); a text with no ";" at
// all gives one empty command.
std::vector<std::string> ShellCommandsOf(const std::string& command);

// Reading stops at a blank line ("\r\n\r\n"), at output made only of line breaks, and when the
// bridge waits for a phone ("- waiting for device -"), so no caller waits for a phone forever.
bool OutputEndsRead(const std::string& output);

// A shell session waits for these prompts ("@android:/ $" or "#"), at the very end of the output
// or followed there by the one blank phones print after them.
bool ShowsShellPrompt(const std::string& output);

// Command lines naming the zip helper read to the end of output without the stop rules.
bool ReadsToEnd(const std::string& commandLine);
