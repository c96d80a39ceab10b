#pragma once
#include <string>

// The pieces of this platform's OsName, each a fact read from the system or a pure function
// over such facts.
namespace os {

// What uname reports about the running kernel; empty texts when it fails.
struct KernelFacts {
    std::string release;  // e.g. "6.1.0-18-amd64"
    std::string machine;  // e.g. "x86_64"
};
KernelFacts ReadKernelFacts();

// The distribution's os-release file (/etc/os-release, else /usr/lib/os-release) as bytes;
// empty when neither can be read.
std::string ReadOsReleaseText();

// The distribution's name from os-release text: PRETTY_NAME, else NAME and VERSION, else
// "Linux" (the default os-release itself prescribes). Quoted values are unquoted and unescaped
// as a shell would.
std::string OsReleaseName(const std::string& osReleaseText);

// The Linux form of the system name sent in the usage report:
//   <distribution name> (kernel <release>)[, 64-bit | , 32-bit]
// e.g. "Debian GNU/Linux 12 (bookworm) (kernel 6.1.0-18-amd64), 64-bit". The kernel piece is
// left out when the release is unknown, the bitness when the machine name is not one we know.
std::string FormatLinuxOsName(const std::string& distributionName, const std::string& kernelRelease,
                              const std::string& machine);

}  // namespace os
