#include "package/PackageLocks.h"

#include <algorithm>

CPackageLocks::Hold CPackageLocks::Acquire(std::vector<std::string> keys) {
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());

    Hold hold;
    {
        std::lock_guard<std::mutex> guard(registryMutex_);
        for (const auto& key : keys) {
            auto& slot = registry_[key];
            auto mutex = slot.lock();
            if (!mutex) {
                mutex = std::make_shared<std::mutex>();
                slot = mutex;
            }
            hold.keepAlive_.push_back(std::move(mutex));
        }
        // Forget keys nobody holds any more, so the registry does not grow with every URL.
        for (auto it = registry_.begin(); it != registry_.end();)
            it = it->second.expired() ? registry_.erase(it) : std::next(it);
    }
    for (auto& mutex : hold.keepAlive_) hold.locks_.emplace_back(*mutex);
    return hold;
}
