#include "os/ProcFs.h"

// No platform: processes and sockets cannot be listed, nor processes ended.
namespace os {

std::vector<ProcessFacts> ListProcesses() {
    return {};
}

std::vector<std::string> ProcessModulePaths(long /*pid*/) {
    return {};
}

std::string ProcessImagePath(long /*pid*/) {
    return {};
}

bool KillProcess(long /*pid*/) {
    return false;
}

bool ListTcpRows(std::vector<TcpRowFacts>& rows, std::optional<uint16_t> /*onlyPort*/) {
    rows.clear();
    return false;
}

std::vector<TcpListenerFacts> ListTcpListeners(uint16_t /*port*/) {
    return {};
}

// No user is known to be this one: nothing is taken for this user's own.
unsigned EffectiveUserId() {
    return ~0u;
}

}  // namespace os
