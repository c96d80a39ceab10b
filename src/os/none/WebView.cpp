#include "os/WebView.h"

// No platform: no web engine.
namespace os {

std::unique_ptr<WebView> CreateWebView(Window& /*host*/, const WebViewOptions& /*options*/) {
    return nullptr;
}

std::string UserDataFolderForKey(const std::string& /*optionKey*/) {
    return {};
}

}  // namespace os
