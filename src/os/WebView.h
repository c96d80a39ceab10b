#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/PanelEventCodes.h"
#include "os/Window.h"

namespace os {

// One browser event or UI-handler request of a web view; its code is one of
// os/PanelEventCodes.h. The handler fills the answer fields that apply to the code.
struct WebEvent {
    PanelEventCode code = PanelEventCode::None;
    // kEventBeforeNavigate2, kEventNavigateComplete2, kEventDocumentComplete, kEventNavigateError,
    // kEventNewWindow3: the address concerned.
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
    // kEventBeforeNavigate2: cancelled because another user serves the loopback address.
    bool refusedByOwner = false;
    // Answer of kUiShowContextMenu (0 = handled: no context menu), kUiGetHostInfo (host flags),
    // kUiGetDropTarget (nonzero: keep the view's drop target).
    long answer = 0;
    // Answer of kUiGetOptionKeyPath (the option key path).
    std::string key{};
};

// A page's window.external.Call as it reaches the program.
struct BridgeCall {
    // The address of the calling document, taken when its Call was made.
    std::string documentUrl;
    // The address the view shows now.
    std::string shownUrl;
    // The element's "param"; none when the attribute is missing.
    std::optional<std::string> param;
};

struct WebViewOptions {
    // WebKit's per-user data folder (empty: WebKit's default), whether the page shows
    // scrollbars, whether drops are accepted.
    std::string dataFolder;
    bool showScrollbars = true;
    bool acceptDrops = false;
};

// A web view inside a window: it covers the window's client area until given other bounds.
// All members are for the GUI thread. The view goes with its window.
class WebView {
  public:
    virtual ~WebView() = default;

    // False once the view is gone (with its window, or never made).
    virtual bool IsAlive() const = 0;
    // Places the view on `clientRect` of its window.
    virtual void SetBounds(const Rect& clientRect) = 0;
    // Browser events and UI-handler requests arrive here.
    virtual void SetEventHandler(std::function<void(WebEvent&)> handler) = 0;
    // Page calls arrive here; the answer is the text for the element's "result", none leaves
    // the element untouched (no target). The handler may close the view's window.
    virtual void SetBridgeHandler(
        std::function<std::optional<std::string>(const BridgeCall&)> handler) = 0;
    virtual void LoadUri(const std::string& uri) = 0;
    virtual std::string CurrentUri() const = 0;
    // Runs script text in the page's top frame; the outcome is discarded.
    virtual void RunScript(const std::string& script) = 0;
    // Calls the top frame's global function `name` (an identifier) with `args`, each a string
    // of exactly its text (well-formed UTF-8, which the caller ensures; NUL included), in the
    // order of these calls. Nothing happens
    // when the page has no such function; what it returns or throws is discarded. No script is
    // compiled per call.
    virtual void CallPageFunction(const std::string& name,
                                  const std::vector<std::string>& args) = 0;
    // When the view's web process ends (a crash, a kill, out of memory), the view loads a page
    // again by itself, and each time logs why. Up to three times a minute it asks this handler
    // with `givingUp` false; after that with true, for the page to stay on, which gets a line
    // saying what happened. An empty answer, or no handler: the page the view showed, and when
    // giving up a notice of the view's own.
    virtual void SetRecoveryHandler(std::function<std::string(bool givingUp)> handler) = 0;
};

// A web view in `host`; null when none can be made there.
std::unique_ptr<WebView> CreateWebView(Window& host, const WebViewOptions& options);

// Where WebKit finds the web-process extension that gives pages window.external. Default: the
// "webext" folder beside the executable. Set it before the first web view exists.
void SetWebExtensionsDirectory(const std::string& directory);

// Pages for "res://<executable>/<number>": the content and its MIME type.
struct EmbeddedResource {
    std::string mimeType;
    std::string bytes;
};
void RegisterEmbeddedResource(int id, EmbeddedResource resource);

// The web engine's data folder for a browser option key: "Software\quorlin\webapp" becomes
// quorlin/webapp in the user's data folder.
std::string UserDataFolderForKey(const std::string& optionKey);

}  // namespace os
