#pragma once
#include <minizip/unzip.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "os/ReadAtFile.h"
#include "os/StagingFolder.h"
#include "package/ZipDirectory.h"
#include "package/ZipExtract.h"

// Writing one entry's data into its staged file: read straight from the archive in large
// blocks, inflated where it is deflated, checked against the directory's size and CRC-32, and
// counted for the progress callback.
namespace zip {

// A raw deflate stream (no zlib header: the zip entry's own data), set up once and reset for
// each entry so that many small entries do not each allocate a window.
class RawInflater {
  public:
    RawInflater() = default;
    ~RawInflater() {
        if (ready_) inflateEnd(&stream_);
    }
    RawInflater(const RawInflater&) = delete;
    RawInflater& operator=(const RawInflater&) = delete;

    // The stream, ready for a new entry; null when zlib could not set it up (out of memory).
    z_stream* Start() {
        if (ready_) return inflateReset(&stream_) == Z_OK ? &stream_ : nullptr;
        stream_ = z_stream{};
        ready_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
        return ready_ ? &stream_ : nullptr;
    }

  private:
    z_stream stream_{};
    bool ready_ = false;
};

class EntryWriter {
  public:
    // `archive` and `entry` (the current entry's printable name) name what failed in the log;
    // `total` is the entries' whole size for `progress`.
    EntryWriter(unzFile zip, os::ReadAtFile& file, const std::string& archive,
                const std::string& entry, const ExtractProgress& progress, uint64_t total);

    // Writes the current entry's data into `out` and finishes it with `mode` and `modifyTime`.
    ExtractResult Write(os::StagingFolder::File& out, const unz_file_info64& info,
                        const EntrySizes& sizes, unsigned mode, int64_t modifyTime);
    // Logs why the current entry failed and hands the result on.
    ExtractResult EntryFailed(ExtractResult result, const std::string& why) const;
    ExtractResult WriteFailed(bool outOfRoom, const std::string& what) const;

  private:
    ExtractResult CopyStored(const EntrySizes& sizes, os::StagingFolder::File& out, uLong& crc,
                             uint64_t& size);
    ExtractResult CopyDeflated(const EntrySizes& sizes, os::StagingFolder::File& out, uLong& crc,
                               uint64_t& size);
    // Checks and writes `count` bytes of the entry's data.
    ExtractResult TakeData(const unsigned char* data, size_t count, const EntrySizes& sizes,
                           os::StagingFolder::File& out, uLong& crc, uint64_t& size);

    unzFile zip_;
    os::ReadAtFile& file_;
    const std::string& archive_;
    const std::string& entry_;
    const ExtractProgress& progress_;
    uint64_t total_ = 0;
    uint64_t done_ = 0;
    std::vector<unsigned char> piece_;
    RawInflater inflater_;
    // Made on the first deflated entry; left uninitialised, as every byte is written before
    // it is read.
    std::unique_ptr<unsigned char[]> compressed_;
    std::unique_ptr<unsigned char[]> inflated_;
};

}  // namespace zip
