#pragma once
#include <string>

namespace os {

// The user's private folder for the single-instance lock and the hand-over sockets:
// $XDG_RUNTIME_DIR when it is a folder of this user, else /tmp/maplenook-<uid>, made 0700 and
// accepted only as a real folder (no symlink) owned by this user. Empty when neither works.
std::string UserRuntimeFolder();

// Makes `path` a folder only this user can enter (mode 0700) when it is missing, and accepts
// it only as a real folder (no symlink) owned by this user, tightening a looser mode. False
// when it cannot be made or is not such a folder.
bool MakePrivateFolder(const std::string& path);

enum class InstanceLock { Acquired, HeldByAnother, Failed };

// Takes the exclusive lock on the file at `path` (created 0600 if needed) for the rest of this
// process's life; children started later do not inherit it. HeldByAnother when another
// process holds it.
InstanceLock TakeInstanceLock(const std::string& path);

}  // namespace os
