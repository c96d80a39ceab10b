#pragma once
#include <string>

#include "TempDir.h"

// A fresh temporary folder (see TempDir) that also joins paths with "/".
class ScratchFolder : public testsupport::TempDir {
  public:
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const { return File(relative); }
};

// Runs `command` through /bin/sh and returns its standard output.
std::string ShellOutput(const std::string& command);

// Quotes `text` for /bin/sh.
std::string ShellQuote(const std::string& text);

using testsupport::ReadFile;
using testsupport::WriteFile;
