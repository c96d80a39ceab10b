#pragma once
#include <functional>
#include <memory>
#include <string>

namespace os {

// Calls `onArrival` on the GUI main loop once for every "add" the device manager announces for
// a USB device or interface (a phone brings several: the device, then each interface). Event
// driven through libudev: nothing polls. Watching stops when the monitor is destroyed.
class UsbArrivalMonitor {
  public:
    explicit UsbArrivalMonitor(std::function<void()> onArrival);
    // Watches another device subsystem ("net"), for tests that cannot attach a USB device.
    UsbArrivalMonitor(std::function<void()> onArrival, const std::string& subsystem);
    ~UsbArrivalMonitor();
    UsbArrivalMonitor(const UsbArrivalMonitor&) = delete;
    UsbArrivalMonitor& operator=(const UsbArrivalMonitor&) = delete;

    // False when the monitor could not be set up; no arrivals will be reported.
    bool IsWatching() const;

  private:
    struct Watch;
    std::unique_ptr<Watch> watch_;
};

}  // namespace os
