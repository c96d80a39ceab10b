#pragma once
// Internal to the Linux OS layer: the WebKit contexts, the bridge server and the views it
// routes page calls to.
#include <webkit2/webkit2.h>

#include <optional>
#include <string>
#include <vector>

#include "os/WebView.h"

namespace os::detail {

// One web context per WebKit data folder (empty: WebKit's default), made on first use with
// the extension, the res: scheme and the bridge wired in. Lives until the process ends.
WebKitWebContext* WebContextFor(const std::string& dataFolder);

// Settings for a panel's view: what its one page needs, nothing more. The caller owns them.
WebKitSettings* NewPanelWebSettings();

// A web view that takes page calls; the bridge finds it by its page id at every call.
class BridgeCallSink {
  public:
    virtual ~BridgeCallSink() = default;
    virtual WebKitWebView* BridgeView() const = 0;
    // The text for the element's "result" (none: no target). May run nested main loops or
    // destroy the view.
    virtual std::optional<std::string> OnBridgeCall(const std::string& documentUrl,
                                                    std::optional<std::string> param) = 0;
    // The page has bound its process's socket (see ExpectBridgeBinding).
    virtual void OnBridgeBound() {}
};
void AddBridgeSink(BridgeCallSink* sink);
void RemoveBridgeSink(BridgeCallSink* sink);

// Page function calls go over the page process's socket once the page has bound it: the sink
// sends the page `token` through WebKit (bridge::kBindMessage) and the page sends it back over
// its socket. Until then, and once forgotten (another document, another process), they go
// through WebKit's messages.
void ExpectBridgeBinding(BridgeCallSink* sink, const std::string& token);
void ForgetBridgeBinding(BridgeCallSink* sink);
// Sends a call of the page's function `name` over the bound socket, never blocking; false
// (nothing sent) when the page is not bound.
bool SendBoundPageCall(BridgeCallSink* sink, uint64_t pageId, const std::string& name,
                       const std::vector<std::string>& args);

// Serves one web process's end of a bridge socket on the GUI main loop; takes the fd.
void ServeBridgeSocket(int fd);

// The WebKit view behind a web view, for code that drives WebKit directly (benchmarks).
WebKitWebView* NativeWebView(WebView& view);

}  // namespace os::detail
