#pragma once
#include <string>

// Facts about where the program is installed, for the logic's choices of settings file,
// tool sources and autostart target.
namespace os {

// True when this user may create and rename files in `folder` (a root-owned system folder
// is not such a place for an ordinary user).
bool CanWriteInFolder(const std::string& folder);

// `path` with every symlink resolved; empty when it does not exist.
std::string ResolvedPath(const std::string& path);

// The folder, with a trailing "/", where the system's packages put the programs users start by
// name: the home of a system package's launcher and of the system's own bridge tools. Empty on
// a system without one.
std::string SystemProgramFolder();

}  // namespace os
