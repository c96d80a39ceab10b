#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace os {

// One entry of a folder and when its inode last changed (milliseconds since the epoch).
struct FolderEntryFacts {
    std::string name;
    int64_t changeTime = 0;
};
// The entries of `folder` ("." and ".." left out); empty when it cannot be read.
std::vector<FolderEntryFacts> ListFolderEntries(const std::string& folder);

// Removes `path` and, when it is a folder, everything below it at any depth with only a few
// descriptors open, without following symlinks or entering other file systems mounted inside;
// folders lacking their owner's rwx are opened up first. False when anything is left.
bool RemoveTree(const std::string& path);

}  // namespace os
