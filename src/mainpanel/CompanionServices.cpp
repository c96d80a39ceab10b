#include "mainpanel/CompanionServices.h"

#include <chrono>
#include <optional>
#include <thread>

#include "os/ProcFs.h"
#include "phone/ModuleLib.h"

CSharedPhoneDetector::CSharedPhoneDetector(std::shared_ptr<CPhoneDetector> detector)
    : detector_(std::move(detector)) {}

PhoneList CSharedPhoneDetector::Read() {
    std::lock_guard lock(mutex_);
    return detector_->ReadPhones();
}

CompanionServices RealCompanionServices(std::shared_ptr<CSharedPhoneDetector> phones) {
    // The pass's one read: listing takes it afresh, presence is judged against it.
    auto read = std::make_shared<std::optional<PhoneList>>();
    CompanionServices s;
    s.listPhoneInstanceIds = [phones, read] {
        *read = phones->Read();
        std::vector<std::string> ids;
        for (const auto& phone : (*read)->phones) ids.push_back(phone.instanceId);
        return ids;
    };
    s.isPresent = [phones, read](const std::string& instanceId) {
        if (!*read) *read = phones->Read();
        return CPhoneDetector::IsListed(**read, instanceId);
    };
    s.isProcessRunning = [](const std::string& imageName) {
        std::vector<std::string> names;
        for (const auto& process : os::ListProcesses()) {
            for (auto& name : ProcessNames(process.imageName, process.arguments))
                names.push_back(std::move(name));
        }
        return IsProcessRunning(names, imageName);
    };
    s.runAdb = [](const std::string& command) { return CModuleLib::Instance().RunAdb(command); };
    s.wait = [](int milliseconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    };
    return s;
}

CompanionServices RealCompanionServices(std::shared_ptr<CPhoneDetector> detector) {
    return RealCompanionServices(std::make_shared<CSharedPhoneDetector>(std::move(detector)));
}

std::function<CompanionServices()> RealCompanionSide() {
    auto phones = std::make_shared<CSharedPhoneDetector>(std::make_shared<CPhoneDetector>());
    return [phones] { return RealCompanionServices(phones); };
}
