#pragma once
#include <string>
#include <vector>

namespace os {

// Creates (enable) or deletes (disable) this user's autostart entry `name`, which starts
// `command` (the program, then its arguments, one item each) in `workingDir` (empty for none)
// with the user's session; `name` is also the entry's display name. Enabling writes the entry
// atomically, replacing one that exists, and needs a program; disabling returns false when
// there was no entry. A name that cannot be a file name ("", "/" inside, "." or "..") gives
// false.
// `icon` (a themed name or an image file; empty for none) is what the desktop's session
// settings show beside it.
bool SetAutostartEntry(const std::string& name, const std::vector<std::string>& command,
                       const std::string& workingDir, bool enable, const std::string& icon = {});

}  // namespace os
