#include "package/ZipEntryWriter.h"

#include <libdeflate.h>

#include <algorithm>

#include "package/ZipChecks.h"

namespace zip {
namespace {

// Stored data is copied in pieces of this size through one buffer: few system calls, and a
// piece is still in cache when it is written after its CRC pass.
constexpr size_t kPieceSize = 256 * 1024;
// Deflated data is read and inflated in blocks this large: few system calls, and zlib keeps
// its window copy (up to 32 KiB per inflate call) small beside the output.
constexpr size_t kInflateBlockSize = 1 << 20;
// Stored entries from this size on are read through the archive's mapping.
constexpr uint64_t kMappedEntrySize = 4 << 20;

}  // namespace

EntryWriter::EntryWriter(unzFile zip, os::ReadAtFile& file, const std::string& archive,
                         const std::string& entry, const ExtractProgress& progress, uint64_t total)
    : zip_(zip),
      file_(file),
      archive_(archive),
      entry_(entry),
      progress_(progress),
      total_(total),
      piece_(kPieceSize) {}

ExtractResult EntryWriter::EntryFailed(ExtractResult result, const std::string& why) const {
    return Refused(result, archive_, "entry \"" + entry_ + "\": " + why);
}

ExtractResult EntryWriter::WriteFailed(bool outOfRoom, const std::string& what) const {
    return EntryFailed(Failure(outOfRoom), what + ": " + ErrnoText());
}

ExtractResult EntryWriter::Write(os::StagingFolder::File& out, const unz_file_info64& info,
                                 const EntrySizes& sizes, unsigned mode, int64_t modifyTime) {
    // Opened raw: minizip checks the local header and finds where the data starts, and the
    // data is read and inflated here, in large blocks straight from the file.
    if (unzOpenCurrentFile2(zip_, nullptr, nullptr, 1) != UNZ_OK)
        return EntryFailed(ExtractResult::Archive, "its data cannot be opened");
    // The data is checked here, against the directory's CRC-32 and size (the Zip64 size
    // where there is one).
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t size = 0;
    const bool stored = info.compression_method == kStored;
    const ExtractResult result =
        stored ? CopyStored(sizes, out, crc, size) : CopyDeflated(sizes, out, crc, size);
    const bool closed = unzCloseCurrentFile(zip_) == UNZ_OK;
    if (result != ExtractResult::Done) return result;
    if (size != sizes.uncompressed)
        return EntryFailed(ExtractResult::Archive, "size " + std::to_string(size) + ", " +
                                                       std::to_string(sizes.uncompressed) +
                                                       " expected");
    if (crc != info.crc) return EntryFailed(ExtractResult::Archive, "CRC-32 mismatch");
    if (!closed) return EntryFailed(ExtractResult::Archive, "its data does not end cleanly");
    if (!out.Finish(mode, modifyTime)) return WriteFailed(out.ranOutOfRoom(), "cannot finish it");
    return ExtractResult::Done;
}

ExtractResult EntryWriter::CopyStored(const EntrySizes& sizes, os::StagingFolder::File& out,
                                      uLong& crc, uint64_t& size) {
    // Stored data is the archive's own bytes: read in large blocks straight from the file
    // rather than through minizip's small copies.
    const uint64_t start = unzGetCurrentFileZStreamPos64(zip_);
    // A large entry is checked and written straight from the mapped archive: one copy of its
    // bytes fewer. Small ones keep the reads, which cost less than the mapping's page faults.
    const unsigned char* mapped = sizes.uncompressed >= kMappedEntrySize ? file_.Map() : nullptr;
    if (mapped != nullptr) {
        if (start > file_.size() || sizes.uncompressed > file_.size() - start)
            return EntryFailed(ExtractResult::Archive, "its data ends early");
        while (size < sizes.uncompressed) {
            const auto n =
                static_cast<size_t>(std::min<uint64_t>(piece_.size(), sizes.uncompressed - size));
            const auto taken = TakeData(mapped + start + size, n, sizes, out, crc, size);
            if (taken != ExtractResult::Done) return taken;
        }
        return ExtractResult::Done;
    }
    while (size < sizes.uncompressed) {
        const auto want =
            static_cast<size_t>(std::min<uint64_t>(piece_.size(), sizes.uncompressed - size));
        const size_t n = file_.ReadThrough(start + size, piece_.data(), want);
        if (n == 0) return EntryFailed(ExtractResult::Archive, "its data ends early");
        const auto taken = TakeData(piece_.data(), n, sizes, out, crc, size);
        if (taken != ExtractResult::Done) return taken;
    }
    return ExtractResult::Done;
}

ExtractResult EntryWriter::TakeData(const unsigned char* data, size_t count,
                                    const EntrySizes& sizes, os::StagingFolder::File& out,
                                    uLong& crc, uint64_t& size) {
    if (count > sizes.uncompressed - size)
        return EntryFailed(ExtractResult::Archive,
                           "more data than its size " + std::to_string(sizes.uncompressed));
    size += count;
    // libdeflate's CRC-32 uses the CPU's carry-less multiply where zlib's does not: on stored
    // entries the check was a quarter of the work.
    crc = libdeflate_crc32(static_cast<uint32_t>(crc), data, count);
    if (!out.Write(reinterpret_cast<const char*>(data), count))
        return WriteFailed(out.ranOutOfRoom(), "cannot write its file");
    done_ += count;
    // A stop leaves the staging folder to go as for a failure.
    if (progress_ && !progress_(done_, total_)) return ExtractResult::Cancelled;
    return ExtractResult::Done;
}

ExtractResult EntryWriter::CopyDeflated(const EntrySizes& sizes, os::StagingFolder::File& out,
                                        uLong& crc, uint64_t& size) {
    // Some writers give an empty file no deflate stream at all.
    if (sizes.compressed == 0 && sizes.uncompressed == 0) return ExtractResult::Done;
    z_stream* stream = inflater_.Start();
    if (stream == nullptr) return EntryFailed(ExtractResult::Archive, "zlib cannot start");
    if (!compressed_) {
        compressed_ = std::make_unique_for_overwrite<unsigned char[]>(kInflateBlockSize);
        inflated_ = std::make_unique_for_overwrite<unsigned char[]>(kInflateBlockSize);
    }
    const uint64_t start = unzGetCurrentFileZStreamPos64(zip_);
    uint64_t read = 0;  // compressed bytes taken from the archive
    stream->avail_in = 0;
    stream->next_out = inflated_.get();
    stream->avail_out = kInflateBlockSize;
    for (;;) {
        if (stream->avail_in == 0 && read < sizes.compressed) {
            const auto want =
                static_cast<size_t>(std::min<uint64_t>(kInflateBlockSize, sizes.compressed - read));
            const size_t n = file_.ReadThrough(start + read, compressed_.get(), want);
            if (n == 0) return EntryFailed(ExtractResult::Archive, "its data ends early");
            read += n;
            stream->next_in = compressed_.get();
            stream->avail_in = static_cast<uInt>(n);
        }
        const int rc = inflate(stream, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            return EntryFailed(ExtractResult::Archive,
                               std::string("its data is damaged (") +
                                   (stream->msg != nullptr ? stream->msg : "zlib error") + ")");
        const bool ended = rc == Z_STREAM_END;
        // Output goes out in whole blocks; inflate stops short of a full block only when it
        // has used all its input.
        if (stream->avail_out == 0 || ended) {
            const size_t produced = kInflateBlockSize - stream->avail_out;
            const auto taken = TakeData(inflated_.get(), produced, sizes, out, crc, size);
            if (taken != ExtractResult::Done) return taken;
            if (ended) return ExtractResult::Done;
            stream->next_out = inflated_.get();
            stream->avail_out = kInflateBlockSize;
        } else if (read == sizes.compressed) {
            // Every byte given, and the stream has not ended.
            return EntryFailed(ExtractResult::Archive, "its data ends early");
        }
    }
}

}  // namespace zip
