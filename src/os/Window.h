#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/Key.h"
#include "os/PixelBuffer.h"
#include "os/Rect.h"

namespace os {

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

// An undecorated top-level window: placement, shape, showing and raising, input. A web view
// can be put inside it (os/WebView.h). All members are for the GUI thread. Coordinates are
// screen pixels; client coordinates start at the window's corner.
class Window {
  public:
    virtual ~Window() = default;

    // The window system's id of the window ([app] wnd); 0 when the window is gone or not
    // realised.
    virtual long Handle() const = 0;
    // False once the window has been destroyed (Destroy or the window system).
    virtual bool IsAlive() const = 0;
    // Destroys the window (and what it holds); the destroy handler runs before this returns.
    virtual void Destroy() = 0;

    virtual void SetTitle(const std::string& title) = 0;
    virtual std::string Title() const = 0;
    virtual void SetIcon(const PixelBuffer& icon) = 0;

    virtual void Show() = 0;
    virtual void Hide() = 0;
    // De-iconifies, shows, raises and focuses the window. `userTime` is the window system's time
    // of the user action that asked for it (0: now), so a window manager that prevents focus
    // stealing lets the window come forward.
    virtual void Present(unsigned long userTime) = 0;
    virtual bool IsVisible() const = 0;
    virtual void Minimize() = 0;
    virtual void Maximize() = 0;
    // Undoes Minimize and Maximize.
    virtual void Restore() = 0;
    virtual bool IsMinimized() const = 0;
    virtual bool IsMaximized() const = 0;
    virtual void SetKeepAbove(bool above) = 0;
    virtual bool IsKeepAbove() const = 0;
    virtual void SetSkipTaskbar(bool skip) = 0;
    virtual bool IsSkipTaskbar() const = 0;

    // The window's rectangle on the screen (undecorated, so outer = client).
    virtual Rect ScreenRect() const = 0;
    virtual void MoveResize(const Rect& screenRect) = 0;
    virtual Size ClientSize() const = 0;
    // Only the union of `rects` (client coordinates) is part of the window; empty: all of it.
    virtual void SetWindowRegion(const std::vector<Rect>& rects) = 0;
    // A left-button press inside `clientRect` starts moving the window, as on a title band;
    // an empty rectangle turns that off.
    virtual void SetDragBand(const Rect& clientRect) = 0;

    // Colour the paint buffer is filled with before the paint handler runs (0xAARRGGBB).
    virtual void SetBackgroundColor(uint32_t argb) = 0;
    // Called on every draw with a buffer of the client size times the device scale (see
    // PixelBuffer::scale), prefilled with the background colour, transparent when the screen
    // composites (then the buffer's alpha is shown); the window shows it beneath its web view
    // (and wherever the view is not).
    virtual void SetPaintHandler(std::function<void(PixelBuffer& canvas)> handler) = 0;
    virtual void QueueRedraw() = 0;
    // Keys reach the handler before the web view; returning true consumes the key.
    virtual void SetKeyHandler(std::function<bool(const KeyEvent&)> handler) = 0;
    // The user or window manager asks to close; returning true keeps the window.
    virtual void SetCloseRequestHandler(std::function<bool()> handler) = 0;
    // The window is being destroyed (its last message); the object itself stays valid.
    virtual void SetDestroyHandler(std::function<void()> handler) = 0;
    // The client size changed: runs after the new size is in place.
    virtual void SetSizeHandler(std::function<void()> handler) = 0;
};

// A hidden window of the default size; null when no display is usable.
std::unique_ptr<Window> CreateWindow();

// Prepares the window toolkit once per process; false when no display is usable.
// Call on the thread that will run the GUI loop, before any window exists.
bool InitGuiToolkit();

// The monitor that holds the point: its whole area and its work area (without panels).
struct MonitorAreas {
    Rect screen;
    Rect workArea;
};
MonitorAreas MonitorAreasAt(int x, int y);

}  // namespace os
