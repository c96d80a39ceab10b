#pragma once
#include <cstdint>
#include <functional>
#include <string>

// Why a download did not complete, for callers that tell the user.
enum class DownloadFailure {
    None,
    HttpStatus,  // the server answered with a status outside 2xx (see httpStatus)
    Network,     // refused, reset, timed out, cut short
    Disk,        // the body could not be written
    Cancelled,   // the progress callback asked to stop
    Tls,         // the server's certificate was refused (never accepted regardless)
    Refused,     // another user serves the loopback address (also after a redirect)
};

// Follows a download: `progress` gets the bytes received and the whole size (-1 while unknown)
// as the body arrives, and stops the transfer by returning false; it is also called about once
// a second while nothing arrives. A resumed download counts the bytes already there in both.
// Afterwards `failure` and `httpStatus` say how it ended, `validator` what identifies the
// version of the body that came (ETag, else Last-Modified; empty when the server gave none) and
// `resumedFrom` where the body was continued (0: written from the start).
struct DownloadWatch {
    std::function<bool(int64_t done, int64_t total)> progress;
    DownloadFailure failure = DownloadFailure::None;
    long httpStatus = 0;
    std::string validator;
    int64_t resumedFrom = 0;
};

// The first `offset` bytes of a body that an earlier attempt wrote, and the validator of the
// answer they came from.
struct DownloadResume {
    int64_t offset = 0;
    std::string validator;
};

// Fetches `url` with a plain GET (only "Accept: */*" added, nothing cached, redirects followed)
// and stores the body in `folder` under DownloadFileName(url). The folder is created with its
// parents once a 2xx answer arrives (an unreachable server leaves no empty folder); a trailing
// "/" on it is optional. Returns 1 only when the server answered 2xx and the
// whole body is on disk under the final name, else 0. The body goes to a temporary file in the
// folder that is renamed over the final name when complete, so a failed or interrupted transfer
// never leaves a cut file under that name (an existing file there survives a failure).
// Blocks for the whole transfer: call it from a worker, never from the GUI thread. Thread-safe.
int DownloadToFolder(const std::string& url, const std::string& folder);

// The same GET with the body written to `path`, a file this call creates before it sends the
// request (it fails when the name is taken), so whoever stops the transfer from outside can
// remove it by that name. 1 when the whole body is there; else 0 and no file. The address is
// escaped as for requests (UrlForWire).
int DownloadToNewFile(const std::string& url, const std::string& path,
                      DownloadWatch* watch = nullptr);

// The same GET into `path`, which may already hold the first `resume.offset` bytes of the body
// (see DownloadResume): then only the rest is asked for ("Range" with "If-Range"), and appended
// when the server answers 206 from exactly that byte, or the file is written again from the
// start when it answers 200 (the body changed, or ranges are not served; a refused range is
// asked again whole). Without a part to continue the file is created or emptied before the
// request. 1 when the whole body is there. Unlike DownloadToNewFile, the file is kept whatever
// happens: the caller decides whether a cut body is worth continuing.
int DownloadResumable(const std::string& url, const std::string& path, const DownloadResume& resume,
                      DownloadWatch* watch = nullptr);

// The text after the URL's last "/" (the whole URL when it has none), query included and not
// decoded: ".../pkg.zip?x=1" gives "pkg.zip?x=1".
std::string DownloadFileName(const std::string& url);
