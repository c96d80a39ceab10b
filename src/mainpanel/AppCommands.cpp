#include "mainpanel/AppCommands.h"

#include "base/IniText.h"
#include "base/Settings.h"
#include "web/CommonCommands.h"

namespace {

using Host = AppCommandHost;
using Packages = PackageCommandTarget;

// One of the main panel's own commands, acting on the panel's window (`run`) or on its packages
// (`runPackages`).
struct AppCommand {
    const char* name;
    void (*run)(PageCommand& command, Host& host) = nullptr;
    void (*runPackages)(PageCommand& command, Packages& packages) = nullptr;
};

void SetPath(PageCommand& command, Packages& packages) {
    if (auto folder = packages.BrowseForCacheFolder()) {
        packages.SetCacheDir(*folder);
        command.result = *folder;
    }
}

void GetCookie(PageCommand& command, Host& host) {
    if (command.Has(1))
        command.result = ReadSettingString(host.SettingsFile(), "settings", command.Item(1));
}

void SetCookie(PageCommand& command, Host& host) {
    // A value longer than a read can return would come back cut: refused whole instead.
    if (command.Has(2) && CutSettingValue(command.Item(2)).size() == command.Item(2).size())
        WriteSettingString(host.SettingsFile(), "settings", command.Item(1), command.Item(2));
}

void SetBoot(PageCommand& command, Host& host) {
    // The text is stored as the page wrote it, not as the number it reads as.
    if (command.Has(1) && host.SetAutostartEntry(ReadCommandNumber(command.Item(1)) != 0))
        WriteSettingString(host.SettingsFile(), "settings", "autoboot", command.Item(1));
}

void MovePanel(PageCommand& command, Host& host) {
    if (command.Has(2))
        host.MoveMainPanel(ReadCommandNumber(command.Item(1)), ReadCommandNumber(command.Item(2)));
}

void Pop(PageCommand& command, Host& host) {
    host.PopPanel(command.Has(1)
                      ? command.Item(1)
                      : ReadSettingString(host.SettingsFile(), host.MainPanelName(), "url"));
}

constexpr AppCommand kAppCommands[] = {
    {"app.setpath", nullptr, SetPath},
    {"app.getpath", nullptr, [](PageCommand& c, Packages& p) { c.result = p.CacheDir(); }},
    {"app.getcookie", GetCookie},
    {"app.setcookie", SetCookie},
    {"app.runbrush", nullptr,
     [](PageCommand& c, Packages& p) {
         if (c.Has(2)) p.StartBrushTask(c.Item(1), c.Item(2), c.Has(3) ? c.Item(3) : "");
     }},
    {"app.setboot", SetBoot},
    {"panel.hide", [](PageCommand&, Host& h) { h.HideMainPanel(); }},
    {"panel.move", MovePanel},
    {"panel.pop", Pop},
    {"app.retrymain", [](PageCommand&, Host& h) { h.RetryMainPage(); }},
    {"app.progress", nullptr,
     [](PageCommand& c, Packages& p) {
         if (c.Has(1)) p.SetPageProgress(ReadCommandNumber(c.Item(1)) != 0);
     }},
    {"app.cancelbrush", nullptr,
     [](PageCommand& c, Packages& p) {
         if (c.Has(1)) p.CancelBrush(c.Item(1));
     }},
    {"app.hasapp", nullptr,
     [](PageCommand& c, Packages& p) {
         if (c.Has(1)) c.result = p.HasPackage(c.Item(1)) ? 1 : 0;
     }},
    {"app.checkapp", nullptr,
     [](PageCommand& c, Packages& p) {
         if (c.Has(3)) p.PrefetchIfStale(c.Item(1), c.Item(2), c.Item(3));
     }},
};

}  // namespace

int RunAppCommand(PageCommand& command, AppCommandHost& panel, PackageCommandTarget& packages) {
    for (const AppCommand& entry : kAppCommands) {
        if (command.name == entry.name) {
            if (entry.run != nullptr) entry.run(command, panel);
            if (entry.runPackages != nullptr) entry.runPackages(command, packages);
            return 1;
        }
    }
    return 0;
}

std::vector<std::string> AppCommandsOverridingCommon() {
    std::vector<std::string> names;
    for (const AppCommand& entry : kAppCommands)
        if (IsCommonCommand(entry.name)) names.emplace_back(entry.name);
    return names;
}

std::vector<std::string> AppCommandNames() {
    std::vector<std::string> names;
    for (const AppCommand& entry : kAppCommands) names.emplace_back(entry.name);
    return names;
}
