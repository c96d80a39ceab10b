#include "os/FolderDialog.h"

// No platform: no dialog, so no folder is ever chosen.
namespace os {

std::optional<std::string> ChooseFolder(const std::string& /*title*/,
                                        const std::string& /*startFolder*/,
                                        const std::string& /*refusal*/,
                                        const FolderRefusal& /*refuse*/) {
    return std::nullopt;
}

}  // namespace os
