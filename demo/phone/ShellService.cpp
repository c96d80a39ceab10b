#include "ShellService.h"

#include "AdbMessage.h"
#include "SyncService.h"

namespace phone {

namespace {

constexpr int kStdin = 0;
constexpr int kStdout = 1;
constexpr int kStderr = 2;
constexpr int kExit = 3;
constexpr int kCloseStdin = 4;

// What a terminal shows for output: each line end as a carriage return and a line feed.
std::string ForTerminal(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

ShellService::ShellService(PhoneState& phone, bool v2, bool pty, std::string command)
    : phone_(phone), v2_(v2), pty_(pty), command_(std::move(command)) {}

void ShellService::Emit(int id, const std::string& text) {
    if (text.empty()) return;
    const std::string shown = pty_ ? ForTerminal(text) : text;
    if (!v2_) {
        outbox += shown;
        return;
    }
    outbox.push_back(static_cast<char>(id));
    AppendLe32(outbox, static_cast<uint32_t>(shown.size()));
    outbox += shown;
}

void ShellService::Exit(int code) {
    if (v2_) {
        outbox.push_back(static_cast<char>(kExit));
        AppendLe32(outbox, 1);
        outbox.push_back(static_cast<char>(code & 0xff));
    }
    finished = true;
}

void ShellService::Start() {
    if (!command_.empty()) {
        const ShellResult result = RunShellCommand(phone_, command_);
        Emit(kStdout, result.out);
        Emit(kStderr, result.err);
        Exit(result.exitCode);
        return;
    }
    phone_.Record("shell: (interactive)");
    Emit(kStdout, kPrompt);
}

void ShellService::RunLine() {
    const ShellResult result = RunShellCommand(phone_, line_);
    line_.clear();
    Emit(kStdout, result.out);
    Emit(kStderr, result.err);
    if (result.exitShell) {
        Exit(result.exitCode);
        return;
    }
    Emit(kStdout, kPrompt);
}

// On a terminal the shell echoes what is typed, takes back a character on backspace and ends
// on Ctrl-D at the start of a line.
bool ShellService::TerminalKey(char c) {
    if (c == 0x7f || c == '\b') {
        if (!line_.empty()) {
            line_.pop_back();
            Emit(kStdout, "\b \b");
        }
        return true;
    }
    if (c == 0x04 && line_.empty()) {
        Exit(0);
        return true;
    }
    Emit(kStdout, c == '\r' ? std::string("\n") : std::string(1, c));
    return false;
}

bool ShellService::Input(std::string_view bytes) {
    for (char c : bytes) {
        if (finished) return true;
        if (pty_ && TerminalKey(c)) continue;
        // "\r\n" ends one line, not two.
        const bool skip = c == '\n' && lastWasReturn_;
        lastWasReturn_ = c == '\r';
        if (skip) continue;
        if (c == '\r' || c == '\n') {
            RunLine();
        } else if (line_.size() < kMaxLine) {
            line_ += c;
        } else {
            return false;
        }
    }
    return true;
}

bool ShellService::Receive(std::string_view bytes) {
    if (finished) return true;
    if (!v2_) return Input(bytes);
    packets_.append(bytes);
    while (!finished && packets_.size() >= 5) {
        const uint32_t length = ReadLe32(packets_.data() + 1);
        if (length > kMaxLine) return false;
        if (packets_.size() < 5 + length) break;
        const int id = static_cast<unsigned char>(packets_[0]);
        const std::string data = packets_.substr(5, length);
        packets_.erase(0, 5 + length);
        if (id == kStdin && !Input(data)) return false;
        if (id == kCloseStdin) Exit(0);
    }
    return true;
}

std::unique_ptr<Service> OpenService(PhoneState& phone, std::string_view destination) {
    // Hosts end the destination with a zero byte.
    while (!destination.empty() && destination.back() == '\0') destination.remove_suffix(1);
    if (destination == "sync:") return std::make_unique<SyncService>(phone);
    if (destination.substr(0, 5) != "shell") return nullptr;
    const auto colon = destination.find(':');
    if (colon == std::string_view::npos) return nullptr;
    const std::string_view options = destination.substr(5, colon - 5);
    bool v2 = false;
    bool pty = false;
    size_t at = 0;
    while (at < options.size()) {
        if (options[at] != ',') return nullptr;
        const auto next = options.find(',', at + 1);
        const std::string_view option = options.substr(at + 1, next - at - 1);
        v2 = v2 || option == "v2";
        pty = pty || option == "pty";
        at = next == std::string_view::npos ? options.size() : next;
    }
    // An interactive shell without "raw" gets a terminal, as on a phone.
    const std::string command(destination.substr(colon + 1));
    if (command.empty() && options.find("raw") == std::string_view::npos) pty = true;
    return std::make_unique<ShellService>(phone, v2, pty, command);
}

}  // namespace phone
