#include "phone/ConflictingProcesses.h"

#include "base/Settings.h"
#include "base/TextCase.h"
#include "os/Files.h"
#include "os/Process.h"

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool IsBridgeImageName(const std::string& imageName) {
    return EndsWith(imageName, "adb");
}

std::string FirstModuleContaining(const std::vector<std::string>& modules,
                                  const std::string& imageName) {
    for (const auto& module : modules) {
        if (module.find(imageName) != std::string::npos) return module;
    }
    return {};
}

std::vector<long> PortOwnerPids(const std::vector<os::TcpRowFacts>& rows, uint16_t port) {
    std::vector<long> pids;
    for (const auto& row : rows) {
        if (row.localPort == port && row.ownerPid != 0) pids.push_back(row.ownerPid);
    }
    return pids;
}

std::string ModulePathOf(long pid, const std::string& imageName) {
    return FirstModuleContaining(os::ProcessModulePaths(pid), imageName);
}

std::vector<std::string> ListAdbProcesses() {
    std::vector<std::string> paths;
    for (const auto& process : os::ListProcesses()) {
        if (!IsBridgeImageName(process.imageName)) continue;
        std::string path = ModulePathOf(process.pid, process.imageName);
        if (!path.empty() && os::FileExists(path)) paths.push_back(std::move(path));
    }
    return paths;
}

bool KillProcessesByPath(const std::string& imagePath, bool terminate) {
    // Processes we may not inspect have no path: an empty text would match all of them.
    if (imagePath.empty()) return false;
    bool found = false;
    for (const auto& process : os::ListProcesses()) {
        if (!EqualsNoCase(ModulePathOf(process.pid, process.imageName), imagePath)) continue;
        found = true;
        // Results are not checked: a process we may not end stays, and the caller's loop
        // is bounded in time.
        if (terminate) os::KillProcess(process.pid);
    }
    return found;
}

bool ReportToDaemon(const std::string& moduleDirectory, const std::string& imagePath) {
    const std::string daemon = moduleDirectory + "/" + kDaemonFileName;
    if (!os::FileExists(daemon)) return false;
    return os::StartDetached(daemon, {"-p", imagePath});
}

bool FindPortOwners(uint16_t port, std::vector<std::string>& owners,
                    const std::string& moduleDirectory) {
    std::vector<os::TcpRowFacts> rows;
    if (!os::ListTcpRows(rows, port)) return false;
    for (long pid : PortOwnerPids(rows, port)) {
        std::string imagePath = os::ProcessImagePath(pid);
        ReportToDaemon(moduleDirectory, imagePath);
        owners.push_back(std::move(imagePath));
    }
    return true;
}

bool FindPortOwners(uint16_t port, std::vector<std::string>& owners) {
    return FindPortOwners(port, owners, ModuleDirectory());
}

std::string PickForeignAdb(const std::vector<std::string>& imagePaths) {
    for (const auto& path : imagePaths) {
        const std::string lower = AsciiLowerCopy(path);
        bool excluded = false;
        for (const auto& program : kExcludedBridgePrograms) {
            if (lower.find(program) != std::string::npos) excluded = true;
        }
        if (!excluded) return path;
    }
    return {};
}
