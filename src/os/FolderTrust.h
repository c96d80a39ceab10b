#pragma once
#include <string>

namespace os {

// Why a folder may not hold the package cache. The cache's packages get replaced, deleted and
// started, so it must be a folder of the user's own that nobody else can write into, and it
// must not be a folder whose other contents would be lost or trusted by mistake.
enum class CacheFolderRefusal {
    None,
    NotAFolder,       // exists but is not a directory (or a dangling link, or cannot be examined)
    SharedWritable,   // group or others may write into it (sticky or not)
    NotOwned,         // not owned by the effective user
    HomeFolder,       // the user's home folder ($HOME, else the password database)
    RootFolder,       // the file system's root
    InstalledFolder,  // the installed folder or inside it (or that cannot be ruled out)
    UnsafePath        // a folder on the way from "/" belongs to another user, or others may
                      // write it (a sticky folder aside), so they could swap the cache
};

// Why `folder` may not serve as the package cache, or None when it may. Symlinks to a folder
// are followed, but every identity (home, root, installed folder) is compared by device and
// inode, never by spelling; "inside" is found by walking up through "..", so a symlink, a bind
// mount or "<install>/res/.." are all seen for what they are. A folder that does not exist yet
// is judged by the folder it would be created in: refused only when that is the installed
// folder or inside it. Every level from "/" to the folder (or to the last one that exists) must
// belong to the user or root, and every folder on the way must be writable by its owner alone
// or be sticky. A trailing "/" makes no difference.
CacheFolderRefusal JudgeCacheFolder(const std::string& folder, const std::string& installedFolder);

// Whether `program`, a path inside `cacheFolder`, may be started: the path to the cache folder
// passes the rule of JudgeCacheFolder, and the cache folder, every folder from it down to the
// program, and the program itself must each be no symlink, owned by
// the effective user or root, and not writable by group or others; the program must be a
// regular file. The levels are opened one by one from the cache folder, never resolved from
// the path text. A program that is not textually below the cache folder, or whose path has a
// ".." component, is never safe. A trailing "/" on the cache folder makes no difference.
bool IsSafeToStart(const std::string& cacheFolder, const std::string& program);

}  // namespace os
