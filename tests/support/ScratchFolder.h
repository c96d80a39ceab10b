#pragma once
#include <string>

// A fresh folder under /tmp, removed with everything in it when the test ends.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  private:
    std::string path_;
};

// Runs `command` through /bin/sh and returns its standard output.
std::string ShellOutput(const std::string& command);

// Quotes `text` for /bin/sh.
std::string ShellQuote(const std::string& text);

// Writes `bytes` to `path` (parents created) and sets `mode`.
void WriteTestFile(const std::string& path, const std::string& bytes, unsigned mode = 0644);

std::string ReadTestFile(const std::string& path);
