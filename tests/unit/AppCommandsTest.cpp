// The main panel's own page commands: results, settings written, and commands with missing
// items that must neither read past the token list nor act.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TempDir.h"
#include "base/Settings.h"
#include "mainpanel/AppCommands.h"
#include "web/CommonCommands.h"

namespace {

using Strings = std::vector<std::string>;

class FakeHost : public AppCommandHost, public PackageCommandTarget {
  public:
    explicit FakeHost(std::string settings) : settings_(std::move(settings)) {}
    const std::string& SettingsFile() const override { return settings_; }
    const std::string& MainPanelName() const override { return panelName_; }
    const std::string& CacheDir() const override { return cacheDir; }
    void SetCacheDir(const std::string& folder) override { calls.push_back("cachedir " + folder); }
    std::optional<std::string> BrowseForCacheFolder() override { return chosenFolder; }
    bool SetAutostartEntry(bool enable) override {
        calls.push_back(enable ? "autostart on" : "autostart off");
        return autostartWorks;
    }
    void HideMainPanel() override { calls.push_back("hide"); }
    void MoveMainPanel(long dx, long dy) override {
        calls.push_back("move " + std::to_string(dx) + " " + std::to_string(dy));
    }
    void PopPanel(const std::string& url) override { calls.push_back("pop [" + url + "]"); }
    void StartBrushTask(const std::string& f, const std::string& u, const std::string& t) override {
        brushUrls[f] = u;
        calls.push_back("brush " + f + " " + u + (t.empty() ? "" : " [" + t + "]"));
    }
    void PrefetchIfStale(const std::string& f, const std::string& u,
                         const std::string& v) override {
        calls.push_back("prefetch " + f + " " + u + " " + v);
    }

    std::string cacheDir;
    std::map<std::string, std::string> brushUrls;
    std::optional<std::string> chosenFolder;
    bool autostartWorks = true;
    Strings calls;

  private:
    std::string settings_;
    std::string panelName_ = "mainpanel";
};

class AppCommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        settings_ = dir_.File("cfg.ini");
        host_ = std::make_unique<FakeHost>(settings_);
    }

    // Runs a command text; the result as the page reads it, or "unhandled".
    std::string Run(const std::string& text) {
        auto command = ParsePageCommand(text);
        if (!command) return "unparsed";
        if (!RunAppCommand(*command, *host_, *host_)) return "unhandled";
        return CommandResultText(command->result);
    }

    testsupport::TempDir dir_;
    std::string settings_;
    std::unique_ptr<FakeHost> host_;
};

// The desk stores the folder (its own tests read the settings back); here: what reaches it.
TEST_F(AppCommandsTest, ChosenCacheFolderIsHandedToTheDeskAndACancelChangesNothing) {
    host_->cacheDir = "/srv/in use";
    EXPECT_EQ(Run("app:app.getpath"), "/srv/in use");
    host_->chosenFolder = "/home/u/tools cache";
    EXPECT_EQ(Run("app:app.setpath"), "/home/u/tools cache");
    host_->chosenFolder.reset();  // cancelled
    EXPECT_EQ(Run("app:app.setpath"), "-1");
    EXPECT_EQ(host_->calls, (Strings{"cachedir /home/u/tools cache"}));
}

TEST_F(AppCommandsTest, CookiesLiveInTheSettingsSection) {
    EXPECT_EQ(Run("app:app.getcookie&theme"), "") << "a key never set reads as empty, not -1";
    EXPECT_EQ(Run("app:app.setcookie&theme&dark"), "-1");
    EXPECT_EQ(ReadSettingString(settings_, "settings", "theme"), "dark");
    EXPECT_EQ(Run("app:app.getcookie&theme"), "dark");
    // Missing items: ignored, nothing written, the result stays -1.
    EXPECT_EQ(Run("app:app.getcookie"), "-1");
    EXPECT_EQ(Run("app:app.setcookie&theme"), "-1");
    EXPECT_EQ(Run("app:app.setcookie&theme&&"), "-1");
    EXPECT_EQ(ReadSettingString(settings_, "settings", "theme"), "dark");
}

TEST_F(AppCommandsTest, CookieKeysCannotForgeOtherSettings) {
    ASSERT_EQ(Run("app:app.setcookie&theme&dark"), "-1");
    ASSERT_NE(WriteSettingString(settings_, "app", "wnd", "12"), 0);
    std::string before;
    {
        std::ifstream in(settings_, std::ios::binary);
        before.assign(std::istreambuf_iterator<char>(in), {});
    }
    for (const char* key : {"[app]", "[settings]", "theme=x", " theme", "theme ", "a\nwnd"}) {
        EXPECT_EQ(Run(std::string("app:app.setcookie&") + key + "&1"), "-1");
        EXPECT_EQ(Run(std::string("app:app.getcookie&") + key), "") << key;
    }
    std::ifstream in(settings_, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);
    EXPECT_EQ(Run("app:app.getcookie&THEME"), "dark");
}

TEST_F(AppCommandsTest, RunBrushRecordsTheUrlAndStartsATask) {
    EXPECT_EQ(Run("app:app.runbrush&lanternhall.exe&http://127.0.0.1:1/p/lh.zip"), "-1");
    EXPECT_EQ(host_->brushUrls["lanternhall.exe"], "http://127.0.0.1:1/p/lh.zip");
    EXPECT_EQ(Run("app:app.runbrush&unlocker.sh&http://127.0.0.1:1/p/u.zip&解锁助手"), "-1");
    EXPECT_EQ(host_->calls, (Strings{"brush lanternhall.exe http://127.0.0.1:1/p/lh.zip",
                                     "brush unlocker.sh http://127.0.0.1:1/p/u.zip [解锁助手]"}));
    host_->calls.clear();
    EXPECT_EQ(Run("app:app.runbrush&lanternhall.exe"), "-1");
    EXPECT_TRUE(host_->calls.empty());
    EXPECT_EQ(host_->brushUrls["lanternhall.exe"], "http://127.0.0.1:1/p/lh.zip");
}

TEST_F(AppCommandsTest, SetBootStoresTheTextAsWrittenOnlyOnSuccess) {
    EXPECT_EQ(Run("app:app.setboot&1"), "-1");
    EXPECT_EQ(ReadSettingString(settings_, "settings", "autoboot"), "1");
    EXPECT_EQ(Run("app:app.setboot&yes"), "-1");  // reads as 0: removes the entry
    EXPECT_EQ(ReadSettingString(settings_, "settings", "autoboot"), "yes");
    host_->autostartWorks = false;
    Run("app:app.setboot&1");
    EXPECT_EQ(ReadSettingString(settings_, "settings", "autoboot"), "yes");
    Run("app:app.setboot");
    EXPECT_EQ(host_->calls, (Strings{"autostart on", "autostart off", "autostart on"}));
}

TEST_F(AppCommandsTest, WindowCommands) {
    EXPECT_EQ(Run("app:panel.hide"), "-1");
    EXPECT_EQ(Run("app:panel.move&&10&-20"), "-1");
    EXPECT_EQ(Run("app:panel.move&7x&abc"), "-1");
    EXPECT_EQ(Run("app:panel.move&10"), "-1");  // dy missing: ignored
    EXPECT_EQ(host_->calls, (Strings{"hide", "move 10 -20", "move 7 0"}));
}

TEST_F(AppCommandsTest, PopTakesItsUrlOrTheMainPanelSetting) {
    Run("app:panel.pop");
    WriteSettingString(settings_, "mainpanel", "url", "http://127.0.0.1:1/pop.html");
    Run("app:panel.pop");
    Run("app:panel.pop&file:///x/news.html");
    EXPECT_EQ(host_->calls, (Strings{"pop []", "pop [http://127.0.0.1:1/pop.html]",
                                     "pop [file:///x/news.html]"}));
}

TEST_F(AppCommandsTest, CheckAppNeedsAllThreeItems) {
    EXPECT_EQ(Run("app:app.checkapp&lanternhall.exe&http://h/lh.zip&1.2"), "-1");
    EXPECT_EQ(Run("app:app.checkapp&lanternhall.exe&http://h/lh.zip"), "-1");
    EXPECT_EQ(host_->calls, (Strings{"prefetch lanternhall.exe http://h/lh.zip 1.2"}));
}

TEST_F(AppCommandsTest, OtherNamesAreLeftToTheCommonSet) {
    EXPECT_EQ(Run("app:app.quit"), "unhandled");
    EXPECT_EQ(Run("app:App.getpath"), "unhandled");
    EXPECT_EQ(Run("app:panel.Hide"), "unhandled");
    EXPECT_TRUE(host_->calls.empty());
}

}  // namespace

namespace {

// Every name of the table: answered, acting without its items only where it needs none, and
// marked exactly when the common set has it too.
TEST(AppCommandTable, EveryNameIsAnsweredAndOnlyMarkedNamesShadowTheCommonSet) {
    testsupport::TempDir dir;
    FakeHost host(dir.File("cfg.ini"));
    Strings shadowing;
    for (const std::string& name : AppCommandNames()) {
        auto command = ParsePageCommand("app:" + name);
        ASSERT_TRUE(command) << name;
        EXPECT_EQ(RunAppCommand(*command, host, host), 1) << name;
        if (IsCommonCommand(name)) shadowing.push_back(name);
    }
    EXPECT_EQ(host.calls, (Strings{"hide", "pop []"}));
    EXPECT_EQ(AppCommandsOverridingCommon(), shadowing);
    EXPECT_FALSE(shadowing.empty());
}

}  // namespace
