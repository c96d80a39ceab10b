// The shipped local page (res/web/brush.html) in a real web view with the real bridge: what it
// asks the program at start, the commands its controls send, and how the package notifications
// show on its cards.
#include <gtest/gtest.h>

#include <atomic>

#include <cmath>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "LoopbackHttp.h"
#include "TempDir.h"
#include "WebTestPanel.h"
#include "os/linux/WebHost.h"

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
    // The line a card shows: its progress while that is up, else its state; no-break spaces
    // read as spaces.
    std::string CardState(const std::string& base) {
        return Eval(
            "(function(c){return c.querySelector(c.dataset.meter==='1'?'.meter':'.state')"
            ".textContent.replace(/\\u00a0/g,' ');})(document.querySelector('.pkg[data-base=\"" +
            base + "\"]'))");
    }
    // What screen readers were last given for the card: its live line and its bar's value.
    std::string CardSpoken(const std::string& base) {
        return Eval(
            "(function(c){return c.querySelector('.state').textContent+'|'+"
            "c.querySelector('.bar').getAttribute('aria-valuenow');})("
            "document.querySelector('.pkg[data-base=\"" +
            base + "\"]'))");
    }
    std::string RunButton(const std::string& base) {
        return "document.querySelector('.pkg[data-base=\"" + base + "\"] .run')";
    }
    // A card's state, downloaded mark, whether 运行 is disabled and whether 取消 shows.
    std::string CardFacts(const std::string& base) {
        return Eval(
            "(function(c){return [c.dataset.state,c.dataset.have,c.querySelector('.run')."
            "disabled,getComputedStyle(c.querySelector('.cancel')).display].join(' ');})("
            "document.querySelector('.pkg[data-base=\"" +
            base + "\"]'))");
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
    EXPECT_EQ(calls_,
              (std::vector<std::string>{"app.progress&1", "app.getpath",
                                        "app.hasapp&lanternhall.exe", "app.hasapp&flashkit.exe",
                                        "app.hasapp&unlocker.exe", "app.hasapp&backup.sh",
                                        "app.getcookie&autoboot", "app.getcookie&pkgbase"}));
    EXPECT_EQ(Eval("document.getElementById('banner').classList.contains('show')"), "true");
    EXPECT_EQ(Eval("document.getElementById('bootSwitch').getAttribute('aria-checked')"), "true");
    EXPECT_EQ(Eval("document.getElementById('cachePath').getAttribute('data-path')"),
              "/home/u/cache");
    // Four packages, each with its run button.
    EXPECT_EQ(Eval("document.querySelectorAll('.pkg .run').length"), "4");

    calls_.clear();
    Eval(RunButton("flashkit") + ".click()");
    EXPECT_EQ(calls_,
              std::vector<std::string>{
                  "app.runbrush&flashkit.exe&http://127.0.0.1:9/pkgs/flashkit.zip&一键刷机"});
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

TEST_F(LocalPage, AFirstRunNeedsNoFolderChoiceAndTheChooserOnlyChangesTheFolder) {
    answers_["app.setpath"] = "/home/u/tools";
    Open();  // app.getpath gives -1: an older program, working in its default folder
    EXPECT_EQ(Eval("document.getElementById('cachePath').textContent"), "默认位置");
    calls_.clear();
    Eval(RunButton("backup") + ".click()");
    Eval("document.getElementById('btnPath').click()");
    EXPECT_EQ(calls_,
              (std::vector<std::string>{
                  "app.runbrush&backup.sh&http://127.0.0.1:17361/packages/backup.zip&数据备份",
                  "app.setpath", "app.hasapp&lanternhall.exe", "app.hasapp&flashkit.exe",
                  "app.hasapp&unlocker.exe", "app.hasapp&backup.sh"}));
    EXPECT_EQ(Eval("document.getElementById('cachePath').getAttribute('data-path')"),
              "/home/u/tools");
}

TEST_F(LocalPage, TheCompanionFetchedInTheBackgroundEndsReadyWhateverTheOrderOfItsNotes) {
    // The online copy, as the site serves it, prefetches the companion at start.
    std::string page = testsupport::ReadFile(module_.File("res/web/brush.html"));
    testsupport::WriteFile(module_.File("res/web/brush.html"),
                           page.replace(page.find("\"local\""), 7, "\"online\""));
    // s: a state note, p: a progress note of 10 bytes, c: pressing 取消, e: the fetch's end.
    const std::vector<std::pair<std::string, std::string>> orders = {
        {"s('download');p(10,'download');s('unzip');p(5,'unzip');p(10,'unzip');e()",
         "ready 1 false none"},
        {"s('download');p(10,'download');p(5,'unzip');e();p(10,'unzip');s('unzip')",
         "ready 1 false none"},
        {"s('download');p(6,'download');c();s('download.error','cancelled');p(7,'download')",
         "download.error 0 false none"},
    };
    for (const auto& [notes, end] : orders) {
        calls_.clear();
        // What the program then says is in the cache.
        answers_["app.hasapp&lanternhall.exe"] = end.find(" 1 ") != std::string::npos ? "1" : "0";
        Open();  // app.getpath gives -1: no folder named, and the prefetch goes ahead anyway
        EXPECT_EQ(calls_.back().rfind("app.checkapp&lanternhall.exe&", 0), 0u) << calls_.back();
        Eval(
            "(function(){function s(a,b){hostNotify('runbrush','lanternhall',a,b);}"
            "function p(n,f){hostNotify('brushprogress','lanternhall',''+n,'10',f);}"
            "function c(){document.querySelector('[data-base=\"lanternhall\"] .cancel').click();}"
            "function e(){hostNotify('brushend','lanternhall');}" +
            notes + "})()");
        EXPECT_EQ(CardFacts("lanternhall"), end) << notes;
    }
}

TEST_F(LocalPage, WindowControlsSendTheirCommands) {
    answers_["app.getcookie&autoboot"] = "0";
    Open();
    calls_.clear();
    Eval("document.getElementById('btnMin').click()");
    Eval("document.getElementById('btnHide').click()");
    Eval("document.getElementById('btnPop').click()");
    Eval("document.getElementById('btnQuit').click()");
    // The bell opens the maker's notices in the pop panel.
    EXPECT_EQ(calls_, (std::vector<std::string>{"panel.minsize", "panel.hide",
                                                "panel.pop&http://127.0.0.1:17361/notices.html",
                                                "app.quit"}));

    // The switch asks for autostart and reads back what the program stored.
    calls_.clear();
    answers_["app.getcookie&autoboot"] = "1";
    Eval("document.getElementById('bootSwitch').click()");
    EXPECT_EQ(calls_, (std::vector<std::string>{"app.setboot&1", "app.getcookie&autoboot"}));
    EXPECT_EQ(Eval("document.getElementById('bootSwitch').getAttribute('aria-checked')"), "true");

    // Dragging the toolbar row moves the panel by the pointer's motion.
    calls_.clear();
    Eval(
        "(function(){var b=document.getElementById('toolbar');"
        "function ev(t,x,y){b.dispatchEvent(new PointerEvent(t,{bubbles:true,button:0,"
        "pointerId:1,screenX:x,screenY:y}));}"
        "ev('pointerdown',100,100);ev('pointermove',110,95);ev('pointermove',112,97);})()");
    Settle();
    EXPECT_EQ(calls_, std::vector<std::string>{"panel.move&12&-3"});
    calls_.clear();
    Eval(
        "(function(){var b=document.getElementById('toolbar');"
        "b.dispatchEvent(new PointerEvent('pointermove',{bubbles:true,pointerId:1,"
        "screenX:120,screenY:97}));"
        "b.dispatchEvent(new PointerEvent('pointerup',{bubbles:true,pointerId:1,"
        "screenX:120,screenY:97}));})()");
    EXPECT_EQ(calls_, std::vector<std::string>{"panel.move&8&0"});
}

TEST_F(LocalPage, ProgressCancelAndCausesSpeakOfTheToolByItsTitle) {
    answers_["app.getpath"] = "/c";
    Open();
    Eval("hostNotify('runbrush','flashkit','download')");
    // A known size: a determinate bar, sizes, and once two samples came, speed and time left.
    Eval("hostNotify('brushprogress','flashkit','1048576','209715200','download')");
    Eval("(function(){var t=Date.now();while(Date.now()-t<30){}})()");
    Eval("hostNotify('brushprogress','flashkit','3145728','209715200','download')");
    const std::string text = CardState("flashkit");
    for (const char* part : {"3.0 / 200 MB", "/s", "剩余"})
        EXPECT_NE(text.find(part), std::string::npos) << text;
    // Readers got the start and the bar's first value; the figures follow every few seconds,
    // not at each report, and then with the words the card shows.
    EXPECT_EQ(CardSpoken("flashkit"), "正在下载…|0");
    Eval("progress.flashkit.spoken -= 5000");
    Eval("hostNotify('brushprogress','flashkit','4194304','209715200','download')");
    EXPECT_EQ(CardSpoken("flashkit"), CardState("flashkit") + "|2");
    // A progress line breaks only between its parts: never inside a size or a time.
    EXPECT_EQ(Eval("/ /.test(document.querySelector("
                   "'.pkg[data-base=\"flashkit\"] .meter').textContent.replace(/\\u00a0· /g,''))"),
              "false");
    // A stall says so without a time left; speeds are rounded, a trickle in tenths of a KB.
    Eval("hostNotify('brushprogress','flashkit','3145728','209715200','waiting')");
    EXPECT_EQ(CardState("flashkit"), "等待服务器响应… · 3.0 / 200 MB");
    Eval("hostNotify('brushprogress','flashkit','3145728','209715200','download')");
    Eval("(function(){var t=Date.now();while(Date.now()-t<200){}})()");
    Eval("hostNotify('brushprogress','flashkit','3145741','209715200','download')");
    EXPECT_TRUE(
        std::regex_search(CardState("flashkit"), std::regex(R"( · (<0\.1|0\.\d) KB/s · 剩余)")))
        << CardState("flashkit");
    // Unknown size: how much came, no time left.
    Eval("hostNotify('runbrush','unlocker','download')");
    Eval("hostNotify('brushprogress','unlocker','5000','-1','download')");
    EXPECT_EQ(CardState("unlocker").find("剩余"), std::string::npos);
    EXPECT_NE(CardState("unlocker").find("已下载"), std::string::npos);

    // The cancel button names the package; the answer says it was cancelled.
    calls_.clear();
    Eval("document.querySelector('.pkg[data-base=\"flashkit\"] .cancel').click()");
    EXPECT_EQ(calls_, std::vector<std::string>{"app.cancelbrush&flashkit.exe"});
    Eval("hostNotify('runbrush','flashkit','download.error','cancelled')");
    EXPECT_EQ(CardState("flashkit"), "已取消");
    EXPECT_EQ(Eval(RunButton("flashkit") + ".textContent"), "运行");
    EXPECT_EQ(Eval("document.getElementById('toast').textContent"), "已取消：一键刷机");
    // Cancelled once installed: only the start was cancelled, and the tool is downloaded.
    answers_["app.hasapp&flashkit.exe"] = "1";
    Eval(RunButton("flashkit") + ".click()");
    Eval(
        "hostNotify('runbrush','flashkit','download'),"
        "hostNotify('runbrush','flashkit','run.error','cancelled','ready')");
    EXPECT_EQ(CardFacts("flashkit"), "ready 1 false none");

    // Each cause has its own words; only the network asks to check the network; a folder in the
    // way is named. Card and toast show the whole message.
    const std::vector<std::pair<std::string, std::string>> causes = {
        {"http:404", "服务器上没有这个工具的安装包"},
        {"http:503", "HTTP 503"},
        {"network", "检查网络"},
        {"tls", "无法建立安全连接：服务器证书不受信任"},
        {"disk", "空间不足"},
        {"archive", "安装包已损坏"},
        {"conflict", "同名文件夹 /c/unlocker，它不是 MapleNook 创建的"},
        {"unsafe", "其他用户"},
        {"signature", "工具包的签名无效，为了安全没有运行。"},
        {"busy", "工具正在运行"},
    };
    for (const auto& [cause, words] : causes) {
        Eval("hostNotify('runbrush','unlocker','download.error','" + cause + "')");
        EXPECT_NE(CardState("unlocker").find(words), std::string::npos) << cause;
        const std::string shown = Eval("document.getElementById('toast').textContent");
        EXPECT_NE(shown.find("：解锁助手，" + CardState("unlocker")), std::string::npos) << shown;
        EXPECT_EQ(CardState("unlocker").find("检查网络") != std::string::npos, cause == "network");
        EXPECT_EQ(Eval("(function(e){return e.scrollWidth<=e.clientWidth;})(document.querySelector("
                       "'.pkg[data-base=\"unlocker\"] .state'))"),
                  "true")
            << cause;
    }
    Eval("hostNotify('runbrush','unlocker','download.error')");
    EXPECT_EQ(CardState("unlocker").find("检查网络"), std::string::npos);
    Eval("hostNotify('runbrush','backup','run.error','missing')");
    EXPECT_NE(CardState("backup").find("没有这个工具的程序"), std::string::npos);
    EXPECT_EQ(Eval("document.getElementById('toast').textContent"),
              "无法安装：数据备份，安装包里没有这个工具的程序，请联系厂商");
}

// 已下载 is what the program says of the cache folder in use: asked at start, after a folder
// change, after each run or failure and when a fetch ends; never shown beside a failure.
TEST_F(LocalPage, DownloadedToolsAreMarkedAndNamesAndContrastServeEveryReader) {
    answers_["app.getpath"] = "/c";
    answers_["app.hasapp&unlocker.exe"] = "1";
    Open();
    // The badge as the reader sees it.
    auto badge = [&](const std::string& base) {
        return Eval("getComputedStyle(document.querySelector('.pkg[data-base=\"" + base +
                    "\"] .have')).display") == "none"
                   ? "no"
                   : "yes";
    };
    EXPECT_EQ(badge("unlocker"), "yes");
    EXPECT_EQ(badge("flashkit"), "no");
    answers_["app.hasapp&flashkit.exe"] = "1";
    calls_.clear();
    Eval("['download','unzip','run'].forEach(s => hostNotify('runbrush','flashkit',s))");
    EXPECT_EQ(badge("flashkit"), "yes");
    EXPECT_EQ(calls_, std::vector<std::string>{"app.hasapp&flashkit.exe"});
    // Deleted by hand meanwhile: the next failure shows it gone.
    answers_["app.hasapp&flashkit.exe"] = "0";
    Eval("hostNotify('runbrush','flashkit','run.error','missing')");
    EXPECT_EQ(badge("flashkit"), "no");
    // A full disk while updating a tool that is there: its card shows the failure, no badge.
    Eval(
        "hostNotify('runbrush','unlocker','download'),"
        "hostNotify('runbrush','unlocker','run.error','disk')");
    EXPECT_EQ(badge("unlocker"), "no");
    // A prefetch that ended unseen.
    answers_["app.hasapp&backup.sh"] = "1";
    Eval("hostNotify('brushend','backup')");
    EXPECT_EQ(badge("backup"), "yes");
    // Another folder, empty: nothing is downloaded there.
    answers_["app.setpath"] = "/home/u/empty";
    for (const char* file : {"unlocker.exe", "backup.sh"})
        answers_[std::string("app.hasapp&") + file] = "0";
    Eval("document.getElementById('btnPath').click()");
    for (const char* base : {"lanternhall", "flashkit", "unlocker", "backup"})
        EXPECT_EQ(badge(base), "no") << base;

    EXPECT_EQ(Eval(RunButton("flashkit") + ".getAttribute('aria-label')"), "运行 一键刷机");
    Eval("hostNotify('runbrush','backup','run.error')");
    EXPECT_EQ(Eval(RunButton("backup") + ".getAttribute('aria-label')"), "重试 数据备份");
    // No second title bar: the skin's band names the program.
    EXPECT_EQ(Eval("document.body.innerText.indexOf('MapleNook') < 0"), "true");

    // Every visible text against what lies behind it (each end of the page's gradient, layers
    // of translucent colour in between): at least 4.5:1.
    Eval(
        "document.querySelector('.pkg[data-base=\"unlocker\"]').setAttribute('data-state',"
        "'download.error')");
    const std::string worst = Eval(R"JS((function () {
  function parse(c) { var m = c.match(/[\d.]+/g) || [0, 0, 0, 0];
    return [+m[0], +m[1], +m[2], m.length > 3 ? +m[3] : 1]; }
  function over(top, under) { var a = top[3];
    return [0, 1, 2].map(function (i) { return top[i] * a + under[i] * (1 - a); }).concat([1]); }
  function lum(c) { var v = c.slice(0, 3).map(function (x) { x /= 255;
      return x <= 0.03928 ? x / 12.92 : Math.pow((x + 0.055) / 1.055, 2.4); });
    return 0.2126 * v[0] + 0.7152 * v[1] + 0.0722 * v[2]; }
  function ratio(a, b) { var x = lum(a), y = lum(b);
    return (Math.max(x, y) + 0.05) / (Math.min(x, y) + 0.05); }
  var worst = 99, where = '';
  document.querySelectorAll('body *').forEach(function (el) {
    var own = Array.prototype.some.call(el.childNodes, function (n) {
      return n.nodeType === 3 && n.textContent.trim(); });
    if (!own || !el.getClientRects().length || el.closest('[hidden],button:disabled,.toast')) return;
    var chain = [];
    for (var e = el; e; e = e.parentElement) chain.unshift(e);
    var behind = null;
    chain.forEach(function (e) { var s = getComputedStyle(e);
      var stops = (s.backgroundImage.match(/rgba?\([^)]*\)/g) || []).map(parse);
      if (stops.length) behind = stops;
      var bg = parse(s.backgroundColor);
      if (bg[3] > 0 && behind) behind = behind.map(function (b) { return over(bg, b); });
      else if (bg[3] > 0) behind = [bg]; });
    var fg = parse(getComputedStyle(el).color);
    (behind || [[255, 255, 255, 1]]).forEach(function (b) {
      var r = ratio(over(fg, b), b);
      if (r < worst) { worst = r; where = el.className + ':' + el.textContent.trim().slice(0, 12); } });
  });
  return worst.toFixed(2) + ' ' + where; })())JS");
    EXPECT_GE(std::stod(worst), 4.5) << worst;
}

TEST_F(LocalPage, OfflineItAsksTheProgramToRetryWithBackoffAndSaysHowItWent) {
    // The site answers on the origin the packages came from: the page must not go there itself.
    loopback::HttplibServer site;
    std::atomic<int> asked{0};
    site.server.Get("/Brush.html", [&](const auto&, auto& response) {
        ++asked;
        response.set_content("<html><body>maker</body></html>", "text/html");
    });
    ASSERT_TRUE(site.Start());
    answers_["app.getcookie&pkgbase"] = site.BaseUrl() + "/packages/";
    Open();
    const std::string retry = "document.getElementById('btnRetry')";
    const std::string banner = "document.getElementById('bannerText').textContent";
    EXPECT_EQ(Eval(retry + ".hidden||!" + retry + ".getClientRects().length"), "false");
    EXPECT_EQ(Eval(retry + ".textContent"), "重试");
    // Tries on their own: 10 s, then doubling up to five minutes; the first is already armed.
    EXPECT_EQ(Eval("[0,1,2,3,4,5,6,40].map(retryDelay).join()"), "10,20,40,80,160,300,300,300");
    EXPECT_NE(Eval("retryTimer"), "0");

    // 重试 asks the program, says it is retrying and waits for the program's word.
    EXPECT_EQ(Eval("(function(){" + retry + ".click();return " + retry + ".disabled})()"), "true");
    EXPECT_EQ(calls_.back(), "app.retrymain");
    EXPECT_EQ(Eval(banner), "正在重试…");
    Eval("hostNotify('mainpage','offline')");
    EXPECT_EQ(Eval(retry + ".disabled"), "false");
    EXPECT_NE(Eval(banner).find("重试失败"), std::string::npos);
    // Another user's program on the address: said, even for a try of the timer's.
    Eval("tryMakerPage()");
    Eval("hostNotify('mainpage','refused')");
    EXPECT_NE(Eval(banner).find("其他用户"), std::string::npos);
    EXPECT_EQ(Eval("location.protocol"), "file:");
    EXPECT_EQ(Eval("String(retrying)"), "false");
    EXPECT_EQ(asked.load(), 0);
}

TEST_F(LocalPage, RetryIsOfferedOnlyWhereItCanHelpAndMessagesNeitherCutNorCover) {
    answers_["app.getpath"] = "/c";
    Open();
    // No such package, no program in it, or the same files again: no 重试, and what to do instead.
    const std::vector<std::tuple<std::string, std::string, std::string>> dead = {
        {"download.error", "http:404", "请联系厂商"},
        {"download.error", "http:410", "请联系厂商"},
        {"run.error", "missing", "请联系厂商"},
        {"run.error", "start", "删除文件夹 /c/unlocker 后点击“运行”重新下载"},
    };
    for (const auto& [state, cause, words] : dead) {
        Eval("hostNotify('runbrush','unlocker','" + state + "','" + cause + "')");
        EXPECT_NE(CardState("unlocker").find(words), std::string::npos) << cause;
        EXPECT_EQ(Eval(RunButton("unlocker") + ".textContent"), "运行") << cause;
    }
    Eval("hostNotify('runbrush','unlocker','download.error','http:503')");
    EXPECT_EQ(Eval(RunButton("unlocker") + ".textContent"), "重试");

    // A cancel is not shown as a failure.
    Eval("hostNotify('runbrush','unlocker','download.error','cancelled')");
    Eval("document.body.insertAdjacentHTML('beforeend','<b id=probe style=color:var(--bad)></b>')");
    EXPECT_NE(Eval("getComputedStyle(document.querySelector('.pkg[data-base=\"unlocker\"] "
                   ".state')).color"),
              Eval("getComputedStyle(document.getElementById('probe')).color"));

    // A card keeps its height once a download shows its bar, cancel button and progress.
    const std::string height =
        "document.querySelector('.pkg[data-base=\"flashkit\"]').getBoundingClientRect().height";
    const std::string before = Eval(height);
    Eval(
        "hostNotify('runbrush','flashkit','download'),"
        "hostNotify('brushprogress','flashkit','1048576','209715200','download')");
    ASSERT_EQ(Eval("document.querySelector('.pkg[data-base=\"flashkit\"]').dataset.state"),
              "download");
    EXPECT_EQ(Eval(height), before);

    // A long toast is shown whole and lies clear of every button and settings row the user can
    // see, with the list scrolled to its end.
    Eval("document.querySelector('.content').scrollTop = 1e6");
    Eval(
        "toast('下载失败：' + '缓存目录空间不足或无法写入；请先腾出空间或更换缓存目录'.repeat(4))");
    EXPECT_EQ(Eval(R"JS((function () {
  var t = document.getElementById('toast'), r = t.getBoundingClientRect();
  if (t.scrollHeight > t.clientHeight || t.scrollWidth > t.clientWidth) return 'cut';
  var view = document.querySelector('.content').getBoundingClientRect();
  var hit = [];
  document.querySelectorAll('button, .row').forEach(function (b) {
    var q = b.getBoundingClientRect();
    if (!q.width || !q.height) return;
    var top = q.top, bottom = q.bottom;
    if (b.closest('.content')) { top = Math.max(top, view.top); bottom = Math.min(bottom, view.bottom); }
    if (top < bottom && top < r.bottom && bottom > r.top && q.left < r.right && q.right > r.left)
      hit.push(b.getAttribute('aria-label') || b.textContent.trim());
  });
  return hit.join() || 'clear'; })())JS"),
              "clear");
}

// WebKitGTK's accessibility tree leaves out a <span> laid out as a block (a flex item, an
// inline-block) together with its text, and anything aria-hidden or presentational; this checks
// those properties of every visible text, not the tree itself.
TEST_F(LocalPage, EveryVisibleTextIsExposedAndStateChangesAreLiveRegions) {
    answers_["app.hasapp&flashkit.exe"] = "1";
    Open();
    Eval("hostNotify('runbrush','backup','download.error','network')");  // a state line and a toast
    EXPECT_EQ(Eval(R"JS((function () {
  var bad = [], walk = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  for (var n; (n = walk.nextNode());) {
    var el = n.parentElement;
    if (!n.textContent.trim() || !el.getClientRects().length || el.closest('script,style')) continue;
    if (el.closest('.icon')) continue;  // the letter mark repeats the title beside it
    var why = '';
    if (el.closest('[aria-hidden="true"]')) why = 'hidden';
    else if (el.closest('[role="presentation"],[role="none"]')) why = 'presentation';
    else if (el.localName === 'span' && getComputedStyle(el).display !== 'inline') why = 'block span';
    if (why) bad.push(why + ':' + n.textContent.trim().slice(0, 8));
  }
  return bad.join('|') || 'none'; })())JS"),
              "none");
    // The state line, the toast and the banner: polite, whole, and displayed while they change.
    EXPECT_EQ(Eval(R"JS(Array.prototype.map.call(document.querySelectorAll(
  '.pkg[data-base="backup"] .state, #toast, #bannerText'), function (e) {
  return [e.getAttribute('aria-live'), e.getAttribute('aria-atomic'),
          getComputedStyle(e).display !== 'none'].join(' '); }).join('|'))JS"),
              "polite true true|polite true true|polite true true");
}

TEST_F(LocalPage, BeforeItPaintsTheViewShowsThePagesOwnColourNotWhite) {
    Open();  // the completion is reported once the view has taken the page's colour
    WebKitWebView* view = os::detail::NativeWebView(*panel_->View());
    ASSERT_NE(view, nullptr);
    GdkRGBA colour{};
    webkit_web_view_get_background_color(view, &colour);
    // The page's gradient starts at #1e4d3a.
    EXPECT_EQ(std::lround(colour.red * 255), 0x1e);
    EXPECT_EQ(std::lround(colour.green * 255), 0x4d);
    EXPECT_EQ(std::lround(colour.blue * 255), 0x3a);
}

}  // namespace

// The panel's view leaves out WebGL; the page keeps the 2D drawing and the media it may use.
TEST_F(LocalPage, PanelViewLeavesOutWhatThePageNeverUses) {
    Open();
    EXPECT_EQ(Eval("String(document.createElement('canvas').getContext('webgl'))"), "null");
    EXPECT_EQ(Eval("String(!!document.createElement('canvas').getContext('2d'))"), "true");
    EXPECT_EQ(Eval("typeof window.AudioContext"), "function");
}
