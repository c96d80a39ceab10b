#pragma once
#include <string>

namespace os {

// A modal message box with an error icon and an OK button; blocks in a nested main loop until
// it is closed. An empty caption gives the default error caption. Call on the GUI thread.
void ShowMessageBox(const std::string& text, const std::string& caption = {});

}  // namespace os
