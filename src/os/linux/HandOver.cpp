#include "os/HandOver.h"

#include <gio/gio.h>
#include <gio/gunixsocketaddress.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "os/DiagnosticLog.h"
#include "os/linux/UniqueFd.h"
#include "os/linux/WriteAll.h"

// The exchange is one line each way: the request's dwData in decimal, then the answer. A request
// may carry the asking user action's X server time after a space; servers that read only the
// number ignore it, and a request without it reads as time 0.

namespace os {
namespace {

constexpr size_t kMaxLine = 32;
// Connections served at once; more are closed unanswered, so idle peers cannot pile up
// descriptors.
constexpr size_t kMaxOpenConnections = 8;

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

using Fd = detail::UniqueFd;

}  // namespace

std::string HandOverAddress(const std::string& runtimeFolder, long windowHandle) {
    const int32_t handle = static_cast<int32_t>(static_cast<uint32_t>(windowHandle));
    return runtimeFolder + "/maplenook_wnd_" + std::to_string(handle);
}

long SendHandOverRequest(const std::string& socketPath, unsigned long dwData, int timeoutMs) {
    return SendHandOverRequest(socketPath, HandOverRequest{dwData, 0}, timeoutMs);
}

long SendHandOverRequest(const std::string& socketPath, const HandOverRequest& handOver,
                         int timeoutMs) {
    sockaddr_un address{};
    if (!MakeAddress(socketPath, address)) return 0;
    const Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return 0;
    if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return 0;
    }
    std::string request = std::to_string(handOver.dwData);
    if (handOver.userTime != 0) request += " " + std::to_string(handOver.userTime & 0xFFFFFFFFul);
    request += "\n";
    if (!detail::WriteAllTo(fd.get(), request.data(), request.size(), detail::Descriptor::Socket))
        return 0;
    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (answer.find('\n') == std::string::npos && answer.size() < kMaxLine) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return 0;
        pollfd p{fd.get(), POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return 0;
        char chunk[kMaxLine];
        const ssize_t n = recv(fd.get(), chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        answer.append(chunk, static_cast<size_t>(n));
    }
    if (answer.find('\n') == std::string::npos) return 0;  // the server went away mid-answer
    return std::strtol(answer.c_str(), nullptr, 10);
}

struct HandOverServerState {
    std::string path;
    std::function<long(const HandOverRequest&)> handler;  // emptied when the server is destroyed
    GSocketService* service = nullptr;
    unsigned idleTimeoutMs = 2000;
    size_t open = 0;  // connections being served
};

namespace {

// One connection: its request line is read and its answer written without blocking the GUI
// thread; a peer that has not sent its request in time is dropped.
struct Exchange {
    std::shared_ptr<HandOverServerState> state;
    GSocketConnection* connection = nullptr;
    GCancellable* cancel = nullptr;
    guint timer = 0;
    std::string request;
    std::string answer;
    char buffer[kMaxLine] = {};
};

void Finish(Exchange* exchange) {
    if (exchange->timer != 0) g_source_remove(exchange->timer);
    g_io_stream_close(G_IO_STREAM(exchange->connection), nullptr, nullptr);
    g_object_unref(exchange->connection);
    g_object_unref(exchange->cancel);
    --exchange->state->open;
    delete exchange;
}

gboolean OnIdleTooLong(gpointer data) {
    auto* exchange = static_cast<Exchange*>(data);
    exchange->timer = 0;
    // The pending read or write ends with "cancelled", and its callback finishes the exchange.
    g_cancellable_cancel(exchange->cancel);
    return G_SOURCE_REMOVE;
}

void OnAnswerWritten(GObject* source, GAsyncResult* result, gpointer data) {
    g_output_stream_write_all_finish(G_OUTPUT_STREAM(source), result, nullptr, nullptr);
    Finish(static_cast<Exchange*>(data));
}

void OnRequestRead(GObject* source, GAsyncResult* result, gpointer data) {
    auto* exchange = static_cast<Exchange*>(data);
    const gssize n = g_input_stream_read_finish(G_INPUT_STREAM(source), result, nullptr);
    if (n > 0) exchange->request.append(exchange->buffer, static_cast<size_t>(n));
    const bool complete = exchange->request.find('\n') != std::string::npos;
    if (n > 0 && !complete && exchange->request.size() < kMaxLine) {
        g_input_stream_read_async(G_INPUT_STREAM(source), exchange->buffer, sizeof exchange->buffer,
                                  G_PRIORITY_DEFAULT, exchange->cancel, OnRequestRead, exchange);
        return;
    }
    auto& handler = exchange->state->handler;
    if (!complete || !handler) {
        if (!complete) LogFailure("hand-over dropped", "no whole request line");
        Finish(exchange);
        return;
    }
    HandOverRequest request;
    char* rest = nullptr;
    request.dwData = std::strtoul(exchange->request.c_str(), &rest, 10);
    if (rest != nullptr && *rest == ' ') {
        const unsigned long long time = std::strtoull(rest + 1, nullptr, 10);
        if (time <= 0xFFFFFFFFull) request.userTime = static_cast<unsigned long>(time);
    }
    exchange->answer = std::to_string(handler(request)) + "\n";
    GOutputStream* out = g_io_stream_get_output_stream(G_IO_STREAM(exchange->connection));
    g_output_stream_write_all_async(out, exchange->answer.data(), exchange->answer.size(),
                                    G_PRIORITY_DEFAULT, exchange->cancel, OnAnswerWritten,
                                    exchange);
}

gboolean OnIncoming(GSocketService*, GSocketConnection* connection, GObject*, gpointer data) {
    const auto& state = *static_cast<std::shared_ptr<HandOverServerState>*>(data);
    if (state->open >= kMaxOpenConnections) {
        // Refused: the peer sees the connection closed at once and takes it as no answer.
        LogFailure("hand-over refused", "too many open connections");
        g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
        return TRUE;
    }
    ++state->open;
    auto* exchange = new Exchange;
    exchange->state = state;
    exchange->connection = G_SOCKET_CONNECTION(g_object_ref(connection));
    exchange->cancel = g_cancellable_new();
    exchange->timer = g_timeout_add(state->idleTimeoutMs, OnIdleTooLong, exchange);
    GInputStream* in = g_io_stream_get_input_stream(G_IO_STREAM(connection));
    g_input_stream_read_async(in, exchange->buffer, sizeof exchange->buffer, G_PRIORITY_DEFAULT,
                              exchange->cancel, OnRequestRead, exchange);
    return TRUE;
}

void DeleteStateRef(gpointer data, GClosure*) {
    delete static_cast<std::shared_ptr<HandOverServerState>*>(data);
}

}  // namespace

HandOverServer::HandOverServer(const std::string& socketPath,
                               std::function<long(unsigned long)> handler, unsigned idleTimeoutMs)
    : HandOverServer(
          socketPath,
          [handler = std::move(handler)](const HandOverRequest& request) {
              return handler(request.dwData);
          },
          idleTimeoutMs) {}

HandOverServer::HandOverServer(const std::string& socketPath,
                               std::function<long(const HandOverRequest&)> handler,
                               unsigned idleTimeoutMs)
    : state_(std::make_shared<HandOverServerState>()) {
    state_->path = socketPath;
    state_->handler = std::move(handler);
    state_->idleTimeoutMs = idleTimeoutMs;
    sockaddr_un check{};
    if (!MakeAddress(socketPath, check)) return;
    // Only a socket is replaced: a socket file left behind by a crashed run has this name.
    struct stat st {};
    if (lstat(socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(socketPath.c_str());

    GSocketService* service = g_socket_service_new();
    GSocketAddress* address = g_unix_socket_address_new(socketPath.c_str());
    const gboolean added =
        g_socket_listener_add_address(G_SOCKET_LISTENER(service), address, G_SOCKET_TYPE_STREAM,
                                      G_SOCKET_PROTOCOL_DEFAULT, nullptr, nullptr, nullptr);
    g_object_unref(address);
    if (!added) {
        LogFailure("hand-over not offered", "cannot listen on " + socketPath);
        g_object_unref(service);
        return;
    }
    g_signal_connect_data(service, "incoming", G_CALLBACK(OnIncoming),
                          new std::shared_ptr<HandOverServerState>(state_), DeleteStateRef,
                          GConnectFlags{});
    g_socket_service_start(service);
    state_->service = service;
}

HandOverServer::~HandOverServer() {
    state_->handler = nullptr;
    if (state_->service == nullptr) return;
    g_socket_service_stop(state_->service);
    g_socket_listener_close(G_SOCKET_LISTENER(state_->service));
    g_object_unref(state_->service);
    unlink(state_->path.c_str());
}

bool HandOverServer::Serving() const {
    return state_->service != nullptr;
}

}  // namespace os
