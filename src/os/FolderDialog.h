#pragma once
#include <optional>
#include <string>

namespace os {

// A modal folder chooser with `title` that accepts only folders of the file system; the chosen
// folder's path, or none when the user cancels. Blocks in a nested main loop; GUI thread only.
std::optional<std::string> ChooseFolder(const std::string& title);

}  // namespace os
