#include "mainpanel/AppCommands.h"

#include "app/Settings.h"

namespace {

constexpr const char* kCommandNames[] = {
    "app.setpath", "app.getpath", "app.getcookie", "app.setcookie", "app.runbrush",
    "app.setboot", "panel.hide",  "panel.move",    "panel.pop",     "app.checkapp",
};

bool IsAppCommand(const std::string& name) {
    for (const char* known : kCommandNames)
        if (name == known) return true;
    return false;
}

}  // namespace

int RunAppCommand(PageCommand& command, AppCommandHost& host) {
    const std::string& name = command.name;
    if (!IsAppCommand(name)) return 0;

    if (name == "app.setpath") {
        if (auto folder = host.BrowseForCacheFolder()) {
            host.SetCacheDir(*folder);
            command.result = *folder;
        }
    } else if (name == "app.getpath") {
        command.result = host.CacheDir();
    } else if (name == "app.getcookie") {
        if (command.Has(1))
            command.result = ReadSettingString(host.SettingsFile(), "settings", command.Item(1));
    } else if (name == "app.setcookie") {
        if (command.Has(2))
            WriteSettingString(host.SettingsFile(), "settings", command.Item(1), command.Item(2));
    } else if (name == "app.runbrush") {
        if (command.Has(2)) host.StartBrushTask(command.Item(1), command.Item(2));
    } else if (name == "app.setboot") {
        // The text is stored as the page wrote it, not as the number it reads as.
        if (command.Has(1) && host.SetAutostartEntry(ReadCommandNumber(command.Item(1)) != 0))
            WriteSettingString(host.SettingsFile(), "settings", "autoboot", command.Item(1));
    } else if (name == "panel.hide") {
        host.HideMainPanel();
    } else if (name == "panel.move") {
        if (command.Has(2))
            host.MoveMainPanel(ReadCommandNumber(command.Item(1)),
                               ReadCommandNumber(command.Item(2)));
    } else if (name == "panel.pop") {
        host.PopPanel(command.Has(1)
                          ? command.Item(1)
                          : ReadSettingString(host.SettingsFile(), host.MainPanelName(), "url"));
    } else if (name == "app.checkapp") {
        if (command.Has(3)) host.PrefetchIfStale(command.Item(1), command.Item(2), command.Item(3));
    }
    return 1;
}
