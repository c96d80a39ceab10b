// Real pages in WebKitGTK drive the real bridge: the extension, the socket, the panel.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "LoopbackHttp.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "WebTestPanel.h"
#include "os/Files.h"
#include "os/linux/BridgeProtocol.h"
#include "os/linux/WebHost.h"
#include "os/linux/WriteAll.h"

using testsupport::PumpUntil;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WebTestPanel;
using testsupport::WriteFile;

namespace {

std::string JsText(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\\' || c == '\'') quoted += '\\';
        quoted += c;
    }
    return quoted + "'";
}

// A loopback HTTP server serving one page, on a port of its own.
class PageServer {
  public:
    explicit PageServer(std::string html) : html_(std::move(html)) {
        http_.server.set_keep_alive_timeout(0);
        http_.server.Get("/page.html",
                         [this](const httplib::Request&, httplib::Response& response) {
                             response.set_content(html_, "text/html");
                         });
        // Pages report with GET /note?v=<value>, which reaches the test even from a page whose
        // panel is gone.
        http_.server.Get("/note",
                         [this](const httplib::Request& request, httplib::Response& response) {
                             std::lock_guard<std::mutex> lock(mutex_);
                             notes_.push_back(request.get_param_value("v"));
                             response.set_content("ok", "text/plain");
                         });
        http_.Start();
    }
    std::string Origin() const { return http_.BaseUrl(); }
    std::string Url() const { return Origin() + "/page.html"; }
    std::vector<std::string> Notes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return notes_;
    }

  private:
    std::string html_;
    mutable std::mutex mutex_;
    std::vector<std::string> notes_;
    loopback::HttplibServer http_;  // last: stops before the members its handlers use
};

class BridgeCallTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(testsupport::PrepareWebTests()); }

    std::string Page(const std::string& name, const std::string& body) {
        const std::string path = module.File(name);
        WriteFile(path, Html(body));
        return path;
    }
    static std::string Html(const std::string& body) {
        return "<!doctype html><html><head><meta charset=utf-8></head><body>" + body +
               "</body></html>";
    }

    // Calls window.external.Call from the top frame with `param` (none: no attribute) on an
    // element whose "result" starts as "untouched"; the "result" afterwards.
    static std::string CallFrom(WebTestPanel& panel, const std::optional<std::string>& param) {
        return panel.Evaluate(
            "(function(){const e=document.createElement('div');"
            "e.setAttribute('result','untouched');" +
            (param ? "e.setAttribute('param'," + JsText(*param) + ");" : std::string()) +
            "window.external.Call(e);return e.getAttribute('result');})()");
    }

    std::string BlankPage() {
        return Page("blank.html",
                    "<script>window.got=[];function hostNotify(){"
                    "got.push(Array.prototype.join.call(arguments,'|'));}</script>");
    }

    TempDir module;
};

TEST_F(BridgeCallTest, FirstInlineScriptCallGetsItsResultBeforeCallReturns) {
    Page("first.html", R"(<div id=e param="app:test.echo&hello"></div><script>
        const e = document.getElementById('e');
        window.external.Call(e);
        document.title = 'r=' + e.getAttribute('result');
    </script>)");
    WebTestPanel panel("first", module.path());
    ASSERT_TRUE(panel.OpenPage("\\first.html"));
    EXPECT_EQ(panel.Evaluate("document.title"), "r=hello");
}

TEST_F(BridgeCallTest, ExternalIsFixedAndMatchesOnlyCallInAnyCase) {
    BlankPage();
    WebTestPanel panel("members", module.path());
    ASSERT_TRUE(panel.OpenPage("\\blank.html"));
    EXPECT_EQ(panel.Evaluate("typeof window.external.call + typeof window.external.CALL + "
                             "typeof window.external.cAlL"),
              "functionfunctionfunction");
    EXPECT_EQ(panel.Evaluate("typeof window.external.constructor + typeof "
                             "window.external.toString + typeof window.external.__proto__"),
              "undefinedundefinedundefined");
    EXPECT_EQ(panel.Evaluate("(function(){const d=Object.getOwnPropertyDescriptor(window,"
                             "'external');return d.configurable+','+d.writable})()"),
              "false,false");
    EXPECT_EQ(panel.Evaluate("(function(){const before=window.external;window.external=1;"
                             "delete window.external;return window.external===before})()"),
              "true");
    // Page script changing the builtins afterwards does not reach the bridge's reading.
    EXPECT_EQ(panel.Evaluate("(function(){Element.prototype.getAttribute=()=>'app:test.echo&x';"
                             "const e=document.createElement('div');"
                             "e.setAttribute('param','app:test.echo&real');"
                             "window.external.CALL(e);return e.outerHTML})()"),
              "<div param=\"app:test.echo&amp;real\" result=\"real\"></div>");
    // Something that is not an element: nothing happens, nothing is thrown.
    EXPECT_EQ(panel.Evaluate("String(window.external.Call({param:'app:test.report&x'}))"),
              "undefined");
    EXPECT_TRUE(panel.reports.empty());
}

TEST_F(BridgeCallTest, CallsFromAnIframeReachThePanel) {
    Page("frame.html", R"(<div id=e param="app:test.echo&from-frame"></div><script>
        const e = document.getElementById('e');
        window.external.call(e);
        e.setAttribute('param', 'app:test.report&' + e.getAttribute('result'));
        window.external.CALL(e);
    </script>)");
    Page("outer.html", R"(<iframe id=f src="frame.html"></iframe>)");
    WebTestPanel panel("outer", module.path());
    ASSERT_TRUE(panel.OpenPage("\\outer.html"));
    ASSERT_TRUE(PumpUntil([&] { return panel.reports.size() == 1; }));
    EXPECT_EQ(panel.reports[0], "from-frame");
}

TEST_F(BridgeCallTest, MainPageOriginIsTrustedOverLoopbackHttp) {
    PageServer server(Html(R"(<script>
        const e = document.createElement('div');
        e.setAttribute('param', 'app:test.report&over-http');
        window.external.Call(e);
        document.title = e.getAttribute('result');
    </script>)"));
    WebTestPanel panel("http", module.path(), server.Origin() + "/Brush.html");
    ASSERT_TRUE(panel.OpenPage(server.Url()));
    ASSERT_EQ(panel.reports, std::vector<std::string>{"over-http"});
    EXPECT_EQ(panel.Evaluate("document.title"), "ok");
}

TEST_F(BridgeCallTest, UntrustedOriginCannotRunPrograms) {
    const std::string marker = module.File("ran.txt");
    WriteFile(module.File("mark.sh"), "#!/bin/sh\necho ran > '" + marker + "'\n");
    ASSERT_EQ(chmod(module.File("mark.sh").c_str(), 0755), 0);
    PageServer trusted("<p>main</p>");
    PageServer other(Html(R"(<script>
        const e = document.createElement('div');
        e.setAttribute('result', 'untouched');
        e.setAttribute('param', 'app:app.run&\\mark.sh&0&1');
        window.external.Call(e);
        document.title = e.getAttribute('result');
    </script>)"));
    WebTestPanel panel("untrusted", module.path(), trusted.Url());
    ASSERT_TRUE(panel.OpenPage(other.Url()));
    EXPECT_EQ(panel.Evaluate("document.title"), "untouched");
    EXPECT_EQ(CallFrom(panel, "app:test.report&sneaky"), "untouched");
    EXPECT_TRUE(panel.reports.empty());
    // The same command from a trusted page does run, so the refusal above is the origin's.
    EXPECT_FALSE(PumpUntil([&] { return os::FileExists(marker); }, std::chrono::milliseconds(500)));
    ASSERT_TRUE(panel.OpenPage(panel.ToFileUrl(BlankPage())));
    EXPECT_EQ(CallFrom(panel, "app:app.run&\\mark.sh&0&1"), "1");
    EXPECT_TRUE(PumpUntil([&] { return os::FileExists(marker); }));
}

// A refused call's command name goes into the log, where it stays one line of printable text
// of a bounded length, whatever the page put into it.
TEST_F(BridgeCallTest, ARefusedCallsNameCannotForgeLogLinesOrFloodTheLog) {
    TempDir state;
    testsupport::ScopedEnv env;
    env.Set("XDG_STATE_HOME", state.path());
    PageServer trusted("<p>main</p>");
    PageServer other(Html("<p>other</p>"));
    WebTestPanel panel("forger", module.path(), trusted.Url());
    ASSERT_TRUE(panel.OpenPage(other.Url()));
    EXPECT_EQ(panel.Evaluate("(function(){const e=document.createElement('div');"
                             "e.setAttribute('result','untouched');"
                             "e.setAttribute('param','app:\\u001b[31mrun\\\\\\n2026-01-01 "
                             "maplenook: error: forged\\r\\u009b'+'A'.repeat(8<<20)+'&1');"
                             "window.external.Call(e);return e.getAttribute('result');})()"),
              "untouched");
    const std::string log = ReadFile(state.File("MapleNook/maplenook.log"));
    const size_t refused = log.find("bridge call refused: " + other.Url());
    ASSERT_NE(refused, std::string::npos) << log.substr(0, 2000);
    const std::string line = log.substr(refused, log.find('\n', refused) - refused);
    EXPECT_NE(
        line.find(": \\x1b[31mrun\\x5c\\x0a2026-01-01 maplenook: error: forged\\x0d\\xc2\\x9bAAA"),
        std::string::npos)
        << line.substr(0, 400);
    EXPECT_NE(line.find(" bytes cut]"), std::string::npos);
    EXPECT_LT(log.size(), 8192u);
    EXPECT_EQ(log.find('\x1b'), std::string::npos);
    EXPECT_EQ(log.find("\n2026-01-01 maplenook"), std::string::npos);
}

TEST_F(BridgeCallTest, CommandTextEdgeCases) {
    WebTestPanel panel("edges", module.path());
    BlankPage();
    ASSERT_TRUE(panel.OpenPage("\\blank.html"));
    EXPECT_EQ(CallFrom(panel, "app:test.echo&&x&"), "x");
    EXPECT_EQ(CallFrom(panel, "App:test.echo&x"), "-1");
    EXPECT_EQ(CallFrom(panel, " app:test.echo&x"), "-1");
    EXPECT_EQ(CallFrom(panel, "app:"), "-1");
    EXPECT_EQ(CallFrom(panel, ""), "-1");
    EXPECT_EQ(CallFrom(panel, "&&&"), "-1");
    EXPECT_EQ(CallFrom(panel, std::nullopt), "-1");
    EXPECT_EQ(CallFrom(panel, "app:no.such.command"), "-1");

    os::Window& window = *panel.Window();
    EXPECT_EQ(CallFrom(panel, "app:Panel.Toggle"), "-1");
    EXPECT_FALSE(window.IsVisible());
    EXPECT_EQ(CallFrom(panel, "app:panel.toggle"), "-1");
    EXPECT_TRUE(window.IsVisible());

    window.MoveResize({100, 100, 400, 300});
    EXPECT_EQ(CallFrom(panel, "app:panel.move&&10&5"), "-1");
    EXPECT_EQ(window.ScreenRect(), (os::Rect{110, 105, 410, 305}));
    EXPECT_EQ(CallFrom(panel, "app:panel.move&7"), "-1");  // dy missing: ignored
    EXPECT_EQ(window.ScreenRect(), (os::Rect{110, 105, 410, 305}));

    const uint32_t style = panel.Common().StyleWord();
    EXPECT_EQ(CallFrom(panel, "app:panel.style&0&0"), "-1");
    EXPECT_EQ(panel.Common().StyleWord(), style);
    EXPECT_TRUE(window.IsVisible());
    EXPECT_EQ(CallFrom(panel, "app:panel.style&0"), "-1");
    EXPECT_EQ(CallFrom(panel, "app:panel.style&0&268435456"), "-1");  // clears WS_VISIBLE
    EXPECT_FALSE(window.IsVisible());
    EXPECT_EQ(CallFrom(panel, "app:panel.exstyle&8&0"), "-1");  // WS_EX_TOPMOST
    EXPECT_TRUE(window.IsKeepAbove());

    EXPECT_EQ(CallFrom(panel, "app:app.quit"), "-1");
    EXPECT_EQ(panel.commands, std::vector<int>{1});
}

TEST_F(BridgeCallTest, AppRunStartsARealProgramWithoutAShell) {
    const std::string out = module.File("args.txt");
    WriteFile(module.File("tools/args.sh"),
              "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > '" + out +
                  ".tmp'\n"
                  "mv '" +
                  out + ".tmp' '" + out + "'\n");
    ASSERT_EQ(chmod(module.File("tools/args.sh").c_str(), 0755), 0);
    WebTestPanel panel("run", module.path());
    ASSERT_TRUE(panel.OpenPage(panel.ToFileUrl(BlankPage())));

    EXPECT_EQ(CallFrom(panel, "app:app.run&\\tools\\args.sh&\"a b\" c;$(id)&abc"), "1");
    ASSERT_TRUE(PumpUntil([&] { return os::FileExists(out); }));
    EXPECT_EQ(ReadFile(out), "[a b][c;$(id)]");
    std::remove(out.c_str());

    EXPECT_EQ(CallFrom(panel, "app:app.run&\\tools\\args.sh&0&1"), "1");
    ASSERT_TRUE(PumpUntil([&] { return os::FileExists(out); }));
    EXPECT_EQ(ReadFile(out), "");

    EXPECT_EQ(CallFrom(panel, "app:app.run&\\tools\\missing.sh&0&1"), "0");
    EXPECT_EQ(CallFrom(panel, "app:app.run"), "-1");
}

TEST_F(BridgeCallTest, AFailingCommandRaisesAnErrorInThePageAndTheNextCallWorks) {
    WebTestPanel panel("fails", module.path());
    panel.extraCommands = [](PageCommand& command) -> int {
        if (command.name == "test.fail") throw std::runtime_error("disk on fire");
        return 0;
    };
    ASSERT_TRUE(panel.OpenPage(panel.ToFileUrl(BlankPage())));
    EXPECT_EQ(panel.Evaluate(R"((function () {
        const e = document.createElement('div');
        e.setAttribute('param', 'app:test.fail');
        e.setAttribute('result', 'before');
        try { window.external.Call(e); return 'no error'; }
        catch (error) { return String(error.message || error) + '/' + e.getAttribute('result'); }
    })())"),
              "window.external: disk on fire/before");
    EXPECT_EQ(CallFrom(panel, "app:test.echo&after"), "after");
}

// What the caller gets: the error's text, else "ran:" and the result.
std::string Outcome(WebTestPanel& panel, const std::string& paramExpression) {
    return panel.Evaluate(
        "(function(){const e=document.createElement('div');"
        "e.setAttribute('param'," +
        paramExpression +
        ");try{window.external.Call(e);return 'ran:'+e.getAttribute('result')}"
        "catch(error){return String(error.message||error)}})()");
}

TEST_F(BridgeCallTest, CommandTextThatCannotGoWholeIsRefusedInThePageAndRunsNothing) {
    const std::string marker = module.File("ran.txt");
    WriteFile(module.File("mark.sh"), "#!/bin/sh\necho ran > '" + marker + "'\n");
    ASSERT_EQ(chmod(module.File("mark.sh").c_str(), 0755), 0);
    WebTestPanel panel("refused", module.path());
    ASSERT_TRUE(panel.OpenPage(panel.ToFileUrl(BlankPage())));
    EXPECT_EQ(Outcome(panel, "'app:test.echo&'+'x'.repeat(17<<20)"),
              "window.external: the command text is too long");
    // Cut at the lone surrogate or at the NUL, the command would lose its closing quote.
    EXPECT_EQ(Outcome(panel, "'app:app.run&\"\\\\mark.sh\\uD800\"&0&1'"),
              "window.external: the command text is not valid Unicode");
    EXPECT_EQ(Outcome(panel, "'app:app.run&\"\\\\mark.sh\\u0000\"&0&1'"),
              "window.external: the command text cannot be sent whole");
    EXPECT_EQ(Outcome(panel, "'app:test.echo&after'"), "ran:after");
    EXPECT_EQ(Outcome(panel, "'app:test.echo&\\uD83D\\uDE00'"), "ran:\xF0\x9F\x98\x80");
    EXPECT_FALSE(PumpUntil([&] { return os::FileExists(marker); }, std::chrono::milliseconds(500)));
}

TEST_F(BridgeCallTest, AnUntrustedFramesHugeCallLeavesTheTrustedPagesCallsWorking) {
    PageServer hostile(Html(R"(<script>
        const e = document.createElement('div');
        e.setAttribute('param', 'app:test.report&' + 'x'.repeat(17 << 20));
        let outcome = 'no error';
        try { window.external.Call(e); } catch (error) { outcome = 'threw'; }
        fetch('/note?v=' + outcome);
    </script>)"));
    Page("host.html", "<iframe src=\"" + hostile.Url() + "\"></iframe>");
    WebTestPanel panel("hostile", module.path());
    ASSERT_TRUE(panel.OpenPage("\\host.html"));
    ASSERT_TRUE(PumpUntil([&] { return !hostile.Notes().empty(); }));
    EXPECT_EQ(hostile.Notes(), std::vector<std::string>{"threw"});
    EXPECT_EQ(CallFrom(panel, "app:test.echo&still here"), "still here");
    EXPECT_TRUE(panel.reports.empty());
}

// A request as a misbehaving web process could send it, straight to the program's side.
std::string Frame(uint32_t size, uint32_t sequence, const std::string& rest) {
    std::string frame;
    bridge::Put<uint32_t>(frame, size);
    bridge::Put<uint32_t>(frame, sequence);
    return frame + rest;
}

bridge::Reply ReadReply(int fd) {
    std::string bytes;
    char buffer[4096];
    for (;;) {
        uint32_t size = 0;
        if (bytes.size() >= 4) {
            std::memcpy(&size, bytes.data(), 4);
            if (bytes.size() >= 4 + size) break;
        }
        PumpUntil([&] { return recv(fd, buffer, 1, MSG_PEEK | MSG_DONTWAIT) > 0; });
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) return {};
        bytes.append(buffer, static_cast<size_t>(n));
    }
    bridge::Reply reply;
    EXPECT_TRUE(bridge::DecodeReply(bytes.substr(4), reply));
    return reply;
}

TEST_F(BridgeCallTest, TheProgramAnswersBadRequestsWithErrorsAndStaysInStep) {
    WebTestPanel panel("stream", module.path());
    ASSERT_TRUE(panel.OpenPage(panel.ToFileUrl(BlankPage())));
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    os::detail::ServeBridgeSocket(ends[1]);
    const int web = ends[0];
    // Oversized: its body is passed by in pieces while the program reads.
    std::thread writer([web] {
        const std::string huge =
            Frame(bridge::kMaxFrame + 1, 7, std::string(bridge::kMaxFrame - 3, 'x'));
        os::detail::WriteAllTo(web, huge.data(), huge.size(), os::detail::Descriptor::Socket);
    });
    bridge::Reply reply = ReadReply(web);
    writer.join();
    EXPECT_EQ(reply.sequence, 7u);
    EXPECT_EQ(reply.status, bridge::kReplyError);
    // Too short to decode.
    const std::string broken = Frame(6, 8, "ab");
    ASSERT_TRUE(
        os::detail::WriteAllTo(web, broken.data(), broken.size(), os::detail::Descriptor::Socket));
    reply = ReadReply(web);
    EXPECT_EQ(reply.sequence, 8u);
    EXPECT_EQ(reply.status, bridge::kReplyError);
    // The next request on the same stream is served.
    bridge::Request request;
    request.sequence = 9;
    request.pageId = webkit_web_view_get_page_id(os::detail::NativeWebView(*panel.View()));
    request.url = panel.View()->CurrentUri();
    request.hasParam = true;
    request.param = "app:test.echo&in step";
    const std::string good = bridge::EncodeRequest(request);
    ASSERT_TRUE(
        os::detail::WriteAllTo(web, good.data(), good.size(), os::detail::Descriptor::Socket));
    reply = ReadReply(web);
    EXPECT_EQ(reply.sequence, 9u);
    EXPECT_EQ(reply.status, bridge::kReplyResult);
    EXPECT_EQ(reply.text, "in step");
    close(web);
}

// The program's ends of the bridge channels: unnamed stream socket pairs whose other end a
// web process made (WebKit's own channels are made by the program, so their peer is us).
std::vector<int> BridgeChannelEnds() {
    std::vector<int> ends;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(entry.path().filename().c_str());
        struct stat info {};
        if (fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
        int domain = 0;
        int type = 0;
        socklen_t size = sizeof domain;
        if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0 || domain != AF_UNIX) {
            continue;
        }
        size = sizeof type;
        if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM) continue;
        sockaddr_un address{};
        size = sizeof address;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
            size != sizeof(sa_family_t)) {
            continue;
        }
        ucred peer{};
        size = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.pid == getpid()) {
            continue;
        }
        const std::string comm = ReadFile("/proc/" + std::to_string(peer.pid) + "/comm");
        if (comm.rfind("WebKitWebProces", 0) == 0) ends.push_back(fd);
    }
    return ends;
}

TEST_F(BridgeCallTest, APageBlockedInACallGetsAnErrorWhenTheChannelBreaksAndTheNextCallWorks) {
    WebTestPanel panel("dropped", module.path());
    size_t dropped = 0;
    panel.extraCommands = [&](PageCommand& command) {
        if (command.name != "test.drop") return 0;
        // The page is waiting for this answer; its channel goes away underneath it.
        const std::vector<int> ends = BridgeChannelEnds();
        dropped = ends.size();
        for (int fd : ends) shutdown(fd, SHUT_RDWR);
        command.result = std::string("never delivered");
        return 1;
    };
    ASSERT_TRUE(panel.OpenPage(panel.ToFileUrl(BlankPage())));
    EXPECT_EQ(panel.Evaluate(R"((function () {
        const e = document.createElement('div');
        e.setAttribute('param', 'app:test.drop');
        e.setAttribute('result', 'before');
        try { window.external.Call(e); return 'no error'; }
        catch (error) { return String(error.message || error) + '/' + e.getAttribute('result'); }
    })())"),
              "window.external: the program is not answering/before");
    EXPECT_EQ(dropped, 1u);
    // The extension hands the program a fresh channel: the next call works again.
    EXPECT_EQ(Outcome(panel, "'app:test.echo&x'"), "ran:x");
}

// Kills every web process at the other end of a bridge channel that was not killed before,
// as a crash would end it; how many it killed.
size_t KillWebProcesses(std::vector<pid_t>& killed) {
    size_t count = 0;
    for (int fd : BridgeChannelEnds()) {
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) continue;
        if (std::find(killed.begin(), killed.end(), peer.pid) != killed.end()) continue;
        killed.push_back(peer.pid);
        count += kill(peer.pid, SIGKILL) == 0 ? 1 : 0;
    }
    return count;
}

TEST_F(BridgeCallTest, AKilledWebProcessBringsThePageBackWithAWorkingBridge) {
    WebTestPanel panel("revived", module.path());
    const std::string page = panel.ToFileUrl(BlankPage());
    ASSERT_TRUE(panel.OpenPage(page));
    panel.RunPageScript("window.before = 1;");
    std::vector<pid_t> killed;
    const int completed = panel.documentsCompleted;
    ASSERT_GE(KillWebProcesses(killed), 1u);
    ASSERT_TRUE(PumpUntil([&] { return panel.documentsCompleted > completed; }));
    EXPECT_EQ(panel.View()->CurrentUri(), page);
    EXPECT_EQ(panel.Evaluate("typeof window.before"), "undefined");  // a fresh page
    EXPECT_EQ(CallFrom(panel, "app:test.echo&back"), "back");
}

TEST_F(BridgeCallTest, AWebProcessThatKeepsDyingLeavesTheFallbackPageWithANotice) {
    WebTestPanel panel("dying", module.path());
    const std::string main = panel.ToFileUrl(BlankPage());
    const std::string local = panel.ToFileUrl(Page("local.html", "<p>local</p>"));
    std::vector<bool> asked;
    ASSERT_TRUE(panel.OpenPage(main));
    panel.View()->SetRecoveryHandler([&](bool givingUp) {
        asked.push_back(givingUp);
        return givingUp ? local : main;
    });
    std::vector<pid_t> killed;
    for (int loss = 1; loss <= 4; ++loss) {
        const int completed = panel.documentsCompleted;
        ASSERT_GE(KillWebProcesses(killed), 1u) << "loss " << loss;
        ASSERT_TRUE(PumpUntil([&] { return panel.documentsCompleted > completed; }))
            << "loss " << loss;
        EXPECT_EQ(panel.View()->CurrentUri(), loss < 4 ? main : local) << "loss " << loss;
    }
    EXPECT_EQ(asked, (std::vector<bool>{false, false, false, true}));
    ASSERT_TRUE(PumpUntil([&] {
        return panel.Evaluate(
                   "(document.getElementById('maplenook-process-notice')||{})."
                   "textContent") != "undefined";
    }));
    EXPECT_EQ(panel.Evaluate("document.querySelector('[role=status]').textContent.length>0"),
              "true");
    EXPECT_EQ(CallFrom(panel, "app:test.echo&local"), "local");
}

TEST_F(BridgeCallTest, ResultIsSetBeforeCallReturnsInAThousandCalls) {
    WebTestPanel panel("many", module.path());
    ASSERT_TRUE(panel.OpenPage(panel.ToFileUrl(BlankPage())));
    EXPECT_EQ(panel.Evaluate(R"((function () {
        const e = document.createElement('div');
        let wrong = 0;
        for (let i = 0; i < 1000; ++i) {
            e.setAttribute('param', 'app:test.echo&v' + i);
            window.external.Call(e);
            if (e.getAttribute('result') !== 'v' + i) ++wrong;
        }
        return wrong;
    })())"),
              "0");
}

TEST_F(BridgeCallTest, TwoPanelsCallsNeverCross) {
    const std::string page = Page("loop.html", R"(<script>
        let wrong = 0, done = 0;
        const e = document.createElement('div');
        function step() {
            for (let i = 0; i < 20; ++i) {
                e.setAttribute('param', 'app:test.name');
                window.external.Call(e);
                if (e.getAttribute('result') !== location.hash.substring(1)) ++wrong;
            }
            if (++done < 15) { setTimeout(step, 0); return; }
            e.setAttribute('param', 'app:test.report&wrong=' + wrong);
            window.external.Call(e);
        }
        setTimeout(step, 0);
    </script>)");
    WebTestPanel left("left", module.path());
    WebTestPanel right("right", module.path());
    ASSERT_TRUE(left.CreatePanel());
    ASSERT_TRUE(right.CreatePanel());
    left.NavigatePage(left.ToFileUrl(page) + "#left");
    right.NavigatePage(right.ToFileUrl(page) + "#right");
    ASSERT_TRUE(PumpUntil([&] { return left.reports.size() == 1 && right.reports.size() == 1; }));
    EXPECT_EQ(left.reports[0], "wrong=0");
    EXPECT_EQ(right.reports[0], "wrong=0");
}

TEST_F(BridgeCallTest, CommandClosingItsOwnPanel) {
    BlankPage();
    bool deleted = false;
    auto* self = new WebTestPanel("self", module.path(), {}, 1);
    self->destroyedFlag = &deleted;
    ASSERT_TRUE(self->OpenPage("\\blank.html"));
    self->RunPageScript(
        "setTimeout(() => { const e = document.createElement('div');"
        "e.setAttribute('param', 'app:panel.close'); window.external.Call(e); }, 0);");
    ASSERT_TRUE(PumpUntil([&] { return deleted; }));

    WebTestPanel kept("kept", module.path());
    ASSERT_TRUE(kept.OpenPage("\\blank.html"));
    kept.RunPageScript(
        "const e = document.createElement('div');"
        "e.setAttribute('param', 'app:panel.close'); window.external.Call(e);");
    ASSERT_TRUE(PumpUntil([&] { return !kept.HasWindow(); }));
    EXPECT_EQ(kept.CommandWindow(), nullptr);
    EXPECT_FALSE(kept.NavigatePage("\\blank.html"));
    kept.Bridge().Notify("late");  // nothing to run it in: dropped
    PumpUntil([] { return false; }, std::chrono::milliseconds(100));
}

TEST_F(BridgeCallTest, CallsAfterTheCommandClosedThePanelFailAtOnceInsteadOfBlocking) {
    // The script goes on after its own panel closed: the next Call finds no panel and must
    // come back with an error; the page then reports both outcomes over plain HTTP.
    PageServer server(Html(R"(<script>
        function closeThenCall() {
            const e = document.createElement('div');
            e.setAttribute('param', 'app:panel.close');
            e.setAttribute('result', 'untouched');
            window.external.Call(e);
            const first = e.getAttribute('result');
            e.setAttribute('param', 'app:test.echo&late');
            e.setAttribute('result', 'untouched');
            let second;
            try { window.external.Call(e); second = 'returned:' + e.getAttribute('result'); }
            catch (error) { second = 'threw:' + String(error.message || error); }
            const report = new XMLHttpRequest();
            report.open('GET', '/note?v=' + encodeURIComponent(first + '|' + second), false);
            report.send();
        }
    </script>)"));
    bool deleted = false;
    auto* panel = new WebTestPanel("closing", module.path(), server.Origin() + "/Brush.html", 1);
    panel->destroyedFlag = &deleted;
    ASSERT_TRUE(panel->OpenPage(server.Url()));
    panel->RunPageScript("setTimeout(closeThenCall, 0);");
    ASSERT_TRUE(PumpUntil([&] { return !server.Notes().empty(); }));
    EXPECT_EQ(server.Notes(),
              std::vector<std::string>{"-1|threw:window.external: the page's panel is gone"});
    EXPECT_TRUE(PumpUntil([&] { return deleted; }));
}

// A panel whose answer to the context-menu request a test chooses.
class MenuPanel : public WebTestPanel {
  public:
    MenuPanel(const std::string& name, const std::string& moduleDirectory, long answer)
        : WebTestPanel(name, moduleDirectory) {
        adjustAnswer = [answer](PanelEvent& event) {
            if (event.code == kUiShowContextMenu) event.answer = answer;
        };
    }
};

// Presses and releases the right button over the view at (x, y) as GDK delivers a real click.
void RightClick(os::WebView& webView, int x, int y) {
    GtkWidget* view = GTK_WIDGET(os::detail::NativeWebView(webView));
    GdkWindow* target = gtk_widget_get_window(view);
    GdkDevice* pointer =
        gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
    int originX = 0;
    int originY = 0;
    gdk_window_get_origin(target, &originX, &originY);
    for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
        GdkEvent* event = gdk_event_new(type);
        event->button.window = GDK_WINDOW(g_object_ref(target));
        event->button.send_event = TRUE;
        event->button.time = GDK_CURRENT_TIME;
        event->button.x = x;
        event->button.y = y;
        event->button.x_root = originX + x;
        event->button.y_root = originY + y;
        event->button.button = 3;
        gdk_event_set_device(event, pointer);
        gtk_main_do_event(event);
        gdk_event_free(event);
    }
}

// The context menu WebKit pops up, if one is on screen.
GtkWidget* VisibleMenu() {
    GtkWidget* found = nullptr;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item != nullptr; item = item->next) {
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(item->data));
        if (child != nullptr && GTK_IS_MENU(child) && gtk_widget_get_mapped(child)) found = child;
    }
    g_list_free(toplevels);
    return found;
}

TEST_F(BridgeCallTest, ContextMenuShowsOnlyWhenThePanelAnswersNonzero) {
    Page("menu.html", R"(<div style="width:100%;height:300px">text</div>
        <script>window.menus = 0;
        document.addEventListener('contextmenu', () => { ++window.menus; });</script>)");
    WebTestPanel plain("plain", module.path());
    MenuPanel allowing("allowing", module.path(), 1);
    for (WebTestPanel* panel :
         {static_cast<WebTestPanel*>(&plain), static_cast<WebTestPanel*>(&allowing)}) {
        SCOPED_TRACE(panel->PanelName());
        ASSERT_TRUE(panel->OpenPage("\\menu.html"));
        panel->Window()->MoveResize({100, 100, 500, 400});
        panel->Window()->Show();
        GtkWidget* view = GTK_WIDGET(os::detail::NativeWebView(*panel->View()));
        ASSERT_TRUE(PumpUntil([&] {
            return gtk_widget_get_mapped(view) && gtk_widget_get_allocated_width(view) > 100;
        }));
        RightClick(*panel->View(), 40, 40);
        ASSERT_TRUE(PumpUntil([&] {
            return std::count(panel->events.begin(), panel->events.end(), kUiShowContextMenu) == 1;
        }));
        EXPECT_EQ(panel->Evaluate("window.menus"), "1");
        if (panel == &plain) {
            // Given time to appear, no menu does.
            EXPECT_FALSE(
                PumpUntil([] { return VisibleMenu() != nullptr; }, std::chrono::milliseconds(700)));
        } else {
            EXPECT_TRUE(PumpUntil([] { return VisibleMenu() != nullptr; }));
        }
        // A menu left open would hold the pointer grab from the next panel.
        if (GtkWidget* menu = VisibleMenu()) gtk_menu_popdown(GTK_MENU(menu));
        panel->Window()->Hide();
    }
}

TEST_F(BridgeCallTest, ModalDialogInACommandLeavesOtherPanelsWorking) {
    BlankPage();
    WebTestPanel modal("modal", module.path());
    WebTestPanel busy("busy", module.path());
    GtkWidget* dialog = nullptr;
    int ticksDuringDialog = 0;
    modal.extraCommands = [&](PageCommand& command) {
        if (command.name != "test.modal") return 0;
        dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_OK,
                                        "modal");
        const int answer = gtk_dialog_run(GTK_DIALOG(dialog));
        gtk_widget_destroy(dialog);
        dialog = nullptr;
        command.result = "closed:" + std::to_string(answer);
        return 1;
    };
    busy.extraCommands = [&](PageCommand& command) {
        if (command.name != "test.tick") return 0;
        if (dialog != nullptr && ++ticksDuringDialog == 5) {
            gtk_dialog_response(GTK_DIALOG(dialog), 42);
        }
        command.result = std::string("tock");
        return 1;
    };
    ASSERT_TRUE(modal.OpenPage("\\blank.html"));
    ASSERT_TRUE(busy.OpenPage("\\blank.html"));
    modal.RunPageScript(
        "setTimeout(() => { const e = document.createElement('div');"
        "e.setAttribute('param', 'app:test.modal'); window.external.Call(e);"
        "document.title = e.getAttribute('result'); }, 0);");
    busy.RunPageScript(
        "setInterval(() => { const e = document.createElement('div');"
        "e.setAttribute('param', 'app:test.tick'); window.external.Call(e);"
        "if (e.getAttribute('result') === 'tock') window.tocks = (window.tocks || 0) + 1; }, 10);");
    ASSERT_TRUE(PumpUntil([&] { return modal.Evaluate("document.title") == "closed:42"; }));
    EXPECT_EQ(ticksDuringDialog, 5);
    EXPECT_GE(std::stoi(busy.Evaluate("window.tocks")), 5);
}

TEST_F(BridgeCallTest, NotifyPageRunsHostNotifyWithAndWithoutData) {
    WebTestPanel panel("notify", module.path());
    ASSERT_TRUE(panel.OpenPage(panel.ToFileUrl(BlankPage())));
    panel.Bridge().Notify("runbrush");
    panel.Bridge().Notify("runbrush", std::string("pkg','download"));
    panel.Bridge().Notify("quote", std::string("it\\'s"));
    ASSERT_TRUE(PumpUntil([&] { return panel.Evaluate("got.length") == "3"; }));
    EXPECT_EQ(panel.Evaluate("got.join('/')"), "runbrush/runbrush|pkg|download/quote|it\\'s");
}

TEST_F(BridgeCallTest, HostileNotificationTextReachesHostNotifyExactlyAndNeverRuns) {
    WebTestPanel panel("hostile", module.path());
    ASSERT_TRUE(panel.OpenPage(
        panel.ToFileUrl(Page("json.html",
                             "<script>window.got=[];function hostNotify(){"
                             "got.push(JSON.stringify(Array.from(arguments)));}</script>"))));
    panel.Bridge().Notify("runbrush", std::string("q');window.x=1;('.exe','download"));
    panel.Bridge().Notify("a\\',\"\r\n\xE2\x80\xA8\xE2\x80\xA9</script>\\",
                          std::string("nul\0\x01\x7F\xFF"
                                      "end','\xC3\xA9",
                                      15));
    panel.Bridge().NotifyArgs("runbrush", {"a','b.exe", "download"});
    ASSERT_TRUE(PumpUntil([&] { return panel.Evaluate("got.length") == "3"; }));
    EXPECT_EQ(panel.Evaluate("typeof window.x"), "undefined");
    EXPECT_EQ(panel.Evaluate("got[0]"), R"(["runbrush","q');window.x=1;('.exe","download"])");
    // A byte that is not UTF-8 arrives as U+FFFD; everything else as it was sent.
    EXPECT_EQ(panel.Evaluate("got[1]"), R"(["a\\',\"\r\n)"
                                        "\xE2\x80\xA8\xE2\x80\xA9"
                                        R"(</script>\\","nul\u0000\u0001)"
                                        "\x7F\xEF\xBF\xBD"
                                        R"(end",")"
                                        "\xC3\xA9"
                                        R"("])");
    EXPECT_EQ(panel.Evaluate("got[2]"), R"(["runbrush","a','b.exe","download"])");
}

TEST_F(BridgeCallTest, NotificationsReachALexicalHostNotifyInOrderPastOneThatThrows) {
    WebTestPanel panel("lexical", module.path());
    ASSERT_TRUE(panel.OpenPage(
        panel.ToFileUrl(Page("lexical.html",
                             "<script>let got=[];let hostNotify=function(){"
                             "got.push(JSON.stringify(Array.from(arguments)));"
                             "if(arguments[0]==='boom')throw new Error('boom');};</script>"))));
    panel.Bridge().Notify("boom");
    panel.Bridge().NotifyArgs("nul", {std::string("\0", 1), std::string("a\0\0b\0", 5), ""});
    panel.Bridge().Notify("after", std::string("x"));
    ASSERT_TRUE(PumpUntil([&] { return panel.Evaluate("got.length") == "3"; }));
    EXPECT_EQ(panel.Evaluate("got.join('/')"),
              R"(["boom"]/["nul","\u0000","a\u0000\u0000b\u0000",""]/["after","x"])");
    // The next document's function gets them, not the one the first document had.
    ASSERT_TRUE(panel.OpenPage(panel.ToFileUrl(BlankPage())));
    panel.Bridge().Notify("next", std::string("y"));
    ASSERT_TRUE(PumpUntil([&] { return panel.Evaluate("got.length") == "1"; }));
    EXPECT_EQ(panel.Evaluate("got[0]"), "next|y");
    // A call longer than one read of the socket arrives whole.
    panel.Bridge().NotifyArgs("big", {std::string(100000, 'z')});
    ASSERT_TRUE(PumpUntil([&] { return panel.Evaluate("got.length") == "2"; }));
    EXPECT_EQ(panel.Evaluate("got[1] === 'big|' + 'z'.repeat(100000)"), "true");
}

TEST_F(BridgeCallTest, NotifyPageFromEightThreadsArrivesInOrderPerThread) {
    WebTestPanel panel("threads", module.path());
    ASSERT_TRUE(panel.OpenPage(panel.ToFileUrl(BlankPage())));
    constexpr int kThreads = 8;
    constexpr int kEach = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&panel, t] {
            for (int i = 0; i < kEach; ++i) {
                panel.Bridge().Notify("n", std::to_string(t) + "','" + std::to_string(i));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(PumpUntil([&] { return panel.Evaluate("got.length") == "800"; }));
    EXPECT_EQ(panel.Evaluate(R"((function () {
        const next = [0, 0, 0, 0, 0, 0, 0, 0];
        let wrong = 0;
        for (const entry of got) {
            const [name, t, i] = entry.split('|');
            if (name !== 'n' || Number(i) !== next[t]++) ++wrong;
        }
        return wrong + ':' + next.join(',');
    })())"),
              "0:100,100,100,100,100,100,100,100");
}

// Notifications sent while the page waits in a Call reach it after the Call has returned, in
// the order they were sent, also those sent after it.
TEST_F(BridgeCallTest, NotificationsSentDuringACallArriveAfterItInOrder) {
    WebTestPanel panel("during", module.path());
    panel.extraCommands = [&](PageCommand& command) {
        if (command.name != "test.notify") return 0;
        panel.Bridge().Notify("during", std::string("1"));
        panel.Bridge().Notify("during", std::string("2"));
        // Sent before the answer goes out.
        for (int i = 0; i < 10; ++i) g_main_context_iteration(nullptr, FALSE);
        return 1;
    };
    ASSERT_TRUE(panel.OpenPage(panel.ToFileUrl(BlankPage())));
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(panel.Evaluate("(function(){got=[];const e=document.createElement('div');"
                                 "e.setAttribute('param','app:test.notify');"
                                 "window.external.Call(e);return got.length})()"),
                  "0");
        panel.Bridge().Notify("after");
        ASSERT_TRUE(PumpUntil([&] { return panel.Evaluate("got.length") == "3"; }));
        EXPECT_EQ(panel.Evaluate("got.join('/')"), "during|1/during|2/after");
    }
}

TEST_F(BridgeCallTest, NotificationsForAGonePanelOrAPageWithoutHostNotifyAreDropped) {
    Page("plain.html", "<p>no hostNotify here</p>");
    WebTestPanel plain("plain", module.path());
    ASSERT_TRUE(plain.OpenPage("\\plain.html"));
    plain.Bridge().Notify("nobody", std::string("listens"));
    auto gone = std::make_unique<WebTestPanel>("gone", module.path());
    ASSERT_TRUE(gone->OpenPage(gone->ToFileUrl(BlankPage())));
    gone->Bridge().Notify("late");
    gone.reset();
    PumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(CallFrom(plain, "app:test.echo&alive"), "alive");
}

TEST_F(BridgeCallTest, ResourcePagesAreServedAndTrusted) {
    os::RegisterEmbeddedResource(130,
                                 {"text/html", Html("<script>const e=document.createElement('div');"
                                                    "e.setAttribute('param','app:test.report&res');"
                                                    "window.external.Call(e);</script>")});
    WebTestPanel panel("res", module.path());
    ASSERT_TRUE(panel.OpenPage("130"));
    EXPECT_EQ(panel.reports, std::vector<std::string>{"res"});
    EXPECT_EQ(panel.View()->CurrentUri(), "res://" + os::ExecutablePath() + "/130");
}

TEST_F(BridgeCallTest, NavigateErrorShowsNoErrorPage) {
    int closedPort = 0;
    {
        PageServer probe("x");
        closedPort = std::stoi(probe.Origin().substr(std::string("http://127.0.0.1:").size()));
    }
    WebTestPanel panel("error", module.path());
    ASSERT_TRUE(panel.CreatePanel());
    panel.NavigatePage("http://127.0.0.1:" + std::to_string(closedPort) + "/Brush.html");
    ASSERT_TRUE(PumpUntil([&] {
        return std::find(panel.events.begin(), panel.events.end(), kEventNavigateError) !=
               panel.events.end();
    }));
    PumpUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(panel.Evaluate("document.body ? document.body.innerText : ''"), "");
}

// The host flags answer decides whether pages show scrollbars.
class ScrollingPanel : public WebTestPanel {
  public:
    ScrollingPanel(const std::string& name, const std::string& moduleDirectory)
        : WebTestPanel(name, moduleDirectory) {
        adjustAnswer = [](PanelEvent& event) {
            if (event.code == kUiGetHostInfo) event.answer &= ~DOCHOSTUIFLAG_SCROLL_NO;
        };
    }
};

TEST_F(BridgeCallTest, HostFlagsWithScrollNoHideTheScrollbars) {
    // Classic scrollbars take room from the page, which makes them measurable.
    setenv("GTK_OVERLAY_SCROLLING", "0", 1);
    Page("tall.html", "<div style='width:4000px;height:4000px'></div>");
    WebTestPanel plain("plain", module.path());
    ScrollingPanel scrolling("scrolling", module.path());
    ASSERT_TRUE(plain.OpenPage("\\tall.html"));
    ASSERT_TRUE(scrolling.OpenPage("\\tall.html"));
    const std::string gutter = "window.innerWidth - document.documentElement.clientWidth";
    EXPECT_EQ(plain.Evaluate(gutter), "0");
    EXPECT_NE(scrolling.Evaluate(gutter), "0");
}

// Short and long results take different paths into the page; both give the same text.
TEST_F(BridgeCallTest, ResultTextIsTheSameForShortAndLongResults) {
    WebTestPanel panel("text", module.path());
    panel.extraCommands = [](PageCommand& command) -> int {
        if (command.name != "test.raw") return 0;
        const std::string bytes[] = {
            "\xef\xbb\xbf"
            "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
            std::string("a\0b", 3),
            "a\xff",
            "a\xed\xa0\x80",
            "\xf4\x90\x80\x80",
            "a\xc3"};
        const size_t n = std::stoul(command.Item(1));
        command.result = bytes[n] + std::string(command.Item(2) == "long" ? 300000 : 0, 'y');
        return 1;
    };
    ASSERT_TRUE(panel.OpenPage(panel.ToFileUrl(BlankPage())));
    EXPECT_EQ(panel.Evaluate(R"((function () {
        const expected = ['\uFEFFa\u00e9\u20ac\u{1F600}', 'a', '', '', '', ''];
        const e = document.createElement('div');
        const got = [];
        for (const size of ['short', 'long']) {
            for (let i = 0; i < expected.length; ++i) {
                e.setAttribute('param', 'app:test.raw&' + i + '&' + size);
                window.external.Call(e);
                const tail = i === 0 && size === 'long' ? 'y'.repeat(300000) : '';
                const want = expected[i] + tail;
                if (e.getAttribute('result') !== want) got.push(size + i);
            }
        }
        return got.join(',') || 'same';
    })())"),
              "same");
}

}  // namespace
