#pragma once
#include <string>

// Hidden names of work in progress beside a package folder "<name>" in the package cache: an
// extraction is built in ".<name>.unzip-XXXXXX" and a download written to ".<name>.part-XXXXXX"
// (XXXXXX: six letters or digits, unique). Whatever carries such a name is never a package, so
// it may be removed once the run that made it is over.

std::string ExtractionStagingPrefix(const std::string& name);
std::string DownloadStagingPrefix(const std::string& name);

// Six random letters or digits that make a staging name unique.
std::string UniqueStagingSuffix();

// Whether `entryName` is a staging name of any package.
bool IsStagingName(const std::string& entryName);
// Whether `entryName` is a staging name of the package folder `name`.
bool IsStagingNameOf(const std::string& entryName, const std::string& name);
