#pragma once
#include <string>

// Work in progress for a package folder "<name>" of the package cache happens in the cache's own
// staging folder "<cache>/.maplenook/": an extraction is built in ".<name>.unzip-XXXXXX" and a
// download written to ".<name>.part-XXXXXX" (XXXXXX: six letters or digits). An extraction's
// XXXXXX is random; a download's comes from its address, so that a part an interrupted download
// kept is found again by the next download of the same address, with what the server said about
// it in ".<name>.resume-XXXXXX" beside it. Only what carries such a name inside that folder may
// be removed once the run that made it is over; nothing of the user's beside it ever is.

// The name of the staging folder inside the cache; never a package's name.
inline constexpr const char* kStagingHomeName = ".maplenook";
// The file that marks a package folder as made by this program (see os::StagingFolder).
inline constexpr const char* kPackageMarkName = ".maplenook-package";
// The list of what the extraction wrote, beside the mark: what a new version may drop.
inline constexpr const char* kPackageManifestName = ".maplenook-files";

// "<cache folder>/.maplenook" for a cache folder given with or without its trailing "/".
std::string StagingHomeOf(const std::string& cacheFolder);

std::string ExtractionStagingPrefix(const std::string& name);
std::string DownloadStagingPrefix(const std::string& name);
std::string ResumeStagingPrefix(const std::string& name);

// Six random letters or digits that make a staging name unique.
std::string UniqueStagingSuffix();
// Six letters or digits that stand for `address` (a hash: two addresses may share them).
std::string AddressStagingSuffix(const std::string& address);

// Whether `entryName` is a staging name of any package.
bool IsStagingName(const std::string& entryName);
// Whether `entryName` is a staging name of the package folder `name`.
bool IsStagingNameOf(const std::string& entryName, const std::string& name);

// The parts of a staging name; false when it is none.
struct StagingNameParts {
    std::string name;    // the package folder's
    std::string kind;    // ".unzip-", ".part-" or ".resume-"
    std::string suffix;  // XXXXXX
};
bool SplitStagingName(const std::string& entryName, StagingNameParts& parts);
