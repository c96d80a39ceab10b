#include "web/PageBridge.h"

#include "base/LoopbackOwner.h"
#include "os/DiagnosticLog.h"
#include "os/GuiThread.h"
#include "os/PanelEventCodes.h"
#include "web/PageAddress.h"
#include "web/ScriptText.h"

namespace {

// scheme://host[:port] of an address as a browser spells it.
std::string OriginOf(const std::string& url) {
    const std::string canonical = CanonicalAddress(url);
    const size_t scheme = canonical.find("://");
    if (scheme == std::string::npos) return canonical;
    return canonical.substr(0, canonical.find('/', scheme + 3));
}

}  // namespace

PageBridge::PageBridge(std::string trustedMainPage, std::string moduleDirectory)
    : trustedMainPage_(std::move(trustedMainPage)), moduleDirectory_(std::move(moduleDirectory)) {
    page_->bridge = this;
}

PageBridge::~PageBridge() {
    if (page_->view != nullptr) page_->view->SetBridgeHandler({});
    // A notification being queued on a worker may hold the page a moment longer.
    page_->view = nullptr;
    page_->bridge = nullptr;
}

void PageBridge::SetTrust(std::string trustedMainPage, std::string moduleDirectory) {
    trustedMainPage_ = std::move(trustedMainPage);
    moduleDirectory_ = std::move(moduleDirectory);
}

void PageBridge::AddCommandSet(CommandSet set) {
    sets_.push_back(std::move(set));
}

void PageBridge::Attach(os::WebView& view) {
    page_->view = &view;
    view.SetBridgeHandler([this](const os::BridgeCall& call) { return Answer(call); });
}

void PageBridge::Observe(os::WebEvent& event) {
    if (event.code == kEventBeforeNavigate2 && !event.cancel && AnotherUserServes(event.url)) {
        // Checked before the browser connects: nothing is asked of another user's server.
        // The same holds for a reload after the web process ended, which navigates too.
        os::LogWarning("page load refused: another user serves the loopback address", event.url);
        event.cancel = true;
        event.refusedByOwner = true;
        return;
    }
    if (event.code != kEventNavigateComplete2 || !event.topFrame) return;
    // Decided once for the document: had anyone else been able to answer its address when it
    // came, it stays untrusted, even once the port is the user's again.
    page_->documentUrl = event.url;
    page_->servedByTheUser = !AnotherUserServes(event.url);
    page_->document.fetch_add(1);
    if (!page_->servedByTheUser)
        os::LogWarning("page not trusted: another user could answer its address", event.url);
}

bool PageBridge::Trusted(const os::BridgeCall& call) {
    // The calling document's address was taken when its Call was made; the view must still
    // show a trusted page as well, so a call left over from an earlier page runs nothing.
    // Checked again only when it differs: resolving a file page's path costs system calls.
    return DocumentTrusted(call.documentUrl) &&
           (call.shownUrl == call.documentUrl ||
            IsTrustedPage(call.shownUrl, trustedMainPage_, moduleDirectory_));
}

bool PageBridge::DocumentTrusted(const std::string& url) {
    if (!IsTrustedPage(url, trustedMainPage_, moduleDirectory_)) return false;
    // A call may come in before the view has told of its document's commit: it then has only
    // the check of now, as the commit's verdict will be taken no earlier.
    if (page_->document.load() != 0 && OriginOf(url) == OriginOf(page_->documentUrl) &&
        !page_->servedByTheUser)
        return false;
    return ServedByTheUser(url);
}

bool PageBridge::ServedByTheUser(const std::string& documentUrl) {
    // Anyone on the machine can bind a free loopback port: a page from there is the maker's
    // only while the user (or root) is the one serving it.
    if (!LoopbackPortOf(documentUrl)) return true;
    const auto now = std::chrono::steady_clock::now();
    if (lastServerCheck_.documentUrl != documentUrl ||
        now - lastServerCheck_.at > std::chrono::seconds(1)) {
        lastServerCheck_ = {documentUrl, AddressMayBeUsed(documentUrl), now};
    }
    return lastServerCheck_.usersOwn;
}

std::optional<std::string> PageBridge::Answer(const os::BridgeCall& call) {
    if (!Trusted(call)) {
        const std::optional<PageCommand> command =
            call.param ? ParsePageCommand(*call.param) : std::nullopt;
        os::LogWarning("bridge call refused",
                       call.documentUrl + " (shown " + call.shownUrl +
                           "): " + (command ? command->name : std::string("no command")));
        return std::nullopt;
    }
    return CommandResultText(Execute(call.param));
}

CommandResult PageBridge::Execute(const std::optional<std::string>& param) {
    if (!param) return int16_t{-1};
    std::optional<PageCommand> command = ParsePageCommand(*param);
    if (!command) return int16_t{-1};
    for (const CommandSet& set : sets_) {
        if (set(*command)) break;
    }
    return std::move(command->result);
}

void PageBridge::Notify(const std::string& event, const std::optional<std::string>& data) {
    Queue(page_, HostNotifyArgs(event, data));
}

void PageBridge::NotifyArgs(const std::string& event, const std::vector<std::string>& args) {
    Queue(page_, event, args);
}

PageBridge::Notifier PageBridge::MakeNotifier() const {
    return [page = std::weak_ptr<Page>(page_)](const std::string& event,
                                               const std::vector<std::string>& args) {
        Queue(page, event, args);
    };
}

void PageBridge::Queue(const std::weak_ptr<Page>& page, const std::string& event,
                       const std::vector<std::string>& args) {
    std::vector<std::string> all{event};
    all.insert(all.end(), args.begin(), args.end());
    Queue(page, std::move(all));
}

void PageBridge::Queue(const std::weak_ptr<Page>& page, std::vector<std::string> args) {
    // The page gets what a string literal of each text would give it: bytes that are not
    // UTF-8 as U+FFFD.
    for (std::string& arg : args) arg = WellFormedUtf8(arg);
    const std::shared_ptr<Page> queuedFor = page.lock();
    if (!queuedFor) return;
    const uint64_t document = queuedFor->document.load();
    os::PostToGuiThread([page, document, args = std::move(args)] {
        const std::shared_ptr<Page> alive = page.lock();
        // Meant for a page that has gone: whatever document is on top now is not told.
        if (!alive || alive->view == nullptr || alive->bridge == nullptr ||
            alive->document.load() != document)
            return;
        if (!alive->bridge->DocumentTrusted(alive->view->CurrentUri())) return;
        alive->view->CallPageFunction("hostNotify", args);
    });
}
