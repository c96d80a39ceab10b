#include "LoopbackHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace loopback {
namespace {

int ListenOnLoopback(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

bool SendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string ReadRequest(int fd) {
    std::string request;
    char chunk[4096];
    size_t expected = std::string::npos;
    while (expected == std::string::npos || request.size() < expected) {
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        request.append(chunk, static_cast<size_t>(n));
        const auto headEnd = request.find("\r\n\r\n");
        if (expected == std::string::npos && headEnd != std::string::npos) {
            size_t bodyLength = 0;
            const auto at = request.find("Content-Length: ");
            if (at != std::string::npos && at < headEnd) {
                bodyLength = std::strtoul(request.c_str() + at + 16, nullptr, 10);
            }
            expected = headEnd + 4 + bodyLength;
        }
    }
    return request;
}

}  // namespace

HttplibServer::~HttplibServer() {
    server.stop();
    if (thread_.joinable()) thread_.join();
}

bool HttplibServer::Start() {
    port_ = server.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return false;
    // The socket already listens: connections wait in its backlog until the loop accepts them.
    thread_ = std::thread([this] { server.listen_after_bind(); });
    // A stop() that comes before the loop runs would be lost and the join would hang.
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

RawHttpServer::RawHttpServer(Responder respond) : respond_(std::move(respond)) {
    listenFd_ = ListenOnLoopback(port_);
    if (listenFd_ >= 0) thread_ = std::thread([this] { Serve(); });
}

RawHttpServer::~RawHttpServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    // Wakes the blocking accept; Serve sees stopping_ and returns.
    if (listenFd_ >= 0) shutdown(listenFd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) close(listenFd_);
}

std::vector<std::string> RawHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void RawHttpServer::Serve() {
    for (;;) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                close(fd);
                return;
            }
        }
        // A client that never closes must not hang the server's shutdown.
        timeval timeout{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const std::string request = ReadRequest(fd);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        SendAll(fd, respond_(request));
        shutdown(fd, SHUT_WR);
        // Let the client read everything before the close resets the connection.
        char drain[256];
        while (recv(fd, drain, sizeof drain, 0) > 0) {
        }
        close(fd);
    }
}

int UnusedLoopbackPort() {
    int port = 0;
    const int fd = ListenOnLoopback(port);
    if (fd >= 0) close(fd);
    return port;
}

std::string OkResponse(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

std::string PercentDecode(const std::string& text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

}  // namespace loopback
