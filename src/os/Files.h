#pragma once
#include <string>

namespace os {

// Full path of the running executable; empty when it cannot be read.
std::string ExecutablePath();

// Reads a whole file as bytes; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& bytes);

// Writes `bytes` to a temporary file in the same folder, flushes it and renames it over
// `path`, so readers and crashes see the old or the new file, never a cut one.
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes);

bool FileExists(const std::string& path);

}  // namespace os
