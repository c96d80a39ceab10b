#pragma once
#include <gio/gio.h>

#include <memory>
#include <string>

#include "ChildRun.h"
#include "TempDir.h"

namespace testsupport {

// A session bus of the test's own: a dbus-daemon that activates no service, so a notification
// daemon or tray that the desktop would start on demand never takes a name the test serves.
// Ends with the object.
class PrivateBus {
  public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when the daemon could not be started.
    const std::string& address() const { return address_; }
    // A new connection to the bus (the caller unrefs it); null without a bus.
    GDBusConnection* Connect() const;

  private:
    TempDir folder_;
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

}  // namespace testsupport
