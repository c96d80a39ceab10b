#include "web/HtmlPanel.h"

#include "os/Screen.h"

#include "BuildConfig.h"
#include "base/Settings.h"
#include "os/Files.h"
#include "os/GuiThread.h"
#include "os/Shell.h"
#include "web/PageAddress.h"

namespace {

constexpr const char* kProgramIconPath = "\\res\\skin\\icon.png";
constexpr long kBaseHostFlags =
    DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO | DOCHOSTUIFLAG_THEME;

}  // namespace

CHtmlPanel::CHtmlPanel(std::string name, int autoDeleteFlag, std::string settings, Role role)
    : autoDelete_(autoDeleteFlag),
      panelName_(std::move(name)),
      settingsPath_(std::move(settings)),
      moduleDirectory_(ModuleDirectory()),
      trustedMainPage_(MAPLENOOK_PAGE_URL),
      role_(std::move(role)),
      bridge_(trustedMainPage_, moduleDirectory_) {
    if (role_.commands) bridge_.AddCommandSet(role_.commands);
    bridge_.AddCommandSet([this](PageCommand& command) { return common_.Run(command); });
}

CHtmlPanel::~CHtmlPanel() {
    UnregisterMessageFilter();
}

void CHtmlPanel::SetModuleDirectory(std::string directory) {
    moduleDirectory_ = std::move(directory);
    bridge_.SetTrust(trustedMainPage_, moduleDirectory_);
}

void CHtmlPanel::SetTrustedMainPage(std::string url) {
    trustedMainPage_ = std::move(url);
    bridge_.SetTrust(trustedMainPage_, moduleDirectory_);
}

bool CHtmlPanel::CreatePanel() {
    if (window_) return window_->IsAlive();
    ConfigureBrowser();

    os::WebViewOptions options;
    PanelEvent hostInfo;
    hostInfo.code = kUiGetHostInfo;
    OnPanelEvent(hostInfo);
    options.showScrollbars = (hostInfo.answer & DOCHOSTUIFLAG_SCROLL_NO) == 0;

    PanelEvent optionKey;
    optionKey.code = kUiGetOptionKeyPath;
    OnPanelEvent(optionKey);
    if (!optionKey.key.empty()) options.dataFolder = os::UserDataFolderForKey(optionKey.key);

    // Drops stay off whatever the answer: the browser is never registered as a drop target.
    PanelEvent dropTarget;
    dropTarget.code = kUiGetDropTarget;
    OnPanelEvent(dropTarget);
    options.acceptDrops = false;

    window_ = os::CreateWindow();
    if (window_ && window_->IsAlive()) view_ = os::CreateWebView(*window_, options);
    if (!view_) {
        window_.reset();
        return false;
    }
    // The program's icon for the window manager and the task switcher.
    if (auto icon = os::DecodeImageFile(JoinModulePath(moduleDirectory_, kProgramIconPath))) {
        window_->SetIcon(*icon);
    }
    return OnInitPanel();
}

bool CHtmlPanel::OnInitPanel() {
    if (!window_ || !view_) return false;
    view_->SetEventHandler([this](PanelEvent& event) {
        bridge_.Observe(event);
        OnPanelEvent(event);
    });
    bridge_.Attach(*view_);
    window_->SetKeyHandler([this](const os::KeyEvent& key) { return OfferKeyToMessageLoop(key); });
    window_->SetCloseRequestHandler([this] { return !role_.closeRequest || role_.closeRequest(); });
    window_->SetDestroyHandler([this] {
        UnregisterMessageFilter();
        OnFinalMessage();
    });
    if (CMessageLoop* loop = GetMessageLoop()) {
        loop->AddMessageFilter(this);
        filterRegistered_ = true;
    }
    const os::Size client = window_->ClientSize();
    view_->SetBounds({0, 0, client.width, client.height});
    return view_->IsAlive();
}

void CHtmlPanel::ClosePanel() {
    if (role_.close) {
        role_.close();
    } else {
        DestroyWindow();
    }
}

void CHtmlPanel::DestroyWindow() {
    if (window_) window_->Destroy();
}

void CHtmlPanel::ConfigureBrowser() {
    optionKeyPath_ = "Software\\quorlin\\webapp";
}

bool CHtmlPanel::OnPanelEvent(PanelEvent& event) {
    return (role_.events && role_.events(event)) || BaseAnswer(event);
}

bool CHtmlPanel::BaseAnswer(PanelEvent& event) const {
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
        default:
            return false;
    }
}

os::KeyEvent CHtmlPanel::KeyOfMessage(const Message& msg) {
    return {msg.key, msg.code == kMessageKeyDown, msg.modifiers};
}

bool CHtmlPanel::OfferKeyToMessageLoop(const os::KeyEvent& key) {
    Message msg;
    msg.window = window_ ? window_->Handle() : 0;
    msg.code = key.pressed ? kMessageKeyDown : kMessageKeyUp;
    msg.key = key.key;
    msg.modifiers = key.modifiers;
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
    if (role_.keys && role_.keys(key)) return true;
    if (key.key == os::Key::F5) f5Down_ = key.pressed;
    return key.pressed && f5Down_;
}

void CHtmlPanel::OnFinalMessage() {
    if (autoDelete_ == 0) return;
    // The window may go inside one of this object's own calls (a page command closing its
    // panel), so the object goes on the next turn of the loop, once that call has returned.
    os::PostToGuiThread([this] { delete this; });
}

void CHtmlPanel::QuitProgram() {
    if (role_.quit) role_.quit();
}

bool CHtmlPanel::NavigatePage(const std::string& text) {
    if (!HasWindow() || !view_->IsAlive()) return false;
    view_->LoadUri(PageTarget(text, os::ExecutablePath(), moduleDirectory_));
    return true;
}

std::string CHtmlPanel::ToFileUrl(const std::string& path) const {
    return FileUrlOf(path);
}

void CHtmlPanel::RunPageScript(const std::string& text) {
    if (view_) view_->RunScript(text);
}

os::Window* CHtmlPanel::CommandWindow() {
    return HasWindow() ? window_.get() : nullptr;
}

bool CHtmlPanel::StartProgram(const std::string& file, const std::vector<std::string>& args,
                              bool /*shown*/) {
    // Linux has no hidden start state: either way the program runs detached, with no
    // terminal and its output on /dev/null.
    return os::ShellOpen(file, args);
}
