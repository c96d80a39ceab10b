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
// The page is loaded again at most three times in any minute; past that, the handler's fallback
// page comes, with a line saying what happened, and should that end too, it comes again after a
// pause that doubles each time, so a page that keeps killing its process cannot keep the program
// busy, and the panel is never left empty. Once the minute has passed, a loss reloads the page
// itself again. Every loss is logged. GUI thread.
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
    static gboolean OnRetry(gpointer self);
    void Recover(const std::string& shown);
    // Loads `page`: the handler's page, or the fallback (gaveUp_).
    void Load(const std::string& page);
    std::string PageFor(bool givingUp, const std::string& shown);

    WebKitWebView* view_;
    std::function<std::string(bool givingUp)> handler_;
    // When pages were loaded again within the last minute (monotonic microseconds).
    std::deque<gint64> reloads_;
    gint64 minute_;
    gint64 firstPause_;
    gint64 pause_;     // before the next try once the fallback page's process ended too
    guint retry_ = 0;  // that try's timeout
    bool gaveUp_ = false;
    // The fallback page is loading: the notice goes on it once it has.
    bool noticePending_ = false;
    // Deferred reloads hold a weak copy: expired once this object or its view is gone.
    std::shared_ptr<int> token_ = std::make_shared<int>(0);
};

}  // namespace os::detail
