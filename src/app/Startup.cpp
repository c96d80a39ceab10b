#include "app/Startup.h"

#include "app/InstallCheck.h"
#include "app/ResourceList.h"
#include "app/SingleInstance.h"
#include "base/MessageLoop.h"
#include "base/Settings.h"
#include "base/SettingsPlacement.h"
#include "mainpanel/MainPanelHost.h"
#include "os/DiagnosticLog.h"
#include "os/Dialogs.h"
#include "os/Files.h"
#include "os/HandOver.h"
#include "os/SingleInstance.h"
#include "os/TerminationSignals.h"
#include "os/Window.h"

#include <memory>
#include <optional>

namespace {

std::unique_ptr<CMessageLoop> g_messageLoop;

}  // namespace

void InitModule() {
    // Without a display the start-up still runs its course: a second instance hands over, a
    // first one finds it cannot make its window and ends with 0.
    os::InitGuiToolkit();
    os::QuitOnTerminationSignals();
}

int RunApplication() {
    g_messageLoop = std::make_unique<CMessageLoop>();
    RegisterMessageLoop(g_messageLoop.get());

    const std::string moduleDirectory = ModuleDirectory();
    // Only the instance that runs may make or refresh the settings copy; a second start only
    // reads it to find the first one.
    const SettingsPlacement placement = LocateSettings(moduleDirectory);

    // Without a lock the program still starts, as the only instance it can know of.
    const std::string runtimeFolder = os::UserRuntimeFolder();
    const os::InstanceLock lock =
        runtimeFolder.empty()
            ? os::InstanceLock::Failed
            : os::TakeInstanceLock(os::InstanceLockAddress(runtimeFolder, kInstanceLockName));
    if (lock == os::InstanceLock::HeldByAnother) {
        const bool copyMade = os::KindOfPath(placement.settingsPath) == os::PathKind::RegularFile;
        return HandOverToFirstInstance(
            copyMade ? placement.settingsPath : SettingsPathFor(moduleDirectory), runtimeFolder);
    }
    if (lock == os::InstanceLock::Failed) {
        os::LogWarning("single-instance lock", "cannot be taken; starting anyway");
    }

    const std::string settingsPath = ApplySettingsPlacement(placement, moduleDirectory);
    // A folder or a FIFO in its place would read as an empty file (and a FIFO could block):
    // say which file is wrong rather than ask for a reinstall that would not fix it.
    if (os::KindOfPath(settingsPath) == os::PathKind::Other) {
        os::ShowMessageBox(SettingsFileRefusedText(settingsPath));
        return 0;
    }
    RegisterResourceList(settingsPath, moduleDirectory);
    if (const std::string missing = MissingInstallationPart(settingsPath, moduleDirectory);
        !missing.empty()) {
        os::LogError("installation damaged", missing + " is missing or cannot be read");
        os::ShowMessageBox(DamagedInstallationText(missing));
        return 0;
    }

    std::unique_ptr<IMainPanel> mainPanel = MakeMainPanel("mainpanel", settingsPath);
    if (!mainPanel || !mainPanel->Create()) return 0;
    const long handle = mainPanel->WindowHandle();
    // Serving before [app] wnd names the window, so a second instance that reads the new
    // handle always finds someone to answer.
    std::optional<os::HandOverServer> handOver;
    if (lock == os::InstanceLock::Acquired) {
        handOver.emplace(os::HandOverAddress(runtimeFolder, handle),
                         [panel = mainPanel.get()](const os::HandOverRequest& request) {
                             return panel->OnCopyData(request.dwData, request.userTime);
                         });
    }
    WriteSettingString(settingsPath, "app", "wnd", WindowHandleText(handle));
    mainPanel->Hide();

    return g_messageLoop->Run();
}

void TermModule() {
    UnregisterMessageLoop();
    g_messageLoop.reset();
}
