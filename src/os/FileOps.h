#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace os {

// Creates `path` and any missing parents (each new level with `mode` less the umask); true
// when it is a directory afterwards.
bool CreateDirectories(const std::string& path, unsigned mode = 0777);

bool IsDirectory(const std::string& path);

// Sets access and modification times (seconds since the epoch) without following a symlink.
bool SetFileTimes(const std::string& path, int64_t accessTime, int64_t modifyTime);

// Sets the permission bits (only 0777 is honoured: no set-id or sticky bits).
bool SetFileMode(const std::string& path, unsigned mode);

bool RemoveFile(const std::string& path);

// Copies `from` to `to` keeping the permission bits; fails when `to` exists. The copy appears
// under its name only once complete, so an interrupted copy never leaves a cut file there.
bool CopyFileNoReplace(const std::string& from, const std::string& to);

// A file being written from the start. Whatever was at the path (a file, even a running
// program, or a symlink, which is never followed) is replaced by a new file. Closed by the
// destructor; Discard removes a half-written file.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Open(const std::string& path);
    bool Write(const char* data, size_t size);
    bool Close();
    void Discard();

  private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace os
