#include "PhoneState.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace phone {

namespace {

constexpr uint32_t kFolderMode = 040771;
constexpr uint32_t kFileType = 0100000;
// Folders every phone has, even empty.
const char* const kFolders[] = {"/",       "/data",  "/data/local", "/data/local/tmp",
                                "/sdcard", "/system"};
const char* const kBuiltInPackages[] = {"android", "com.android.settings", "com.android.phone",
                                        "com.android.shell"};

std::string Escaped(const std::string& line) {
    std::string out;
    for (unsigned char c : line) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool WriteWhole(const std::string& path, const std::string& bytes, int flags) {
    const int fd = open(path.c_str(), flags | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return close(fd) == 0 && done == bytes.size();
}

std::string PackageNameOf(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return "com.maplenook.demo." + name;
}

}  // namespace

std::string CanonicalDevicePath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out;
    for (const auto& part : parts) out += "/" + part;
    return out.empty() ? "/" : out;
}

PhoneState::PhoneState(PhoneIdentity identity, std::string recordDir, int failInstalls,
                       uint64_t unplugAfterBytes)
    : identity_(std::move(identity)),
      recordDir_(std::move(recordDir)),
      failInstalls_(failInstalls),
      unplugAfter_(unplugAfterBytes) {}

void PhoneState::Record(const std::string& line) {
    if (recordDir_.empty()) return;
    std::lock_guard lock(mutex_);
    WriteWhole(recordDir_ + "/commands.log", Escaped(line) + "\n", O_CREAT | O_APPEND);
}

std::optional<std::string> PhoneState::ReadFile(const std::string& path) {
    std::lock_guard lock(mutex_);
    const auto found = files_.find(CanonicalDevicePath(path));
    if (found == files_.end()) return std::nullopt;
    return found->second.first;
}

void PhoneState::WriteFile(const std::string& path, std::string bytes, uint32_t mode) {
    std::lock_guard lock(mutex_);
    files_[CanonicalDevicePath(path)] = {std::move(bytes), (mode & 07777) | kFileType};
}

bool PhoneState::RemoveFile(const std::string& path) {
    std::lock_guard lock(mutex_);
    return files_.erase(CanonicalDevicePath(path)) > 0;
}

void PhoneState::MakeFolder(const std::string& path) {
    std::lock_guard lock(mutex_);
    folders_.insert(CanonicalDevicePath(path));
}

std::optional<PhoneState::Stat> PhoneState::StatPath(const std::string& path) {
    const std::string canonical = CanonicalDevicePath(path);
    std::lock_guard lock(mutex_);
    const auto now = static_cast<uint32_t>(std::time(nullptr));
    const auto found = files_.find(canonical);
    if (found != files_.end())
        return Stat{found->second.second, static_cast<uint32_t>(found->second.first.size()), now};
    for (const char* folder : kFolders)
        if (canonical == folder) return Stat{kFolderMode, 4096, now};
    if (folders_.count(canonical)) return Stat{kFolderMode, 4096, now};
    // A folder that holds a pushed file exists too.
    const std::string prefix = canonical == "/" ? "/" : canonical + "/";
    const auto next = files_.lower_bound(prefix);
    if (next != files_.end() && next->first.compare(0, prefix.size(), prefix) == 0)
        return Stat{kFolderMode, 4096, now};
    return std::nullopt;
}

std::vector<std::pair<std::string, PhoneState::Stat>> PhoneState::List(const std::string& folder) {
    const std::string canonical = CanonicalDevicePath(folder);
    const std::string prefix = canonical == "/" ? "/" : canonical + "/";
    std::vector<std::string> names;
    for (const char* known : kFolders) {
        const std::string path = known;
        if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
            path.find('/', prefix.size()) == std::string::npos)
            names.push_back(path.substr(prefix.size()));
    }
    {
        std::lock_guard lock(mutex_);
        std::vector<std::string> paths;
        for (const auto& [path, file] : files_) paths.push_back(path);
        paths.insert(paths.end(), folders_.begin(), folders_.end());
        for (const auto& path : paths) {
            if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::string rest = path.substr(prefix.size());
            names.push_back(rest.substr(0, rest.find('/')));
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    std::vector<std::pair<std::string, Stat>> entries;
    for (const auto& name : names) {
        if (auto stat = StatPath(prefix + name)) entries.emplace_back(name, *stat);
    }
    return entries;
}

std::string PhoneState::Install(const std::string& path) {
    auto bytes = ReadFile(path);
    if (!bytes) return "Failure [INSTALL_FAILED_INVALID_URI]\n";
    std::lock_guard lock(mutex_);
    if (++attempts_ <= failInstalls_) return "Failure [INSTALL_FAILED_INTERNAL_ERROR]\n";
    const int number = ++landed_;
    if (!recordDir_.empty() &&
        !WriteWhole(recordDir_ + "/install-" + std::to_string(number) + ".apk", *bytes,
                    O_CREAT | O_TRUNC)) {
        --landed_;
        return "Failure [INSTALL_FAILED_INSUFFICIENT_STORAGE]\n";
    }
    const std::string name = PackageNameOf(path);
    for (const auto& known : packages_)
        if (known == name) return "Success\n";
    packages_.push_back(name);
    return "Success\n";
}

std::vector<std::string> PhoneState::Packages() {
    std::vector<std::string> all(std::begin(kBuiltInPackages), std::end(kBuiltInPackages));
    std::lock_guard lock(mutex_);
    all.insert(all.end(), packages_.begin(), packages_.end());
    return all;
}

bool PhoneState::CountReceived(uint64_t bytes) {
    std::lock_guard lock(mutex_);
    received_ += bytes;
    if (unplugAfter_ > 0 && received_ >= unplugAfter_) unplugged_ = true;
    return unplugged_;
}

bool PhoneState::Unplugged() {
    std::lock_guard lock(mutex_);
    return unplugged_;
}

}  // namespace phone
