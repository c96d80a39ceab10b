#pragma once
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// Runs package tasks on the worker pool one at a time per package, in the order they were
// asked for. A task whose package is busy waits in that package's queue, not on a worker, so a
// slow package never keeps the others from their workers.
class CPackageQueues {
  public:
    using Task = std::function<void()>;
    explicit CPackageQueues(std::function<void(Task)> runOnWorker);

    // Runs `task` once every task queued before it under `key` has finished; an empty key runs
    // it at once, after nothing.
    void Queue(const std::string& key, Task task);

  private:
    struct State {
        std::function<void(Task)> runOnWorker;
        std::mutex mutex;
        std::map<std::string, std::deque<Task>> waiting;  // a key is here while its task runs
    };
    static void Dispatch(const std::shared_ptr<State>& state, const std::string& key, Task task);

    std::shared_ptr<State> state_;
};
