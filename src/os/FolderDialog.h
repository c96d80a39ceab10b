#pragma once
#include <functional>
#include <optional>
#include <string>

namespace os {

// Why a chosen folder is refused (a message for the user), or empty when it is taken.
using FolderRefusal = std::function<std::string(const std::string& folder)>;

// A modal folder chooser with `title` that accepts only folders of the file system; the chosen
// folder's path, or none when the user cancels. It opens at `startFolder`, or at its nearest
// existing parent. With `refusal` set, a chosen folder this user cannot write to, or one
// `refuse` gives a message for, is refused: a message box shows the message (`refusal` for an
// unwritable one) and the chooser stays open (a test answer naming such a folder counts as
// cancelled). Blocks in a nested main loop; GUI thread only.
std::optional<std::string> ChooseFolder(const std::string& title,
                                        const std::string& startFolder = {},
                                        const std::string& refusal = {},
                                        const FolderRefusal& refuse = {});

}  // namespace os
