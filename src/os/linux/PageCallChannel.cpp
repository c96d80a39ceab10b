#include "os/linux/PageCallChannel.h"

#include <sys/random.h>

#include "os/linux/BridgeProtocol.h"

namespace os::detail {
namespace {

// A page that has not bound by then is not going to (no extension, or a page without one).
constexpr guint kBindWaitMs = 500;

// A token no other process can guess: only the page it was sent to can bind with it.
std::string NewToken() {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n <= 0) return {};
        got += static_cast<size_t>(n);
    }
    static const char* digits = "0123456789abcdef";
    std::string token;
    for (const unsigned char byte : bytes) {
        token += digits[byte >> 4];
        token += digits[byte & 15];
    }
    return token;
}

}  // namespace

void PageCallChannel::Call(const std::string& name, const std::vector<std::string>& args) {
    if (view_ == nullptr) return;
    if (binding_) {
        waiting_.emplace_back(name, args);
        return;
    }
    if (!SendBoundPageCall(sink_, webkit_web_view_get_page_id(view_), name, args))
        SendByMessage(name, args);
}

void PageCallChannel::SendByMessage(const std::string& name, const std::vector<std::string>& args) {
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("aay"));
    for (const std::string& arg : args)
        g_variant_builder_add_value(
            &list, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, arg.data(), arg.size(), 1));
    GVariant* parameters = g_variant_new("(saay)", name.c_str(), &list);
    webkit_web_view_send_message_to_page(
        view_, webkit_user_message_new(bridge::kCallFunctionMessage, parameters), nullptr, nullptr,
        nullptr);
}

void PageCallChannel::OnCommitted() {
    if (view_ == nullptr) return;
    SendWaiting(false);
    const std::string token = NewToken();
    if (token.empty()) {
        ForgetBridgeBinding(sink_);
        return;
    }
    ExpectBridgeBinding(sink_, token);
    binding_ = true;
    webkit_web_view_send_message_to_page(
        view_, webkit_user_message_new(bridge::kBindMessage, g_variant_new("(s)", token.c_str())),
        nullptr, nullptr, nullptr);
    bindTimeout_ = g_timeout_add(kBindWaitMs, OnBindTimeout, this);
}

void PageCallChannel::OnBound() {
    SendWaiting(true);
}

gboolean PageCallChannel::OnBindTimeout(gpointer self) {
    auto* channel = static_cast<PageCallChannel*>(self);
    channel->bindTimeout_ = 0;
    ForgetBridgeBinding(channel->sink_);
    channel->SendWaiting(false);
    return G_SOURCE_REMOVE;
}

// Ends the wait for a binding: what waited goes over the socket when the page bound it,
// else through WebKit's messages, in the order it was made.
void PageCallChannel::SendWaiting(bool bound) {
    binding_ = false;
    if (bindTimeout_ != 0) g_source_remove(bindTimeout_);
    bindTimeout_ = 0;
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (const auto& [name, args] : waiting) {
        if (view_ == nullptr) return;
        if (!bound || !SendBoundPageCall(sink_, webkit_web_view_get_page_id(view_), name, args))
            SendByMessage(name, args);
    }
}

void PageCallChannel::Detach() {
    if (bindTimeout_ != 0) g_source_remove(bindTimeout_);
    bindTimeout_ = 0;
    binding_ = false;
    waiting_.clear();
    view_ = nullptr;
}

}  // namespace os::detail
