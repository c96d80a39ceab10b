#pragma once
#include <string>
#include <vector>

#include "PhoneState.h"

namespace phone {

struct ShellResult {
    std::string out;
    std::string err;
    int exitCode = 0;
    // "exit": the interactive shell ends.
    bool exitShell = false;
};

// The words of a command line as a phone's shell splits them: blanks separate, single quotes
// keep everything, double quotes and backslashes as in sh.
std::vector<std::string> ShellWords(const std::string& line);

// Runs one command line on the phone: echo, getprop, pm, rm, am, ls, cat, exit; anything else
// gets the phone's "inaccessible or not found" and exit code 127.
ShellResult RunShellCommand(PhoneState& phone, const std::string& line);

}  // namespace phone
