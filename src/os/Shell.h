#pragma once
#include <string>
#include <vector>

namespace os {

// What ShellExecute's default verb does: an executable file is started detached (own session,
// no terminal, never through a shell); any other existing file, and a URL ("scheme:..."), is
// opened with the desktop's default handler for it; a bare program name is looked for on PATH.
// True when something was started.
bool ShellOpen(const std::string& path, const std::vector<std::string>& args = {},
               const std::string& workingDir = {});

// Opens `path` (a file or a URL) with the desktop's default handler for it, never running it
// itself. True when a handler started.
bool OpenWithDefaultHandler(const std::string& path);

// True for a regular file this user may execute.
bool IsExecutableFile(const std::string& path);

}  // namespace os
