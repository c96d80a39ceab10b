#include "web/CommonCommands.h"

#include "base/CommandLine.h"
#include "os/Window.h"

#include <algorithm>
#include <climits>

namespace {

void RunApp(PageCommand& command, CommonCommandTarget& target) {
    // Without a program there is nothing to start; the page sees the untouched -1.
    if (!command.Has(1)) return;
    std::string file = command.Item(1);
    if (!file.empty() && file.front() == '\\') {
        file = target.CommandModuleDirectory() + file;
        for (auto& c : file) {
            if (c == '\\') c = '/';
        }
    }
    const std::string& parameters = command.Item(2);
    std::vector<std::string> args;
    if (parameters != "0") args = SplitCommandLine(parameters);
    const bool shown = IsIntegerText(command.Item(3));
    command.result = int32_t{target.StartProgram(file, args, shown) ? 1 : 0};
}

// The shift, cut so that both edges stay within int: a page asking for any distance moves the
// window as far as it can go, never wrapping an edge round and turning its size inside out.
int ShiftWithin(int low, int high, long delta) {
    const long long least = static_cast<long long>(INT_MIN) - std::min(low, high);
    const long long most = static_cast<long long>(INT_MAX) - std::max(low, high);
    return static_cast<int>(std::clamp<long long>(delta, least, most));
}

void MovePanel(const PageCommand& command, os::Window* window) {
    if (window == nullptr || !command.Has(2)) return;
    MoveWindowBy(*window, ReadCommandNumber(command.Item(1)), ReadCommandNumber(command.Item(2)));
}

void ApplyStyleChange(uint32_t before, uint32_t after, os::Window& window) {
    const uint32_t changed = before ^ after;
    if (changed & kStyleMaximized) {
        if (after & kStyleMaximized) {
            window.Maximize();
        } else {
            window.Restore();
        }
    }
    if (changed & kStyleMinimized) {
        if (after & kStyleMinimized) {
            window.Minimize();
        } else {
            window.Restore();
        }
    }
    if (changed & kStyleVisible) {
        if (after & kStyleVisible) {
            window.Show();
        } else {
            window.Hide();
        }
    }
}

void ApplyExStyleChange(uint32_t before, uint32_t after, os::Window& window) {
    const uint32_t changed = before ^ after;
    if (changed & kExStyleTopmost) window.SetKeepAbove((after & kExStyleTopmost) != 0);
    if (changed & kExStyleToolWindow) window.SetSkipTaskbar((after & kExStyleToolWindow) != 0);
}

void ChangeStyle(const PageCommand& command, os::Window* window, uint32_t& stored, bool extended) {
    if (command.tokens.size() < 3) return;
    const uint32_t current = window == nullptr ? stored
                             : extended        ? CurrentExStyle(stored, *window)
                                               : CurrentStyle(stored, *window);
    const auto set = static_cast<uint32_t>(ReadCommandNumber(command.Item(1)));
    const auto replace = static_cast<uint32_t>(ReadCommandNumber(command.Item(2)));
    const uint32_t wanted = set | (current & ~replace);
    if (wanted == current) return;
    stored = wanted;
    if (window == nullptr) return;
    if (extended) {
        ApplyExStyleChange(current, wanted, *window);
    } else {
        ApplyStyleChange(current, wanted, *window);
    }
}

void TogglePanel(os::Window* window) {
    if (window == nullptr) return;
    if (window->IsVisible()) {
        window->Hide();
    } else {
        window->Show();
    }
}

using Target = CommonCommandTarget;

// The style words of the panel, as the page last wrote them.
struct StyleWords {
    uint32_t& style;
    uint32_t& exStyle;
};

// A command the page may send every panel.
struct CommonCommand {
    const char* name;
    void (*run)(PageCommand& command, Target& target, StyleWords& words);
};

// Accepted names without an effect on Linux still answer, so the page sees them handled.
constexpr CommonCommand kCommonCommands[] = {
    {"app.run", [](PageCommand& c, Target& t, StyleWords&) { RunApp(c, t); }},
    {"app.quit", [](PageCommand&, Target& t, StyleWords&) { t.QuitProgram(); }},
    {"panel.maxsize",
     [](PageCommand&, Target& t, StyleWords&) {
         if (auto* window = t.CommandWindow()) window->Maximize();
     }},
    {"panel.normalsize",
     [](PageCommand&, Target& t, StyleWords&) {
         if (auto* window = t.CommandWindow()) window->Restore();
     }},
    {"panel.minsize",
     [](PageCommand&, Target& t, StyleWords&) {
         if (auto* window = t.CommandWindow()) window->Minimize();
     }},
    {"panel.move", [](PageCommand& c, Target& t, StyleWords&) { MovePanel(c, t.CommandWindow()); }},
    {"panel.clientarea", [](PageCommand&, Target&, StyleWords&) {}},
    {"panel.style", [](PageCommand& c, Target& t,
                       StyleWords& w) { ChangeStyle(c, t.CommandWindow(), w.style, false); }},
    {"panel.exstyle", [](PageCommand& c, Target& t,
                         StyleWords& w) { ChangeStyle(c, t.CommandWindow(), w.exStyle, true); }},
    {"panel.create", [](PageCommand&, Target&, StyleWords&) {}},
    {"panel.close", [](PageCommand&, Target& t, StyleWords&) { t.ClosePanel(); }},
    {"panel.toggle", [](PageCommand&, Target& t, StyleWords&) { TogglePanel(t.CommandWindow()); }},
    {"panel.slide", [](PageCommand&, Target&, StyleWords&) {}},
};

const CommonCommand* FindCommonCommand(const std::string& name) {
    for (const CommonCommand& entry : kCommonCommands)
        if (name == entry.name) return &entry;
    return nullptr;
}

}  // namespace

void MoveWindowBy(os::Window& window, long dx, long dy) {
    os::Rect rect = window.ScreenRect();
    const int x = ShiftWithin(rect.left, rect.right, dx);
    const int y = ShiftWithin(rect.top, rect.bottom, dy);
    rect.left += x;
    rect.right += x;
    rect.top += y;
    rect.bottom += y;
    window.MoveResize(rect);
}

uint32_t CurrentStyle(uint32_t stored, const os::Window& window) {
    uint32_t style = stored & ~(kStyleVisible | kStyleMinimized | kStyleMaximized);
    if (window.IsVisible()) style |= kStyleVisible;
    if (window.IsMinimized()) style |= kStyleMinimized;
    if (window.IsMaximized()) style |= kStyleMaximized;
    return style;
}

uint32_t CurrentExStyle(uint32_t stored, const os::Window& window) {
    uint32_t style = stored & ~(kExStyleTopmost | kExStyleToolWindow);
    if (window.IsKeepAbove()) style |= kExStyleTopmost;
    if (window.IsSkipTaskbar()) style |= kExStyleToolWindow;
    return style;
}

bool CommonCommands::Run(PageCommand& command) {
    const CommonCommand* found = FindCommonCommand(command.name);
    if (found == nullptr) return false;
    StyleWords words{style_, exStyle_};
    found->run(command, target_, words);
    return true;
}

bool IsCommonCommand(const std::string& name) {
    return FindCommonCommand(name) != nullptr;
}
