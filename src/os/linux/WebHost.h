#pragma once
// Internal to the Linux OS layer: the WebKit contexts, the bridge server and the views it
// routes page calls to.
#include <webkit2/webkit2.h>

#include <optional>
#include <string>

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
};
void AddBridgeSink(BridgeCallSink* sink);
void RemoveBridgeSink(BridgeCallSink* sink);

// Serves one web process's end of a bridge socket on the GUI main loop; takes the fd.
void ServeBridgeSocket(int fd);

// The WebKit view behind a web view, for code that drives WebKit directly (benchmarks).
WebKitWebView* NativeWebView(WebView& view);

}  // namespace os::detail
