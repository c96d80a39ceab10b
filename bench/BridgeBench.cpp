// Round trips of page commands through window.external.Call (synchronous, over the extension's
// socket) against WebKit's own asynchronous script message handler with a reply, both driven
// from the same page in the same run and timed with the page's microsecond clock: a no-op
// command, and a command with a 100 KiB argument and a 1 MiB result. Both sides leave the answer
// in the element's "result" attribute (the bridge does it for Call, the page for the handler),
// and both handlers check the argument's length. Sides alternate by blocks; each block's median
// is one round, shown as min / median / max with the ratio of the same round's medians. CPU time
// is that of every thread of the program and its web and network processes over the block,
// per call (read by a command before and after the block).
#include <glib/gstdio.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "BenchCommon.h"
#include "BuildConfig.h"
#include "os/Window.h"
#include "os/linux/WebHost.h"
#include "web/HtmlPanel.h"

namespace {

constexpr int kCalls = 10000;
constexpr int kBigCalls = 400;
constexpr size_t kBigArgument = 100 * 1024;
constexpr size_t kBigResult = 1024 * 1024;

const std::string& BigResult() {
    static const std::string text(kBigResult, 'y');
    return text;
}

class BenchPanel : public CHtmlPanel {
  public:
    explicit BenchPanel(const std::string& folder) : CHtmlPanel("bench", 0, {}, BenchRole()) {
        SetModuleDirectory(folder);
    }
    Role BenchRole() {
        Role role;
        role.commands = [this](PageCommand& command) { return Run(command); };
        return role;
    }
    bool Run(PageCommand& command) {
        if (command.name == "bench.cpu") {
            if (tree_.empty()) tree_ = bench::ProcessTree(getpid());
            command.result = std::to_string(bench::ThreadsCpuSeconds(tree_) * 1e6);
            return true;
        }
        if (command.name == "bench.big") {
            command.result = command.Item(1).size() == kBigArgument ? BigResult() : "bad";
            return true;
        }
        if (command.name != "bench.done") return false;
        figures = command.tokens;
        done = true;
        return true;
    }
    bool done = false;
    std::vector<std::string> figures;

  private:
    std::vector<long> tree_;
};

gboolean OnMessageWithReply(WebKitUserContentManager*, JSCValue* value,
                            WebKitScriptMessageReply* reply, gpointer) {
    char* text = jsc_value_to_string(value);
    const size_t length = text != nullptr ? std::strlen(text) : 0;
    g_free(text);
    const char* result = length == kBigArgument ? BigResult().c_str() : length == 1 ? "-1" : "bad";
    JSCValue* answer = jsc_value_new_string(jsc_value_get_context(value), result);
    webkit_script_message_reply_return_value(reply, answer);
    g_object_unref(answer);
    return TRUE;
}

// Alternating blocks, so that neither side profits from a warmer or quieter stretch.
const char* kPage = R"(<!doctype html><html><body><script>
const N = %d, BLOCK = 500, BIG_N = %d, BIG_BLOCK = 20, BIG_ARG = %d, BIG_RESULT = %d;
const e = document.createElement('div');
const clock = window.maplenookTestMicros;
const handler = window.webkit.messageHandlers.bench;
const meter = document.createElement('div');
meter.setAttribute('param', 'app:bench.cpu');
const cpu = () => { window.external.Call(meter); return Number(meter.getAttribute('result')); };
function median(a) { const s = Float64Array.from(a).sort(); return s[s.length >> 1]; }
async function rounds(total, block, param, message, resultLength) {
  const sync = [], async = [], syncCpu = [], asyncCpu = [];
  const syncBlock = () => {
    const t = [];
    e.setAttribute('param', param);
    const c0 = cpu();
    for (let i = 0; i < block; ++i) { const t0 = clock(); window.external.Call(e); t.push(clock() - t0); }
    syncCpu.push((cpu() - c0) / block);
    if (e.getAttribute('result').length !== resultLength) throw new Error('bad Call result');
    sync.push(median(t));
  };
  const asyncBlock = async () => {
    const t = [];
    const c0 = cpu();
    for (let i = 0; i < block; ++i) {
      const t0 = clock(); e.setAttribute('result', await handler.postMessage(message)); t.push(clock() - t0);
    }
    asyncCpu.push((cpu() - c0) / block);
    if (e.getAttribute('result').length !== resultLength) throw new Error('bad handler result');
    async.push(median(t));
  };
  for (let r = 0; r < total / block; ++r) {
    if (r %% 2 === 0) { syncBlock(); await asyncBlock(); } else { await asyncBlock(); syncBlock(); }
  }
  return [sync.join(','), async.join(','), syncCpu.join(','), asyncCpu.join(',')];
}
async function run() {
  const big = 'x'.repeat(BIG_ARG);
  await rounds(600, 300, 'app:panel.clientarea', 'x', 2);  // warm-up
  const noop = await rounds(N, BLOCK, 'app:panel.clientarea', 'x', 2);
  const large = await rounds(BIG_N, BIG_BLOCK, 'app:bench.big&' + big, big, BIG_RESULT);
  e.setAttribute('param', ['app:bench.done', ...noop, ...large].join('&'));
  window.external.Call(e);
}
setTimeout(() => run().catch(err => { e.setAttribute('param', 'app:bench.done&error&' + err); window.external.Call(e); }), 0);
</script></body></html>)";

// A round list of microseconds ("12.5,13.1,...") as seconds, for the common printout.
std::vector<double> Rounds(const std::string& text) {
    std::vector<double> values;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find(',', start), text.size());
        values.push_back(std::stod(text.substr(start, end - start)) / 1e6);
        start = end + 1;
    }
    return values;
}

// Wall time is the median call of each block, CPU time the block's mean per call.
void PrintRounds(const std::string& work, const std::string* figures) {
    bench::Series series;
    const std::vector<double> oursWall = Rounds(figures[0]), peerWall = Rounds(figures[1]);
    const std::vector<double> oursCpu = Rounds(figures[2]), peerCpu = Rounds(figures[3]);
    for (size_t i = 0; i < oursWall.size() && i < oursCpu.size(); ++i)
        series.ours.push_back({oursWall[i], oursCpu[i]});
    for (size_t i = 0; i < peerWall.size() && i < peerCpu.size(); ++i)
        series.peer.push_back({peerWall[i], peerCpu[i]});
    bench::Print(work, "window.external.Call", "message handler + reply", series, 1e6, "us");
}

}  // namespace

int main() {
#if !MAPLENOOK_TEST_HOOKS
    std::fprintf(stderr, "BridgeBench needs a build with MAPLENOOK_TEST_HOOKS=ON\n");
    return 1;
#endif
    if (!os::InitGuiToolkit()) {
        std::fprintf(stderr, "BridgeBench: no display\n");
        return 1;
    }
    os::SetWebExtensionsDirectory(std::string(MAPLENOOK_BINARY_DIR) + "/webext");
    char folderTemplate[] = "/tmp/maplenook-bridge-bench-XXXXXX";
    const char* folder = g_mkdtemp(folderTemplate);
    if (folder == nullptr) return 1;
    const std::string pagePath = std::string(folder) + "/bench.html";
    char page[8192];
    std::snprintf(page, sizeof page, kPage, kCalls, kBigCalls, static_cast<int>(kBigArgument),
                  static_cast<int>(kBigResult));
    g_file_set_contents(pagePath.c_str(), page, -1, nullptr);

    BenchPanel panel(folder);
    if (!panel.CreatePanel()) return 1;
    WebKitWebView* view = os::detail::NativeWebView(*panel.View());
    WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view);
    webkit_user_content_manager_register_script_message_handler_with_reply(content, "bench",
                                                                           nullptr);
    g_signal_connect(content, "script-message-with-reply-received::bench",
                     G_CALLBACK(OnMessageWithReply), nullptr);
    panel.NavigatePage("\\bench.html");
    const gint64 deadline = g_get_monotonic_time() + 300 * G_USEC_PER_SEC;
    while (!panel.done && g_get_monotonic_time() < deadline)
        g_main_context_iteration(nullptr, TRUE);
    g_unlink(pagePath.c_str());
    g_rmdir(folder);
    if (!panel.done || panel.figures.size() != 9 || panel.figures[1] == "error") {
        std::fprintf(stderr, "BridgeBench: the page did not finish (%s)\n",
                     panel.figures.size() > 2 ? panel.figures[2].c_str() : "timeout");
        return 1;
    }
    std::printf("page command round trips, per call, medians of alternating blocks\n");
    PrintRounds("no-op command, blocks of 500 calls", &panel.figures[1]);
    PrintRounds("100 KiB argument, 1 MiB result, blocks of 20 calls", &panel.figures[5]);
    return 0;
}
