#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/MessageLoop.h"
#include "os/WebView.h"
#include "web/CommonCommands.h"
#include "web/PageBridge.h"
#include "web/PageCommand.h"
#include "web/PanelEvent.h"

// The window class of every panel: an undecorated top-level window holding one web view that
// covers its client area (skinned panels move it onto their body rectangle). What makes a panel
// one of its kind comes in at construction as its role: its own page commands (the bridge's
// table offers them before the common set), its own answers to browser events and UI-handler
// requests (before the base's), its keys, and what app.quit, panel.close and the window
// manager's close button do.
//
// Life: construct, CreatePanel (window + view + OnInitPanel, hidden), NavigatePage, Show...
// The window can go before the object (ClosePanel, the window manager); OnFinalMessage then
// runs, and with autoDelete the object deletes itself on the next turn of the main loop. All
// members are for the GUI thread except the bridge's notifications.
class CHtmlPanel : public CommonCommandTarget, public CMessageFilter {
  public:
    // Every member is optional.
    struct Role {
        // The panel's own page commands: true when the name is one of them (result filled).
        std::function<bool(PageCommand&)> commands;
        // Answers to panel events before the base's; true when answered (the base then
        // answers nothing).
        std::function<bool(PanelEvent&)> events;
        // Keys before the base's; true consumes.
        std::function<bool(const os::KeyEvent&)> keys;
        // "app.quit"; without it the page cannot end the program.
        std::function<void()> quit;
        // "panel.close"; without it the window is destroyed.
        std::function<void()> close;
        // The window manager's close button; true keeps the window (kept without it).
        std::function<bool()> closeRequest;
    };

    CHtmlPanel(std::string panelName, int autoDelete, std::string settingsPath = {},
               Role role = {});
    ~CHtmlPanel() override;
    CHtmlPanel(const CHtmlPanel&) = delete;
    CHtmlPanel& operator=(const CHtmlPanel&) = delete;

    // Runs ConfigureBrowser, asks the creation-time UI-handler questions (kUiGetHostInfo,
    // kUiGetOptionKeyPath, kUiGetDropTarget), creates the hidden window with its web view, then
    // OnInitPanel. False when the window or its view cannot be made (the object stays usable,
    // without a window), or when OnInitPanel fails (the window then stays).
    bool CreatePanel();

    // The base makes the view cover the client area and wires events, keys and the final
    // message. Overrides call the base first, then do their own steps; true on success.
    virtual bool OnInitPanel();
    // "panel.close" and the owner's close: the role's close, else DestroyWindow.
    void ClosePanel() override;
    void DestroyWindow();
    // The option key path := "Software\quorlin\webapp" (runs before the view exists).
    void ConfigureBrowser();
    // A browser event or UI-handler request: the role's answer, else the base's, which
    // answers kEventNavigateError (no error page), kUiShowContextMenu, kUiGetHostInfo and
    // kUiGetOptionKeyPath; true when answered.
    bool OnPanelEvent(PanelEvent& event);
    // Keys before the web view; true consumes. After the role's keys, the base eats every key
    // while F5 is down, so neither F5 nor Ctrl+F5 reloads the page.
    bool TranslatePanelMessage(const os::KeyEvent& key);
    // The panel's message filter, registered with the GUI thread's message loop from
    // OnInitPanel until the window goes: key messages aimed at this panel's window go to
    // TranslatePanelMessage.
    bool PreTranslateMessage(const Message& msg) override;
    void QuitProgram() override;
    // The window is gone. The base schedules `delete this` when autoDelete is nonzero.
    virtual void OnFinalMessage();

    // Navigates: an integer text is an embedded resource, a text with "http:" or "file:" an
    // address, anything else a module-relative path. False when there is no view.
    bool NavigatePage(const std::string& text);
    // "file://" + the absolute path with backslashes turned into "/".
    std::string ToFileUrl(const std::string& path) const;
    // Runs script text in the page's top frame; the outcome is discarded.
    void RunPageScript(const std::string& text);

    os::Window* Window() const { return window_.get(); }
    os::WebView* View() const { return view_.get(); }
    bool HasWindow() const { return window_ && window_->IsAlive(); }
    PageBridge& Bridge() { return bridge_; }
    // The style words as the page's panel.style and panel.exstyle left them.
    const CommonCommands& Common() const { return common_; }

    // --- CommonCommandTarget ---
    os::Window* CommandWindow() override;
    std::string CommandModuleDirectory() const override { return moduleDirectory_; }
    bool StartProgram(const std::string& file, const std::vector<std::string>& args,
                      bool shown) override;

    // The panel's cfg.ini section and the settings file it reads.
    const std::string& PanelName() const { return panelName_; }
    const std::string& SettingsPath() const { return settingsPath_; }

    // The folder module-relative texts are joined to (ModuleDirectory by default).
    void SetModuleDirectory(std::string directory);
    const std::string& ModuleDirectoryOfPanel() const { return moduleDirectory_; }
    // Whose origin counts as the main page for the bridge (the build's page address by default).
    void SetTrustedMainPage(std::string url);

  protected:
    static os::KeyEvent KeyOfMessage(const Message& msg);
    // The base's answers alone (see OnPanelEvent).
    bool BaseAnswer(PanelEvent& event) const;

  private:
    // A key of the window, offered to the message loop's filters (newest first) before the
    // web view sees it; true when a filter consumed it.
    bool OfferKeyToMessageLoop(const os::KeyEvent& key);
    void UnregisterMessageFilter();

    int autoDelete_;
    const std::string panelName_;
    std::string optionKeyPath_;
    const std::string settingsPath_;
    std::string moduleDirectory_;
    std::string trustedMainPage_;
    Role role_;
    std::unique_ptr<os::Window> window_;
    // Declared after the window and before the bridge: it goes before the window that holds
    // it, and after the bridge that answers its calls.
    std::unique_ptr<os::WebView> view_;
    CommonCommands common_{*this};
    PageBridge bridge_;
    bool f5Down_ = false;
    bool filterRegistered_ = false;
};
