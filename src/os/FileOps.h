#pragma once
#include <string>

namespace os {

// Creates `path` and any missing parents (each new level with `mode` less the umask); true
// when it is a directory afterwards.
bool CreateDirectories(const std::string& path, unsigned mode = 0777);

bool IsDirectory(const std::string& path);

// Sets the permission bits (only 0777 is honoured: no set-id or sticky bits).
bool SetFileMode(const std::string& path, unsigned mode);

bool RemoveFile(const std::string& path);

// Copies `from` to `to` keeping the permission bits; fails when `to` exists. The copy appears
// under its name only once complete, so an interrupted copy never leaves a cut file there.
bool CopyFileNoReplace(const std::string& from, const std::string& to);

}  // namespace os
