#pragma once
#include <string>

namespace os {

// A modal message box with an error icon and a 确定 button; blocks in a nested main loop until
// it is closed. An empty caption gives 错误. Call on the GUI thread.
void ShowMessageBox(const std::string& text, const std::string& caption = {});
// Answers every open modal dialog (the folder chooser, a message box) "closed", so each
// caller goes on as after a cancel once its nested loop returns; false when none was open.
bool CloseModalDialogs();

}  // namespace os
