#pragma once
#include <string>

namespace os {

// MD5 of a regular file's bytes as 32 lower-case hexadecimal digits; empty when the file
// cannot be opened (missing, unreadable, a directory).
std::string Md5HexOfFile(const std::string& path);

}  // namespace os
