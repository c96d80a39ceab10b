#pragma once
#include <functional>
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

// The panel's tray icon: the icon, its tooltip and its popup menu. What the user chooses (a
// menu item, the icon's activation: its default command) goes to the command handler it was made
// with.
class CTrayIconImpl {
  public:
    using CommandHandler = std::function<void(int command)>;
    using HostHandler = std::function<void(bool shown)>;
    explicit CTrayIconImpl(CommandHandler onCommand) : onCommand_(std::move(onCommand)) {}
    ~CTrayIconImpl() { RemoveTrayIcon(); }
    CTrayIconImpl(const CTrayIconImpl&) = delete;
    CTrayIconImpl& operator=(const CTrayIconImpl&) = delete;

    // Replaces the desktop's tray (tests hand in a fake). Before AddTrayIcon only.
    void UseTray(std::unique_ptr<os::TrayIcon> tray) { tray_ = std::move(tray); }

    // Shows the icon, now when a tray host is there, else as soon as one appears; true when
    // shown now. Until RemoveTrayIcon it comes back whenever a host (re)starts.
    bool AddTrayIcon(const std::string& tooltip, const std::string& icon, unsigned id);
    // Takes the icon away; true when a host was showing it.
    bool RemoveTrayIcon();
    void OnTrayNotify(unsigned iconId, unsigned mouseMessage);

    // The program's icon with the main menu, once the panel's window exists.
    void AddProgramIcon();

    // The record of the last tray call, and whether a tray host shows the icon now.
    const TrayIconData& IconData() const { return iconData_; }
    bool TrayIconAdded() const { return added_; }
    // Hears each time a host starts or stops showing the icon (on the GUI thread).
    void SetHostHandler(HostHandler onHost) { onHost_ = std::move(onHost); }
    // The tooltip of the icon, now and whenever it is shown again.
    void SetTooltip(const std::string& tooltip);
    // The command the icon's activation (one click) sends and the popup shows in bold; 0 for none.
    void SetDefaultCommand(int command) { defaultCommand_ = command; }

  private:
    os::TrayIcon& Tray();
    void Command(int command);
    std::optional<TrayMenu> BuildPopup();
    // The tip field holds 63 UTF-16 units and a terminator; never cut inside a character.
    static std::string CutTip(const std::string& tip);

    TrayIconData iconData_;
    bool wanted_ = false;  // added and not removed: the tray follows its hosts
    bool added_ = false;
    HostHandler onHost_;
    int defaultCommand_ = 0;
    CommandHandler onCommand_;
    std::unique_ptr<os::TrayIcon> tray_;
};
