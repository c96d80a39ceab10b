#include <gtk/gtk.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "os/PanelEventCodes.h"
#include "os/WebView.h"
#include "os/linux/BridgeProtocol.h"
#include "os/linux/PageCallChannel.h"
#include "os/linux/WebHost.h"
#include "os/linux/WebProcessRecovery.h"
#include "os/linux/WindowGtk.h"

namespace os {
namespace detail {
namespace {

// The colour the page paints first: its body's background colour, else the first colour of its
// background image (a gradient), else the root element's; empty when there is none.
constexpr const char* kPageBackgroundScript = R"JS((function () {
  function first(el) {
    if (!el) return '';
    var s = getComputedStyle(el);
    if (s.backgroundColor && !/rgba\(.*,\s*0\)$/.test(s.backgroundColor) &&
        s.backgroundColor !== 'transparent') return s.backgroundColor;
    var m = /rgba?\([^)]*\)|#[0-9a-fA-F]{3,8}/.exec(s.backgroundImage || '');
    return m ? m[0] : '';
  }
  return first(document.body) || first(document.documentElement) || '';
})())JS";

// Settles once the page's first frames have been painted and reached the view: a hidden page
// runs no animation frames, and the view shows a frame only a frame or two after the page
// painted it, so a few frames are awaited.
constexpr const char* kPaintedScript = R"JS(return new Promise(function (done) {
  var n = 0; (function f() { if (++n > 5) done(true); else requestAnimationFrame(f); })();
});)JS";

constexpr const char* kNoScrollbarsCss = "::-webkit-scrollbar { display: none !important; }";

class WebViewGtk final : public WebView, public BridgeCallSink, public WindowContent {
  public:
    WebViewGtk(WindowGtk& host, const WebViewOptions& options);
    ~WebViewGtk() override;
    WebViewGtk(const WebViewGtk&) = delete;
    WebViewGtk& operator=(const WebViewGtk&) = delete;

    bool IsAlive() const override { return view_ != nullptr; }
    void SetBounds(const Rect& rect) override;
    void SetEventHandler(std::function<void(WebEvent&)> handler) override {
        event_ = std::move(handler);
    }
    void SetBridgeHandler(
        std::function<std::optional<std::string>(const BridgeCall&)> handler) override {
        bridge_ = std::move(handler);
    }
    void LoadUri(const std::string& uri) override {
        if (view_) webkit_web_view_load_uri(view_, uri.c_str());
    }
    std::string CurrentUri() const override {
        const char* uri = view_ ? webkit_web_view_get_uri(view_) : nullptr;
        return uri ? uri : "";
    }
    void RunScript(const std::string& script) override {
        if (view_) {
            webkit_web_view_evaluate_javascript(view_, script.c_str(), -1, nullptr, nullptr,
                                                nullptr, nullptr, nullptr);
        }
    }
    void CallPageFunction(const std::string& name, const std::vector<std::string>& args) override;
    void SetRecoveryHandler(std::function<std::string(bool givingUp)> handler) override {
        if (recovery_) recovery_->SetHandler(std::move(handler));
    }

    // --- BridgeCallSink ---
    WebKitWebView* BridgeView() const override { return view_; }
    std::optional<std::string> OnBridgeCall(const std::string& documentUrl,
                                            std::optional<std::string> param) override;
    void OnBridgeBound() override {
        if (calls_) calls_->OnBound();
    }

    // --- WindowContent ---
    bool HasPage() const override { return view_ && webkit_web_view_get_uri(view_) != nullptr; }
    void AwaitFirstFrame(std::function<void()> painted) override;
    void FitToClient(Size client) override;

  private:
    // Copies the handler first: it may destroy this view, or even this object.
    void Raise(WebEvent& event) {
        if (!event_) return;
        auto handler = event_;
        handler(event);
    }

    static void OnViewDestroy(GtkWidget*, gpointer self);
    static void OnPainted(GObject* view, GAsyncResult* result, gpointer data);
    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent load, gpointer self);
    static void OnPageBackground(GObject* view, GAsyncResult* result, gpointer data);
    struct PendingCompletion {
        std::weak_ptr<int> token;
        WebViewGtk* view;
        std::string url;
    };
    static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                 gpointer self);
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer self);
    static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self);
    static void OnTitle(GObject*, GParamSpec*, gpointer self);
    static void OnProgress(GObject*, GParamSpec*, gpointer self);
    static void OnClose(WebKitWebView*, gpointer self);
    static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                                  WebKitHitTestResult*, gpointer self);

    // Null once the window is gone: the view goes with it.
    WindowGtk* host_;
    WebKitWebView* view_ = nullptr;
    // HTTP status of a main-page answer refused as an error, reported with the failed load.
    unsigned httpErrorStatus_ = 0;
    bool coversClient_ = true;
    // Asynchronous callbacks hold a weak copy: expired once the view is destroyed.
    std::shared_ptr<int> token_ = std::make_shared<int>(0);
    std::function<void(WebEvent&)> event_;
    std::function<std::optional<std::string>(const BridgeCall&)> bridge_;
    std::unique_ptr<WebProcessRecovery> recovery_;
    std::unique_ptr<PageCallChannel> calls_;
};

WebViewGtk* Self(gpointer self) {
    return static_cast<WebViewGtk*>(self);
}

WebViewGtk::WebViewGtk(WindowGtk& host, const WebViewOptions& options) : host_(&host) {
    WebKitWebContext* context = WebContextFor(options.dataFolder);
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    if (!options.showScrollbars) {
        WebKitUserStyleSheet* sheet =
            webkit_user_style_sheet_new(kNoScrollbarsCss, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                        WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
        webkit_user_content_manager_add_style_sheet(content, sheet);
        webkit_user_style_sheet_unref(sheet);
    }
    WebKitSettings* settings = NewPanelWebSettings();
    view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                         "user-content-manager", content, "settings", settings,
                                         nullptr));
    g_object_unref(settings);
    // WebKit takes drops by default and loads a dropped file or link in place of the page: a
    // panel's page is only ever what the program loads. Nothing else in a panel takes drops.
    if (!options.acceptDrops) gtk_drag_dest_unset(GTK_WIDGET(view_));
    gtk_layout_put(host.Layout(), GTK_WIDGET(view_), 0, 0);
    const Size client = host.ClientSize();
    gtk_widget_set_size_request(GTK_WIDGET(view_), client.width, client.height);
    gtk_widget_show(GTK_WIDGET(view_));

    g_signal_connect(view_, "destroy", G_CALLBACK(OnViewDestroy), this);
    recovery_ = std::make_unique<WebProcessRecovery>(view_);
    calls_ = std::make_unique<PageCallChannel>(view_, this);

    g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(OnLoadFailed), this);
    g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(view_, "create", G_CALLBACK(OnCreate), this);
    g_signal_connect(view_, "notify::title", G_CALLBACK(OnTitle), this);
    g_signal_connect(view_, "notify::estimated-load-progress", G_CALLBACK(OnProgress), this);
    g_signal_connect(view_, "close", G_CALLBACK(OnClose), this);
    g_signal_connect(view_, "context-menu", G_CALLBACK(OnContextMenu), this);
    detail::AddBridgeSink(this);
    host.SetContent(this);
}

WebViewGtk::~WebViewGtk() {
    if (view_ == nullptr) return;
    // The owner is going: nothing may call back into it while the view is torn down.
    event_ = nullptr;
    bridge_ = nullptr;
    gtk_widget_destroy(GTK_WIDGET(view_));
}

void WebViewGtk::OnViewDestroy(GtkWidget*, gpointer self) {
    WebViewGtk* view = Self(self);
    RemoveBridgeSink(view);
    view->recovery_->Detach();
    view->calls_->Detach();
    if (view->host_ != nullptr) view->host_->SetContent(nullptr);
    view->host_ = nullptr;
    view->view_ = nullptr;
    view->token_.reset();
}

std::optional<std::string> WebViewGtk::OnBridgeCall(const std::string& documentUrl,
                                                    std::optional<std::string> param) {
    if (!bridge_) return std::nullopt;
    BridgeCall call{documentUrl, CurrentUri(), std::move(param)};
    // Copied first: the call may close the window and this view with it.
    auto handler = bridge_;
    return handler(call);
}

void WebViewGtk::CallPageFunction(const std::string& name, const std::vector<std::string>& args) {
    if (view_ != nullptr) calls_->Call(name, args);
}

void WebViewGtk::AwaitFirstFrame(std::function<void()> painted) {
    webkit_web_view_call_async_javascript_function(view_, kPaintedScript, -1, nullptr, nullptr,
                                                   nullptr, nullptr, OnPainted,
                                                   new std::function<void()>(std::move(painted)));
}

void WebViewGtk::OnPainted(GObject* view, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::function<void()>> painted(static_cast<std::function<void()>*>(data));
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(view),
                                                                            result, &error);
    if (value != nullptr) g_object_unref(value);
    // A page that navigated away or failed the script is left to the fallback.
    if (error != nullptr) {
        g_error_free(error);
        return;
    }
    (*painted)();
}

void WebViewGtk::SetBounds(const Rect& rect) {
    if (view_ == nullptr || host_ == nullptr) return;
    const Size client = host_->ClientSize();
    coversClient_ = rect == Rect{0, 0, client.width, client.height};
    gtk_layout_move(host_->Layout(), GTK_WIDGET(view_), rect.left, rect.top);
    gtk_widget_set_size_request(GTK_WIDGET(view_), std::max(0, rect.width()),
                                std::max(0, rect.height()));
}

void WebViewGtk::FitToClient(Size client) {
    if (view_ == nullptr || host_ == nullptr || !coversClient_) return;
    int width = 0, height = 0;
    gtk_widget_get_size_request(GTK_WIDGET(view_), &width, &height);
    if (width == client.width && height == client.height) return;
    gtk_layout_move(host_->Layout(), GTK_WIDGET(view_), 0, 0);
    gtk_widget_set_size_request(GTK_WIDGET(view_), client.width, client.height);
}

void WebViewGtk::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent load, gpointer self) {
    WebEvent event;
    if (load == WEBKIT_LOAD_COMMITTED) {
        Self(self)->calls_->OnCommitted();
        event.code = kEventNavigateComplete2;
    } else if (load == WEBKIT_LOAD_FINISHED) {
        event.code = kEventDocumentComplete;
    } else {
        return;
    }
    const char* uri = webkit_web_view_get_uri(view);
    event.url = uri ? uri : "";
    if (load == WEBKIT_LOAD_FINISHED && !event.url.empty()) {
        // A panel shows itself when its page completes, before the page has painted: until it
        // has, the view would show its white background. It takes the page's own background
        // colour first, then the completion is reported.
        auto* pending = new PendingCompletion{Self(self)->token_, Self(self), event.url};
        webkit_web_view_evaluate_javascript(view, kPageBackgroundScript, -1, nullptr, nullptr,
                                            nullptr, OnPageBackground, pending);
        return;
    }
    Self(self)->Raise(event);
}

void WebViewGtk::OnPageBackground(GObject* view, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingCompletion> pending(static_cast<PendingCompletion*>(data));
    GError* error = nullptr;
    JSCValue* value =
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
    if (error != nullptr) g_error_free(error);
    if (pending->token.expired()) {
        if (value != nullptr) g_object_unref(value);
        return;  // the window is gone
    }
    WebViewGtk* self = pending->view;
    if (value != nullptr) {
        if (jsc_value_is_string(value)) {
            gchar* text = jsc_value_to_string(value);
            GdkRGBA colour;
            if (text != nullptr && gdk_rgba_parse(&colour, text) && colour.alpha > 0.99 &&
                self->view_ != nullptr)
                webkit_web_view_set_background_color(self->view_, &colour);
            g_free(text);
        }
        g_object_unref(value);
    }
    WebEvent event;
    event.code = kEventDocumentComplete;
    event.url = pending->url;
    self->Raise(event);
}

gboolean WebViewGtk::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                  gpointer self) {
    WebEvent event;
    event.code = kEventNavigateError;
    event.url = uri ? uri : "";
    event.value = error ? error->code : 0;
    auto* view = Self(self);
    if (view->httpErrorStatus_ != 0 &&
        g_error_matches(error, WEBKIT_POLICY_ERROR,
                        WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE)) {
        event.value = static_cast<long>(view->httpErrorStatus_);
    }
    view->httpErrorStatus_ = 0;
    view->Raise(event);
    return event.cancel ? TRUE : FALSE;  // TRUE: WebKit shows no error page
}

gboolean WebViewGtk::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                    WebKitPolicyDecisionType type, gpointer self) {
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
        // A browser control reports an HTTP error answer of the page as a failed navigation;
        // WebKit would show the server's error page. Refusing the answer makes WebKit fail the
        // load, which reaches the panel as that navigation error.
        auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        const guint status = webkit_uri_response_get_status_code(
            webkit_response_policy_decision_get_response(response));
        if (webkit_response_policy_decision_is_main_frame_main_resource(response) &&
            status >= 400) {
            Self(self)->httpErrorStatus_ = status;
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        return FALSE;
    }
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebEvent event;
    event.code = kEventBeforeNavigate2;
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    event.url = uri ? uri : "";
    // WebKit names only named frames; an unnamed iframe reads as the top frame.
    event.topFrame = webkit_navigation_action_get_frame_name(action) == nullptr;
    g_object_ref(decision);
    Self(self)->Raise(event);
    if (event.cancel) webkit_policy_decision_ignore(decision);
    g_object_unref(decision);
    return event.cancel ? TRUE : FALSE;
}

GtkWidget* WebViewGtk::OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
    WebEvent event;
    event.code = kEventNewWindow3;
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    event.url = uri ? uri : "";
    Self(self)->Raise(event);
    return nullptr;  // panels open no browser windows
}

void WebViewGtk::OnTitle(GObject* object, GParamSpec*, gpointer self) {
    WebEvent event;
    event.code = kEventTitleChange;
    const char* title = webkit_web_view_get_title(WEBKIT_WEB_VIEW(object));
    event.text = title ? title : "";
    Self(self)->Raise(event);
}

void WebViewGtk::OnProgress(GObject* object, GParamSpec*, gpointer self) {
    WebEvent event;
    event.code = kEventProgressChange;
    event.value = static_cast<long>(
        webkit_web_view_get_estimated_load_progress(WEBKIT_WEB_VIEW(object)) * 100.0);
    event.valueMax = 100;
    Self(self)->Raise(event);
}

void WebViewGtk::OnClose(WebKitWebView*, gpointer self) {
    WebEvent event;
    event.code = kEventWindowClosing;
    Self(self)->Raise(event);
}

gboolean WebViewGtk::OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                                   WebKitHitTestResult*, gpointer self) {
    WebEvent event;
    event.code = kUiShowContextMenu;
    event.answer = 0;  // preset, as the UI handler does: handled, no menu
    Self(self)->Raise(event);
    return event.answer == 0 ? TRUE : FALSE;
}

}  // namespace

WebKitWebView* NativeWebView(WebView& view) {
    auto* gtkView = dynamic_cast<WebViewGtk*>(&view);
    return gtkView ? gtkView->BridgeView() : nullptr;
}

}  // namespace detail

std::unique_ptr<WebView> CreateWebView(Window& host, const WebViewOptions& options) {
    auto* window = dynamic_cast<detail::WindowGtk*>(&host);
    if (window == nullptr || window->Layout() == nullptr) return nullptr;
    return std::make_unique<detail::WebViewGtk>(*window, options);
}

}  // namespace os
