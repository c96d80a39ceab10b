#include "os/Files.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

// Plain reads and writes through the C++ library; without the platform's idea of owners and
// identities a file is told apart by size and time, and writable by its owner's bit.
namespace os {

namespace fs = std::filesystem;

std::string ExecutablePath() {
    return {};
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) fs::remove(temporary, error);
    return !error;
}

PathKind KindOfPath(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (status.type() == fs::file_type::not_found) return PathKind::Missing;
    if (error) return PathKind::Other;
    return fs::is_regular_file(fs::status(path, error)) ? PathKind::RegularFile : PathKind::Other;
}

bool StampOf(const std::string& path, FileStamp& stamp) {
    // The file's identity is not known here: size and modification time stand for it.
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return false;
    const auto size = fs::file_size(path, error);
    if (error) return false;
    const auto modified = fs::last_write_time(path, error);
    if (error) return false;
    stamp = {};
    stamp.size = size;
    stamp.modifiedNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
    return true;
}

bool IsUserWritableFile(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    return !error && fs::is_regular_file(status) &&
           (status.permissions() & fs::perms::owner_write) != fs::perms::none;
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

}  // namespace os
