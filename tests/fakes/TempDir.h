#pragma once
#include <string>

namespace testsupport {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when destroyed.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative.
    std::string File(const std::string& relative) const;

  private:
    std::string path_;
};

// Writes `bytes` to `path`, creating missing parent folders, and gives it `mode`; throws on
// failure (tests only).
void WriteFile(const std::string& path, const std::string& bytes, unsigned mode = 0644);
// The whole file, or an empty text when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace testsupport
