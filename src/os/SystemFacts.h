#pragma once
#include <string>

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

}  // namespace os
