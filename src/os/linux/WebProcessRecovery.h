#pragma once
// Internal to the Linux OS layer: what a web view does when its web process ends.
#include <webkit2/webkit2.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace os::detail {

// Brings a view's page back after its web process ended (a crash, a kill, out of memory):
// WebKit leaves the view blank until something is loaded, and starts a new process for it.
// The page is loaded again at most three times a minute; past that, the handler's fallback
// page stays, with a line saying what happened, so a page that keeps killing its process
// cannot keep the program busy. Every loss is logged. GUI thread.
class WebProcessRecovery {
  public:
    explicit WebProcessRecovery(WebKitWebView* view);
    ~WebProcessRecovery();
    WebProcessRecovery(const WebProcessRecovery&) = delete;
    WebProcessRecovery& operator=(const WebProcessRecovery&) = delete;

    // See os::WebView::SetRecoveryHandler.
    void SetHandler(std::function<std::string(bool givingUp)> handler) {
        handler_ = std::move(handler);
    }
    // The view is going: nothing more is recovered.
    void Detach();

  private:
    static void OnTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                             gpointer self);
    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent load, gpointer self);
    static gboolean OnIdle(gpointer data);
    void Recover(const std::string& shown);
    std::string PageFor(bool givingUp, const std::string& shown);

    WebKitWebView* view_;
    std::function<std::string(bool givingUp)> handler_;
    // When pages were loaded again within the last minute (monotonic microseconds).
    std::deque<gint64> reloads_;
    bool gaveUp_ = false;
    // The fallback page is loading: the notice goes on it once it has.
    bool noticePending_ = false;
    // Deferred reloads hold a weak copy: expired once this object or its view is gone.
    std::shared_ptr<int> token_ = std::make_shared<int>(0);
};

}  // namespace os::detail
