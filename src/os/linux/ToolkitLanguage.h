#pragma once
// Internal to the Linux OS layer: the language of the toolkit's own texts.

namespace os::detail {

// The program's pages and texts are Simplified Chinese: GTK's own labels in its dialogs (the
// folder chooser's places and columns) follow, whatever the desktop's locale, when the system
// has GTK's Chinese catalogue. Only the messages category changes; numbers, dates and the
// environment handed to started programs stay the user's. Called before a dialog is made (the
// first time only: a start that shows nothing leaves nothing behind); GUI thread.
void SpeakChineseInToolkitTexts();

}  // namespace os::detail
