#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/PixelBuffer.h"

namespace os {

// A rectangle in the Win32 manner: right and bottom are exclusive.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

// A key press or release seen by a panel window before its web view gets it.
struct KeyEvent {
    unsigned keyval = 0;  // X keysym (GDK key value)
    bool pressed = true;  // false for a release
    bool control = false;
    bool shift = false;
    bool alt = false;
};
constexpr unsigned kKeyF5 = 0xFFC2;

// One browser event, UI-handler request or bridge call of a web view; its code is one of
// os/PanelEventCodes.h. The handler fills the answer fields that apply to the code.
struct WebEvent {
    int code = 0;
    // kEventBeforeNavigate2, kEventNavigateComplete2, kEventDocumentComplete, kEventNavigateError,
    // kEventNewWindow3: the address concerned; WEBCTRL_CALL: the address of the calling document,
    // taken when its Call was made.
    std::string url{};
    // kEventTitleChange: the new title.
    std::string text{};
    // kEventProgressChange: progress and its maximum (100); kEventNavigateError: the error code.
    long value = 0;
    long valueMax = 0;
    // kEventBeforeNavigate2, kEventNavigateComplete2, kEventDocumentComplete, kEventNavigateError:
    // false when the event concerns a sub-frame.
    bool topFrame = true;

    // Answer of kEventBeforeNavigate2 (block the navigation), kEventNavigateError (show no error
    // page), kEventNewWindow3 (open nothing), kEventWindowClosing (keep the window).
    bool cancel = false;
    // Answer of kUiShowContextMenu (0 = handled: no context menu), kUiGetHostInfo (host flags),
    // kUiGetDropTarget (nonzero: keep the view's drop target), kUiGetExternal (nonzero: the page
    // gets the bridge).
    long answer = 0;
    // Answer of kUiGetOptionKeyPath (the option key path).
    std::string key{};
    // WEBCTRL_CALL: the element's "param" (none when the attribute is missing). Answer: the text
    // for "result"; none leaves the element untouched (no target).
    std::optional<std::string> param{};
    std::optional<std::string> result{};
};

struct PanelWindowOptions {
    bool withWebView = true;
    // Web view only: WebKit's per-user data folder (empty: WebKit's default), whether the
    // page shows scrollbars, whether drops are accepted.
    std::string webDataFolder;
    bool showScrollbars = true;
    bool acceptDrops = false;
};

// An undecorated top-level window, optionally holding one web view. All members are for the
// GUI thread. Coordinates are screen pixels; client coordinates start at the window's corner.
class PanelWindow {
  public:
    virtual ~PanelWindow() = default;

    // The X11 window id ([app] wnd); 0 when the window is gone or not realised.
    virtual long Handle() const = 0;
    // False once the window has been destroyed (Destroy or the window system).
    virtual bool IsAlive() const = 0;
    // Destroys the window (and its web view); the destroy handler runs before this returns.
    virtual void Destroy() = 0;

    virtual void SetTitle(const std::string& title) = 0;
    virtual std::string Title() const = 0;
    virtual void SetIcon(const PixelBuffer& icon) = 0;

    virtual void Show() = 0;
    virtual void Hide() = 0;
    // De-iconifies, shows, raises and focuses the window. `userTime` is the X server time of
    // the user action that asked for it (0: now), so a window manager that prevents focus
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
    // composites (then the buffer's alpha is shown); the window shows it beneath the web view
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

    // --- the web view (no effect on a window created without one) ---
    virtual bool HasWebView() const = 0;
    // Places the view on `clientRect`; by default it covers the whole client area.
    virtual void SetWebViewBounds(const Rect& clientRect) = 0;
    // Browser events, UI-handler requests kUiShowContextMenu/kUiGetExternal and bridge calls
    // (WEBCTRL_CALL) arrive here.
    virtual void SetWebEventHandler(std::function<void(WebEvent&)> handler) = 0;
    virtual void LoadUri(const std::string& uri) = 0;
    virtual std::string CurrentUri() const = 0;
    // Runs script text in the page's top frame; the outcome is discarded.
    virtual void RunScript(const std::string& script) = 0;
    // WebKit's id of the view's page (the bridge routes calls by it); 0 without a view.
    virtual uint64_t PageId() const = 0;
};

std::unique_ptr<PanelWindow> CreatePanelWindow(const PanelWindowOptions& options);

// Prepares the toolkit (X11 backend, GTK) once per process; false when no display is usable.
// Call on the thread that will run the GUI loop, before any window exists.
bool InitGuiToolkit();

// The monitor that holds the point: its whole area and its work area (without panels).
struct MonitorAreas {
    Rect screen;
    Rect workArea;
};
MonitorAreas MonitorAreasAt(int x, int y);

// Where WebKit finds the web-process extension that gives pages window.external. Default: the
// "webext" folder beside the executable. Set it before the first web view exists.
void SetWebExtensionsDirectory(const std::string& directory);

// Pages for "res://<executable>/<number>": the content and its MIME type.
struct EmbeddedResource {
    std::string mimeType;
    std::string bytes;
};
void RegisterEmbeddedResource(int id, EmbeddedResource resource);

// WebKit's data folder for a browser option key: "Software\quorlin\webapp" becomes
// $XDG_DATA_HOME/quorlin/webapp (~/.local/share/... when unset).
std::string UserDataFolderForKey(const std::string& optionKey);

}  // namespace os
