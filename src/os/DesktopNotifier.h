#pragma once
#include <functional>
#include <memory>
#include <string>

namespace os {

// Desktop notifications (the bubbles a notification server shows beside the tray). GUI thread.
class DesktopNotifier {
  public:
    virtual ~DesktopNotifier() = default;
    // Shows `title` (plain text) and `body` (plain text); `onActivate` runs on the GUI thread
    // when the user clicks the notification. False when it could not be sent (no server or no
    // session bus).
    virtual bool Show(const std::string& title, const std::string& body,
                      std::function<void()> onActivate) = 0;
};

// The session's notification server (org.freedesktop.Notifications).
std::unique_ptr<DesktopNotifier> MakeDesktopNotifier();

}  // namespace os
