// Round trips of page commands through window.external.Call (synchronous, over the extension's
// socket) against WebKit's own asynchronous script message handler with a reply, both driven
// from the same page in the same run and timed with the page's microsecond clock: a no-op
// command, and a command with a 100 KiB argument and a 1 MiB result. Both sides leave the answer
// in the element's "result" attribute (the bridge does it for Call, the page for the handler),
// and both handlers check the argument's length. Sides alternate by blocks; each block's median,
// mean and 90th percentile call is one round, shown as min / median / max with the ratio of the
// same round's figures. The no-op rounds run again with a process spinning on the last CPU, so
// that the program and its web process share what is left. CPU time is that of every thread of
// the program and its web and network processes over the block, per call (read by a command
// before and after the block).
//
// Then page notifications: progress notifications paced 5 ms apart, through the page bridge
// (one call of the page's function with its arguments) against the script text evaluated
// afresh each time, with the tree's CPU per notification less that of an idle block of the same
// length.
#include <glib/gstdio.h>
#include <sched.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "BenchCommon.h"
#include "BuildConfig.h"
#include "os/GuiThread.h"
#include "os/Window.h"
#include "os/linux/WebHost.h"
#include "web/HtmlPanel.h"
#include "web/ScriptText.h"

namespace {

constexpr int kCalls = 10000;
constexpr int kBigCalls = 400;
constexpr size_t kBigArgument = 100 * 1024;
constexpr size_t kBigResult = 1024 * 1024;
constexpr int kNoteRounds = 7;
constexpr int kNotesPerBlock = 100;
constexpr guint kNoteGapMs = 5;

const std::string& BigResult() {
    static const std::string text(kBigResult, 'y');
    return text;
}

class BenchPanel : public CHtmlPanel {
  public:
    explicit BenchPanel(const std::string& folder) : CHtmlPanel("bench", 0, {}, BenchRole()) {
        SetModuleDirectory(folder);
    }
    ~BenchPanel() override { Spin(false); }
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
        if (command.name == "bench.busy") {
            Spin(command.Item(1) == "1");
            return true;
        }
        if (command.name == "bench.noted") {
            noted = true;
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
    bool noted = false;
    std::vector<std::string> figures;

  private:
    // A child spinning on the last CPU (on any when there is one), or none.
    void Spin(bool on) {
        if (on && spinner_ < 0) {
            const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
            spinner_ = fork();
            if (spinner_ == 0) {
                if (cpus > 1) {
                    cpu_set_t set;
                    CPU_ZERO(&set);
                    CPU_SET(static_cast<int>(cpus - 1), &set);
                    sched_setaffinity(0, sizeof set, &set);
                }
                volatile unsigned long turns = 0;
                for (;;) turns = turns + 1;
            }
        } else if (!on && spinner_ > 0) {
            kill(spinner_, SIGKILL);
            waitpid(spinner_, nullptr, 0);
            spinner_ = -1;
        }
    }
    std::vector<long> tree_;
    pid_t spinner_ = -1;
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
const command = (text) => { const c = document.createElement('div'); c.setAttribute('param', text); window.external.Call(c); };
// Median, mean and 90th percentile (nearest rank) of a block's calls.
function summary(a) {
  const s = Float64Array.from(a).sort();
  let sum = 0; for (const x of s) sum += x;
  return [s[s.length >> 1], sum / s.length, s[Math.ceil(s.length * 0.9) - 1]];
}
// A progress line as a page would keep it; the last of a block tells the program.
let progress = '';
function hostNotify(event, name, done, total, phase) {
  progress = name + ' ' + done + '/' + total + ' ' + phase;
  if (done === total) command('app:bench.noted');
}
async function rounds(total, block, param, message, resultLength) {
  const sync = [[], [], []], async = [[], [], []], syncCpu = [], asyncCpu = [];
  const keep = (into, t) => summary(t).forEach((v, i) => into[i].push(v));
  const syncBlock = () => {
    const t = [];
    e.setAttribute('param', param);
    const c0 = cpu();
    for (let i = 0; i < block; ++i) { const t0 = clock(); window.external.Call(e); t.push(clock() - t0); }
    syncCpu.push((cpu() - c0) / block);
    if (e.getAttribute('result').length !== resultLength) throw new Error('bad Call result');
    keep(sync, t);
  };
  const asyncBlock = async () => {
    const t = [];
    const c0 = cpu();
    for (let i = 0; i < block; ++i) {
      const t0 = clock(); e.setAttribute('result', await handler.postMessage(message)); t.push(clock() - t0);
    }
    asyncCpu.push((cpu() - c0) / block);
    if (e.getAttribute('result').length !== resultLength) throw new Error('bad handler result');
    keep(async, t);
  };
  for (let r = 0; r < total / block; ++r) {
    if (r %% 2 === 0) { syncBlock(); await asyncBlock(); } else { await asyncBlock(); syncBlock(); }
  }
  return [sync[0], async[0], syncCpu, asyncCpu, sync[1], async[1], sync[2], async[2]].map(l => l.join(','));
}
async function run() {
  const big = 'x'.repeat(BIG_ARG);
  await rounds(600, 300, 'app:panel.clientarea', 'x', 2);  // warm-up
  const noop = await rounds(N, BLOCK, 'app:panel.clientarea', 'x', 2);
  command('app:bench.busy&1');
  let busy;
  try { busy = await rounds(N, BLOCK, 'app:panel.clientarea', 'x', 2); } finally { command('app:bench.busy&0'); }
  const large = await rounds(BIG_N, BIG_BLOCK, 'app:bench.big&' + big, big, BIG_RESULT);
  e.setAttribute('param', ['app:bench.done', ...noop, ...busy, ...large].join('&'));
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

bench::Series SeriesOf(const std::string* figures, int wall, int cpu) {
    bench::Series series;
    const std::vector<double> oursWall = Rounds(figures[wall]),
                              peerWall = Rounds(figures[wall + 1]);
    const std::vector<double> oursCpu = Rounds(figures[cpu]), peerCpu = Rounds(figures[cpu + 1]);
    for (size_t i = 0; i < oursWall.size() && i < oursCpu.size(); ++i)
        series.ours.push_back({oursWall[i], oursCpu[i]});
    for (size_t i = 0; i < peerWall.size() && i < peerCpu.size(); ++i)
        series.peer.push_back({peerWall[i], peerCpu[i]});
    return series;
}

// Wall time is the median call of each block, CPU time the block's mean per call; then the
// mean and the 90th percentile call of each block.
constexpr int kFiguresPerRounds = 8;
void PrintRounds(const std::string& work, const std::string* figures) {
    const char* ours = "window.external.Call";
    const char* peer = "message handler + reply";
    bench::Print(work + ", median call", ours, peer, SeriesOf(figures, 0, 2), 1e6, "us");
    bench::PrintWall(work + ", mean call", ours, peer, SeriesOf(figures, 4, 2), 1e6, "us");
    bench::PrintWall(work + ", p90 call", ours, peer, SeriesOf(figures, 6, 2), 1e6, "us");
}

// How a notification reaches the page: the bridge's call of the page's function, the script
// text evaluated afresh (what the bridge did before), or nothing (the idle baseline).
enum class NoteWay { kCall, kScript, kIdle };

struct NoteBlock {
    BenchPanel* panel;
    NoteWay way;
    int sent = 0;
    bool ticking = true;
};

gboolean SendNote(gpointer data) {
    auto* block = static_cast<NoteBlock*>(data);
    ++block->sent;
    const std::vector<std::string> args{"flashkit", std::to_string(block->sent),
                                        std::to_string(kNotesPerBlock), "download"};
    if (block->way == NoteWay::kCall) {
        block->panel->Bridge().NotifyArgs("brushprogress", args);
    } else if (block->way == NoteWay::kScript) {
        // As the bridge did it: the script made on the sender's side, run on the GUI thread.
        os::PostToGuiThread(
            [view = block->panel->View(), script = HostNotifyScript("brushprogress", args)] {
                view->RunScript(script);
            });
    }
    block->ticking = block->sent < kNotesPerBlock;
    return block->ticking ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

// One paced block of notifications: the tree's CPU seconds until the page has the last.
std::optional<double> NoteBlockCpu(BenchPanel& panel, NoteWay way, const std::vector<long>& tree) {
    panel.noted = false;
    NoteBlock block{&panel, way};
    const double before = bench::ThreadsCpuSeconds(tree);
    g_timeout_add(kNoteGapMs, SendNote, &block);
    const gint64 deadline = g_get_monotonic_time() + 30 * G_USEC_PER_SEC;
    while ((block.ticking || (way != NoteWay::kIdle && !panel.noted)) &&
           g_get_monotonic_time() < deadline)
        g_main_context_iteration(nullptr, TRUE);
    if (block.ticking || (way != NoteWay::kIdle && !panel.noted)) return std::nullopt;
    return bench::ThreadsCpuSeconds(tree) - before;
}

bool PrintNotifications(BenchPanel& panel) {
    const std::vector<long> tree = bench::ProcessTree(getpid());
    std::vector<double> idle;
    auto side = [&](NoteWay way) -> std::optional<bench::Cost> {
        const auto cpu = NoteBlockCpu(panel, way, tree);
        const auto rest = NoteBlockCpu(panel, NoteWay::kIdle, tree);
        if (!cpu || !rest) return std::nullopt;
        idle.push_back(*rest / kNotesPerBlock);
        return bench::Cost{0, *cpu / kNotesPerBlock};
    };
    for (const NoteWay way : {NoteWay::kCall, NoteWay::kScript})  // warm-up
        if (!side(way)) return false;
    idle.clear();
    auto series = bench::Alternate(
        kNoteRounds, [&] { return side(NoteWay::kCall); }, [&] { return side(NoteWay::kScript); });
    if (!series) return false;
    const double idleSlot = bench::SpreadOf(idle).median;
    bench::Subtract(series->ours, {0, idleSlot});
    bench::Subtract(series->peer, {0, idleSlot});
    std::printf(
        "page notifications, %d progress notifications %u ms apart per block, tree CPU "
        "per notification less an idle slot (%.1f us)\n",
        kNotesPerBlock, kNoteGapMs, idleSlot * 1e6);
    bench::PrintCpu("notification CPU", "page function call", "script evaluated", *series, 1e6,
                    "us");
    return true;
}

}  // namespace

// "notes": only the notification rows (for a profile of them).
int main(int argc, char** argv) {
    const bool notesOnly = argc > 1 && std::strcmp(argv[1], "notes") == 0;
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
    char page[16384];
    std::snprintf(page, sizeof page, kPage, notesOnly ? 0 : kCalls, notesOnly ? 0 : kBigCalls,
                  static_cast<int>(kBigArgument), static_cast<int>(kBigResult));
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
    const bool failed = panel.figures.size() > 1 && panel.figures[1] == "error";
    if (!panel.done || failed ||
        (!notesOnly && panel.figures.size() != 1 + 3 * kFiguresPerRounds)) {
        g_unlink(pagePath.c_str());
        g_rmdir(folder);
        std::fprintf(stderr, "BridgeBench: the page did not finish (%s)\n",
                     panel.figures.size() > 2 ? panel.figures[2].c_str() : "timeout");
        return 1;
    }
    if (!notesOnly) {
        std::printf("page command round trips, per call, alternating blocks\n");
        PrintRounds("no-op command, blocks of 500 calls", &panel.figures[1]);
        PrintRounds("no-op command, a busy loop on the last CPU",
                    &panel.figures[1 + kFiguresPerRounds]);
        PrintRounds("100 KiB argument, 1 MiB result, blocks of 20 calls",
                    &panel.figures[1 + 2 * kFiguresPerRounds]);
    }
    std::fflush(stdout);
    const bool notes = PrintNotifications(panel);
    g_unlink(pagePath.c_str());
    g_rmdir(folder);
    if (!notes) {
        std::fprintf(stderr, "BridgeBench: the page did not get its notifications\n");
        return 1;
    }
    return 0;
}
