#pragma once
#include <string>

// Creates (enable) or deletes (disable) the per-user autostart entry `name` that starts
// `target` with the session (os::SetAutostartEntry). `arguments` is a command-line text (split
// as Windows programs split theirs) and `workingDir` a folder; either may be empty for none.
// `name` is the entry's file name and its display name and comment. Enabling writes the entry
// atomically, replacing one that exists; disabling returns false when there was no entry. A
// name that cannot be a file name ("", "/" inside, "." or "..") gives false.
// `icon`: see os::SetAutostartEntry.
bool SetAutostart(const std::string& target, const std::string& arguments,
                  const std::string& workingDir, const std::string& name, bool enable,
                  const std::string& icon = {});

// The program as an autostart entry names it: the system package's launcher when it runs from
// one (see SystemLauncher), so the entry reads as the command users know; else the executable.
std::string AutostartTarget();
