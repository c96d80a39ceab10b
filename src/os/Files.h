#pragma once
#include <string>

namespace os {

// Full path of the running executable; empty when it cannot be read.
std::string ExecutablePath();

// Reads a whole regular file as bytes; false when it cannot be opened or read, or is not a
// regular file (a FIFO or device is never waited on).
bool ReadWholeFile(const std::string& path, std::string& bytes);

// Writes `bytes` to a temporary file in the same folder, flushes it and renames it over
// `path`, so readers and crashes see the old or the new file, never a cut one. A symlink at
// `path` stays: the file it points at is replaced, in that file's folder.
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes);

// What is at a path, without waiting on it.
enum class PathKind { Missing, RegularFile, Other };
PathKind KindOfPath(const std::string& path);

// Identity and version of a regular file, to tell whether it changed since it was last read.
struct FileStamp {
    unsigned long long device = 0, inode = 0, size = 0;
    long long modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
// False when there is no regular file at `path`.
bool StampOf(const std::string& path, FileStamp& stamp);

// Whether this user may change the file at `path` (after symlinks): it is there and carries
// the owner's write bit and the system allows writing. A file the user made read-only stays so.
bool IsUserWritableFile(const std::string& path);

bool FileExists(const std::string& path);

}  // namespace os
