#include "os/Dialogs.h"

#include <cstdio>

// No platform: a message box cannot be shown; its text goes to standard error.
namespace os {

void ShowMessageBox(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

}  // namespace os
