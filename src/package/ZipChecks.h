#pragma once
#include <cstdint>
#include <string>

#include "package/ZipDirectory.h"
#include "package/ZipExtract.h"

// What an extraction checks and how it reports a refusal; the entry-name checks are
// SafeEntryPath and EntryNameUtf8 (ZipExtract.h).
namespace zip {

// Whether the entry's sizes could belong to what it is: data inside the archive, stored as
// it is or deflated no more than deflate can.
bool SizesPossible(const EntrySizes& sizes, unsigned long method, uint64_t archiveSize);

// Disk when a write failed for want of room, else Archive.
ExtractResult Failure(bool outOfRoom);
// A name from the archive as it may go into a log line: no line breaks or other controls.
std::string Printable(const std::string& text);
// Logs why the extraction of `archive` failed and hands the result on.
ExtractResult Refused(ExtractResult result, const std::string& archive, const std::string& why);
// The system's word for the error of the call that just failed.
std::string ErrnoText();

}  // namespace zip
