#pragma once
#include <memory>
#include <string>

#include "mainpanel/AppCommands.h"
#include "mainpanel/MainPanelHost.h"
#include "mainpanel/PackageDesk.h"
#include "panel/PanelImpl.h"
#include "panel/PopPanel.h"
#include "panel/TrayIconImpl.h"
#include "panel/WebPanel.h"

// Commands the main panel's window answers in OnPanelCommand; the tray's are in panel/TrayMenu.h.
inline constexpr int kCommandExit = 1;
inline constexpr int kCommandCancel = 2;  // Escape and the close button: hides the panel
// The hand-over of a second instance that asks for the main panel.
inline constexpr unsigned long SHOW_PANEL_COPYDATA = 1;
// What the main panel answers the host-information request with.
inline constexpr long kMainPanelHostFlags = DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_NO3DBORDER |
                                            DOCHOSTUIFLAG_SCROLL_NO | DOCHOSTUIFLAG_THEME |
                                            DOCHOSTUIFLAG_USE_WINDOWED_SELECTCONTROL;

// The program's main window: a skinned web panel with the tray icon. It loads the maker's main
// page (falling back to the local copy) and answers the page's own commands; packages and
// phones are its package desk's. Start-up owns it.
class CAppPanel : public CWebPanel,
                  public CTrayIconImpl,
                  public IMainPanel,
                  private AppCommandHost {
  public:
    CAppPanel(std::string panelName, std::string settingsPath);
    ~CAppPanel() override;

    // --- IMainPanel (start-up) ---
    bool Create() override;
    long WindowHandle() const override;
    void Hide() override;
    long OnCopyData(unsigned long dwData, unsigned long userTime) override;

    // --- CHtmlPanel ---
    bool OnInitPanel() override;
    void ClosePanel() override;
    // The main panel's command set: window commands come back here, package commands go
    // straight to the desk.
    int HandleAppCommand(PageCommand& command) override {
        return RunAppCommand(command, *this, *desk_);
    }
    bool OnPanelEvent(PanelEvent& event) override;
    // "app.quit" of the page ends the program, as the tray's exit does.
    void QuitProgram() override { OnPanelCommand(kCommandExit); }
    // A command of the tray, a key or the window manager.
    void OnPanelCommand(int id);
    // The window manager's close button hides the panel, as Escape does: the program lives on
    // in the tray.
    bool OnCloseRequest() override;
    // Escape is the dialog's cancel key: it sends command 2, which hides the panel.
    bool TranslatePanelMessage(const os::KeyEvent& key) override;

    // De-iconifies, shows, raises and focuses the panel; `userTime` is the X server time of
    // the user action that asked (0: now).
    void ShowMainPanel(unsigned long userTime = 0);

    // --- what the tray mix-in needs ---
    void SendPanelCommand(int command) override { OnPanelCommand(command); }
    void PostPanelNull() override {}

    const std::string& PageUrl() const { return pageUrl_; }

  private:
    // --- AppCommandHost ---
    const std::string& SettingsFile() const override { return SettingsPath(); }
    const std::string& MainPanelName() const override { return PanelName(); }
    bool SetAutostartEntry(bool enable) override;
    void HideMainPanel() override;
    void MoveMainPanel(long dx, long dy) override;
    void PopPanel(const std::string& url) override;

    CPopPanel* popPanel_ = nullptr;  // deletes itself; cleared by its gone handler
    std::unique_ptr<CPanelImpl> splashPanel_;
    std::string pageUrl_;
    bool fellBack_ = false;  // the main page failed and the local copy was navigated

    // Workers reach the panel only through closures posted to the GUI thread that check this
    // token there, so nothing touches the panel after it is gone.
    std::shared_ptr<CAppPanel*> alive_;
    std::unique_ptr<CPackageDesk> desk_;
};
