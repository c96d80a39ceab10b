#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace os {

// A file opened for reading at any offset, through a small cache of large blocks: readers that
// hop between a few places (a zip archive's directory at its end and the entries' data in
// order) cost one system call per block instead of one seek and one read per small request.
class ReadAtFile {
  public:
    ReadAtFile();
    ~ReadAtFile();
    ReadAtFile(const ReadAtFile&) = delete;
    ReadAtFile& operator=(const ReadAtFile&) = delete;

    // False when `path` cannot be opened or is not a regular file.
    bool Open(const std::string& path);
    uint64_t size() const { return size_; }
    // Copies up to `count` bytes from `offset`; the number copied (short only at the end of the
    // file or on a read error).
    size_t ReadAt(uint64_t offset, void* data, size_t count);
    // The same read straight into `data`, past the cache: for long runs read once in order
    // (a stored entry's data), where copying through a block only costs time.
    size_t ReadThrough(uint64_t offset, void* data, size_t count);
    // The whole file mapped read-only, for a reader that must take it in one piece (a
    // signature over the file itself); valid while this object lives. Null when it cannot be
    // mapped (or is empty).
    const unsigned char* Map();

  private:
    struct Block {
        uint64_t offset = 0;
        size_t length = 0;
        uint64_t lastUse = 0;
        std::vector<unsigned char> bytes;
    };
    bool Load(Block& block, uint64_t offset);

    // The platform's handles on the open file and its mapping.
    struct Native;
    std::unique_ptr<Native> native_;
    uint64_t size_ = 0;
    uint64_t clock_ = 0;
    Block blocks_[2];
};

}  // namespace os
