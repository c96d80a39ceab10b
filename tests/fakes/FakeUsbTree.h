#pragma once
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "TempDir.h"

// A sysfs usb devices folder laid out as the kernel does: the device folders nest by port path
// under a "devices" folder (a root hub "usbN" holds its own interface "N-0:1.0" and devices
// "N-1"; a hub "N-1" holds "N-1.2"), each interface folder "<device>:<config>.<interface>" sits
// in its device's folder, and Root() is a folder of symlinks to all of them, as
// /sys/bus/usb/devices is. Each folder has a "uevent" file as the kernel writes it (MODALIAS
// included), the usual one-line attribute files and a "driver" link where a driver is bound.
// Class numbers are given in hexadecimal, as lsusb shows them; a device class may be a whole
// triple ("ef/02/01").
class FakeUsbTree {
  public:
    std::string Root() const { return (root_ / "bus").string(); }

    // A root hub with its own hub interface, as every bus has.
    void RootHub(const std::string& name, const std::string& version = "2.00") {
        const std::string pid = version.rfind("3", 0) == 0 ? "0003" : "0002";
        Device(name, "1d6b", pid, "", "09", 1);
        Interface(name, 0, "09", "00", "00", true);
    }

    void Device(const std::string& name, const std::string& vid, const std::string& pid,
                const std::string& serial, const std::string& deviceClass = "00", int devnum = 5) {
        const std::filesystem::path dir = Make(name);
        const unsigned bus = std::stoul(name.rfind("usb", 0) == 0 ? name.substr(3) : name);
        const Triple cls = ParseTriple(deviceClass);
        char text[200];
        std::snprintf(text, sizeof text, "PRODUCT=%x/%x/%x\nTYPE=%u/%u/%u\n", Hex(vid), Hex(pid),
                      0x100u, cls.cls, cls.sub, cls.prot);
        productLines_[name] = text;
        std::snprintf(text, sizeof text, "v%04Xp%04Xd0100dc%02Xdsc%02Xdp%02X", Hex(vid), Hex(pid),
                      cls.cls, cls.sub, cls.prot);
        aliases_[name] = text;
        std::snprintf(text, sizeof text,
                      "MAJOR=189\nMINOR=%d\nDEVNAME=bus/usb/%03u/%03d\nDEVTYPE=usb_device\n"
                      "DRIVER=usb\n",
                      devnum - 1, bus, devnum);
        std::string uevent = text + productLines_[name];
        std::snprintf(text, sizeof text, "BUSNUM=%03u\nDEVNUM=%03d\n", bus, devnum);
        Write(dir, "uevent", uevent + text);
        Write(dir, "idVendor", vid);
        Write(dir, "idProduct", pid);
        if (!serial.empty()) Write(dir, "serial", serial);
        Write(dir, "bDeviceClass", deviceClass.substr(0, 2));
        Write(dir, "busnum", std::to_string(bus));
        Write(dir, "devnum", std::to_string(devnum));
        Driver(dir);
    }

    void Interface(const std::string& device, int number, const std::string& cls,
                   const std::string& sub, const std::string& prot, bool driverBound) {
        // A root hub's interface is named after port 0 of its bus: "usb1" has "1-0:1.0".
        const std::string prefix = device.rfind("usb", 0) == 0 ? device.substr(3) + "-0" : device;
        const std::filesystem::path dir = Make(prefix + ":1." + std::to_string(number));
        char text[200];
        std::snprintf(text, sizeof text,
                      "INTERFACE=%u/%u/%u\nMODALIAS=usb:%sic%02Xisc%02Xip%02Xin%02X\n", Hex(cls),
                      Hex(sub), Hex(prot), aliases_[device].c_str(), Hex(cls), Hex(sub), Hex(prot),
                      static_cast<unsigned>(number));
        Write(dir, "uevent",
              std::string("DEVTYPE=usb_interface\n") + (driverBound ? "DRIVER=somedriver\n" : "") +
                  productLines_[device] + text);
        std::snprintf(text, sizeof text, "%02x", number);
        Write(dir, "bInterfaceNumber", text);
        Write(dir, "bInterfaceClass", cls);
        if (driverBound) Driver(dir);
    }

    void StorageUnit(const std::string& interfaceName, const std::string& vendor,
                     const std::string& model) {
        const std::filesystem::path unit =
            Folder(interfaceName) / "host6" / "target6:0:0" / "6:0:0:0";
        std::filesystem::create_directories(unit);
        Write(unit, "type", "0");
        Write(unit, "vendor", vendor);
        Write(unit, "model", model);
        Write(unit, "rev", "1.00");
        Driver(unit);
    }

    // A phone with a media interface, the bridge interface and a bound modem, whose data
    // interface follows it as in every CDC ACM function.
    void CompositePhone(const std::string& name, const std::string& serial, int devnum = 5) {
        Device(name, "18d1", "4ee2", serial, "00", devnum);
        Interface(name, 0, "ff", "ff", "00", true);
        Interface(name, 1, "ff", "42", "01", false);
        Interface(name, 2, "02", "02", "01", true);
        Interface(name, 3, "0a", "00", "00", true);
    }

    // A phone sharing its connection (RNDIS: control and data interfaces tied together by an
    // interface association, so the device class is "miscellaneous, IAD") with the bridge on.
    void TetheringPhone(const std::string& name, const std::string& serial, int devnum = 6) {
        Device(name, "18d1", "4ee4", serial, "ef/02/01", devnum);
        Interface(name, 0, "e0", "01", "03", true);
        Interface(name, 1, "0a", "00", "00", true);
        Interface(name, 2, "ff", "42", "01", false);
    }

  private:
    struct Triple {
        unsigned cls = 0, sub = 0, prot = 0;
    };
    static unsigned Hex(const std::string& text) {
        return static_cast<unsigned>(std::stoul(text, nullptr, 16));
    }
    static Triple ParseTriple(const std::string& text) {
        Triple triple;
        triple.cls = Hex(text.substr(0, 2));
        if (text.size() >= 8) {
            triple.sub = Hex(text.substr(3, 2));
            triple.prot = Hex(text.substr(6, 2));
        }
        return triple;
    }
    // Where a node's folder is: "1-1.2" in "1-1", "1-1" in "usb1", "1-1:1.0" in "1-1".
    std::filesystem::path Folder(const std::string& name) const {
        const auto colon = name.find(':');
        if (colon != std::string::npos) {
            const std::string device = name.substr(0, colon);
            const bool rootHub =
                device.size() > 2 && device.compare(device.size() - 2, 2, "-0") == 0;
            return Folder(rootHub ? "usb" + device.substr(0, device.size() - 2) : device) / name;
        }
        if (name.rfind("usb", 0) == 0) return root_ / "devices" / name;
        const auto dot = name.find_last_of('.');
        if (dot != std::string::npos) return Folder(name.substr(0, dot)) / name;
        return Folder("usb" + name.substr(0, name.find('-'))) / name;
    }
    // The node's folder, and its entry in the bus folder: a relative link, as the kernel's.
    std::filesystem::path Make(const std::string& name) {
        const std::filesystem::path folder = Folder(name);
        std::filesystem::create_directories(folder);
        std::filesystem::create_directories(root_ / "bus");
        std::filesystem::create_directory_symlink(std::filesystem::relative(folder, root_ / "bus"),
                                                  root_ / "bus" / name);
        return root_ / "bus" / name;
    }
    static void Write(const std::filesystem::path& dir, const char* name,
                      const std::string& value) {
        std::ofstream(dir / name) << value << (value.empty() || value.back() != '\n' ? "\n" : "");
    }
    static void Driver(const std::filesystem::path& dir) {
        std::filesystem::create_directory_symlink("/sys/bus/usb/drivers/somedriver",
                                                  dir / "driver");
    }
    testsupport::TempDir dir_;
    std::filesystem::path root_ = dir_.path();
    std::map<std::string, std::string> productLines_;
    std::map<std::string, std::string> aliases_;
};
