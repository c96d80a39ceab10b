#pragma once
#include <cstdint>
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
// covers its client area (skinned panels move it onto their body rectangle). Browser events
// and UI-handler requests reach the panel through the virtual OnPanelEvent chain, derived class
// first; page calls go to the panel's bridge, whose command table holds the panel's own set
// first and the common set after it.
//
// Life: construct, CreatePanel (window + view + OnInitPanel, hidden), NavigatePage, Show...
// The window can go before the object (ClosePanel, the window manager); OnFinalMessage then
// runs, and with autoDelete the object deletes itself on the next turn of the main loop. All
// members are for the GUI thread except the bridge's notifications.
class CHtmlPanel : public CommonCommandTarget, public CMessageFilter {
  public:
    CHtmlPanel(std::string panelName, int autoDelete, std::string settingsPath = {});
    ~CHtmlPanel() override;
    CHtmlPanel(const CHtmlPanel&) = delete;
    CHtmlPanel& operator=(const CHtmlPanel&) = delete;

    // Runs ConfigureBrowser, asks the creation-time UI-handler questions (kUiGetHostInfo,
    // kUiGetOptionKeyPath, kUiGetDropTarget), creates the hidden window with its web view, then
    // OnInitPanel. False when the window or its view cannot be made (the object stays usable,
    // without a window).
    bool CreatePanel();

    // The base makes the view cover the client area and wires events, keys and the final
    // message. Overrides call the base first, then do their own steps; true on success.
    virtual bool OnInitPanel();
    // Base: destroys the panel window.
    void ClosePanel() override;
    // Base: the option key path := "Software\quorlin\webapp" (runs before the view exists).
    virtual void ConfigureBrowser();
    // The panel's own page commands, offered before the common set. Fill command.result and
    // return nonzero when handled. The base handles nothing.
    virtual int HandleAppCommand(PageCommand& command);
    // The panel-event chain: handle your codes, pass the others to the base class; true when
    // handled. The base answers kEventNavigateError (no error page), kUiShowContextMenu,
    // kUiGetHostInfo and kUiGetOptionKeyPath.
    virtual bool OnPanelEvent(PanelEvent& event);
    // Keys before the web view; true consumes. The base eats every key while F5 is down, so
    // neither F5 nor Ctrl+F5 reloads the page.
    virtual bool TranslatePanelMessage(const os::KeyEvent& key);
    // The panel's message filter, registered with the GUI thread's message loop from
    // OnInitPanel until the window goes: key messages aimed at this panel's window go to
    // TranslatePanelMessage.
    bool PreTranslateMessage(const Message& msg) override;
    // "app.quit": the base ignores it; the main panel ends the program.
    void QuitProgram() override {}
    // The window is gone. The base schedules `delete this` when autoDelete is nonzero.
    virtual void OnFinalMessage();
    // The window manager asks to close the window; true keeps it (the base keeps it).
    virtual bool OnCloseRequest();

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

  protected:
    // The folder module-relative texts are joined to (ModuleDirectory by default).
    void SetModuleDirectory(std::string directory);
    const std::string& ModuleDirectoryOfPanel() const { return moduleDirectory_; }
    // Whose origin counts as the main page for the bridge (the build's page address by default).
    void SetTrustedMainPage(std::string url);

    static os::KeyEvent KeyOfMessage(const Message& msg);

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
    std::unique_ptr<os::Window> window_;
    // Declared after the window and before the bridge: it goes before the window that holds
    // it, and after the bridge that answers its calls.
    std::unique_ptr<os::WebView> view_;
    CommonCommands common_{*this};
    PageBridge bridge_;
    bool f5Down_ = false;
    bool filterRegistered_ = false;
};
