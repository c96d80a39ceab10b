#pragma once
#include <atomic>
#include <memory>
#include <string>

// Sends one HTTP request the way the browser's request object does, with the headers
// "Accept: */*", "User-Agent: quorlin", "Accept-Charset: GB2312,utf-8;q=0.7,*;q=0.7" in that
// order, plus "Content-Type: application/x-www-form-urlencoded" only for the method "POST"
// (exactly) with a non-empty body. Used from one thread at a time.
class CHttpClient {
  public:
    CHttpClient() = default;
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;
    // Leaves an asynchronous request in flight running to its end: fire-and-forget callers
    // (the usage report) drop the client right after sending.
    ~CHttpClient() = default;

    // `method` is passed unchanged ("GET", "POST", "post", ...); `body` is sent whenever it is
    // not empty, for GET too. Synchronous: returns the response body whatever the status, empty
    // on any failure. Asynchronous: returns empty at once; the request runs on its own thread,
    // which owns everything it needs. A new request aborts this client's previous one.
    std::string Request(const std::string& url, bool async, const std::string& method,
                        const std::string& body);

  private:
    std::shared_ptr<std::atomic<bool>> abortPrevious_;
};

// The URL as a browser puts it on the wire: characters a URL cannot carry (controls, blanks,
// quotes, angle brackets, braces, "|", "\", "^", "`" and every non-ASCII byte) percent-encoded,
// everything else, existing escapes included, untouched.
std::string UrlForWire(const std::string& url);
