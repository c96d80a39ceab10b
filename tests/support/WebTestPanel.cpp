#include "WebTestPanel.h"

#include <webkit2/webkit2.h>

#include "os/linux/WebHost.h"

namespace testsupport {

bool PrepareWebTests() {
    if (!os::InitGuiToolkit()) return false;
    os::SetWebExtensionsDirectory(std::string(MAPLENOOK_TEST_BINARY_DIR) + "/webext");
    return true;
}

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        g_main_context_iteration(nullptr, FALSE) || (g_usleep(1000), true);
    }
    return true;
}

WebTestPanel::WebTestPanel(const std::string& name, const std::string& moduleDirectory,
                           const std::string& trustedMainPage, int autoDeleteFlag)
    : CHtmlPanel(name, autoDeleteFlag, {}, TestRole()) {
    SetModuleDirectory(moduleDirectory);
    SetTrustedMainPage(trustedMainPage);
}

WebTestPanel::~WebTestPanel() {
    if (destroyedFlag != nullptr) *destroyedFlag = true;
}

CHtmlPanel::Role WebTestPanel::TestRole() {
    Role role;
    role.commands = [this](PageCommand& command) { return RunTestCommand(command); };
    role.events = [this](PanelEvent& event) {
        events.push_back(event.code);
        if (event.code == kEventDocumentComplete) ++documentsCompleted;
        if (!adjustAnswer) return false;
        BaseAnswer(event);
        adjustAnswer(event);
        return true;
    };
    role.quit = [this] { commands.push_back(1); };
    return role;
}

bool WebTestPanel::RunTestCommand(PageCommand& command) {
    if (command.name == "test.echo") {
        command.result = command.Item(1);
        return true;
    }
    if (command.name == "test.report") {
        reports.push_back(command.Item(1));
        command.result = std::string("ok");
        return true;
    }
    if (command.name == "test.name") {
        command.result = PanelName();
        return true;
    }
    return extraCommands && extraCommands(command) != 0;
}

bool WebTestPanel::OpenPage(const std::string& url) {
    if (!HasWindow() && !CreatePanel()) return false;
    const int before = documentsCompleted;
    if (!NavigatePage(url)) return false;
    return PumpUntil([&] { return documentsCompleted > before; });
}

std::string WebTestPanel::Evaluate(const std::string& expression) {
    WebKitWebView* view = View() ? os::detail::NativeWebView(*View()) : nullptr;
    if (view == nullptr) return "<no view>";
    struct Outcome {
        bool done = false;
        std::string text;
    };
    // On the heap: a timed-out evaluation may still finish later.
    auto* outcome = new Outcome;
    webkit_web_view_evaluate_javascript(
        view, ("String(" + expression + ")").c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* out = static_cast<Outcome*>(data);
            GError* error = nullptr;
            JSCValue* value =
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (value != nullptr) {
                char* text = jsc_value_to_string(value);
                out->text = text ? text : "";
                g_free(text);
                g_object_unref(value);
            } else {
                out->text = std::string("<error: ") + (error ? error->message : "?") + ">";
                if (error) g_error_free(error);
            }
            out->done = true;
        },
        outcome);
    if (!PumpUntil([&] { return outcome->done; })) return "<timeout>";
    std::string text = outcome->text;
    delete outcome;
    return text;
}

}  // namespace testsupport
