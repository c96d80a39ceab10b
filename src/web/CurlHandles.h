#pragma once
// RAII owners for libcurl handles shared by the downloader and the request client. libcurl is a
// portable library (it builds for Windows too), so the HTTP code lives here, not in src/os.
#include <curl/curl.h>

#include <memory>

// curl_global_init is not safe to race with other libcurl calls; every entry point calls this
// first, from whichever thread, and it runs the initialisation exactly once.
bool EnsureCurlReady();

struct CurlEasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlHeaderList = std::unique_ptr<curl_slist, CurlListDeleter>;

// Appends one "Name: value" line; false when libcurl could not allocate it.
bool AppendHeader(CurlHeaderList& list, const char* line);

// What every transfer of the program sets: the address and headers, only http/https (also
// after redirects, since addresses come from pages), at most 20 redirects, no signals (workers
// run transfers), a minute to connect and `stallSeconds` without data before giving up; the
// desktop's proxy for the address (CurlProxy.h), never one for loopback; and no connection to
// a loopback server that another user serves (see LoopbackOwner.h). A proxy the user named
// may be anyone's: the check applies to loopback destinations, not to the proxy.
void SetWebTransferOptions(CURL* easy, const char* url, curl_slist* headers, long stallSeconds);

// Whether the last transfer of `easy` (set up with SetWebTransferOptions, performed on this
// thread) ended because the loopback server it reached is another user's.
bool RefusedAsAnotherUsers(CURL* easy);
