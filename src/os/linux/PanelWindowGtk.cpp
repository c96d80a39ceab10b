#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "os/PanelEventCodes.h"
#include "os/linux/WebHost.h"

namespace os {
namespace {

// The panel dialog's template size (274 x 270 dialog units) in pixels; panels resize anyway.
constexpr int kDefaultWidth = 411;
constexpr int kDefaultHeight = 439;

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

// How long a panel stays unseen waiting for its page's first frame; a page that never paints
// still shows then.
constexpr guint kRevealFallbackMs = 1000;

constexpr const char* kNoScrollbarsCss = "::-webkit-scrollbar { display: none !important; }";

class PanelWindowGtk final : public PanelWindow, public detail::BridgeCallSink {
  public:
    explicit PanelWindowGtk(const PanelWindowOptions& options);
    ~PanelWindowGtk() override;

    long Handle() const override;
    bool IsAlive() const override { return window_ != nullptr; }
    void Destroy() override {
        if (window_ != nullptr) gtk_widget_destroy(window_);
    }

    void SetTitle(const std::string& title) override {
        title_ = title;
        if (window_) gtk_window_set_title(GTK_WINDOW(window_), title.c_str());
    }
    std::string Title() const override { return title_; }
    void SetIcon(const PixelBuffer& icon) override;

    void Show() override {
        if (!window_) return;
        const bool reveal = BeginReveal();
        gtk_widget_show(window_);
        if (reveal) AwaitFirstFrame();
    }
    void Hide() override {
        if (window_) gtk_widget_hide(window_);
    }
    void Present(unsigned long userTime) override;
    bool IsVisible() const override { return window_ && gtk_widget_get_visible(window_); }
    void Minimize() override {
        if (window_) gtk_window_iconify(GTK_WINDOW(window_));
    }
    void Maximize() override {
        if (window_) gtk_window_maximize(GTK_WINDOW(window_));
    }
    void Restore() override {
        if (!window_) return;
        gtk_window_deiconify(GTK_WINDOW(window_));
        gtk_window_unmaximize(GTK_WINDOW(window_));
    }
    bool IsMinimized() const override { return (state_ & GDK_WINDOW_STATE_ICONIFIED) != 0; }
    bool IsMaximized() const override { return (state_ & GDK_WINDOW_STATE_MAXIMIZED) != 0; }
    void SetKeepAbove(bool above) override {
        keepAbove_ = above;
        if (window_) gtk_window_set_keep_above(GTK_WINDOW(window_), above);
    }
    bool IsKeepAbove() const override { return keepAbove_; }
    void SetSkipTaskbar(bool skip) override {
        skipTaskbar_ = skip;
        if (!window_) return;
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), skip);
        gtk_window_set_skip_pager_hint(GTK_WINDOW(window_), skip);
    }
    bool IsSkipTaskbar() const override { return skipTaskbar_; }

    Rect ScreenRect() const override;
    void MoveResize(const Rect& rect) override;
    Size ClientSize() const override;
    void SetWindowRegion(const std::vector<Rect>& rects) override;
    void SetDragBand(const Rect& rect) override { dragBand_ = rect; }

    void SetBackgroundColor(uint32_t argb) override {
        background_ = argb;
        QueueRedraw();
    }
    void SetPaintHandler(std::function<void(PixelBuffer&)> handler) override {
        paint_ = std::move(handler);
        QueueRedraw();
    }
    void QueueRedraw() override {
        if (window_) gtk_widget_queue_draw(window_);
    }
    void SetKeyHandler(std::function<bool(const KeyEvent&)> handler) override {
        key_ = std::move(handler);
    }
    void SetCloseRequestHandler(std::function<bool()> handler) override {
        closeRequest_ = std::move(handler);
    }
    void SetDestroyHandler(std::function<void()> handler) override {
        destroyed_ = std::move(handler);
    }
    void SetSizeHandler(std::function<void()> handler) override { sized_ = std::move(handler); }

    bool HasWebView() const override { return view_ != nullptr; }
    void SetWebViewBounds(const Rect& rect) override;
    void SetWebEventHandler(std::function<void(WebEvent&)> handler) override {
        webEvent_ = std::move(handler);
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
    uint64_t PageId() const override { return view_ ? webkit_web_view_get_page_id(view_) : 0; }

    WebKitWebView* BridgeView() const override { return view_; }
    void OnBridgeCall(WebEvent& event) override { Raise(event); }

  private:
    // Copies the handler first: it may destroy this window, or even this object.
    void Raise(WebEvent& event) {
        if (!webEvent_) return;
        auto handler = webEvent_;
        handler(event);
    }
    void CreateWebView(const PanelWindowOptions& options);
    bool BeginReveal();
    void AwaitFirstFrame();
    void EndReveal(unsigned generation);
    void ApplyShape();
    static void OnPainted(GObject* view, GAsyncResult* result, gpointer data);
    struct PendingReveal {
        std::weak_ptr<int> token;
        PanelWindowGtk* window;
        unsigned generation;
    };
    void FitViewToClient();

    static void OnDestroy(GtkWidget*, gpointer self);
    static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
    static gboolean OnKey(GtkWidget*, GdkEventKey* key, gpointer self);
    static gboolean OnFocusOut(GtkWidget*, GdkEventFocus*, gpointer self);
    static gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self);
    static void OnSizeAllocate(GtkWidget*, GdkRectangle*, gpointer self);
    static gboolean OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer self);
    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent load, gpointer self);
    static void OnPageBackground(GObject* view, GAsyncResult* result, gpointer data);
    struct PendingCompletion {
        std::weak_ptr<int> token;
        PanelWindowGtk* window;
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

    GtkWidget* window_ = nullptr;
    GtkWidget* layout_ = nullptr;
    WebKitWebView* view_ = nullptr;
    // HTTP status of a main-page answer refused as an error, reported with the failed load.
    unsigned httpErrorStatus_ = 0;
    bool viewCoversClient_ = true;
    // The X server applies a move or resize later; until it reports the geometry asked
    // for, callers read what they asked for, as they would after MoveWindow.
    std::optional<Rect> pending_;
    int configuresSincePending_ = 0;
    std::string title_;
    uint32_t background_ = 0xFFFFFFFF;
    // The window has an alpha channel (a compositor shows its transparency).
    bool rgba_ = false;
    // Asynchronous callbacks hold a weak copy: expired once the window is destroyed.
    std::shared_ptr<int> token_ = std::make_shared<int>(0);
    Rect dragBand_;
    // The skin's shape (empty: the whole window).
    std::vector<Rect> shape_;
    // While a panel is mapped but its page has not painted yet, its shape is empty: nothing
    // of it is seen. Each reveal has its own number; a late answer of an earlier one is void.
    bool revealing_ = false;
    unsigned revealGeneration_ = 0;
    GdkWindowState state_ = GdkWindowState(0);
    bool keepAbove_ = false;
    bool skipTaskbar_ = false;
    std::function<void(PixelBuffer&)> paint_;
    std::function<bool(const KeyEvent&)> key_;
    // Keys pressed here and not yet released here: hardware code and the value of the press.
    std::vector<std::pair<guint16, unsigned>> heldKeys_;
    std::function<bool()> closeRequest_;
    std::function<void()> destroyed_;
    std::function<void()> sized_;
    Size allocated_;
    std::function<void(WebEvent&)> webEvent_;
};

PanelWindowGtk* Self(gpointer self) {
    return static_cast<PanelWindowGtk*>(self);
}

PanelWindowGtk::PanelWindowGtk(const PanelWindowOptions& options) {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(window_), kDefaultWidth, kDefaultHeight);
    // The window paints its own background (the skin) beneath the web view.
    gtk_widget_set_app_paintable(window_, TRUE);
    // With a compositor the skin's soft edges blend with what lies behind the window; without
    // one the window's shape cuts the transparent pixels away.
    GdkScreen* screen = gtk_widget_get_screen(window_);
    if (gdk_screen_is_composited(screen)) {
        if (GdkVisual* visual = gdk_screen_get_rgba_visual(screen)) {
            gtk_widget_set_visual(window_, visual);
            rgba_ = true;
        }
    }
    layout_ = gtk_layout_new(nullptr, nullptr);
    gtk_widget_add_events(layout_, GDK_BUTTON_PRESS_MASK);
    gtk_widget_set_app_paintable(layout_, TRUE);
    gtk_container_add(GTK_CONTAINER(window_), layout_);

    g_signal_connect(window_, "destroy", G_CALLBACK(OnDestroy), this);
    g_signal_connect(window_, "draw", G_CALLBACK(OnDraw), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKey), this);
    g_signal_connect(window_, "key-release-event", G_CALLBACK(OnKey), this);
    g_signal_connect(window_, "focus-out-event", G_CALLBACK(OnFocusOut), this);
    g_signal_connect(window_, "button-press-event", G_CALLBACK(OnButtonPress), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(window_, "window-state-event", G_CALLBACK(OnWindowState), this);
    g_signal_connect(window_, "size-allocate", G_CALLBACK(OnSizeAllocate), this);
    g_signal_connect(window_, "configure-event", G_CALLBACK(OnConfigure), this);

    if (options.withWebView) CreateWebView(options);
    gtk_widget_show_all(layout_);
    // Realised now so the window has its X11 id before it is first shown.
    gtk_widget_realize(window_);
}

PanelWindowGtk::~PanelWindowGtk() {
    if (window_ == nullptr) return;
    // The owner is going: nothing may call back into it while the widgets are torn down.
    paint_ = nullptr;
    key_ = nullptr;
    closeRequest_ = nullptr;
    destroyed_ = nullptr;
    sized_ = nullptr;
    webEvent_ = nullptr;
    gtk_widget_destroy(window_);
}

void PanelWindowGtk::CreateWebView(const PanelWindowOptions& options) {
    WebKitWebContext* context = detail::WebContextFor(options.webDataFolder);
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    if (!options.showScrollbars) {
        WebKitUserStyleSheet* sheet =
            webkit_user_style_sheet_new(kNoScrollbarsCss, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                        WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
        webkit_user_content_manager_add_style_sheet(content, sheet);
        webkit_user_style_sheet_unref(sheet);
    }
    view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                         "user-content-manager", content, nullptr));
    g_object_unref(content);
    if (!options.acceptDrops) gtk_drag_dest_unset(GTK_WIDGET(view_));
    gtk_layout_put(GTK_LAYOUT(layout_), GTK_WIDGET(view_), 0, 0);
    gtk_widget_set_size_request(GTK_WIDGET(view_), kDefaultWidth, kDefaultHeight);

    g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(OnLoadFailed), this);
    g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(view_, "create", G_CALLBACK(OnCreate), this);
    g_signal_connect(view_, "notify::title", G_CALLBACK(OnTitle), this);
    g_signal_connect(view_, "notify::estimated-load-progress", G_CALLBACK(OnProgress), this);
    g_signal_connect(view_, "close", G_CALLBACK(OnClose), this);
    g_signal_connect(view_, "context-menu", G_CALLBACK(OnContextMenu), this);
    detail::AddBridgeSink(this);
}

long PanelWindowGtk::Handle() const {
    if (window_ == nullptr) return 0;
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    if (gdkWindow == nullptr || !GDK_IS_X11_WINDOW(gdkWindow)) return 0;
    return static_cast<long>(gdk_x11_window_get_xid(gdkWindow));
}

void PanelWindowGtk::SetIcon(const PixelBuffer& icon) {
    if (window_ == nullptr || icon.empty()) return;
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, icon.width, icon.height);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (int y = 0; y < icon.height; ++y) {
        for (int x = 0; x < icon.width; ++x) {
            const uint32_t p = icon.at(x, y);
            guchar* out = pixels + y * stride + x * 4;
            out[0] = (p >> 16) & 0xFF;
            out[1] = (p >> 8) & 0xFF;
            out[2] = p & 0xFF;
            out[3] = (p >> 24) & 0xFF;
        }
    }
    gtk_window_set_icon(GTK_WINDOW(window_), pixbuf);
    g_object_unref(pixbuf);
}

Rect PanelWindowGtk::ScreenRect() const {
    if (window_ == nullptr) return {};
    if (pending_) return *pending_;
    int x = 0, y = 0, width = 0, height = 0;
    gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
    gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
    return {x, y, x + width, y + height};
}

void PanelWindowGtk::MoveResize(const Rect& rect) {
    if (window_ == nullptr) return;
    pending_ = rect;
    configuresSincePending_ = 0;
    gtk_window_move(GTK_WINDOW(window_), rect.left, rect.top);
    gtk_window_resize(GTK_WINDOW(window_), std::max(1, rect.width()), std::max(1, rect.height()));
}

Size PanelWindowGtk::ClientSize() const {
    if (window_ == nullptr) return {};
    if (pending_) return {pending_->width(), pending_->height()};
    int width = 0, height = 0;
    gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
    return {width, height};
}

void PanelWindowGtk::SetWindowRegion(const std::vector<Rect>& rects) {
    shape_ = rects;
    if (window_ == nullptr || revealing_) return;
    ApplyShape();
}

void PanelWindowGtk::ApplyShape() {
    const std::vector<Rect>& rects = shape_;
    if (rects.empty()) {
        gtk_widget_shape_combine_region(window_, nullptr);
        return;
    }
    cairo_region_t* region = cairo_region_create();
    for (const Rect& r : rects) {
        const cairo_rectangle_int_t box{r.left, r.top, r.width(), r.height()};
        cairo_region_union_rectangle(region, &box);
    }
    gtk_widget_shape_combine_region(window_, region);
    cairo_region_destroy(region);
}

// A hidden page paints nothing, so a panel shown at once would show an empty body until its
// first frame. The window is mapped with an empty shape instead, and takes its real shape once
// the page has painted.
bool PanelWindowGtk::BeginReveal() {
    if (revealing_ || view_ == nullptr || gtk_widget_get_mapped(window_) ||
        webkit_web_view_get_uri(view_) == nullptr)
        return false;
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    if (gdkWindow == nullptr) return false;
    revealing_ = true;
    cairo_region_t* nothing = cairo_region_create();
    gdk_window_shape_combine_region(gdkWindow, nothing, 0, 0);
    cairo_region_destroy(nothing);
    return true;
}

void PanelWindowGtk::AwaitFirstFrame() {
    const unsigned generation = ++revealGeneration_;
    webkit_web_view_call_async_javascript_function(view_, kPaintedScript, -1, nullptr, nullptr,
                                                   nullptr, nullptr, OnPainted,
                                                   new PendingReveal{token_, this, generation});
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, kRevealFallbackMs,
        [](gpointer data) -> gboolean {
            auto* pending = static_cast<PendingReveal*>(data);
            if (!pending->token.expired()) pending->window->EndReveal(pending->generation);
            return G_SOURCE_REMOVE;
        },
        new PendingReveal{token_, this, generation},
        [](gpointer data) { delete static_cast<PendingReveal*>(data); });
}

void PanelWindowGtk::OnPainted(GObject* view, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingReveal> pending(static_cast<PendingReveal*>(data));
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(view),
                                                                            result, &error);
    if (value != nullptr) g_object_unref(value);
    // A page that navigated away or failed the script is left to the fallback.
    if (error != nullptr) {
        g_error_free(error);
        return;
    }
    if (!pending->token.expired()) pending->window->EndReveal(pending->generation);
}

void PanelWindowGtk::EndReveal(unsigned generation) {
    if (!revealing_ || generation != revealGeneration_ || window_ == nullptr) return;
    revealing_ = false;
    ApplyShape();
}

void PanelWindowGtk::Present(unsigned long userTime) {
    if (window_ == nullptr) return;
    const bool reveal = BeginReveal();
    GtkWindow* window = GTK_WINDOW(window_);
    // A panel iconified with its own button and then hidden would map iconified again.
    gtk_window_deiconify(window);
    guint32 time = static_cast<guint32>(userTime);
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    // Without the asking action's time, the server's current time stands for it: the request
    // always comes from the user (the tray, a second start, a page that finished loading).
    if (time == 0 && gdkWindow != nullptr && GDK_IS_X11_WINDOW(gdkWindow))
        time = gdk_x11_get_server_time(gdkWindow);
    gtk_window_present_with_time(window, time);
    if (reveal) AwaitFirstFrame();
}

void PanelWindowGtk::SetWebViewBounds(const Rect& rect) {
    if (view_ == nullptr) return;
    const Size client = ClientSize();
    viewCoversClient_ = rect == Rect{0, 0, client.width, client.height};
    gtk_layout_move(GTK_LAYOUT(layout_), GTK_WIDGET(view_), rect.left, rect.top);
    gtk_widget_set_size_request(GTK_WIDGET(view_), std::max(0, rect.width()),
                                std::max(0, rect.height()));
}

void PanelWindowGtk::FitViewToClient() {
    if (view_ == nullptr || !viewCoversClient_) return;
    const Size client = ClientSize();
    int width = 0, height = 0;
    gtk_widget_get_size_request(GTK_WIDGET(view_), &width, &height);
    if (width == client.width && height == client.height) return;
    gtk_layout_move(GTK_LAYOUT(layout_), GTK_WIDGET(view_), 0, 0);
    gtk_widget_set_size_request(GTK_WIDGET(view_), client.width, client.height);
}

void PanelWindowGtk::OnDestroy(GtkWidget*, gpointer self) {
    PanelWindowGtk* window = Self(self);
    if (window->view_ != nullptr) detail::RemoveBridgeSink(window);
    window->window_ = nullptr;
    window->layout_ = nullptr;
    window->view_ = nullptr;
    window->token_.reset();
    if (window->destroyed_) {
        auto handler = window->destroyed_;
        handler();
    }
}

gboolean PanelWindowGtk::OnDraw(GtkWidget* widget, cairo_t* cr, gpointer self) {
    PanelWindowGtk* window = Self(self);
    const int scale = std::max(1, gtk_widget_get_scale_factor(widget));
    const int width = gtk_widget_get_allocated_width(widget) * scale;
    const int height = gtk_widget_get_allocated_height(widget) * scale;
    if (width <= 0 || height <= 0) return FALSE;
    PixelBuffer canvas;
    canvas.width = width;
    canvas.height = height;
    canvas.scale = scale;
    canvas.hasAlpha = window->rgba_;
    const uint32_t fill = window->rgba_ ? window->background_ & 0x00FFFFFFu : window->background_;
    canvas.pixels.assign(static_cast<size_t>(width) * height, fill);
    if (window->paint_) window->paint_(canvas);
    if (canvas.width != width || canvas.height != height ||
        canvas.pixels.size() != static_cast<size_t>(width) * height) {
        return FALSE;  // a handler that resized the buffer painted nothing usable
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
        for (int x = 0; x < width; ++x) {
            const uint32_t p = canvas.at(x, y);
            const uint32_t a = window->rgba_ ? p >> 24 : 0xFF;
            // cairo wants premultiplied colours; the buffer holds straight ones.
            const uint32_t r = ((p >> 16) & 0xFF) * a / 255;
            const uint32_t g = ((p >> 8) & 0xFF) * a / 255;
            const uint32_t b = (p & 0xFF) * a / 255;
            row[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(surface);
    cairo_surface_set_device_scale(surface, scale, scale);
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(surface);
    return FALSE;  // the children (the web view) draw over it
}

gboolean PanelWindowGtk::OnKey(GtkWidget*, GdkEventKey* key, gpointer self) {
    PanelWindowGtk* window = Self(self);
    auto& held = window->heldKeys_;
    const auto same = [&](const auto& entry) { return entry.first == key->hardware_keycode; };
    held.erase(std::remove_if(held.begin(), held.end(), same), held.end());
    if (key->type == GDK_KEY_PRESS) held.emplace_back(key->hardware_keycode, key->keyval);
    if (!window->key_) return FALSE;
    KeyEvent event;
    event.keyval = key->keyval;
    event.pressed = key->type == GDK_KEY_PRESS;
    event.control = (key->state & GDK_CONTROL_MASK) != 0;
    event.shift = (key->state & GDK_SHIFT_MASK) != 0;
    event.alt = (key->state & GDK_MOD1_MASK) != 0;
    auto handler = window->key_;
    return handler(event) ? TRUE : FALSE;
}

gboolean PanelWindowGtk::OnFocusOut(GtkWidget*, GdkEventFocus*, gpointer self) {
    PanelWindowGtk* window = Self(self);
    // Their releases go to whichever window has the focus now: as far as this window can
    // tell they are let go here, so none stays held (F5 held would swallow every later key).
    const auto held = std::exchange(window->heldKeys_, {});
    for (const auto& entry : held) {
        if (!window->key_) break;
        KeyEvent release;
        release.keyval = entry.second;
        release.pressed = false;
        auto handler = window->key_;
        handler(release);
    }
    return FALSE;
}

gboolean PanelWindowGtk::OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self) {
    PanelWindowGtk* window = Self(self);
    if (event->button != 1 || event->type != GDK_BUTTON_PRESS || window->window_ == nullptr)
        return FALSE;
    int originX = 0, originY = 0;
    gdk_window_get_origin(gtk_widget_get_window(window->window_), &originX, &originY);
    const int x = static_cast<int>(event->x_root) - originX;
    const int y = static_cast<int>(event->y_root) - originY;
    const Rect& band = window->dragBand_;
    if (x < band.left || x >= band.right || y < band.top || y >= band.bottom) return FALSE;
    gtk_window_begin_move_drag(GTK_WINDOW(window->window_), 1, static_cast<int>(event->x_root),
                               static_cast<int>(event->y_root), event->time);
    return TRUE;
}

gboolean PanelWindowGtk::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
    PanelWindowGtk* window = Self(self);
    if (!window->closeRequest_) return FALSE;
    auto handler = window->closeRequest_;
    return handler() ? TRUE : FALSE;
}

gboolean PanelWindowGtk::OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self) {
    Self(self)->state_ = event->new_window_state;
    return FALSE;
}

void PanelWindowGtk::OnSizeAllocate(GtkWidget*, GdkRectangle* allocation, gpointer self) {
    PanelWindowGtk* window = Self(self);
    window->FitViewToClient();
    const Size size{allocation->width, allocation->height};
    if (size == window->allocated_) return;
    window->allocated_ = size;
    if (window->sized_) {
        auto handler = window->sized_;
        handler();
    }
}

gboolean PanelWindowGtk::OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer self) {
    PanelWindowGtk* window = Self(self);
    if (window->pending_) {
        const Rect now{event->x, event->y, event->x + event->width, event->y + event->height};
        // A window manager may refuse the request; after a few reports the real one counts.
        if (now == *window->pending_ || ++window->configuresSincePending_ > 3) {
            window->pending_.reset();
        }
    }
    return FALSE;
}

void PanelWindowGtk::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent load, gpointer self) {
    WebEvent event;
    if (load == WEBKIT_LOAD_COMMITTED) {
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

void PanelWindowGtk::OnPageBackground(GObject* view, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingCompletion> pending(static_cast<PendingCompletion*>(data));
    GError* error = nullptr;
    JSCValue* value =
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
    if (error != nullptr) g_error_free(error);
    if (pending->token.expired()) {
        if (value != nullptr) g_object_unref(value);
        return;  // the window is gone
    }
    PanelWindowGtk* window = pending->window;
    if (value != nullptr) {
        if (jsc_value_is_string(value)) {
            gchar* text = jsc_value_to_string(value);
            GdkRGBA colour;
            if (text != nullptr && gdk_rgba_parse(&colour, text) && colour.alpha > 0.99 &&
                window->view_ != nullptr)
                webkit_web_view_set_background_color(window->view_, &colour);
            g_free(text);
        }
        g_object_unref(value);
    }
    WebEvent event;
    event.code = kEventDocumentComplete;
    event.url = pending->url;
    window->Raise(event);
}

gboolean PanelWindowGtk::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                      gpointer self) {
    WebEvent event;
    event.code = kEventNavigateError;
    event.url = uri ? uri : "";
    event.value = error ? error->code : 0;
    auto* window = Self(self);
    if (window->httpErrorStatus_ != 0 &&
        g_error_matches(error, WEBKIT_POLICY_ERROR,
                        WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE)) {
        event.value = static_cast<long>(window->httpErrorStatus_);
    }
    window->httpErrorStatus_ = 0;
    window->Raise(event);
    return event.cancel ? TRUE : FALSE;  // TRUE: WebKit shows no error page
}

gboolean PanelWindowGtk::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
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

GtkWidget* PanelWindowGtk::OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
    WebEvent event;
    event.code = kEventNewWindow3;
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    event.url = uri ? uri : "";
    Self(self)->Raise(event);
    return nullptr;  // panels open no browser windows
}

void PanelWindowGtk::OnTitle(GObject* object, GParamSpec*, gpointer self) {
    WebEvent event;
    event.code = kEventTitleChange;
    const char* title = webkit_web_view_get_title(WEBKIT_WEB_VIEW(object));
    event.text = title ? title : "";
    Self(self)->Raise(event);
}

void PanelWindowGtk::OnProgress(GObject* object, GParamSpec*, gpointer self) {
    WebEvent event;
    event.code = kEventProgressChange;
    event.value = static_cast<long>(
        webkit_web_view_get_estimated_load_progress(WEBKIT_WEB_VIEW(object)) * 100.0);
    event.valueMax = 100;
    Self(self)->Raise(event);
}

void PanelWindowGtk::OnClose(WebKitWebView*, gpointer self) {
    WebEvent event;
    event.code = kEventWindowClosing;
    Self(self)->Raise(event);
}

gboolean PanelWindowGtk::OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                                       WebKitHitTestResult*, gpointer self) {
    WebEvent event;
    event.code = kUiShowContextMenu;
    event.answer = 0;  // preset, as the UI handler does: handled, no menu
    Self(self)->Raise(event);
    return event.answer == 0 ? TRUE : FALSE;
}

}  // namespace

std::unique_ptr<PanelWindow> CreatePanelWindow(const PanelWindowOptions& options) {
    if (!InitGuiToolkit()) return nullptr;
    return std::make_unique<PanelWindowGtk>(options);
}

namespace detail {

WebKitWebView* NativeWebView(PanelWindow& window) {
    auto* gtkWindow = dynamic_cast<PanelWindowGtk*>(&window);
    return gtkWindow ? gtkWindow->BridgeView() : nullptr;
}

}  // namespace detail
}  // namespace os
