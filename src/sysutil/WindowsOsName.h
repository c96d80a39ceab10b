#pragma once
#include <cstdint>
#include <string>

// Built only for the Windows platform (and the unit tests, which check its naming everywhere):
// the Linux program names its system with os::OsName alone.

// The version facts Windows reports (GetVersionEx, GetNativeSystemInfo, GetProductInfo,
// GetSystemMetrics(SM_SERVERR2)), gathered by a Windows backend and formatted here.
struct WindowsVersionFacts {
    uint32_t platformId = 0;  // 2 = VER_PLATFORM_WIN32_NT
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    uint8_t productType = 0;  // 1 = VER_NT_WORKSTATION
    uint16_t suiteMask = 0;
    std::string servicePack;    // szCSDVersion, e.g. "Service Pack 1"
    uint16_t architecture = 0;  // 0 = x86, 6 = Itanium, 9 = x64
    uint32_t editionType = 0;   // GetProductInfo's product type (major 6 only)
    int serverR2 = 0;           // GetSystemMetrics(SM_SERVERR2)
};

// "Microsoft Windows 7 Ultimate Edition Service Pack 1 (build 7601), 64-bit" and the other
// forms of the Windows system's own naming, at most 255 characters; empty for systems older
// than NT 5. The pieces keep their odd blanks ("Microsoft Windows 7  Service Pack 1 ...") since
// the statistics server has always received them that way.
std::string FormatWindowsOsName(const WindowsVersionFacts& facts);
