#pragma once
#include <cstdint>
#include <vector>

#include "os/ProcFs.h"

namespace os {

// The listeners on `port` read from /proc/net/tcp and tcp6 only: what ListTcpListeners falls
// back to when the kernel's socket diagnostics do not answer.
std::vector<TcpListenerFacts> ListTcpListenersFromTables(uint16_t port);

}  // namespace os
