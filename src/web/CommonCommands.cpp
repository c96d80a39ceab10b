#include "web/CommonCommands.h"

#include "base/CommandLine.h"
#include "os/PanelWindow.h"

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

void MovePanel(const PageCommand& command, os::PanelWindow* window) {
    if (window == nullptr || !command.Has(2)) return;
    MoveWindowBy(*window, ReadCommandNumber(command.Item(1)), ReadCommandNumber(command.Item(2)));
}

void ApplyStyleChange(uint32_t before, uint32_t after, os::PanelWindow& window) {
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

void ApplyExStyleChange(uint32_t before, uint32_t after, os::PanelWindow& window) {
    const uint32_t changed = before ^ after;
    if (changed & kExStyleTopmost) window.SetKeepAbove((after & kExStyleTopmost) != 0);
    if (changed & kExStyleToolWindow) window.SetSkipTaskbar((after & kExStyleToolWindow) != 0);
}

void ChangeStyle(const PageCommand& command, CommonCommandTarget& target, bool extended) {
    if (command.tokens.size() < 3) return;
    os::PanelWindow* window = target.CommandWindow();
    uint32_t& stored = extended ? target.ExStyleWord() : target.StyleWord();
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

void TogglePanel(os::PanelWindow* window) {
    if (window == nullptr) return;
    if (window->IsVisible()) {
        window->Hide();
    } else {
        window->Show();
    }
}

using Target = CommonCommandTarget;

// A command the page may send every panel.
struct CommonCommand {
    const char* name;
    void (*run)(PageCommand& command, Target& target);
};

// Accepted names without an effect on Linux still answer, so the page sees them handled.
constexpr CommonCommand kCommonCommands[] = {
    {"app.run", [](PageCommand& c, Target& t) { RunApp(c, t); }},
    {"app.quit", [](PageCommand&, Target& t) { t.OnPanelCommand(1); }},
    {"panel.maxsize",
     [](PageCommand&, Target& t) {
         if (auto* window = t.CommandWindow()) window->Maximize();
     }},
    {"panel.normalsize",
     [](PageCommand&, Target& t) {
         if (auto* window = t.CommandWindow()) window->Restore();
     }},
    {"panel.minsize",
     [](PageCommand&, Target& t) {
         if (auto* window = t.CommandWindow()) window->Minimize();
     }},
    {"panel.move", [](PageCommand& c, Target& t) { MovePanel(c, t.CommandWindow()); }},
    {"panel.clientarea", [](PageCommand&, Target&) {}},
    {"panel.style", [](PageCommand& c, Target& t) { ChangeStyle(c, t, false); }},
    {"panel.exstyle", [](PageCommand& c, Target& t) { ChangeStyle(c, t, true); }},
    {"panel.create", [](PageCommand&, Target&) {}},
    {"panel.close", [](PageCommand&, Target& t) { t.ClosePanel(); }},
    {"panel.toggle", [](PageCommand&, Target& t) { TogglePanel(t.CommandWindow()); }},
    {"panel.slide", [](PageCommand&, Target&) {}},
};

const CommonCommand* FindCommonCommand(const std::string& name) {
    for (const CommonCommand& entry : kCommonCommands)
        if (name == entry.name) return &entry;
    return nullptr;
}

}  // namespace

void MoveWindowBy(os::PanelWindow& window, long dx, long dy) {
    os::Rect rect = window.ScreenRect();
    const int x = ShiftWithin(rect.left, rect.right, dx);
    const int y = ShiftWithin(rect.top, rect.bottom, dy);
    rect.left += x;
    rect.right += x;
    rect.top += y;
    rect.bottom += y;
    window.MoveResize(rect);
}

uint32_t CurrentStyle(uint32_t stored, const os::PanelWindow& window) {
    uint32_t style = stored & ~(kStyleVisible | kStyleMinimized | kStyleMaximized);
    if (window.IsVisible()) style |= kStyleVisible;
    if (window.IsMinimized()) style |= kStyleMinimized;
    if (window.IsMaximized()) style |= kStyleMaximized;
    return style;
}

uint32_t CurrentExStyle(uint32_t stored, const os::PanelWindow& window) {
    uint32_t style = stored & ~(kExStyleTopmost | kExStyleToolWindow);
    if (window.IsKeepAbove()) style |= kExStyleTopmost;
    if (window.IsSkipTaskbar()) style |= kExStyleToolWindow;
    return style;
}

bool RunCommonCommand(PageCommand& command, CommonCommandTarget& target) {
    const CommonCommand* found = FindCommonCommand(command.name);
    if (found == nullptr) return false;
    found->run(command, target);
    return true;
}

bool IsCommonCommand(const std::string& name) {
    return FindCommonCommand(name) != nullptr;
}
