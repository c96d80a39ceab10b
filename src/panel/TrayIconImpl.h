#pragma once
#include <memory>
#include <optional>
#include <string>

#include "os/Tray.h"
#include "panel/TrayMenu.h"

// The record every tray call is made with.
struct TrayIconData {
    unsigned uID = 0;
    unsigned uFlags = 0;
    unsigned uCallbackMessage = 0;
    std::string icon;  // image file
    std::string szTip;
};

inline constexpr unsigned NIF_MESSAGE = 0x1;
inline constexpr unsigned NIF_ICON = 0x2;
inline constexpr unsigned NIF_TIP = 0x4;

// What the tray mix-in needs of the panel it belongs to.
class TrayIconOwner {
  public:
    // The command reaches the panel now, as a menu choice does.
    virtual void SendPanelCommand(int command) = 0;
    // Runs after the popup menu closes; lets the panel catch up on what waited for it.
    virtual void PostPanelNull() = 0;

  protected:
    ~TrayIconOwner() = default;
};

// Tray icon mix-in of a panel window class: the icon, its tooltip and its popup menu. The panel
// derives from it and answers TrayIconOwner.
class CTrayIconImpl : public TrayIconOwner {
  public:
    CTrayIconImpl() = default;
    virtual ~CTrayIconImpl() = default;
    CTrayIconImpl(const CTrayIconImpl&) = delete;
    CTrayIconImpl& operator=(const CTrayIconImpl&) = delete;

    // Called with the popup before it is shown; nothing to add by default.
    virtual void PrepareTrayMenu(TrayMenu& /*popup*/) {}

    // Replaces the desktop's tray (tests hand in a fake). Before AddTrayIcon only.
    void UseTray(std::unique_ptr<os::TrayIcon> tray) { tray_ = std::move(tray); }

    bool AddTrayIcon(const std::string& tooltip, const std::string& icon, unsigned id);
    bool RemoveTrayIcon();
    void OnTrayNotify(unsigned iconId, unsigned mouseMessage);

    // The mix-in's share of the panel's life: the icon goes in once the window exists and
    // out when it goes.
    void OnTrayInitDialog();
    void OnTrayDestroy() { RemoveTrayIcon(); }

    // The record of the last tray call, and whether the icon is in the tray now.
    const TrayIconData& IconData() const { return iconData_; }
    bool TrayIconAdded() const { return added_; }
    // The command a double click sends and the popup shows in bold; 0 for none.
    void SetDefaultCommand(int command) { defaultCommand_ = command; }

  private:
    os::TrayIcon& Tray();
    std::optional<TrayMenu> BuildPopup();
    // The tip field holds 63 UTF-16 units and a terminator; never cut inside a character.
    static std::string CutTip(const std::string& tip);

    TrayIconData iconData_;
    bool added_ = false;
    int defaultCommand_ = 0;
    std::unique_ptr<os::TrayIcon> tray_;
};
