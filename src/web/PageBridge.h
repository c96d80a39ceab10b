#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
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
    // The view's navigations and documents, seen before the panel's own handler. A navigation
    // (of any frame) to a loopback address another user serves is cancelled before anything is
    // asked of it, and marked `refusedByOwner`. A committed top document keeps, for its life,
    // whether anyone else could have answered its address when it came. GUI thread.
    void Observe(os::WebEvent& event);
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
        // The top document committed last: its address, its number (counting commits), and
        // whether no other user's socket could answer its address when it came.
        std::string documentUrl;
        std::atomic<uint64_t> document{0};
        bool servedByTheUser = false;
        PageBridge* bridge = nullptr;
    };
    // `args`: the event first, then its arguments.
    // Each notification belongs to the document on top when it was queued: it runs only in
    // that document, and only while the document is trusted.
    static void Queue(const std::weak_ptr<Page>& page, std::vector<std::string> args);
    static void Queue(const std::weak_ptr<Page>& page, const std::string& event,
                      const std::vector<std::string>& args);
    bool Trusted(const os::BridgeCall& call);
    // Whether the document at `url` may be given commands or notifications: a trusted page
    // whose document's verdict, kept since it committed, and the server now both say the
    // user's own.
    bool DocumentTrusted(const std::string& url);
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
