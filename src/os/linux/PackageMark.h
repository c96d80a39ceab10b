#pragma once
// The mark of a published package folder and the program's own record of it.
//
// The mark is a file in the folder: a first line "maplenook package", then "key=value" lines,
// among them "token=" with 32 random hex digits. The same token names a record in the staging
// home, "<staging home>/marks/<token>", holding the folder's name and inode. A folder is the
// program's when its mark's token has a record naming that folder and inode: a copy (or a
// look-alike, or a hand-written mark) carries the token but not the inode, or lies in another
// cache without the record. Nothing depends on the device number, which a file system mounted
// again (an overlay, btrfs, NFS) need not keep; its inodes it keeps.
#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace os::detail {

using MarkFields = std::vector<std::pair<std::string, std::string>>;

// 32 hex digits from the kernel's random source; empty when none could be had.
std::string NewMarkToken();

// Writes the mark `name` into the open folder `dir`, replacing a file of that name.
bool WriteMarkFile(int dir, const std::string& name, const std::string& token,
                   const MarkFields& fields);

enum class MarkKind {
    None,     // no mark at all
    Legacy,   // an earlier version's one-line mark ("maplenook package <dev>:<ino>")
    Current,  // a mark as WriteMarkFile writes it (not yet checked against the record)
    Invalid,  // something else of the mark's name: not a file of ours, or unreadable
};
struct MarkRead {
    MarkKind kind = MarkKind::None;
    std::map<std::string, std::string> fields;  // Current: its key=value lines
    std::string text;                           // Legacy: its whole text
};
MarkRead ReadMarkFile(int dir, const std::string& name);

// Whether the legacy mark `text` belongs to the open folder `dir` (its device and inode).
bool LegacyMarkFits(int dir, const std::string& text);

// The record of a published folder `folderName` with `inode` under `token`.
bool RecordMark(const std::string& stagingHome, const std::string& folderName, ino_t inode,
                const std::string& token);
void ForgetMark(const std::string& stagingHome, const std::string& token);
bool MarkRecorded(const std::string& stagingHome, const std::string& folderName, ino_t inode,
                  const std::string& token);

}  // namespace os::detail
