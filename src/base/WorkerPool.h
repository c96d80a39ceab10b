#pragma once
#include <functional>

// Runs `task` on the process-wide worker pool (created on first use). Workers reach the GUI
// only through posted closures; the GUI thread never waits for them.
void QueueWorkerTask(std::function<void()> task);
