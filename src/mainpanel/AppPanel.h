#pragma once
#include <memory>
#include <string>
#include <vector>

#include "mainpanel/AppCommands.h"
#include "mainpanel/MainPanelHost.h"
#include "mainpanel/PackageDesk.h"
#include "mainpanel/PackageNotices.h"
#include "panel/PanelImpl.h"
#include "panel/PopPanel.h"
#include "panel/TrayIconImpl.h"
#include "panel/WebPanel.h"
#include "web/AddressProbe.h"

namespace os {
class DesktopNotifier;
}

// Commands the main panel's window answers in OnPanelCommand; the tray's are in panel/TrayMenu.h.
inline constexpr int kCommandExit = 1;
inline constexpr int kCommandCancel = 2;  // Escape and the close button: hides the panel
// What the main panel answers the host-information request with.
inline constexpr long kMainPanelHostFlags = DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_NO3DBORDER |
                                            DOCHOSTUIFLAG_SCROLL_NO | DOCHOSTUIFLAG_THEME |
                                            DOCHOSTUIFLAG_USE_WINDOWED_SELECTCONTROL;

// The program's main window: a skinned web panel with the tray icon. It loads the maker's main
// page (falling back to the local copy) and answers the page's own commands; packages and
// phones are its package desk's. Start-up owns it.
class CAppPanel : public IMainPanel, private AppCommandHost {
  public:
    CAppPanel(std::string panelName, std::string settingsPath);
    ~CAppPanel() override;
    CAppPanel(const CAppPanel&) = delete;
    CAppPanel& operator=(const CAppPanel&) = delete;

    // --- IMainPanel (start-up) ---
    // The window, its page and the desk, then the tray icon, whose menu commands come here.
    bool Create() override;
    long WindowHandle() const override;
    void Hide() override;
    long OnCopyData(unsigned long dwData, unsigned long userTime) override;

    // A command of the tray, a key or the window manager.
    void OnPanelCommand(int id);
    // Ends the program: the pop panel, the splash, the desk, the tray icon and the window go,
    // then the GUI loop.
    void ClosePanel();
    // De-iconifies, shows, raises and focuses the panel; `userTime` is the X server time of
    // the user action that asked (0: now).
    void ShowMainPanel(unsigned long userTime = 0);

    const std::string& PageUrl() const { return pageUrl_; }
    CWebPanel& Panel() { return panel_; }

  private:
    // The steps after the window exists, before the tray icon.
    void InitPanel();
    // The main page's own answers to browser events and UI-handler requests.
    bool OnPanelEvent(PanelEvent& event);
    // Escape (no modifier) is the dialog's cancel key: it hides the panel.
    bool OnKey(const os::KeyEvent& key);
    // A tray host started or stopped showing the icon.
    void OnTrayHost(bool shown);
    // A package notification, as the page gets it: the tooltip follows, and while the panel is
    // out of sight a failure or a start becomes a desktop notification.
    void OnPackageNotice(const std::string& event, const std::vector<std::string>& args);
    // A package's download and extraction ended: the tooltip no longer names it.
    void OnPackageFetchEnded(const std::string& base);

    // --- AppCommandHost ---
    const std::string& SettingsFile() const override { return panel_.SettingsPath(); }
    const std::string& MainPanelName() const override { return panel_.PanelName(); }
    bool SetAutostartEntry(bool enable) override;
    void HideMainPanel() override;
    void MoveMainPanel(long dx, long dy) override;
    void PopPanel(const std::string& url) override;
    void RetryMainPage() override;
    void OnMainPageProbed(const std::string& url, ProbeOutcome outcome);

    // The local copy of the page, shown while the maker's page cannot be.
    std::string LocalPageUrl();
    void FallBackToLocalPage();

    std::string pageUrl_;
    bool fellBack_ = false;   // the main page failed and the local copy was navigated
    bool pageShown_ = false;  // the first page loaded and brought the panel up
    bool probing_ = false;    // a retry of the main page is under way
    // Why the local page came, told to it once it has loaded ("refused"); empty: not said.
    std::string fallBackCause_;
    CWebPanel panel_;
    CTrayIconImpl tray_;
    CPackageNotices notices_;
    std::unique_ptr<os::DesktopNotifier> notifier_;  // made at the first notice
    std::unique_ptr<CPanelImpl> splashPanel_;
    CPopPanel* popPanel_ = nullptr;  // deletes itself; cleared by its gone handler
    unsigned popPanelsMade_ = 0;

    // Workers reach the panel only through closures posted to the GUI thread that check this
    // token there, so nothing touches the panel after it is gone.
    std::shared_ptr<CAppPanel*> alive_;
    std::unique_ptr<CPackageDesk> desk_;
};
