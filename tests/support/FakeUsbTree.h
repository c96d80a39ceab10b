#pragma once
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "TempDir.h"

// A sysfs usb devices folder laid out as the kernel does: device folders named by port path,
// interface folders "<device>:<config>.<interface>", a "uevent" file in each as the kernel
// writes it, the usual one-line attribute files and a "driver" link where a driver is bound.
// Class numbers are given in hexadecimal, as lsusb shows them.
class FakeUsbTree {
  public:
    std::string Root() const { return dir_.path(); }

    void RootHub(const std::string& name, const std::string& version = "2.00") {
        const std::string pid = version.rfind("3", 0) == 0 ? "0003" : "0002";
        Device(name, "1d6b", pid, "", "09", 1);
    }

    void Device(const std::string& name, const std::string& vid, const std::string& pid,
                const std::string& serial, const std::string& deviceClass = "00", int devnum = 5) {
        const std::filesystem::path dir = Make(name);
        const unsigned bus = std::stoul(name.rfind("usb", 0) == 0 ? name.substr(3) : name);
        char text[160];
        std::snprintf(text, sizeof text, "PRODUCT=%x/%x/%x\nTYPE=%u/0/0\n", Hex(vid), Hex(pid),
                      0x100u, Hex(deviceClass));
        productLines_[name] = text;
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
        Write(dir, "bDeviceClass", deviceClass);
        Write(dir, "busnum", std::to_string(bus));
        Write(dir, "devnum", std::to_string(devnum));
        Driver(dir);
    }

    void Interface(const std::string& device, int number, const std::string& cls,
                   const std::string& sub, const std::string& prot, bool driverBound) {
        const std::filesystem::path dir = Make(device + ":1." + std::to_string(number));
        char text[160];
        std::snprintf(text, sizeof text, "INTERFACE=%u/%u/%u\n", Hex(cls), Hex(sub), Hex(prot));
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
            root_ / interfaceName / "host6" / "target6:0:0" / "6:0:0:0";
        std::filesystem::create_directories(unit);
        Write(unit, "type", "0");
        Write(unit, "vendor", vendor);
        Write(unit, "model", model);
        Write(unit, "rev", "1.00");
        Driver(unit);
    }

    // A phone with a media interface, the bridge interface and a bound modem.
    void CompositePhone(const std::string& name, const std::string& serial, int devnum = 5) {
        Device(name, "18d1", "4ee2", serial, "00", devnum);
        Interface(name, 0, "ff", "ff", "00", true);
        Interface(name, 1, "ff", "42", "01", false);
        Interface(name, 2, "02", "02", "01", true);
    }

  private:
    static unsigned Hex(const std::string& text) {
        return static_cast<unsigned>(std::stoul(text, nullptr, 16));
    }
    std::filesystem::path Make(const std::string& name) {
        std::filesystem::create_directories(root_ / name);
        return root_ / name;
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
};
