#include "package/PackageQueues.h"

#include <utility>

CPackageQueues::CPackageQueues(std::function<void(Task)> runOnWorker)
    : state_(std::make_shared<State>()) {
    state_->runOnWorker = std::move(runOnWorker);
}

void CPackageQueues::Queue(const std::string& key, Task task) {
    if (key.empty()) {
        state_->runOnWorker(std::move(task));
        return;
    }
    {
        std::lock_guard<std::mutex> guard(state_->mutex);
        auto running = state_->waiting.find(key);
        if (running != state_->waiting.end()) {
            running->second.push_back(std::move(task));
            return;
        }
        state_->waiting[key];
    }
    Dispatch(state_, key, std::move(task));
}

void CPackageQueues::Dispatch(const std::shared_ptr<State>& state, const std::string& key,
                              Task task) {
    state->runOnWorker([state, key, task = std::move(task)] {
        task();
        Task next;
        {
            std::lock_guard<std::mutex> guard(state->mutex);
            auto queue = state->waiting.find(key);
            if (queue->second.empty()) {
                state->waiting.erase(queue);
                return;
            }
            next = std::move(queue->second.front());
            queue->second.pop_front();
        }
        // Back to the pool rather than on this worker, so other packages' tasks queued
        // meanwhile get their turn.
        Dispatch(state, key, std::move(next));
    });
}
