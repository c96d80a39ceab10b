#include "sysutil/WindowsOsName.h"

#include "base/TextTruncate.h"
#include "sysutil/SystemInfo.h"

namespace {

constexpr uint32_t kPlatformNt = 2;
constexpr uint8_t kWorkstation = 1;
constexpr uint16_t kSuiteEnterprise = 0x0002;
constexpr uint16_t kSuiteDatacenter = 0x0080;
constexpr uint16_t kSuitePersonal = 0x0200;
constexpr uint16_t kSuiteBlade = 0x0400;
constexpr uint16_t kSuiteStorageServer = 0x2000;
constexpr uint16_t kSuiteComputeServer = 0x4000;
constexpr uint16_t kArchX86 = 0;
constexpr uint16_t kArchItanium = 6;
constexpr uint16_t kArchX64 = 9;

const char* EditionPiece(uint32_t editionType) {
    switch (editionType) {
        case 1:
            return "Ultimate Edition";
        case 2:
            return "Home Basic Edition";
        case 3:
            return "Home Premium Edition";
        case 4:
            return "Enterprise Edition";
        case 6:
            return "Business Edition";
        case 7:
            return "Standard Edition";
        case 8:
            return "Datacenter Edition";
        case 9:
            return "Small Business Server";
        case 10:
            return "Enterprise Edition";
        case 11:
            return "Starter Edition";
        case 12:
            return "Datacenter Edition (core installation)";
        case 13:
            return "Standard Edition (core installation)";
        case 14:
            return "Enterprise Edition (core installation)";
        case 15:
            return "Enterprise Edition for Itanium-based Systems";
        case 17:
            return "Web Server Edition";
        case 18:
            return "Cluster Server Edition";
        case 25:
            return "Small Business Server Premium Edition";
        default:
            return "";
    }
}

void AppendVista7Family(const WindowsVersionFacts& f, std::string& name) {
    const bool workstation = f.productType == kWorkstation;
    if (f.minor == 0) name += workstation ? "Windows Vista " : "Windows Server 2008 ";
    if (f.minor == 1) name += workstation ? "Windows 7 " : "Windows Server 2008 R2 ";
    name += EditionPiece(f.editionType);
}

void AppendServer2003Family(const WindowsVersionFacts& f, std::string& name) {
    const bool workstation = f.productType == kWorkstation;
    if (f.serverR2 != 0) {
        name += "Windows Server 2003 R2, ";
    } else if ((f.suiteMask & kSuiteStorageServer) != 0) {
        name += "Windows Storage Server 2003";
    } else if (workstation && f.architecture == kArchX64) {
        name += "Windows XP Professional x64 Edition";
    } else {
        name += "Windows Server 2003, ";
    }
    if (workstation) return;
    const bool datacenter = (f.suiteMask & kSuiteDatacenter) != 0;
    const bool enterprise = (f.suiteMask & kSuiteEnterprise) != 0;
    if (f.architecture == kArchItanium) {
        if (datacenter) {
            name += "Datacenter Edition for Itanium-based Systems";
        } else if (enterprise) {
            name += "Enterprise Edition for Itanium-based Systems";
        }
    } else if (f.architecture == kArchX64) {
        name += datacenter   ? "Datacenter x64 Edition"
                : enterprise ? "Enterprise x64 Edition"
                             : "Standard x64 Edition";
    } else if ((f.suiteMask & kSuiteComputeServer) != 0) {
        name += "Compute Cluster Edition";
    } else {
        name += datacenter                         ? "Datacenter Edition"
                : enterprise                       ? "Enterprise Edition"
                : (f.suiteMask & kSuiteBlade) != 0 ? "Web Edition"
                                                   : "Standard Edition";
    }
}

void Append2000(const WindowsVersionFacts& f, std::string& name) {
    name += "Windows 2000 ";
    if (f.productType == kWorkstation) {
        name += "Professional";
    } else if ((f.suiteMask & kSuiteDatacenter) != 0) {
        name += "Datacenter Server";
    } else if ((f.suiteMask & kSuiteEnterprise) != 0) {
        name += "Advanced Server";
    } else {
        name += "Server";
    }
}

}  // namespace

std::string FormatWindowsOsName(const WindowsVersionFacts& f) {
    if (f.platformId != kPlatformNt || f.major <= 4) return {};
    std::string name = "Microsoft ";
    if (f.major == 6) {
        AppendVista7Family(f, name);
    } else if (f.major == 5 && f.minor == 2) {
        AppendServer2003Family(f, name);
    } else if (f.major == 5 && f.minor == 1) {
        name += "Windows XP ";
        name += (f.suiteMask & kSuitePersonal) != 0 ? "Home Edition" : "Professional";
    } else if (f.major == 5 && f.minor == 0) {
        Append2000(f, name);
    }
    if (!f.servicePack.empty()) name += " " + f.servicePack;
    // The build number was printed with %d.
    name += " (build " + std::to_string(static_cast<int32_t>(f.build)) + ")";
    if (f.major > 5) {
        if (f.architecture == kArchX64) name += ", 64-bit";
        if (f.architecture == kArchX86) name += ", 32-bit";
    }
    return TruncateCharacters(name, kMaxOsNameCharacters);
}
