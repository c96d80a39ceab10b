#include "phone/PhoneDetector.h"

#include <algorithm>
#include <future>
#include <memory>

#include "app/TextCase.h"
#include "os/Dialogs.h"
#include "os/GuiThread.h"

namespace {

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

// Like comparing the first `count` characters of both, a shorter text taking part whole.
bool SameFirstCharactersNoCase(const std::string& a, const std::string& b, size_t count) {
    const size_t n = std::min({a.size(), b.size(), count});
    for (size_t k = 0; k < n; ++k) {
        if (AsciiLower(a[k]) != AsciiLower(b[k])) return false;
    }
    return std::min(a.size(), count) == std::min(b.size(), count);
}

bool IsPhoneRecord(const PhoneInterface& record) {
    const std::string id = AsciiUpperCopy(record.instanceId);
    return id.find("&MI") != std::string::npos || id.find("&ADB") != std::string::npos ||
           id.find("\\VID_22D9") != std::string::npos;
}

std::optional<int32_t> KindOf(const std::string& compatibleId) {
    const std::string id = AsciiLowerCopy(compatibleId);
    if (id == "usb\\class_ff&subclass_42&prot_01" || id == "usb\\class_ff&subclass_42&prot_03") {
        return KIND_ADB;
    }
    if (id == "usb\\class_02&subclass_02&prot_01") return KIND_MODEM;
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
    : m_facts(std::move(facts)), m_messageBox(std::move(messageBox)) {}

int CPhoneDetector::Enumerate() {
    m_list.clear();
    const auto devices = m_facts();
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
            device.configFlags && (*device.configFlags == 0 || *device.configFlags == 4) ? 1 : 0;
        record.serial = ParentSerial(device.instanceId, device.parentInstanceId);
        if (record.kind == KIND_MODEM && record.serial.empty()) {
            record.serial = LastSegment(device.instanceId);
        }
        m_list.push_back(std::move(record));
    }
    return found;
}

void CPhoneDetector::Prune() {
    // Whether a record is a phone record never changes, so it is decided once per record.
    std::vector<bool> phone;
    for (const auto& record : m_list) phone.push_back(IsPhoneRecord(record));
    const auto remove = [&](size_t index) {
        m_list.erase(m_list.begin() + static_cast<std::ptrdiff_t>(index));
        phone.erase(phone.begin() + static_cast<std::ptrdiff_t>(index));
    };
    // Every removal starts the scan over, until a whole pass removes nothing.
    bool removed = true;
    while (removed) {
        removed = false;
        for (size_t i = 0; i < m_list.size() && !removed; ++i) {
            if (!phone[i]) {
                remove(i);
                removed = true;
                break;
            }
            for (size_t j = 0; j < m_list.size(); ++j) {
                if (j == i) continue;
                if (!phone[j]) {
                    remove(j);
                    removed = true;
                    break;
                }
                const PhoneInterface& a = m_list[i];
                const PhoneInterface& b = m_list[j];
                if (a.instanceId == b.instanceId) {
                    m_messageBox(kSameInstanceText, kSameInstanceCaption);
                    break;
                }
                // 21 characters are USB\VID_vvvv&PID_pppp: the same vendor and product.
                if (!SameFirstCharactersNoCase(a.instanceId, b.instanceId, 21)) continue;
                if (a.driverReady == 1 && a.kind == KIND_ADB && b.kind == KIND_MODEM) {
                    remove(j);
                    removed = true;
                    break;
                }
                if (b.driverReady == 1 && b.kind == KIND_ADB && a.kind == KIND_MODEM) {
                    remove(i);
                    removed = true;
                    break;
                }
            }
        }
    }
}

void CPhoneDetector::ListPhones(std::vector<PhoneInterface>& phones, bool prune) {
    if (Enumerate() != 0 && prune) Prune();
    phones = m_list;
}

bool CPhoneDetector::IsPresent(const std::string& text) {
    if (Enumerate() == 0) return false;
    Prune();
    const std::string wanted = AsciiUpperCopy(text);
    for (const auto& record : m_list) {
        if (AsciiUpperCopy(record.instanceId).find(wanted) != std::string::npos) return true;
    }
    return false;
}
