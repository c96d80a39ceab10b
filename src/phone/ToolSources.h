#pragma once
#include <string>

// The folder the bridge tools are copied from, with a trailing "/": the module directory's
// "adb" folder when the installation ships one (a portable folder), else the system's own
// tools in its program folder (os::SystemProgramFolder), where the system's adb, fastboot and
// aapt packages put them.
std::string ToolSourceFolder(const std::string& moduleDirectory, bool shipsToolFolder);
