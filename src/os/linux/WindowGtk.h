#pragma once
// Internal to the Linux OS layer: the GTK window, and what it asks of the web view inside it.
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "os/Window.h"

namespace os::detail {

// What a window asks of the view it holds. The view registers itself while it lives.
class WindowContent {
  public:
    virtual ~WindowContent() = default;
    // A page was asked for, so a first frame will come.
    virtual bool HasPage() const = 0;
    // Runs `painted` once the page's first frames have reached the screen; never when the page
    // fails first (the window has its own fallback).
    virtual void AwaitFirstFrame(std::function<void()> painted) = 0;
    // The client area now has `client` size.
    virtual void FitToClient(Size client) = 0;
};

class WindowGtk final : public Window {
  public:
    WindowGtk();
    ~WindowGtk() override;
    WindowGtk(const WindowGtk&) = delete;
    WindowGtk& operator=(const WindowGtk&) = delete;

    long Handle() const override;
    bool IsAlive() const override { return window_ != nullptr; }
    void Destroy() override {
        if (window_ != nullptr) gtk_widget_destroy(window_);
    }

    void SetTitle(const std::string& title) override;
    std::string Title() const override { return title_; }
    void SetIcon(const PixelBuffer& icon) override;

    void Show() override;
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
    void Restore() override;
    bool IsMinimized() const override { return (state_ & GDK_WINDOW_STATE_ICONIFIED) != 0; }
    bool IsMaximized() const override { return (state_ & GDK_WINDOW_STATE_MAXIMIZED) != 0; }
    void SetKeepAbove(bool above) override;
    bool IsKeepAbove() const override { return keepAbove_; }
    void SetSkipTaskbar(bool skip) override;
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
        skinStale_ = true;
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

    // The container a view is put in; null once the window is gone.
    GtkLayout* Layout() const { return layout_ ? GTK_LAYOUT(layout_) : nullptr; }
    void SetContent(WindowContent* content) { content_ = content; }

  private:
    // Paints the skin into a new surface of that size and keeps it as skin_; null when the
    // paint handler gave nothing usable.
    cairo_surface_t* PaintSkinSurface(int width, int height, int scale);
    bool BeginReveal();
    void AwaitFirstFrame();
    void EndReveal(unsigned generation);
    void ApplyShape();

    static void OnDestroy(GtkWidget*, gpointer self);
    static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
    static gboolean OnKey(GtkWidget*, GdkEventKey* key, gpointer self);
    static gboolean OnFocusOut(GtkWidget*, GdkEventFocus*, gpointer self);
    static gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self);
    static void OnSizeAllocate(GtkWidget*, GdkRectangle*, gpointer self);
    static gboolean OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer self);

    GtkWidget* window_ = nullptr;
    GtkWidget* layout_ = nullptr;
    WindowContent* content_ = nullptr;
    // The X server applies a move or resize later; until it reports the geometry asked
    // for, callers read what they asked for.
    std::optional<Rect> pending_;
    int configuresSincePending_ = 0;
    std::string title_;
    uint32_t background_ = 0xFFFFFFFF;
    // The skin as last painted, for its size and scale: the web view's frames redraw the window
    // under it many times a second, and the skin changes only when asked (QueueRedraw) or
    // resized.
    cairo_surface_t* skin_ = nullptr;
    bool skinStale_ = true;
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
};

}  // namespace os::detail
