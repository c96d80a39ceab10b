#include "os/linux/FolderCarry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "os/linux/OpenFolder.h"
#include "os/linux/UniqueFd.h"
#include "os/linux/WriteAll.h"

namespace os::detail {
namespace {

constexpr const char* kManifestHeader = "maplenook files\n";
constexpr size_t kMostManifestSize = 64u << 20;
constexpr size_t kCompareBlock = 64 * 1024;

// The names in the open folder `dir`, "." and ".." left out; nothing when it cannot be read.
std::optional<std::vector<std::string>> NamesIn(int dir) {
    const int listFd = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = listFd < 0 ? nullptr : fdopendir(listFd);
    if (listing == nullptr) {
        if (listFd >= 0) close(listFd);
        return std::nullopt;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    const bool complete = errno == 0;
    closedir(listing);
    if (!complete) return std::nullopt;
    return names;
}

bool ReadAll(int fd, char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool SameBytes(int from, int to, const std::string& name) {
    UniqueFd a(openat(from, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    UniqueFd b(openat(to, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat sa {
    }, sb{};
    if (a.get() < 0 || b.get() < 0 || fstat(a.get(), &sa) != 0 || fstat(b.get(), &sb) != 0 ||
        !S_ISREG(sa.st_mode) || !S_ISREG(sb.st_mode) || sa.st_size != sb.st_size)
        return false;
    std::vector<char> left(kCompareBlock), right(kCompareBlock);
    for (off_t at = 0; at < sa.st_size;) {
        const auto n = static_cast<size_t>(std::min<off_t>(kCompareBlock, sa.st_size - at));
        if (!ReadAll(a.get(), left.data(), n) || !ReadAll(b.get(), right.data(), n) ||
            std::memcmp(left.data(), right.data(), n) != 0)
            return false;
        at += static_cast<off_t>(n);
    }
    return true;
}

// Makes the folder `name` in `to` with the permission bits of `mode` (an existing folder
// counts); its descriptor.
UniqueFd MakeFolderLike(int to, const std::string& name, mode_t mode) {
    if (mkdirat(to, name.c_str(), 0700) != 0 && errno != EEXIST) return UniqueFd(-1);
    UniqueFd made(OpenFolderAt(to, name.c_str()));
    if (made.get() >= 0) fchmod(made.get(), (mode & 0777) | 0700);
    return made;
}

// What is known of the old folder's entries while it is walked.
struct Carry {
    const std::unordered_set<std::string>* listed;  // the old archive's entries; null: unknown
    EntryList* kept;  // the tool's files kept where the new archive has one of the same name
};

// Whether the entry `relative` is the old archive's (true), the tool's (false), or unknown.
std::optional<bool> ArchiveHad(const Carry& carry, bool toolsFolder, const std::string& relative) {
    if (carry.listed == nullptr) return std::nullopt;
    return !toolsFolder && carry.listed->count(relative) != 0;
}

bool CarryFolder(int from, int to, const std::string& prefix, const Carry& carry, bool toolsFolder,
                 const std::set<std::string>& skip);

// Where no hard link can be made (a file system without them, such as a FAT drive, or a file of
// another owner's), a copy with the same permission bits and times; a link stays a link.
bool CopyInto(int from, int to, const std::string& name, const struct stat& old) {
    if (S_ISLNK(old.st_mode)) {
        std::vector<char> target(static_cast<size_t>(old.st_size) + 1);
        const ssize_t n = readlinkat(from, name.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<size_t>(n) >= target.size()) return false;
        target[static_cast<size_t>(n)] = '\0';
        return symlinkat(target.data(), to, name.c_str()) == 0;
    }
    if (!S_ISREG(old.st_mode)) return false;
    UniqueFd in(openat(from, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const int out =
        openat(to, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool ok = in.get() >= 0 && out >= 0;
    std::vector<char> block(kCompareBlock);
    for (ssize_t n = 0; ok && (n = read(in.get(), block.data(), block.size())) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0 && WriteAllTo(out, block.data(), static_cast<size_t>(n));
    }
    const timespec times[2] = {old.st_atim, old.st_mtim};
    ok = ok && fchmod(out, old.st_mode & 0777) == 0 && futimens(out, times) == 0;
    ok = (out < 0 || close(out) == 0) && ok;
    return ok;
}

// Takes the one entry `name` of `from` as CarryToolData describes; `toolsFolder`: it lies in a
// folder the old archive did not hold.
bool CarryEntry(int from, int to, const std::string& name, const std::string& relative,
                const Carry& carry, bool toolsFolder) {
    struct stat old {
    }, there{};
    if (fstatat(from, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;  // gone meanwhile
    const bool inNew = fstatat(to, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0;
    // The manifest names folders with a "/" at the end.
    const std::optional<bool> archives =
        ArchiveHad(carry, toolsFolder, S_ISDIR(old.st_mode) ? relative + "/" : relative);
    if (!S_ISDIR(old.st_mode)) {
        // The old archive's own files go with the old folder; where nothing is known, the new
        // archive's file of the same name wins.
        if (archives.value_or(inNew)) return true;
        if (inNew) {
            // The tool's own file stays even where the new archive brings one of its name.
            if (S_ISDIR(there.st_mode) || unlinkat(to, name.c_str(), 0) != 0) return false;
            carry.kept->insert(relative);
        }
        return linkat(from, name.c_str(), to, name.c_str(), 0) == 0 ||
               (errno != ENOSPC && errno != EDQUOT && CopyInto(from, to, name, old));
    }
    // A folder the old archive did not hold is the tool's: all of it is taken. One the new
    // archive holds as a file cannot be taken without losing one or the other: no update.
    const bool toolsOwn = !archives.value_or(false);
    if (inNew && !S_ISDIR(there.st_mode)) return !(toolsOwn && archives.has_value());
    UniqueFd source(OpenFolderAt(from, name.c_str()));
    UniqueFd target = source.get() < 0 ? UniqueFd(-1) : MakeFolderLike(to, name, old.st_mode);
    if (target.get() < 0 ||
        !CarryFolder(source.get(), target.get(), relative + "/", carry, toolsOwn, {}))
        return false;
    // An old archive's folder that kept nothing of the tool's goes as the rest of it.
    if (!inNew && !toolsOwn) unlinkat(to, name.c_str(), AT_REMOVEDIR);
    return true;
}

bool CarryFolder(int from, int to, const std::string& prefix, const Carry& carry, bool toolsFolder,
                 const std::set<std::string>& skip) {
    const auto names = NamesIn(from);
    if (!names) return false;
    for (const auto& name : *names) {
        if (skip.count(name) != 0) continue;
        if (!CarryEntry(from, to, name, prefix + name, carry, toolsFolder)) return false;
    }
    return true;
}

}  // namespace

bool WriteManifest(int dir, const std::string& name, const EntryList& entries) {
    std::string text = kManifestHeader;
    for (const auto& entry : entries) {
        text += entry;
        text += '\0';
    }
    unlinkat(dir, name.c_str(), 0);
    UniqueFd fd(
        openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    return fd.get() >= 0 && WriteAllTo(fd.get(), text.data(), text.size());
}

std::optional<std::unordered_set<std::string>> ReadManifest(int dir, const std::string& name) {
    UniqueFd fd(openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != geteuid() || static_cast<size_t>(info.st_size) > kMostManifestSize)
        return std::nullopt;
    std::string text(static_cast<size_t>(info.st_size), '\0');
    const std::string header = kManifestHeader;
    if (!ReadAll(fd.get(), text.data(), text.size()) || text.compare(0, header.size(), header) != 0)
        return std::nullopt;
    std::unordered_set<std::string> entries;
    for (size_t at = header.size(); at < text.size();) {
        const size_t end = text.find('\0', at);
        if (end == std::string::npos) return std::nullopt;  // cut short: trust none of it
        entries.insert(text.substr(at, end - at));
        at = end + 1;
    }
    return entries;
}

bool CarryToolData(int from, int to, const std::unordered_set<std::string>* listed,
                   const std::set<std::string>& skip, EntryList& kept) {
    return CarryFolder(from, to, "", Carry{listed, &kept}, false, skip);
}

bool HoldsOnlyWhatIsIn(int from, int to, const std::set<std::string>& skip) {
    const auto names = NamesIn(from);
    if (!names) return false;
    for (const auto& name : *names) {
        if (skip.count(name) != 0) continue;
        struct stat old {
        }, there{};
        if (fstatat(from, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0 ||
            fstatat(to, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        if (S_ISDIR(old.st_mode)) {
            UniqueFd a(OpenFolderAt(from, name.c_str()));
            UniqueFd b(OpenFolderAt(to, name.c_str()));
            if (a.get() < 0 || b.get() < 0 || !HoldsOnlyWhatIsIn(a.get(), b.get(), {}))
                return false;
        } else if (!S_ISREG(old.st_mode) || !SameBytes(from, to, name)) {
            return false;
        }
    }
    return true;
}

}  // namespace os::detail
