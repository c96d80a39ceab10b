// Pages that try to reach the program's commands through a window.external they should not
// have: real pages in real panels, served from two loopback origins.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>

#include "LoopbackHttp.h"
#include "TempDir.h"
#include "WebTestPanel.h"

using testsupport::PumpUntil;
using testsupport::TempDir;
using testsupport::WebTestPanel;

namespace {

// One origin: pages by path, and /note?v=<text>, which pages use to report to the test.
class Site {
  public:
    Site() {
        http_.server.set_keep_alive_timeout(0);
        http_.server.Get("/note", [this](const auto& request, auto& response) {
            std::lock_guard lock(mutex_);
            notes_.push_back(request.get_param_value("v"));
            response.set_content("ok", "text/plain");
        });
        http_.server.Get(R"(/(\w+\.html))", [this](const auto& request, auto& response) {
            std::lock_guard lock(mutex_);
            auto found = pages_.find(request.matches[1]);
            if (found != pages_.end()) response.set_content(found->second, "text/html");
        });
        started_ = http_.Start();
    }
    bool Started() const { return started_; }
    std::string Add(const std::string& name, const std::string& body) {
        std::lock_guard lock(mutex_);
        pages_[name] = "<!doctype html><html><head><meta charset=utf-8>" + kHelpers +
                       "</head><body>" + body + "</body></html>";
        return Url(name);
    }
    std::string Url(const std::string& name) const { return http_.BaseUrl() + "/" + name; }
    std::vector<std::string> Notes() const {
        std::lock_guard lock(mutex_);
        return notes_;
    }

  private:
    // note(v) reports to the test; attempt(external, command) calls Call and tells what came of it.
    inline static const std::string kHelpers = R"(<script>
        function note(v) {
            const r = new XMLHttpRequest();
            r.open('GET', '/note?v=' + encodeURIComponent(v), false);
            r.send();
        }
        function attempt(external, command) {
            const e = document.createElement('div');
            e.setAttribute('result', 'untouched');
            e.setAttribute('param', command);
            try { external.Call(e); } catch (error) { return 'threw'; }
            return 'result:' + e.getAttribute('result');
        }
    </script>)";

    loopback::HttplibServer http_;
    bool started_ = false;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> pages_;
    std::vector<std::string> notes_;
};

class PageTrustTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testsupport::PrepareWebTests());
        ASSERT_TRUE(trusted.Started() && evil.Started());
        trusted.Add("plain.html", "<p>trusted</p>");
        // Keeps the external of a fresh about:blank child, sends the child to the trusted
        // origin and uses the kept object once the trusted page is in.
        evil.Add("steal.html", R"(<script>
            const child = document.createElement('iframe');
            document.body.appendChild(child);
            const kept = child.contentWindow.external;
            note('before:' + attempt(kept, 'app:test.report&blank'));
            child.onload = () => note('after:' + attempt(kept, 'app:test.report&stolen'));
            child.src = ')" + trusted.Url("plain.html") +
                                   R"(';
        </script>)");
    }

    TempDir module;
    Site trusted;
    Site evil;
};

TEST_F(PageTrustTest, KeptExternalOfAChildSentToTheTrustedOriginRunsNothing) {
    const std::vector<std::string> refused = {"before:result:untouched", "after:threw"};
    {
        SCOPED_TRACE("untrusted iframe inside the trusted main page");
        const std::string main =
            trusted.Add("main.html", "<iframe src='" + evil.Url("steal.html") + "'></iframe>");
        WebTestPanel panel("framed", module.path(), trusted.Url("Brush.html"));
        ASSERT_TRUE(panel.OpenPage(main));
        // The child's navigation may end after the page completes. Waiting for "at least" never
        // misses its moment, as waiting for an exact count can when two notes come in one turn.
        ASSERT_TRUE(PumpUntil([&] { return evil.Notes().size() >= 2; }));
        EXPECT_EQ(evil.Notes(), refused);
        EXPECT_TRUE(panel.reports.empty());
    }
    {
        SCOPED_TRACE("main view navigated to the untrusted page");
        WebTestPanel panel("navigated", module.path(), trusted.Url("Brush.html"));
        ASSERT_TRUE(panel.OpenPage(trusted.Url("plain.html")));
        const size_t before = evil.Notes().size();
        ASSERT_TRUE(panel.OpenPage(evil.Url("steal.html")));
        ASSERT_TRUE(PumpUntil([&] { return evil.Notes().size() >= before + 2; }));
        const std::vector<std::string> notes = evil.Notes();
        EXPECT_EQ(std::vector<std::string>(notes.begin() + before, notes.end()), refused);
        EXPECT_TRUE(panel.reports.empty());
    }
    {
        SCOPED_TRACE("trusted page framed by an untrusted main page");
        trusted.Add("child.html",
                    "<script>note('child:' + attempt(window.external, "
                    "'app:test.report&framed'))</script>");
        const std::string host =
            evil.Add("host.html", "<iframe src='" + trusted.Url("child.html") + "'></iframe>");
        WebTestPanel panel("hosted", module.path(), trusted.Url("Brush.html"));
        ASSERT_TRUE(panel.OpenPage(host));
        EXPECT_EQ(trusted.Notes(), std::vector<std::string>{"child:result:untouched"});
        EXPECT_TRUE(panel.reports.empty());
    }
}

TEST_F(PageTrustTest, TrustedPagesKeepWorkingAcrossNavigationsButEarlierCallsDie) {
    // A same-origin iframe (WebKit hands it the window object of its empty first document),
    // a navigation to another trusted page, a reload and a back navigation.
    trusted.Add("child.html",
                "<script>note('child:' + attempt(window.external, "
                "'app:test.report&child'))</script>");
    const std::string first = trusted.Add("first.html", "<iframe src='child.html'></iframe>");
    const std::string second = trusted.Add("second.html", "<p>second</p>");
    WebTestPanel panel("trusted", module.path(), trusted.Url("Brush.html"));
    ASSERT_TRUE(panel.OpenPage(first));
    ASSERT_TRUE(PumpUntil([&] { return trusted.Notes().size() == 1; }));
    EXPECT_EQ(trusted.Notes()[0], "child:result:ok");
    panel.Evaluate("window.kept = [window.external, window.external.Call]");

    ASSERT_TRUE(panel.OpenPage(second));
    EXPECT_EQ(panel.Evaluate("attempt(window.external, 'app:test.echo&second')"), "result:second");
    panel.Evaluate("window.kept = [window.external, window.external.Call]");
    panel.Evaluate("location.reload()");
    ASSERT_TRUE(PumpUntil([&] { return panel.Evaluate("String(window.kept)") == "undefined"; }));
    EXPECT_EQ(panel.Evaluate("attempt(window.external, 'app:test.echo&reloaded')"),
              "result:reloaded");

    // Back to the first page as it was kept in memory: its own objects still work.
    panel.Evaluate("history.back()");
    ASSERT_TRUE(PumpUntil([&] { return panel.Evaluate("document.URL") == first; }));
    EXPECT_EQ(panel.Evaluate("attempt(window.kept[0], 'app:test.echo&back') + ' ' + "
                             "(window.kept[0] === window.external)"),
              "result:back true");
    EXPECT_EQ(panel.reports, std::vector<std::string>{"child"});
}

TEST_F(PageTrustTest, CallsOfAReplacedDocumentThrowAndBlankDocumentsAreNotTrusted) {
    const std::string main = trusted.Add("main.html", R"(<script>
        function child(src) {
            const frame = document.createElement('iframe');
            if (src) frame.src = src;
            document.body.appendChild(frame);
            return frame;
        }
    </script>)");
    WebTestPanel panel("blank", module.path(), trusted.Url("Brush.html"));
    ASSERT_TRUE(panel.OpenPage(main));
    // about:blank and data: children of a trusted page, even once written by it.
    EXPECT_EQ(
        panel.Evaluate("(function(){const f=child();const d=f.contentDocument;"
                       "d.open();d.write('<p>x</p>');d.close();"
                       "return attempt(f.contentWindow.external,'app:test.report&blank')})()"),
        "result:untouched");
    EXPECT_EQ(panel.Evaluate("(function(){const f=document.createElement('iframe');"
                             "f.srcdoc='<p>x</p>';document.body.appendChild(f);window.s=f;})()"),
              "undefined");
    ASSERT_TRUE(
        PumpUntil([&] { return panel.Evaluate("s.contentDocument.URL") == "about:srcdoc"; }));
    EXPECT_EQ(panel.Evaluate("attempt(s.contentWindow.external,'app:test.report&srcdoc')"),
              "result:untouched");
    // A trusted child's Call, kept by its parent, dies when the child moves on, even to
    // another trusted page.
    panel.Evaluate("(window.f = child('" + trusted.Url("plain.html") + "'), 0)");
    ASSERT_TRUE(PumpUntil(
        [&] { return panel.Evaluate("f.contentDocument.URL") == trusted.Url("plain.html"); }));
    EXPECT_EQ(panel.Evaluate("(window.k = f.contentWindow.external.Call, "
                             "attempt({Call: k}, 'app:test.echo&alive'))"),
              "result:alive");
    panel.Evaluate("f.contentWindow.location.reload()");
    ASSERT_TRUE(PumpUntil(
        [&] { return panel.Evaluate("f.contentWindow.external.Call === k") == "false"; }));
    EXPECT_EQ(panel.Evaluate("attempt({Call: k}, 'app:test.report&stale')"), "threw");
    EXPECT_TRUE(panel.reports.empty());
}

TEST_F(PageTrustTest, FilePagesAreTrustedByWhereTheyReallyAre) {
    const std::string page = R"(<script>const e = document.createElement('div');
        e.setAttribute('result', 'untouched'); e.setAttribute('param', 'app:test.echo&ran');
        window.external.Call(e); document.title = e.getAttribute('result');</script>)";
    TempDir outside;
    TempDir elsewhere;
    testsupport::WriteFile(module.File("inside.html"), page);
    testsupport::WriteFile(outside.File("page.html"), page);
    namespace fs = std::filesystem;
    fs::create_directory_symlink(outside.path(), module.File("linkdir"));
    fs::create_symlink(outside.File("page.html"), module.File("linkfile.html"));
    const std::string alias = elsewhere.File("alias");
    fs::create_directory_symlink(module.path(), alias);

    const auto titleOf = [](const std::string& folder, const std::string& file) {
        WebTestPanel panel("files", folder);
        if (!panel.OpenPage(panel.ToFileUrl(file))) return std::string("<not loaded>");
        return panel.Evaluate("document.title");
    };
    EXPECT_EQ(titleOf(module.path(), module.File("inside.html")), "ran");
    EXPECT_EQ(titleOf(module.path(), module.File("linkdir/page.html")), "untouched");
    EXPECT_EQ(titleOf(module.path(), module.File("linkfile.html")), "untouched");
    // An installed folder reached through a symlink is the same folder.
    EXPECT_EQ(titleOf(alias, alias + "/inside.html"), "ran");
    EXPECT_EQ(titleOf(alias, module.File("inside.html")), "ran");
    EXPECT_EQ(titleOf(alias, alias + "/linkdir/page.html"), "untouched");
}

}  // namespace
