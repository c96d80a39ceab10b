#include "os/FileOps.h"

#include <filesystem>

// Folders and copies through the C++ library. New folders get only the owner's part of `mode`:
// without the platform's umask nothing wider can be known to be wanted.
namespace os {

namespace fs = std::filesystem;

bool CreateDirectories(const std::string& path, unsigned mode) {
    std::error_code error;
    fs::path made;
    for (const auto& part : fs::path(path)) {
        made /= part;
        if (fs::is_directory(made, error)) continue;
        if (!fs::create_directory(made, error)) return false;
        fs::permissions(made, static_cast<fs::perms>(mode & 0700), fs::perm_options::replace,
                        error);
        if (error) return false;
    }
    return fs::is_directory(path, error);
}

bool IsDirectory(const std::string& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

bool SetFileMode(const std::string& /*path*/, unsigned /*mode*/) {
    return false;
}

bool RemoveFile(const std::string& path) {
    std::error_code error;
    return fs::remove(path, error) && !error;
}

bool CopyFileNoReplace(const std::string& from, const std::string& to) {
    std::error_code error;
    return fs::copy_file(from, to, fs::copy_options::none, error) && !error;
}

}  // namespace os
