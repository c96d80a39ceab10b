#pragma once
// Internal to the Linux OS layer: how a view's calls of page functions reach its page.
#include <webkit2/webkit2.h>

#include <string>
#include <utility>
#include <vector>

#include "os/linux/WebHost.h"

namespace os::detail {

// A call of a page function goes over the page process's bridge socket once the page has
// bound it: one write and one wake-up of the page's thread, where a WebKit message costs two
// thread hops and its encodings on both sides. Each committed document binds afresh (it may
// live in another process). Calls made while a binding is on its way wait for it, so none
// overtakes an earlier one; a page that never binds gets them through WebKit's messages.
// GUI thread.
class PageCallChannel {
  public:
    PageCallChannel(WebKitWebView* view, BridgeCallSink* sink) : view_(view), sink_(sink) {}
    ~PageCallChannel() { Detach(); }
    PageCallChannel(const PageCallChannel&) = delete;
    PageCallChannel& operator=(const PageCallChannel&) = delete;

    void Call(const std::string& name, const std::vector<std::string>& args);
    // A new document was committed: what waited goes to it, and it binds afresh.
    void OnCommitted();
    void OnBound();
    // The view is going.
    void Detach();

  private:
    static gboolean OnBindTimeout(gpointer self);
    void SendByMessage(const std::string& name, const std::vector<std::string>& args);
    void SendWaiting(bool bound);

    WebKitWebView* view_;
    BridgeCallSink* sink_;
    bool binding_ = false;
    guint bindTimeout_ = 0;
    std::vector<std::pair<std::string, std::vector<std::string>>> waiting_;
};

}  // namespace os::detail
