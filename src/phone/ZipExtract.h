#pragma once
#include <optional>
#include <string>

// Extraction of zip packages (minizip over zlib).

// Extracts every entry of `archivePath` below `destination` (a folder path ending in "/"),
// creating folders, replacing existing files, restoring entry times and, for archives made on
// Unix, permission bits. A bad entry does not stop the others. False when the archive cannot
// be opened or the destination made, or when any entry was not extracted.
bool ExtractZip(const std::string& archivePath, const std::string& destination);

// The relative path an entry's stored name stands for ("\" read as "/", "." and empty parts
// dropped), or nothing when the name would land outside the destination: absolute names,
// drive names ("C:..."), any ".." part, or a NUL byte.
std::optional<std::string> SafeEntryPath(const std::string& storedName);
