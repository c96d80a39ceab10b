#include "os/UsbFacts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace os {
namespace fs = std::filesystem;
namespace {

// One attribute file's first line without surrounding blanks; nothing when it is absent.
struct Attribute {
    bool present = false;
    bool readable = false;
    std::string text;
};

// Plain system calls: a tree of a few hundred nodes means thousands of these small reads.
Attribute ReadAttribute(const fs::path& folder, const char* name, bool wholeFile = false) {
    Attribute attribute;
    const int fd = open((folder / name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        attribute.present = errno != ENOENT && errno != ENOTDIR;
        return attribute;
    }
    attribute.present = true;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    close(fd);
    if (n < 0) return attribute;
    attribute.readable = true;
    std::string text(buffer, static_cast<size_t>(n));
    if (wholeFile) {
        attribute.text = std::move(text);
        return attribute;
    }
    text = text.substr(0, text.find('\n'));
    const auto first = text.find_first_not_of(" \t\r");
    const auto last = text.find_last_not_of(" \t\r");
    if (first != std::string::npos) attribute.text = text.substr(first, last - first + 1);
    return attribute;
}

// The kernel's KEY=value lines describing a device, as announced to the device manager: one
// read gives what would otherwise take a file per attribute.
struct Uevent {
    HardwareIdRead state = HardwareIdRead::Missing;
    std::map<std::string, std::string> values;

    std::string Value(const std::string& key) const {
        const auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    }
    bool Has(const std::string& key) const { return values.count(key) != 0; }
};

Uevent ReadUevent(const fs::path& folder) {
    Uevent uevent;
    const Attribute file = ReadAttribute(folder, "uevent", true);
    if (file.present && !file.readable) uevent.state = HardwareIdRead::Unreadable;
    size_t start = 0;
    while (start < file.text.size()) {
        size_t end = file.text.find('\n', start);
        if (end == std::string::npos) end = file.text.size();
        const std::string line = file.text.substr(start, end - start);
        const auto equals = line.find('=');
        if (equals != std::string::npos)
            uevent.values[line.substr(0, equals)] = line.substr(equals + 1);
        start = end + 1;
    }
    return uevent;
}

// "18d1/4ee2/ffff" in hexadecimal (PRODUCT) or "255/66/1" in decimal (TYPE, INTERFACE).
std::vector<unsigned> Numbers(const std::string& text, int base) {
    std::vector<unsigned> numbers;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        numbers.push_back(static_cast<unsigned>(
            std::strtoul(text.substr(start, end - start).c_str(), nullptr, base)));
        start = end + 1;
    }
    numbers.resize(std::max<size_t>(numbers.size(), 3), 0);
    return numbers;
}

std::string Text(const fs::path& folder, const char* name) {
    return ReadAttribute(folder, name).text;
}

std::string Format(const char* pattern, unsigned a, unsigned b = 0, unsigned c = 0) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, a, b, c);
    return buffer;
}

// A stable stand-in for the hashes Windows puts into generated instance ids.
std::string Hash8(const std::string& text) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
    return Format("%08x", hash);
}

bool HasDriver(const fs::path& folder) {
    struct stat info;
    return lstat((folder / "driver").c_str(), &info) == 0;
}

uint32_t FlagsFor(bool ready) {
    return ready ? kConfigFlagsDriverReady : kConfigFlagsFailedInstall;
}

// A USB serial becomes part of the id only when Windows would accept it: printable ASCII
// without commas (and without backslashes, which would split the id).
bool UsableSerial(const std::string& serial) {
    if (serial.empty()) return false;
    return std::all_of(serial.begin(), serial.end(),
                       [](char c) { return c > 0x20 && c < 0x7F && c != ',' && c != '\\'; });
}

std::string ClassTriple(const char* prefix, unsigned cls, unsigned sub, unsigned prot) {
    return std::string(prefix) + Format("Class_%02x&SubClass_%02x&Prot_%02x", cls, sub, prot);
}

bool IsBridgeClass(unsigned cls, unsigned sub, unsigned prot) {
    return cls == 0xff && sub == 0x42 && (prot == 0x01 || prot == 0x03);
}

// Letters, digits and a few marks survive in storage ids; blanks become '_'.
std::string StorageIdPart(std::string text) {
    for (auto& c : text) {
        if (c == ' ') c = '_';
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F ||
            c == ',' || c == '\\') {
            c = '_';
        }
    }
    return text;
}

struct Interface {
    std::string name;
    fs::path folder;
    unsigned number = 0, cls = 0, sub = 0, prot = 0;
    HardwareIdRead hardwareId = HardwareIdRead::Missing;
    bool hasDriver = false;
};

struct Device {
    std::string name;  // "1-1.2" or "usb1"
    fs::path folder;
    std::vector<Interface> interfaces;
    HardwareIdRead hardwareId = HardwareIdRead::Missing;
    unsigned vendor = 0, product = 0, cls = 0, sub = 0, prot = 0, busnum = 0, devnum = 0;
    std::string serial;
    bool hasDriver = false;
};

Device ReadDevice(const std::string& name, const fs::path& folder) {
    Device device;
    device.name = name;
    device.folder = folder;
    const Uevent uevent = ReadUevent(folder);
    device.hardwareId = uevent.state;
    if (uevent.Has("PRODUCT")) {
        device.hardwareId = HardwareIdRead::Readable;
        const auto product = Numbers(uevent.Value("PRODUCT"), 16);
        device.vendor = product[0];
        device.product = product[1];
    }
    const auto type = Numbers(uevent.Value("TYPE"), 10);
    device.cls = type[0];
    device.sub = type[1];
    device.prot = type[2];
    device.busnum =
        static_cast<unsigned>(std::strtoul(uevent.Value("BUSNUM").c_str(), nullptr, 10));
    device.devnum =
        static_cast<unsigned>(std::strtoul(uevent.Value("DEVNUM").c_str(), nullptr, 10));
    device.hasDriver = uevent.Has("DRIVER");
    device.serial = Text(folder, "serial");
    return device;
}

// "1-1:1.2" -> interface 2; the kernel names interfaces <device>:<config>.<interface number>.
Interface ReadInterface(const std::string& name, const fs::path& folder) {
    Interface part;
    part.name = name;
    part.folder = folder;
    part.number = static_cast<unsigned>(
        std::strtoul(name.substr(name.find_last_of('.') + 1).c_str(), nullptr, 10));
    const Uevent uevent = ReadUevent(folder);
    part.hardwareId = uevent.Has("INTERFACE") ? HardwareIdRead::Readable : uevent.state;
    const auto triple = Numbers(uevent.Value("INTERFACE"), 10);
    part.cls = triple[0];
    part.sub = triple[1];
    part.prot = triple[2];
    part.hasDriver = uevent.Has("DRIVER");
    return part;
}

// "1-1.2" -> "1-1", "1-1" -> "usb1", "usb1" -> "".
std::string ParentName(const std::string& name) {
    if (name.rfind("usb", 0) == 0) return {};
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos) return name.substr(0, dot);
    const auto dash = name.find('-');
    return dash == std::string::npos ? std::string() : "usb" + name.substr(0, dash);
}

std::string LastPort(const std::string& name) {
    const auto cut = name.find_last_of(".-");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

class TreeReader {
  public:
    TreeReader(const DeviceFileCheck& canOpen) : canOpen_(canOpen) {}

    bool Load(const fs::path& root) {
        std::error_code error;
        fs::directory_iterator it(root, error);
        if (error) return false;
        std::map<std::string, std::vector<Interface>> interfaces;
        for (const auto& entry : it) {
            const std::string name = entry.path().filename().string();
            const auto colon = name.find(':');
            if (colon == std::string::npos) {
                devices_[name] = ReadDevice(name, entry.path());
                continue;
            }
            interfaces[name.substr(0, colon)].push_back(ReadInterface(name, entry.path()));
        }
        for (auto& [device, parts] : interfaces) {
            std::sort(parts.begin(), parts.end(),
                      [](const Interface& a, const Interface& b) { return a.number < b.number; });
            const auto it = devices_.find(device);
            if (it != devices_.end()) it->second.interfaces = std::move(parts);
        }
        return true;
    }

    std::vector<UsbDeviceFacts> Facts() {
        std::vector<UsbDeviceFacts> out;
        for (const auto& [name, device] : devices_) AddDevice(device, out);
        return out;
    }

  private:
    bool IsComposite(const Device& device) {
        return device.interfaces.size() > 1 && (device.cls == 0x00 || device.cls == 0xef);
    }

    std::string DeviceId(const Device& device) {
        const auto known = ids_.find(device.name);
        if (known != ids_.end()) return known->second;
        std::string id;
        if (device.name.rfind("usb", 0) == 0) {
            // Root hubs announce their USB generation as product number.
            const char* speed = device.product == 3 ? "30" : device.product == 2 ? "20" : "";
            id = std::string("USB\\ROOT_HUB") + speed + "\\4&" + Hash8(device.name) + "&0";
        } else {
            id = Format("USB\\VID_%04X&PID_%04X\\", device.vendor, device.product);
            const std::string& serial = device.serial;
            id += UsableSerial(serial)
                      ? serial
                      : "5&" + Hash8(ParentName(device.name)) + "&0&" + LastPort(device.name);
        }
        ids_[device.name] = id;
        return id;
    }

    std::string ParentId(const std::string& name) {
        const auto parent = devices_.find(ParentName(name));
        return parent == devices_.end() ? std::string() : DeviceId(parent->second);
    }

    std::string DeviceFile(const Device& device) {
        return Format("/dev/bus/usb/%03u/%03u", device.busnum, device.devnum);
    }

    uint32_t FlagsOf(const Device& device, bool driverBound, unsigned cls, unsigned sub,
                     unsigned prot) {
        // The bridge talks to the device file itself, so no kernel driver is involved.
        if (IsBridgeClass(cls, sub, prot)) return FlagsFor(canOpen_(DeviceFile(device)));
        return FlagsFor(driverBound);
    }

    void AddDevice(const Device& device, std::vector<UsbDeviceFacts>& out) {
        UsbDeviceFacts facts;
        facts.instanceId = DeviceId(device);
        facts.parentInstanceId = ParentId(device.name);
        facts.hardwareId = device.hardwareId;
        const unsigned cls = device.cls, sub = device.sub, prot = device.prot;
        const bool composite = IsComposite(device);
        if (composite) {
            facts.compatibleId = ClassTriple("USB\\Dev", cls, sub, prot);
            facts.configFlags = FlagsFor(device.hasDriver);
        } else if ((cls == 0x00 || cls == 0xef) && !device.interfaces.empty()) {
            const Interface& only = device.interfaces.front();
            facts.compatibleId = ClassTriple("USB\\", only.cls, only.sub, only.prot);
            facts.configFlags = FlagsOf(device, only.hasDriver, only.cls, only.sub, only.prot);
        } else {
            facts.compatibleId = ClassTriple("USB\\", cls, sub, prot);
            const bool driverBound =
                device.interfaces.empty() ? device.hasDriver : device.interfaces.front().hasDriver;
            facts.configFlags = FlagsOf(device, driverBound, cls, sub, prot);
        }
        out.push_back(facts);

        for (const Interface& part : device.interfaces) {
            std::string partId = facts.instanceId;
            if (composite) {
                UsbDeviceFacts partFacts;
                const auto slash = facts.instanceId.find('\\', 4);
                partFacts.instanceId = facts.instanceId.substr(0, slash) +
                                       Format("&MI_%02X\\6&", part.number) + Hash8(device.name) +
                                       Format("&0&%04X", part.number);
                partFacts.parentInstanceId = facts.instanceId;
                partFacts.hardwareId = part.hardwareId;
                partFacts.compatibleId = ClassTriple("USB\\", part.cls, part.sub, part.prot);
                partFacts.configFlags =
                    FlagsOf(device, part.hasDriver, part.cls, part.sub, part.prot);
                partId = partFacts.instanceId;
                out.push_back(partFacts);
            }
            AddStorageUnits(part, partId, facts.instanceId, out);
        }
    }

    // SCSI units behind a mass-storage interface: host*/target*/<h:c:t:l>/.
    void AddStorageUnits(const Interface& part, const std::string& parentId,
                         const std::string& deviceId, std::vector<UsbDeviceFacts>& out) {
        if (part.cls != 0x08) return;
        std::vector<fs::path> units;
        std::error_code error;
        for (const auto& host : fs::directory_iterator(part.folder, error)) {
            if (host.path().filename().string().rfind("host", 0) != 0) continue;
            for (const auto& target : fs::directory_iterator(host.path(), error)) {
                if (target.path().filename().string().rfind("target", 0) != 0) continue;
                for (const auto& unit : fs::directory_iterator(target.path(), error)) {
                    if (fs::exists(unit.path() / "type", error)) units.push_back(unit.path());
                }
            }
        }
        std::sort(units.begin(), units.end());
        const std::string serial = deviceId.substr(deviceId.find_last_of('\\') + 1);
        for (const auto& unit : units) {
            const std::string name = unit.filename().string();
            const std::string lun = name.substr(name.find_last_of(':') + 1);
            const unsigned type = static_cast<unsigned>(std::stoul("0" + Text(unit, "type")));
            const char* kind = type == 5 ? "CDROM" : type == 0 ? "DISK" : "OTHER";
            UsbDeviceFacts facts;
            facts.instanceId = std::string("USBSTOR\\") + kind + "&VEN_" +
                               StorageIdPart(Text(unit, "vendor")) + "&PROD_" +
                               StorageIdPart(Text(unit, "model")) + "&REV_" +
                               StorageIdPart(Text(unit, "rev")) + "\\" + serial + "&" + lun;
            facts.compatibleId = type == 5   ? "USBSTOR\\CdRom"
                                 : type == 0 ? "USBSTOR\\Disk"
                                             : "USBSTOR\\Other";
            facts.configFlags = FlagsFor(HasDriver(unit));
            facts.parentInstanceId = parentId;
            out.push_back(facts);
        }
    }

    const DeviceFileCheck& canOpen_;
    std::map<std::string, Device> devices_;
    std::map<std::string, std::string> ids_;
};

}  // namespace

bool CanOpenDeviceFile(const std::string& deviceFile) {
    const int fd = open(deviceFile.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    close(fd);
    return true;
}

std::optional<std::vector<UsbDeviceFacts>> ReadUsbDeviceFacts(const std::string& devicesFolder,
                                                              const DeviceFileCheck& canOpen) {
    TreeReader reader(canOpen);
    if (!reader.Load(devicesFolder)) return std::nullopt;
    return reader.Facts();
}

}  // namespace os
