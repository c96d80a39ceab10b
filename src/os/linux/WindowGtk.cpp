#include "os/linux/WindowGtk.h"

#include <gdk/gdkx.h>

#include <algorithm>

namespace os {
namespace detail {
namespace {

// The panel dialog's template size (274 x 270 dialog units) in pixels; panels resize anyway.
constexpr int kDefaultWidth = 411;
constexpr int kDefaultHeight = 439;

// How long a panel stays unseen waiting for its page's first frame; a page that never paints
// still shows then.
constexpr guint kRevealFallbackMs = 1000;

WindowGtk* Self(gpointer self) {
    return static_cast<WindowGtk*>(self);
}

Key KeyOfKeyval(guint keyval) {
    switch (keyval) {
        case GDK_KEY_Escape:
            return Key::Escape;
        case GDK_KEY_F5:
            return Key::F5;
        default:
            return Key::Other;
    }
}

unsigned ModifiersOfState(guint state) {
    return ((state & GDK_SHIFT_MASK) != 0 ? kModifierShift : 0) |
           ((state & GDK_CONTROL_MASK) != 0 ? kModifierControl : 0) |
           ((state & GDK_MOD1_MASK) != 0 ? kModifierAlt : 0);
}

}  // namespace

WindowGtk::WindowGtk() {
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

    gtk_widget_show_all(layout_);
    // Realised now so the window has its X11 id before it is first shown.
    gtk_widget_realize(window_);
}

WindowGtk::~WindowGtk() {
    if (skin_ != nullptr) cairo_surface_destroy(skin_);
    if (window_ == nullptr) return;
    // The owner is going: nothing may call back into it while the widgets are torn down.
    paint_ = nullptr;
    key_ = nullptr;
    closeRequest_ = nullptr;
    destroyed_ = nullptr;
    sized_ = nullptr;
    gtk_widget_destroy(window_);
}

void WindowGtk::SetTitle(const std::string& title) {
    title_ = title;
    QueueRedraw();  // the skin shows the title
    if (window_) gtk_window_set_title(GTK_WINDOW(window_), title.c_str());
}

void WindowGtk::Show() {
    if (!window_) return;
    const bool reveal = BeginReveal();
    gtk_widget_show(window_);
    if (reveal) AwaitFirstFrame();
}

void WindowGtk::Restore() {
    if (!window_) return;
    gtk_window_deiconify(GTK_WINDOW(window_));
    gtk_window_unmaximize(GTK_WINDOW(window_));
}

void WindowGtk::SetKeepAbove(bool above) {
    keepAbove_ = above;
    if (window_) gtk_window_set_keep_above(GTK_WINDOW(window_), above);
}

void WindowGtk::SetSkipTaskbar(bool skip) {
    skipTaskbar_ = skip;
    if (!window_) return;
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), skip);
    gtk_window_set_skip_pager_hint(GTK_WINDOW(window_), skip);
}

long WindowGtk::Handle() const {
    if (window_ == nullptr) return 0;
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    if (gdkWindow == nullptr || !GDK_IS_X11_WINDOW(gdkWindow)) return 0;
    return static_cast<long>(gdk_x11_window_get_xid(gdkWindow));
}

void WindowGtk::SetIcon(const PixelBuffer& icon) {
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

Rect WindowGtk::ScreenRect() const {
    if (window_ == nullptr) return {};
    if (pending_) return *pending_;
    int x = 0, y = 0, width = 0, height = 0;
    gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
    gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
    return {x, y, x + width, y + height};
}

void WindowGtk::MoveResize(const Rect& rect) {
    if (window_ == nullptr) return;
    pending_ = rect;
    configuresSincePending_ = 0;
    gtk_window_move(GTK_WINDOW(window_), rect.left, rect.top);
    gtk_window_resize(GTK_WINDOW(window_), std::max(1, rect.width()), std::max(1, rect.height()));
}

Size WindowGtk::ClientSize() const {
    if (window_ == nullptr) return {};
    if (pending_) return {pending_->width(), pending_->height()};
    int width = 0, height = 0;
    gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
    return {width, height};
}

void WindowGtk::SetWindowRegion(const std::vector<Rect>& rects) {
    shape_ = rects;
    if (window_ == nullptr || revealing_) return;
    ApplyShape();
}

void WindowGtk::ApplyShape() {
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
bool WindowGtk::BeginReveal() {
    if (revealing_ || content_ == nullptr || !content_->HasPage() || gtk_widget_get_mapped(window_))
        return false;
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    if (gdkWindow == nullptr) return false;
    revealing_ = true;
    cairo_region_t* nothing = cairo_region_create();
    gdk_window_shape_combine_region(gdkWindow, nothing, 0, 0);
    cairo_region_destroy(nothing);
    return true;
}

void WindowGtk::AwaitFirstFrame() {
    const unsigned generation = ++revealGeneration_;
    struct PendingReveal {
        std::weak_ptr<int> token;
        WindowGtk* window;
        unsigned generation;
        void End() const {
            if (!token.expired()) window->EndReveal(generation);
        }
    };
    const PendingReveal pending{token_, this, generation};
    content_->AwaitFirstFrame([pending] { pending.End(); });
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, kRevealFallbackMs,
        [](gpointer data) -> gboolean {
            static_cast<PendingReveal*>(data)->End();
            return G_SOURCE_REMOVE;
        },
        new PendingReveal(pending),
        [](gpointer data) { delete static_cast<PendingReveal*>(data); });
}

void WindowGtk::EndReveal(unsigned generation) {
    if (!revealing_ || generation != revealGeneration_ || window_ == nullptr) return;
    revealing_ = false;
    ApplyShape();
}

void WindowGtk::Present(unsigned long userTime) {
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

void WindowGtk::OnDestroy(GtkWidget*, gpointer self) {
    WindowGtk* window = Self(self);
    window->window_ = nullptr;
    window->layout_ = nullptr;
    window->token_.reset();
    if (window->destroyed_) {
        auto handler = window->destroyed_;
        handler();
    }
}

gboolean WindowGtk::OnDraw(GtkWidget* widget, cairo_t* cr, gpointer self) {
    WindowGtk* window = Self(self);
    const int scale = std::max(1, gtk_widget_get_scale_factor(widget));
    const int width = gtk_widget_get_allocated_width(widget) * scale;
    const int height = gtk_widget_get_allocated_height(widget) * scale;
    if (width <= 0 || height <= 0) return FALSE;
    cairo_surface_t* cached = window->skin_;
    if (window->skinStale_ || cached == nullptr || cairo_image_surface_get_width(cached) != width ||
        cairo_image_surface_get_height(cached) != height) {
        cached = window->PaintSkinSurface(width, height, scale);
        if (cached == nullptr) return FALSE;
    }
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, cached, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    return FALSE;  // the children (the web view) draw over it
}

cairo_surface_t* WindowGtk::PaintSkinSurface(int width, int height, int scale) {
    PixelBuffer canvas;
    canvas.width = width;
    canvas.height = height;
    canvas.scale = scale;
    canvas.hasAlpha = rgba_;
    const uint32_t fill = rgba_ ? background_ & 0x00FFFFFFu : background_;
    canvas.pixels.assign(static_cast<size_t>(width) * height, fill);
    if (paint_) paint_(canvas);
    if (canvas.width != width || canvas.height != height ||
        canvas.pixels.size() != static_cast<size_t>(width) * height) {
        return nullptr;  // a handler that resized the buffer painted nothing usable
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
        for (int x = 0; x < width; ++x) {
            const uint32_t p = canvas.at(x, y);
            const uint32_t a = rgba_ ? p >> 24 : 0xFF;
            // cairo wants premultiplied colours; the buffer holds straight ones.
            const uint32_t r = ((p >> 16) & 0xFF) * a / 255;
            const uint32_t g = ((p >> 8) & 0xFF) * a / 255;
            const uint32_t b = (p & 0xFF) * a / 255;
            row[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(surface);
    cairo_surface_set_device_scale(surface, scale, scale);
    if (skin_ != nullptr) cairo_surface_destroy(skin_);
    skin_ = surface;
    skinStale_ = false;
    return surface;
}

gboolean WindowGtk::OnKey(GtkWidget*, GdkEventKey* key, gpointer self) {
    WindowGtk* window = Self(self);
    auto& held = window->heldKeys_;
    const auto same = [&](const auto& entry) { return entry.first == key->hardware_keycode; };
    held.erase(std::remove_if(held.begin(), held.end(), same), held.end());
    if (key->type == GDK_KEY_PRESS) held.emplace_back(key->hardware_keycode, key->keyval);
    if (!window->key_) return FALSE;
    KeyEvent event;
    event.key = KeyOfKeyval(key->keyval);
    event.pressed = key->type == GDK_KEY_PRESS;
    event.modifiers = ModifiersOfState(key->state);
    auto handler = window->key_;
    return handler(event) ? TRUE : FALSE;
}

gboolean WindowGtk::OnFocusOut(GtkWidget*, GdkEventFocus*, gpointer self) {
    WindowGtk* window = Self(self);
    // Their releases go to whichever window has the focus now: as far as this window can
    // tell they are let go here, so none stays held (F5 held would swallow every later key).
    const auto held = std::exchange(window->heldKeys_, {});
    for (const auto& entry : held) {
        if (!window->key_) break;
        KeyEvent release;
        release.key = KeyOfKeyval(entry.second);
        release.pressed = false;
        auto handler = window->key_;
        handler(release);
    }
    return FALSE;
}

gboolean WindowGtk::OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self) {
    WindowGtk* window = Self(self);
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

gboolean WindowGtk::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
    WindowGtk* window = Self(self);
    if (!window->closeRequest_) return FALSE;
    auto handler = window->closeRequest_;
    return handler() ? TRUE : FALSE;
}

gboolean WindowGtk::OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self) {
    Self(self)->state_ = event->new_window_state;
    return FALSE;
}

void WindowGtk::OnSizeAllocate(GtkWidget*, GdkRectangle* allocation, gpointer self) {
    WindowGtk* window = Self(self);
    if (window->content_ != nullptr) window->content_->FitToClient(window->ClientSize());
    const Size size{allocation->width, allocation->height};
    if (size == window->allocated_) return;
    window->allocated_ = size;
    if (window->sized_) {
        auto handler = window->sized_;
        handler();
    }
}

gboolean WindowGtk::OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer self) {
    WindowGtk* window = Self(self);
    if (window->pending_) {
        const Rect now{event->x, event->y, event->x + event->width, event->y + event->height};
        // A window manager may refuse the request; after a few reports the real one counts.
        if (now == *window->pending_ || ++window->configuresSincePending_ > 3) {
            window->pending_.reset();
        }
    }
    return FALSE;
}

}  // namespace detail

std::unique_ptr<Window> CreateWindow() {
    if (!InitGuiToolkit()) return nullptr;
    return std::make_unique<detail::WindowGtk>();
}

}  // namespace os
