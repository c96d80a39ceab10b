#include "mainpanel/AppPanel.h"
#include "mainpanel/MainPanelHost.h"

std::unique_ptr<IMainPanel> MakeMainPanel(const std::string& panelName,
                                          const std::string& settingsPath) {
    return std::make_unique<CAppPanel>(panelName, settingsPath);
}
