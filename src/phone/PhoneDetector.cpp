#include "phone/PhoneDetector.h"

#include <algorithm>
#include <future>
#include <memory>
#include <unordered_map>

#include "base/TextCase.h"
#include "os/Dialogs.h"
#include "os/GuiThread.h"

namespace {

// "USB\VID_vvvv&PID_pppp": two instance ids this long alike are the same vendor and product.
constexpr size_t kVendorProductLength = 21;

std::string AsciiUpperCopy(std::string text) {
    for (auto& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string LastSegment(const std::string& id) {
    const auto slash = id.find_last_of('\\');
    return slash == std::string::npos ? id : id.substr(slash + 1);
}

bool IsPhoneRecord(const PhoneInterface& record) {
    const std::string id = AsciiUpperCopy(record.instanceId);
    return id.find("&MI") != std::string::npos || id.find("&ADB") != std::string::npos ||
           id.find("\\VID_22D9") != std::string::npos;
}

std::optional<int32_t> KindOf(const std::string& compatibleId) {
    const std::string id = AsciiLowerCopy(compatibleId);
    if (id == "usb\\class_ff&subclass_42&prot_01" || id == "usb\\class_ff&subclass_42&prot_03") {
        return kKindAdb;
    }
    if (id == "usb\\class_02&subclass_02&prot_01") return kKindModem;
    return std::nullopt;
}

}  // namespace

int CompareNoCaseOrdinal(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(AsciiLower(a[i]));
        const auto y = static_cast<unsigned char>(AsciiLower(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string ParentSerial(const std::string& instanceId, const std::string& parentInstanceId) {
    if (instanceId.substr(0, 12) != parentInstanceId.substr(0, 12)) return {};
    return LastSegment(parentInstanceId);
}

void ShowMessageBoxFromAnyThread(const std::string& text, const std::string& caption) {
    if (os::IsGuiThread()) {
        os::ShowMessageBox(text, caption);
        return;
    }
    // The GUI thread never waits for workers, so waiting for it here cannot deadlock.
    auto shown = std::make_shared<std::promise<void>>();
    auto done = shown->get_future();
    os::PostToGuiThread([text, caption, shown] {
        os::ShowMessageBox(text, caption);
        shown->set_value();
    });
    done.wait();
}

CPhoneDetector::CPhoneDetector()
    : CPhoneDetector([] { return os::ReadUsbDeviceFacts(); }, ShowMessageBoxFromAnyThread) {}

CPhoneDetector::CPhoneDetector(FactsSource facts, MessageBox messageBox)
    : facts_(std::move(facts)), messageBox_(std::move(messageBox)) {}

int CPhoneDetector::Enumerate() {
    list_.clear();
    const auto devices = facts_();
    if (!devices) return 0;
    int found = 0;
    for (const auto& device : *devices) {
        if (device.hardwareId == os::HardwareIdRead::Missing) continue;
        // What was gathered so far stays in the list for the caller.
        if (device.hardwareId == os::HardwareIdRead::Unreadable) return 0;
        // An ordering test, not a prefix test: USBSTOR\... passes, USB\ROOT_HUB... does not.
        if (CompareNoCaseOrdinal(device.instanceId, "USB\\VID") <= 0) continue;
        const auto kind = KindOf(device.compatibleId);
        if (!kind) continue;
        found = 1;
        PhoneInterface record;
        record.instanceId = device.instanceId;
        record.kind = *kind;
        record.driverReady =
            device.configFlags && (*device.configFlags == os::kConfigFlagsDriverReady ||
                                   *device.configFlags == os::kConfigFlagsManualInstall)
                ? 1
                : 0;
        record.serial = ParentSerial(device.instanceId, device.parentInstanceId);
        if (record.kind == kKindModem && record.serial.empty()) {
            record.serial = LastSegment(device.instanceId);
        }
        list_.push_back(std::move(record));
    }
    return found;
}

void CPhoneDetector::Prune() {
    // Non-phone records never share an id with a phone record, so they neither stop a scan nor
    // decide a removal: they all go first.
    std::erase_if(list_, [](const PhoneInterface& record) { return !IsPhoneRecord(record); });

    // A modem goes when a ready bridge record of the same vendor and product (the first 21
    // characters, letter case folded) with another id reaches it in a scan, or it reaches that
    // bridge record in its own: a scan in list order stops at the first other record with the
    // scanning record's id. Bridge records are never removed and removals only move those stops
    // later, so a removable modem stays removable: sweeping until nothing changes leaves exactly
    // what restarting after every removal leaves, without restarting.
    std::unordered_map<std::string, std::vector<size_t>> groups;
    for (size_t k = 0; k < list_.size(); ++k)
        groups[AsciiLowerCopy(list_[k].instanceId.substr(0, kVendorProductLength))].push_back(k);
    std::vector<bool> removed(list_.size(), false);
    for (auto& entry : groups) {
        std::vector<size_t>& group = entry.second;  // list positions, ascending
        for (bool changed = group.size() > 1; changed;) changed = SweepModems(group, removed);
    }
    size_t kept = 0;
    for (size_t k = 0; k < list_.size(); ++k)
        if (!removed[k] && kept++ != k) list_[kept - 1] = std::move(list_[k]);
    list_.resize(kept);

    // The scan that finds nothing more to remove meets each record of an identical pair once:
    // one report per such record, not one per restart.
    std::unordered_map<std::string, int> seen;
    for (const auto& record : list_) ++seen[record.instanceId];
    for (const auto& record : list_)
        if (seen[record.instanceId] > 1) messageBox_(kSameInstanceText, kSameInstanceCaption);
}

bool CPhoneDetector::SweepModems(std::vector<size_t>& group, std::vector<bool>& removed) const {
    constexpr size_t kNever = SIZE_MAX;
    // Where the scan of each id stops: its first and second positions.
    std::unordered_map<std::string, std::pair<size_t, size_t>> stops;
    for (size_t k : group) {
        auto [it, fresh] = stops.try_emplace(list_[k].instanceId, k, kNever);
        if (!fresh && it->second.second == kNever) it->second.second = k;
    }
    const auto stopOf = [&](size_t k) {
        const auto& s = stops.at(list_[k].instanceId);
        return s.first == k ? s.second : s.first;
    };
    // A bridge record with the modem's own id never qualifies: its scan stops at or before the
    // modem, and the modem's scan stops at or before it. So the earliest ready bridge record and
    // the farthest-reaching scan of one decide for every modem.
    size_t earliest = kNever, farthest = 0;
    for (size_t k : group) {
        if (list_[k].driverReady != 1 || list_[k].kind != kKindAdb) continue;
        earliest = std::min(earliest, k);
        farthest = std::max(farthest, stopOf(k));
    }
    bool changed = false;
    std::vector<size_t> left;
    for (size_t k : group) {
        if (list_[k].kind == kKindModem && (farthest > k || earliest < stopOf(k))) {
            removed[k] = true;
            changed = true;
        } else {
            left.push_back(k);
        }
    }
    group.swap(left);
    return changed;
}

void CPhoneDetector::ListPhones(std::vector<PhoneInterface>& phones, bool prune) {
    if (Enumerate() != 0 && prune) Prune();
    phones = list_;
}

bool CPhoneDetector::IsPresent(const std::string& text) {
    return IsListed(ReadPhones(), text);
}

PhoneList CPhoneDetector::ReadPhones() {
    PhoneList read;
    read.found = Enumerate() != 0;
    if (read.found) Prune();
    read.phones = list_;
    return read;
}

bool CPhoneDetector::IsListed(const PhoneList& read, const std::string& text) {
    if (!read.found) return false;
    const std::string wanted = AsciiUpperCopy(text);
    for (const auto& record : read.phones) {
        if (AsciiUpperCopy(record.instanceId).find(wanted) != std::string::npos) return true;
    }
    return false;
}
