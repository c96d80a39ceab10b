#pragma once
#include <optional>
#include <string>
#include <vector>

#include "os/WebView.h"
#include "web/ScriptText.h"

namespace testsupport {

// An os::WebView in memory: what was loaded and run is kept, and tests raise the view's
// events and page calls themselves.
class FakeWebView : public os::WebView {
  public:
    bool IsAlive() const override { return alive; }
    void SetBounds(const os::Rect& rect) override { bounds = rect; }
    void SetEventHandler(std::function<void(os::WebEvent&)> handler) override {
        event = std::move(handler);
    }
    void SetBridgeHandler(
        std::function<std::optional<std::string>(const os::BridgeCall&)> handler) override {
        bridge = std::move(handler);
    }
    void LoadUri(const std::string& uri) override { loaded.push_back(uri); }
    std::string CurrentUri() const override { return loaded.empty() ? "" : loaded.back(); }
    void RunScript(const std::string& script) override {
        if (alive) scripts.push_back(script);
    }
    // Kept as the script the call stands for, name('<arg>',...); with every argument a literal.
    void CallPageFunction(const std::string& name, const std::vector<std::string>& args) override {
        if (!alive) return;
        std::string script = name + "(";
        for (size_t i = 0; i < args.size(); ++i)
            script += (i ? "," : "") + JsStringLiteral(args[i]);
        scripts.push_back(script + ");");
    }
    void SetRecoveryHandler(std::function<std::string(bool)> handler) override {
        recovery = std::move(handler);
    }

    // A page call from a document at `documentUrl` while the view shows what it loaded last;
    // none when no bridge takes calls.
    std::optional<std::string> Call(const std::string& documentUrl,
                                    std::optional<std::string> param) {
        if (!bridge) return std::nullopt;
        return bridge({documentUrl, CurrentUri(), std::move(param)});
    }

    bool alive = true;
    os::Rect bounds;
    std::vector<std::string> loaded;
    std::vector<std::string> scripts;
    std::function<void(os::WebEvent&)> event;
    std::function<std::optional<std::string>(const os::BridgeCall&)> bridge;
    std::function<std::string(bool)> recovery;
};

}  // namespace testsupport
