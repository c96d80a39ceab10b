#include "os/linux/WebProcessRecovery.h"

#include <algorithm>
#include <cstdlib>

#include "BuildConfig.h"
#include "os/DiagnosticLog.h"

namespace os::detail {
namespace {

constexpr size_t kReloadsPerMinute = 3;

// The budget's minute, in monotonic microseconds; tests shorten it so a renewal takes seconds.
gint64 BudgetMinute() {
#if MAPLENOOK_TEST_HOOKS
    if (const char* ms = std::getenv("MAPLENOOK_TEST_RECOVERY_MINUTE_MS"); ms && std::atoi(ms) > 0)
        return static_cast<gint64>(std::atoi(ms)) * 1000;
#endif
    return 60 * G_USEC_PER_SEC;
}

// A line at the foot of the fallback page, in the accessible tree as a status.
constexpr const char* kNoticeScript = R"JS((function (text) {
  var line = document.createElement('div');
  line.setAttribute('role', 'status');
  line.id = 'maplenook-process-notice';
  line.textContent = text;
  line.style.cssText = 'position:fixed;left:0;right:0;bottom:0;z-index:2147483647;' +
      'padding:6px 10px;background:#fff4ce;color:#3b2f00;font:13px sans-serif;';
  (document.body || document.documentElement).appendChild(line);
})('页面进程接连意外退出，已改为显示本地页面。'))JS";

// When the view has no fallback page of its own.
constexpr const char* kNoticePage =
    "<!doctype html><html><head><meta charset=utf-8></head><body style=\"font:14px "
    "sans-serif;padding:16px\"><p role=status>页面进程接连意外退出，页面已不再重新载入。</p>"
    "</body></html>";

const char* ReasonText(WebKitWebProcessTerminationReason reason) {
    switch (reason) {
        case WEBKIT_WEB_PROCESS_CRASHED:
            return "crashed or was killed";
        case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT:
            return "exceeded its memory limit";
        case WEBKIT_WEB_PROCESS_TERMINATED_BY_API:
            return "was ended by the program";
    }
    return "ended";
}

struct PendingRecovery {
    std::weak_ptr<int> token;
    WebProcessRecovery* recovery;
    std::string shown;
};

}  // namespace

WebProcessRecovery::WebProcessRecovery(WebKitWebView* view)
    : view_(view), minute_(BudgetMinute()), firstPause_(minute_ / 12), pause_(firstPause_) {
    g_signal_connect(view_, "web-process-terminated", G_CALLBACK(OnTerminated), this);
    g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
}

WebProcessRecovery::~WebProcessRecovery() {
    Detach();
}

void WebProcessRecovery::Detach() {
    if (retry_ != 0) g_source_remove(retry_);
    retry_ = 0;
    if (view_ != nullptr) g_signal_handlers_disconnect_by_data(view_, this);
    view_ = nullptr;
    token_.reset();
}

void WebProcessRecovery::OnTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason,
                                      gpointer self) {
    const char* uri = webkit_web_view_get_uri(view);
    const std::string shown = uri ? uri : "";
    LogWarning("web page process ended", std::string(ReasonText(reason)) + " while showing " +
                                             (shown.empty() ? std::string("nothing") : shown));
    // Loaded from the main loop rather than from inside WebKit's report of the loss.
    auto* recovery = static_cast<WebProcessRecovery*>(self);
    g_idle_add(OnIdle, new PendingRecovery{recovery->token_, recovery, shown});
}

gboolean WebProcessRecovery::OnIdle(gpointer data) {
    std::unique_ptr<PendingRecovery> pending(static_cast<PendingRecovery*>(data));
    if (!pending->token.expired()) pending->recovery->Recover(pending->shown);
    return G_SOURCE_REMOVE;
}

std::string WebProcessRecovery::PageFor(bool givingUp, const std::string& shown) {
    // Copied first: the handler may replace itself.
    auto handler = handler_;
    std::string page = handler ? handler(givingUp) : std::string();
    if (page.empty() && !givingUp) page = shown;
    return page;
}

void WebProcessRecovery::Recover(const std::string& shown) {
    if (view_ == nullptr || retry_ != 0) return;
    const gint64 now = g_get_monotonic_time();
    while (!reloads_.empty() && now - reloads_.front() >= minute_) reloads_.pop_front();
    if (reloads_.size() >= kReloadsPerMinute) {
        if (gaveUp_) {
            // The fallback page's process ended too: a quiet pause, longer each time, then the
            // fallback page again, so the panel is never left empty for good.
            LogWarning("web page not loaded again yet",
                       "its process keeps ending; next try in " +
                           std::to_string(pause_ / G_USEC_PER_SEC) + " s");
            retry_ = g_timeout_add(static_cast<guint>(pause_ / 1000), OnRetry, this);
            pause_ = std::min(pause_ * 2, 10 * minute_);
            return;
        }
        gaveUp_ = true;
    } else {
        // The budget renewed: the page itself is loaded again, and pauses start short.
        reloads_.push_back(now);
        gaveUp_ = false;
        pause_ = firstPause_;
    }
    Load(PageFor(gaveUp_, shown));
}

gboolean WebProcessRecovery::OnRetry(gpointer self) {
    auto* recovery = static_cast<WebProcessRecovery*>(self);
    recovery->retry_ = 0;
    recovery->Load(recovery->PageFor(true, std::string()));
    return G_SOURCE_REMOVE;
}

void WebProcessRecovery::Load(const std::string& page) {
    if (page.empty() && !gaveUp_) {
        LogWarning("web page not loaded again", "the view showed no page");
        return;
    }
    if (page.empty()) {
        LogWarning("web page not loaded again", "its process keeps ending; a notice is shown");
        webkit_web_view_load_html(view_, kNoticePage, nullptr);
        return;
    }
    LogWarning(gaveUp_ ? "web page replaced by the fallback page" : "web page loaded again", page);
    noticePending_ = gaveUp_;
    webkit_web_view_load_uri(view_, page.c_str());
}

void WebProcessRecovery::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent load, gpointer self) {
    auto* recovery = static_cast<WebProcessRecovery*>(self);
    if (load != WEBKIT_LOAD_FINISHED || !recovery->noticePending_) return;
    recovery->noticePending_ = false;
    webkit_web_view_evaluate_javascript(view, kNoticeScript, -1, nullptr, nullptr, nullptr, nullptr,
                                        nullptr);
}

}  // namespace os::detail
