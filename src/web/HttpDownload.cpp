#include "web/HttpDownload.h"

#include "os/DiagnosticLog.h"
#include "os/Process.h"
#include "web/CurlHandles.h"
#include "web/HttpClient.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path Utf8Path(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

// The body is only opened on disk when the first bytes (or the end of an empty body) arrive, so
// a server that cannot be reached leaves no folder and no file behind.
class BodyFile {
  public:
    BodyFile(std::string folder, std::string finalName)
        : folder_(std::move(folder)), finalName_(std::move(finalName)) {}
    // The body written straight to `path`, a new file that nothing else may already hold.
    explicit BodyFile(const std::string& path) : direct_(Utf8Path(path)) {}
    // The body written to `path`, a part that survives this object; it is appended to after
    // Continue(), else emptied at the first write.
    struct Part {};
    BodyFile(const std::string& path, Part) : direct_(Utf8Path(path)), part_(true) {}
    void Continue() { append_ = true; }
    BodyFile(const BodyFile&) = delete;
    BodyFile& operator=(const BodyFile&) = delete;
    ~BodyFile() { Discard(); }

    bool Write(const char* data, size_t size) {
        if (!stream_.is_open() && !Open()) return Failed();
        if (pending_.capacity() == 0) pending_.reserve(kWriteBufferSize + (64 << 10));
        pending_.insert(pending_.end(), data, data + size);
        if (pending_.size() < kWriteBufferSize) return true;
        return FlushPending() || Failed();
    }

    // What the last failed step on disk was, for the log.
    const std::string& FailureText() const { return failure_; }
    std::string Where() const { return direct_.empty() ? folder_ : direct_.string(); }

    // Closes the temporary file and moves it over the final name.
    bool Commit() {
        if (!stream_.is_open() && !Open()) return Failed();
        if (!FlushPending()) return Failed();
        stream_.close();
        if (stream_.fail()) return Failed();
        if (!direct_.empty()) {
            tempPath_.clear();
            return true;
        }
        std::error_code error;
        fs::rename(tempPath_, Utf8Path(folder_) / Utf8Path(finalName_), error);
        if (error) {
            failure_ = "cannot rename into " + folder_ + ": " + error.message();
            return false;
        }
        tempPath_.clear();
        return true;
    }

  private:
    bool Failed() {
        failure_ = "cannot write " + Where() + ": " + std::strerror(errno);
        return false;
    }

    // libcurl hands the body over in pieces of at most 16 KiB, and the stream passes any piece
    // over 1 KiB straight to the kernel: gathered here into large writes they cost far less.
    bool FlushPending() {
        if (pending_.empty()) return true;
        stream_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
        pending_.clear();
        return stream_.good();
    }

    bool OpenDirect() {
        // Exclusive: a name somebody else made (or a link planted there) is never written.
        std::FILE* probe = std::fopen(direct_.c_str(), "wbx");
        if (probe == nullptr) return false;
        std::fclose(probe);
        tempPath_ = direct_;
        stream_.open(tempPath_, std::ios::binary | std::ios::trunc);
        return stream_.is_open();
    }

    bool OpenPart() {
        // Only a plain file is written; the staging folder is the user's alone.
        std::error_code error;
        const auto status = fs::symlink_status(direct_, error);
        if (fs::exists(status) && !fs::is_regular_file(status)) {
            errno = EEXIST;
            return false;
        }
        stream_.open(direct_, std::ios::binary | (append_ ? std::ios::app : std::ios::trunc));
        return stream_.is_open();
    }

    bool Open() {
        if (part_) return OpenPart();
        if (!direct_.empty()) return OpenDirect();
        std::error_code error;
        const fs::path folder = Utf8Path(folder_);
        fs::create_directories(folder, error);
        if (!fs::is_directory(folder, error)) return false;
        // A short unique name: the final name may already be as long as a name can be.
        static std::atomic<unsigned> counter{0};
        tempPath_ = folder / (".download-" + std::to_string(os::CurrentProcessId()) + "-" +
                              std::to_string(counter++) + ".part");
        stream_.open(tempPath_, std::ios::binary | std::ios::trunc);
        if (!stream_.is_open()) {
            tempPath_.clear();
            return false;
        }
        return true;
    }

    void Discard() {
        if (stream_.is_open()) {
            // A part kept for resuming holds every byte that arrived.
            if (part_) FlushPending();
            stream_.close();
        }
        if (tempPath_.empty()) return;
        std::error_code error;
        fs::remove(tempPath_, error);
        tempPath_.clear();
    }

    static constexpr size_t kWriteBufferSize = 1 << 20;
    std::vector<char> pending_;
    std::string folder_;
    std::string finalName_;
    fs::path direct_;
    bool part_ = false;
    bool append_ = false;
    fs::path tempPath_;
    std::ofstream stream_;
    std::string failure_;
};

bool IsSuccessStatus(long status) {
    return status >= 200 && status <= 299;
}

struct Transfer {
    CURL* easy = nullptr;
    BodyFile* file = nullptr;
    bool writeFailed = false;
    bool diskFailed = false;
    bool cancelled = false;
    DownloadWatch* watch = nullptr;
    int64_t offset = 0;         // the byte the request asked to continue from
    bool started = false;       // the answer's first bytes were looked at
    bool rangeRefused = false;  // a 206 that does not continue at `offset`
    std::string validator;
    char curlError[CURL_ERROR_SIZE] = {};
};

std::string HeaderOf(CURL* easy, const char* name) {
    curl_header* header = nullptr;
    // -1: the last request's answer, after any redirect.
    if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK ||
        header == nullptr || header->value == nullptr)
        return {};
    return header->value;
}

// A weak ETag cannot ask for a range (If-Range needs a strong one); the date then serves.
std::string ValidatorOf(CURL* easy) {
    const std::string tag = HeaderOf(easy, "ETag");
    if (!tag.empty() && tag.rfind("W/", 0) != 0) return tag;
    return HeaderOf(easy, "Last-Modified");
}

int OnTransferProgress(void* user, curl_off_t total, curl_off_t done, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(user);
    if (transfer->watch == nullptr || !transfer->watch->progress) return 0;
    long status = 0;
    curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
    // Only the package's own bytes count, not a redirect's or an error page's.
    if (status != 0 && !IsSuccessStatus(status)) return 0;
    // A continued body counts from the bytes already there.
    const int64_t before = status == 206 ? transfer->offset : 0;
    if (transfer->watch->progress(before + static_cast<int64_t>(done),
                                  total > 0 ? before + static_cast<int64_t>(total) : -1))
        return 0;
    transfer->cancelled = true;
    return 1;  // any nonzero value aborts the transfer
}

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    long status = 0;
    curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
    // An error page is not the package; refuse it before anything reaches the disk.
    if (!IsSuccessStatus(status)) {
        transfer->writeFailed = true;
        return 0;
    }
    if (!transfer->started) {
        transfer->started = true;
        transfer->validator = ValidatorOf(transfer->easy);
        if (transfer->offset > 0 && status == 206) {
            // Appended only where the part ends; anything else would corrupt it.
            const std::string range = HeaderOf(transfer->easy, "Content-Range");
            if (range.rfind("bytes " + std::to_string(transfer->offset) + "-", 0) != 0) {
                transfer->rangeRefused = true;
                transfer->writeFailed = true;
                return 0;
            }
            transfer->file->Continue();
            if (transfer->watch != nullptr) transfer->watch->resumedFrom = transfer->offset;
        }
    }
    if (!transfer->file->Write(data, size * count)) {
        transfer->writeFailed = true;
        transfer->diskFailed = true;
        return 0;
    }
    return size * count;
}

}  // namespace

std::string DownloadFileName(const std::string& url) {
    const auto slash = url.find_last_of('/');
    return slash == std::string::npos ? url : url.substr(slash + 1);
}

namespace {

// Whether the connection failed because the server's certificate was not accepted: verification
// failed, or the handshake broke off with a verification result other than success.
bool IsRefusedCertificate(CURL* easy, CURLcode result) {
    switch (result) {
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return true;
        case CURLE_SSL_CONNECT_ERROR: {
            long verify = 0;
            return curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verify) == CURLE_OK &&
                   verify != 0;
        }
        default:
            return false;
    }
}

// How the transfer ended, logged with its cause.
DownloadFailure Outcome(const std::string& url, const BodyFile& file, const Transfer& transfer,
                        CURLcode result, long status, bool ok, bool committed) {
    DownloadFailure failure = DownloadFailure::None;
    if (committed) {
        os::LogDebug("download finished", url + " -> " + file.Where());
    } else if (transfer.cancelled) {
        failure = DownloadFailure::Cancelled;
        os::LogDebug("download stopped", url);
    } else if (RefusedAsAnotherUsers(transfer.easy)) {
        // Before the status of a redirect that led there.
        failure = DownloadFailure::Refused;
        os::LogError("download refused", url + ": another user serves the loopback address");
    } else if (status != 0 && !IsSuccessStatus(status)) {
        failure = DownloadFailure::HttpStatus;
        os::LogError("download failed", url + ": HTTP status " + std::to_string(status));
    } else if (transfer.diskFailed || ok) {
        failure = DownloadFailure::Disk;  // written but not closed, or not written
        os::LogError("download failed", url + ": " + file.FailureText());
    } else {
        failure = IsRefusedCertificate(transfer.easy, result) ? DownloadFailure::Tls
                                                              : DownloadFailure::Network;
        const std::string words =
            transfer.curlError[0] != '\0' ? transfer.curlError : curl_easy_strerror(result);
        os::LogError("download failed", url + ": " + words);
    }
    return failure;
}

// `resume`: the part `file` continues, when its offset is above 0. `rangeRefused` tells that the
// server answered a range request in a way the part cannot be continued by (nothing is written
// then); the caller may ask again from the start.
int Download(const std::string& url, BodyFile& file, DownloadWatch* watch = nullptr,
             const DownloadResume& resume = {}, bool* rangeRefused = nullptr) {
    if (!EnsureCurlReady()) return 0;
    CurlEasy easy(curl_easy_init());
    if (!easy) return 0;
    CurlHeaderList headers;
    if (!AppendHeader(headers, "Accept: */*")) return 0;
    if (resume.offset > 0) {
        // If-Range: a body that changed since the part was written comes whole, with 200.
        const std::string range = "Range: bytes=" + std::to_string(resume.offset) + "-";
        const std::string ifRange = "If-Range: " + resume.validator;
        if (!AppendHeader(headers, range.c_str()) || !AppendHeader(headers, ifRange.c_str()))
            return 0;
    }

    Transfer transfer;
    transfer.easy = easy.get();
    transfer.file = &file;
    transfer.watch = watch;
    transfer.offset = resume.offset;
    CURL* h = easy.get();
    // Escaped as requests escape theirs: libcurl sends a blank as it is, which no server takes.
    const std::string wireUrl = UrlForWire(url);
    // A dead server must not hold a worker forever: a minute without data ends the transfer.
    SetWebTransferOptions(h, wireUrl.c_str(), headers.get(), 60L);
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 512L * 1024L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, transfer.curlError);
    if (watch != nullptr && watch->progress) {
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnTransferProgress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }

    os::LogDebug("download started", url + " -> " + file.Where());
    const CURLcode result = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (resume.offset > 0 && (transfer.rangeRefused || status == 416)) {
        os::LogDebug("download restarts", url + ": the server would not continue from byte " +
                                              std::to_string(resume.offset));
        if (rangeRefused != nullptr) *rangeRefused = true;
        return 0;
    }
    if (transfer.validator.empty() && IsSuccessStatus(status)) transfer.validator = ValidatorOf(h);
    const bool ok = result == CURLE_OK && !transfer.writeFailed && IsSuccessStatus(status);
    const bool committed = ok && file.Commit();
    const DownloadFailure failure = Outcome(url, file, transfer, result, status, ok, committed);
    if (watch != nullptr) {
        watch->httpStatus = status;
        watch->failure = failure;
        watch->validator = transfer.validator;
    }
    return committed ? 1 : 0;
}

}  // namespace

int DownloadToFolder(const std::string& url, const std::string& folder) {
    const std::string name = DownloadFileName(url);
    // An empty name (URL ending in "/") or a dot name cannot be a file in the folder.
    if (name.empty() || name == "." || name == ".." || folder.empty()) return 0;
    BodyFile file(folder, name);
    return Download(url, file);
}

int DownloadToNewFile(const std::string& url, const std::string& path, DownloadWatch* watch) {
    if (path.empty()) return 0;
    BodyFile file(path);
    // Made before the request, so that it has its name for the whole transfer.
    if (!file.Write(nullptr, 0)) {
        os::LogError("download failed", url + ": " + file.FailureText());
        if (watch != nullptr) watch->failure = DownloadFailure::Disk;
        return 0;
    }
    return Download(url, file, watch);
}

int DownloadResumable(const std::string& url, const std::string& path, const DownloadResume& resume,
                      DownloadWatch* watch) {
    if (path.empty()) return 0;
    DownloadResume from = resume;
    std::error_code error;
    const auto status = fs::symlink_status(Utf8Path(path), error);
    // Only a plain file of exactly the kept size is continued.
    if (from.offset > 0 &&
        (!fs::is_regular_file(status) || from.validator.empty() ||
         fs::file_size(Utf8Path(path), error) != static_cast<uintmax_t>(from.offset) || error))
        from = {};
    for (int attempt = 0; attempt < 2; ++attempt) {
        BodyFile file(path, BodyFile::Part{});
        // A fresh start has its file under its name for the whole transfer, as a new file does.
        if (from.offset == 0 && !file.Write(nullptr, 0)) {
            os::LogError("download failed", url + ": " + file.FailureText());
            if (watch != nullptr) watch->failure = DownloadFailure::Disk;
            return 0;
        }
        if (watch != nullptr) watch->resumedFrom = 0;
        bool rangeRefused = false;
        if (Download(url, file, watch, from, &rangeRefused) != 0) return 1;
        if (!rangeRefused) return 0;
        from = {};  // the server would not continue this part: once more, whole
    }
    return 0;
}
