// Page command texts as a hostile page sends them: the parser, the number and integer readings
// of every argument, the command-line splitting behind "app.run", and the common command set
// run against an in-memory window.
//
// Input: the command text itself ("app:panel.move&10&-20").
#include "FakeWindow.h"
#include "base/CommandLine.h"
#include "web/CommonCommands.h"
#include "web/PageCommand.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "page command property broken: %s\n", what);
    std::abort();
}

class Target : public CommonCommandTarget {
  public:
    os::Window* CommandWindow() override { return window.alive ? &window : nullptr; }
    std::string CommandModuleDirectory() const override { return "/opt/maplenook"; }
    void QuitProgram() override {}
    void ClosePanel() override { window.Destroy(); }
    bool StartProgram(const std::string& file, const std::vector<std::string>& args,
                      bool) override {
        started.push_back(file);
        startedArgs = args;
        return true;
    }

    testsupport::FakeWindow window;
    std::vector<std::string> started;
    std::vector<std::string> startedArgs;
};

std::vector<std::string> NonEmptyPieces(const std::string& text) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('&', start);
        const std::string piece = text.substr(start, end - start);
        if (!piece.empty()) pieces.push_back(piece);
        if (end == std::string::npos) return pieces;
        start = end + 1;
    }
}

// The C library's reading of a decimal number, held to 32 bits as window coordinates are.
long ReferenceNumber(const std::string& text) {
    const std::string upToNul = text.c_str();
    errno = 0;
    const long long value = std::strtoll(upToNul.c_str(), nullptr, 10);
    return static_cast<long>(value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : value);
}

bool ReferenceIsInteger(const std::string& text) {
    size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    if (i == text.size()) return false;
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        if (value <= 1LL + INT_MAX) value = value * 10 + (text[i] - '0');
    }
    return text[0] == '-' ? -value >= INT_MIN : value <= INT_MAX;
}

// How a Windows program quotes one argument so that its command-line parser gives it back.
std::string Quoted(const std::string& arg) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const auto pieces = NonEmptyPieces(text);
    auto command = ParsePageCommand(text);
    const bool isCommand = !pieces.empty() && pieces[0].compare(0, 4, "app:") == 0;
    Require(command.has_value() == isCommand, "a text was taken or refused wrongly as a command");
    if (!command) return 0;
    Require(command->tokens == pieces, "the pieces differ from the text's");
    Require(command->name == pieces[0].substr(4), "the name is not the first piece's");
    Require(CommandResultText(command->result) == "-1", "a fresh command has a result");

    std::string joined;
    for (const auto& piece : command->tokens) {
        Require(ReadCommandNumber(piece) == ReferenceNumber(piece), "a number reads wrongly");
        Require(IsIntegerText(piece) == ReferenceIsInteger(piece), "an integer test is wrong");
        (void)SplitCommandLine(piece);
        joined += (joined.empty() ? "" : " ") + Quoted(piece);
    }
    // Any list of arguments, quoted as Windows quotes them, splits back into the same list.
    Require(SplitCommandLine(joined) == command->tokens, "quoted arguments split differently");

    Target target;
    CommonCommands common(target);
    const os::Rect before = target.window.rect;
    const bool known = common.Run(*command);
    const std::string result = CommandResultText(command->result);
    if (!known) Require(result == "-1", "an unknown command has a result");
    if (command->name == "app.run" && command->Has(1)) {
        Require(target.started.size() == 1 && result == "1", "app.run did not start once");
        Require(
            target.started[0].find('\\') == std::string::npos || command->Item(1).front() != '\\',
            "a module path kept a backslash");
    }
    // A move keeps the window's size, however far the page asks.
    const os::Rect& after = target.window.rect;
    Require(static_cast<long long>(after.right) - after.left ==
                    static_cast<long long>(before.right) - before.left &&
                static_cast<long long>(after.bottom) - after.top ==
                    static_cast<long long>(before.bottom) - before.top,
            "a window changed size");
    return 0;
}
