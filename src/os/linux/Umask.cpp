#include "os/Umask.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>

namespace os {
namespace {

unsigned ReadUmask() {
    // The umask call itself can only be read by changing it, which races with other threads.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<unsigned>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
    }
    const mode_t mask = umask(022);
    umask(mask);
    return static_cast<unsigned>(mask) & 0777;
}

}  // namespace

unsigned CurrentUmask() {
    // Read once per process: a forked child that sets its own umask reads it again.
    static std::atomic<pid_t> readBy{0};
    static std::atomic<unsigned> mask{0};
    const pid_t self = getpid();
    if (readBy.load() != self) {
        mask.store(ReadUmask());
        readBy.store(self);
    }
    return mask.load();
}

}  // namespace os
