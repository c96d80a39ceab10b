#pragma once
#include <string>

// The package cache folder on disk and the staging leftovers in it.

// The per-user cache folder used when none is set: MapleNook/packages in the user's cache
// folder (os::UserCacheDirectory), or a private per-user folder when no home is known.
std::string DefaultCacheFolder();

// Why the user may not choose `folder` as the cache folder, as a message for them, or empty
// when it may serve: it must be their own, writable by nobody else, and neither the home
// folder, the root nor the installation (or inside it), whatever its spelling.
std::string CacheFolderRefusalMessage(const std::string& folder,
                                      const std::string& moduleDirectory);

// Creates the cache folder when missing (the levels it makes are private to the user, 0700)
// and the staging folder inside it; true when both are there.
bool MakeCacheFolder(const std::string& folder);

// Removes staging names (see StagingNames.h) from the staging folder of the cache `folder`:
// those of the package folder `name`, or of every package when `name` is empty. Only what is
// older than this process unless `alsoThisRun`: a leftover of an earlier run, never work that
// may still be going on; and then a download's part kept for resuming stays while it is young
// (see ResumableParts.h). Nothing outside the staging folder is ever looked at.
void RemoveStagingLeftovers(const std::string& folder, const std::string& name, bool alsoThisRun);
