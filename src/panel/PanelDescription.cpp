#include "panel/PanelDescription.h"

#include "base/Settings.h"

PanelDescription ReadPanelDescription(const std::string& settingsFile,
                                      const std::string& panelName) {
    PanelDescription d;
    d.title = ReadSettingString(settingsFile, panelName, "title");
    d.bkImage = ReadSettingString(settingsFile, panelName, "bkimage");
    d.width = ReadSettingInt(settingsFile, panelName, "width", 0);
    d.height = ReadSettingInt(settingsFile, panelName, "height", 0);
    d.headHeight = ReadSettingInt(settingsFile, panelName, "headheight", 0);
    d.footHeight = ReadSettingInt(settingsFile, panelName, "footheight", 0);
    d.innerBorder = ReadSettingInt(settingsFile, panelName, "innerborder", 0);
    d.outBorder = ReadSettingInt(settingsFile, panelName, "outborder", 0);
    d.bkMode = ReadSettingInt(settingsFile, panelName, "bkmode", 4);
    return d;
}
