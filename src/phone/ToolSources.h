#pragma once
#include <string>

// The folder the bridge tools are copied from, with a trailing "/": the module directory's
// "adb" folder when the installation ships one (a portable folder), else the system's own
// tools, which Debian's adb, fastboot and aapt packages put on /usr/bin.
std::string ToolSourceFolder(const std::string& moduleDirectory, bool shipsToolFolder);
