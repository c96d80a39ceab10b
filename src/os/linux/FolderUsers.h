#pragma once
// Whether a running program works in a folder: replacing the folder under it would send what it
// writes later into a removed folder.

namespace os::detail {

// Whether a process this user may inspect has its working directory or its executable in the
// open folder `dir` or below it.
bool ProcessWorksIn(int dir);

}  // namespace os::detail
