#pragma once
#include <string>

#include "os/PrivateFolder.h"

namespace os {

// The user's private folder for the single-instance lock and the hand-over addresses, the same
// for every session of the user whatever its environment says: the session manager's folder
// of this user when there is one, private to the user; else the runtime folder the environment
// names when it is a folder of this user; else a per-user folder in the shared
// temporary folder, made private and accepted only as a real folder (no symlink) owned by this
// user. When that name is taken by someone else, a per-user folder in the user's cache folder,
// made the same way; once that folder exists it is preferred, so every start of the user picks
// the same one. Says why on standard error when it falls back, and when nothing works (then
// empty).
std::string UserRuntimeFolder();

// Where the lock named `name` lives in the user's private folder `runtimeFolder`.
std::string InstanceLockAddress(const std::string& runtimeFolder, const std::string& name);

enum class InstanceLock { Acquired, HeldByAnother, Failed };

// Takes the exclusive lock on the file at `path` (created 0600 if needed) for the rest of this
// process's life; children started later do not inherit it. HeldByAnother when another
// process holds it.
InstanceLock TakeInstanceLock(const std::string& path);

}  // namespace os
