#pragma once
#include <cstdint>
#include <string>

namespace os {

// The bytes an unprivileged user may still write on the file system that holds `folder`, or
// would hold it (the nearest existing folder above a missing one answers); UINT64_MAX when it
// cannot be told.
uint64_t FreeSpaceOf(const std::string& folder);

// Whether a system call's error number means there was no room for the data: the file system
// or the user's quota is full, or a file would pass the largest size allowed.
bool IsOutOfRoom(int errorNumber);

}  // namespace os
