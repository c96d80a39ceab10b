#include "os/UsbArrivalMonitor.h"

// No platform: nothing announces devices, so the monitor never watches.
namespace os {

struct UsbArrivalMonitor::Watch {};

UsbArrivalMonitor::UsbArrivalMonitor(std::function<void()> /*onArrival*/) {}

UsbArrivalMonitor::UsbArrivalMonitor(std::function<void()> /*onArrival*/,
                                     const std::string& /*subsystem*/) {}

UsbArrivalMonitor::~UsbArrivalMonitor() = default;

bool UsbArrivalMonitor::IsWatching() const {
    return false;
}

}  // namespace os
