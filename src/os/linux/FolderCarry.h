#pragma once
// What a new version of a package folder takes over from the old one, and whether a folder
// nobody marked holds nothing but what a new extraction holds.
#include <optional>
#include <set>
#include <string>
#include <unordered_set>

namespace os::detail {

// The entries an extraction wrote, relative to its folder: files as they are, folders ending
// in "/".
using EntryList = std::set<std::string>;

// Writes `entries` as the manifest `name` in the open folder `dir`.
bool WriteManifest(int dir, const std::string& name, const EntryList& entries);
// The manifest `name` of the open folder `dir`; nothing when it is missing or not ours.
std::optional<std::unordered_set<std::string>> ReadManifest(int dir, const std::string& name);

// Hard-links (where no link can be made, copies) into the open folder `to` what the open
// folder `from` holds beyond its archive: the entries `listed`, the old archive's, does not
// name (those go with the old folder). A file the tool wrote stays even where the new archive
// brings one of its name (that name goes into `kept`); the old archive's files give way to
// the new archive's. Without `listed` nothing is known to be the tool's: everything the new
// archive does not hold is taken. Folders are made anew in `to` with their modes; top-level
// entries named in `skip` stay behind. Links leave `from` whole, so that a stop at any moment
// leaves the old folder as it was. False when anything could not be taken.
bool CarryToolData(int from, int to, const std::unordered_set<std::string>* listed,
                   const std::set<std::string>& skip, EntryList& kept);

// Whether the open folder `from` holds nothing but what `to` holds: each folder a folder
// there, each file a file there with the same bytes, no link or other kind of entry.
// Top-level entries named in `skip` are left out.
bool HoldsOnlyWhatIsIn(int from, int to, const std::set<std::string>& skip);

}  // namespace os::detail
