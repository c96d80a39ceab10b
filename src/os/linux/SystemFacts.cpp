#include "os/SystemFacts.h"

#include "os/Files.h"

#include <sys/utsname.h>

namespace os {

KernelFacts ReadKernelFacts() {
    struct utsname names {};
    if (uname(&names) != 0) return {};
    return {names.release, names.machine};
}

std::string ReadOsReleaseText() {
    std::string text;
    if (ReadWholeFile("/etc/os-release", text)) return text;
    if (ReadWholeFile("/usr/lib/os-release", text)) return text;
    return {};
}

}  // namespace os
