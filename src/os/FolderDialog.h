#pragma once
#include <optional>
#include <string>

namespace os {

// A modal folder chooser with `title` that accepts only folders of the file system; the chosen
// folder's path, or none when the user cancels. It opens at `startFolder` when that is a
// folder (else at the home folder). With `refusal` set, a chosen folder this user cannot write
// to is refused: the message box shows `refusal` and the chooser stays open (a test answer
// naming such a folder counts as cancelled). Blocks in a nested main loop; GUI thread only.
std::optional<std::string> ChooseFolder(const std::string& title,
                                        const std::string& startFolder = {},
                                        const std::string& refusal = {});

}  // namespace os
