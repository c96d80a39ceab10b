// The shipped local page (res/web/brush.html) in a real web view with the real bridge: what it
// asks the program at start, the commands its controls send, and how the package notifications
// show on its cards.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "TempDir.h"
#include "WebTestPanel.h"

namespace {

using testsupport::WebTestPanel;

class LocalPage : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testsupport::PrepareWebTests());
        testsupport::WriteFile(
            module_.File("res/web/brush.html"),
            testsupport::ReadFile(std::string(MAPLENOOK_TEST_SOURCE_DIR) + "/res/web/brush.html"));
        panel_ = std::make_unique<WebTestPanel>("mainpanel", module_.path());
        // Every command of the main panel's and the common set is recorded, answered from
        // `answers`, and never acted on.
        panel_->extraCommands = [this](PageCommand& command) {
            std::string line = command.name;
            for (size_t i = 1; i < command.tokens.size(); ++i) line += "&" + command.tokens[i];
            calls_.push_back(line);
            auto answer = answers_.find(line);
            if (answer != answers_.end()) command.result = answer->second;
            return 1;
        };
    }

    void Open() { ASSERT_TRUE(panel_->OpenPage("file://" + module_.File("res/web/brush.html"))); }
    std::string Eval(const std::string& expression) { return panel_->Evaluate(expression); }
    std::string CardState(const std::string& base) {
        return Eval("document.querySelector('.pkg[data-base=\"" + base +
                    "\"] .state span').textContent");
    }
    std::string RunButton(const std::string& base) {
        return "document.querySelector('.pkg[data-base=\"" + base + "\"] .run')";
    }
    // Waits for the page's timers (the drag sends at most one move per 16 ms).
    void Settle() {
        const size_t before = calls_.size();
        testsupport::PumpUntil([&] { return calls_.size() > before; }, std::chrono::seconds(1));
    }

    testsupport::TempDir module_;
    std::unique_ptr<WebTestPanel> panel_;
    std::vector<std::string> calls_;
    std::map<std::string, std::string> answers_;
};

TEST_F(LocalPage, StartsFromTheProgramsSettingsAndShowsItIsOffline) {
    answers_["app.getpath"] = "/home/u/cache";
    answers_["app.getcookie&autoboot"] = "1";
    answers_["app.getcookie&pkgbase"] = "http://127.0.0.1:9/pkgs/";
    Open();
    EXPECT_EQ(calls_, (std::vector<std::string>{"app.getpath", "app.getcookie&autoboot",
                                                "app.getcookie&pkgbase"}));
    EXPECT_EQ(Eval("document.getElementById('banner').classList.contains('show')"), "true");
    EXPECT_EQ(Eval("document.getElementById('bootSwitch').getAttribute('aria-checked')"), "true");
    EXPECT_EQ(Eval("document.getElementById('cachePath').getAttribute('data-path')"),
              "/home/u/cache");
    // Four packages, each with its run button.
    EXPECT_EQ(Eval("document.querySelectorAll('.pkg .run').length"), "4");

    calls_.clear();
    Eval(RunButton("flashkit") + ".click()");
    EXPECT_EQ(calls_, std::vector<std::string>{
                          "app.runbrush&flashkit.exe&http://127.0.0.1:9/pkgs/flashkit.zip"});
    EXPECT_EQ(Eval(RunButton("flashkit") + ".disabled"), "true");
}

TEST_F(LocalPage, NotificationsDriveThePackageCards) {
    answers_["app.getpath"] = "/c";
    Open();
    Eval("hostNotify('runbrush','flashkit','download')");
    EXPECT_EQ(CardState("flashkit"), "正在下载…");
    EXPECT_EQ(Eval(RunButton("flashkit") + ".disabled"), "true");
    Eval("hostNotify('runbrush','flashkit','unzip')");
    EXPECT_EQ(CardState("flashkit"), "正在解压…");
    Eval("hostNotify('runbrush','flashkit','run')");
    EXPECT_EQ(CardState("flashkit"), "已启动");
    EXPECT_EQ(Eval(RunButton("flashkit") + ".disabled"), "false");
    Eval("hostNotify('runbrush','unlocker','download.error')");
    EXPECT_EQ(Eval(RunButton("unlocker") + ".textContent"), "重试");
    Eval("hostNotify('runbrush','lanternhall','run.error')");
    EXPECT_EQ(CardState("lanternhall"), "启动失败");
    // Names the page does not list and other events change nothing and raise nothing.
    EXPECT_EQ(Eval("(function(){hostNotify('runbrush','nosuch','run');hostNotify('other');"
                   "return 'fine';})()"),
              "fine");
}

TEST_F(LocalPage, WithoutACacheFolderRunAsksForOneFirst) {
    Open();  // app.getpath gives -1 (nothing recorded): no cache folder yet
    calls_.clear();
    answers_["app.setpath"] = "-1";  // cancelled
    Eval(RunButton("backup") + ".click()");
    EXPECT_EQ(calls_, std::vector<std::string>{"app.setpath"});

    calls_.clear();
    answers_["app.setpath"] = "/home/u/tools";
    Eval(RunButton("backup") + ".click()");
    ASSERT_EQ(calls_.size(), 2u);
    EXPECT_EQ(calls_[0], "app.setpath");
    EXPECT_EQ(calls_[1], "app.runbrush&backup.sh&http://127.0.0.1:17361/packages/backup.zip");
    EXPECT_EQ(Eval("document.getElementById('cachePath').getAttribute('data-path')"),
              "/home/u/tools");
}

TEST_F(LocalPage, WindowControlsSendTheirCommands) {
    answers_["app.getcookie&autoboot"] = "0";
    Open();
    calls_.clear();
    Eval("document.getElementById('btnMin').click()");
    Eval("document.getElementById('btnHide').click()");
    Eval("document.getElementById('btnPop').click()");
    Eval("document.getElementById('btnQuit').click()");
    EXPECT_EQ(calls_,
              (std::vector<std::string>{"panel.minsize", "panel.hide", "panel.pop", "app.quit"}));

    // The switch asks for autostart and reads back what the program stored.
    calls_.clear();
    answers_["app.getcookie&autoboot"] = "1";
    Eval("document.getElementById('bootSwitch').click()");
    EXPECT_EQ(calls_, (std::vector<std::string>{"app.setboot&1", "app.getcookie&autoboot"}));
    EXPECT_EQ(Eval("document.getElementById('bootSwitch').getAttribute('aria-checked')"), "true");

    // Dragging the title bar moves the panel by the pointer's motion.
    calls_.clear();
    Eval(
        "(function(){var b=document.getElementById('titlebar');"
        "function ev(t,x,y){b.dispatchEvent(new PointerEvent(t,{bubbles:true,button:0,"
        "pointerId:1,screenX:x,screenY:y}));}"
        "ev('pointerdown',100,100);ev('pointermove',110,95);ev('pointermove',112,97);})()");
    Settle();
    EXPECT_EQ(calls_, std::vector<std::string>{"panel.move&12&-3"});
    calls_.clear();
    Eval(
        "(function(){var b=document.getElementById('titlebar');"
        "b.dispatchEvent(new PointerEvent('pointermove',{bubbles:true,pointerId:1,"
        "screenX:120,screenY:97}));"
        "b.dispatchEvent(new PointerEvent('pointerup',{bubbles:true,pointerId:1,"
        "screenX:120,screenY:97}));})()");
    EXPECT_EQ(calls_, std::vector<std::string>{"panel.move&8&0"});
}

}  // namespace
