#include "os/linux/ToolkitLanguage.h"

#include <libintl.h>
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <string>

#include "os/DiagnosticLog.h"
#include "os/PrivateFolder.h"

namespace os::detail {
namespace {

// The toolkit's own message catalogues that can reach the screen: GTK's labels (the folder
// chooser's places, columns and buttons), GLib's errors shown there, WebKit's.
constexpr const char* kDomains[] = {"gtk30", "glib20", "WebKitGTK-4.1"};
// Messages in "C.UTF-8", which every glibc system has, look up catalogues in a folder of that
// name; the program's own folder holds links there to the system's Simplified Chinese ones.
constexpr const char* kMessagesLocale = "C.UTF-8";

bool AlreadyChinese() {
    const char* current = std::setlocale(LC_MESSAGES, nullptr);
    return current != nullptr && std::strncmp(current, "zh_CN", 5) == 0;
}

// Points `domain` at `root` when the system has its Chinese catalogue; true then.
bool LinkCatalogue(const char* domain, const std::string& root, const std::string& messages) {
    const char* bound = bindtextdomain(domain, nullptr);
    if (bound == nullptr) return false;
    const std::string source = std::string(bound) + "/zh_CN/LC_MESSAGES/" + domain + ".mo";
    if (access(source.c_str(), R_OK) != 0) return false;
    const std::string link = messages + domain + ".mo";
    unlink(link.c_str());
    if (symlink(source.c_str(), link.c_str()) != 0) return false;
    bindtextdomain(domain, root.c_str());
    return true;
}

}  // namespace

void SpeakChineseInToolkitTexts() {
    static bool done = false;
    if (done) return;
    done = true;
    if (AlreadyChinese()) return;
    // A folder only this user can write: nobody else can swap a catalogue in it.
    const std::string root = PrivateUserFolder("maplenook-locale");
    if (root.empty()) return;
    const std::string locale = root + kMessagesLocale;
    const std::string messages = locale + "/LC_MESSAGES/";
    if (!MakePrivateFolder(locale) || !MakePrivateFolder(messages.substr(0, messages.size() - 1))) {
        LogWarning("toolkit texts stay in the desktop's language", root + ": cannot be made");
        return;
    }
    bool linked = false;
    for (const char* domain : kDomains) linked = LinkCatalogue(domain, root, messages) || linked;
    if (!linked) {
        LogWarning("toolkit texts stay in the desktop's language",
                   "the system has no Simplified Chinese catalogue for GTK");
        return;
    }
    if (std::setlocale(LC_MESSAGES, kMessagesLocale) == nullptr)
        LogWarning("toolkit texts stay in the desktop's language",
                   std::string(kMessagesLocale) + " is not available");
}

}  // namespace os::detail
