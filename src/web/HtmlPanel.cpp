#include "web/HtmlPanel.h"

#include "os/Screen.h"

#include <atomic>
#include <unordered_map>

#include "BuildConfig.h"
#include "base/Settings.h"
#include "os/Files.h"
#include "os/GuiThread.h"
#include "os/Shell.h"
#include "web/PageAddress.h"
#include "web/ScriptText.h"

namespace {

// The panels alive now, by id; touched on the GUI thread only. Posted notifications carry the
// id and find their panel here, so a notification for a panel that is gone is dropped.
std::unordered_map<uint64_t, CHtmlPanel*>& LivePanels() {
    static std::unordered_map<uint64_t, CHtmlPanel*> panels;
    return panels;
}

uint64_t NextPanelId() {
    static std::atomic<uint64_t> next{1};
    return next++;
}

constexpr const char* kProgramIconPath = "\\res\\skin\\icon.png";
constexpr uint32_t kTemplateStyle = 0x80000048;  // WS_POPUP | DS_SETFONT | DS_FIXEDSYS
constexpr long kBaseHostFlags =
    DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO | DOCHOSTUIFLAG_THEME;

}  // namespace

CHtmlPanel::CHtmlPanel(std::string name, int autoDeleteFlag, std::string settings)
    : autoDelete_(autoDeleteFlag),
      panelName_(std::move(name)),
      settingsPath_(std::move(settings)),
      moduleDirectory_(ModuleDirectory()),
      trustedMainPage_(MAPLENOOK_PAGE_URL),
      style_(kTemplateStyle),
      panelId_(NextPanelId()) {
    LivePanels()[panelId_] = this;
}

CHtmlPanel::~CHtmlPanel() {
    LivePanels().erase(panelId_);
    window_.reset();
}

bool CHtmlPanel::CreatePanel() {
    if (window_) return window_->IsAlive();
    ConfigureBrowser();

    os::PanelWindowOptions options;
    PanelEvent hostInfo;
    hostInfo.code = kUiGetHostInfo;
    OnPanelEvent(hostInfo);
    options.showScrollbars = (hostInfo.answer & DOCHOSTUIFLAG_SCROLL_NO) == 0;

    PanelEvent optionKey;
    optionKey.code = kUiGetOptionKeyPath;
    OnPanelEvent(optionKey);
    if (!optionKey.key.empty()) options.webDataFolder = os::UserDataFolderForKey(optionKey.key);

    // Drops stay off whatever the answer: the browser is never registered as a drop target.
    PanelEvent dropTarget;
    dropTarget.code = kUiGetDropTarget;
    OnPanelEvent(dropTarget);
    options.acceptDrops = false;

    window_ = os::CreatePanelWindow(options);
    if (!window_ || !window_->IsAlive()) {
        window_.reset();
        return false;
    }
    // The program's icon (resource 128) for the window manager and the task switcher.
    if (auto icon = os::DecodeImageFile(JoinModulePath(moduleDirectory_, kProgramIconPath))) {
        window_->SetIcon(*icon);
    }
    return OnInitPanel();
}

bool CHtmlPanel::OnInitPanel() {
    if (!window_) return false;
    const uint64_t id = panelId_;
    window_->SetWebEventHandler([id](PanelEvent& event) {
        auto found = LivePanels().find(id);
        if (found != LivePanels().end()) found->second->DispatchWebEvent(event);
    });
    window_->SetKeyHandler([this](const os::KeyEvent& key) { return OfferKeyToMessageLoop(key); });
    window_->SetCloseRequestHandler([this] { return OnCloseRequest(); });
    window_->SetDestroyHandler([this] {
        UnregisterMessageFilter();
        OnFinalMessage();
    });
    if (CMessageLoop* loop = GetMessageLoop()) {
        loop->AddMessageFilter(this);
        filterRegistered_ = true;
    }
    const os::Size client = window_->ClientSize();
    window_->SetWebViewBounds({0, 0, client.width, client.height});
    return window_->HasWebView();
}

void CHtmlPanel::ClosePanel() {
    if (window_) window_->Destroy();
}

void CHtmlPanel::ConfigureBrowser() {
    optionKeyPath_ = "Software\\quorlin\\webapp";
}

int CHtmlPanel::HandleAppCommand(PageCommand&) {
    return 0;
}

CommandResult CHtmlPanel::ExecuteCommand(const std::optional<std::string>& param) {
    if (!param) return int16_t{-1};
    std::optional<PageCommand> command = ParsePageCommand(*param);
    if (!command) return int16_t{-1};
    if (HandleAppCommand(*command) != 0) return command->result;
    RunCommonCommand(*command, *this);
    return command->result;
}

bool CHtmlPanel::OnPanelEvent(PanelEvent& event) {
    switch (event.code) {
        case kEventNavigateError:
            event.cancel = true;
            return true;
        case kUiShowContextMenu:
            event.answer = 0;
            return true;
        case kUiGetHostInfo:
            event.answer = kBaseHostFlags;
            return true;
        case kUiGetOptionKeyPath:
            if (!optionKeyPath_.empty()) event.key = optionKeyPath_;
            return true;
        case kUiGetExternal:
            event.answer = 1;
            return true;
        case WEBCTRL_CALL:
            HandleBridgeCall(event);
            return true;
        default:
            return false;
    }
}

void CHtmlPanel::DispatchWebEvent(PanelEvent& event) {
    if (event.code == WEBCTRL_CALL) {
        // Only trusted pages reach commands, and only when the panel hands out the bridge;
        // anything else is the "no target" case: the element is left alone. The calling
        // document's address was taken when its Call was made; the view must still show a
        // trusted page as well, so a call left over from an earlier page runs nothing.
        event.result.reset();
        if (!IsTrustedPage(event.url, trustedMainPage_, moduleDirectory_)) return;
        if (!HasWindow()) return;
        // Checked again only when it differs: resolving a file page's path costs system calls.
        const std::string shown = window_->CurrentUri();
        if (shown != event.url && !IsTrustedPage(shown, trustedMainPage_, moduleDirectory_)) return;
        PanelEvent external;
        external.code = kUiGetExternal;
        OnPanelEvent(external);
        if (external.answer == 0) return;
    }
    OnPanelEvent(event);
}

void CHtmlPanel::HandleBridgeCall(PanelEvent& event) {
    event.result = CommandResultText(ExecuteCommand(event.param));
}

namespace {
// The toolkit's modifier bits as a message carries them (GDK's shift, control and alt masks).
constexpr unsigned kModifierShift = 1u << 0;
constexpr unsigned kModifierControl = 1u << 2;
constexpr unsigned kModifierAlt = 1u << 3;
}  // namespace

os::KeyEvent CHtmlPanel::KeyOfMessage(const Message& msg) {
    os::KeyEvent key;
    key.keyval = static_cast<unsigned>(msg.key);
    key.pressed = msg.code == kMessageKeyDown;
    key.shift = (msg.modifiers & kModifierShift) != 0;
    key.control = (msg.modifiers & kModifierControl) != 0;
    key.alt = (msg.modifiers & kModifierAlt) != 0;
    return key;
}

bool CHtmlPanel::OfferKeyToMessageLoop(const os::KeyEvent& key) {
    Message msg;
    msg.window = window_ ? window_->Handle() : 0;
    msg.code = key.pressed ? kMessageKeyDown : kMessageKeyUp;
    msg.key = key.keyval;
    msg.modifiers = (key.shift ? kModifierShift : 0) | (key.control ? kModifierControl : 0) |
                    (key.alt ? kModifierAlt : 0);
    const os::ScreenPoint cursor = os::CursorPosition();
    msg.pointX = cursor.x;
    msg.pointY = cursor.y;
    CMessageLoop* loop = GetMessageLoop();
    // Without a running loop (a panel driven directly) the panel is its own only filter.
    if (loop == nullptr || !filterRegistered_) return PreTranslateMessage(msg);
    return loop->PreTranslateMessage(msg);
}

void CHtmlPanel::UnregisterMessageFilter() {
    if (!filterRegistered_) return;
    if (CMessageLoop* loop = GetMessageLoop()) loop->RemoveMessageFilter(this);
    filterRegistered_ = false;
}

bool CHtmlPanel::PreTranslateMessage(const Message& msg) {
    if (!window_ || msg.window != window_->Handle()) return false;
    if (msg.code != kMessageKeyDown && msg.code != kMessageKeyUp) return false;
    return TranslatePanelMessage(KeyOfMessage(msg));
}

bool CHtmlPanel::TranslatePanelMessage(const os::KeyEvent& key) {
    if (key.keyval == os::kKeyF5) f5Down_ = key.pressed;
    return key.pressed && f5Down_;
}

void CHtmlPanel::OnPanelCommand(int) {}

void CHtmlPanel::OnFinalMessage() {
    if (autoDelete_ == 0) return;
    // The window may go inside one of this object's own calls (a page command closing its
    // panel), so the object goes on the next turn of the loop, once that call has returned.
    LivePanels().erase(panelId_);
    os::PostToGuiThread([this] { delete this; });
}

bool CHtmlPanel::OnCloseRequest() {
    return true;
}

bool CHtmlPanel::NavigatePage(const std::string& text) {
    if (!HasWindow() || !window_->HasWebView()) return false;
    window_->LoadUri(PageTarget(text, os::ExecutablePath(), moduleDirectory_));
    return true;
}

std::string CHtmlPanel::ToFileUrl(const std::string& path) const {
    return FileUrlOf(path);
}

void CHtmlPanel::NotifyPage(const std::string& event, const std::optional<std::string>& data) {
    QueuePageScript(HostNotifyScript(event, data));
}

void CHtmlPanel::NotifyPageArgs(const std::string& event, const std::vector<std::string>& args) {
    QueuePageScript(HostNotifyScript(event, args));
}

void CHtmlPanel::QueuePageScript(std::string script) {
    const uint64_t id = panelId_;
    os::PostToGuiThread([id, script = std::move(script)] {
        auto found = LivePanels().find(id);
        if (found != LivePanels().end()) found->second->RunPageScript(script);
    });
}

void CHtmlPanel::RunPageScript(const std::string& text) {
    if (HasWindow()) window_->RunScript(text);
}

os::PanelWindow* CHtmlPanel::CommandWindow() {
    return HasWindow() ? window_.get() : nullptr;
}

bool CHtmlPanel::StartProgram(const std::string& file, const std::vector<std::string>& args,
                              bool /*shown*/) {
    // Linux has no hidden start state: either way the program runs detached, with no
    // terminal and its output on /dev/null.
    return os::ShellOpen(file, args);
}
