#include "os/UsbArrivalMonitor.h"

#include <glib-unix.h>
#include <libudev.h>
#include <unistd.h>

#include <cstring>

namespace os {

struct UsbArrivalMonitor::Watch {
    std::function<void()> onArrival;
    std::string subsystem;
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    guint source = 0;

    ~Watch() {
        if (source != 0) g_source_remove(source);
        if (monitor != nullptr) udev_monitor_unref(monitor);
        if (context != nullptr) udev_unref(context);
    }

    static gboolean OnReadable(gint, GIOCondition condition, gpointer data) {
        auto* self = static_cast<Watch*>(data);
        if ((condition & (G_IO_ERR | G_IO_HUP | G_IO_NVAL)) != 0) {
            self->source = 0;
            return G_SOURCE_REMOVE;
        }
        if (udev_device* device = udev_monitor_receive_device(self->monitor)) {
            const char* action = udev_device_get_action(device);
            const char* subsystem = udev_device_get_subsystem(device);
            const bool arrival = action != nullptr && std::strcmp(action, "add") == 0 &&
                                 subsystem != nullptr && self->subsystem == subsystem;
            udev_device_unref(device);
            if (arrival) self->onArrival();
        }
        return G_SOURCE_CONTINUE;
    }
};

UsbArrivalMonitor::UsbArrivalMonitor(std::function<void()> onArrival)
    : UsbArrivalMonitor(std::move(onArrival), "usb") {}

UsbArrivalMonitor::UsbArrivalMonitor(std::function<void()> onArrival, const std::string& subsystem)
    : watch_(std::make_unique<Watch>()) {
    watch_->onArrival = std::move(onArrival);
    watch_->subsystem = subsystem;
    watch_->context = udev_new();
    if (watch_->context == nullptr) return;
    // Events relayed by the device manager come after its rules have set the device file's
    // permissions, which the driver-ready test depends on. Without a running device manager
    // (containers, minimal systems) only the kernel's own announcements exist.
    const bool managerRunning = access("/run/udev/control", F_OK) == 0;
    watch_->monitor =
        udev_monitor_new_from_netlink(watch_->context, managerRunning ? "udev" : "kernel");
    if (watch_->monitor == nullptr) return;
    udev_monitor_filter_add_match_subsystem_devtype(watch_->monitor, subsystem.c_str(), nullptr);
    if (udev_monitor_enable_receiving(watch_->monitor) < 0) return;
    watch_->source = g_unix_fd_add(udev_monitor_get_fd(watch_->monitor),
                                   static_cast<GIOCondition>(G_IO_IN | G_IO_ERR | G_IO_HUP),
                                   Watch::OnReadable, watch_.get());
}

UsbArrivalMonitor::~UsbArrivalMonitor() = default;

bool UsbArrivalMonitor::IsWatching() const {
    return watch_->source != 0;
}

}  // namespace os
