#include <gio/gio.h>
#include <unistd.h>

#include <cstring>

#include <algorithm>
#include <exception>
#include <map>
#include <vector>

#include "os/DiagnosticLog.h"
#include "os/linux/BridgeProtocol.h"
#include "os/linux/WebHost.h"

namespace os::detail {
namespace {

std::vector<BridgeCallSink*>& Sinks() {
    static std::vector<BridgeCallSink*> sinks;
    return sinks;
}

// Page ids may change when WebKit swaps processes, so the view is looked up at each call.
BridgeCallSink* FindSink(uint64_t pageId) {
    for (BridgeCallSink* sink : Sinks()) {
        WebKitWebView* view = sink->BridgeView();
        if (view != nullptr && webkit_web_view_get_page_id(view) == pageId) return sink;
    }
    return nullptr;
}

struct Connection;

// Views whose page has proved, with the token it was sent through WebKit, which socket its
// process holds: page function calls for them go over that socket.
std::map<BridgeCallSink*, Connection*>& Bindings() {
    static std::map<BridgeCallSink*, Connection*> bindings;
    return bindings;
}
std::map<std::string, BridgeCallSink*>& PendingBindings() {
    static std::map<std::string, BridgeCallSink*> pending;
    return pending;
}

struct Connection {
    GSocket* socket = nullptr;
    std::string inbox;
    // The rest of an oversized request, dropped as it arrives rather than kept, and the
    // sequence its error answer goes out with once it has passed.
    uint64_t skipping = 0;
    uint32_t skippedSequence = 0;
    // Bytes not yet taken by a web process that is busy: page function calls never block the
    // GUI thread, so what does not fit goes out when the socket can take it.
    std::string outbox;
    GSource* writeSource = nullptr;
    ~Connection() {
        std::erase_if(Bindings(), [this](const auto& binding) { return binding.second == this; });
        if (writeSource != nullptr) {
            g_source_destroy(writeSource);
            g_source_unref(writeSource);
        }
        if (socket != nullptr) {
            g_socket_close(socket, nullptr);
            g_object_unref(socket);
        }
    }
};

// A page that never reads would otherwise make the program hold its calls without bound.
constexpr size_t kMaxOutbox = 16u << 20;

bridge::Reply Answer(bridge::Request& request) {
    bridge::Reply reply;
    reply.sequence = request.sequence;
    BridgeCallSink* sink = FindSink(request.pageId);
    if (sink == nullptr) {
        reply.text = "window.external: the page's panel is gone";
        LogFailure("bridge call refused", reply.text + " (" + request.url + ")");
        return reply;
    }
    std::optional<std::string> result;
    try {
        result = sink->OnBridgeCall(
            request.url,
            request.hasParam ? std::optional<std::string>(std::move(request.param)) : std::nullopt);
    } catch (const std::exception& e) {
        reply.text = std::string("window.external: ") + e.what();
        LogFailure("bridge call failed", reply.text);
        return reply;
    } catch (...) {
        reply.text = "window.external: the command failed";
        LogFailure("bridge call failed", reply.text);
        return reply;
    }
    // `sink` may be gone now (the command closed its panel); only the result is read.
    if (result) {
        reply.status = bridge::kReplyResult;
        reply.text = std::move(*result);
    } else {
        reply.status = bridge::kReplyNoTarget;
    }
    return reply;
}

bool SendAll(GSocket* socket, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const gssize n = g_socket_send_with_blocking(socket, bytes.data() + sent,
                                                     bytes.size() - sent, TRUE, nullptr, nullptr);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Sends what the outbox holds as far as the socket takes it; false when the socket broke.
bool FlushOutbox(Connection& connection, bool blocking) {
    size_t sent = 0;
    bool broken = false;
    while (sent < connection.outbox.size()) {
        GError* error = nullptr;
        const gssize n =
            g_socket_send_with_blocking(connection.socket, connection.outbox.data() + sent,
                                        connection.outbox.size() - sent, blocking, nullptr, &error);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        broken = error == nullptr || !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK);
        if (error != nullptr) g_error_free(error);
        break;
    }
    connection.outbox.erase(0, sent);
    return !broken;
}

gboolean OnWritable(GSocket*, GIOCondition, gpointer data) {
    auto* connection = static_cast<Connection*>(data);
    const bool open = FlushOutbox(*connection, false);
    if (open && !connection->outbox.empty()) return G_SOURCE_CONTINUE;
    g_source_unref(connection->writeSource);
    connection->writeSource = nullptr;
    return G_SOURCE_REMOVE;  // a broken socket ends on the reading side
}

// A long text goes out from where it is rather than copied into one frame first; a short
// reply goes in one write, so the page wakes once for it. The page waits for this answer, so
// the sending blocks; page function calls still waiting go first, as they were sent first.
bool SendReply(Connection& connection, const bridge::Reply& reply) {
    constexpr size_t kSendInPlaceFrom = 64 * 1024;
    if (!connection.outbox.empty()) {
        connection.outbox += bridge::EncodeReply(reply);
        return FlushOutbox(connection, true);
    }
    if (reply.text.size() < kSendInPlaceFrom)
        return SendAll(connection.socket, bridge::EncodeReply(reply));
    return SendAll(connection.socket,
                   bridge::EncodeReplyHead(reply.sequence, reply.status, reply.text.size())) &&
           SendAll(connection.socket, reply.text);
}

// The answer to a request that is refused unread: an error the calling page gets as its own.
bool SendRefusal(Connection& connection, uint32_t sequence, const char* why) {
    bridge::Reply reply;
    reply.sequence = sequence;
    reply.status = bridge::kReplyError;
    reply.text = std::string("window.external: ") + why;
    LogWarning("bridge call refused", why);
    return SendReply(connection, reply);
}

// A page's proof that it lives behind `connection`: the token the program sent it through
// WebKit, which only the page's own process could have received.
void Bind(Connection& connection, const bridge::Request& request) {
    const auto pending = PendingBindings().find(request.param);
    if (pending == PendingBindings().end()) return;
    BridgeCallSink* sink = pending->second;
    WebKitWebView* view = sink->BridgeView();
    if (view == nullptr || webkit_web_view_get_page_id(view) != request.pageId) return;
    PendingBindings().erase(pending);
    Bindings()[sink] = &connection;
    sink->OnBridgeBound();
}

// Takes bytes of an oversized request off `data`; once the whole request has passed, it is
// answered. False when the stream is broken.
bool Skip(Connection& connection, const char*& data, size_t& size) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(connection.skipping, size));
    connection.skipping -= n;
    data += n;
    size -= n;
    if (connection.skipping > 0) return true;
    return SendRefusal(connection, connection.skippedSequence,
                       "the request is larger than the bridge takes");
}

// Handles every whole request in the inbox; false when the stream is broken. A request that is
// too large or does not decode is answered with an error and the stream goes on after it: one
// frame's bad request must not cut off the other frames of the same web process.
bool ServeInbox(Connection& connection) {
    for (;;) {
        std::string& inbox = connection.inbox;
        if (connection.skipping > 0 || inbox.size() < sizeof(uint32_t)) return true;
        uint32_t size = 0;
        std::memcpy(&size, inbox.data(), sizeof size);
        if (size > bridge::kMaxFrame) {
            // The sequence leads the body: wait for it, then let the rest go by unread.
            if (inbox.size() < 2 * sizeof(uint32_t)) return true;
            std::memcpy(&connection.skippedSequence, inbox.data() + sizeof size, sizeof(uint32_t));
            connection.skipping = size - sizeof(uint32_t);
            const char* rest = inbox.data() + 2 * sizeof(uint32_t);
            size_t restSize = inbox.size() - 2 * sizeof(uint32_t);
            if (!Skip(connection, rest, restSize)) return false;
            inbox.erase(0, inbox.size() - restSize);
            continue;
        }
        if (inbox.size() - sizeof size < size) return true;
        bridge::Request request;
        const bool decoded = bridge::DecodeRequest(inbox.data() + sizeof size, size, request);
        uint32_t sequence = 0;
        if (size >= sizeof sequence)
            std::memcpy(&sequence, inbox.data() + sizeof size, sizeof sequence);
        inbox.erase(0, sizeof size + size);
        if (decoded && request.sequence == 0) {
            Bind(connection, request);
            continue;
        }
        const bool sent = decoded
                              ? SendReply(connection, Answer(request))
                              : SendRefusal(connection, sequence, "the request does not decode");
        if (!sent) return false;
    }
}

gboolean OnReadable(GSocket* socket, GIOCondition condition, gpointer data) {
    auto* connection = static_cast<Connection*>(data);
    if (condition & (G_IO_ERR | G_IO_NVAL)) return G_SOURCE_REMOVE;
    // Large enough that a 100 KiB argument arrives in a few reads.
    char buffer[65536];
    for (;;) {
        GError* error = nullptr;
        const gssize n =
            g_socket_receive_with_blocking(socket, buffer, sizeof buffer, FALSE, nullptr, &error);
        if (n > 0) {
            const char* data = buffer;
            size_t size = static_cast<size_t>(n);
            if (connection->skipping > 0 && !Skip(*connection, data, size)) return G_SOURCE_REMOVE;
            connection->inbox.append(data, size);
            if (connection->skipping == 0 && !ServeInbox(*connection)) return G_SOURCE_REMOVE;
            continue;
        }
        const bool wouldBlock =
            error != nullptr && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK);
        if (error != nullptr) g_error_free(error);
        if (!wouldBlock) return G_SOURCE_REMOVE;  // end of file or a broken socket
        break;
    }
    return ServeInbox(*connection) ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void DeleteConnection(gpointer data) {
    delete static_cast<Connection*>(data);
}

}  // namespace

void AddBridgeSink(BridgeCallSink* sink) {
    Sinks().push_back(sink);
}

void RemoveBridgeSink(BridgeCallSink* sink) {
    std::erase(Sinks(), sink);
    ForgetBridgeBinding(sink);
}

void ExpectBridgeBinding(BridgeCallSink* sink, const std::string& token) {
    ForgetBridgeBinding(sink);
    PendingBindings()[token] = sink;
}

void ForgetBridgeBinding(BridgeCallSink* sink) {
    Bindings().erase(sink);
    std::erase_if(PendingBindings(),
                  [sink](const auto& pending) { return pending.second == sink; });
}

bool SendBoundPageCall(BridgeCallSink* sink, uint64_t pageId, const std::string& name,
                       const std::vector<std::string>& args) {
    const auto bound = Bindings().find(sink);
    if (bound == Bindings().end()) return false;
    Connection& connection = *bound->second;
    const std::string text = bridge::EncodeNotify(pageId, name, args);
    if (connection.outbox.size() + text.size() > kMaxOutbox) {
        LogWarning("page call dropped", "the page has not read its earlier calls");
        return true;
    }
    connection.outbox += bridge::EncodeReplyHead(0, bridge::kReplyNotify, text.size(), text.size());
    connection.outbox += text;
    if (FlushOutbox(connection, false) && !connection.outbox.empty() &&
        connection.writeSource == nullptr) {
        connection.writeSource = g_socket_create_source(connection.socket, G_IO_OUT, nullptr);
        g_source_set_callback(connection.writeSource, G_SOURCE_FUNC(OnWritable), &connection,
                              nullptr);
        g_source_attach(connection.writeSource, nullptr);
    }
    return true;
}

void ServeBridgeSocket(int fd) {
    GSocket* socket = g_socket_new_from_fd(fd, nullptr);
    if (socket == nullptr) {
        close(fd);
        return;
    }
    g_socket_set_blocking(socket, FALSE);
    auto* connection = new Connection;
    connection->socket = socket;
    GSource* source = g_socket_create_source(socket, G_IO_IN, nullptr);
    g_source_set_callback(source, G_SOURCE_FUNC(OnReadable), connection, DeleteConnection);
    g_source_attach(source, nullptr);
    g_source_unref(source);
}

}  // namespace os::detail
