#include "PrivateBus.h"

#include <signal.h>

#include <chrono>

using namespace std::chrono_literals;

namespace testsupport {

PrivateBus::PrivateBus() {
    // No <servicedir>: nothing is ever activated on this bus.
    const std::string config = folder_.File("bus.conf");
    WriteFile(config,
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:dir=" +
                  folder_.path() +
                  "</listen><auth>EXTERNAL</auth>"
                  "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    daemon_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "dbus-daemon", "--nofork", "--print-address", "--config-file=" + config});
    // The daemon prints its address once it listens; wait for it as long as it runs.
    WaitUntil(
        [&] { return daemon_->Output().find('\n') != std::string::npos || !daemon_->Running(); },
        120s);
    const std::string output = daemon_->Output();
    const auto end = output.find('\n');
    if (end != std::string::npos && output.rfind("unix:", 0) == 0) address_ = output.substr(0, end);
}

PrivateBus::~PrivateBus() {
    if (daemon_) {
        daemon_->Signal(SIGTERM);
        daemon_->Wait(10s);
    }
}

GDBusConnection* PrivateBus::Connect() const {
    if (address_.empty()) return nullptr;
    return g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
}

}  // namespace testsupport
