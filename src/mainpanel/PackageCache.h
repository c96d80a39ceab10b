#pragma once
#include <string>

// The package cache folder on disk and the staging leftovers in it.

// The per-user cache folder used when none is set: $XDG_CACHE_HOME/MapleNook/packages
// (~/.cache/MapleNook/packages when unset), or a private per-user folder when no home is known.
std::string DefaultCacheFolder();

// Creates the cache folder when missing; the levels it makes are private to the user (0700).
bool MakeCacheFolder(const std::string& folder);

// Removes staging names (see StagingNames.h) from `folder`: those of the package folder `name`,
// or of every package when `name` is empty. Only what is older than this process unless
// `alsoThisRun`: a leftover of an earlier run, never work that may still be going on.
void RemoveStagingLeftovers(const std::string& folder, const std::string& name, bool alsoThisRun);
