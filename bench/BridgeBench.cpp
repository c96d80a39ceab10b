// Round trip of a no-op page command through window.external.Call (synchronous, over the
// extension's socket) against WebKit's own asynchronous script message handler with a reply,
// both driven from the same page in the same run and timed with the page's microsecond clock.
#include <glib/gstdio.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <string>

#include "BuildConfig.h"
#include "os/PanelWindow.h"
#include "os/linux/WebHost.h"
#include "web/HtmlPanel.h"

namespace {

constexpr int kCalls = 10000;

class BenchPanel : public CHtmlPanel {
  public:
    explicit BenchPanel(const std::string& folder) : CHtmlPanel("bench", 0) {
        SetModuleDirectory(folder);
    }
    int HandleAppCommand(PageCommand& command) override {
        if (command.name != "bench.done") return 0;
        figures = command.tokens;
        done = true;
        return 1;
    }
    bool done = false;
    std::vector<std::string> figures;
};

gboolean OnMessageWithReply(WebKitUserContentManager*, JSCValue* value,
                            WebKitScriptMessageReply* reply, gpointer) {
    JSCValue* answer = jsc_value_new_string(jsc_value_get_context(value), "-1");
    webkit_script_message_reply_return_value(reply, answer);
    g_object_unref(answer);
    return TRUE;
}

// Alternating blocks, so that neither side profits from a warmer or quieter stretch.
const char* kPage = R"(<!doctype html><html><body><script>
const N = %d, BLOCK = 500;
const syncTimes = [], asyncTimes = [];
const e = document.createElement('div');
e.setAttribute('param', 'app:panel.clientarea');
const clock = window.maplenookTestMicros;
function median(a) { const s = Float64Array.from(a).sort(); return s[s.length >> 1]; }
function p90(a) { const s = Float64Array.from(a).sort(); return s[Math.floor(s.length * 0.9)]; }
async function run() {
  for (let i = 0; i < 300; ++i) { window.external.Call(e); await window.webkit.messageHandlers.bench.postMessage('x'); }
  while (syncTimes.length < N) {
    for (let i = 0; i < BLOCK; ++i) {
      const t0 = clock(); window.external.Call(e); syncTimes.push(clock() - t0);
      if (e.getAttribute('result') !== '-1') throw new Error('bad result');
    }
    for (let i = 0; i < BLOCK; ++i) {
      const t0 = clock(); await window.webkit.messageHandlers.bench.postMessage('x'); asyncTimes.push(clock() - t0);
    }
  }
  e.setAttribute('param', ['app:bench.done', median(syncTimes), median(asyncTimes), p90(syncTimes), p90(asyncTimes)].join('&'));
  window.external.Call(e);
}
setTimeout(() => run().catch(err => { e.setAttribute('param', 'app:bench.done&error&' + err); window.external.Call(e); }), 0);
</script></body></html>)";

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
    std::snprintf(page, sizeof page, kPage, kCalls);
    g_file_set_contents(pagePath.c_str(), page, -1, nullptr);

    BenchPanel panel(folder);
    if (!panel.CreatePanel()) return 1;
    WebKitWebView* view = os::detail::NativeWebView(*panel.Window());
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
    if (!panel.done || panel.figures.size() != 5 || panel.figures[1] == "error") {
        std::fprintf(stderr, "BridgeBench: the page did not finish (%s)\n",
                     panel.figures.size() > 2 ? panel.figures[2].c_str() : "timeout");
        return 1;
    }
    const double syncMedian = std::stod(panel.figures[1]);
    const double asyncMedian = std::stod(panel.figures[2]);
    std::printf("no-op command round trip, %d calls each, same page, same run\n", kCalls);
    std::printf("  window.external.Call (sync)       median %8.1f us   p90 %8.1f us\n", syncMedian,
                std::stod(panel.figures[3]));
    std::printf("  WebKit message handler with reply median %8.1f us   p90 %8.1f us\n", asyncMedian,
                std::stod(panel.figures[4]));
    std::printf("  ratio Call / message handler: %.2f\n", syncMedian / asyncMedian);
    return 0;
}
