#pragma once
#include <string>

namespace os {

// The operating system's name as the usage report gives it, e.g.
// "Debian GNU/Linux 12 (bookworm) (kernel 6.1.0-18-amd64), 64-bit"; never empty. Not cut to
// any length.
std::string OsName();

}  // namespace os
