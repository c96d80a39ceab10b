#include "os/linux/PackageMark.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "os/linux/OpenFolder.h"
#include "os/linux/UniqueFd.h"
#include "os/linux/WriteAll.h"

namespace os::detail {
namespace {

constexpr const char* kHeader = "maplenook package";
constexpr const char* kRecordFolder = "marks";
constexpr size_t kTokenBytes = 16;
constexpr size_t kMostMarkSize = 4096;

bool IsToken(const std::string& token) {
    if (token.size() != 2 * kTokenBytes) return false;
    for (const char c : token) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// Reads a small file of ours (regular, owned by this user) whole; false otherwise.
bool ReadOwnFile(int at, const char* name, size_t most, std::string& text) {
    UniqueFd fd(openat(at, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != geteuid() || static_cast<size_t>(info.st_size) > most)
        return false;
    text.assign(static_cast<size_t>(info.st_size), '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = read(fd.get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// Writes `text` as the file `name` in `at` by a rename over it, so that a reader finds the
// old text or the new one.
bool ReplaceFile(int at, const std::string& name, const std::string& text, mode_t mode) {
    const std::string temporary = "." + name + ".new";
    unlinkat(at, temporary.c_str(), 0);
    const int fd =
        openat(at, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return false;
    bool ok = WriteAllTo(fd, text.data(), text.size()) && fchmod(fd, mode) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && renameat(at, temporary.c_str(), at, name.c_str()) == 0) return true;
    unlinkat(at, temporary.c_str(), 0);
    return false;
}

// The staging home opened, when it is a folder of this user's that nobody else may write.
UniqueFd OpenHome(const std::string& stagingHome) {
    UniqueFd home(OpenFolderAt(AT_FDCWD, stagingHome.c_str()));
    struct stat info {};
    if (home.get() < 0 || fstat(home.get(), &info) != 0 || info.st_uid != geteuid() ||
        (info.st_mode & 022) != 0)
        return UniqueFd(-1);
    return home;
}

std::string RecordText(const std::string& folderName, ino_t inode) {
    return "folder=" + folderName +
           "\ninode=" + std::to_string(static_cast<unsigned long long>(inode)) + "\n";
}

}  // namespace

std::string NewMarkToken() {
    unsigned char bytes[kTokenBytes];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        got += static_cast<size_t>(n);
    }
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (const unsigned char b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    return token;
}

bool WriteMarkFile(int dir, const std::string& name, const std::string& token,
                   const MarkFields& fields) {
    std::string text = std::string(kHeader) + "\ntoken=" + token + "\n";
    for (const auto& [key, value] : fields) {
        // One field a line: a key or value that could end a line or fake a key is refused.
        if (key.empty() || key == "token" || key.find_first_of("=\n") != std::string::npos ||
            value.find('\n') != std::string::npos)
            return false;
        text += key + "=" + value + "\n";
    }
    // An archive may hold a file of the mark's name, even a folder; ours takes its place.
    if (unlinkat(dir, name.c_str(), 0) != 0 && errno == EISDIR) return false;
    return ReplaceFile(dir, name, text, 0644);
}

MarkRead ReadMarkFile(int dir, const std::string& name) {
    MarkRead mark;
    struct stat there {};
    if (fstatat(dir, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? mark : MarkRead{MarkKind::Invalid, {}, {}};
    mark.kind = MarkKind::Invalid;
    std::string text;
    if (!ReadOwnFile(dir, name.c_str(), kMostMarkSize, text)) return mark;
    const std::string header = std::string(kHeader) + "\n";
    if (text.compare(0, header.size(), header) != 0) {
        if (text.compare(0, header.size() - 1, kHeader) == 0) mark = {MarkKind::Legacy, {}, text};
        return mark;
    }
    size_t at = header.size();
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const size_t equals = text.find('=', at);
        if (end == std::string::npos || equals == std::string::npos || equals >= end ||
            equals == at)
            return mark;
        mark.fields[text.substr(at, equals - at)] = text.substr(equals + 1, end - equals - 1);
        at = end + 1;
    }
    mark.kind = MarkKind::Current;
    return mark;
}

bool LegacyMarkFits(int dir, const std::string& text) {
    struct stat self {};
    return fstat(dir, &self) == 0 &&
           text == std::string(kHeader) + " " +
                       std::to_string(static_cast<unsigned long long>(self.st_dev)) + ":" +
                       std::to_string(static_cast<unsigned long long>(self.st_ino)) + "\n";
}

bool RecordMark(const std::string& stagingHome, const std::string& folderName, ino_t inode,
                const std::string& token) {
    if (!IsToken(token)) return false;
    UniqueFd home = OpenHome(stagingHome);
    if (home.get() < 0) return false;
    if (mkdirat(home.get(), kRecordFolder, 0700) != 0 && errno != EEXIST) return false;
    UniqueFd records(OpenFolderAt(home.get(), kRecordFolder));
    return records.get() >= 0 &&
           ReplaceFile(records.get(), token, RecordText(folderName, inode), 0600);
}

void ForgetMark(const std::string& stagingHome, const std::string& token) {
    if (!IsToken(token)) return;
    UniqueFd home = OpenHome(stagingHome);
    UniqueFd records(home.get() < 0 ? -1 : OpenFolderAt(home.get(), kRecordFolder));
    if (records.get() >= 0) unlinkat(records.get(), token.c_str(), 0);
}

bool MarkRecorded(const std::string& stagingHome, const std::string& folderName, ino_t inode,
                  const std::string& token) {
    if (!IsToken(token)) return false;
    UniqueFd home = OpenHome(stagingHome);
    UniqueFd records(home.get() < 0 ? -1 : OpenFolderAt(home.get(), kRecordFolder));
    std::string text;
    return records.get() >= 0 && ReadOwnFile(records.get(), token.c_str(), kMostMarkSize, text) &&
           text == RecordText(folderName, inode);
}

}  // namespace os::detail
