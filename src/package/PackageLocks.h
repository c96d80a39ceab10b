#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Keeps two package tasks from writing the same archive or extraction folder at once: a task
// holds the locks of its paths while it checks, downloads and extracts, so a second task for
// the same package waits and then finds the program present. Only worker tasks take these
// locks; the GUI thread never does.
class CPackageLocks {
  public:
    class Hold {
      public:
        Hold() = default;
        Hold(Hold&&) = default;
        Hold& operator=(Hold&&) = delete;

      private:
        friend class CPackageLocks;
        // Declared first so the mutexes outlive the locks on them when the hold ends.
        std::vector<std::shared_ptr<std::mutex>> keepAlive_;
        std::vector<std::unique_lock<std::mutex>> locks_;
    };

    // Takes the locks of every key (duplicates allowed) in sorted order, so two tasks that
    // share keys can never wait for each other in a circle.
    Hold Acquire(std::vector<std::string> keys);

  private:
    std::mutex registryMutex_;
    std::map<std::string, std::weak_ptr<std::mutex>> registry_;
};
