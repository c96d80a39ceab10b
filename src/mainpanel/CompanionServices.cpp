#include "mainpanel/CompanionServices.h"

#include <chrono>
#include <thread>

#include "os/ProcFs.h"
#include "phone/ModuleLib.h"
#include "phone/PhoneDetector.h"

CompanionServices RealCompanionServices() {
    return RealCompanionServices(std::make_shared<CPhoneDetector>());
}

CompanionServices RealCompanionServices(std::shared_ptr<CPhoneDetector> detector) {
    CompanionServices s;
    s.listPhoneInstanceIds = [detector] {
        std::vector<PhoneInterface> phones;
        detector->ListPhones(phones, true);
        std::vector<std::string> ids;
        for (const auto& phone : phones) ids.push_back(phone.instanceId);
        return ids;
    };
    s.isPresent = [detector](const std::string& instanceId) {
        return detector->IsPresent(instanceId);
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
