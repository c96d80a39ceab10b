#include "mainpanel/CompanionApp.h"

#include "base/Settings.h"
#include "base/TextCase.h"
#include "os/DiagnosticLog.h"
#include "os/Files.h"
#include "package/BrushWorkflow.h"
#include "package/PackagePaths.h"

namespace {
constexpr int kInstallDelayMs = 1200;

// Programs whose first non-option argument is the program they run. Versioned names
// ("python3.11", "perl5.36") count as their family.
bool IsInterpreter(const std::string& fileName) {
    static const char* const kFamilies[] = {"sh",
                                            "bash",
                                            "dash",
                                            "zsh",
                                            "ksh",
                                            "busybox",
                                            "env",
                                            "python",
                                            "perl",
                                            "ruby",
                                            "node",
                                            "mono",
                                            "java",
                                            "wine",
                                            "wine64",
                                            "wine-preloader",
                                            "wine64-preloader"};
    const std::string name = AsciiLowerCopy(fileName);
    for (const std::string family : kFamilies) {
        if (name.compare(0, family.size(), family) != 0) continue;
        const std::string rest = name.substr(family.size());
        if (rest.find_first_not_of("0123456789.") == std::string::npos) return true;
    }
    return false;
}

// What the bridge answered, on one line for the log: the reason an install failed is usually in
// the middle ("adb: error: failed to copy ...: couldn't read from device").
std::string OneLine(const std::string& output) {
    constexpr size_t kLimit = 600;
    std::string joined;
    std::string line;
    for (size_t i = 0; i <= output.size(); ++i) {
        const char c = i < output.size() ? output[i] : '\n';
        if (c == '\r') continue;
        if (c != '\n') {
            line += c;
            continue;
        }
        if (!line.empty()) joined += (joined.empty() ? "" : " / ") + line;
        line.clear();
    }
    if (joined.size() > kLimit) joined = joined.substr(0, kLimit) + "...";
    return joined.empty() ? "no answer" : joined;
}

}  // namespace

bool IsProcessRunning(const std::vector<std::string>& runningImageNames,
                      const std::string& imageName) {
    for (const auto& name : runningImageNames)
        if (AsciiLowerCopy(name) == imageName) return true;
    return false;
}

std::vector<std::string> ProcessNames(const std::string& imageName,
                                      const std::vector<std::string>& arguments) {
    std::vector<std::string> names{imageName};
    const auto fileNameOf = [](const std::string& path) {
        const auto separator = path.find_last_of("/\\");
        return separator == std::string::npos ? path : path.substr(separator + 1);
    };
    if (!arguments.empty()) names.push_back(fileNameOf(arguments[0]));
    const bool interpreted = IsInterpreter(fileNameOf(imageName)) ||
                             (!arguments.empty() && IsInterpreter(fileNameOf(arguments[0])));
    for (size_t i = 1; interpreted && i < arguments.size(); ++i) {
        if (arguments[i].empty() || arguments[i][0] == '-') continue;
        names.push_back(fileNameOf(arguments[i]));
        break;
    }
    return names;
}

int OnDeviceArrival(const CompanionServices& services,
                    const std::function<void()>& startCompanion) {
    int started = 0;
    for (const auto& instanceId : services.listPhoneInstanceIds()) {
        if (services.isPresent(instanceId) && !services.isProcessRunning(kCompanionImageName)) {
            startCompanion();
            ++started;
        }
    }
    return started;
}

int CCompanionArrivals::OnArrival(const CompanionServices& services, const StartTask& start) {
    if (running_ > 0) return 0;
    return Start(OnDeviceArrival(services, [] {}), start);
}

bool CCompanionArrivals::BeginPass() {
    if (passRunning_) {
        passPending_ = true;
        return false;
    }
    if (running_ > 0) return false;
    passRunning_ = true;
    return true;
}

bool CCompanionArrivals::EndPass(int starts, const StartTask& start) {
    passRunning_ = false;
    Start(starts, start);
    if (!passPending_) return false;
    passPending_ = false;
    return BeginPass();
}

int CCompanionArrivals::Start(int starts, const StartTask& start) {
    if (running_ > 0) return 0;
    for (int i = 0; i < starts; ++i) {
        ++running_;
        start();
    }
    return starts;
}

void CCompanionArrivals::TaskFinished() {
    if (running_ > 0) --running_;
}

int InstallCompanionApk(const CompanionServices& services, const std::string& apkPath) {
    bool phonePresent = false;
    for (const auto& instanceId : services.listPhoneInstanceIds()) {
        if (services.isPresent(instanceId)) {
            phonePresent = true;
            break;
        }
    }
    if (!phonePresent) return 1;

    const std::string command = "install -r \"" + apkPath + "\"";
    services.wait(kInstallDelayMs);
    const std::string first = services.runAdb(command);
    if (first.find("Success") == std::string::npos) {
        os::LogWarning("phone package not installed, trying once more",
                       apkPath + ": " + OneLine(first));
        services.wait(kInstallDelayMs);
        const std::string second = services.runAdb(command);
        // Only said, not acted on: there is no third attempt.
        if (second.find("Success") == std::string::npos)
            os::LogWarning("phone package not installed", apkPath + ": " + OneLine(second));
    }
    return 1;
}

std::function<void(const std::string& fileName)> CompanionAfterStart(
    const std::string& moduleDirectory, std::function<void(const std::string& apkPath)> install) {
    return [apk = FileSystemPathOf(moduleDirectory, "\\phone.apk"),
            install = std::move(install)](const std::string& fileName) {
        if (fileName == kCompanionImageName) install(apk);
    };
}

int PrefetchIfStale(CBrushWorkflow& workflow, const std::string& settingsPath,
                    const std::string& cacheSetting, const std::string& fileName,
                    const std::string& url, const std::string& version) {
    const std::string stored = ReadSettingString(settingsPath, "app", "prever");
    if (!PackageBaseName(fileName)) return 0;
    const auto place = workflow.Place(cacheSetting, fileName);
    if (!place) return 1;  // a name the cache cannot hold is never fetched
    if (!os::FileExists(place->program) || stored != version) {
        WriteSettingString(settingsPath, "app", "prever", version);
        workflow.StartFetchTask(*place, url);
    }
    return 1;
}
