#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/WebView.h"
#include "web/PageCommand.h"

// Between a panel's page and the program. Every window.external.Call of the page comes in with
// the calling document's address; only a trusted page gets through, its command is parsed and
// offered to the command sets in the order they were added, and the first set that knows the
// name answers it. The other way, the bridge queues hostNotify calls for the page.
class PageBridge {
  public:
    // A set of page commands: true when it knows `command.name` (it then fills the result).
    using CommandSet = std::function<bool(PageCommand& command)>;
    // Queues hostNotify('<event>','<args[0]>',...) for the page; any thread, and safe to keep
    // after the bridge is gone (the page then gets nothing).
    using Notifier =
        std::function<void(const std::string& event, const std::vector<std::string>& args)>;

    PageBridge(std::string trustedMainPage, std::string moduleDirectory);
    ~PageBridge();
    PageBridge(const PageBridge&) = delete;
    PageBridge& operator=(const PageBridge&) = delete;

    // Whose origin counts as the main page, and the installed folder file pages must be in.
    void SetTrust(std::string trustedMainPage, std::string moduleDirectory);
    void AddCommandSet(CommandSet set);

    // The view's page calls come here and notifications run in it, until the bridge goes.
    // GUI thread.
    void Attach(os::WebView& view);
    // The text for the calling element's "result"; none leaves it untouched (an untrusted
    // page, or a call left over from an earlier page). GUI thread.
    std::optional<std::string> Answer(const os::BridgeCall& call);
    // Parses the command text and runs it through the sets: the result. A missing text, a text
    // that is no command and a name no set knows all give -1.
    CommandResult Execute(const std::optional<std::string>& param);

    // Queues hostNotify('<event>'[,'<data>']): the page's function gets each argument as
    // exactly its text (data's ',' separates further arguments; bytes that are not UTF-8
    // arrive as U+FFFD). Any thread; runs later on the GUI thread in order, dropped when the
    // bridge or its view is gone.
    void Notify(const std::string& event, const std::optional<std::string>& data = {});
    void NotifyArgs(const std::string& event, const std::vector<std::string>& args);
    Notifier MakeNotifier() const;

  private:
    // What queued notifications find on the GUI thread; gone with the bridge.
    struct Page {
        os::WebView* view = nullptr;
    };
    // `args`: the event first, then its arguments.
    static void Queue(const std::weak_ptr<Page>& page, std::vector<std::string> args);
    static void Queue(const std::weak_ptr<Page>& page, const std::string& event,
                      const std::vector<std::string>& args);
    bool Trusted(const os::BridgeCall& call);
    // Whether the server of a loopback document is still the user's own; asked again at most
    // once a second per document, since it reads the system's socket tables.
    bool ServedByTheUser(const std::string& documentUrl);

    std::string trustedMainPage_;
    std::string moduleDirectory_;
    std::vector<CommandSet> sets_;
    struct ServerCheck {
        std::string documentUrl;
        bool usersOwn = false;
        std::chrono::steady_clock::time_point at{};
    };
    ServerCheck lastServerCheck_;
    const std::shared_ptr<Page> page_ = std::make_shared<Page>();
};
