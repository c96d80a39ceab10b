#include "web/HttpClient.h"

#include "web/CurlHandles.h"

#include <optional>
#include <string_view>
#include <thread>

namespace {

struct RequestJob {
    std::string url;
    std::string method;
    std::string body;
    std::shared_ptr<std::atomic<bool>> aborted;
};

bool IsTokenChar(char c) {
    if (c >= 'a' && c <= 'z') return true;
    if (c >= 'A' && c <= 'Z') return true;
    if (c >= '0' && c <= '9') return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// The method goes onto the request line as it is, so it must be an HTTP token: anything else
// (blanks, line breaks) could forge a second request.
bool IsValidMethod(const std::string& method) {
    if (method.empty()) return false;
    for (char c : method) {
        if (!IsTokenChar(c)) return false;
    }
    return true;
}

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

int CheckAbort(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<std::atomic<bool>*>(user)->load() ? 1 : 0;
}

std::optional<std::string> Perform(const RequestJob& job) {
    if (!EnsureCurlReady()) return std::nullopt;
    CurlEasy easy(curl_easy_init());
    if (!easy) return std::nullopt;
    const bool formBody = job.method == "POST" && !job.body.empty();
    CurlHeaderList headers;
    const bool headersOk =
        AppendHeader(headers, "Accept: */*") && AppendHeader(headers, "User-Agent: quorlin") &&
        AppendHeader(headers, "Accept-Charset: GB2312,utf-8;q=0.7,*;q=0.7") &&
        // "Content-Type:" with no value stops libcurl adding its own form type to other bodies;
        // "Expect:" stops it holding back large bodies for a 100-continue.
        AppendHeader(headers, formBody ? "Content-Type: application/x-www-form-urlencoded"
                                       : "Content-Type:") &&
        AppendHeader(headers, "Expect:");
    if (!headersOk) return std::nullopt;

    const std::string wireUrl = UrlForWire(job.url);
    std::string response;
    CURL* h = easy.get();
    // The browser object's defaults: a minute to connect, half a minute without any data.
    SetWebTransferOptions(h, wireUrl.c_str(), headers.get(), 30L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CheckAbort);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, job.aborted.get());

    // libcurl itself picks GET without a body and POST with one; any other pairing is named.
    const bool sendsBody = !job.body.empty() || job.method == "POST";
    if (sendsBody) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(job.body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, job.body.data());
    }
    if (job.method != (sendsBody ? "POST" : "GET")) {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, job.method.c_str());
    }
    // A HEAD answer has no body; without this libcurl would wait for one.
    if (job.method == "HEAD") curl_easy_setopt(h, CURLOPT_NOBODY, 1L);

    if (curl_easy_perform(h) != CURLE_OK) return std::nullopt;
    return response;
}

}  // namespace

std::string UrlForWire(const std::string& url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string wire;
    wire.reserve(url.size());
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        const bool carried = byte > 0x20 && byte < 0x7F &&
                             std::string_view("\"<>{}|\\^`").find(c) == std::string_view::npos;
        if (carried) {
            wire += c;
        } else {
            wire += '%';
            wire += kHex[byte >> 4];
            wire += kHex[byte & 0x0F];
        }
    }
    return wire;
}

std::string CHttpClient::Request(const std::string& url, bool async, const std::string& method,
                                 const std::string& body) {
    if (abortPrevious_) abortPrevious_->store(true);
    abortPrevious_ = std::make_shared<std::atomic<bool>>(false);
    if (!IsValidMethod(method)) return {};
    RequestJob job{url, method, body, abortPrevious_};
    if (!async) return Perform(job).value_or(std::string());
    try {
        std::thread([job = std::move(job)] { Perform(job); }).detach();
    } catch (const std::system_error&) {
        // No thread could be started: the request is simply not sent, as any failure.
    }
    return {};
}
