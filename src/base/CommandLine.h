#pragma once
#include <string>
#include <vector>

// Splits a command line into arguments the way Windows programs parse theirs: blanks separate,
// double quotes group (and are removed), 2n backslashes before a quote give n backslashes, \"
// is a literal quote, "" inside quotes is a literal quote. No shell is ever involved.
std::vector<std::string> SplitCommandLine(const std::string& line);
