#include "os/Tray.h"

// No platform: no notification area.
namespace os {

std::unique_ptr<TrayIcon> MakeTrayIcon() {
    return nullptr;
}

}  // namespace os
