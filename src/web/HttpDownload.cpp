#include "web/HttpDownload.h"

#include "os/Process.h"
#include "web/CurlHandles.h"
#include "web/HttpClient.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

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
    BodyFile(const BodyFile&) = delete;
    BodyFile& operator=(const BodyFile&) = delete;
    ~BodyFile() { Discard(); }

    bool Write(const char* data, size_t size) {
        if (!stream_.is_open() && !Open()) return false;
        stream_.write(data, static_cast<std::streamsize>(size));
        return stream_.good();
    }

    // Closes the temporary file and moves it over the final name.
    bool Commit() {
        if (!stream_.is_open() && !Open()) return false;
        stream_.close();
        if (stream_.fail()) return false;
        if (!direct_.empty()) {
            tempPath_.clear();
            return true;
        }
        std::error_code error;
        fs::rename(tempPath_, Utf8Path(folder_) / Utf8Path(finalName_), error);
        if (error) return false;
        tempPath_.clear();
        return true;
    }

  private:
    bool OpenDirect() {
        // Exclusive: a name somebody else made (or a link planted there) is never written.
        std::FILE* probe = std::fopen(direct_.c_str(), "wbx");
        if (probe == nullptr) return false;
        std::fclose(probe);
        tempPath_ = direct_;
        stream_.open(tempPath_, std::ios::binary | std::ios::trunc);
        return stream_.is_open();
    }

    bool Open() {
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
        if (stream_.is_open()) stream_.close();
        if (tempPath_.empty()) return;
        std::error_code error;
        fs::remove(tempPath_, error);
        tempPath_.clear();
    }

    std::string folder_;
    std::string finalName_;
    fs::path direct_;
    fs::path tempPath_;
    std::ofstream stream_;
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
};

int OnTransferProgress(void* user, curl_off_t total, curl_off_t done, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(user);
    if (transfer->watch == nullptr || !transfer->watch->progress) return 0;
    long status = 0;
    curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
    // Only the package's own bytes count, not a redirect's or an error page's.
    if (status != 0 && !IsSuccessStatus(status)) return 0;
    if (transfer->watch->progress(static_cast<int64_t>(done),
                                  total > 0 ? static_cast<int64_t>(total) : -1))
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

int Download(const std::string& url, BodyFile& file, DownloadWatch* watch = nullptr) {
    if (!EnsureCurlReady()) return 0;
    CurlEasy easy(curl_easy_init());
    if (!easy) return 0;
    CurlHeaderList headers;
    if (!AppendHeader(headers, "Accept: */*")) return 0;

    Transfer transfer{easy.get(), &file};
    transfer.watch = watch;
    CURL* h = easy.get();
    // Escaped as requests escape theirs: libcurl sends a blank as it is, which no server takes.
    const std::string wireUrl = UrlForWire(url);
    // A dead server must not hold a worker forever: a minute without data ends the transfer.
    SetWebTransferOptions(h, wireUrl.c_str(), headers.get(), 60L);
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 512L * 1024L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    if (watch != nullptr && watch->progress) {
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnTransferProgress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }

    const CURLcode result = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    const bool ok = result == CURLE_OK && !transfer.writeFailed && IsSuccessStatus(status);
    const bool committed = ok && file.Commit();
    if (watch != nullptr) {
        watch->httpStatus = status;
        if (committed) {
            watch->failure = DownloadFailure::None;
        } else if (transfer.cancelled) {
            watch->failure = DownloadFailure::Cancelled;
        } else if (status != 0 && !IsSuccessStatus(status)) {
            watch->failure = DownloadFailure::HttpStatus;
        } else if (transfer.diskFailed || ok) {
            watch->failure = DownloadFailure::Disk;  // written but not closed, or not written
        } else {
            watch->failure = DownloadFailure::Network;
        }
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
        if (watch != nullptr) watch->failure = DownloadFailure::Disk;
        return 0;
    }
    return Download(url, file, watch);
}
