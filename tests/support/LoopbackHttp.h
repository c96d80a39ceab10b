#pragma once
// Loopback HTTP servers for tests and benchmarks: a cpp-httplib server, and a raw one that
// records the exact request bytes and answers with bytes the test chooses (cut bodies, ...).
#include <httplib.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace loopback {

// A cpp-httplib server on 127.0.0.1 at a free port; set routes on `server` before Start().
class HttplibServer {
  public:
    HttplibServer() = default;
    HttplibServer(const HttplibServer&) = delete;
    HttplibServer& operator=(const HttplibServer&) = delete;
    ~HttplibServer();

    bool Start();
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

    httplib::Server server;

  private:
    int port_ = 0;
    std::thread thread_;
};

// Accepts one connection at a time; reads the request head and its Content-Length body, hands
// the raw bytes to `respond` and writes back whatever it returns, then closes the connection.
class RawHttpServer {
  public:
    using Responder = std::function<std::string(const std::string& request)>;
    explicit RawHttpServer(Responder respond);
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;
    ~RawHttpServer();

    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::vector<std::string> Requests() const;

  private:
    void Serve();

    Responder respond_;
    int listenFd_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    bool stopping_ = false;
    std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound, then released).
int UnusedLoopbackPort();

// The response head and body of a plain 200 answer.
std::string OkResponse(const std::string& body);

// Percent-decoding as a server reads a query.
std::string PercentDecode(const std::string& text);

}  // namespace loopback
