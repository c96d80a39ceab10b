#pragma once
#include <chrono>
#include <string>

#include "web/HttpDownload.h"

// The part of an interrupted package download, kept in the cache's staging folder for the next
// download of the same address: ".<name>.part-XXXXXX" with XXXXXX standing for the address,
// and beside it ".<name>.resume-XXXXXX" holding the address and the validator (ETag or
// Last-Modified) of the answer the part came from. A part is worth resuming for a day; after
// that the server's file has likely moved on, and the space is the user's.
inline constexpr std::chrono::hours kPartKeptFor{24};

struct ResumablePart {
    std::string part;     // where the download writes
    std::string sidecar;  // the address and validator, while the part is kept
};

// The staging names of `url`'s download for the package folder `name`.
ResumablePart ResumablePartOf(const std::string& stagingHome, const std::string& name,
                              const std::string& url);

// Where the download of `part` may continue: the part's size and validator when its sidecar
// names the same address, is younger than kPartKeptFor and the part is a regular file holding
// bytes; else nothing to resume, and the part and sidecar are gone. The package's parts of
// other addresses are removed as well: only one version of a package is worth keeping.
DownloadResume ResumePointOf(const std::string& stagingHome, const std::string& name,
                             const std::string& url, const ResumablePart& part);

// Keeps the part for a later download of `url`; without a validator (or when it cannot be
// recorded) the part cannot be trusted to continue and is removed instead.
void KeepPart(const ResumablePart& part, const std::string& url, const std::string& validator);

// Removes the sidecar and, unless `keepBody`, the part itself.
void ForgetPart(const ResumablePart& part, bool keepBody = false);
