#include "app/Startup.h"

#include "app/InstallCheck.h"
#include "app/ResourceList.h"
#include "app/SingleInstance.h"
#include "base/MessageLoop.h"
#include "base/Settings.h"
#include "base/SettingsPlacement.h"
#include "mainpanel/MainPanelHost.h"
#include "os/Dialogs.h"
#include "os/HandOver.h"
#include "os/PanelWindow.h"
#include "os/SingleInstance.h"
#include "os/TerminationSignals.h"

#include <cstdio>
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
    const std::string settingsPath = PrepareSettingsPath(moduleDirectory);

    // Without a lock the program still starts, as the only instance it can know of.
    const std::string runtimeFolder = os::UserRuntimeFolder();
    const os::InstanceLock lock =
        runtimeFolder.empty()
            ? os::InstanceLock::Failed
            : os::TakeInstanceLock(os::InstanceLockAddress(runtimeFolder, kInstanceLockName));
    if (lock == os::InstanceLock::HeldByAnother) {
        return HandOverToFirstInstance(settingsPath, runtimeFolder);
    }
    if (lock == os::InstanceLock::Failed) {
        std::fprintf(stderr, "maplenook: cannot take the single-instance lock; starting anyway\n");
    }

    RegisterResourceList(settingsPath, moduleDirectory);
    if (!IsInstallationIntact(settingsPath, moduleDirectory)) {
        os::ShowMessageBox(kDamagedInstallationText);
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
