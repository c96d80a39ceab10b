#include "os/FolderTrust.h"

// Who owns a folder and who else may write in it is the platform's to say; without one every
// folder is refused.
namespace os {

CacheFolderRefusal JudgeCacheFolder(const std::string& /*folder*/,
                                    const std::string& /*installedFolder*/) {
    return CacheFolderRefusal::NotAFolder;
}

bool IsSafeToStart(const std::string& /*cacheFolder*/, const std::string& /*program*/) {
    return false;
}

}  // namespace os
