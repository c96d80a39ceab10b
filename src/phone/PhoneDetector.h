#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "os/UsbFacts.h"

inline constexpr int32_t kKindAdb = 0;    // debug-bridge or bootloader interface
inline constexpr int32_t kKindModem = 1;  // CDC modem interface

// One attached phone interface.
struct PhoneInterface {
    std::string serial;      // as the bridge names the phone; may be empty
    std::string instanceId;  // USB\VID_vvvv&PID_pppp&MI_nn\...
    int32_t driverReady = 0;
    int32_t kind = kKindAdb;
};

// What one read of the device facts found: the list ListPhones hands over (pruned when the read
// found phones), and whether it found any; a read that failed part way leaves records that
// IsPresent does not count.
struct PhoneList {
    std::vector<PhoneInterface> phones;
    bool found = false;
};

inline constexpr const char* kSameInstanceText = "很神奇,实例貌似一样哇!快找我们的技术看看是咋了?";
inline constexpr const char* kSameInstanceCaption = "Lanternhall";

// Answers which phones are attached and whether one is still there. Nothing is kept between
// queries: every query reads the device facts afresh into a list owned by this object.
class CPhoneDetector {
  public:
    using FactsSource = std::function<std::optional<std::vector<os::UsbDeviceFacts>>()>;
    using MessageBox = std::function<void(const std::string& text, const std::string& caption)>;

    // The system's USB devices; the message box shown on the GUI thread.
    CPhoneDetector();
    CPhoneDetector(FactsSource facts, MessageBox messageBox);

    // Rebuilds the list; 1 when a phone interface was found, 0 otherwise.
    int Enumerate();
    // Drops non-phone records and modems that duplicate a ready bridge interface.
    void Prune();
    // One sweep over a group of one vendor and product: removes the modems a ready bridge
    // record reaches (marking them in `removed` and dropping them from `group`); true when any
    // went.
    bool SweepModems(std::vector<size_t>& group, std::vector<bool>& removed) const;
    void ListPhones(std::vector<PhoneInterface>& phones, bool prune);
    // True when a pruned record's instance id contains `text`, letter case folded.
    bool IsPresent(const std::string& text);
    // One read that answers both questions: ListPhones(prune) and, through IsListed, IsPresent
    // for every record, without reading the device facts again per record.
    PhoneList ReadPhones();
    // IsPresent over an earlier read.
    static bool IsListed(const PhoneList& read, const std::string& text);

  private:
    FactsSource facts_;
    MessageBox messageBox_;
    std::vector<PhoneInterface> list_;
};

// Shows the message box on the GUI thread; from another thread it waits until it is closed.
void ShowMessageBoxFromAnyThread(const std::string& text, const std::string& caption);

// The pure rules behind the detector, exposed for their own tests.
// Case-insensitive ordinal comparison folding A-Z to lower case: <0, 0 or >0.
int CompareNoCaseOrdinal(const std::string& a, const std::string& b);
// The serial an interface takes from its parent: the parent's last id segment when both ids
// agree in their first 12 characters (USB\VID_vvvv), else empty.
std::string ParentSerial(const std::string& instanceId, const std::string& parentInstanceId);
